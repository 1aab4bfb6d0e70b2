// Release control and image transfer through the simulated camera: what is saved, what
// is announced and in which order, for every save mode and item kind, and what happens
// when the camera, the cable or the disk fails.
#include "RecordingSink.h"

#include "backends/sim/SimCamera.h"
#include "camera/CCamera.h"
#include "camera/CameraStartup.h"
#include "imaging/ImageInfo.h"
#include "support/ProgramSupport.h"
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
#include <condition_variable>
#include <mutex>

using namespace cdsdk;
namespace fs = std::filesystem;

namespace {

struct Rig {
    explicit Rig(sim::SimConfig config = Small())
        : lib(config)
    {
        StartCameraLibrary(lib);
        SaveSnapshot s;
        s.folders.Directory = dir.Str();
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
        for (const auto& e : fs::directory_iterator(dir.Path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    struct Saved {
        std::string text;
        SaveReport report;
        std::vector<uint8_t> unsaved;    // the bytes of a picture no folder took
        std::vector<uint8_t> displayed;  // the bytes shown for it
        bool received = true;            // false: marked as an item that never arrived whole
    };
    // The saved-file notifications taken out so far, with the display that followed each.
    std::vector<Saved> SavedReports()
    {
        std::vector<Saved> out;
        for (auto& n : owner.Take()) {
            if (n.message == WM_SAVED_FILE)
                out.push_back({n.text.value_or(""), n.report.value_or(SaveReport{}), std::move(n.bytes), {},
                               n.wParam != kItemNotReceived});
            else if (n.message == WM_DISPLAY_JPEG && !out.empty() && out.back().displayed.empty())
                out.back().displayed = std::move(n.bytes);
        }
        return out;
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

// Every release test runs under both release timings of the library: CDRelease returning
// at once, and CDRelease blocking through the exposure with the events before it returns.
class Timed : public ::testing::TestWithParam<sim::ReleaseTiming> {
protected:
    sim::SimConfig Config() const
    {
        sim::SimConfig c = Rig::Small();
        c.releaseTiming = GetParam();
        return c;
    }
};
class Release : public Timed {};
class ReleaseFaults : public Timed {};

std::string TimingName(const ::testing::TestParamInfo<sim::ReleaseTiming>& info)
{
    return info.param == sim::ReleaseTiming::Async ? "ReleaseReturnsAtOnce" : "ReleaseBlocksThroughExposure";
}

TEST_P(Release, PcOnlyJpegSavesOneFileAndAnnouncesInOrder)
{
    Rig rig(Config());
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
    EXPECT_EQ(*saved->text, (rig.dir.Path() / "IMG_0001.JPG").string());
    EXPECT_EQ(exif->info->Model(), "Canon EOS 10D");
    EXPECT_EQ(display->wParam, static_cast<int64_t>(display->bytes.size()));
    // The file holds the camera's bytes unchanged.
    EXPECT_EQ(testsupport::ReadFileBytes(rig.dir.Path() / "IMG_0001.JPG"), display->bytes);
    // Progress went up to 100 with nothing else waiting.
    bool sawHundred = false;
    for (const auto& n : got)
        if (n.message == WM_DOWNLOAD_PROGRESS && n.wParam == 100)
            sawHundred = true;
    EXPECT_TRUE(sawHundred);
}

TEST_P(Release, CameraOnlyRawShowsTheThumbnailAndSavesNothing)
{
    Rig rig(Config());
    rig.SetQuality(4, 2);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_SAVED_FILE, WM_EXIF, WM_DISPLAY_JPEG}));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Image stored on CF card"});
    EXPECT_TRUE(rig.Files().empty());
}

TEST_P(Release, PcRawSavesThumbnailThenRawUnderOneNumber)
{
    Rig rig(Config());
    rig.SetQuality(4, 1);
    for (int shot = 1; shot <= 2; ++shot) {
        rig.camera->StartRelease();
        ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, 2));
        EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_EXIF, WM_DISPLAY_JPEG, WM_SAVED_FILE, WM_DISPLAY_JPEG}));
        rig.owner.Take();
    }
    EXPECT_EQ(rig.Files(), (std::vector<std::string>{"IMG_0001.CRW", "IMG_0001.THM", "IMG_0002.CRW", "IMG_0002.THM"}));
    // The RAW file is read through its thumbnail.
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile((rig.dir.Path() / "IMG_0002.CRW").string()).Model(), "Canon EOS 10D");
}

