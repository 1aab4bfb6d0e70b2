// Focus peaking and the focus measure on pictures made for the purpose: a hard edge, the
// same edge spread out, and regions that reach past the picture.
#include "liveview/FocusPeaking.h"

#include <gtest/gtest.h>

#include <vector>

using namespace liveview;

namespace {

// A grey picture w x h (rows of w * 3 bytes) whose columns go from `dark` to `light` over
// `spread` pixels starting at column `at`.
std::vector<uint8_t> Edge(int w, int h, int at, int spread, int dark = 20, int light = 235)
{
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = x < at ? dark : x >= at + spread ? light : dark + (light - dark) * (x - at + 1) / (spread + 1);
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = p[1] = p[2] = static_cast<uint8_t>(v);
        }
    return px;
}

TEST(FocusPeaking, AHardEdgeIsMarkedAlongItsLengthAndNothingElse)
{
    const int w = 40, h = 20;
    const auto px = Edge(w, h, 20, 0);
    PeakingMask mask;
    ComputePeaking(px.data(), w * 3, w, h, 0, 0, w, h, kPeakingThreshold, mask);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool inside = y > 0 && y < h - 1;  // the border lacks neighbours
            const bool edge = x == 19 || x == 20;
            EXPECT_EQ(mask.Marked(x, y), inside && edge) << x << "," << y;
        }
    EXPECT_EQ(mask.Count(), 2u * (h - 2));
}

TEST(FocusPeaking, AnEdgeSpreadOverFivePixelsIsNotMarkedAndMeasuresSofter)
{
    const int w = 40, h = 20;
    const auto hard = Edge(w, h, 20, 0);
    const auto soft = Edge(w, h, 18, 5);
    PeakingMask mask;
    ComputePeaking(soft.data(), w * 3, w, h, 0, 0, w, h, kPeakingThreshold, mask);
    EXPECT_EQ(mask.Count(), 0u);
    const double sharp = FocusMeasure(hard.data(), w * 3, w, h, 0, 0, w, h);
    const double blurred = FocusMeasure(soft.data(), w * 3, w, h, 0, 0, w, h);
    EXPECT_GT(sharp, 2 * blurred);
    EXPECT_GT(blurred, 0);
}

TEST(FocusPeaking, ARegionReachingPastThePictureIsClippedToIt)
{
    const int w = 40, h = 20;
    const auto px = Edge(w, h, 20, 0);
    PeakingMask mask;
    ComputePeaking(px.data(), w * 3, w, h, 15, -5, 100, 100, kPeakingThreshold, mask);
    EXPECT_EQ(mask.left, 15);
    EXPECT_EQ(mask.top, 0);
    EXPECT_EQ(mask.width, 25);
    EXPECT_EQ(mask.height, 20);
    EXPECT_TRUE(mask.Marked(20, 10));
    EXPECT_FALSE(mask.Marked(10, 10));  // outside the region
    ComputePeaking(px.data(), w * 3, w, h, 50, 50, 10, 10, kPeakingThreshold, mask);
    EXPECT_EQ(mask.Count(), 0u);
    EXPECT_EQ(FocusMeasure(px.data(), w * 3, w, h, 50, 50, 10, 10), 0.0);
}

}  // namespace
