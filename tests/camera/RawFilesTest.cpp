// RAW pictures of newer bodies: recognised by their bytes, saved under their own extension
// with the number their JPEG shares, and shown from the largest JPEG preview inside them.
#include "FakeCameraLibrary.h"
#include "RecordingSink.h"
#include "backends/sim/SimPictures.h"
#include "camera/CCamera.h"
#include "camera/RawFiles.h"
#include "colour/PictureColourSpace.h"
#include "imaging/ImageInfo.h"
#include "storage/SaveFolders.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>

using namespace cdsdk;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> SmallJpeg(int width, int height, uint32_t seed)
{
    sim::SimPictureParams p;
    p.width = width;
    p.height = height;
    p.seed = seed;
    return sim::MakeSimJpeg(p);
}

// A little-endian TIFF as newer bodies write their RAW files: IFD0 with the make and
// model, an optional DNG version, and JPEG previews (without Exif, like the big previews of
// real RAW files) through JPEGInterchangeFormat in IFD0 and IFD1; with `adobeRgb`, an Exif
// directory saying Adobe RGB (ColorSpace 0xFFFF, interoperability index "R03").
std::vector<uint8_t> TiffRaw(const std::string& make, const std::vector<uint8_t>& preview0,
                             const std::vector<uint8_t>& preview1, bool dng = false, bool cr2 = false,
                             const std::string& model = "D750", bool adobeRgb = false)
{
    std::vector<uint8_t> b;
    auto u16 = [&](uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); };
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i))); };
    auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i)); };
    auto even = [](size_t n) { return n + (n & 1); };
    b = {'I', 'I', 42, 0};
    u32(16);  // IFD0
    if (cr2) {
        b.insert(b.end(), {'C', 'R', 2, 0});
    } else {
        b.insert(b.end(), {0, 0, 0, 0});
    }
    u32(0);
    const uint16_t count0 = static_cast<uint16_t>(4 + (dng ? 1 : 0) + (adobeRgb ? 1 : 0));
    u16(count0);
    const size_t ifd1 = 16 + 2 + count0 * 12 + 4;
    const size_t makeAt = ifd1 + 2 + 2 * 12 + 4;
    const size_t modelAt = makeAt + even(make.size() + 1);
    const size_t p0At = modelAt + even(model.size() + 1);
    const size_t p1At = p0At + even(preview0.size());
    u16(0x010F); u16(2); u32(uint32_t(make.size() + 1)); u32(uint32_t(makeAt));
    u16(0x0110); u16(2); u32(uint32_t(model.size() + 1)); u32(uint32_t(modelAt));
    u16(0x0201); u16(4); u32(1); u32(uint32_t(p0At));
    u16(0x0202); u16(4); u32(1); u32(uint32_t(preview0.size()));
    size_t exifPointer = 0;
    if (adobeRgb) {
        u16(0x8769); u16(4); u32(1);
        exifPointer = b.size();
        u32(0);  // patched below
    }
    if (dng) {
        u16(0xC612); u16(1); u32(4); b.insert(b.end(), {1, 4, 0, 0});
    }
    const size_t next0 = b.size();
    u32(0);
    put32(next0, uint32_t(ifd1));
    u16(2);
    u16(0x0201); u16(4); u32(1); u32(uint32_t(p1At));
    u16(0x0202); u16(4); u32(1); u32(uint32_t(preview1.size()));
    u32(0);
    auto text = [&](const std::string& t, size_t at) {
        b.insert(b.end(), t.begin(), t.end());
        while (b.size() < at)
            b.push_back(0);
    };
    text(make, modelAt);
    text(model, p0At);
    b.insert(b.end(), preview0.begin(), preview0.end());
    while (b.size() < p1At)
        b.push_back(0);
    b.insert(b.end(), preview1.begin(), preview1.end());
    if (adobeRgb) {
        if (b.size() & 1)
            b.push_back(0);
        put32(exifPointer, uint32_t(b.size()));
        u16(2);
        u16(0xA001); u16(3); u32(1); u32(0xFFFF);
        const size_t interopPointer = b.size() + 8;
        u16(0xA005); u16(4); u32(1); u32(0);
        u32(0);
        put32(interopPointer, uint32_t(b.size()));
        u16(1);
        u16(0x0001); u16(2); u32(4); b.insert(b.end(), {'R', '0', '3', 0});
        u32(0);
    }
    return b;
}

