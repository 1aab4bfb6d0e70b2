// Release control and image transfer through the simulated camera: what is saved, what
// is announced and in which order, for every save mode and item kind, and what happens
// when the camera, the cable or the disk fails.
#include "RecordingSink.h"

#include "backends/sim/SimCamera.h"
#include "camera/CCamera.h"
#include "camera/CameraStartup.h"
#include "imaging/ImageInfo.h"
#include "support/TestSupport.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <random>
#include <set>
#include <thread>

using namespace cdsdk;
namespace fs = std::filesystem;

namespace {

struct Rig {
    explicit Rig(sim::SimConfig config = Small())
        : lib(config)
    {
        StartCameraLibrary(lib);
        SaveSnapshot s;
        s.folders.Directory = dir.str();
        s.folders.Year = s.folders.Month = s.folders.Day = false;  // pictures straight into the folder
        s.orientationSetting = 4;          // nothing stamped unless a test asks
        owner.SetSnapshot(s);
        camera = std::make_unique<CCamera>(lib, &owner);
    }
    static sim::SimConfig Small()
    {
        sim::SimConfig c;
        c.pictureWidth = 320;
        c.pictureHeight = 213;
        c.exposureMs = 5;
        c.rawFillerBytes = 64 * 1024;
        return c;
    }
    void SetQuality(uint16_t quality, int mode)
    {
        ASSERT_EQ(lib.CDSetImageFormatAttribute(camera->Source(), quality, 0), cdOK);
        camera->SetImageQuality(quality, mode);
    }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Texts()
    {
        std::vector<std::string> out;
        for (auto& n : owner.Take())
            if (n.message == WM_SAVED_FILE)
                out.push_back(n.text.value_or(""));
        return out;
    }

    testsupport::TempDir dir;
    sim::SimulatedCamera lib;
    RecordingOwner owner;
    std::unique_ptr<CCamera> camera;
};

using Seq = std::vector<uint32_t>;

TEST(Release, PcOnlyJpegSavesOneFileAndAnnouncesInOrder)
{
    Rig rig;
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_EXIF, WM_SAVED_FILE, WM_DISPLAY_JPEG}));
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.JPG"});
    auto got = rig.owner.Take();
    const Notification* saved = nullptr;
    const Notification* display = nullptr;
    const Notification* exif = nullptr;
    for (const auto& n : got) {
        if (n.message == WM_SAVED_FILE) saved = &n;
        if (n.message == WM_DISPLAY_JPEG) display = &n;
        if (n.message == WM_EXIF) exif = &n;
    }
    ASSERT_TRUE(saved && display && exif && exif->info);
    EXPECT_EQ(*saved->text, (rig.dir.path() / "IMG_0001.JPG").string());
    EXPECT_EQ(exif->info->Model(), "Canon EOS 10D");
    EXPECT_EQ(display->wParam, static_cast<int64_t>(display->bytes.size()));
    // The file holds the camera's bytes unchanged.
    EXPECT_EQ(testsupport::ReadFileBytes(rig.dir.path() / "IMG_0001.JPG"), display->bytes);
    // Progress went up to 100 with nothing else waiting.
    bool sawHundred = false;
    for (const auto& n : got)
        if (n.message == WM_DOWNLOAD_PROGRESS && n.wParam == 100)
            sawHundred = true;
    EXPECT_TRUE(sawHundred);
}

TEST(Release, CameraOnlyRawShowsTheThumbnailAndSavesNothing)
{
    Rig rig;
    rig.SetQuality(4, 2);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_SAVED_FILE, WM_EXIF, WM_DISPLAY_JPEG}));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Image stored on CF card"});
    EXPECT_TRUE(rig.Files().empty());
}

