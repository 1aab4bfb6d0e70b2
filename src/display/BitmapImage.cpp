#include "display/BitmapImage.h"

#include <algorithm>
#include <cstring>

namespace display {

QImage WrapBitmap(Bitmap& bitmap)
{
    if (bitmap.empty() || bitmap.pixels.size() < static_cast<size_t>(bitmap.stride) * bitmap.height)
        return QImage();
    return QImage(bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.stride,
                  QImage::Format_BGR888);
}

QImage ViewBitmap(const Bitmap& bitmap)
{
    if (bitmap.empty() || bitmap.pixels.size() < static_cast<size_t>(bitmap.stride) * bitmap.height)
        return QImage();
    return QImage(bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.stride,
                  QImage::Format_BGR888);
}

Bitmap MakeBitmap(int width, int height)
{
    Bitmap b;
    b.width = std::max(width, 0);
    b.height = std::max(height, 0);
    b.stride = Bitmap::StrideFor(b.width);
    b.pixels.assign(static_cast<size_t>(b.stride) * b.height, 0);
    return b;
}

Bitmap BitmapFromImage(const QImage& image)
{
    if (image.isNull())
        return MakeBitmap(0, 0);
    const QImage bgr = image.format() == QImage::Format_BGR888
                           ? image
                           : image.convertToFormat(QImage::Format_BGR888);
    Bitmap b = MakeBitmap(bgr.width(), bgr.height());
    const size_t rowBytes = static_cast<size_t>(b.width) * 3;
    for (int y = 0; y < b.height; ++y)
        std::memcpy(b.Row(y), bgr.constScanLine(y), rowBytes);
    return b;
}

} // namespace display
