// Grid and focus-point overlays, checked by reading back the pixels they paint.
#include "display/BitmapImage.h"
#include "display/Overlays.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <ostream>
#include <set>
#include <string>

using namespace display;

namespace {

const QColor kBackground(30, 90, 200);
const QColor kActiveOuter(180, 0, 0);
const QColor kActiveInner(255, 0, 0);
const QColor kInactiveOuter(0, 0, 0);
const QColor kInactiveInner(80, 80, 80);

Bitmap Filled(int w, int h, QColor c = kBackground)
{
    Bitmap b = MakeBitmap(w, h);
    QImage img = WrapBitmap(b);
    img.fill(c);
    return b;
}

QColor At(const QImage& img, int x, int y) { return QColor(img.pixel(x, y)); }

struct Frame {
    int x, y, w, h;
};

// The outline (X, Y)-(X + w, Y + h) in the outer colour, the one inside it in the inner
// colour, untouched pixels just outside and just inside.
::testing::AssertionResult HasFrame(const QImage& img, Frame f, QColor outer, QColor inner)
{
    auto check = [&](int x, int y, QColor want) -> ::testing::AssertionResult {
        const QColor got = At(img, x, y);
        if (got != want)
            return ::testing::AssertionFailure()
                   << "pixel (" << x << ", " << y << ") is " << got.name().toStdString()
                   << ", expected " << want.name().toStdString() << " for frame at (" << f.x
                   << ", " << f.y << ") " << f.w << "x" << f.h;
        return ::testing::AssertionSuccess();
    };
    for (int x = f.x; x <= f.x + f.w; ++x) {
        if (auto r = check(x, f.y, outer); !r) return r;
        if (auto r = check(x, f.y + f.h, outer); !r) return r;
    }
    for (int y = f.y; y <= f.y + f.h; ++y) {
        if (auto r = check(f.x, y, outer); !r) return r;
        if (auto r = check(f.x + f.w, y, outer); !r) return r;
    }
    for (int x = f.x + 1; x <= f.x + f.w - 1; ++x) {
        if (auto r = check(x, f.y + 1, inner); !r) return r;
        if (auto r = check(x, f.y + f.h - 1, inner); !r) return r;
    }
    for (int y = f.y + 1; y <= f.y + f.h - 1; ++y) {
        if (auto r = check(f.x + 1, y, inner); !r) return r;
        if (auto r = check(f.x + f.w - 1, y, inner); !r) return r;
    }
    if (auto r = check(f.x - 1, f.y - 1, kBackground); !r) return r;
    if (auto r = check(f.x + f.w + 1, f.y + f.h + 1, kBackground); !r) return r;
    return check(f.x + 2, f.y + 2, kBackground);
}

// Number of pixels of exactly this colour.
int CountColour(const QImage& img, QColor c)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += At(img, x, y) == c;
    return n;
}

bool GreyNear(const QImage& img, int x, int y)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (At(img, x + dx, y + dy) == kInactiveInner)
                return true;
    return false;
}

FocusPointInfo Model(const char* model)
{
    FocusPointInfo f;
    f.model = model;
    return f;
}

} // namespace

// ---------------------------------------------------------------- grid

TEST(Grid, NineByNineOn700x466PaintsExactlyTheListedLines)
{
    Bitmap b = Filled(700, 466);
    QImage img = WrapBitmap(b);
    const QColor green(0, 255, 0);
    DrawGrid(img, ColorFromColorRef(0x0000FF00), 9, 9);

    std::set<int> columns, rows;
    for (int x = 0; x < 700; ++x)
        if (At(img, x, 20) == green)   // row 20 lies between horizontal lines
            columns.insert(x);
    for (int y = 0; y < 466; ++y)
        if (At(img, 20, y) == green)
            rows.insert(y);
    EXPECT_EQ(columns, (std::set<int>{77, 155, 233, 311, 388, 466, 544, 622}));
    EXPECT_EQ(rows, (std::set<int>{51, 103, 155, 207, 258, 310, 362, 414}));
    // Lines run the full height and width.
    EXPECT_EQ(At(img, 77, 0), green);
    EXPECT_EQ(At(img, 77, 465), green);
    EXPECT_EQ(At(img, 0, 51), green);
    EXPECT_EQ(At(img, 699, 51), green);
    EXPECT_EQ(CountColour(img, green), 8 * 466 + 8 * 700 - 64);
}