TEST_P(Release, TiffRawSavesTifAndItsJpegUnderOneNumber)
{
    auto config = Config();
    config.tiffRaw = true;
    Rig rig(config);
    rig.SetQuality(4, 1);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, 2));
    EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_EXIF, WM_SAVED_FILE, WM_DISPLAY_JPEG, WM_EXIF, WM_DISPLAY_JPEG}));
    EXPECT_EQ(rig.Files(), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0001.TIF"}));
}

TEST_P(Release, PreviewIsShownNotSaved)
{
    Rig rig(Config());
    rig.camera->StartPreviewRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Image downloaded"});
    EXPECT_TRUE(rig.Files().empty());
    EXPECT_FALSE(rig.camera->PreviewPending());
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.JPG"});
}

// The release thread is held inside the first item while two more shots are announced:
// both announcements are in before it looks again, and neither is lost.
TEST_P(Release, TwoAnnouncementsBeforeTheThreadWakesAreBothDownloadedInOrder)
{
    Rig rig(Config());
    std::mutex gateMutex;
    std::condition_variable gateCv;
    bool held = false, open = false;
    rig.owner.beforeSnapshot = [&] {
        std::unique_lock<std::mutex> lock(gateMutex);
        if (held)
            return;
        held = true;
        gateCv.notify_all();
        gateCv.wait(lock, [&] { return open; });
    };
    rig.lib.PressShutterButton();
    {
        std::unique_lock<std::mutex> lock(gateMutex);
        ASSERT_TRUE(gateCv.wait_for(lock, std::chrono::seconds(20), [&] { return held; }));
    }
    rig.lib.PressShutterButton();
    rig.lib.PressShutterButton();
    for (int i = 0; i < 2000 && rig.lib.State().itemsAnnounced < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(rig.lib.State().itemsAnnounced, 3u);
    EXPECT_EQ(rig.camera->PendingCount(), 2);
    {
        std::lock_guard<std::mutex> lock(gateMutex);
        open = true;
    }
    gateCv.notify_all();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, 3));
    auto texts = rig.Texts();
    ASSERT_EQ(texts.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(fs::path(texts[static_cast<size_t>(i)]).filename(), "IMG_000" + std::to_string(i + 1) + ".JPG");
    EXPECT_EQ(rig.lib.State().deliveredSequences, (std::vector<uint32_t>{1, 2, 3}));
}

// A preview in Camera-only mode is fired with the kind "picture to PC" and comes back as
// "Image downloaded", never "Image stored on CF card"; the next shot is the user's own
// kind again, and the following PC-only picture is saved.
TEST_P(Release, PreviewInCameraOnlyModeIsDownloadedAndLeavesNothingBehind)
{
    Rig rig(Config());
    rig.camera->SetSaveMode(2);
    rig.camera->StartPreviewRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Image downloaded"});
    EXPECT_FALSE(rig.camera->PreviewPending());
    EXPECT_EQ(rig.lib.State().releaseKind, 13);

    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Image stored on CF card"});

    rig.camera->SetSaveMode(1);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{(rig.dir.Path() / "IMG_0001.JPG").string()});
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.JPG"});
}

// Switching the save mode while a shot is on its way changes nothing about it: what the
// shot sends to the PC is saved, the RAW picture's thumbnail under the RAW's number.
TEST_P(Release, SaveModeChangedDuringTheDownloadStillSavesTheShot)
{
    auto config = Config();
    config.linkBytesPerSecond = 400000;  // long enough to switch in the middle
    Rig rig(config);
    rig.SetQuality(4, 1);  // RAW, PC only: thumbnail and RAW picture
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DOWNLOAD_PROGRESS));
    rig.camera->SetSaveMode(2);  // camera only, from now on
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, 2));
    EXPECT_EQ(rig.Files(), (std::vector<std::string>{"IMG_0001.CRW", "IMG_0001.THM"}));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{(rig.dir.Path() / "IMG_0001.CRW").string()});
}

