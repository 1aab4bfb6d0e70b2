// Highlights: the flashing-highlight companion of a display bitmap: the same picture
// with every over-exposed pixel turned black. The blink timer swaps the two bitmaps.
// Plain functions; any thread may call them on bitmaps it owns (the view calls them
// on the user-interface thread). No call blocks.
#pragma once

#include "imaging/Bitmap.h"

#include <cstdint>

namespace display {

// `HighlightBlinkMethod`: 0 "Luminosity"; any other value behaves as "RGB value".
enum : int { kHighlightLuminosity = 0, kHighlightRgbValue = 1 };

// True when a pixel counts as over-exposed. Luminosity: 0.114 blue + 0.587 green +
// 0.299 red, truncated, at least `threshold`. RGB value: any channel at least
// `threshold`. Thresholds outside 0..255 are used as they are (0 or less marks every
// pixel, above 255 none).
bool IsHighlight(uint8_t blue, uint8_t green, uint8_t red, int method, int threshold);

// A new bitmap of the same size and layout as `display`, over-exposed pixels black,
// every other pixel (and the row padding) copied unchanged.
Bitmap MakeHighlightBitmap(const Bitmap& display, int method, int threshold);
// The same for a picture shown in the monitor's colours: a copy of `shown` with black
// wherever the picture's own values (`values`, the same size) are over-exposed. Bitmaps
// of different sizes give an unchanged copy of `shown`.
Bitmap MakeHighlightBitmap(const Bitmap& values, const Bitmap& shown, int method, int threshold);

} // namespace display
