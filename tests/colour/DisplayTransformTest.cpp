// Pixels from a picture's colour space to a monitor's, against the values Little CMS
// computes in double precision from the same profiles.
#include "colour/DisplayTransform.h"

#include "TestProfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>

using namespace colour;
using namespace testprofiles;

namespace {

Profile FromBytes(const Bytes& b)
{
    auto p = Profile::FromIcc(b);
    EXPECT_TRUE(p.has_value());
    return p ? *p : Profile::Srgb();
}

// One pixel through the transform (blue, green, red in the bitmap), as red, green, blue.
std::array<uint8_t, 3> Through(const DisplayTransform& t, uint8_t r, uint8_t g, uint8_t b)
{
    uint8_t px[3] = {b, g, r};
    t.Apply(px, 1, 1, 3);
    return {px[2], px[1], px[0]};
}

// The largest difference from the reference over a lattice of the whole cube (every
// channel in steps of 5, plus the darkest values one by one).
int WorstDifference(const DisplayTransform& t, const Reference& ref)
{
    std::vector<int> values;
    for (int v = 0; v < 16; ++v)
        values.push_back(v);
    for (int v = 20; v <= 255; v += 5)
        values.push_back(v);
    int worst = 0;
    for (int r : values)
        for (int g : values)
            for (int b : values) {
                const uint8_t in[3] = {uint8_t(r), uint8_t(g), uint8_t(b)};
                uint8_t want[3];
                ref.Map(in, want);
                const auto got = Through(t, in[0], in[1], in[2]);
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::abs(int(got[c]) - int(want[c])));
            }
    return worst;
}

} // namespace

TEST(DisplayTransformTest, AdobeRgbRedOnAnSrgbMonitorMatchesLittleCms)
{
    const Bytes adobe = AdobeRgb(), srgb = Srgb();
    for (RenderingIntent intent : {RenderingIntent::Perceptual, RenderingIntent::RelativeColorimetricBpc}) {
        SCOPED_TRACE(static_cast<int>(intent));
        auto t = DisplayTransform::Make(Profile::AdobeRgb(), Profile::Srgb(), intent);
        ASSERT_TRUE(t);
        EXPECT_TRUE(t->FastPath());
        Reference ref(adobe, srgb, intent == RenderingIntent::RelativeColorimetricBpc);
        ASSERT_TRUE(ref.Ok());
        // Adobe RGB's red lies outside sRGB: clipped to full red, green and blue at 0.
        const uint8_t red[3] = {255, 0, 0};
        uint8_t want[3];
        ref.Map(red, want);
        const auto got = Through(*t, 255, 0, 0);
        EXPECT_EQ(got[0], want[0]);
        EXPECT_NEAR(got[1], want[1], 1);
        EXPECT_NEAR(got[2], want[2], 1);
        EXPECT_EQ(got[0], 255);
        // A mid red inside both gamuts comes out more saturated in sRGB values.
        const auto mid = Through(*t, 180, 60, 50);
        EXPECT_GT(mid[0], 180);
        EXPECT_LT(mid[1], 60);
        EXPECT_LE(WorstDifference(*t, ref), 1);
    }
}

TEST(DisplayTransformTest, SrgbPictureOnAWideGamutMonitorMatchesLittleCms)
{
    const Bytes wide = WideGamutMonitor();
    const Profile monitor = FromBytes(wide);
    for (RenderingIntent intent : {RenderingIntent::Perceptual, RenderingIntent::RelativeColorimetricBpc}) {
        auto t = DisplayTransform::Make(Profile::Srgb(), monitor, intent);
        ASSERT_TRUE(t);
        EXPECT_TRUE(t->FastPath());
        Reference ref(Srgb(), wide, intent == RenderingIntent::RelativeColorimetricBpc);
        EXPECT_LE(WorstDifference(*t, ref), 1);
        // The monitor's primaries are more saturated: sRGB's full red needs less of them.
        const auto red = Through(*t, 255, 0, 0);
        EXPECT_LT(red[0], 255);
        EXPECT_GT(red[1], 0);
    }
}