// A JPEG as the large previews inside RAW files are: no Exif block.
std::vector<uint8_t> BareJpeg(int width, int height, uint32_t seed)
{
    std::vector<uint8_t> j = SmallJpeg(width, height, seed);
    // Drop the APP1 segment the simulator writes after SOI.
    if (j.size() > 6 && j[2] == 0xFF && j[3] == 0xE1) {
        const size_t length = (size_t{j[4]} << 8) | j[5];
        j.erase(j.begin() + 2, j.begin() + 2 + static_cast<std::ptrdiff_t>(2 + length));
    }
    return j;
}

TEST(RawFiles, FormsAndExtensionsAreToldByTheBytes)
{
    sim::SimPictureParams p;
    p.width = 160;
    p.height = 106;
    EXPECT_EQ(ClassifyRaw(sim::MakeSimCrw(p, 1024)).form, RawForm::Crw);
    EXPECT_EQ(ClassifyRaw(sim::MakeSimTiff(p, 160, 106)).form, RawForm::CanonTiff);
    const auto jpeg = SmallJpeg(64, 48, 1);
    RawKind k = ClassifyRaw(TiffRaw("NIKON CORPORATION", jpeg, jpeg));
    EXPECT_EQ(k.form, RawForm::Other);
    EXPECT_EQ(k.extension, "NEF");
    EXPECT_EQ(ClassifyRaw(TiffRaw("SONY", jpeg, jpeg)).extension, "ARW");
    EXPECT_EQ(ClassifyRaw(TiffRaw("Canon", jpeg, jpeg, false, true)).extension, "CR2");
    EXPECT_EQ(ClassifyRaw(TiffRaw("Canon", jpeg, jpeg, true)).extension, "DNG");
    std::vector<uint8_t> raf(64, 0);
    std::memcpy(raf.data(), "FUJIFILMCCD-RAW ", 16);
    EXPECT_EQ(ClassifyRaw(raf).extension, "RAF");
    std::vector<uint8_t> unknown(64, 7);
    EXPECT_EQ(ClassifyRaw(unknown).extension, "TIF");
    // A HEIF picture (Canon's HIF, Sony's HEIF) keeps its own extension, numbered as a RAW.
    std::vector<uint8_t> heif(64, 0);
    std::memcpy(heif.data() + 4, "ftypheix", 8);
    EXPECT_EQ(ClassifyRaw(heif).extension, "HIF");
    EXPECT_EQ(ClassifyRaw(heif).form, RawForm::Other);
    EXPECT_TRUE(storage::IsOtherRawExtension("HIF"));
}

TEST(RawFiles, TheLargestJpegPreviewIsTakenAndGivenTheRawsDescription)
{
    const auto small = SmallJpeg(64, 48, 1);
    const auto large = SmallJpeg(320, 213, 2);
    EXPECT_EQ(LargestJpegPreview(TiffRaw("NIKON CORPORATION", small, large)), large);
    EXPECT_EQ(LargestJpegPreview(TiffRaw("NIKON CORPORATION", large, small)), large);
    EXPECT_TRUE(LargestJpegPreview(std::vector<uint8_t>(100, 3)).empty());
    // A preview with its own Exif block is handed over as it is.
    EXPECT_EQ(DescribedJpegPreview(TiffRaw("NIKON CORPORATION", small, large)), large);
    const auto bare = BareJpeg(320, 213, 3);
    const auto described = DescribedJpegPreview(TiffRaw("NIKON CORPORATION", small, bare, false, false, "NIKON D850"));
    EXPECT_EQ(ImageInfo::ReadImageInfoFromMemory(described.data(), described.size()).Model(), "NIKON D850");
    EXPECT_TRUE(ImageInfo::ReadImageInfoFromMemory(bare.data(), bare.size()).Model().empty());
}

// The preview's values are in the RAW's colour space: it carries the RAW's own marks,
// whether it had an Exif block of its own (saying sRGB) or none.
TEST(RawFiles, ThePreviewTakesTheRawsColourSpace)
{
    const auto small = SmallJpeg(64, 48, 1);
    auto spaceOf = [](const std::vector<uint8_t>& b) { return colour::ReadPictureColourSpace(b.data(), b.size()).Name(); };
    const auto bare = BareJpeg(320, 213, 3);
    const auto own = SmallJpeg(320, 213, 4);  // its own Exif says ColorSpace 1
    ASSERT_EQ(spaceOf(own), "sRGB");
    for (const auto& preview : {bare, own}) {
        const auto described = DescribedJpegPreview(TiffRaw("Canon", small, preview, false, true, "Canon EOS 5D", true));
        EXPECT_EQ(spaceOf(described), "Adobe RGB (1998)");
        EXPECT_EQ(ImageInfo::ReadImageInfoFromMemory(described.data(), described.size()).Model(),
                  preview == own ? "Canon EOS 10D" : "Canon EOS 5D");
    }
    EXPECT_EQ(spaceOf(DescribedJpegPreview(TiffRaw("Canon", small, bare, false, true, "Canon EOS 5D"))), "sRGB");
}

