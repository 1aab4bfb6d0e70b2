// The Exif reader: synthetic pictures for each rule and edge, truncated and damaged
// input, files chosen by extension, and the shared camera files checked against Exiv2.
#include "imaging/ImageInfo.h"

#include "ExifBuilder.h"
#include "support/TestSupport.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace exiftest;

namespace {

ImageInfo FromMemory(const Bytes& b)
{
    // An exactly sized heap copy, so that a sanitizer sees any read past the end.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[b.size() ? b.size() : 1]);
    std::copy(b.begin(), b.end(), copy.get());
    return ImageInfo::ReadImageInfoFromMemory(copy.get(), b.size());
}

ImageInfo FromTiff(const Bytes& tiff)
{
    ImageInfo info;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[tiff.size() ? tiff.size() : 1]);
    std::copy(tiff.begin(), tiff.end(), copy.get());
    info.ParseTiffHeaderInfo(copy.get(), tiff.size());
    return info;
}

// A JPEG whose Exif holds just these sub-directory tags.
ImageInfo WithExifTags(bool little, const std::vector<Tag>& exifTags)
{
    ExifBuilder b(little);
    Ifd first{{b.Pointer(kExifIfd, Ifd{exifTags})}};
    return FromMemory(Jpeg({ExifApp1(b.Tiff(first))}));
}

ImageInfo WithMakerNote(bool little, const std::vector<Tag>& makerTags)
{
    ExifBuilder b(little);
    return WithExifTags(little, {b.Pointer(kMakerNote, Ifd{makerTags})});
}

bool IsEmpty(const ImageInfo& i)
{
    return i.Model().empty() && i.ExposureText().empty() && i.ApertureText().empty() &&
           i.SevenPointAfMask() == 0 && i.ThreePointAfValue() == 0 &&
           i.FortyFivePointAfBits() == std::array<uint8_t, 8>{} && i.Rotation() == 0;
}

class ByteOrder : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Exif, ByteOrder, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "LittleEndian" : "BigEndian"; });

} // namespace

// --- whole pictures -------------------------------------------------------------------

TEST_P(ByteOrder, TypicalPictureGivesEveryField)
{
    const ImageInfo info = FromMemory(Jpeg({Segment(0xE0, Bytes(14, 'J')), ExifApp1(TypicalTiff(GetParam()))}));
    EXPECT_EQ(info.Path(), "");
    EXPECT_EQ(info.Model(), "Canon EOS 10D");
    EXPECT_EQ(info.ExposureText(), "1/125");
    EXPECT_EQ(info.ApertureText(), "5.6");
    EXPECT_EQ(info.ThreePointAfValue(), 0x3003u);
    EXPECT_EQ(info.SevenPointAfMask(), 0x41u);
    EXPECT_EQ(info.FortyFivePointAfBits(), (std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 0x80}));
    EXPECT_EQ(info.Rotation(), 90);
}

TEST(ExifReader, EmptyRecordHoldsNothing)
{
    ImageInfo empty;
    EXPECT_TRUE(IsEmpty(empty));
    EXPECT_EQ(empty.Path(), "");
}

