// The simulated camera's pictures, read back with libjpeg and Exiv2 (readers nobody here
// wrote) and with the CRW directory walk the release thread uses.
#include "backends/sim/SimPictures.h"
#include "camera/CrwPreviews.h"
#include "colour/DisplayTransform.h"
#include "colour/PictureColourSpace.h"
#include "imaging/ImageInfo.h"
#include "imaging/TiffReader.h"

#include "support/TestSupport.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using sim::SimPictureParams;

// ---- readers -----------------------------------------------------------------------------

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // rows top first, 3 bytes a pixel

    const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

[[noreturn]] void ThrowDecodeError(j_common_ptr cinfo)
{
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    throw std::runtime_error(message);
}

Decoded DecodeJpeg(const std::vector<uint8_t>& bytes)
{
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jerr.error_exit = ThrowDecodeError;
    jpeg_create_decompress(&cinfo);
    struct Guard {
        jpeg_decompress_struct* c;
        ~Guard() { jpeg_destroy_decompress(c); }
    } guard{&cinfo};
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    Decoded d;
    d.width = static_cast<int>(cinfo.output_width);
    d.height = static_cast<int>(cinfo.output_height);
    d.rgb.resize(static_cast<size_t>(d.width) * d.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &d.rgb[static_cast<size_t>(cinfo.output_scanline) * d.width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    return d;
}

Exiv2::ExifData ReadExif(const std::vector<uint8_t>& bytes)
{
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes.data(), static_cast<long>(bytes.size()));
    image->readMetadata();
    return image->exifData();
}

std::optional<Exiv2::Exifdatum> Find(const Exiv2::ExifData& exif, const char* key)
{
    auto it = exif.findKey(Exiv2::ExifKey(key));
    if (it == exif.end())
        return std::nullopt;
    return *it;
}

std::string Text(const Exiv2::ExifData& exif, const char* key)
{
    auto d = Find(exif, key);
    return d ? d->toString() : std::string("<missing " + std::string(key) + ">");
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t pos)
{
    return b[pos] | (b[pos + 1] << 8) | (b[pos + 2] << 16) | (static_cast<uint32_t>(b[pos + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t pos)
{
    return static_cast<uint16_t>(b[pos] | (b[pos + 1] << 8));
}
uint32_t Be32(const std::vector<uint8_t>& b, size_t pos)
{
    return (static_cast<uint32_t>(b[pos]) << 24) | (b[pos + 1] << 16) | (b[pos + 2] << 8) | b[pos + 3];
}

struct CrwEntry {
    uint16_t tag;
    uint32_t length;
    size_t start;  // absolute position in the item
};

// The release thread's walk: heap start at offset 2, directory offset in the last four
// bytes, 10-byte entries. Every entry must lie inside the item.
std::vector<CrwEntry> WalkCrw(const std::vector<uint8_t>& b)
{
    std::vector<CrwEntry> entries;
    if (b.size() < 10)
        return entries;
    const size_t heap = Le32(b, 2);
    const size_t dir = heap + Le32(b, b.size() - 4);
    if (dir + 2 > b.size())
        return entries;
    const uint16_t count = Le16(b, dir);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t e = dir + 2 + 10u * i;
        if (e + 10 > b.size())
            break;
        CrwEntry entry{Le16(b, e), Le32(b, e + 2), heap + Le32(b, e + 6)};
        entries.push_back(entry);
    }
    return entries;
}

SimPictureParams SmallParams()
{
    SimPictureParams p;
    p.model = "Canon EOS 10D";
    p.width = 320;
    p.height = 213;
    p.jpegQuality = 92;
    p.captureTime = 1700000000;
    p.seed = 11;
    p.frameNumber = 42;
    return p;
}

// ---- sizes and exposure values -------------------------------------------------------------

TEST(SimPictureSizes, EachModelHasItsOwnSizes)
{
    struct Case {
        const char* model;
        int w0, h0, w1, h1, w2, h2, pw, ph;
    };
    const Case cases[] = {
        {"Canon EOS 10D", 3072, 2048, 2048, 1360, 1536, 1024, 1536, 1024},
        {"Canon EOS 300D DIGITAL", 3072, 2048, 2048, 1360, 1536, 1024, 1536, 1024},
        {"Canon EOS DIGITAL REBEL", 3072, 2048, 2048, 1360, 1536, 1024, 1536, 1024},
        {"Canon EOS D60", 3072, 2048, 2048, 1360, 1536, 1024, 1536, 1024},
        {"Canon EOS D30", 2160, 1440, 1080, 720, 1080, 720, 1080, 720},
        {"Canon EOS-1D", 2464, 1648, 1232, 824, 1232, 824, 1232, 824},
        {"Canon EOS-1DS", 4064, 2704, 2032, 1352, 1536, 1024, 1536, 1024},
        {"Some Other Camera", 3072, 2048, 2048, 1360, 1536, 1024, 1536, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        const sim::SimModelSizes s = sim::SizesForModel(c.model);
        EXPECT_EQ(s.width[0], c.w0);
        EXPECT_EQ(s.height[0], c.h0);
        EXPECT_EQ(s.width[1], c.w1);
        EXPECT_EQ(s.height[1], c.h1);
        EXPECT_EQ(s.width[2], c.w2);
        EXPECT_EQ(s.height[2], c.h2);
        EXPECT_EQ(s.crwPreviewWidth, c.pw);
        EXPECT_EQ(s.crwPreviewHeight, c.ph);
    }
    EXPECT_EQ(sim::JpegQualityForCode(3), 92);
    EXPECT_EQ(sim::JpegQualityForCode(2), 75);
}

// The shutter-speed list labels, as the settings panel shows them, against the value
// written into ExposureTime: the program prints t >= 0.3 with "%g" and shorter times as
// "1/%d" of 1/t truncated, so every label must come back exactly.
std::string ExposureLabel(double t)
{
    char text[32];
    if (t >= 0.3)
        std::snprintf(text, sizeof text, "%g", t);
    else
        std::snprintf(text, sizeof text, "1/%d", static_cast<int>(1.0 / t));
    return text;
}

TEST(SimExposureValues, EveryListedShutterSpeedGivesItsLabel)
{
    struct Entry {
        uint16_t code;
        const char* label;
    };
    const Entry fine[] = {
        {0x10, "30"},     {0x13, "25"},     {0x15, "20"},     {0x18, "15"},     {0x1B, "13"},     {0x1D, "10"},
        {0x20, "8"},      {0x23, "6"},      {0x25, "5"},      {0x28, "4"},      {0x2B, "3.2"},    {0x2D, "2.5"},
        {0x30, "2"},      {0x33, "1.6"},    {0x35, "1.3"},    {0x38, "1"},      {0x3B, "0.8"},    {0x3D, "0.6"},
        {0x40, "0.5"},    {0x43, "0.4"},    {0x45, "0.3"},    {0x48, "1/4"},    {0x4B, "1/5"},    {0x4D, "1/6"},
        {0x50, "1/8"},    {0x53, "1/10"},   {0x55, "1/13"},   {0x58, "1/15"},   {0x5B, "1/20"},   {0x5D, "1/25"},
        {0x60, "1/30"},   {0x63, "1/40"},   {0x65, "1/50"},   {0x68, "1/60"},   {0x6B, "1/80"},   {0x6D, "1/100"},
        {0x70, "1/125"},  {0x73, "1/160"},  {0x75, "1/200"},  {0x78, "1/250"},  {0x7B, "1/320"},  {0x7D, "1/400"},
        {0x80, "1/500"},  {0x83, "1/640"},  {0x85, "1/800"},  {0x88, "1/1000"}, {0x8B, "1/1250"}, {0x8D, "1/1600"},
        {0x90, "1/2000"}, {0x93, "1/2500"}, {0x95, "1/3200"}, {0x98, "1/4000"},
    };
    const Entry coarse[] = {
        {0x10, "30"},     {0x14, "20"},     {0x18, "15"},     {0x1C, "10"},     {0x20, "8"},      {0x24, "6"},
        {0x28, "4"},      {0x2C, "3"},      {0x30, "2"},      {0x34, "1.5"},    {0x38, "1"},      {0x3C, "0.7"},
        {0x40, "0.5"},    {0x44, "0.3"},    {0x48, "1/4"},    {0x4C, "1/6"},    {0x50, "1/8"},    {0x54, "1/10"},
        {0x58, "1/15"},   {0x5C, "1/20"},   {0x60, "1/30"},   {0x64, "1/45"},   {0x68, "1/60"},   {0x6C, "1/90"},
        {0x70, "1/125"},  {0x74, "1/180"},  {0x78, "1/250"},  {0x7C, "1/350"},  {0x80, "1/500"},  {0x84, "1/750"},
        {0x88, "1/1000"}, {0x8C, "1/1500"}, {0x90, "1/2000"}, {0x94, "1/3000"}, {0x98, "1/4000"},
    };
    for (const Entry& e : fine)
        EXPECT_EQ(ExposureLabel(sim::TvCodeToSeconds(e.code)), e.label) << "fine code " << e.code;
    for (const Entry& e : coarse)
        EXPECT_EQ(ExposureLabel(sim::TvCodeToSeconds(e.code)), e.label) << "coarse code " << e.code;

    // The rational form is what goes into the file; it must agree with the value.
    for (const Entry& e : fine) {
        const sim::ExifRational r = sim::TvCodeToExposureRational(e.code);
        ASSERT_NE(r.denominator, 0u);
        EXPECT_DOUBLE_EQ(static_cast<double>(r.numerator) / r.denominator, sim::TvCodeToSeconds(e.code));
    }
}

TEST(SimExposureValues, EveryListedApertureGivesItsLabel)
{
    struct Entry {
        uint16_t code;
        double f;
    };
    const Entry fine[] = {
        {0x08, 1.0},  {0x0B, 1.1},  {0x0D, 1.2},  {0x10, 1.4},  {0x13, 1.6},  {0x15, 1.8},  {0x18, 2},
        {0x1B, 2.2},  {0x1D, 2.5},  {0x20, 2.8},  {0x23, 3.2},  {0x25, 3.5},  {0x28, 4},    {0x2B, 4.5},
        {0x2D, 5.0},  {0x30, 5.6},  {0x33, 6.3},  {0x35, 7.1},  {0x38, 8.0},  {0x3B, 9.0},  {0x3D, 10},
        {0x40, 11},   {0x43, 12},   {0x45, 14},   {0x48, 16},   {0x4B, 18},   {0x4D, 20},   {0x50, 22},
        {0x53, 25},   {0x55, 29},   {0x58, 32},   {0x5B, 36},   {0x5D, 40},   {0x60, 45},   {0x63, 51},
        {0x65, 57},   {0x68, 64},   {0x6B, 72},   {0x6D, 81},   {0x70, 91},
    };
    const Entry coarse[] = {
        {0x08, 1.0}, {0x0C, 1.2}, {0x10, 1.4}, {0x14, 1.8}, {0x18, 2},   {0x1C, 2.5}, {0x20, 2.8},
        {0x24, 3.5}, {0x28, 4},   {0x2C, 4.5}, {0x30, 5.6}, {0x34, 6.7}, {0x38, 8},   {0x3C, 9.5},
        {0x40, 11},  {0x44, 13},  {0x48, 16},  {0x4C, 19},  {0x50, 22},  {0x54, 27},  {0x58, 32},
        {0x5C, 38},  {0x60, 45},  {0x64, 54},  {0x68, 64},  {0x6C, 76},  {0x70, 91},
    };
    for (const Entry& e : fine)
        EXPECT_NEAR(sim::AvCodeToFNumber(e.code), e.f, 1e-9) << "fine code " << e.code;
    for (const Entry& e : coarse)
        EXPECT_NEAR(sim::AvCodeToFNumber(e.code), e.f, 1e-9) << "coarse code " << e.code;
}

TEST(SimExposureValues, UnlistedCodesTakeTheNearestListedValue)
{
    EXPECT_EQ(ExposureLabel(sim::TvCodeToSeconds(0x04)), "30");     // bulb
    EXPECT_EQ(ExposureLabel(sim::TvCodeToSeconds(0x00)), "30");
    EXPECT_EQ(ExposureLabel(sim::TvCodeToSeconds(0x11)), "30");     // next to 0x10
    EXPECT_EQ(ExposureLabel(sim::TvCodeToSeconds(0x12)), "25");     // next to 0x13
    EXPECT_EQ(ExposureLabel(sim::TvCodeToSeconds(0x71)), "1/125");
    EXPECT_EQ(ExposureLabel(sim::TvCodeToSeconds(0xA0)), "1/4000");
    EXPECT_EQ(ExposureLabel(sim::TvCodeToSeconds(0xFFFF)), "1/125");  // "Auto": the program line
    EXPECT_DOUBLE_EQ(sim::AvCodeToFNumber(0x00), 1.0);
    EXPECT_DOUBLE_EQ(sim::AvCodeToFNumber(0x31), 5.6);
    EXPECT_DOUBLE_EQ(sim::AvCodeToFNumber(0x90), 91.0);
    EXPECT_DOUBLE_EQ(sim::AvCodeToFNumber(0xFFFF), 5.6);
}

TEST(SimFocusPoints, SelectionCodesNameTheRightPoints)
{
    // Seven-point bodies: selection codes to the AF-information mask bits.
    EXPECT_EQ(sim::SevenPointAfMaskFor(0x7007, 0), 0x10);  // top
    EXPECT_EQ(sim::SevenPointAfMaskFor(0x7006, 0), 0x40);  // far left
    EXPECT_EQ(sim::SevenPointAfMaskFor(0x7004, 0), 0x20);  // left
    EXPECT_EQ(sim::SevenPointAfMaskFor(0x7003, 0), 0x08);  // centre
    EXPECT_EQ(sim::SevenPointAfMaskFor(0x7002, 0), 0x02);  // right
    EXPECT_EQ(sim::SevenPointAfMaskFor(0x7005, 0), 0x01);  // far right
    EXPECT_EQ(sim::SevenPointAfMaskFor(0x7008, 0), 0x04);  // bottom
    // Automatic selection names exactly one of the seven points, the same for a seed.
    for (uint32_t seed = 0; seed < 50; ++seed) {
        const uint16_t m = sim::SevenPointAfMaskFor(0x7001, seed);
        EXPECT_TRUE(m != 0 && (m & (m - 1)) == 0 && m <= 0x40) << m;
        EXPECT_EQ(m, sim::SevenPointAfMaskFor(0x7001, seed));
    }
    // Three-point bodies.
    EXPECT_EQ(sim::ThreePointAfValueFor(0x3004, 0), 0x3004);
    EXPECT_EQ(sim::ThreePointAfValueFor(0x3003, 0), 0x3002);
    EXPECT_EQ(sim::ThreePointAfValueFor(0x3002, 0), 0x3001);
    for (uint32_t seed = 0; seed < 20; ++seed) {
        const uint16_t v = sim::ThreePointAfValueFor(0x3001, seed);
        EXPECT_TRUE(v == 0x3004 || v == 0x3002 || v == 0x3001) << v;
    }
    // The 45-point centre: the middle of the eleven points of row 3.
    const auto b = sim::FortyFivePointAfCentre();
    const int row3 = ((b[4] << 8) | b[3]) >> 5;
    EXPECT_EQ(row3, 1 << 5);
    EXPECT_EQ(b[1] | b[2] | b[5] | b[6] | b[7], 0);
}

// ---- JPEG pictures -------------------------------------------------------------------------

TEST(SimJpeg, DecodesAtTheRequestedSizeWithExifRightAfterSoi)
{
    SimPictureParams p = SmallParams();
    const std::vector<uint8_t> jpeg = sim::MakeSimJpeg(p);
    ASSERT_GT(jpeg.size(), 12u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[2], 0xFF);
    EXPECT_EQ(jpeg[3], 0xE1);
    EXPECT_EQ(std::memcmp(&jpeg[6], "Exif\0\0II*\0", 10), 0);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);

    const Decoded d = DecodeJpeg(jpeg);
    EXPECT_EQ(d.width, 320);
    EXPECT_EQ(d.height, 213);

    p.width = 17;
    p.height = 9;
    const Decoded tiny = DecodeJpeg(sim::MakeSimJpeg(p));
    EXPECT_EQ(tiny.width, 17);
    EXPECT_EQ(tiny.height, 9);
}

TEST(SimJpeg, SceneHasClippedHighlightsARampAndAVisibleNumber)
{
    const Decoded d = DecodeJpeg(sim::MakeSimJpeg(SmallParams()));
    ASSERT_EQ(d.width, 320);
    // Clipped white: the first colour bar and the disc. The highlight display looks for
    // values at the top of the range.
    size_t white = 0;
    for (size_t i = 0; i + 2 < d.rgb.size(); i += 3)
        white += (d.rgb[i] >= 254 && d.rgb[i + 1] >= 254 && d.rgb[i + 2] >= 254) ? 1 : 0;
    EXPECT_GT(white, d.rgb.size() / 3 / 40);
    EXPECT_GE(d.At(10, 10)[0], 250);
    // The grey ramp runs dark to light from left to right.
    const int rampY = d.height * 7 / 16;
    EXPECT_LT(d.At(4, rampY)[1], 30);
    EXPECT_GT(d.At(d.width - 5, rampY)[1], 225);
    EXPECT_LT(d.At(d.width / 4, rampY)[1], d.At(d.width / 2, rampY)[1]);
    // The lower half is neither one flat colour nor like the upper half.
    int lo = 255, hi = 0;
    for (int x = 0; x < d.width; ++x) {
        const int v = d.At(x, d.height * 5 / 8)[1];
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_GT(hi - lo, 100);
}

TEST(SimJpeg, DifferentFrameNumbersAndSeedsGiveDifferentPictures)
{
    SimPictureParams p = SmallParams();
    const std::vector<uint8_t> a = sim::MakeSimJpeg(p);
    EXPECT_EQ(a, sim::MakeSimJpeg(p));
    EXPECT_EQ(sim::MakeSimThumbnail(p), sim::MakeSimThumbnail(p));
    EXPECT_EQ(sim::MakeSimCrw(p, 1000), sim::MakeSimCrw(p, 1000));
    EXPECT_EQ(sim::MakeSimTiff(p, 40, 30), sim::MakeSimTiff(p, 40, 30));

    SimPictureParams q = p;
    q.seed = p.seed + 1;
    const Decoded da = DecodeJpeg(a), dq = DecodeJpeg(sim::MakeSimJpeg(q));
    EXPECT_NE(da.rgb, dq.rgb);
    q = p;
    q.frameNumber = p.frameNumber + 1;
    EXPECT_NE(da.rgb, DecodeJpeg(sim::MakeSimJpeg(q)).rgb);
    EXPECT_NE(sim::MakeSimCrw(p, 1000), sim::MakeSimCrw(q, 1000));
}

TEST(SimJpeg, QualityCodeChangesTheEncoding)
{
    SimPictureParams p = SmallParams();
    p.jpegQuality = sim::JpegQualityForCode(3);
    const size_t fine = sim::MakeSimJpeg(p).size();
    p.jpegQuality = sim::JpegQualityForCode(2);
    const size_t normal = sim::MakeSimJpeg(p).size();
    EXPECT_LT(normal, fine);
}

TEST(SimJpeg, SizesOutOfRangeAreRefused)
{
    SimPictureParams p = SmallParams();
    for (auto [w, h] : {std::pair{0, 10}, {10, 0}, {-5, 10}, {sim::kMaxSimPictureSide + 1, 10}}) {
        p.width = w;
        p.height = h;
        EXPECT_THROW(sim::MakeSimJpeg(p), std::invalid_argument) << w << "x" << h;
        EXPECT_THROW(sim::MakeSimCrw(p, 16), std::invalid_argument) << w << "x" << h;
    }
    EXPECT_THROW(sim::MakeSimTiff(SmallParams(), 0, 5), std::invalid_argument);
}

// Full size once: the picture a 10D hands over at Large/Fine weighs what a real one does
// (grain and detail everywhere), so downloads and saves take their real time.
TEST(SimJpeg, FullSizePictureDecodesAndWeighsWhatACameraPictureDoes)
{
    SimPictureParams p = SmallParams();
    p.width = 3072;
    p.height = 2048;
    p.jpegQuality = sim::JpegQualityForCode(3);
    const std::vector<uint8_t> jpeg = sim::MakeSimJpeg(p);
    EXPECT_GE(jpeg.size(), 2500000u);
    EXPECT_LE(jpeg.size(), 3500000u);
    const Decoded d = DecodeJpeg(jpeg);
    EXPECT_EQ(d.width, 3072);
    EXPECT_EQ(d.height, 2048);
    EXPECT_EQ(Text(ReadExif(jpeg), "Exif.Photo.PixelXDimension"), "3072");
    // The grain is there in the flat areas, and clipped white stays clipped.
    int lo = 255, hi = 0;
    for (int x = 2000; x < 2100; ++x) {
        const int v = d.At(x, 2048 * 7 / 16)[1];  // a short stretch of the grey ramp
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_GT(hi - lo, 12);
    EXPECT_GE(d.At(10, 10)[0], 250);
}

// ---- Exif read back with Exiv2 ---------------------------------------------------------------

struct ExifCase {
    const char* model;
    int orientation;
    uint16_t tv, av;
    const char* exposure;  // Exiv2's rational text
    const char* fnumber;   // value as a rational
};

TEST(SimExif, Exiv2ReadsModelOrientationExposureAndDate)
{
    const ExifCase cases[] = {
        {"Canon EOS 10D", 1, 0x70, 0x30, "1/125", "56/10"},
        {"Canon EOS 300D DIGITAL", 3, 0x38, 0x58, "1/1", "320/10"},
        {"Canon EOS D60", 6, 0x10, 0x20, "30/1", "28/10"},
        {"Canon EOS D30", 8, 0x45, 0x08, "3/10", "10/10"},
        {"Canon EOS 10D", 1, 0x6C, 0x34, "1/90", "67/10"},
    };
    for (const ExifCase& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " tv " + std::to_string(c.tv));
        SimPictureParams p = SmallParams();
        p.model = c.model;
        p.exifOrientation = c.orientation;
        p.tvCode = c.tv;
        p.avCode = c.av;
        const Exiv2::ExifData exif = ReadExif(sim::MakeSimJpeg(p));
        EXPECT_EQ(Text(exif, "Exif.Image.Make"), "Canon");
        EXPECT_EQ(Text(exif, "Exif.Image.Model"), c.model);
        EXPECT_EQ(Text(exif, "Exif.Image.Orientation"), std::to_string(c.orientation));
        EXPECT_EQ(Text(exif, "Exif.Photo.ExposureTime"), c.exposure);
        EXPECT_EQ(Text(exif, "Exif.Photo.FNumber"), c.fnumber);
        EXPECT_EQ(Text(exif, "Exif.Photo.PixelXDimension"), "320");
        EXPECT_EQ(Text(exif, "Exif.Photo.PixelYDimension"), "213");
        auto date = Find(exif, "Exif.Photo.DateTimeOriginal");
        ASSERT_TRUE(date.has_value());
        EXPECT_EQ(date->toString().size(), 19u);
        EXPECT_EQ(date->toString().substr(0, 5), "2023:");
    }
}

TEST(SimExif, OrientationOutsideTheTagsRangeIsWrittenAsNormal)
{
    SimPictureParams p = SmallParams();
    p.exifOrientation = 0;
    EXPECT_EQ(Text(ReadExif(sim::MakeSimJpeg(p)), "Exif.Image.Orientation"), "1");
    p.exifOrientation = 2;  // mirrored: written as given
    EXPECT_EQ(Text(ReadExif(sim::MakeSimJpeg(p)), "Exif.Image.Orientation"), "2");
    p.exifOrientation = 99;
    EXPECT_EQ(Text(ReadExif(sim::MakeSimJpeg(p)), "Exif.Image.Orientation"), "1");
}

// Exiv2 decodes the Canon maker note: tag 4 as the shot-information array (element 14 is
// AFPointUsed), tag 18 as the picture-information array (element 22 is AFPointsUsed) and
// tag 148 as AFPointsInFocus1D.
TEST(SimExif, MakerNoteCarriesTheFocusPointsUsed)
{
    SimPictureParams p = SmallParams();
    p.threePointAf = 0x3004;
    p.sevenPointAfMask = 0x20;
    const Exiv2::ExifData exif = ReadExif(sim::MakeSimJpeg(p));

    auto si = Find(exif, "Exif.CanonSi.AFPointUsed");
    ASSERT_TRUE(si.has_value());
    EXPECT_EQ(si->toLong(), 0x3004);
    auto pi = Find(exif, "Exif.CanonPi.AFPointsUsed");
    ASSERT_TRUE(pi.has_value());
    EXPECT_EQ(pi->toLong(), 0x20);
    EXPECT_FALSE(Find(exif, "Exif.Canon.AFPointsInFocus1D").has_value());
    EXPECT_EQ(Text(exif, "Exif.MakerNote.ByteOrder"), "II");
    EXPECT_EQ(Text(exif, "Exif.Canon.FileNumber"), "1000042");

    // The raw arrays are long enough for the program's reader (more than 14 and more
    // than 23 elements).
    auto shot = Find(exif, "Exif.CanonSi.AutoISO");
    ASSERT_TRUE(shot.has_value());

    p.hasFortyFivePointAf = true;
    p.fortyFivePointAf = {1, 2, 3, 4, 5, 6, 7, 8};
    const Exiv2::ExifData exif1d = ReadExif(sim::MakeSimJpeg(p));
    auto af45 = Find(exif1d, "Exif.Canon.AFPointsInFocus1D");
    ASSERT_TRUE(af45.has_value());
    ASSERT_EQ(af45->count(), 8);
    EXPECT_EQ(af45->typeId(), Exiv2::undefined);
    for (long i = 0; i < 8; ++i)
        EXPECT_EQ(af45->toLong(i), i + 1);
}

// The lens's focus position travels in SubjectDistance: 0.45 m at the nearest position, 50 mm
// more per position, so equal focus steps give equally spaced distances; the maker note
// after it still decodes.
TEST(SimExif, SubjectDistanceCarriesTheFocusPositionEquallySpaced)
{
    SimPictureParams p = SmallParams();
    p.threePointAf = 0x3004;
    EXPECT_FALSE(Find(ReadExif(sim::MakeSimJpeg(p)), "Exif.Photo.SubjectDistance").has_value());
    double previous = 0;
    for (int position : {10, 11, 12}) {
        p.focusPosition = position;
        const Exiv2::ExifData exif = ReadExif(sim::MakeSimJpeg(p));
        auto d = Find(exif, "Exif.Photo.SubjectDistance");
        ASSERT_TRUE(d.has_value()) << position;
        const double metres = d->toRational().first / static_cast<double>(d->toRational().second);
        EXPECT_NEAR(metres, 0.45 + 0.05 * position, 1e-9);
        if (previous > 0) {
            EXPECT_NEAR(metres - previous, 0.05, 1e-9);
        }
        previous = metres;
        auto si = Find(exif, "Exif.CanonSi.AFPointUsed");
        ASSERT_TRUE(si.has_value());
        EXPECT_EQ(si->toLong(), 0x3004);
    }
}

// The exposure compensation travels in ExposureBiasValue, in lowest terms, thirds and halves
// exact (a bracket in an automatic mode is read back from it).
TEST(SimExif, ExposureBiasCarriesTheCompensationExactly)
{
    SimPictureParams p = SmallParams();
    const std::vector<std::pair<uint16_t, std::string>> cases = {
        {0x18, "0/1"}, {0x1D, "-2/3"}, {0x10, "1/1"}, {0x0D, "4/3"}, {0x1C, "-1/2"}, {0x08, "2/1"}, {0x28, "-2/1"}};
    for (const auto& [code, text] : cases) {
        p.expCompCode = code;
        auto bias = Find(ReadExif(sim::MakeSimJpeg(p)), "Exif.Photo.ExposureBiasValue");
        ASSERT_TRUE(bias.has_value()) << code;
        EXPECT_EQ(bias->toString(), text) << code;
    }
}

// The maker note's arrays, read straight from the bytes the way the program's reader
// walks them: a bare directory at the MakerNote offset, offsets from the TIFF start.
TEST(SimExif, MakerNoteArraysSitWhereTheProgramLooks)
{
    SimPictureParams p = SmallParams();
    p.threePointAf = 0x3001;
    p.sevenPointAfMask = 0x04;
    const std::vector<uint8_t> jpeg = sim::MakeSimJpeg(p);
    const size_t segLen = (jpeg[4] << 8) | jpeg[5];
    const std::vector<uint8_t> tiff(jpeg.begin() + 12, jpeg.begin() + 4 + static_cast<long>(segLen));

    auto findEntry = [&tiff](size_t ifd, uint16_t tag) -> std::optional<size_t> {
        const uint16_t n = Le16(tiff, ifd);
        for (uint16_t i = 0; i < n; ++i) {
            const size_t e = ifd + 2 + 12u * i;
            if (Le16(tiff, e) == tag)
                return e;
        }
        return std::nullopt;
    };
    auto exifPtr = findEntry(Le32(tiff, 4), 0x8769);
    ASSERT_TRUE(exifPtr);
    auto makerNote = findEntry(Le32(tiff, *exifPtr + 8), 0x927C);
    ASSERT_TRUE(makerNote);
    const size_t mn = Le32(tiff, *makerNote + 8);
    ASSERT_LT(mn + Le32(tiff, *makerNote + 4), tiff.size() + 1);

    auto tag4 = findEntry(mn, 4);
    ASSERT_TRUE(tag4);
    EXPECT_EQ(Le16(tiff, *tag4 + 2), 3);  // SHORT
    EXPECT_GT(Le32(tiff, *tag4 + 4), 14u);
    EXPECT_EQ(Le16(tiff, Le32(tiff, *tag4 + 8) + 2 * 14), 0x3001);

    auto tag18 = findEntry(mn, 18);
    ASSERT_TRUE(tag18);
    EXPECT_EQ(Le16(tiff, *tag18 + 2), 3);
    EXPECT_GT(Le32(tiff, *tag18 + 4), 23u);
    EXPECT_EQ(Le16(tiff, Le32(tiff, *tag18 + 8) + 2 * 22), 0x04);
}

// ---- THM thumbnail ---------------------------------------------------------------------------

TEST(SimThumbnail, IsA160By120JpegWithTheSameExif)
{
    SimPictureParams p = SmallParams();
    p.width = 3072;  // the thumbnail's size does not follow the picture's
    p.height = 2048;
    p.model = "Canon EOS 300D DIGITAL";
    p.exifOrientation = 8;
    p.sevenPointAfMask = 0x40;
    const std::vector<uint8_t> thm = sim::MakeSimThumbnail(p);
    const Decoded d = DecodeJpeg(thm);
    EXPECT_EQ(d.width, 160);
    EXPECT_EQ(d.height, 120);
    // Letterboxed: black bands above and below the 160 x 106 scene.
    EXPECT_LT(d.At(80, 1)[0] + d.At(80, 1)[1] + d.At(80, 1)[2], 30);
    EXPECT_LT(d.At(80, 118)[0] + d.At(80, 118)[1] + d.At(80, 118)[2], 30);
    EXPECT_GT(d.At(5, 20)[0], 240);  // the white bar

    const Exiv2::ExifData exif = ReadExif(thm);
    EXPECT_EQ(Text(exif, "Exif.Image.Model"), "Canon EOS 300D DIGITAL");
    EXPECT_EQ(Text(exif, "Exif.Image.Orientation"), "8");
    EXPECT_EQ(Text(exif, "Exif.Photo.ExposureTime"), "1/125");
    auto pi = Find(exif, "Exif.CanonPi.AFPointsUsed");
    ASSERT_TRUE(pi.has_value());
    EXPECT_EQ(pi->toLong(), 0x40);
}

// ---- RAW in CRW form -------------------------------------------------------------------------

TEST(SimCrw, HeaderAndDirectoryFollowTheCiffLayout)
{
    const std::vector<uint8_t> crw = sim::MakeSimCrw(SmallParams(), 5001);
    ASSERT_GT(crw.size(), 26u);
    EXPECT_EQ(crw[0], 'I');
    EXPECT_EQ(crw[1], 'I');
    EXPECT_EQ(Le32(crw, 2), 26u);
    EXPECT_EQ(std::memcmp(&crw[6], "HEAPCCDR", 8), 0);

    const std::vector<CrwEntry> entries = WalkCrw(crw);
    ASSERT_FALSE(entries.empty());
    int jpegs = 0, raws = 0;
    for (const CrwEntry& e : entries) {
        EXPECT_LE(e.start + e.length, crw.size()) << "entry " << e.tag << " runs past the item";
        if (e.tag == 0x2007)
            ++jpegs;
        if (e.tag == 0x2005) {
            ++raws;
            EXPECT_EQ(e.length, 5001u);
        }
    }
    EXPECT_EQ(jpegs, 1);
    EXPECT_EQ(raws, 1);
}

TEST(SimCrw, PreviewEntryIsADecodableJpegWithExif)
{
    SimPictureParams p = SmallParams();
    p.model = "Canon EOS D60";
    p.exifOrientation = 6;
    const std::vector<uint8_t> crw = sim::MakeSimCrw(p, 64 * 1024);
    for (const CrwEntry& e : WalkCrw(crw)) {
        if (e.tag != 0x2007)
            continue;
        const std::vector<uint8_t> jpeg(crw.begin() + static_cast<long>(e.start),
                                        crw.begin() + static_cast<long>(e.start + e.length));
        const Decoded d = DecodeJpeg(jpeg);
        EXPECT_EQ(d.width, 320);
        EXPECT_EQ(d.height, 213);
        const Exiv2::ExifData exif = ReadExif(jpeg);
        EXPECT_EQ(Text(exif, "Exif.Image.Model"), "Canon EOS D60");
        EXPECT_EQ(Text(exif, "Exif.Image.Orientation"), "6");
        return;
    }
    FAIL() << "no 0x2007 entry";
}

TEST(SimCrw, PreviewOfAFullSizePictureHasTheModelsPreviewSize)
{
    SimPictureParams p = SmallParams();
    p.model = "Canon EOS D30";
    p.width = 2160;
    p.height = 1440;
    const std::vector<uint8_t> crw = sim::MakeSimCrw(p, 1024);
    for (const CrwEntry& e : WalkCrw(crw)) {
        if (e.tag == 0x2007) {
            const Decoded d = DecodeJpeg(std::vector<uint8_t>(crw.begin() + static_cast<long>(e.start),
                                                              crw.begin() + static_cast<long>(e.start + e.length)));
            EXPECT_EQ(d.width, 1080);
            EXPECT_EQ(d.height, 720);
            return;
        }
    }
    FAIL() << "no 0x2007 entry";
}

TEST(SimCrw, Exiv2ReadsTheMakeAndModel)
{
    SimPictureParams p = SmallParams();
    p.model = "Canon EOS 10D";
    const std::vector<uint8_t> crw = sim::MakeSimCrw(p, 4096);
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(crw.data(), static_cast<long>(crw.size()));
    EXPECT_EQ(image->imageType(), Exiv2::ImageType::crw);
    image->readMetadata();
    EXPECT_EQ(Text(image->exifData(), "Exif.Image.Make"), "Canon");
    EXPECT_EQ(Text(image->exifData(), "Exif.Image.Model"), "Canon EOS 10D");
}

// ---- TIFF ------------------------------------------------------------------------------------

TEST(SimTiff, BigEndianSingleStripWithinTheDisplayedHead)
{
    SimPictureParams p = SmallParams();
    p.exifOrientation = 3;
    const std::vector<uint8_t> tiff = sim::MakeSimTiff(p, 160, 106);
    ASSERT_GT(tiff.size(), 8u);
    EXPECT_EQ(std::memcmp(tiff.data(), "MM\0*", 4), 0);

    const Exiv2::ExifData exif = ReadExif(tiff);
    EXPECT_EQ(Text(exif, "Exif.Image.Model"), "Canon EOS 10D");
    EXPECT_EQ(Text(exif, "Exif.Image.Orientation"), "3");
    EXPECT_EQ(Text(exif, "Exif.Image.ImageWidth"), "160");
    EXPECT_EQ(Text(exif, "Exif.Image.ImageLength"), "106");
    EXPECT_EQ(Text(exif, "Exif.Image.BitsPerSample"), "8 8 8");
    EXPECT_EQ(Text(exif, "Exif.Image.Compression"), "1");
    EXPECT_EQ(Text(exif, "Exif.Image.SamplesPerPixel"), "3");
    EXPECT_EQ(Text(exif, "Exif.Photo.ExposureTime"), "1/125");
    EXPECT_EQ(Text(exif, "Exif.Photo.FNumber"), "56/10");

    auto offset = Find(exif, "Exif.Image.StripOffsets");
    auto count = Find(exif, "Exif.Image.StripByteCounts");
    ASSERT_TRUE(offset && count);
    const size_t start = static_cast<size_t>(offset->toLong());
    const size_t bytes = static_cast<size_t>(count->toLong());
    EXPECT_EQ(bytes, 160u * 106u * 3u);
    EXPECT_LE(start + bytes, 204800u);
    EXPECT_EQ(start + bytes, tiff.size());
    // The metadata lies within what the program reads of a saved .tif (30720 bytes).
    EXPECT_LT(start, 30720u);
    EXPECT_EQ(Be32(tiff, 4), 8u);
    // Top-left pixel: the pure-white bar; bottom-left: the tinted lower half.
    EXPECT_EQ(tiff[start], 255);
    EXPECT_EQ(tiff[start + 1], 255);
    EXPECT_EQ(tiff[start + 2], 255);
    EXPECT_LT(tiff[start + bytes - 160 * 3], 255);
}

// ---- the program's own readers ----------------------------------------------------------------

// What the release thread and the main window will make of each form: the Exif reader's
// texts and AF fields, the CRW preview walk and the TIFF reader on the displayed head.
TEST(SimPicturesInTheProgram, ExifReaderGetsTextsFocusPointsAndRotation)
{
    SimPictureParams p = SmallParams();
    p.tvCode = 0x45;
    p.avCode = 0x20;
    p.exifOrientation = 6;
    p.threePointAf = 0x3004;
    p.sevenPointAfMask = 0x10;
    p.hasFortyFivePointAf = true;
    p.fortyFivePointAf = sim::FortyFivePointAfCentre();
    for (const std::vector<uint8_t>& bytes : {sim::MakeSimJpeg(p), sim::MakeSimThumbnail(p)}) {
        const ImageInfo info = ImageInfo::ReadImageInfoFromMemory(bytes.data(), bytes.size());
        EXPECT_EQ(info.Model(), "Canon EOS 10D");
        EXPECT_EQ(info.ExposureText(), "0.3");
        EXPECT_EQ(info.ApertureText(), "2.8");
        EXPECT_EQ(info.Rotation(), 90);
        EXPECT_EQ(info.ThreePointAfValue(), 0x3004u);
        EXPECT_EQ(info.SevenPointAfMask(), 0x10u);
        EXPECT_EQ(info.FortyFivePointAfBits(), sim::FortyFivePointAfCentre());
    }

    p.tvCode = 0x8C;
    p.avCode = 0x58;
    p.exifOrientation = 8;
    const std::vector<uint8_t> tiff = sim::MakeSimTiff(p, 160, 106);
    const ImageInfo info = ImageInfo::ReadImageInfoFromMemory(tiff.data(), tiff.size());
    EXPECT_EQ(info.Model(), "Canon EOS 10D");
    EXPECT_EQ(info.ExposureText(), "1/1500");
    EXPECT_EQ(info.ApertureText(), "32.0");
    EXPECT_EQ(info.Rotation(), 270);
}

TEST(SimPicturesInTheProgram, CrwPreviewAndTiffHeadAreShown)
{
    const std::vector<uint8_t> crw = sim::MakeSimCrw(SmallParams(), 32 * 1024);
    const auto previews = CrwPreviews(crw);
    ASSERT_EQ(previews.size(), 1u);
    EXPECT_EQ(DecodeJpeg(previews[0]).width, 320);

    const std::vector<uint8_t> tiff = sim::MakeSimTiff(SmallParams(), 160, 106);
    const size_t head = std::min<size_t>(tiff.size(), 204800);
    const TiffImage image = ReadTiffImage(tiff.data(), head);
    ASSERT_TRUE(image.Ok()) << image.reason;
    EXPECT_EQ(image.width, 160);
    EXPECT_EQ(image.height, 106);
    EXPECT_EQ(image.pixels[0], 255);
}

// ---- fuzz seeds --------------------------------------------------------------------------------

// Writes the Exif fuzz target's seed inputs into the source tree. Run by hand:
//   sim_pictures_test --gtest_also_run_disabled_tests --gtest_filter='*WriteFuzzSeeds*'
TEST(SimPictureSeeds, DISABLED_WriteFuzzSeeds)
{
    const std::filesystem::path dir = testsupport::SourceDir() / "fuzz" / "corpus" / "exif";
    std::filesystem::create_directories(dir);
    SimPictureParams p = SmallParams();
    p.jpegQuality = 50;
    p.threePointAf = 0x3002;
    p.sevenPointAfMask = 0x08;
    p.exifOrientation = 6;
    testsupport::WriteFileBytes(dir / "sim-10d-320x213.jpg", sim::MakeSimJpeg(p));
    testsupport::WriteFileBytes(dir / "sim-10d.thm.jpg", sim::MakeSimThumbnail(p));
    p.model = "Canon EOS-1D";
    p.hasFortyFivePointAf = true;
    p.fortyFivePointAf = sim::FortyFivePointAfCentre();
    p.tvCode = 0x45;
    p.avCode = 0x58;
    p.width = 96;
    p.height = 64;
    testsupport::WriteFileBytes(dir / "sim-1d-45point.jpg", sim::MakeSimJpeg(p));
    p.model = "Canon EOS 10D";
    testsupport::WriteFileBytes(dir / "sim-40x27.tif", sim::MakeSimTiff(p, 40, 27));
}

} // namespace

// A body set to Adobe RGB records the same scene in Adobe RGB values and marks every file
// as the EOS bodies do (ColorSpace 0xFFFF, interoperability index "R03").
TEST(SimAdobeRgb, EveryFileIsMarkedR03AndCarriesTheSceneInAdobeRgbValues)
{
    SimPictureParams p = SmallParams();
    p.adobeRgb = true;
    const std::vector<uint8_t> jpeg = sim::MakeSimJpeg(p);
    const Exiv2::ExifData exif = ReadExif(jpeg);
    EXPECT_EQ(Text(exif, "Exif.Photo.ColorSpace"), "65535");
    EXPECT_EQ(Text(exif, "Exif.Iop.InteroperabilityIndex"), "R03");
    EXPECT_EQ(ImageInfo::ReadImageInfoFromMemory(jpeg.data(), jpeg.size()).Model(), "Canon EOS 10D");

    auto spaceOf = [](const std::vector<uint8_t>& b) { return colour::ReadPictureColourSpace(b.data(), b.size()); };
    EXPECT_EQ(spaceOf(jpeg).source, colour::ColourSpaceSource::Interoperability);
    EXPECT_EQ(spaceOf(jpeg).Name(), "Adobe RGB (1998)");
    EXPECT_EQ(spaceOf(sim::MakeSimThumbnail(p)).Name(), "Adobe RGB (1998)");
    const auto previews = CrwPreviews(sim::MakeSimCrw(p, 1024));
    ASSERT_EQ(previews.size(), 1u);
    EXPECT_EQ(spaceOf(previews[0]).Name(), "Adobe RGB (1998)");
    const std::vector<uint8_t> tiff = sim::MakeSimTiff(p, 40, 27);
    EXPECT_EQ(spaceOf(tiff).Name(), "Adobe RGB (1998)");
    EXPECT_EQ(ReadTiffImage(tiff.data(), tiff.size()).width, 40);
    // An sRGB body's pictures stay as they were: ColorSpace 1, no interoperability index.
    const std::vector<uint8_t> srgbJpeg = sim::MakeSimJpeg(SmallParams());
    EXPECT_EQ(spaceOf(srgbJpeg).source, colour::ColourSpaceSource::ExifColorSpace);
    EXPECT_FALSE(Find(ReadExif(srgbJpeg), "Exif.Iop.InteroperabilityIndex"));

    // The red bar (191, 0, 0 and grain) holds the Adobe RGB values of the same red: a
    // lower red number for the same colour.
    const Decoded srgb = DecodeJpeg(srgbJpeg), adobe = DecodeJpeg(jpeg);
    ASSERT_EQ(srgb.rgb.size(), adobe.rgb.size());
    double sum[2][3] = {};
    int n = 0;
    for (int y = 4; y < srgb.height * 3 / 8 - 4; ++y) {
        for (int x = srgb.width * 5 / 8 + 4; x < srgb.width * 6 / 8 - 4; ++x, ++n) {
            for (int c = 0; c < 3; ++c) {
                sum[0][c] += srgb.At(x, y)[c];
                sum[1][c] += adobe.At(x, y)[c];
            }
        }
    }
    ASSERT_GT(n, 100);
    uint8_t expected[3] = {static_cast<uint8_t>(std::lround(sum[0][0] / n)), static_cast<uint8_t>(std::lround(sum[0][1] / n)),
                           static_cast<uint8_t>(std::lround(sum[0][2] / n))};
    auto toAdobe = colour::DisplayTransform::Make(colour::Profile::Srgb(), colour::Profile::AdobeRgb(),
                                                  colour::RenderingIntent::RelativeColorimetricBpc,
                                                  colour::PixelOrder::Rgb);
    const double srgbRed = sum[0][0] / n;
    toAdobe->Apply(expected, 1, 1, 3);
    EXPECT_NEAR(sum[1][0] / n, expected[0], 4);
    EXPECT_LT(sum[1][0] / n, srgbRed - 15);
}
