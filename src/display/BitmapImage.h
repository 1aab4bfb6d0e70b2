// BitmapImage: the bridge between the program's screen bitmaps (Bitmap: 24-bit
// blue-green-red rows, top first, padded to 4 bytes) and Qt's QImage, the drawing
// surface of the overlays and the histogram display.
// User-interface thread only (QPainter work); no call blocks.
#pragma once

#include "imaging/Bitmap.h"

#include <QImage>

namespace display {

// A QImage over the bitmap's own pixels (no copy). It stays valid only while the bitmap
// lives and is not resized. An empty or short bitmap gives a null image. Drawing into the
// image of a non-const bitmap writes its pixels; the image of a const bitmap is read-only
// (drawing into it would copy it first).
QImage WrapBitmap(Bitmap& bitmap);
QImage WrapBitmap(const Bitmap& bitmap);
// A blank (black) bitmap of the given size; a negative size is taken as 0.
Bitmap MakeBitmap(int width, int height);

} // namespace display