TEST(ExifReader, OnlyTheFirstApp1IsLookedAt)
{
    const Bytes xmp = Segment(0xE1, Bytes{'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0, 1, 2});
    EXPECT_TRUE(IsEmpty(FromMemory(Jpeg({xmp, ExifApp1(TypicalTiff(true))}))));
    // Segments of other kinds before it are stepped over.
    const ImageInfo info = FromMemory(
        Jpeg({Segment(0xE0, Bytes(14, 0)), Segment(0xED, Bytes(300, 7)), ExifApp1(TypicalTiff(false))}));
    EXPECT_EQ(info.Model(), "Canon EOS 10D");
}

TEST(ExifReader, MarkerScanStopsOnAnythingButAMarker)
{
    Bytes jpeg = Jpeg({ExifApp1(TypicalTiff(true))});
    Bytes junkFirst = jpeg;
    junkFirst.insert(junkFirst.begin(), 0x00);
    EXPECT_TRUE(IsEmpty(FromMemory(junkFirst)));
    // Start and end markers repeated are stepped over.
    Bytes doubled{0xFF, 0xD8, 0xFF, 0xD9};
    doubled.insert(doubled.end(), jpeg.begin(), jpeg.end());
    EXPECT_EQ(FromMemory(doubled).Model(), "Canon EOS 10D");
    EXPECT_TRUE(IsEmpty(FromMemory({})));
    EXPECT_TRUE(IsEmpty(ImageInfo::ReadImageInfoFromMemory(nullptr, 100)));
    EXPECT_TRUE(IsEmpty(FromMemory({0xFF})));
    EXPECT_TRUE(IsEmpty(FromMemory({0xFF, 0xD8, 0xFF, 0xE1, 0x00})));
}

TEST(ExifReader, App1MustEndAtLeastOneByteBeforeTheBufferEnds)
{
    const Bytes app1 = ExifApp1(TypicalTiff(true));
    Bytes buf{0xFF, 0xD8};
    buf.insert(buf.end(), app1.begin(), app1.end());
    // The length field is at p = 4 and counts L bytes; parsed only when p + 2 + L < length.
    EXPECT_TRUE(IsEmpty(FromMemory(buf)));
    buf.push_back(0xFF);
    EXPECT_TRUE(IsEmpty(FromMemory(buf)));
    buf.push_back(0xD9);
    EXPECT_TRUE(IsEmpty(FromMemory(buf)));
    buf.push_back(0x00);
    EXPECT_EQ(FromMemory(buf).Model(), "Canon EOS 10D");
}

TEST(ExifReader, ReceivedTiffMustBeBigEndian)
{
    EXPECT_EQ(FromMemory(TypicalTiff(false)).Model(), "Canon EOS 10D");
    EXPECT_EQ(FromMemory(TypicalTiff(false)).Rotation(), 90);
    // A little-endian TIFF is scanned as a JPEG and gives nothing.
    EXPECT_TRUE(IsEmpty(FromMemory(TypicalTiff(true))));
    // Four bytes of big-endian header are too few: scanned as JPEG, nothing found.
    EXPECT_TRUE(IsEmpty(FromMemory({'M', 'M', 0, 42})));
    EXPECT_TRUE(IsEmpty(FromMemory({'M', 'M', 0, 42, 0})));
}

// --- orientation ------------------------------------------------------------------------

TEST_P(ByteOrder, OrientationMapsToClockwiseDegrees)
{
    const std::pair<uint16_t, int> cases[] = {{1, 0}, {3, 180}, {6, 90}, {8, 270}, {2, 0}, {5, 0}, {0, 0}, {9, 0}};
    for (auto [orientation, rotation] : cases)
        EXPECT_EQ(FromTiff(TypicalTiff(GetParam(), orientation)).Rotation(), rotation) << orientation;
}

TEST_P(ByteOrder, UnknownOrientationKeepsTheEarlierValue)
{
    ExifBuilder b(GetParam());
    const Ifd first{{b.Short(kOrientation, 8), b.Short(kOrientation, 2)}};
    EXPECT_EQ(FromTiff(b.Tiff(first)).Rotation(), 270);
}

TEST(ExifReader, ShortValueIsTheFirstTwoBytesOfTheValueField)
{
    ExifBuilder le(true), be(false);
    EXPECT_EQ(FromTiff(le.Tiff(Ifd{{le.ValueField(kOrientation, 3, 1, {6, 0, 0, 0})}})).Rotation(), 90);
    EXPECT_EQ(FromTiff(be.Tiff(Ifd{{be.ValueField(kOrientation, 3, 1, {0, 6, 0, 0})}})).Rotation(), 90);
    // A big-endian SHORT stored in the low half is another number (6 << 16 is not read).
    EXPECT_EQ(FromTiff(be.Tiff(Ifd{{be.ValueField(kOrientation, 3, 1, {0, 0, 0, 6})}})).Rotation(), 0);
    // Any other type takes the whole 32-bit value field.
    EXPECT_EQ(FromTiff(be.Tiff(Ifd{{be.ValueField(kOrientation, 4, 1, {0, 0, 0, 3})}})).Rotation(), 180);
}

// --- exposure and aperture --------------------------------------------------------------

TEST_P(ByteOrder, ExposureTimeTexts)
{
    ExifBuilder b(GetParam());
    struct Case {
        uint32_t num, den;
        const char* text;
    };
    const Case cases[] = {
        {3, 10, "0.3"},   {1, 3, "1/3"},    {1, 125, "1/125"}, {10, 2500, "1/250"}, {1, 4, "1/4"},
        {1, 2, "0.5"},    {2, 1, "2"},      {30, 1, "30"},     {10, 30, "1/3"},     {4, 10, "0.4"},
        {1, 8000, "1/8000"}, {10, 13, "0.769231"}, {2, 7, "1/3"}, // 2/7 s: 1/t = 3.5 truncated
        {0, 1, ""},       {1, 0, ""},       {0, 0, ""},
        {1, 4294967295u, "1/4294967295"}, // far beyond an int, still a defined text
    };
    for (const Case& c : cases)
        EXPECT_EQ(WithExifTags(GetParam(), {b.Rational(kExposureTime, c.num, c.den)}).ExposureText(), c.text)
            << c.num << "/" << c.den;
}

TEST(ExifReader, SignedAndOddExposureTimesGiveNoText)
{
    ExifBuilder b(true);
    EXPECT_EQ(WithExifTags(true, {b.Rational(kExposureTime, 1, 125, 10)}).ExposureText(), "1/125");
    EXPECT_EQ(WithExifTags(true, {b.Rational(kExposureTime, uint32_t(-1), 125, 10)}).ExposureText(), "");
    EXPECT_EQ(WithExifTags(true, {b.Rational(kExposureTime, 1, uint32_t(-125), 10)}).ExposureText(), "");
    EXPECT_EQ(WithExifTags(true, {b.Rational(kExposureTime, 0x80000000u, 0x80000000u, 10)}).ExposureText(), "1");
    EXPECT_EQ(WithExifTags(true, {b.Rational(kExposureTime, 1, 0x80000000u, 10)}).ExposureText(), "");
    // Wrong type or count gives a time of 0, which has no text.
    EXPECT_EQ(WithExifTags(true, {b.Short(kExposureTime, 125)}).ExposureText(), "");
    Tag two = b.Rational(kExposureTime, 1, 125);
    two.count = 2;
    EXPECT_EQ(WithExifTags(true, {two}).ExposureText(), "");
}

TEST_P(ByteOrder, FNumberTexts)
{
    ExifBuilder b(GetParam());
    EXPECT_EQ(WithExifTags(GetParam(), {b.Rational(kFNumber, 28, 10)}).ApertureText(), "2.8");
    EXPECT_EQ(WithExifTags(GetParam(), {b.Rational(kFNumber, 11, 1)}).ApertureText(), "11.0");
    EXPECT_EQ(WithExifTags(GetParam(), {b.Rational(kFNumber, 730459, 250000)}).ApertureText(), "2.9");
    EXPECT_EQ(WithExifTags(GetParam(), {b.Rational(kFNumber, 56, 0)}).ApertureText(), "0.0");
    EXPECT_EQ(WithExifTags(GetParam(), {b.Rational(kFNumber, uint32_t(-56), 10, 10)}).ApertureText(), "-5.6");
    EXPECT_EQ(WithExifTags(GetParam(), {b.Short(kFNumber, 8)}).ApertureText(), "0.0");
}

TEST(ExifReader, RationalOutsideTheDataEndsTheParse)
{
    ExifBuilder b(true);
    Tag far = b.ValueField(kExposureTime, 5, 1, b.U32(0xFFFFFFF0u));
    const ImageInfo info = WithExifTags(true, {b.Rational(kFNumber, 4, 1), far, b.Rational(kFNumber, 8, 1)});
    EXPECT_EQ(info.ApertureText(), "4.0"); // stored before the bad value stays
    EXPECT_EQ(info.ExposureText(), "");
}

// --- model --------------------------------------------------------------------------------

TEST_P(ByteOrder, ModelTexts)
{
    ExifBuilder b(GetParam());
    EXPECT_EQ(FromTiff(b.Tiff(Ifd{{b.Ascii(kModel, "Canon EOS 300D DIGITAL")}})).Model(), "Canon EOS 300D DIGITAL");
    // Up to the first zero within the count; without a zero, exactly count bytes.
    EXPECT_EQ(FromTiff(b.Tiff(Ifd{{b.Raw(kModel, 2, 10, {'D', '6', '0', 0, 'x', 'x', 'x', 'x', 'x', 'x'})}})).Model(), "D60");
    EXPECT_EQ(FromTiff(b.Tiff(Ifd{{b.Raw(kModel, 2, 6, {'E', 'O', 'S', '1', '0', 'D'})}})).Model(), "EOS10D");
    // Four bytes or fewer live in the value field itself.
    EXPECT_EQ(FromTiff(b.Tiff(Ifd{{b.Ascii(kModel, "D30")}})).Model(), "D30");
    // Another type is not a model.
    EXPECT_EQ(FromTiff(b.Tiff(Ifd{{b.Raw(kModel, 7, 6, {'E', 'O', 'S', '1', '0', 'D'})}})).Model(), "");
}

TEST(ExifReader, ModelOutsideTheDataEndsTheParse)
{
    ExifBuilder b(false);
    const Ifd first{{b.Short(kOrientation, 3), b.ValueField(kModel, 2, 20, b.U32(0x7FFFFFF0u)),
                     b.Short(kOrientation, 6)}};
    const ImageInfo info = FromTiff(b.Tiff(first));
    EXPECT_EQ(info.Rotation(), 180);
    EXPECT_EQ(info.Model(), "");
    // A count reaching past the end ends it too, even when the offset is inside.
    const Ifd longCount{{b.ValueField(kModel, 2, 0xFFFFFFFFu, b.U32(8)), b.Short(kOrientation, 6)}};
    EXPECT_EQ(FromTiff(b.Tiff(longCount)).Rotation(), 0);
}

// --- maker note ---------------------------------------------------------------------------

TEST_P(ByteOrder, MakerNoteArrayLengthsDecide)
{
    const bool le = GetParam();
    ExifBuilder b(le);
    auto array = [](size_t n) {
        std::vector<uint16_t> v(n);
        for (size_t i = 0; i < n; ++i)
            v[i] = uint16_t(0x100 + i);
        return v;
    };
    EXPECT_EQ(WithMakerNote(le, {b.Shorts(kCameraSettings, array(15))}).ThreePointAfValue(), 0x10Eu);
    EXPECT_EQ(WithMakerNote(le, {b.Shorts(kCameraSettings, array(14))}).ThreePointAfValue(), 0u);
    EXPECT_EQ(WithMakerNote(le, {b.Shorts(kAfInfo, array(24))}).SevenPointAfMask(), 0x116u);
    EXPECT_EQ(WithMakerNote(le, {b.Shorts(kAfInfo, array(23))}).SevenPointAfMask(), 0u);
    // The tags swapped: each reads only its own element.
    const ImageInfo swapped = WithMakerNote(le, {b.Shorts(kAfInfo, array(15)), b.Shorts(kCameraSettings, array(10))});
    EXPECT_EQ(swapped.ThreePointAfValue(), 0u);
    EXPECT_EQ(swapped.SevenPointAfMask(), 0u);
}

TEST(ExifReader, MakerNoteArraysAreBoundedToTheirFirstThousandValues)
{
    ExifBuilder b(true);
    std::vector<uint16_t> thousand(1000, 7);
    // The count says 70000, but only the first 1000 values must lie inside the data.
    Tag big = b.Shorts(kAfInfo, thousand);
    big.count = 70000;
    EXPECT_EQ(WithMakerNote(true, {big}).SevenPointAfMask(), 7u);
    // 1000 values that do not all fit end the parse before the element is taken.
    Tag cut = b.Shorts(kAfInfo, std::vector<uint16_t>(30, 9));
    cut.count = 1000;
    EXPECT_EQ(WithMakerNote(true, {b.Shorts(kCameraSettings, std::vector<uint16_t>(20, 5)), cut}).SevenPointAfMask(), 0u);
    EXPECT_EQ(WithMakerNote(true, {b.Shorts(kCameraSettings, std::vector<uint16_t>(20, 5)), cut}).ThreePointAfValue(), 5u);
}

TEST(ExifReader, FortyFivePointBitsNeedUndefinedCountEight)
{
    ExifBuilder b(false);
    const Bytes bits{0xFF, 0, 0x10, 0, 0, 0, 0, 1};
    EXPECT_EQ(WithMakerNote(false, {b.Undefined(kAf45, bits)}).FortyFivePointAfBits(),
              (std::array<uint8_t, 8>{0xFF, 0, 0x10, 0, 0, 0, 0, 1}));
    EXPECT_TRUE(IsEmpty(WithMakerNote(false, {b.Undefined(kAf45, {1, 2, 3, 4, 5, 6, 7})})));
    EXPECT_TRUE(IsEmpty(WithMakerNote(false, {b.Raw(kAf45, 1, 8, bits)})));
    EXPECT_TRUE(IsEmpty(WithMakerNote(false, {b.ValueField(kAf45, 7, 8, b.U32(0xFFFFFFFCu))})));
}

TEST(ExifReader, ParseRoutinesCanBeCalledOnTheirOwn)
{
    ExifBuilder b(true);
    const Bytes tiff = b.Tiff(Ifd{{b.Rational(kFNumber, 4, 1), b.Shorts(kAfInfo, std::vector<uint16_t>(24, 3))}});
    ImageInfo info;
    info.ParseTiffHeaderInfo(tiff.data(), tiff.size()); // sets the byte order; tags are not IFD0 tags
    EXPECT_TRUE(IsEmpty(info));
    info.ParseExifSubIfd(tiff.data(), tiff.size(), 8);
    EXPECT_EQ(info.ApertureText(), "4.0");
    info.ParseMakerNote(tiff.data(), tiff.size(), 8);
    EXPECT_EQ(info.SevenPointAfMask(), 3u);
    info.ParseExifSubIfd(tiff.data(), tiff.size(), 0xFFFFFFFFu);
    info.ParseMakerNote(tiff.data(), tiff.size(), uint32_t(tiff.size()) - 1);
    info.ParseExifSegment(nullptr, 100);
    info.ParseTiffHeaderInfo(nullptr, 100);
    EXPECT_EQ(info.ApertureText(), "4.0");
}

// --- header and directory checks ----------------------------------------------------------

TEST(ExifReader, BrokenHeadersGiveNothing)
{
    Bytes tiff = TypicalTiff(true);
    auto with = [&](size_t pos, std::initializer_list<uint8_t> bytes) {
        Bytes t = tiff;
        std::copy(bytes.begin(), bytes.end(), t.begin() + long(pos));
        return FromMemory(Jpeg({ExifApp1(t)}));
    };
    EXPECT_EQ(with(0, {'I', 'I'}).Model(), "Canon EOS 10D");
    EXPECT_TRUE(IsEmpty(with(0, {'I', 'M'})));
    EXPECT_TRUE(IsEmpty(with(2, {43, 0})));
    EXPECT_TRUE(IsEmpty(with(4, {0xF8, 0xFF, 0xFF, 0xFF}))); // o + 2 wraps a 32-bit sum
    EXPECT_TRUE(IsEmpty(with(4, {uint8_t(tiff.size() - 2), uint8_t((tiff.size() - 2) >> 8), 0, 0})));
    EXPECT_TRUE(IsEmpty(with(8, {0xFF, 0xFF}))); // a directory reaching past the end
    // Not "Exif\0", or too short to hold a TIFF header.
    Bytes seg = ExifApp1(tiff);
    seg[9] = 1;
    EXPECT_EQ(FromMemory(Jpeg({seg})).Model(), "Canon EOS 10D"); // the second pad byte is not checked
    seg[6] = 'F';
    EXPECT_TRUE(IsEmpty(FromMemory(Jpeg({seg}))));
    ImageInfo info;
    const uint8_t tiny[] = {0, 10, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I'};
    info.ParseExifSegment(tiny, sizeof tiny);
    info.ParseExifSegment(tiny, 7);
    EXPECT_TRUE(IsEmpty(info));
}

TEST(ExifReader, DirectoryMustLieStrictlyInsideTheData)
{
    ExifBuilder b(true);
    // One entry at offset 8: 8 + 2 + 12 = 22 must be below the length.
    Bytes tiff = b.Tiff(Ifd{{b.Short(kOrientation, 6)}}); // 22 bytes of directory + 4 of next offset
    ASSERT_EQ(tiff.size(), 26u);
    EXPECT_EQ(FromTiff(Bytes(tiff.begin(), tiff.begin() + 23)).Rotation(), 90);
    EXPECT_EQ(FromTiff(Bytes(tiff.begin(), tiff.begin() + 22)).Rotation(), 0);
    EXPECT_TRUE(IsEmpty(FromTiff(Bytes(tiff.begin(), tiff.begin() + 7))));
}

// --- damaged input --------------------------------------------------------------------

// Every prefix of a valid picture: no read outside the buffer, and nothing invented —
// each field is either still at its start value or what the whole picture gives.
TEST_P(ByteOrder, EveryTruncationIsSafeAndInventsNothing)
{
    const Bytes jpeg = Jpeg({Segment(0xE0, Bytes(14, 0)), ExifApp1(TypicalTiff(GetParam()))});
    const ImageInfo full = FromMemory(jpeg);
    ASSERT_EQ(full.Model(), "Canon EOS 10D");
    const Bytes tiff = TypicalTiff(GetParam());
    for (size_t n = 0; n <= jpeg.size(); ++n) {
        for (const ImageInfo& cut : {FromMemory(Bytes(jpeg.begin(), jpeg.begin() + long(n))),
                                     FromTiff(Bytes(tiff.begin(), tiff.begin() + long(std::min(n, tiff.size()))))}) {
            EXPECT_TRUE(cut.Model().empty() || cut.Model() == full.Model()) << n;
            EXPECT_TRUE(cut.ExposureText().empty() || cut.ExposureText() == full.ExposureText()) << n;
            EXPECT_TRUE(cut.ApertureText().empty() || cut.ApertureText() == full.ApertureText()) << n;
            EXPECT_TRUE(cut.Rotation() == 0 || cut.Rotation() == full.Rotation()) << n;
            EXPECT_TRUE(cut.SevenPointAfMask() == 0 || cut.SevenPointAfMask() == full.SevenPointAfMask()) << n;
            EXPECT_TRUE(cut.ThreePointAfValue() == 0 || cut.ThreePointAfValue() == full.ThreePointAfValue()) << n;
        }
    }
}

TEST(ExifReader, EveryFlippedByteIsSafe)
{
    const Bytes jpeg = Jpeg({ExifApp1(TypicalTiff(true))});
    for (size_t i = 0; i < jpeg.size(); ++i) {
        for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(jpeg[i] ^ 0x80)}) {
            Bytes bad = jpeg;
            bad[i] = v;
            const ImageInfo info = FromMemory(bad);
            // A damaged byte never yields a rotation outside the four, nor a text longer
            // than the picture it was read from.
            EXPECT_TRUE(info.Rotation() == 0 || info.Rotation() == 90 || info.Rotation() == 180 ||
                        info.Rotation() == 270) << i;
            EXPECT_LE(info.Model().size(), bad.size()) << i;
            EXPECT_LE(info.ExposureText().size(), 64u) << i;
            EXPECT_LE(info.ApertureText().size(), 64u) << i;
        }
    }
}

TEST(ExifReader, DirectoriesPointingAtEachOtherEndInBoundedWork)
{
    // Many Exif pointers to one sub-directory, whose many maker-note pointers all lead to
    // one large maker note: the walk would visit about 2000^3 entries without a limit.
    ExifBuilder b(true);
    Bytes tiff = b.Tiff(Ifd{{b.Short(kOrientation, 6)}});
    tiff.resize(8);
    const uint32_t n = 2000;
    const uint32_t first = 8;
    auto entry = [&](Bytes& out, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        ExifBuilder::Append(out, b.U16(tag));
        ExifBuilder::Append(out, b.U16(type));
        ExifBuilder::Append(out, b.U32(count));
        ExifBuilder::Append(out, b.U32(value));
    };
    const uint32_t sub = first + 2 + 12 * n + 4;
    const uint32_t maker = sub + 2 + 12 * n;
    ExifBuilder::Append(tiff, b.U16(uint16_t(n)));
    for (uint32_t i = 0; i < n; ++i)
        entry(tiff, kExifIfd, 4, 1, sub);
    ExifBuilder::Append(tiff, b.U32(0));
    ExifBuilder::Append(tiff, b.U16(uint16_t(n)));
    for (uint32_t i = 0; i < n; ++i)
        entry(tiff, kMakerNote, 7, 1, maker);
    ExifBuilder::Append(tiff, b.U16(uint16_t(n)));
    for (uint32_t i = 0; i < n; ++i)
        entry(tiff, 1, 3, 3, maker);
    ASSERT_EQ(FromTiff(tiff).Rotation(), 0); // completes
}

// --- files --------------------------------------------------------------------------------

TEST(ExifReaderFile, ChosenByExtension)
{
    testsupport::TempDir dir;
    const Bytes jpeg = Jpeg({ExifApp1(TypicalTiff(true))});
    for (const char* name : {"a.jpg", "B.JPG", "c.Thm", "d.thm"}) {
        testsupport::WriteFileBytes(dir.Path() / name, jpeg);
        const std::string path = (dir.Path() / name).string();
        const ImageInfo info = ImageInfo::ReadImageInfoFromFile(path);
        EXPECT_EQ(info.Path(), path);
        EXPECT_EQ(info.Model(), "Canon EOS 10D") << name;
        EXPECT_EQ(info.Rotation(), 90) << name;
    }
    for (const char* name : {"e.jpeg", "f.png", "g", "h.jpg.bak"}) {
        testsupport::WriteFileBytes(dir.Path() / name, jpeg);
        const std::string path = (dir.Path() / name).string();
        const ImageInfo info = ImageInfo::ReadImageInfoFromFile(path);
        EXPECT_EQ(info.Path(), path);
        EXPECT_TRUE(IsEmpty(info)) << name;
    }
    const ImageInfo missing = ImageInfo::ReadImageInfoFromFile((dir.Path() / "none.jpg").string());
    EXPECT_EQ(missing.Path(), (dir.Path() / "none.jpg").string());
    EXPECT_TRUE(IsEmpty(missing));
    EXPECT_TRUE(IsEmpty(ImageInfo::ReadImageInfoFromFile("")));
    EXPECT_TRUE(IsEmpty(ImageInfo::ReadImageInfoFromFile(dir.Str() + "/.jpg")));
}

TEST(ExifReaderFile, RawIsReadThroughItsThumbnailKeepingTheRawPath)
{
    testsupport::TempDir dir;
    const Bytes jpeg = Jpeg({ExifApp1(TypicalTiff(false, 8))});
    testsupport::WriteFileBytes(dir.Path() / "IMG_0001.CRW", Bytes{'I', 'I', 0x1A, 0});
    testsupport::WriteFileBytes(dir.Path() / "IMG_0001.thm", jpeg);
    const std::string raw = (dir.Path() / "IMG_0001.CRW").string();
    ImageInfo info = ImageInfo::ReadImageInfoFromFile(raw);
    EXPECT_EQ(info.Path(), raw);
    EXPECT_EQ(info.Rotation(), 270);
    EXPECT_EQ(info.Model(), "Canon EOS 10D");
    // The companion written in upper case, as cameras name it.
    testsupport::WriteFileBytes(dir.Path() / "IMG_0002.THM", jpeg);
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile((dir.Path() / "IMG_0002.CRW").string()).Rotation(), 270);
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile((dir.Path() / "img_0002.crw").string()).Rotation(), 0);
    testsupport::WriteFileBytes(dir.Path() / "img_0003.THM", jpeg);
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile((dir.Path() / "img_0003.crw").string()).Rotation(), 270);
    // No companion: the path only.
    info = ImageInfo::ReadImageInfoFromFile((dir.Path() / "IMG_0009.CRW").string());
    EXPECT_EQ(info.Path(), (dir.Path() / "IMG_0009.CRW").string());
    EXPECT_TRUE(IsEmpty(info));
}

