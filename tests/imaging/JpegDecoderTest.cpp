#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "TestPictures.h"
#include "imaging/JpegDecoder.h"
#include "imaging/JpegSupport.h"
#include "support/TestSupport.h"

using testpictures::BuildTiff;
using testpictures::EncodeJpeg;
using testpictures::JpegOptions;
using testpictures::Rgb;

namespace {

// Blue, green, red of a bitmap pixel.
struct Bgr {
    int b, g, r;
};
Bgr PixelAt(const Bitmap& bmp, int x, int y)
{
    const uint8_t* p = bmp.Row(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

bool Near(Bgr p, int r, int g, int b, int tolerance)
{
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

// Four flat quadrants: red top left, green top right, blue bottom left, white bottom right.
Rgb Quadrants(int w, int h)
{
    Rgb img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            if (!right && !bottom) img.Set(x, y, 255, 0, 0);
            else if (right && !bottom) img.Set(x, y, 0, 255, 0);
            else if (!right) img.Set(x, y, 0, 0, 255);
            else img.Set(x, y, 255, 255, 255);
        }
    return img;
}

// Every pixel different, for exact checks through the lossless TIFF path.
Rgb Numbered(int w, int h)
{
    Rgb img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Set(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x * 16 + y));
    return img;
}

std::string DecodeError(const std::vector<uint8_t>& bytes)
{
    ImageHistogram h;
    try {
        DecodeToBitmap(bytes.data(), bytes.size(), h, 0, 200, 200, false);
    } catch (const JpegError& e) {
        return e.what();
    }
    return "(no error)";
}

std::optional<Bitmap> Decode(const std::vector<uint8_t>& bytes, int rotation, int bw, int bh, bool bw_mode = false)
{
    ImageHistogram h;
    return DecodeToBitmap(bytes.data(), bytes.size(), h, rotation, bw, bh, bw_mode);
}

// A 3072 x 2048 camera-sized picture, encoded once for all tests.
const std::vector<uint8_t>& CameraJpeg()
{
    static const std::vector<uint8_t> bytes = EncodeJpeg(Quadrants(3072, 2048), JpegOptions{85, 2, 1, false});
    return bytes;
}

} // namespace

TEST(JpegScaleAndFit, CameraPictureInTheMainWindowBox)
{
    EXPECT_EQ(ChooseScaleDenominator(3072, 2048, 700, 500), 4u);
    EXPECT_EQ(ChooseScaleDenominator(3072, 2048, 500, 700), 4u);  // box turned for rotation 90
    const FittedSize f = FitToBox(768, 512, 700, 500);
    EXPECT_EQ(f.width, 700);
    EXPECT_EQ(f.height, 466);
    const FittedSize r = FitToBox(768, 512, 500, 700);
    EXPECT_EQ(r.width, 500);
    EXPECT_EQ(r.height, 333);
}

TEST(JpegScaleAndFit, ScaleRulesAndLimits)
{
    EXPECT_EQ(ChooseScaleDenominator(3072, 2048, 0, 0), 8u);       // never beyond 1/8
    EXPECT_EQ(ChooseScaleDenominator(300, 200, 700, 500), 1u);     // smaller than the box
    EXPECT_EQ(ChooseScaleDenominator(1400, 300, 700, 500), 1u);    // height test fails at once
    EXPECT_EQ(ChooseScaleDenominator(1400, 1000, 700, 500), 2u);   // width exactly twice the box
    // Never enlarged; a box side of 0 gives nothing.
    EXPECT_EQ(FitToBox(300, 200, 700, 500).width, 300);
    EXPECT_EQ(FitToBox(300, 200, 700, 500).height, 200);
    EXPECT_EQ(FitToBox(300, 200, 0, 500).width, 0);
    EXPECT_EQ(FitToBox(300, 200, 700, 0).height, 0);
    // A very long thin picture keeps at least one row instead of dividing by nothing.
    EXPECT_EQ(FitToBox(3000, 1, 700, 500).height, 1);
    EXPECT_EQ(FitToBox(3000, 1, 700, 500).width, 700);
    EXPECT_EQ(FitToBox(1, 3000, 700, 500).width, 1);
    // No overflow in the intermediate products.
    EXPECT_EQ(FitToBox(65000, 65000, 60000, 60000).width, 60000);
}

TEST(JpegDecode, CameraPictureFittedAndTurned)
{
    const auto& jpeg = CameraJpeg();
    ImageHistogram h;
    const auto straight = DecodeToBitmap(jpeg.data(), jpeg.size(), h, 0, 700, 500, false);
    ASSERT_TRUE(straight.has_value());
    EXPECT_EQ(straight->width, 700);
    EXPECT_EQ(straight->height, 466);
    EXPECT_EQ(h.SampleCount(), 700u * 466u);
    EXPECT_EQ(straight->pixels.size(), 2100u * 466u);
    EXPECT_TRUE(Near(PixelAt(*straight, 10, 10), 255, 0, 0, 8));
    EXPECT_TRUE(Near(PixelAt(*straight, 690, 455), 255, 255, 255, 8));

    const auto turned = DecodeToBitmap(jpeg.data(), jpeg.size(), h, 90, 700, 500, false);
    ASSERT_TRUE(turned.has_value());
    EXPECT_EQ(turned->width, 333);
    EXPECT_EQ(turned->height, 500);
    EXPECT_EQ(turned->stride, 1000);
    EXPECT_EQ(h.SampleCount(), 333u * 500u);
    // A quarter turn clockwise: the bottom-left (blue) quadrant comes to the top left,
    // red to the top right, white to the bottom left, green to the bottom right.
    EXPECT_TRUE(Near(PixelAt(*turned, 5, 5), 0, 0, 255, 8));
    EXPECT_TRUE(Near(PixelAt(*turned, 327, 5), 255, 0, 0, 8));
    EXPECT_TRUE(Near(PixelAt(*turned, 5, 494), 255, 255, 255, 8));
    EXPECT_TRUE(Near(PixelAt(*turned, 327, 494), 0, 255, 0, 8));
    // No shear: each row has its quadrant boundary in the same column.
    for (int y : {5, 120, 240, 255, 499}) {
        const bool top = y < 250;
        EXPECT_TRUE(Near(PixelAt(*turned, 160, y), top ? 0 : 255, top ? 0 : 255, 255, 8)) << y;
        EXPECT_TRUE(Near(PixelAt(*turned, 172, y), top ? 255 : 0, top ? 0 : 255, 0, 8)) << y;
    }
}

TEST(JpegDecode, PaddedRowsShowNoShear)
{
    // 333 pixels wide and smaller than the box: only reordered, rows padded to 1000 bytes.
    Rgb img(333, 40);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            img.Set(x, y, x < 160 ? 255 : 0, 0, x < 160 ? 0 : 255);
    const auto bmp = Decode(EncodeJpeg(img, JpegOptions{100, 1, 1, false}), 0, 700, 500);
    ASSERT_TRUE(bmp.has_value());
    ASSERT_EQ(bmp->width, 333);
    ASSERT_EQ(bmp->stride, 1000);
    ASSERT_EQ(bmp->pixels.size(), 1000u * 40u);
    for (int y = 0; y < 40; ++y) {
        EXPECT_TRUE(Near(PixelAt(*bmp, 0, y), 255, 0, 0, 6)) << y;
        EXPECT_TRUE(Near(PixelAt(*bmp, 155, y), 255, 0, 0, 6)) << y;
        EXPECT_TRUE(Near(PixelAt(*bmp, 165, y), 0, 0, 255, 6)) << y;
        EXPECT_TRUE(Near(PixelAt(*bmp, 332, y), 0, 0, 255, 6)) << y;
        EXPECT_EQ(bmp->Row(y)[999], 0) << y;  // padding is blank
    }
}

TEST(JpegDecode, EmptyBoxGivesAnEmptyBitmap)
{
    const auto jpeg = EncodeJpeg(Quadrants(64, 48));
    ImageHistogram h;
    h.Add(1, 2, 3);
    for (auto box : {std::pair{0, 500}, std::pair{700, 0}, std::pair{0, 0}}) {
        const auto bmp = DecodeToBitmap(jpeg.data(), jpeg.size(), h, 0, box.first, box.second, false);
        ASSERT_TRUE(bmp.has_value());
        EXPECT_TRUE(bmp->Empty());
        EXPECT_TRUE(bmp->pixels.empty());
        EXPECT_EQ(h.SampleCount(), 0u);
    }
}

TEST(JpegDecode, LibjpegTextsOnFailure)
{
    EXPECT_EQ(DecodeError({'I', 'I', 42, 0, 8, 0, 0, 0, 1, 2}), "Not a JPEG file: starts with 0x49 0x49");
    EXPECT_EQ(DecodeError({'M', 'M', 0, 42}), "Not a JPEG file: starts with 0x4d 0x4d");  // 4 bytes: not a TIFF
    EXPECT_EQ(DecodeError({}), "Premature end of JPEG file");

    const auto good = EncodeJpeg(Quadrants(64, 48));
    // Cut short: the memory source ends the data with libjpeg's warning.
    const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    EXPECT_EQ(DecodeError(cut), "Premature end of JPEG file");

    // Two stray bytes before the second marker: libjpeg's warning refuses the picture.
    std::vector<uint8_t> stray = good;
    const size_t app0End = 4 + (size_t{stray[4]} << 8 | stray[5]);
    ASSERT_EQ(stray[app0End], 0xFF);
    const uint8_t marker = stray[app0End + 1];
    stray.insert(stray.begin() + static_cast<long>(app0End), {0x12, 0x34});
    char expected[80];
    std::snprintf(expected, sizeof expected, "Corrupt JPEG data: 2 extraneous bytes before marker 0x%02x", marker);
    EXPECT_EQ(DecodeError(stray), expected);

    // Four colour components cannot be shown.
    EXPECT_EQ(DecodeError(testpictures::EncodeCmykJpeg(16, 16, 40)), "Unsupported color conversion request");

    // The full-size decode fails the same way.
    try {
        DecodeFullSize(cut.data(), cut.size(), 0);
        ADD_FAILURE() << "no error";
    } catch (const JpegError& e) {
        EXPECT_STREQ(e.what(), "Premature end of JPEG file");
    }
}

TEST(JpegDecode, GiganticHeaderIsRefusedBeforeDecoding)
{
    std::vector<uint8_t> jpeg = EncodeJpeg(Quadrants(16, 16));
    // Find the frame header (SOF0) and claim 60000 x 60000 pixels.
    size_t at = 2;
    while (at + 4 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] == 0xC0))
        at += 2 + (size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    ASSERT_LT(at + 9, jpeg.size());
    jpeg[at + 5] = 0xEA;
    jpeg[at + 6] = 0x60;
    jpeg[at + 7] = 0xEA;
    jpeg[at + 8] = 0x60;
    const std::string text = DecodeError(jpeg);
    EXPECT_NE(text.find("too large"), std::string::npos) << text;
    EXPECT_THROW(DecodeFullSize(jpeg.data(), jpeg.size(), 0), JpegError);
}