TEST(Grid, ColourComesFromTheSettingWithRedInTheLowByte)
{
    EXPECT_EQ(ColorFromColorRef(0x00332211), QColor(0x11, 0x22, 0x33));
    Bitmap b = Filled(10, 10);
    QImage img = WrapBitmap(b);
    DrawGrid(img, ColorFromColorRef(0x000000FF), 2, 1);
    EXPECT_EQ(At(img, 5, 3), QColor(255, 0, 0));
    // The pixels land in the bitmap's own blue-green-red bytes.
    EXPECT_EQ(b.Row(3)[5 * 3 + 0], 0);
    EXPECT_EQ(b.Row(3)[5 * 3 + 2], 255);
}

TEST(Grid, OutOfRangeDivisionCountsDrawNothingInThatDirectionAndDoNotFail)
{
    for (int n : {1, 0, -1, -1000000}) {
        Bitmap b = Filled(50, 40);
        QImage img = WrapBitmap(b);
        DrawGrid(img, Qt::green, n, n);
        EXPECT_EQ(CountColour(img, Qt::green), 0) << n;
    }
    Bitmap b = Filled(50, 40);
    QImage img = WrapBitmap(b);
    DrawGrid(img, Qt::green, 0, 2);   // horizontal line only
    EXPECT_EQ(CountColour(img, Qt::green), 50);
    EXPECT_EQ(At(img, 0, 20), QColor(Qt::green));
}

TEST(Grid, HugeDivisionCountsPaintEveryPixelOnceAndReturnPromptly)
{
    Bitmap b = Filled(64, 48);
    QImage img = WrapBitmap(b);
    DrawGrid(img, Qt::green, 2000000000, 2000000000);  // would be two billion lines
    EXPECT_EQ(CountColour(img, Qt::green), 64 * 48);
}

TEST(Grid, MoreDivisionsThanPixelsStillHitsTheSamePositions)
{
    // 10 columns, 15 divisions: positions i * 10 / 15 for i = 1..14.
    Bitmap b = Filled(10, 3);
    QImage img = WrapBitmap(b);
    DrawGrid(img, Qt::green, 15, 0);
    std::set<int> expected;
    for (int i = 1; i < 15; ++i)
        expected.insert(i * 10 / 15);
    std::set<int> got;
    for (int x = 0; x < 10; ++x)
        if (At(img, x, 1) == QColor(Qt::green))
            got.insert(x);
    EXPECT_EQ(got, expected);
}

TEST(Grid, EmptyAndTinyBitmapsAreDrawnOnlyWithinTheirPixels)
{
    Bitmap empty = MakeBitmap(0, 0);
    QImage none = WrapBitmap(empty);
    EXPECT_TRUE(none.isNull());
    DrawGrid(none, Qt::green, 9, 9);
    DrawFocusPoints(none, Model("Canon EOS 10D"), 0);
    EXPECT_TRUE(empty.pixels.empty());

    // Two pixels in a row padded to 8 bytes: every grid line lands on them, and the
    // padding is never written.
    Bitmap tiny = Filled(2, 1);
    tiny.pixels[6] = tiny.pixels[7] = 0x5A;
    QImage img = WrapBitmap(tiny);
    DrawGrid(img, Qt::green, 9, 9);
    EXPECT_EQ(At(img, 0, 0), QColor(Qt::green));
    EXPECT_EQ(At(img, 1, 0), QColor(Qt::green));
    FocusPointInfo f = Model("Canon EOS 10D");
    f.sevenPointMask = 0x7F;
    DrawFocusPoints(img, f, 0);
    EXPECT_EQ(tiny.pixels[6], 0x5A);
    EXPECT_EQ(tiny.pixels[7], 0x5A);
}

// ---------------------------------------------------------------- layouts