TEST(ExifReaderFile, FileScanSkipsSegmentsAndNeedsTheWholeApp1)
{
    testsupport::TempDir dir;
    const Bytes app1 = ExifApp1(TypicalTiff(true));
    Bytes jpeg = Jpeg({Segment(0xE0, Bytes(14, 0)), Segment(0xE2, Bytes(5000, 0xFF)), app1});
    testsupport::WriteFileBytes(dir.Path() / "x.jpg", jpeg);
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile((dir.Path() / "x.jpg").string()).Model(), "Canon EOS 10D");
    // A file that ends exactly with the APP1 segment is still read (unlike received bytes).
    Bytes exact{0xFF, 0xD8};
    exact.insert(exact.end(), app1.begin(), app1.end());
    testsupport::WriteFileBytes(dir.Path() / "exact.jpg", exact);
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile((dir.Path() / "exact.jpg").string()).Model(), "Canon EOS 10D");
    exact.pop_back();
    testsupport::WriteFileBytes(dir.Path() / "short.jpg", exact);
    EXPECT_TRUE(IsEmpty(ImageInfo::ReadImageInfoFromFile((dir.Path() / "short.jpg").string())));
    // A segment length pointing beyond the end of the file.
    Bytes beyond{0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xF0, 0};
    testsupport::WriteFileBytes(dir.Path() / "beyond.jpg", beyond);
    EXPECT_TRUE(IsEmpty(ImageInfo::ReadImageInfoFromFile((dir.Path() / "beyond.jpg").string())));
    // A folder named like a picture.
    std::filesystem::create_directory(dir.Path() / "folder.jpg");
    EXPECT_TRUE(IsEmpty(ImageInfo::ReadImageInfoFromFile((dir.Path() / "folder.jpg").string())));
}

