// PixelReadout: the "RGB:" text and cursor shape shown while the mouse moves over the
// view: the red, green and blue values of the picture control's pixel under the pointer.
// User-interface thread only; no call blocks.
#pragma once

#include "imaging/Bitmap.h"

#include <string>

namespace display {

struct PixelReadout {
    std::string text = "RGB:";
    bool crossCursor = false;   // the standard cross over the picture control, else the arrow
};

// (dx, dy) is the pointer relative to the picture control's top-left corner and
// controlWidth x controlHeight the control's size. Inside the control the cursor is the
// cross; when the control shows `shown` (null: no bitmap) and the point lies on it, the
// text becomes "RGB: %3d,%3d,%3d" (red, green, blue). A point of the control beyond
// the bitmap's pixels keeps "RGB:".
PixelReadout ReadPixelUnderPointer(const Bitmap* shown, int dx, int dy, int controlWidth,
                                   int controlHeight);

} // namespace display