TEST(FocusLayout, ChosenFromTheModelTextFirstRuleWins)
{
    EXPECT_EQ(FocusLayoutForModel("Canon EOS-1D"), FocusLayout::FortyFivePoint);
    EXPECT_EQ(FocusLayoutForModel("Canon EOS-1Ds"), FocusLayout::FortyFivePoint);
    EXPECT_EQ(FocusLayoutForModel("CANON EOS 10D"), FocusLayout::SevenPointWithCircle);
    EXPECT_EQ(FocusLayoutForModel("Canon EOS 300D DIGITAL"), FocusLayout::SevenPoint);
    EXPECT_EQ(FocusLayoutForModel("Canon EOS Kiss Digital"), FocusLayout::SevenPoint);
    EXPECT_EQ(FocusLayoutForModel("Canon EOS DIGITAL REBEL"), FocusLayout::SevenPoint);
    EXPECT_EQ(FocusLayoutForModel("Canon EOS D30"), FocusLayout::ThreePointWithCircle);
    EXPECT_EQ(FocusLayoutForModel("Canon EOS D60"), FocusLayout::ThreePointWithCircle);
    EXPECT_EQ(FocusLayoutForModel("Canon EOS 20D"), FocusLayout::None);
    EXPECT_EQ(FocusLayoutForModel(""), FocusLayout::None);
}

TEST(FocusPoints, UnknownOrEmptyModelDrawsNothing)
{
    for (const char* model : {"", "Canon PowerShot S40", "NIKON D70"}) {
        Bitmap b = Filled(700, 466);
        QImage img = WrapBitmap(b);
        FocusPointInfo f = Model(model);
        f.sevenPointMask = 0x7F;
        DrawFocusPoints(img, f, 0);
        EXPECT_EQ(CountColour(img, kBackground), 700 * 466) << model;
    }
}

// ---------------------------------------------------------------- seven points

struct SevenPointCase {
    int rotation;
    uint32_t mask;
    Frame frames[7];  // in mask-bit order 0x40, 0x20, 0x08, 0x02, 0x01, 0x10, 0x04
};

void PrintTo(const SevenPointCase& c, std::ostream* os)
{
    *os << "rotation " << c.rotation << ", mask 0x" << std::hex << c.mask;
}

class SevenPointFrames : public ::testing::TestWithParam<SevenPointCase> {};