TEST(ExifReaderFile, TiffNeedsItsFirst30720Bytes)
{
    testsupport::TempDir dir;
    Bytes tiff = TypicalTiff(true);
    tiff.resize(30000, 0);
    testsupport::WriteFileBytes(dir.Path() / "short.tif", tiff);
    EXPECT_TRUE(IsEmpty(ImageInfo::ReadImageInfoFromFile((dir.Path() / "short.tif").string())));
    tiff.resize(30720, 0);
    testsupport::WriteFileBytes(dir.Path() / "exact.TIF", tiff);
    const ImageInfo info = ImageInfo::ReadImageInfoFromFile((dir.Path() / "exact.TIF").string());
    EXPECT_EQ(info.Model(), "Canon EOS 10D");
    EXPECT_EQ(info.ExposureText(), "1/125");
    // Only the first 30720 bytes are looked at: a model lying beyond them ends the parse.
    ExifBuilder b(false);
    Bytes far = b.Tiff(Ifd{{b.Short(kOrientation, 3), b.ValueField(kModel, 2, 10, b.U32(40000)),
                            b.Short(kOrientation, 6)}});
    far.resize(50000, 'A');
    testsupport::WriteFileBytes(dir.Path() / "far.tif", far);
    const ImageInfo farInfo = ImageInfo::ReadImageInfoFromFile((dir.Path() / "far.tif").string());
    EXPECT_EQ(farInfo.Rotation(), 180);
    EXPECT_EQ(farInfo.Model(), "");
    EXPECT_EQ(FromMemory(far).Model(), "AAAAAAAAAA"); // received bytes are read whole
}

