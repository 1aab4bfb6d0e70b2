// What a picture says about its colour space: embedded profile first, then the Exif
// marks, else sRGB; damaged profiles count as none.
#include "colour/PictureColourSpace.h"
#include "imaging/JpegDecoder.h"

#include "TestPictures.h"
#include "TestProfiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace colour;
using namespace testprofiles;

namespace {

Bytes SmallJpeg()
{
    return testpictures::EncodeJpeg(testpictures::PhotoLikeScene(48, 32));
}

PictureColourSpace Read(const Bytes& b)
{
    return ReadPictureColourSpace(b.data(), b.size());
}

} // namespace

TEST(PictureColourSpaceTest, ExifMarksNameTheSpaceInEitherByteOrder)
{
    const Bytes jpeg = SmallJpeg();
    for (bool little : {true, false}) {
        SCOPED_TRACE(little ? "II" : "MM");
        // The DCF option file: uncalibrated plus "R03" is Adobe RGB, and only then.
        PictureColourSpace r03 = Read(WithSegments(jpeg, {ExifColourMarks(0xFFFF, "R03", little)}));
        EXPECT_EQ(r03.Name(), "Adobe RGB (1998)");
        EXPECT_EQ(r03.source, ColourSpaceSource::Interoperability);
        EXPECT_EQ(Read(WithSegments(jpeg, {ExifColourMarks(0xFFFF, "R98", little)})).Name(), "sRGB");
        EXPECT_EQ(Read(WithSegments(jpeg, {ExifColourMarks(0xFFFF, "", little)})).source, ColourSpaceSource::Default);
        // ColorSpace 1 wins over a stray "R03"; 2 is how some bodies say Adobe RGB.
        PictureColourSpace srgb = Read(WithSegments(jpeg, {ExifColourMarks(1, "R03", little)}));
        EXPECT_EQ(srgb.Name(), "sRGB");
        EXPECT_EQ(srgb.source, ColourSpaceSource::ExifColorSpace);
        EXPECT_EQ(Read(WithSegments(jpeg, {ExifColourMarks(2, "", little)})).Name(), "Adobe RGB (1998)");
    }
    EXPECT_EQ(Read(jpeg).source, ColourSpaceSource::Default);
    EXPECT_EQ(Read(jpeg).Name(), "sRGB");
}

TEST(PictureColourSpaceTest, ExifAfterAnXmpSegmentIsStillFound)
{
    const Bytes xmp = exiftest::Segment(0xE1, Bytes{'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0, '<', '>'});
    const Bytes marked = WithSegments(SmallJpeg(), {xmp, ExifColourMarks(0xFFFF, "R03")});
    EXPECT_EQ(Read(marked).Name(), "Adobe RGB (1998)");
}

TEST(PictureColourSpaceTest, EmbeddedProfileInChunksWinsOverExif)
{
    const Bytes wide = WideGamutMonitor();
    const Bytes jpeg = SmallJpeg();
    // Chunks may come in any order; every one must be there exactly once.
    for (const std::vector<int>& order : {std::vector<int>{}, std::vector<int>{3, 1, 2}}) {
        std::vector<Bytes> segments = IccSegments(wide, 3, order);
        segments.insert(segments.begin(), ExifColourMarks(0xFFFF, "R03"));
        const PictureColourSpace space = Read(WithSegments(jpeg, segments));
        EXPECT_EQ(space.source, ColourSpaceSource::EmbeddedProfile);
        EXPECT_EQ(space.Name(), "Wide gamut monitor");
    }
    std::vector<Bytes> missing = IccSegments(wide, 3, {1, 3});
    missing.push_back(ExifColourMarks(0xFFFF, "R03"));
    EXPECT_EQ(Read(WithSegments(jpeg, missing)).source, ColourSpaceSource::Interoperability);
    std::vector<Bytes> twice = IccSegments(wide, 2, {1, 2, 2});
    EXPECT_EQ(Read(WithSegments(jpeg, twice)).source, ColourSpaceSource::Default);
}

TEST(PictureColourSpaceTest, DamagedProfileCountsAsNoneAndThePictureStillDecodes)
{
    const Bytes jpeg = SmallJpeg();
    const Bytes notRgb = [] {
        cmsHPROFILE h = cmsCreateLab4Profile(nullptr);  // not RGB
        return Save(h);
    }();
    for (const Bytes& bad : {TruncatedProfile(), ProfileWithBrokenCurve(), notRgb, Bytes(200, 0xAB)}) {
        std::vector<Bytes> segments = IccSegments(bad, 1);
        segments.push_back(ExifColourMarks(0xFFFF, "R03"));
        const Bytes picture = WithSegments(jpeg, segments);
        const PictureColourSpace space = Read(picture);
        EXPECT_EQ(space.source, ColourSpaceSource::Interoperability);
        EXPECT_EQ(space.Name(), "Adobe RGB (1998)");
        EXPECT_EQ(Read(WithSegments(jpeg, IccSegments(bad, 1))).Name(), "sRGB");
        ImageHistogram histogram;
        auto bitmap = DecodeToBitmap(picture.data(), picture.size(), histogram, 0, 48, 32, false);
        ASSERT_TRUE(bitmap.has_value());
        EXPECT_EQ(bitmap->width, 48);
    }
}

TEST(PictureColourSpaceTest, TiffCarriesItsProfileTagAndExif)
{
    exiftest::ExifBuilder b(false);
    exiftest::Ifd exif;
    exif.tags.push_back(b.Short(0xA001, 0xFFFF));
    exiftest::Ifd iop;
    iop.tags.push_back(b.Ascii(0x0001, "R03"));
    exif.tags.push_back(b.Pointer(0xA005, iop));
    exiftest::Ifd ifd0;
    ifd0.tags.push_back(b.Pointer(exiftest::kExifIfd, exif));
    EXPECT_EQ(Read(b.Tiff(ifd0)).Name(), "Adobe RGB (1998)");

    ifd0.tags.push_back(b.Undefined(0x8773, WideGamutMonitor()));
    EXPECT_EQ(Read(b.Tiff(ifd0)).Name(), "Wide gamut monitor");
}

TEST(PictureColourSpaceTest, FileReaderFollowsARawToItsThumbnail)
{
    const auto dir = std::filesystem::temp_directory_path() / ("pcs_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const Bytes marked = WithSegments(SmallJpeg(), {ExifColourMarks(0xFFFF, "R03")});
    std::ofstream(dir / "IMG_0001.THM", std::ios::binary).write(reinterpret_cast<const char*>(marked.data()),
                                                                 static_cast<std::streamsize>(marked.size()));
    std::ofstream(dir / "IMG_0001.CRW", std::ios::binary) << "HEAPCCDR";
    EXPECT_EQ(ReadPictureColourSpaceFromFile((dir / "IMG_0001.CRW").string()).Name(), "Adobe RGB (1998)");
    EXPECT_EQ(ReadPictureColourSpaceFromFile((dir / "IMG_0001.THM").string()).Name(), "Adobe RGB (1998)");
    EXPECT_EQ(ReadPictureColourSpaceFromFile((dir / "missing.jpg").string()).Name(), "sRGB");
    std::filesystem::remove_all(dir);
}