TEST(DisplayTransformTest, TableBasedMonitorGoesThroughLittleCmsTables)
{
    const Bytes table = TableMonitor();
    const Profile monitor = FromBytes(table);
    EXPECT_FALSE(monitor.IsMatrixShaper());
    for (RenderingIntent intent : {RenderingIntent::Perceptual, RenderingIntent::RelativeColorimetricBpc}) {
        auto t = DisplayTransform::Make(Profile::AdobeRgb(), monitor, intent);
        ASSERT_TRUE(t);
        EXPECT_FALSE(t->FastPath());
        Reference ref(AdobeRgb(), table, intent == RenderingIntent::RelativeColorimetricBpc);
        // Little CMS's 8-bit tables against its own double precision: close, though not
        // as close as the matrix path, where the monitor's gamut ends.
        EXPECT_LE(WorstDifference(*t, ref), 5);
    }
}

TEST(DisplayTransformTest, SameColoursMakeNoTransform)
{
    EXPECT_FALSE(DisplayTransform::Make(Profile::Srgb(), Profile::Srgb(), RenderingIntent::Perceptual));
    EXPECT_FALSE(DisplayTransform::Make(Profile::AdobeRgb(), Profile::AdobeRgb(), RenderingIntent::Perceptual));
    // An sRGB file from another tool and the program's own sRGB are the same colours; so
    // are one table-based profile and itself.
    EXPECT_FALSE(DisplayTransform::Make(Profile::Srgb(), FromBytes(Srgb()), RenderingIntent::Perceptual));
    EXPECT_FALSE(DisplayTransform::Make(FromBytes(AdobeRgb()), Profile::AdobeRgb(), RenderingIntent::Perceptual));
    const Bytes table = TableMonitor();
    EXPECT_FALSE(DisplayTransform::Make(FromBytes(table), FromBytes(table), RenderingIntent::Perceptual));
    EXPECT_TRUE(DisplayTransform::Make(Profile::Srgb(), FromBytes(WideGamutMonitor()), RenderingIntent::Perceptual));
}

TEST(DisplayTransformTest, AppliesInPlaceWithinTheRectangleLeavingPaddingAlone)
{
    // Both ways: the program's own matrix path and Little CMS's tables.
    auto fast = DisplayTransform::Make(Profile::AdobeRgb(), Profile::Srgb(), RenderingIntent::Perceptual);
    auto tables = DisplayTransform::Make(Profile::AdobeRgb(), FromBytes(TableMonitor()), RenderingIntent::Perceptual);
    ASSERT_TRUE(fast && tables);
    for (const DisplayTransform* candidate : {fast.get(), tables.get()}) {
        Bitmap bm;
        bm.width = 5;
        bm.height = 3;
        bm.stride = Bitmap::StrideFor(5);  // 16: one padding byte per row
        bm.pixels.assign(static_cast<size_t>(bm.stride) * 3, 0);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                uint8_t* p = bm.Row(y) + x * 3;
                p[0] = 40, p[1] = 60, p[2] = 180;  // blue, green, red
            }
            bm.Row(y)[15] = 0x5A;
        }
        candidate->Apply(bm, 1, 1, 10, 10);  // clipped to columns 1..4, rows 1..2
        const auto changed = Through(*candidate, 180, 60, 40);
        for (int y = 0; y < 3; ++y) {
            EXPECT_EQ(bm.Row(y)[15], 0x5A);
            for (int x = 0; x < 5; ++x) {
                const uint8_t* p = bm.Row(y) + x * 3;
                const bool inside = x >= 1 && y >= 1;
                EXPECT_EQ(p[2], inside ? changed[0] : 180) << x << "," << y;
                EXPECT_EQ(p[0], inside ? changed[2] : 40) << x << "," << y;
            }
        }
    }
}

TEST(DisplayTransformTest, RgbOrderGivesTheSameColoursAsTheBitmapOrder)
{
    const Profile wide = FromBytes(WideGamutMonitor());
    auto bgr = DisplayTransform::Make(Profile::AdobeRgb(), wide, RenderingIntent::Perceptual, PixelOrder::Bgr);
    auto rgb = DisplayTransform::Make(Profile::AdobeRgb(), wide, RenderingIntent::Perceptual, PixelOrder::Rgb);
    const auto viaBgr = Through(*bgr, 200, 120, 30);
    uint8_t px[3] = {200, 120, 30};
    rgb->Apply(px, 1, 1, 3);
    EXPECT_EQ(px[0], viaBgr[0]);
    EXPECT_EQ(px[1], viaBgr[1]);
    EXPECT_EQ(px[2], viaBgr[2]);
}