TEST(Release, PcRawSavesThumbnailThenRawUnderOneNumber)
{
    Rig rig;
    rig.SetQuality(4, 1);
    for (int shot = 1; shot <= 2; ++shot) {
        rig.camera->StartRelease();
        ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, 2));
        EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_EXIF, WM_DISPLAY_JPEG, WM_SAVED_FILE, WM_DISPLAY_JPEG}));
        rig.owner.Take();
    }
    EXPECT_EQ(rig.Files(), (std::vector<std::string>{"IMG_0001.CRW", "IMG_0001.THM", "IMG_0002.CRW", "IMG_0002.THM"}));
    // The RAW file is read through its thumbnail.
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile((rig.dir.path() / "IMG_0002.CRW").string()).Model(), "Canon EOS 10D");
}

TEST(Release, TiffRawSavesTifAndItsJpegUnderOneNumber)
{
    auto config = Rig::Small();
    config.tiffRaw = true;
    Rig rig(config);
    rig.SetQuality(4, 1);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, 2));
    EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_EXIF, WM_SAVED_FILE, WM_DISPLAY_JPEG, WM_EXIF, WM_DISPLAY_JPEG}));
    EXPECT_EQ(rig.Files(), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0001.TIF"}));
}

TEST(Release, PreviewIsShownNotSaved)
{
    Rig rig;
    rig.camera->StartPreviewRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Image downloaded"});
    EXPECT_TRUE(rig.Files().empty());
    EXPECT_FALSE(rig.camera->PreviewPending());
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.JPG"});
}

TEST(Release, TwoAnnouncementsBeforeTheThreadWakesAreBothDownloadedInOrder)
{
    Rig rig;
    rig.lib.PressShutterButton();
    rig.lib.PressShutterButton();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, 2));
    auto texts = rig.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(fs::path(texts[0]).filename(), "IMG_0001.JPG");
    EXPECT_EQ(fs::path(texts[1]).filename(), "IMG_0002.JPG");
    EXPECT_EQ(rig.lib.State().deliveredSequences, (std::vector<uint32_t>{1, 2}));
}

TEST(Release, BodyShutterSavesLikeAProgramRelease)
{
    Rig rig;
    rig.lib.PressShutterButton();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_EXIF, WM_SAVED_FILE, WM_DISPLAY_JPEG}));
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.JPG"});
}

TEST(Release, CommentAndRotationAreStampedOnlyWhenAsked)
{
    Rig rig;
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.lib.CallCount("CDMakeImageItem"), 0);  // empty comment, orientation 4

    SaveSnapshot s = rig.owner.TakeSaveSnapshot();
    s.comment = "Studio 3, softbox left";
    s.orientationSetting = 2;  // portrait, 90 degrees clockwise
    rig.owner.SetSnapshot(s);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, 2));
    const std::string path = (rig.dir.path() / "IMG_0002.JPG").string();
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile(path).Rotation(), 90);
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    auto comment = image->exifData().findKey(Exiv2::ExifKey("Exif.Photo.UserComment"));
    ASSERT_NE(comment, image->exifData().end());
    EXPECT_NE(comment->toString().find("Studio 3, softbox left"), std::string::npos);
}

TEST(Release, ANameThatExistsAlreadyIsNeverOverwritten)
{
    // With a digit in the prefix every name reads as 60, so the scan proposes 61 again and
    // again; the file already there must survive and the picture takes the next number.
    Rig rig;
    SaveSnapshot s = rig.owner.TakeSaveSnapshot();
    s.folders.FilenamePrefix = "D60_";
    rig.owner.SetSnapshot(s);
    testsupport::WriteFileBytes(rig.dir.path() / "D60_0061.JPG", {1, 2, 3});
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(testsupport::ReadFileBytes(rig.dir.path() / "D60_0061.JPG"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(rig.Files(), (std::vector<std::string>{"D60_0061.JPG", "D60_0062.JPG"}));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{(rig.dir.path() / "D60_0062.JPG").string()});
}

// ---------------------------------------------------------------- faults

TEST(ReleaseFaults, HardwareErrorsAreReported)
{
    Rig rig;
    rig.lib.FailNextAutofocus();
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_RELEASE_ERROR));
    rig.camera->SetSaveMode(3);
    rig.lib.SetCardPresent(false);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_RELEASE_ERROR, 2));
    std::vector<int64_t> errors;
    for (auto& n : rig.owner.Take())
        if (n.message == WM_RELEASE_ERROR)
            errors.push_back(n.wParam);
    EXPECT_EQ(errors, (std::vector<int64_t>{1, 135}));
    EXPECT_TRUE(rig.Files().empty());
}