TEST_P(SevenPointFrames, EveryFrameSitsWhereTheRotationPutsIt)
{
    const SevenPointCase& c = GetParam();
    const bool turned = c.rotation == 90 || c.rotation == 270;
    Bitmap b = turned ? Filled(466, 700) : Filled(700, 466);
    QImage img = WrapBitmap(b);
    FocusPointInfo f = Model("Canon EOS 10D");
    f.sevenPointMask = c.mask;
    DrawFocusPoints(img, f, c.rotation);

    const uint32_t bits[7] = {0x40, 0x20, 0x08, 0x02, 0x01, 0x10, 0x04};
    for (int i = 0; i < 7; ++i) {
        const bool active = c.mask & bits[i];
        EXPECT_TRUE(HasFrame(img, c.frames[i], active ? kActiveOuter : kInactiveOuter,
                             active ? kActiveInner : kInactiveInner))
            << "mask bit 0x" << std::hex << bits[i];
    }
    // The metering circle around the bitmap's centre, radius 77 across the picture.
    const int mx = img.width() / 2, my = img.height() / 2;
    EXPECT_TRUE(turned ? GreyNear(img, mx, my - 77) && GreyNear(img, mx, my + 77)
                       : GreyNear(img, mx - 77, my) && GreyNear(img, mx + 77, my));
    // Exactly one frame pair is red when one bit is set.
    if (c.mask == 0x08) {
        EXPECT_EQ(CountColour(img, kActiveOuter), 4 * 32);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TenD, SevenPointFrames,
    ::testing::Values(
        SevenPointCase{0, 0x08,
                       {{105, 217, 23, 32}, {199, 217, 23, 32}, {334, 217, 32, 32}, {479, 217, 23, 32},
                        {572, 217, 23, 32}, {334, 105, 32, 23}, {334, 338, 32, 23}}},
        SevenPointCase{90, 0x41,
                       {{217, 105, 32, 23}, {217, 199, 32, 23}, {217, 334, 32, 32}, {217, 479, 32, 23},
                        {217, 572, 32, 23}, {339, 334, 23, 32}, {106, 334, 23, 32}}},
        SevenPointCase{180, 0x14,
                       {{573, 217, 23, 32}, {479, 217, 23, 32}, {334, 217, 32, 32}, {199, 217, 23, 32},
                        {106, 217, 23, 32}, {334, 339, 32, 23}, {334, 106, 32, 23}}},
        SevenPointCase{270, 0x22,
                       {{217, 573, 32, 23}, {217, 479, 32, 23}, {217, 334, 32, 32}, {217, 199, 32, 23},
                        {217, 106, 32, 23}, {105, 334, 23, 32}, {338, 334, 23, 32}}}),
    [](const ::testing::TestParamInfo<SevenPointCase>& info) {
        return "Rotation" + std::to_string(info.param.rotation);
    });

TEST(FocusPoints, The300DHasTheSameFramesButNoMeteringCircle)
{
    Bitmap b = Filled(700, 466);
    QImage img = WrapBitmap(b);
    FocusPointInfo f = Model("Canon EOS 300D DIGITAL");
    f.sevenPointMask = 0x08;
    DrawFocusPoints(img, f, 0);
    EXPECT_TRUE(HasFrame(img, {334, 217, 32, 32}, kActiveOuter, kActiveInner));
    EXPECT_TRUE(HasFrame(img, {105, 217, 23, 32}, kInactiveOuter, kInactiveInner));
    EXPECT_FALSE(GreyNear(img, 350 - 77, 233));
    EXPECT_FALSE(GreyNear(img, 350 + 77, 233));
    EXPECT_FALSE(GreyNear(img, 350, 233 - 77));
}

TEST(FocusPoints, AnyOtherRotationDrawsNoFrames)
{
    Bitmap b = Filled(700, 466);
    QImage img = WrapBitmap(b);
    FocusPointInfo f = Model("Canon EOS 300D");
    f.sevenPointMask = 0x7F;
    DrawFocusPoints(img, f, 45);
    EXPECT_EQ(CountColour(img, kBackground), 700 * 466);
}

// ---------------------------------------------------------------- three points

TEST(FocusPoints, D60ThreePointValueChoosesTheActivePoint)
{
    const Frame left{222, 217, 23, 32}, centre{339, 217, 23, 32}, right{455, 217, 23, 32};
    struct Case {
        uint32_t value;
        bool l, c, r;
    } cases[] = {
        {0x3004, true, false, false}, {0x1000, false, true, false}, {0x2001, false, false, false},
        {0x3007, true, true, true},   {0x1004, false, true, false}, {0x0000, false, false, false},
    };
    for (const Case& k : cases) {
        Bitmap b = Filled(700, 466);
        QImage img = WrapBitmap(b);
        FocusPointInfo f = Model("Canon EOS D60");
        f.threePointValue = k.value;
        DrawFocusPoints(img, f, 0);
        auto outer = [](bool on) { return on ? kActiveOuter : kInactiveOuter; };
        auto inner = [](bool on) { return on ? kActiveInner : kInactiveInner; };
        EXPECT_TRUE(HasFrame(img, left, outer(k.l), inner(k.l))) << std::hex << k.value;
        EXPECT_TRUE(HasFrame(img, centre, outer(k.c), inner(k.c))) << std::hex << k.value;
        EXPECT_TRUE(HasFrame(img, right, outer(k.r), inner(k.r))) << std::hex << k.value;
        // Metering circle radius 700 * 10 / 75 = 93.
        EXPECT_TRUE(GreyNear(img, 350 - 93, 233) && GreyNear(img, 350 + 93, 233));
    }
}

TEST(FocusPoints, D30AtRotation90PutsTheLeftPointAtTheTop)
{
    Bitmap b = Filled(466, 700);
    QImage img = WrapBitmap(b);
    FocusPointInfo f = Model("Canon EOS D30");
    f.threePointValue = 0x3004;
    DrawFocusPoints(img, f, 90);
    EXPECT_TRUE(HasFrame(img, {217, 222, 32, 23}, kActiveOuter, kActiveInner));
    EXPECT_TRUE(HasFrame(img, {217, 455, 32, 23}, kInactiveOuter, kInactiveInner));
}

// ---------------------------------------------------------------- 45 points

TEST(FocusPoints, OneDRowsTakeTheirBitsFromTheAfBytes)
{
    FocusPointInfo f = Model("Canon EOS-1D");
    f.fortyFiveBits = {0xFF, 0x04, 0x00, 0x00, 0x04, 0x00, 0x02, 0x04};
    // b[0] is never read: 0xFF there lights nothing.
    // b[1] bit 2: row 1, first point. b[4] bit 2: row 3, sixth point (the centre).
    // b[6] bit 1: row 4, tenth point. b[7] bit 2: row 5, seventh point.
    Bitmap b = Filled(700, 466);
    QImage img = WrapBitmap(b);
    DrawFocusPoints(img, f, 0);
    EXPECT_TRUE(HasFrame(img, {227, 119, 23, 32}, kActiveOuter, kActiveInner));  // row 1, 839
    EXPECT_TRUE(HasFrame(img, {339, 217, 23, 32}, kActiveOuter, kActiveInner));  // row 3, 1232
    EXPECT_TRUE(HasFrame(img, {501, 265, 23, 32}, kActiveOuter, kActiveInner));  // row 4, 1804
    EXPECT_TRUE(HasFrame(img, {450, 315, 23, 32}, kActiveOuter, kActiveInner));  // row 5, 1625
    EXPECT_TRUE(HasFrame(img, {176, 169, 23, 32}, kInactiveOuter, kInactiveInner));  // row 2, 660
    // Four active frames and no metering circle.
    EXPECT_EQ(CountColour(img, kActiveOuter), 4 * 2 * (23 + 32));
    EXPECT_FALSE(GreyNear(img, 350, 233 - 77));
}

TEST(FocusPoints, OneDFramesFollowEveryRotation)
{
    FocusPointInfo f = Model("Canon EOS-1Ds");
    f.fortyFiveBits = {0, 0x04, 0, 0, 0x04, 0, 0, 0};
    struct Case {
        int rotation;
        Frame centre, firstOfRow1;
    } cases[] = {
        {0, {339, 217, 23, 32}, {227, 119, 23, 32}},
        {90, {217, 339, 32, 23}, {315, 227, 32, 23}},
        {180, {339, 217, 23, 32}, {451, 315, 23, 32}},
        {270, {217, 339, 32, 23}, {119, 451, 32, 23}},
    };
    for (const Case& c : cases) {
        const bool turned = c.rotation == 90 || c.rotation == 270;
        Bitmap b = turned ? Filled(466, 700) : Filled(700, 466);
        QImage img = WrapBitmap(b);
        DrawFocusPoints(img, f, c.rotation);
        EXPECT_TRUE(HasFrame(img, c.centre, kActiveOuter, kActiveInner)) << c.rotation;
        EXPECT_TRUE(HasFrame(img, c.firstOfRow1, kActiveOuter, kActiveInner)) << c.rotation;
        EXPECT_EQ(CountColour(img, kActiveOuter), 2 * 2 * (23 + 32)) << c.rotation;
    }
}

TEST(FocusPoints, FramesLieOnTopOfTheGrid)
{
    Bitmap b = Filled(700, 466);
    QImage img = WrapBitmap(b);
    DrawGrid(img, Qt::green, 2, 2);  // lines through the centre, x = 350 and y = 233
    FocusPointInfo f = Model("Canon EOS 10D");
    f.sevenPointMask = 0x08;
    DrawFocusPoints(img, f, 0);
    EXPECT_EQ(At(img, 350, 217), kActiveOuter);
    EXPECT_EQ(At(img, 334, 233), kActiveOuter);
    EXPECT_EQ(At(img, 350, 200), QColor(Qt::green));
}

TEST(Overlays, OtherImageFormatsGetTheSamePixels)
{
    Bitmap b = Filled(700, 466);
    QImage bgr = WrapBitmap(b);
    QImage rgb32 = bgr.convertToFormat(QImage::Format_RGB32);
    FocusPointInfo f = Model("Canon EOS 10D");
    f.sevenPointMask = 0x41;
    for (QImage* img : {&bgr, &rgb32}) {
        DrawGrid(*img, Qt::green, 9, 9);
        DrawFocusPoints(*img, f, 270);
    }
    EXPECT_EQ(bgr.convertToFormat(QImage::Format_RGB32), rgb32);
}
