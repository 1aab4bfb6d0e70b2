// BitmapImage: the bridge between the program's screen bitmaps (Bitmap: 24-bit
// blue-green-red rows, top first, padded to 4 bytes) and Qt's QImage, the drawing
// surface of the overlays and the histogram display.
// User-interface thread only (QPainter work); no call blocks.
#pragma once

#include "imaging/Bitmap.h"

#include <QImage>

namespace display {

// A QImage that draws straight into the bitmap's own pixels (no copy). It stays valid
// only while the bitmap lives and is not resized. An empty bitmap gives a null image.
QImage WrapBitmap(Bitmap& bitmap);
// A read-only view of the bitmap's pixels (no copy), with the same lifetime rule.
QImage ViewBitmap(const Bitmap& bitmap);
// An independent 24-bit copy of any image, in the program's pixel layout.
Bitmap BitmapFromImage(const QImage& image);
// A blank (black) bitmap of the given size; a negative size is taken as 0.
Bitmap MakeBitmap(int width, int height);

} // namespace display
