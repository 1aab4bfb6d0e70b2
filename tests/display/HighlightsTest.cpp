// Flashing-highlight companion, histogram display and pixel readout.
#include "display/BitmapImage.h"
#include "display/Highlights.h"
#include "display/HistogramView.h"
#include "display/PixelReadout.h"

#include <gtest/gtest.h>

using namespace display;

namespace {

Bitmap Uniform(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    Bitmap bm = MakeBitmap(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = bm.Row(y) + x * 3;
            p[0] = b, p[1] = g, p[2] = r;
        }
    return bm;
}

bool IsBlack(const Bitmap& bm, int x, int y)
{
    const uint8_t* p = bm.Row(y) + x * 3;
    return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

int BlackCount(const Bitmap& bm)
{
    int n = 0;
    for (int y = 0; y < bm.height; ++y)
        for (int x = 0; x < bm.width; ++x)
            n += IsBlack(bm, x, y);
    return n;
}

} // namespace

// ---------------------------------------------------------------- highlights

TEST(Highlights, WhiteAtThreshold255BlinksCompletelyUnderBothMethods)
{
    const Bitmap white = Uniform(13, 7, 255, 255, 255);  // odd width: padded rows
    for (int method : {kHighlightLuminosity, kHighlightRgbValue}) {
        const Bitmap companion = MakeHighlightBitmap(white, method, 255);
        EXPECT_EQ(BlackCount(companion), 13 * 7) << method;
    }
    EXPECT_TRUE(IsHighlight(255, 255, 255, kHighlightLuminosity, 255));
}

TEST(Highlights, NearWhiteAt250BlinksUnderRgbButNotUnderLuminosity)
{
    // (249, 250, 249) has luminosity 249.587, truncated to 249.
    const Bitmap pic = Uniform(4, 2, 249, 250, 249);
    EXPECT_EQ(BlackCount(MakeHighlightBitmap(pic, kHighlightRgbValue, 250)), 8);
    EXPECT_EQ(BlackCount(MakeHighlightBitmap(pic, kHighlightLuminosity, 250)), 0);
    EXPECT_FALSE(IsHighlight(249, 250, 249, kHighlightLuminosity, 250));
    EXPECT_TRUE(IsHighlight(249, 250, 249, kHighlightLuminosity, 249));
}

TEST(Highlights, RgbMethodMarksAPixelWhenAnyOneChannelReachesTheThreshold)
{
    EXPECT_TRUE(IsHighlight(200, 0, 0, kHighlightRgbValue, 200));    // blue
    EXPECT_TRUE(IsHighlight(0, 200, 0, kHighlightRgbValue, 200));    // green
    EXPECT_TRUE(IsHighlight(0, 0, 200, kHighlightRgbValue, 200));    // red
    EXPECT_FALSE(IsHighlight(199, 199, 199, kHighlightRgbValue, 200));
    // Any method other than 0 is "RGB value".
    EXPECT_TRUE(IsHighlight(0, 0, 200, 7, 200));
    EXPECT_TRUE(IsHighlight(0, 0, 200, -1, 200));
    // Pure red is dark by luminosity (76).
    EXPECT_FALSE(IsHighlight(0, 0, 255, kHighlightLuminosity, 200));
}

TEST(Highlights, OnlyMarkedPixelsChangeAndThePaddingIsKept)
{
    Bitmap pic = Uniform(5, 3, 10, 20, 30);
    uint8_t* hot = pic.Row(1) + 2 * 3;
    hot[0] = hot[1] = hot[2] = 252;
    pic.Row(2)[15] = 0xAB;  // a padding byte
    const Bitmap companion = MakeHighlightBitmap(pic, kHighlightLuminosity, 250);
    ASSERT_EQ(companion.width, 5);
    ASSERT_EQ(companion.height, 3);
    ASSERT_EQ(companion.stride, pic.stride);
    EXPECT_TRUE(IsBlack(companion, 2, 1));
    EXPECT_EQ(BlackCount(companion), 1);
    EXPECT_EQ(companion.Row(0)[0], 30);
    EXPECT_EQ(companion.Row(0)[2], 10);
    EXPECT_EQ(companion.Row(2)[15], 0xAB);
    // The display bitmap itself is untouched.
    EXPECT_EQ(pic.Row(1)[6], 252);
}

TEST(Highlights, ThresholdsOutsideTheDialogRangeAreUsedAsTheyAre)
{
    const Bitmap white = Uniform(3, 3, 255, 255, 255);
    for (int method : {kHighlightLuminosity, kHighlightRgbValue}) {
        EXPECT_EQ(BlackCount(MakeHighlightBitmap(Uniform(3, 3, 1, 2, 3), method, 0)), 9);
        EXPECT_EQ(BlackCount(MakeHighlightBitmap(Uniform(3, 3, 1, 2, 3), method, -40)), 9);
        EXPECT_EQ(BlackCount(MakeHighlightBitmap(white, method, 256)), 0);
        EXPECT_EQ(BlackCount(MakeHighlightBitmap(white, method, 2147483647)), 0);
        EXPECT_EQ(BlackCount(MakeHighlightBitmap(white, method, -2147483647 - 1)), 9);
    }
    EXPECT_TRUE(MakeHighlightBitmap(MakeBitmap(0, 0), 0, 250).Empty());
}

// The whole-bitmap routine takes an integer shortcut; it must agree with the pixel
// test's double-precision definition for every colour, also where the sum lands
// exactly on the threshold.
TEST(Highlights, LuminosityOfTheWholeBitmapAgreesWithThePixelTestForEveryColour)
{
    for (int threshold : {250, 255, 51}) {
        int disagreements = 0;
        for (int r = 0; r < 256; ++r) {
            Bitmap plane = MakeBitmap(256, 256);  // column: blue, row: green
            for (int g = 0; g < 256; ++g)
                for (int b = 0; b < 256; ++b) {
                    uint8_t* p = plane.Row(g) + b * 3;
                    p[0] = static_cast<uint8_t>(b), p[1] = static_cast<uint8_t>(g),
                    p[2] = static_cast<uint8_t>(r);
                }
            const Bitmap out = MakeHighlightBitmap(plane, kHighlightLuminosity, threshold);
            for (int g = 0; g < 256; ++g)
                for (int b = 0; b < 256; ++b) {
                    const bool marked = IsHighlight(static_cast<uint8_t>(b), static_cast<uint8_t>(g),
                                                    static_cast<uint8_t>(r), kHighlightLuminosity,
                                                    threshold);
                    const bool black = IsBlack(out, b, g);
                    // A pixel already black stays black whatever the test says.
                    if (marked != black && !(r == 0 && g == 0 && b == 0))
                        ++disagreements;
                }
        }
        EXPECT_EQ(disagreements, 0) << "threshold " << threshold;
    }
}

// ---------------------------------------------------------------- histogram display

namespace {

const QColor kBackground(0, 160, 185);
const QColor kZone(0, 120, 150);
const QColor kBar(90, 90, 90);

QColor At(const QImage& img, int x, int y) { return QColor(img.pixel(x, y)); }

} // namespace

TEST(HistogramView, BarsSpanTheWidthInsideTheBorderAndScaleToTheFullestBin)
{
    // 100000 pixels, so every bin is capped at 2000: 96500 mid-grey ones (capped), 2000
    // black, 1000 white, 500 at 51. In a 200-wide picture the black bar stands on column 1
    // at full height, white on column 198 at half, 51 on column 40 (an exact fifth: the
    // first zone line) at a quarter, and the capped grey on column 99 at full height.
    ImageHistogram h;
    for (int i = 0; i < 96500; ++i)
        h.Add(128, 128, 128);
    for (int i = 0; i < 2000; ++i)
        h.Add(0, 0, 0);
    for (int i = 0; i < 1000; ++i)
        h.Add(255, 255, 255);
    for (int i = 0; i < 500; ++i)
        h.Add(51, 51, 51);
    QImage img = MakeHistogramImage(200);
    DrawHistogram(img, h, HistogramCurves{});
    auto barTop = [&](int x) {
        int y = 1;
        while (y <= 100 && At(img, x, y) != kBar)
            ++y;
        for (int below = y; below <= 100; ++below)
            EXPECT_EQ(At(img, x, below), kBar) << x << "," << below;
        return y;
    };
    EXPECT_EQ(barTop(1), 1);
    EXPECT_EQ(barTop(198), 51);
    EXPECT_EQ(barTop(40), 76);
    EXPECT_EQ(barTop(99), 1);
    // Nothing else carries a bar.
    for (int x = 2; x <= 197; ++x) {
        if (x != 40 && x != 99) {
            EXPECT_NE(At(img, x, 100), kBar) << x;
        }
    }
    // Counts near the top of the 32-bit range still scale to full height.
    EXPECT_EQ(HistogramRow(102, 4000000000u, 4000000000u), 1);
}

TEST(HistogramView, EmptyHistogramPaintsBackgroundBorderAndZoneLinesOnly)
{
    QImage img = MakeHistogramImage(200);
    ASSERT_EQ(img.height(), kHistogramHeight);
    ImageHistogram h;
    DrawHistogram(img, h, HistogramCurves{true, true, true, true});
    for (int x = 0; x < 200; ++x) {
        EXPECT_EQ(At(img, x, 0), QColor(Qt::black));
        EXPECT_EQ(At(img, x, 101), QColor(Qt::black));
    }
    for (int y = 0; y < 102; ++y) {
        EXPECT_EQ(At(img, 0, y), QColor(Qt::black));
        EXPECT_EQ(At(img, 199, y), QColor(Qt::black));
    }
    for (int x : {40, 80, 120, 160})
        for (int y = 1; y <= 100; ++y)
            ASSERT_EQ(At(img, x, y), kZone) << x << "," << y;
    int background = 0;
    for (int y = 1; y <= 100; ++y)
        for (int x = 1; x <= 198; ++x)
            background += At(img, x, y) == kBackground;
    EXPECT_EQ(background, 198 * 100 - 4 * 100);
}

TEST(HistogramView, UniformGreyGivesOneFullHeightIntensityBar)
{
    ImageHistogram h;
    for (int i = 0; i < 5000; ++i)
        h.Add(128, 128, 128);
    QImage img = MakeHistogramImage(200);
    DrawHistogram(img, h, HistogramCurves{});
    const int x = HistogramColumn(200, 128);
    for (int y = 1; y <= 100; ++y)
        ASSERT_EQ(At(img, x, y), kBar) << y;
    EXPECT_EQ(At(img, x, 0), QColor(Qt::black));
    EXPECT_EQ(At(img, x, 101), QColor(Qt::black));
    EXPECT_EQ(At(img, x - 1, 50), kBackground);
    EXPECT_EQ(At(img, x + 1, 50), kBackground);
    // Drawing reads a copy: the caller's record is not finalized behind its back.
    EXPECT_FALSE(h.Finalized());
}

TEST(HistogramView, ColourCurvesShareTheLargestColourMaximum)
{
    // 5000 pixels, cap 100: red spread over 250 values (20 each), green and blue all 200
    // (capped to 100). Red is drawn against 100, not against its own maximum of 20.
    ImageHistogram h;
    for (int i = 0; i < 5000; ++i)
        h.Add(static_cast<unsigned>(i % 250), 200, 200);
    QImage img = MakeHistogramImage(258);  // x(i) = i + 1
    DrawHistogram(img, h, HistogramCurves{false, true, false, false});
    const QColor red(255, 0, 0);
    EXPECT_EQ(HistogramColumn(258, 100), 101);
    EXPECT_EQ(At(img, 101, 101 - 20), red);
    EXPECT_NE(At(img, 101, 1), red);
    // Nothing but the red curve: no intensity bars, no green or blue.
    int others = 0;
    for (int y = 1; y <= 100; ++y)
        for (int x = 1; x <= 256; ++x) {
            const QColor c = At(img, x, y);
            others += c == kBar || c == QColor(20, 255, 20) || c == QColor(0, 0, 255);
        }
    EXPECT_EQ(others, 0);

    DrawHistogram(img, h, HistogramCurves{false, false, true, false});
    EXPECT_EQ(At(img, HistogramColumn(258, 200), 1), QColor(20, 255, 20));
    EXPECT_NE(At(img, 101, 101 - 20), red);  // redrawn from scratch
}

TEST(HistogramView, AnyWidthIsSafe)
{
    ImageHistogram h;
    h.Add(1, 2, 3);
    for (int w : {1, 2, 3, 5}) {
        QImage img = MakeHistogramImage(w);
        DrawHistogram(img, h, HistogramCurves{true, true, true, true});
        EXPECT_EQ(img.width(), w);
    }
    QImage tiny = MakeHistogramImage(-10);
    EXPECT_EQ(tiny.width(), 1);
    QImage null;
    DrawHistogram(null, h, HistogramCurves{});
}

// ---------------------------------------------------------------- pixel readout

TEST(PixelReadout, ShowsRedGreenBlueOfThePixelUnderThePointer)
{
    Bitmap bm = Uniform(10, 8, 1, 2, 3);
    uint8_t* p = bm.Row(7) + 9 * 3;
    p[0] = 255, p[1] = 60, p[2] = 5;  // blue, green, red
    PixelReadout r = ReadPixelUnderPointer(&bm, 9, 7, 10, 8);
    EXPECT_EQ(r.text, "RGB:   5, 60,255");
    EXPECT_TRUE(r.crossCursor);
    EXPECT_EQ(ReadPixelUnderPointer(&bm, 0, 0, 10, 8).text, "RGB:   1,  2,  3");
}

TEST(PixelReadout, OutsideThePictureControlShowsTheBareLabelAndTheArrow)
{
    Bitmap bm = Uniform(10, 8, 1, 2, 3);
    for (auto [dx, dy] : {std::pair{-1, 0}, {0, -1}, {10, 0}, {0, 8}, {-500, 900}}) {
        PixelReadout r = ReadPixelUnderPointer(&bm, dx, dy, 10, 8);
        EXPECT_EQ(r.text, "RGB:");
        EXPECT_FALSE(r.crossCursor);
    }
}

TEST(PixelReadout, ControlWithoutPixelsThereShowsTheCrossButNoValues)
{
    PixelReadout none = ReadPixelUnderPointer(nullptr, 3, 3, 10, 8);
    EXPECT_EQ(none.text, "RGB:");
    EXPECT_TRUE(none.crossCursor);
    // A control larger than its bitmap never reads beyond the bitmap.
    Bitmap bm = Uniform(4, 4, 1, 2, 3);
    PixelReadout beyond = ReadPixelUnderPointer(&bm, 6, 2, 10, 8);
    EXPECT_EQ(beyond.text, "RGB:");
    EXPECT_TRUE(beyond.crossCursor);
}
