#include "display/Highlights.h"

#include <cmath>

namespace display {

namespace {

// Luminosity in the exact double-precision form the test is defined by.
bool LuminosityAtLeastExact(uint8_t blue, uint8_t green, uint8_t red, int threshold)
{
    const double l = 0.114 * blue + (0.587 * green + 0.299 * red);
    return static_cast<int64_t>(l) >= threshold;
}

// Fast form of the same test. 1000 x luminosity is the integer s = 114 b + 587 g + 299 r;
// only when s sits exactly on 1000 x threshold can the double rounding decide the
// outcome (255, 255, 255 must count as 255), so that one case takes the exact form.
struct LuminosityTest {
    int threshold;
    int64_t limit;
    explicit LuminosityTest(int t) : threshold(t), limit(int64_t{t} * 1000) {}
    bool operator()(uint8_t b, uint8_t g, uint8_t r) const
    {
        const int64_t s = 114 * b + 587 * g + 299 * r;
        if (s != limit)
            return s > limit;
        return LuminosityAtLeastExact(b, g, r, threshold);
    }
};

struct RgbTest {
    int threshold;
    bool operator()(uint8_t b, uint8_t g, uint8_t r) const
    {
        return b >= threshold || g >= threshold || r >= threshold;
    }
};

// Blackens the pixels of `out` whose counterpart in `values` passes the test (the same
// bitmap, or the same picture before it was turned into the monitor's colours).
template <typename Test>
void Blacken(const Bitmap& values, Bitmap& out, Test test)
{
    const int w = out.width;
    for (int y = 0; y < out.height; ++y) {
        const uint8_t* v = values.Row(y);
        uint8_t* p = out.Row(y);
        for (int x = 0; x < w; ++x, p += 3, v += 3) {
            if (test(v[0], v[1], v[2]))
                p[0] = p[1] = p[2] = 0;
        }
    }
}

bool Usable(const Bitmap& b)
{
    return !b.Empty() && b.stride >= b.width * 3 && b.pixels.size() >= static_cast<size_t>(b.stride) * b.height;
}

} // namespace

bool IsHighlight(uint8_t blue, uint8_t green, uint8_t red, int method, int threshold)
{
    if (method == kHighlightLuminosity)
        return LuminosityAtLeastExact(blue, green, red, threshold);
    return RgbTest{threshold}(blue, green, red);
}

Bitmap MakeHighlightBitmap(const Bitmap& display, int method, int threshold)
{
    return MakeHighlightBitmap(display, display, method, threshold);
}

Bitmap MakeHighlightBitmap(const Bitmap& values, const Bitmap& shown, int method, int threshold)
{
    Bitmap out = shown;
    if (!Usable(out) || !Usable(values) || values.width != out.width || values.height != out.height)
        return out;
    if (method == kHighlightLuminosity)
        Blacken(values, out, LuminosityTest(threshold));
    else
        Blacken(values, out, RgbTest{threshold});
    return out;
}

} // namespace display
