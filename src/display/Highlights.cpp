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

template <typename Test>
void Blacken(Bitmap& out, Test test)
{
    const int w = out.width;
    for (int y = 0; y < out.height; ++y) {
        uint8_t* p = out.Row(y);
        for (int x = 0; x < w; ++x, p += 3) {
            if (test(p[0], p[1], p[2]))
                p[0] = p[1] = p[2] = 0;
        }
    }
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
    Bitmap out = display;
    if (out.Empty() || out.pixels.size() < static_cast<size_t>(out.stride) * out.height
        || out.stride < out.width * 3)
        return out;
    if (method == kHighlightLuminosity)
        Blacken(out, LuminosityTest(threshold));
    else
        Blacken(out, RgbTest{threshold});
    return out;
}

} // namespace display