// --- the shared camera files, checked against Exiv2 ---------------------------------------

namespace {

struct Oracle {
    std::string model, exposure, aperture;
    int rotation = 0;
};

// Exiv2's reading, turned into the texts the program shows.
Oracle ReadWithExiv2(const std::filesystem::path& p)
{
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    auto image = Exiv2::ImageFactory::open(p.string());
    image->readMetadata();
    Exiv2::ExifData& exif = image->exifData();
    Oracle o;
    auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Model"));
    if (it != exif.end())
        o.model = it->toString();
    it = exif.findKey(Exiv2::ExifKey("Exif.Photo.ExposureTime"));
    if (it != exif.end()) {
        const Exiv2::Rational r = it->toRational(0);
        char text[32];
        if (double(r.first) / r.second >= 0.3)
            std::snprintf(text, sizeof text, "%g", double(r.first) / r.second);
        else
            std::snprintf(text, sizeof text, "1/%d", int(double(r.second) / r.first));
        o.exposure = text;
    }
    it = exif.findKey(Exiv2::ExifKey("Exif.Photo.FNumber"));
    if (it != exif.end()) {
        const Exiv2::Rational r = it->toRational(0);
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", double(r.first) / r.second);
        o.aperture = text;
    }
    it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (it != exif.end()) {
        switch (it->toLong(0)) {
        case 3: o.rotation = 180; break;
        case 6: o.rotation = 90; break;
        case 8: o.rotation = 270; break;
        default: break;
        }
    }
    return o;
}

void ExpectSameAsExiv2(const ImageInfo& info, const std::filesystem::path& p)
{
    const Oracle o = ReadWithExiv2(p);
    EXPECT_FALSE(o.model.empty()) << p;
    EXPECT_EQ(info.Model(), o.model) << p;
    EXPECT_EQ(info.ExposureText(), o.exposure) << p;
    EXPECT_EQ(info.ApertureText(), o.aperture) << p;
    EXPECT_EQ(info.Rotation(), o.rotation) << p;
}

} // namespace