TEST(JpegDecode, BlackAndWhiteKeepsTheColourHistogram)
{
    const auto jpeg = EncodeJpeg(Quadrants(320, 240), JpegOptions{95, 1, 1, false});
    ImageHistogram colour, grey;
    const auto c = DecodeToBitmap(jpeg.data(), jpeg.size(), colour, 0, 100, 100, false);
    const auto g = DecodeToBitmap(jpeg.data(), jpeg.size(), grey, 0, 100, 100, true);
    ASSERT_TRUE(c && g);
    for (int ch = 0; ch < 4; ++ch)
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(colour.RawBin(static_cast<ImageHistogram::Channel>(ch), i),
                      grey.RawBin(static_cast<ImageHistogram::Channel>(ch), i));
    // Red dominates the red histogram's top bins; the grey picture is grey.
    EXPECT_GT(colour.RawBin(ImageHistogram::Red, 255) + colour.RawBin(ImageHistogram::Red, 254), 1000u);
    for (int y = 0; y < g->height; ++y)
        for (int x = 0; x < g->width; ++x) {
            const Bgr p = PixelAt(*g, x, y);
            const Bgr q = PixelAt(*c, x, y);
            ASSERT_EQ(p.r, p.g);
            ASSERT_EQ(p.g, p.b);
            ASSERT_EQ(p.r, (q.r + q.g + q.b) / 3);
        }
}

