// Stamping the comment and the rotation into saved pictures through the library's image
// items: the calls made, what ends up in the file (read back with Exiv2 and with the
// program's own reader), and that a failed rewrite leaves the picture exactly as it was.
#include "backends/sim/SimCamera.h"
#include "backends/sim/SimPictures.h"
#include "camera/ImageItems.h"
#include "imaging/ImageInfo.h"
#include "imaging/ItemProperties.h"
#include "support/ProgramSupport.h"
#include "support/TestSupport.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::string ExifText(const std::string& path, const char* key)
{
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    auto it = image->exifData().findKey(Exiv2::ExifKey(key));
    return it == image->exifData().end() ? std::string() : it->toString();
}
std::string CrwComment(const std::string& path)
{
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    return image->comment();
}
#pragma GCC diagnostic pop

struct Files {
    testsupport::TempDir dir;
    std::string Jpeg(const char* name = "IMG_0001.JPG")
    {
        sim::SimPictureParams p;
        p.width = 320;
        p.height = 213;
        const auto path = (dir.Path() / name).string();
        WriteFileBytes(path, sim::MakeSimJpeg(p));
        return path;
    }
    std::string Crw()
    {
        sim::SimPictureParams p;
        p.width = 320;
        p.height = 213;
        const auto path = (dir.Path() / "IMG_0002.CRW").string();
        WriteFileBytes(path, sim::MakeSimCrw(p, 4096));
        WriteFileBytes(dir.Path() / "IMG_0002.THM", sim::MakeSimThumbnail(p));
        return path;
    }
};

TEST(ItemProperties, RotationAndCommentReadBack)
{
    Files f;
    sim::SimulatedCamera lib;
    const std::string path = f.Jpeg();
    for (int degrees : {90, 180, 270, 0}) {
        ImageInfo record = ImageInfo::ReadImageInfoFromFile(path);
        SetImageRotation(lib, record, degrees);
        EXPECT_EQ(record.Rotation(), degrees);
        EXPECT_EQ(ImageInfo::ReadImageInfoFromFile(path).Rotation(), degrees);
    }
    ImageInfo record = ImageInfo::ReadImageInfoFromFile(path);
    SetImageComment(lib, record, "Bride and groom, window light");
    EXPECT_NE(ExifText(path, "Exif.Photo.UserComment").find("Bride and groom, window light"), std::string::npos);
    // The picture's own data is untouched: it still reads as the camera wrote it.
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile(path).Model(), "Canon EOS 10D");
    // Every item made was freed again, and each write used one of each call.
    EXPECT_EQ(lib.CallCount("CDMakeImageItem"), 5);
}

// Comments with characters past U+FFFF (emoji, musical symbols) and in several scripts
// are stored as UTF-16 with surrogate pairs, in the byte order of the picture's Exif data,
// and read back exactly.
TEST(ItemProperties, CommentsInAnyScriptReadBackExactly)
{
    Files f;
    const std::string texts[] = {
        "Set \xF0\x9F\x93\xB7 1",  // U+1F4F7 camera
        "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 \xE6\xBC\xA2\xE5\xAD\x97 "
        "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 \xF0\x9F\x98\x80\xF0\x9D\x84\x9E K\xC3\xB6ln",
    };
    sim::SimPictureParams p;
    p.width = 320;
    p.height = 213;
    const std::vector<uint8_t> littleEndian = sim::MakeSimJpeg(p);
    // The same picture with its Exif data in big-endian order.
    std::vector<uint8_t> bigEndian;
    {
        auto image = Exiv2::ImageFactory::open(littleEndian.data(), static_cast<long>(littleEndian.size()));
        image->readMetadata();
        ASSERT_EQ(image->byteOrder(), Exiv2::littleEndian);
        image->setByteOrder(Exiv2::bigEndian);
        image->writeMetadata();
        image->io().seek(0, Exiv2::BasicIo::beg);
        Exiv2::DataBuf buf = image->io().read(static_cast<long>(image->io().size()));
        bigEndian.assign(buf.pData_, buf.pData_ + buf.size_);
    }
    int n = 0;
    for (const auto& picture : {littleEndian, bigEndian}) {
        for (const std::string& text : texts) {
            std::vector<uint8_t> stamped;
            ASSERT_TRUE(WriteItemProperties(picture, text, std::nullopt, stamped));
            const std::string path = (f.dir.Path() / ("c" + std::to_string(n++) + ".jpg")).string();
            WriteFileBytes(path, stamped);
            EXPECT_EQ(testsupport::UserComment(path), "charset=Unicode " + text);
        }
    }
    // The camera (U+1F4F7) is the surrogate pair D83D DCF7, low byte first in "II" order.
    const std::vector<uint8_t> bytes = ReadFileBytes(f.dir.Path() / "c0.jpg");
    const uint8_t pair[] = {'S', 0, 'e', 0, 't', 0, ' ', 0, 0x3D, 0xD8, 0xF7, 0xDC, ' ', 0, '1', 0};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), std::begin(pair), std::end(pair)), bytes.end());
}

TEST(ItemProperties, CrwGetsTheCrwComment)
{
    Files f;
    sim::SimulatedCamera lib;
    const std::string path = f.Crw();
    ImageInfo record = ImageInfo::ReadImageInfoFromFile(path);
    SetImageComment(lib, record, "RAW of the product shot");
    EXPECT_EQ(CrwComment(path), "RAW of the product shot");
}