TEST(ExifReaderRealFiles, CameraJpegsMatchExiv2)
{
    REQUIRE_SHARED_TESTDATA(data);
    for (const char* name : {"exiv2-canon-eos-20d.jpg", "exiv2-canon-powershot-a520.jpg", "exiv2-nikon-d70.jpg"}) {
        const auto p = data / "real" / name;
        const ImageInfo fromFile = ImageInfo::ReadImageInfoFromFile(p.string());
        EXPECT_EQ(fromFile.Path(), p.string());
        ExpectSameAsExiv2(fromFile, p);
        ExpectSameAsExiv2(FromMemory(testsupport::ReadFileBytes(p)), p);
    }
    // Spot values, so that a shared mistake of both readings would still show.
    const ImageInfo d70 = ImageInfo::ReadImageInfoFromFile((data / "real" / "exiv2-nikon-d70.jpg").string());
    EXPECT_EQ(d70.Model(), "NIKON D70");
    EXPECT_EQ(d70.ExposureText(), "1/250");
    EXPECT_EQ(d70.ApertureText(), "9.0");
    EXPECT_EQ(d70.Rotation(), 90);
    const ImageInfo eos = ImageInfo::ReadImageInfoFromFile((data / "real" / "exiv2-canon-eos-20d.jpg").string());
    EXPECT_EQ(eos.Model(), "Canon EOS 20D");
    EXPECT_EQ(eos.ExposureText(), "1/60");
    EXPECT_EQ(eos.ApertureText(), "5.6");
}