TEST(JpegDecode, RotationsMapEveryPixel)
{
    // Through the lossless TIFF path, unscaled: exact pixel checks for every turn.
    const Rgb img = Numbered(7, 4);
    const auto tiff = BuildTiff(img);
    for (int rotation : {0, 90, 180, 270, 45, -90}) {
        const auto bmp = Decode(tiff, rotation, 100, 100);
        ASSERT_TRUE(bmp.has_value());
        const bool quarter = rotation == 90 || rotation == 270;
        ASSERT_EQ(bmp->width, quarter ? 4 : 7) << rotation;
        ASSERT_EQ(bmp->height, quarter ? 7 : 4) << rotation;
        for (int r = 0; r < bmp->height; ++r)
            for (int c = 0; c < bmp->width; ++c) {
                int sx = c, sy = r;
                if (rotation == 90) { sx = r; sy = 3 - c; }
                if (rotation == 180) { sx = 6 - c; sy = 3 - r; }
                if (rotation == 270) { sx = 6 - r; sy = c; }
                const uint8_t* s = img.At(sx, sy);
                const Bgr p = PixelAt(*bmp, c, r);
                ASSERT_TRUE(p.r == s[0] && p.g == s[1] && p.b == s[2]) << rotation << " at " << c << "," << r;
            }
    }
}