// Live-view frames are four bytes a pixel: the same colours as the bitmaps' three, on both
// ways of transforming, and the fourth byte left alone.
TEST(DisplayTransformTest, FourBytePixelsGiveTheSameColoursAndKeepTheirFourthByte)
{
    for (const Bytes& monitor : {WideGamutMonitor(), TableMonitor()}) {
        const Profile to = FromBytes(monitor);
        auto bgr = DisplayTransform::Make(Profile::Srgb(), to, RenderingIntent::Perceptual, PixelOrder::Bgr);
        auto bgrx = DisplayTransform::Make(Profile::Srgb(), to, RenderingIntent::Perceptual, PixelOrder::Bgrx);
        ASSERT_TRUE(bgr && bgrx);
        EXPECT_EQ(bgr->FastPath(), bgrx->FastPath());
        uint8_t px[3 * 4] = {30, 120, 200, 0xFF, 0, 0, 255, 0x7E, 255, 255, 255, 0xFF};
        bgrx->Apply(px, 3, 1, sizeof px);
        const uint8_t fourth[3] = {0xFF, 0x7E, 0xFF};
        const uint8_t colours[3][3] = {{30, 120, 200}, {0, 0, 255}, {255, 255, 255}};
        for (int i = 0; i < 3; ++i) {
            uint8_t three[3] = {colours[i][0], colours[i][1], colours[i][2]};
            bgr->Apply(three, 1, 1, 3);
            EXPECT_EQ(px[4 * i], three[0]) << i;
            EXPECT_EQ(px[4 * i + 1], three[1]) << i;
            EXPECT_EQ(px[4 * i + 2], three[2]) << i;
            EXPECT_EQ(px[4 * i + 3], fourth[i]) << i;
        }
    }
}

TEST(DisplayTransformTest, CacheKeepsOneTransformPerPairAndIntent)
{
    TransformCache cache;
    const Profile wide = FromBytes(WideGamutMonitor());
    auto a = cache.Get(Profile::AdobeRgb(), wide, RenderingIntent::Perceptual);
    auto b = cache.Get(Profile::AdobeRgb(), FromBytes(WideGamutMonitor()), RenderingIntent::Perceptual);
    EXPECT_EQ(a.get(), b.get());
    auto c = cache.Get(Profile::AdobeRgb(), wide, RenderingIntent::RelativeColorimetricBpc);
    EXPECT_NE(a.get(), c.get());
    EXPECT_FALSE(cache.Get(Profile::Srgb(), Profile::Srgb(), RenderingIntent::Perceptual));
    EXPECT_EQ(cache.Size(), 3u);
    for (int i = 0; i < 20; ++i)
        cache.Get(Profile::Srgb(), FromBytes(MatrixProfile({0.3127, 0.3290, 1}, {{0.64, 0.33, 1}, {0.3, 0.6, 1}, {0.15, 0.06, 1}},
                                                            1.8 + i * 0.01, "gamma")),
                  RenderingIntent::Perceptual);
    EXPECT_LE(cache.Size(), 6u);
}

TEST(DisplayTransformTest, ProfilesFromBrokenBytesAreRefusedWithAReason)
{
    std::string why;
    EXPECT_FALSE(Profile::FromIcc(TruncatedProfile(), &why));
    EXPECT_FALSE(why.empty());
    why.clear();
    EXPECT_FALSE(Profile::FromIcc(ProfileWithBrokenCurve(), &why));
    EXPECT_EQ(why, "it is damaged");
    EXPECT_FALSE(Profile::FromFile("/nonexistent/monitor.icc", &why));
    EXPECT_EQ(why, "the file cannot be opened");
    auto wide = Profile::FromIcc(WideGamutMonitor(), &why);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->Name(), "Wide gamut monitor");
    EXPECT_EQ(wide->IccBytes(), WideGamutMonitor());
}