TEST(ItemProperties, EmptyCommentIsNeverWrittenAndLongOnesAreCut)
{
    Files f;
    sim::SimulatedCamera lib;
    const std::string path = f.Jpeg();
    ImageInfo record = ImageInfo::ReadImageInfoFromFile(path);
    SetImageComment(lib, record, "");
    EXPECT_EQ(lib.CallCount("CDMakeImageItem"), 0);

    const std::string exactly255(255, 'x');
    SetImageComment(lib, record, exactly255);
    EXPECT_NE(ExifText(path, "Exif.Photo.UserComment").find(exactly255), std::string::npos);

    // 254 ASCII characters and a two-byte character do not fit: the cut keeps whole characters.
    const std::string tooLong = std::string(254, 'y') + "\xC3\xA9" + "tail";
    SetImageComment(lib, record, tooLong);
    const std::string stored = ExifText(path, "Exif.Photo.UserComment");
    EXPECT_NE(stored.find(std::string(254, 'y')), std::string::npos);
    EXPECT_EQ(stored.find("\xC3"), std::string::npos);
    EXPECT_EQ(stored.find("tail"), std::string::npos);
}

TEST(ItemProperties, RefusedItemValuesAreRetried)
{
    Files f;
    sim::SimulatedCamera lib;
    const std::string path = f.Jpeg();
    lib.SetImageItemRefusal([](uint32_t v) { return v != 7; });
    ImageInfo record = ImageInfo::ReadImageInfoFromFile(path);
    SetImageRotation(lib, record, 90);
    EXPECT_EQ(lib.CallCount("CDMakeImageItem"), 9);  // 259, then 0..7
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile(path).Rotation(), 90);

    sim::SimulatedCamera never;
    never.SetImageItemRefusal([](uint32_t) { return true; });
    const auto before = ReadFileBytes(path);
    ImageInfo other = ImageInfo::ReadImageInfoFromFile(path);
    SetImageRotation(never, other, 180);
    EXPECT_EQ(never.CallCount("CDMakeImageItem"), 1 + 512);
    EXPECT_EQ(other.Rotation(), 90);  // unchanged: nothing was written
    EXPECT_EQ(ReadFileBytes(path), before);
}

TEST(ItemProperties, AFailedRewriteKeepsThePictureExactlyAsItWas)
{
    Files f;
    const std::string path = f.Jpeg();
    const auto before = ReadFileBytes(path);
    ImageItemStore store;
    store.SetBeforeReplaceHook([](const std::string&) { return false; });  // the disk fails at the last step
    cdsdk::cdHItem item = 0;
    ASSERT_EQ(store.MakeImageItem(0, path.c_str(), 259, &item), cdsdk::cdOK);
    ASSERT_EQ(store.OpenImage(item), cdsdk::cdOK);
    int32_t degrees = 90;
    uint32_t size = 4;
    ASSERT_EQ(store.SetProperty(item, cdsdk::cdITEM_PROP_ROTATION, &size, &degrees), cdsdk::cdOK);
    EXPECT_NE(store.FlashProperties(item), cdsdk::cdOK);
    EXPECT_EQ(ReadFileBytes(path), before);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(f.dir.Path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"IMG_0001.JPG"});  // no temporary file left
    store.CloseImage(item);
    store.FreeItem(item);
}

TEST(ItemProperties, FilesThatAreNotPicturesAreLeftAlone)
{
    Files f;
    sim::SimulatedCamera lib;
    const auto path = (f.dir.Path() / "IMG_0003.JPG").string();
    const std::vector<uint8_t> garbage = {0xFF, 0xD8, 0x00, 0x01, 0x02};
    WriteFileBytes(path, garbage);
    ImageInfo record = ImageInfo::ReadImageInfoFromFile(path);
    SetImageRotation(lib, record, 90);
    SetImageComment(lib, record, "x");
    EXPECT_EQ(ReadFileBytes(path), garbage);
    EXPECT_EQ(record.Rotation(), 0);
    // A missing file makes no item at all (the retries are spent, nothing is created).
    ImageInfo missing;
    missing.SetPath((f.dir.Path() / "gone.JPG").string());
    SetImageRotation(lib, missing, 90);
    EXPECT_FALSE(fs::exists(f.dir.Path() / "gone.JPG"));
}

TEST(ItemProperties, InvalidRotationsAndUnknownPropertiesAreRefused)
{
    Files f;
    const std::string path = f.Jpeg();
    ImageItemStore store;
    cdsdk::cdHItem item = 0;
    ASSERT_EQ(store.MakeImageItem(0, path.c_str(), 259, &item), cdsdk::cdOK);
    ASSERT_EQ(store.OpenImage(item), cdsdk::cdOK);
    int32_t degrees = 45;
    uint32_t size = 4;
    EXPECT_NE(store.SetProperty(item, cdsdk::cdITEM_PROP_ROTATION, &size, &degrees), cdsdk::cdOK);
    EXPECT_NE(store.SetProperty(item, 0x1234, &size, &degrees), cdsdk::cdOK);
    EXPECT_EQ(store.FreeItem(item), cdsdk::cdOK);
    EXPECT_NE(store.OpenImage(item), cdsdk::cdOK);  // freed handles are gone
}

}  // namespace