TEST(ExifReaderRealFiles, TiffsMatchExiv2)
{
    REQUIRE_SHARED_TESTDATA(data);
    // A received big-endian TIFF is read whole.
    const auto reagan = data / "real" / "Reagan.tiff";
    ExpectSameAsExiv2(FromMemory(testsupport::ReadFileBytes(reagan)), reagan);
    // Saved files are chosen by a ".tif" ending only.
    EXPECT_TRUE(IsEmpty(ImageInfo::ReadImageInfoFromFile(reagan.string())));
    // The small little-endian TIFF: orientation only, and as a file it is too short.
    const auto mini = data / "real" / "mini9.tif";
    const ImageInfo parsed = FromTiff(testsupport::ReadFileBytes(mini));
    const Oracle o = ReadWithExiv2(mini);
    EXPECT_EQ(parsed.Model(), o.model);
    EXPECT_EQ(parsed.Rotation(), o.rotation);
    EXPECT_TRUE(IsEmpty(ImageInfo::ReadImageInfoFromFile(mini.string())));
    EXPECT_TRUE(IsEmpty(FromMemory(testsupport::ReadFileBytes(mini)))); // little-endian: not a received TIFF
}

TEST(ExifReaderRealFiles, RawWithoutThumbnailGivesThePathOnly)
{
    REQUIRE_SHARED_TESTDATA(data);
    const auto crw = data / "real" / "exiv2-canon-powershot-s40.crw";
    ASSERT_FALSE(std::filesystem::exists(data / "real" / "exiv2-canon-powershot-s40.thm"));
    const ImageInfo info = ImageInfo::ReadImageInfoFromFile(crw.string());
    EXPECT_EQ(info.Path(), crw.string());
    EXPECT_TRUE(IsEmpty(info));
}