TEST(JpegDecode, BilinearReductionTruncates)
{
    // 3 x 1 into a 2-wide box: steps of 1.5 from 0.75; the right neighbour of the last
    // column is the last column itself. Expected 0*.25 + 100*.75 = 75, then 200.
    Rgb img(3, 1);
    img.Set(0, 0, 0, 10, 0);
    img.Set(1, 0, 100, 20, 1);
    img.Set(2, 0, 200, 30, 2);
    const auto bmp = Decode(BuildTiff(img), 0, 2, 10);
    ASSERT_TRUE(bmp.has_value());
    ASSERT_EQ(bmp->width, 2);
    ASSERT_EQ(bmp->height, 1);
    const Bgr a = PixelAt(*bmp, 0, 0), b = PixelAt(*bmp, 1, 0);
    EXPECT_EQ(a.r, 75);
    EXPECT_EQ(a.g, 17);  // 10 * .25 + 20 * .75 = 17.5, truncated
    EXPECT_EQ(a.b, 0);   // 0.75 truncated
    EXPECT_EQ(b.r, 200);
    EXPECT_EQ(b.g, 30);

    // 4 x 4 into 2 x 2: sample points fall on (1, 1), (3, 1), (1, 3), (3, 3) exactly.
    const Rgb n = Numbered(4, 4);
    const auto quarter = Decode(BuildTiff(n), 0, 2, 2);
    ASSERT_TRUE(quarter.has_value());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            const uint8_t* s = n.At(2 * x + 1, 2 * y + 1);
            const Bgr p = PixelAt(*quarter, x, y);
            EXPECT_TRUE(p.r == s[0] && p.g == s[1] && p.b == s[2]);
        }
}

TEST(JpegDecode, TiffIsShownLikeTheSameJpeg)
{
    Rgb img(160, 120);
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x)
            img.Set(x, y, static_cast<uint8_t>(x + 40), static_cast<uint8_t>(y * 2), static_cast<uint8_t>(200 - y));
    const auto tiff = BuildTiff(img);
    const auto jpeg = EncodeJpeg(img, JpegOptions{100, 1, 1, false});
    for (int rotation : {0, 90, 270}) {
        for (bool grey : {false, true}) {
            ImageHistogram ht, hj;
            const auto t = DecodeToBitmap(tiff.data(), tiff.size(), ht, rotation, 100, 90, grey);
            const auto j = DecodeToBitmap(jpeg.data(), jpeg.size(), hj, rotation, 100, 90, grey);
            ASSERT_TRUE(t && j);
            ASSERT_EQ(t->width, j->width);
            ASSERT_EQ(t->height, j->height);
            EXPECT_EQ(ht.SampleCount(), hj.SampleCount());
            int worst = 0;
            for (int y = 0; y < t->height; ++y)
                for (int x = 0; x < t->width * 3; ++x)
                    worst = std::max(worst, std::abs(t->Row(y)[x] - j->Row(y)[x]));
            EXPECT_LE(worst, 6) << rotation << " " << grey;
        }
    }
    // 160 x 120 in 100 x 90: width decides, 100 x 75.
    const auto t = Decode(tiff, 0, 100, 90);
    EXPECT_EQ(t->width, 100);
    EXPECT_EQ(t->height, 75);
}