// A library that hands over scripted items when the test announces them.
class ScriptedLibrary : public FakeCameraLibrary {
public:
    std::deque<std::pair<cdReleaseImageInfo, std::vector<uint8_t>>> items;
    cdReleaseEventCallbackFunction fn = nullptr;
    cdContext ctx = nullptr;

    cdError CDEnterReleaseControl(cdHSource, cdReleaseEventCallbackFunction f, cdContext c) override
    {
        fn = f;
        ctx = c;
        return cdOK;
    }
    void Add(uint32_t type, uint8_t format, std::vector<uint8_t> bytes)
    {
        cdReleaseImageInfo info{};
        info.SequenceID = 1;
        info.DataType = type;
        info.Format = format;
        info.DataSize = static_cast<uint32_t>(bytes.size());
        items.emplace_back(info, std::move(bytes));
    }
    void Announce(uint32_t count)
    {
        uint8_t data[4];
        std::memcpy(data, &count, 4);
        fn(cdRELEASE_EVENT_RELEASE_COMPLETE, data, 4, ctx);
    }
    cdError CDGetReleasedData(cdHSource, cdProgressCallbackFunction, cdContext, uint32_t, cdReleaseImageInfo* info,
                              cdStgMedium* medium) override
    {
        if (items.empty())
            return cdERROR;
        auto [record, bytes] = std::move(items.front());
        items.pop_front();
        *info = record;
        cdStream& s = *medium->pStream;
        cdError err = 0;
        s.open(s.contextH, cdSTREAM_OPEN_WRITE, &err);
        uint32_t n = static_cast<uint32_t>(bytes.size());
        s.write(s.contextH, bytes.data(), &n, &err);
        s.close(s.contextH, &err);
        return cdOK;
    }
};

TEST(RawFiles, ANewerRawAndItsJpegShareANumberAndThePreviewIsShown)
{
    testsupport::TempDir dir;
    ScriptedLibrary lib;
    RecordingOwner owner;
    SaveSnapshot snap;
    snap.folders.Directory = dir.Str();
    snap.folders.Year = snap.folders.Month = snap.folders.Day = false;
    snap.orientationSetting = 4;
    owner.SetSnapshot(snap);
    CCamera camera(lib, &owner);

    const auto preview = BareJpeg(320, 213, 5);
    const auto nef = TiffRaw("NIKON CORPORATION", BareJpeg(64, 48, 4), preview);
    const auto jpeg = SmallJpeg(300, 200, 6);
    lib.Add(cdDATA_TYPE_PICTURE, cdFORMAT_RAW, nef);
    lib.Add(cdDATA_TYPE_PLUS_JPEG, cdFORMAT_JPEG, jpeg);
    lib.Announce(2);
    ASSERT_TRUE(owner.WaitFor(WM_DISPLAY_JPEG, 2));
    lib.Add(cdDATA_TYPE_PICTURE, cdFORMAT_JPEG, jpeg);
    lib.Announce(1);
    ASSERT_TRUE(owner.WaitFor(WM_DISPLAY_JPEG, 3));

    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.Path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"IMG_0001.JPG", "IMG_0001.NEF", "IMG_0002.JPG"}));
    EXPECT_EQ(testsupport::ReadFileBytes(dir.Path() / "IMG_0001.NEF"), nef);  // the camera's bytes

    std::vector<Notification> got = owner.Take();
    std::vector<std::vector<uint8_t>> shown;
    std::string firstPath;
    for (auto& n : got) {
        if (n.message == WM_DISPLAY_JPEG)
            shown.push_back(n.bytes);
        if (n.message == WM_SAVED_FILE && firstPath.empty())
            firstPath = n.text.value_or("");
    }
    ASSERT_EQ(shown.size(), 3u);
    // The RAW is shown from its largest preview (the same compressed picture), which now
    // carries the RAW's description.
    ASSERT_GT(shown[0].size(), preview.size());
    EXPECT_TRUE(std::equal(preview.end() - 2000, preview.end(), shown[0].end() - 2000));
    const ImageInfo described = ImageInfo::ReadImageInfoFromMemory(shown[0].data(), shown[0].size());
    EXPECT_EQ(described.Model(), "D750");
    EXPECT_EQ(firstPath, (dir.Path() / "IMG_0001.NEF").string());
}

}  // namespace