TEST(ExifReaderRealFiles, HostileFilesAreSurvived)
{
    REQUIRE_SHARED_TESTDATA(data);
    int seen = 0;
    for (const auto& e : std::filesystem::directory_iterator(data / "hostile")) {
        const Bytes bytes = testsupport::ReadFileBytes(e.path());
        (void)ImageInfo::ReadImageInfoFromFile(e.path().string());
        (void)FromMemory(bytes);
        (void)FromTiff(bytes);
        ImageInfo info;
        info.ParseExifSegment(bytes.data(), bytes.size());
        ++seen;
    }
    EXPECT_GT(seen, 0);
}

// Writes the synthetic pictures of these tests as seed inputs for the Exif fuzzer, when
// TETHROCAM_WRITE_EXIF_SEEDS names a folder.
TEST(ExifReaderSeeds, WriteFuzzSeeds)
{
    const char* dir = std::getenv("TETHROCAM_WRITE_EXIF_SEEDS");
    if (!dir)
        GTEST_SKIP() << "set TETHROCAM_WRITE_EXIF_SEEDS to a folder to write the fuzz seeds";
    const std::filesystem::path out(dir);
    std::filesystem::create_directories(out);
    for (bool le : {true, false}) {
        const std::string order = le ? "le" : "be";
        ExifBuilder b(le);
        testsupport::WriteFileBytes(out / ("typical-" + order + ".jpg"),
                                    Jpeg({Segment(0xE0, Bytes(14, 0)), ExifApp1(TypicalTiff(le))}));
        testsupport::WriteFileBytes(out / ("typical-" + order + ".tif"), TypicalTiff(le, 3));
        testsupport::WriteFileBytes(out / ("odd-values-" + order + ".jpg"),
                                    Jpeg({ExifApp1(b.Tiff(Ifd{{b.Ascii(kModel, "D30"), b.Short(kOrientation, 8),
                                        b.Pointer(kExifIfd, Ifd{{b.Rational(kExposureTime, 1, 0, 10),
                                                                 b.Rational(kFNumber, uint32_t(-28), 10, 10)}})}}))}));
    }
    testsupport::WriteFileBytes(out / "xmp-first.jpg",
                                Jpeg({Segment(0xE1, Bytes{'h', 't', 't', 'p', 0}), ExifApp1(TypicalTiff(true))}));
}