TEST(JpegDecode, UnreadableTiffGivesNothing)
{
    const Rgb img = Numbered(20, 10);
    testpictures::TiffOptions lzw, rgba, mixed, beyond;
    lzw.compression = 5;
    rgba.samplesPerPixel = 4;
    mixed.bits[2] = 16;
    beyond.stripOffsetShift = 204800;
    for (const auto& o : {lzw, rgba, mixed, beyond}) {
        ImageHistogram h;
        const auto bytes = BuildTiff(img, o);
        EXPECT_FALSE(DecodeToBitmap(bytes.data(), bytes.size(), h, 0, 100, 100, false).has_value());
    }
    // A little-endian TIFF goes to libjpeg, which refuses it.
    testpictures::TiffOptions little;
    little.bigEndian = false;
    EXPECT_EQ(DecodeError(BuildTiff(img, little)), "Not a JPEG file: starts with 0x49 0x49");
}

TEST(JpegDecode, GreyscaleJpegIsShownGrey)
{
    const auto jpeg = EncodeJpeg(Quadrants(64, 32), JpegOptions{95, 1, 1, true});
    ImageHistogram h;
    const auto bmp = DecodeToBitmap(jpeg.data(), jpeg.size(), h, 0, 700, 500, false);
    ASSERT_TRUE(bmp.has_value());
    EXPECT_EQ(bmp->width, 64);
    EXPECT_TRUE(Near(PixelAt(*bmp, 4, 4), 255, 255, 255, 4));   // red channel was 255
    EXPECT_TRUE(Near(PixelAt(*bmp, 40, 4), 0, 0, 0, 4));        // green quadrant, red 0
    const Bgr p = PixelAt(*bmp, 20, 20);
    EXPECT_TRUE(p.r == p.g && p.g == p.b);
    const Bitmap full = DecodeFullSize(jpeg.data(), jpeg.size(), 180);
    EXPECT_EQ(full.width, 64);
    EXPECT_TRUE(Near(PixelAt(full, 59, 27), 255, 255, 255, 4));
}

// Turned full-size pictures are built strip by strip: every pixel, across the strip
// boundaries and the last short strip, must be the unturned picture's pixel at the
// turned place, and the row padding must stay zero.
TEST(JpegDecode, FullSizeTurnsMatchTheUnturnedPicturePixelForPixel)
{
    for (const auto& size : {std::pair{203, 101}, std::pair{70, 333}}) {
        const int w = size.first, h = size.second;
        const auto jpeg = EncodeJpeg(testpictures::PhotoLikeScene(w, h), JpegOptions{90, 2, 1, false});
        const Bitmap straight = DecodeFullSize(jpeg.data(), jpeg.size(), 0);
        ASSERT_EQ(straight.width, w);
        for (int rotation : {90, 180, 270}) {
            const Bitmap t = DecodeFullSize(jpeg.data(), jpeg.size(), rotation);
            const bool quarter = rotation != 180;
            ASSERT_EQ(t.width, quarter ? h : w);
            ASSERT_EQ(t.height, quarter ? w : h);
            ASSERT_EQ(t.stride, Bitmap::StrideFor(t.width));
            int wrong = 0;
            for (int r = 0; r < t.height; ++r) {
                for (int c = 0; c < t.width; ++c) {
                    int x = w - 1 - c, y = h - 1 - r;           // 180
                    if (rotation == 90)
                        x = r, y = h - 1 - c;
                    else if (rotation == 270)
                        x = w - 1 - r, y = c;
                    wrong += std::memcmp(t.Row(r) + 3 * c, straight.Row(y) + 3 * x, 3) != 0;
                }
                for (int pad = t.width * 3; pad < t.stride; ++pad)
                    wrong += t.Row(r)[pad] != 0;
            }
            EXPECT_EQ(wrong, 0) << w << "x" << h << " turned " << rotation;
        }
    }
}

