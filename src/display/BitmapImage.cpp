#include "display/BitmapImage.h"

#include <algorithm>

namespace display {

namespace {

bool Wrappable(const Bitmap& bitmap)
{
    return !bitmap.Empty() && bitmap.stride >= bitmap.width * 3 &&
           bitmap.pixels.size() >= static_cast<size_t>(bitmap.stride) * static_cast<size_t>(bitmap.height);
}

} // namespace

QImage WrapBitmap(Bitmap& bitmap)
{
    if (!Wrappable(bitmap))
        return QImage();
    return QImage(bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.stride, QImage::Format_BGR888);
}

QImage WrapBitmap(const Bitmap& bitmap)
{
    if (!Wrappable(bitmap))
        return QImage();
    return QImage(bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.stride, QImage::Format_BGR888);
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

} // namespace display