TEST_P(Release, BodyShutterSavesLikeAProgramRelease)
{
    Rig rig(Config());
    rig.lib.PressShutterButton();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_EXIF, WM_SAVED_FILE, WM_DISPLAY_JPEG}));
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.JPG"});
}

TEST_P(Release, CommentAndRotationAreStampedOnlyWhenAsked)
{
    Rig rig(Config());
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    // Empty comment, orientation 4: the file is the camera's bytes.
    for (const auto& n : rig.owner.Take()) {
        if (n.message == WM_DISPLAY_JPEG) {
            EXPECT_EQ(testsupport::ReadFileBytes(rig.dir.Path() / "IMG_0001.JPG"), n.bytes);
        }
    }

    SaveSnapshot s = rig.owner.TakeSaveSnapshot();
    s.comment = "Studio 3, softbox left";
    s.orientationSetting = 2;  // portrait, 90 degrees clockwise
    rig.owner.SetSnapshot(s);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    const std::string path = (rig.dir.Path() / "IMG_0002.JPG").string();
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile(path).Rotation(), 90);
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    auto comment = image->exifData().findKey(Exiv2::ExifKey("Exif.Photo.UserComment"));
    ASSERT_NE(comment, image->exifData().end());
    EXPECT_NE(comment->toString().find("Studio 3, softbox left"), std::string::npos);
}

// With a digit in the prefix ("D60_") the pictures are numbered on from the digits after
// it: three shots give 0001, 0002, 0003, each a new file.
TEST_P(Release, PrefixWithADigitNumbersOnFromTheDigitsAfterIt)
{
    Rig rig(Config());
    SaveSnapshot s = rig.owner.TakeSaveSnapshot();
    s.folders.FilenamePrefix = "D60_";
    rig.owner.SetSnapshot(s);
    for (int shot = 1; shot <= 3; ++shot) {
        rig.camera->StartRelease();
        ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, static_cast<size_t>(shot)));
    }
    EXPECT_EQ(rig.Files(), (std::vector<std::string>{"D60_0001.JPG", "D60_0002.JPG", "D60_0003.JPG"}));
}

// A comment outside ASCII is stored as Exif defines for Unicode ("UNICODE" marker, UCS-2)
// so that other readers show it; an ASCII one keeps the "ASCII" marker.
TEST_P(Release, CommentsAreStoredWithTheirCharacterSet)
{
    Rig rig(Config());
    const std::string texts[] = {"Café Müller, Köln", "Plain text"};
    for (int i = 0; i < 2; ++i) {
        SaveSnapshot s = rig.owner.TakeSaveSnapshot();
        s.comment = texts[i];
        rig.owner.SetSnapshot(s);
        rig.camera->StartRelease();
        ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG, static_cast<size_t>(i + 1)));
    }
    auto raw = [&](const char* name) {
        auto image = Exiv2::ImageFactory::open((rig.dir.Path() / name).string());
        image->readMetadata();
        auto it = image->exifData().findKey(Exiv2::ExifKey("Exif.Photo.UserComment"));
        EXPECT_NE(it, image->exifData().end());
        std::vector<uint8_t> bytes(static_cast<size_t>(it->size()));
        it->copy(bytes.data(), image->byteOrder());
        return std::make_pair(bytes, image->byteOrder());
    };
    auto [unicode, order] = raw("IMG_0001.JPG");
    ASSERT_GE(unicode.size(), 8u);
    EXPECT_EQ(std::string(unicode.begin(), unicode.begin() + 8), std::string("UNICODE\0", 8));
    // "Café": C, a, f, e-acute as UCS-2 in the file's byte order.
    std::vector<uint8_t> cafe = order == Exiv2::bigEndian
                                    ? std::vector<uint8_t>{0, 'C', 0, 'a', 0, 'f', 0, 0xE9}
                                    : std::vector<uint8_t>{'C', 0, 'a', 0, 'f', 0, 0xE9, 0};
    EXPECT_EQ(std::vector<uint8_t>(unicode.begin() + 8, unicode.begin() + 16), cafe);
    auto ascii = raw("IMG_0002.JPG").first;
    EXPECT_EQ(std::string(ascii.begin(), ascii.end()), std::string("ASCII\0\0\0Plain text", 18));
}