TEST(JpegDecode, FullSizeKeepsEveryPixel)
{
    const auto jpeg = EncodeJpeg(Quadrants(203, 101), JpegOptions{95, 1, 1, false});
    const Bitmap b = DecodeFullSize(jpeg.data(), jpeg.size(), 0);
    EXPECT_EQ(b.width, 203);
    EXPECT_EQ(b.height, 101);
    EXPECT_EQ(b.stride, Bitmap::StrideFor(203));
    EXPECT_EQ(b.pixels.size(), static_cast<size_t>(b.stride) * 101);
    EXPECT_TRUE(Near(PixelAt(b, 0, 0), 255, 0, 0, 6));
    EXPECT_TRUE(Near(PixelAt(b, 202, 0), 0, 255, 0, 6));
    EXPECT_TRUE(Near(PixelAt(b, 0, 100), 0, 0, 255, 6));
    EXPECT_TRUE(Near(PixelAt(b, 202, 100), 255, 255, 255, 6));

    const Bitmap t = DecodeFullSize(jpeg.data(), jpeg.size(), 270);
    EXPECT_EQ(t.width, 101);
    EXPECT_EQ(t.height, 203);
    // A quarter turn counter-clockwise: green (top right) comes to the top left.
    EXPECT_TRUE(Near(PixelAt(t, 0, 0), 0, 255, 0, 6));
    EXPECT_TRUE(Near(PixelAt(t, 100, 202), 0, 0, 255, 6));
}

TEST(JpegDecode, HistogramFinalizeRule)
{
    ImageHistogram h;
    for (int i = 0; i < 100; ++i)
        h.Add(200, 100, 0);
    EXPECT_EQ(h.RawBin(ImageHistogram::Intensity, 100), 200u);  // green value and the mean 300/3
    // cap = 100 / 50 = 2; intensity 200 / 4 = 50, capped at 2.
    EXPECT_EQ(h.Bin(ImageHistogram::Intensity, 100), 2u);
    EXPECT_EQ(h.Bin(ImageHistogram::Red, 200), 2u);
    EXPECT_EQ(h.Maximum(ImageHistogram::Blue), 2u);
    EXPECT_EQ(h.Bin(ImageHistogram::Red, 256), 0u);
    EXPECT_EQ(h.Bin(ImageHistogram::Red, -1), 0u);
    EXPECT_TRUE(h.Finalized());
    h.Clear();
    EXPECT_FALSE(h.Finalized());
    EXPECT_EQ(h.Bin(ImageHistogram::Red, 200), 0u);  // empty: intensity maximum 0
}

namespace {

struct SourceProbe {
    jpeg_decompress_struct cinfo{};
    JpegErrorHandler handler;
};

// Skips through the installed source; false when that ended in libjpeg's warning.
bool GuardedSkip(SourceProbe& p, long count)
{
    if (setjmp(p.handler.jump))
        return false;
    (*p.cinfo.src->skip_input_data)(&p.cinfo, count);
    return true;
}

} // namespace

