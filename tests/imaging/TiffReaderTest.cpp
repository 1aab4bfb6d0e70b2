#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestPictures.h"
#include "imaging/TiffReader.h"
#include "support/TestSupport.h"

using testpictures::BuildTiff;
using testpictures::Rgb;
using testpictures::TiffOptions;

namespace {

Rgb Pattern(int w, int h)
{
    Rgb img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Set(x, y, static_cast<uint8_t>(x * 7 + y), static_cast<uint8_t>(y * 13), static_cast<uint8_t>(x ^ y));
    return img;
}

TiffImage Read(const std::vector<uint8_t>& bytes)
{
    return ReadTiffImage(bytes.data(), bytes.size());
}

} // namespace

TEST(TiffReader, ReadsEightBitRgbInBothByteOrders)
{
    const Rgb img = Pattern(13, 7);
    for (bool big : {true, false}) {
        TiffOptions o;
        o.bigEndian = big;
        const TiffImage t = Read(BuildTiff(img, o));
        ASSERT_TRUE(t.Ok()) << t.reason;
        EXPECT_EQ(t.width, 13);
        EXPECT_EQ(t.height, 7);
        EXPECT_EQ(t.pixels, img.pixels);
    }
}

TEST(TiffReader, ReadsEveryStripInOrder)
{
    const Rgb img = Pattern(10, 9);
    TiffOptions o;
    o.strips = 4;  // 3 + 3 + 3 + 0 rows
    const TiffImage t = Read(BuildTiff(img, o));
    ASSERT_TRUE(t.Ok()) << t.reason;
    EXPECT_EQ(t.pixels, img.pixels);
}

TEST(TiffReader, SixteenBitSamplesKeepTheirHighByte)
{
    // 2 x 1 pixels; each 16-bit sample is (v << 8) | 0x5A, stored in the file's order.
    const std::vector<uint16_t> values = {0x1000, 0xFF00, 0x0100, 0x8000, 0x7F00, 0x0000};
    for (bool big : {true, false}) {
        std::vector<uint8_t> samples;
        for (uint16_t v : values) {
            const uint16_t s = static_cast<uint16_t>(v | 0x5A);
            if (big) {
                samples.push_back(static_cast<uint8_t>(s >> 8));
                samples.push_back(static_cast<uint8_t>(s));
            } else {
                samples.push_back(static_cast<uint8_t>(s));
                samples.push_back(static_cast<uint8_t>(s >> 8));
            }
        }
        TiffOptions o;
        o.bigEndian = big;
        o.bits[0] = o.bits[1] = o.bits[2] = 16;
        const TiffImage t = Read(BuildTiff(2, 1, samples, o));
        ASSERT_TRUE(t.Ok()) << t.reason;
        EXPECT_EQ(t.pixels, (std::vector<uint8_t>{0x10, 0xFF, 0x01, 0x80, 0x7F, 0x00}));
    }
}

TEST(TiffReader, ReportsTheThreeReasons)
{
    const Rgb img = Pattern(4, 4);
    {
        std::vector<uint8_t> bytes = BuildTiff(img);
        bytes[0] = 'X';
        EXPECT_EQ(Read(bytes).reason, "Invalid TIFF");
        bytes = BuildTiff(img);
        bytes[3] = 43;
        EXPECT_EQ(Read(bytes).reason, "Invalid TIFF");
        EXPECT_EQ(Read({'M', 'M', 0, 42}).reason, "Invalid TIFF");
        EXPECT_EQ(ReadTiffImage(nullptr, 0).reason, "Invalid TIFF");
    }
    TiffOptions lzw;
    lzw.compression = 5;
    EXPECT_EQ(Read(BuildTiff(img, lzw)).reason, "Only reads uncompressed");

    TiffOptions mixed;
    mixed.bits[2] = 16;
    EXPECT_EQ(Read(BuildTiff(img, mixed)).reason, "Unexpected BitsPerSample");
    TiffOptions twelve;
    twelve.bits[0] = twelve.bits[1] = twelve.bits[2] = 12;
    EXPECT_EQ(Read(BuildTiff(img, twelve)).reason, "Unexpected BitsPerSample");
    TiffOptions longType;
    longType.bitsType = 4;
    EXPECT_EQ(Read(BuildTiff(img, longType)).reason, "Unexpected BitsPerSample");
    TiffOptions fourValues;
    fourValues.bitsCount = 4;
    EXPECT_EQ(Read(BuildTiff(img, fourValues)).reason, "Unexpected BitsPerSample");
}

TEST(TiffReader, TheFirstProblemInDirectoryOrderWins)
{
    const Rgb img = Pattern(4, 4);
    TiffOptions o;
    o.compression = 5;
    o.bits[1] = 16;
    o.bitsBeforeCompression = true;
    EXPECT_EQ(Read(BuildTiff(img, o)).reason, "Unexpected BitsPerSample");
    o.bitsBeforeCompression = false;
    EXPECT_EQ(Read(BuildTiff(img, o)).reason, "Only reads uncompressed");
}