// ---------------------------------------------------------------- faults

TEST_P(ReleaseFaults, HardwareErrorsAreReported)
{
    Rig rig(Config());
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

TEST_P(ReleaseFaults, DownloadStoppingHalfwaySaysSoSavesNothingAndTheNextShotWorks)
{
    Rig rig(Config());
    rig.lib.StopNextDownloadHalfway();
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_SAVED_FILE));
    const auto saved = rig.SavedReports();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].text, "Download interrupted: picture not received");  // no save error that did not happen
    EXPECT_EQ(saved[0].report.outcome, SaveReport::Outcome::NotReceived);
    EXPECT_FALSE(saved[0].received);
    EXPECT_TRUE(rig.Files().empty());
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.JPG"});
}

TEST_P(ReleaseFaults, UnplugDuringDownloadReportsAndShutsDown)
{
    Rig rig(Config());
    rig.lib.UnplugDuringNextDownload();
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_CAMERA_SHUTDOWN));
    ASSERT_TRUE(rig.owner.WaitFor(WM_SAVED_FILE));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Download interrupted: picture not received"});
    EXPECT_TRUE(rig.Files().empty());
    rig.camera.reset();  // the view deletes the camera on shutdown: no hang
}

TEST_P(ReleaseFaults, InterruptedPreviewAndCameraOnlyThumbnailSayWhatIsMissing)
{
    Rig rig(Config());
    rig.lib.StopNextDownloadHalfway();
    rig.camera->StartPreviewRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_SAVED_FILE));
    EXPECT_EQ(rig.Texts(), std::vector<std::string>{"Download interrupted: preview not received"});
    EXPECT_FALSE(rig.camera->PreviewPending());

    // Camera only: the picture is safe on the card, only its thumbnail did not come.
    rig.camera->SetSaveMode(2);
    rig.lib.StopNextDownloadHalfway();
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_SAVED_FILE));
    EXPECT_EQ(rig.Texts(),
              std::vector<std::string>{"Download interrupted: thumbnail not received (the picture is on the camera's card)"});
    EXPECT_TRUE(rig.Files().empty());
}

TEST_P(ReleaseFaults, ARawPairMissingAHalfNamesIt)
{
    Rig rig(Config());
    rig.SetQuality(4, 1);
    // The thumbnail (first) is cut off: the RAW picture is saved and its report says so.
    rig.lib.StopNextDownloadHalfway();
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_SAVED_FILE));
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    auto saved = rig.SavedReports();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].report.outcome, SaveReport::Outcome::Saved);
    EXPECT_EQ(saved[0].report.missingCompanion, "thumbnail");
    EXPECT_EQ(rig.Files(), std::vector<std::string>{"IMG_0001.CRW"});

    // The RAW picture (second) is cut off once the thumbnail is in: the report names the
    // thumbnail that was saved.
    bool armed = false;
    rig.owner.beforeSnapshot = [&] {
        if (!armed) {
            armed = true;
            rig.lib.StopNextDownloadHalfway();
        }
    };
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_SAVED_FILE));
    saved = rig.SavedReports();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].report.outcome, SaveReport::Outcome::NotReceived);
    EXPECT_EQ(saved[0].report.part, "RAW picture");
    const std::string thm = (rig.dir.Path() / "IMG_0002.THM").string();
    EXPECT_EQ(saved[0].text, "Download interrupted: RAW picture not received (its thumbnail was saved as " + thm + ")");
    EXPECT_EQ(rig.Files(), (std::vector<std::string>{"IMG_0001.CRW", "IMG_0002.THM"}));
    rig.owner.beforeSnapshot = {};
}

