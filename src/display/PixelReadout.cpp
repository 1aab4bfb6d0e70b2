#include "display/PixelReadout.h"

#include <cstdio>

namespace display {

PixelReadout ReadPixelUnderPointer(const Bitmap* shown, int dx, int dy, int controlWidth,
                                   int controlHeight)
{
    PixelReadout out;
    if (dx < 0 || dy < 0 || dx >= controlWidth || dy >= controlHeight)
        return out;
    out.crossCursor = true;
    if (!shown || dx >= shown->width || dy >= shown->height
        || static_cast<size_t>(shown->stride) * shown->height > shown->pixels.size())
        return out;
    const uint8_t* p = shown->Row(dy) + static_cast<size_t>(dx) * 3;
    char text[32];
    std::snprintf(text, sizeof text, "RGB: %3d,%3d,%3d", p[2], p[1], p[0]);
    out.text = text;
    return out;
}

} // namespace display