TEST(ReleaseFaults, DownloadStoppingHalfwaySavesNothingAndTheNextShotWorks)
{
    Rig rig;
    rig.lib.StopNextDownloadHalfway();
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_SAVED_FILE));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Error saving image"});
    EXPECT_TRUE(rig.Files().empty());
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.JPG"});
}

TEST(ReleaseFaults, UnplugDuringDownloadReportsAndShutsDown)
{
    Rig rig;
    rig.lib.UnplugDuringNextDownload();
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_CAMERA_SHUTDOWN));
    ASSERT_TRUE(rig.owner.WaitFor(WM_SAVED_FILE));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Error saving image"});
    EXPECT_TRUE(rig.Files().empty());
    rig.camera.reset();  // the view deletes the camera on shutdown: no hang
}

TEST(ReleaseFaults, UnwritableFolderReportsAndStillDisplays)
{
    Rig rig;
    testsupport::WriteFileBytes(rig.dir.path() / "blocker", {0});
    SaveSnapshot s = rig.owner.TakeSaveSnapshot();
    s.folders.Directory = (rig.dir.path() / "blocker" / "pictures").string();
    rig.owner.SetSnapshot(s);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_EXIF, WM_SAVED_FILE, WM_DISPLAY_JPEG}));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Error saving image"});
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"blocker"});
}

TEST(ReleaseFaults, FullDiskReportsAndLeavesNoPartialFile)
{
    // A file-size limit stands in for a full disk: writes past 1 KiB fail with EFBIG.
    Rig rig;
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    rig.camera->StartRelease();
    const bool displayed = rig.owner.WaitFor(WM_DISPLAY_JPEG);
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(displayed);  // the picture is still shown
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Error saving image"});
    EXPECT_TRUE(rig.Files().empty());
    // Room again: the next picture is saved under the first number.
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.JPG"});
}

// ---------------------------------------------------------------- stress

// Many releases from the PC and from the body, at random moments: every announced item is
// downloaded exactly once, in announcement order. Run under ThreadSanitizer in CI.
TEST(ReleaseStress, EveryAnnouncedItemIsDownloadedOnceInOrder)
{
    auto config = Rig::Small();
    config.pictureWidth = 64;
    config.pictureHeight = 48;
    config.exposureMs = 0;
    config.seed = 12345;
    Rig rig(config);
    const int kReleases = 1000;
    std::mt19937 random(config.seed);
    for (int i = 0; i < kReleases; ++i) {
        if (random() % 4 == 0)
            rig.lib.PressShutterButton();
        else
            rig.camera->StartRelease();
        if (random() % 8 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    }
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, kReleases, std::chrono::seconds(600)));
    const auto state = rig.lib.State();
    EXPECT_EQ(state.itemsAnnounced, static_cast<uint32_t>(kReleases));
    ASSERT_EQ(state.deliveredSequences.size(), static_cast<size_t>(kReleases));
    for (size_t i = 0; i < state.deliveredSequences.size(); ++i)
        ASSERT_EQ(state.deliveredSequences[i], i + 1);
    EXPECT_EQ(rig.Files().size(), static_cast<size_t>(kReleases));
    auto texts = rig.Texts();
    std::set<std::string> unique(texts.begin(), texts.end());
    EXPECT_EQ(unique.size(), static_cast<size_t>(kReleases));
}

}  // namespace