TEST_P(ReleaseFaults, AFolderThatCannotBeWrittenSendsThePictureToTheRescueFolder)
{
    Rig rig(Config());
    testsupport::WriteFileBytes(rig.dir.Path() / "blocker", {0});
    SaveSnapshot s = rig.owner.TakeSaveSnapshot();
    s.folders.Directory = (rig.dir.Path() / "blocker" / "pictures").string();
    s.rescueFolders = {(rig.dir.Path() / "rescue").string()};
    rig.owner.SetSnapshot(s);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_EQ(rig.owner.Sequence(), (Seq{WM_EXIF, WM_SAVED_FILE, WM_DISPLAY_JPEG}));
    const auto saved = rig.SavedReports();
    ASSERT_EQ(saved.size(), 1u);
    const fs::path kept = rig.dir.Path() / "rescue" / "IMG_0001.JPG";
    EXPECT_EQ(saved[0].text, kept.string());  // a real file: it enters the history
    EXPECT_EQ(saved[0].report.outcome, SaveReport::Outcome::Rescued);
    EXPECT_TRUE(saved[0].received);
    EXPECT_EQ(saved[0].report.reason, "Not a directory");
    EXPECT_EQ(saved[0].report.folder, s.folders.Directory);
    EXPECT_EQ(testsupport::ReadFileBytes(kept), saved[0].displayed);
}

TEST_P(ReleaseFaults, APictureNoFolderTakesTravelsToTheViewWithItsStamp)
{
    // A file-size limit stands in for a full disk everywhere: writes past 1 KiB fail with EFBIG.
    Rig rig(Config());
    SaveSnapshot s = rig.owner.TakeSaveSnapshot();
    s.comment = "Set 12";
    s.rescueFolders = {(rig.dir.Path() / "rescue").string()};
    rig.owner.SetSnapshot(s);
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
    const auto saved = rig.SavedReports();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].text, "Error saving image");
    EXPECT_EQ(saved[0].report.outcome, SaveReport::Outcome::Unsaved);
    EXPECT_EQ(saved[0].report.reason, "File too large");
    EXPECT_EQ(saved[0].report.rescueReason, "File too large");
    EXPECT_EQ(saved[0].report.suggestedName, "IMG_0001.JPG");
    // The picture itself, with the comment stamped in, not a word of it lost.
    ASSERT_GT(saved[0].unsaved.size(), saved[0].displayed.size());
    const fs::path check = rig.dir.Path() / "check.jpg";
    testsupport::WriteFileBytes(check, saved[0].unsaved);
    EXPECT_NE(testsupport::UserComment(check.string()).find("Set 12"), std::string::npos);
    // Nothing was left half written, in the picture folder or the rescue folder.
    EXPECT_FALSE(fs::exists(rig.dir.Path() / "IMG_0001.JPG"));
    EXPECT_TRUE(!fs::exists(rig.dir.Path() / "rescue") || fs::is_empty(rig.dir.Path() / "rescue"));
    // Room again: the next picture is saved under the first number.
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    EXPECT_TRUE(fs::exists(rig.dir.Path() / "IMG_0001.JPG"));
}

TEST_P(ReleaseFaults, AFullDiskKeepsThePictureInTheRescueFolder)
{
    testsupport::SmallFileSystem disk(1 << 20);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.SkipReason();
    disk.Fill(20 * 1024);
    Rig rig(Config());
    SaveSnapshot s = rig.owner.TakeSaveSnapshot();
    s.folders.Directory = (disk.Path() / "pictures").string();
    s.rescueFolders = {(rig.dir.Path() / "rescue").string()};
    rig.owner.SetSnapshot(s);
    rig.camera->StartRelease();
    ASSERT_TRUE(rig.owner.WaitFor(WM_DISPLAY_JPEG));
    const auto saved = rig.SavedReports();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].report.outcome, SaveReport::Outcome::Rescued);
    EXPECT_EQ(saved[0].report.reason, "No space left on device");
    EXPECT_EQ(testsupport::ReadFileBytes(saved[0].text), saved[0].displayed);
    EXPECT_TRUE(fs::is_empty(disk.Path() / "pictures"));  // no partial file left on the full disk
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

INSTANTIATE_TEST_SUITE_P(BothTimings, Release,
                         ::testing::Values(sim::ReleaseTiming::Async, sim::ReleaseTiming::Blocking), TimingName);
INSTANTIATE_TEST_SUITE_P(BothTimings, ReleaseFaults,
                         ::testing::Values(sim::ReleaseTiming::Async, sim::ReleaseTiming::Blocking), TimingName);