TEST(JpegSources, MemorySourceNeverPassesTheEnd)
{
    // Asked to skip beyond the end, the source stops there and reports the end of data.
    const std::vector<uint8_t> bytes = {0xFF, 0xD8, 0xFF, 0xE0, 0x7F, 0xFF};  // APP0 claims 32767 bytes
    EXPECT_EQ(DecodeError(bytes), "Premature end of JPEG file");

    SourceProbe p;
    p.cinfo.err = InstallJpegErrorHandler(p.handler);
    jpeg_create_decompress(&p.cinfo);
    const uint8_t data[4] = {1, 2, 3, 4};
    InstallMemorySource(&p.cinfo, data, sizeof data);
    jpeg_source_mgr* first = p.cinfo.src;
    InstallMemorySource(&p.cinfo, data, 2);
    EXPECT_EQ(p.cinfo.src, first);  // reused
    EXPECT_EQ(p.cinfo.src->bytes_in_buffer, 2u);
    EXPECT_TRUE(GuardedSkip(p, 0));
    EXPECT_TRUE(GuardedSkip(p, -5));
    EXPECT_EQ(p.cinfo.src->next_input_byte, data);
    EXPECT_TRUE(GuardedSkip(p, 1));
    EXPECT_EQ(p.cinfo.src->next_input_byte, data + 1);
    EXPECT_EQ(p.cinfo.src->bytes_in_buffer, 1u);
    EXPECT_FALSE(GuardedSkip(p, 10));
    EXPECT_STREQ(p.handler.message, "Premature end of JPEG file");
    // The source stopped at the end of the buffer, not beyond it.
    EXPECT_EQ(p.cinfo.src->bytes_in_buffer, 0u);
    EXPECT_EQ(p.cinfo.src->next_input_byte, data + 2);
    jpeg_destroy_decompress(&p.cinfo);
}

TEST(JpegSharedFiles, RealPicturesDecodeWithPlausibleHistograms)
{
    REQUIRE_SHARED_TESTDATA(shared);
    int decoded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(shared / "real")) {
        const auto ext = entry.path().extension().string();
        if (ext != ".jpg")
            continue;
        const auto bytes = testsupport::ReadFileBytes(entry.path());
        for (auto box : {std::pair{700, 500}, std::pair{100, 60}}) {
            ImageHistogram h;
            const auto bmp = DecodeToBitmap(bytes.data(), bytes.size(), h, 0, box.first, box.second, false);
            ASSERT_TRUE(bmp.has_value()) << entry.path();
            ASSERT_FALSE(bmp->Empty());
            EXPECT_LE(bmp->width, box.first);
            EXPECT_LE(bmp->height, box.second);
            EXPECT_EQ(h.SampleCount(), static_cast<uint32_t>(bmp->width * bmp->height)) << entry.path();
            uint32_t biggest = 0, red = 0;
            for (int i = 0; i < 256; ++i) {
                biggest = std::max(biggest, h.RawBin(ImageHistogram::Intensity, i));
                red += h.RawBin(ImageHistogram::Red, i);
            }
            EXPECT_EQ(red, h.SampleCount());
            EXPECT_LT(biggest, 4 * h.SampleCount() / 2) << "nearly all in one bin: " << entry.path();
        }
        const Bitmap full = DecodeFullSize(bytes.data(), bytes.size(), 90);
        EXPECT_EQ(full.height, 150) << entry.path();
        ++decoded;
    }
    EXPECT_GE(decoded, 3);
    // A big-endian TIFF with four samples per pixel shows nothing, and raises nothing.
    const auto rgba = testsupport::ReadFileBytes(shared / "real" / "Reagan.tiff");
    ImageHistogram h;
    EXPECT_FALSE(DecodeToBitmap(rgba.data(), rgba.size(), h, 0, 700, 500, false).has_value());
}

TEST(JpegSharedFiles, HostileFilesNeverCrash)
{
    REQUIRE_SHARED_TESTDATA(shared);
    for (const char* folder : {"hostile", "real"}) {
        for (const auto& entry : std::filesystem::directory_iterator(shared / folder)) {
            const auto bytes = testsupport::ReadFileBytes(entry.path());
            for (int rotation : {0, 90}) {
                ImageHistogram h;
                try {
                    const auto bmp = DecodeToBitmap(bytes.data(), bytes.size(), h, rotation, 320, 200, true);
                    if (bmp && !bmp->Empty()) {
                        EXPECT_EQ(bmp->pixels.size(), static_cast<size_t>(bmp->stride) * bmp->height);
                    }
                } catch (const JpegError&) {
                }
                try {
                    DecodeFullSize(bytes.data(), bytes.size(), rotation);
                } catch (const JpegError&) {
                }
            }
        }
    }
}