TEST(TiffReader, MissingOrWrongStructureGivesNoPicture)
{
    const Rgb img = Pattern(6, 5);
    TiffOptions rgba;
    rgba.samplesPerPixel = 4;
    EXPECT_FALSE(Read(BuildTiff(img, rgba)).Ok());

    TiffOptions noWidth;
    noWidth.omitWidth = true;
    EXPECT_FALSE(Read(BuildTiff(img, noWidth)).Ok());

    TiffOptions noCompressionTag;  // absent Compression means uncompressed
    noCompressionTag.compression = -1;
    EXPECT_TRUE(Read(BuildTiff(img, noCompressionTag)).Ok());
}

TEST(TiffReader, OffsetsAndSizesStayInsideTheBuffer)
{
    const Rgb img = Pattern(8, 8);
    const std::vector<uint8_t> good = BuildTiff(img);

    // Every truncation of a valid file fails cleanly, never reading past the end.
    for (size_t n = 0; n < good.size(); ++n) {
        const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_FALSE(Read(cut).Ok()) << n;
    }

    TiffOptions beyond;
    beyond.stripOffsetShift = 204800;
    EXPECT_FALSE(Read(BuildTiff(img, beyond)).Ok());

    TiffOptions nearEnd;  // a strip that starts inside but runs past the end
    nearEnd.stripOffsetShift = 10;
    EXPECT_FALSE(Read(BuildTiff(img, nearEnd)).Ok());

    std::vector<uint8_t> farDirectory = good;
    farDirectory[4] = 0x7F;  // first directory at a huge offset
    EXPECT_FALSE(Read(farDirectory).Ok());

    // A byte count far larger than the picture copies only the picture's own bytes.
    std::vector<uint8_t> bigCount = BuildTiff(img);
    bigCount.insert(bigCount.end(), 64, 0xEE);
    const TiffImage t0 = Read(bigCount);
    ASSERT_TRUE(t0.Ok());
    EXPECT_EQ(t0.pixels, img.pixels);
}

TEST(TiffReader, ClaimedSizeLargerThanTheDataGivesNoPicture)
{
    // Width and height say 65535 x 65535 but the data holds a few bytes only.
    const Rgb img = Pattern(2, 2);
    std::vector<uint8_t> bytes = BuildTiff(img);
    // Entry 0 is the width (LONG), entry 1 the height: value fields at 8+2+8 and 8+2+12+8.
    for (size_t at : {size_t{18}, size_t{30}}) {
        bytes[at] = 0;
        bytes[at + 1] = 0;
        bytes[at + 2] = 0xFF;
        bytes[at + 3] = 0xFF;
    }
    EXPECT_FALSE(Read(bytes).Ok());
}

TEST(TiffReader, SizeProductThatWrapsAroundGivesNoPicture)
{
    // 1684887088 x 1824726041 pixels of 3 x 16 bits is 2^64 + 32 bytes: a size check done
    // in 64-bit arithmetic alone would see 32 bytes and accept 6 x 16 bits of data.
    std::vector<uint8_t> samples(36, 0x40);
    TiffOptions o;
    o.bits[0] = o.bits[1] = o.bits[2] = 16;
    std::vector<uint8_t> bytes = BuildTiff(3, 2, samples, o);
    const uint32_t w = 1684887088u, h = 1824726041u;
    for (auto [at, v] : {std::pair{size_t{18}, w}, std::pair{size_t{30}, h}}) {
        bytes[at] = static_cast<uint8_t>(v >> 24);
        bytes[at + 1] = static_cast<uint8_t>(v >> 16);
        bytes[at + 2] = static_cast<uint8_t>(v >> 8);
        bytes[at + 3] = static_cast<uint8_t>(v);
    }
    const TiffImage t = Read(bytes);
    EXPECT_FALSE(t.Ok());
    EXPECT_TRUE(t.pixels.empty());
}

TEST(TiffReader, SharedTiffFiles)
{
    REQUIRE_SHARED_TESTDATA(shared);
    const auto mini = testsupport::ReadFileBytes(shared / "real" / "mini9.tif");
    const TiffImage m = ReadTiffImage(mini.data(), mini.size());
    EXPECT_TRUE(m.Ok()) << m.reason;
    EXPECT_EQ(m.width, 9);
    EXPECT_EQ(m.height, 9);

    const auto reagan = testsupport::ReadFileBytes(shared / "real" / "Reagan.tiff");
    const TiffImage r = ReadTiffImage(reagan.data(), reagan.size());
    EXPECT_EQ(r.reason, "Unexpected BitsPerSample");  // four samples of 8 bits (RGBA)

    for (const char* name : {"heap-oob-write.tiff", "2018-01-09-exiv2-crash-001.tiff", "issue_ghsa_m479_7frc_gqqg_poc.crw"}) {
        const auto bytes = testsupport::ReadFileBytes(shared / "hostile" / name);
        const TiffImage h = ReadTiffImage(bytes.data(), bytes.size());
        if (h.Ok()) {
            EXPECT_EQ(h.pixels.size(), static_cast<size_t>(h.width) * h.height * 3) << name;
        }
    }
}
