// The libgphoto2 backend against libgphoto2's own virtual camera (a PTP "Nikon DSC D750"
// that captures by copying a JPEG from the folder named by VCAMERADIR): what only a
// camera body shows (its name, its settings, its own shutter button, a refused capture)
// and the program's saving of a tethered shot. The library contract every backend keeps
// (release events, downloads, closing mid-shot) is checked by the shared suite,
// tests/camera/CameraLibraryConformanceTest.cpp, where this backend is one entry.
//
// The virtual camera is built from libgphoto2's source release into the build tree; the
// test runs with LD_LIBRARY_PATH, CAMLIBS and IOLIBS pointing there (set by CTest). Without
// the source release every test is skipped with the reason.
#include "backends/gphoto2/Gphoto2Camera.h"
#include "camera/CCamera.h"
#include "camera/ReceiveBuffer.h"
#include "camera/RecordingSink.h"
#include "support/TestSupport.h"
#include "VirtualCamera.h"

#include <exiv2/exiv2.hpp>
#include <gphoto2/gphoto2-setting.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;
using namespace cdsdk;
using namespace std::chrono_literals;

namespace {

// ---------------------------------------------------------------- the backends under test

struct BackendEntry {
    std::string name;
    std::string expectedModel;
    // Empty when the backend can run here, else why not (the test is skipped).
    std::function<std::string()> unavailable;
    std::function<std::unique_ptr<CameraLibrary>()> make;
    // Makes the body take a picture with its own shutter button (empty: it cannot).
    std::function<cdError(CameraLibrary&, cdHSource)> pressBodyShutter;
    // The picture the next capture delivers (empty: the backend's own).
    std::function<std::vector<uint8_t>()> nextPicture;
    // Makes every following capture fail as a camera error would; undone by Restore.
    std::function<void()> failCaptures;
    std::function<void()> restore;
};

vcamera::Folders& Folders()
{
    static vcamera::Folders folders;
    return folders;
}

std::vector<BackendEntry> Backends()
{
    BackendEntry g;
    g.name = "Gphoto2VirtualCamera";
    g.expectedModel = "Nikon DSC D750";
    g.unavailable = vcamera::Unavailable;
    g.make = [] {
        Folders().UsePicture();
        gphoto2::Gphoto2Options o;
        o.report = [](const std::string&) {};  // kept by LastProblem
        return std::make_unique<gphoto2::Gphoto2Camera>(o);
    };
    g.nextPicture = [] { return Folders().picture; };
    // The virtual body's own "new picture" operation (0x9999, action 0, after 100 ms).
    g.pressBodyShutter = [](CameraLibrary& lib, cdHSource s) {
        return static_cast<gphoto2::Gphoto2Camera&>(lib).SetConfigValue(s, "opcode", "0x9999,0x0,0x64");
    };
    // The virtual camera reads its folder when the camera is opened.
    g.failCaptures = [] { Folders().UseEmpty(); };
    g.restore = [] { Folders().UsePicture(); };
    return {g};
}

// ---------------------------------------------------------------- helpers

struct EventLog {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::pair<uint32_t, uint32_t>> events;  // event, 32-bit data (0 when none)

    static cdError Callback(uint32_t event, const uint8_t* data, uint32_t size, cdContext ctx)
    {
        auto* self = static_cast<EventLog*>(ctx);
        uint32_t v = 0;
        if (data && size >= 4)
            std::memcpy(&v, data, 4);
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->events.emplace_back(event, v);
        }
        self->cv.notify_all();
        return 0;
    }
    bool WaitFor(uint32_t event, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, timeout, [&] {
            for (auto& e : events)
                if (e.first == event)
                    return true;
            return false;
        });
    }
    std::optional<uint32_t> DataOf(uint32_t event)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& e : events)
            if (e.first == event)
                return e.second;
        return std::nullopt;
    }
    std::vector<uint32_t> Order()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<uint32_t> out;
        for (auto& e : events)
            if (e.first != cdRELEASE_EVENT_CHANGED_BY_UI)
                out.push_back(e.first);
        return out;
    }
};

class Gphoto2Conformance : public ::testing::TestWithParam<BackendEntry> {
protected:
    void SetUp() override
    {
        if (std::string why = GetParam().unavailable(); !why.empty())
            GTEST_SKIP() << why;
        library = GetParam().make();
        cdVersionInfo v{};
        v.Size = sizeof v;
        v.MajorVersion = 5;
        ASSERT_EQ(library->CDStartSDK(&v, 0), cdOK);
    }
    void TearDown() override
    {
        if (library) {
            if (source)
                library->CDCloseSource(source);
            library->CDFinishSDK();
        }
        if (GetParam().restore)
            GetParam().restore();
    }

    std::vector<cdSourceInfo> Enumerate()
    {
        std::vector<cdSourceInfo> out;
        cdHEnum e = 0;
        EXPECT_EQ(library->CDEnumDeviceReset(1, &e), cdOK);
        cdSourceInfo info{};
        while (library->CDEnumDeviceNext(e, &info) == cdOK)
            out.push_back(info);
        library->CDEnumDeviceRelease(e);
        return out;
    }

    void Open()
    {
        auto sources = Enumerate();
        ASSERT_EQ(sources.size(), 1u);
        ASSERT_EQ(library->CDOpenSource(&sources[0], &source), cdOK);
        ASSERT_NE(source, 0u);
    }

    // Outlives the source: TearDown closes it, after which no callback runs.
    EventLog log;
    std::unique_ptr<CameraLibrary> library;
    cdHSource source = 0;
};

// ---------------------------------------------------------------- the checks

TEST_P(Gphoto2Conformance, ConnectsAndIdentifiesTheBody)
{
    auto sources = Enumerate();
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_STREQ(sources[0].Name, GetParam().expectedModel.c_str());
    ASSERT_EQ(library->CDOpenSource(&sources[0], &source), cdOK);
    // The same body cannot be opened twice.
    cdHSource second = 0;
    EXPECT_NE(library->CDOpenSource(&sources[0], &second), cdOK);
    EXPECT_EQ(library->CDCloseSource(source), cdOK);
    EXPECT_NE(library->CDCloseSource(source), cdOK);
    source = 0;

    // The connection as the program makes it: one camera, named as the library names it.
    RecordingOwner owner;
    std::unique_ptr<CCamera> camera;
    ASSERT_NO_THROW(camera = std::make_unique<CCamera>(*library, &owner));
    EXPECT_EQ(camera->GetModelName(), GetParam().expectedModel);
    EXPECT_FALSE(camera->Is10D() || camera->Is300D() || camera->IsEos1D() || camera->IsEos1DS() ||
                 camera->IsD30() || camera->IsD60());
}

TEST_P(Gphoto2Conformance, ApertureAndExposureCompensationAreSetAndReadBack)
{
    Open();
    uint16_t av = 0;
    ASSERT_EQ(library->CDGetAvValue(source, &av), cdOK);
    EXPECT_EQ(av, 0x20);  // the virtual body starts at f/2.8
    ASSERT_EQ(library->CDSetAvValue(source, 0x30), cdOK);  // f/5.6
    ASSERT_EQ(library->CDGetAvValue(source, &av), cdOK);
    EXPECT_EQ(av, 0x30);
    // A value the body does not offer is refused and the body keeps its own.
    EXPECT_NE(library->CDSetAvValue(source, 0x3C), cdOK);  // f/9.5
    ASSERT_EQ(library->CDGetAvValue(source, &av), cdOK);
    EXPECT_EQ(av, 0x30);

    uint16_t ev = 0;
    ASSERT_EQ(library->CDGetExposureComp(source, &ev), cdOK);
    EXPECT_EQ(ev, 0x18);
    ASSERT_EQ(library->CDSetExposureComp(source, 0x10), cdOK);  // +1
    ASSERT_EQ(library->CDGetExposureComp(source, &ev), cdOK);
    EXPECT_EQ(ev, 0x10);
    ASSERT_EQ(library->CDSetExposureComp(source, 0x1C), cdOK);  // -1/2
    ASSERT_EQ(library->CDGetExposureComp(source, &ev), cdOK);
    EXPECT_EQ(ev, 0x1C);

    uint16_t tv = 0;
    ASSERT_EQ(library->CDGetTvValue(source, &tv), cdOK);
    EXPECT_EQ(tv, 0x6D);  // 1/100 s
    ASSERT_EQ(library->CDSetTvValue(source, 0x75), cdOK);  // 1/200 s
    ASSERT_EQ(library->CDGetTvValue(source, &tv), cdOK);
    EXPECT_EQ(tv, 0x75);

    // What the body does not have is "not supported", not a failure of the camera.
    uint16_t wb = 0;
    EXPECT_EQ(library->CDGetWBSetting(source, &wb), cdNOT_SUPPORTED);
    uint16_t q = 0, size = 0;
    EXPECT_EQ(library->CDGetImageFormatAttribute(source, &q, &size), cdNOT_SUPPORTED);
}

TEST_P(Gphoto2Conformance, AReleaseIsSavedStampedAndAnnouncedByTheProgram)
{
    testsupport::TempDir dir;
    RecordingOwner owner;
    SaveSnapshot snap;
    snap.folders.Directory = dir.Str();
    snap.folders.Year = snap.folders.Month = snap.folders.Day = false;
    snap.comment = "tethered";
    snap.orientationSetting = 4;
    owner.SetSnapshot(snap);
    auto camera = std::make_unique<CCamera>(*library, &owner);
    camera->StartRelease();
    ASSERT_TRUE(owner.WaitFor(WM_DISPLAY_JPEG, 1, 20s));
    std::string path;
    std::vector<uint8_t> shown;
    for (auto& n : owner.Take()) {
        if (n.message == WM_SAVED_FILE)
            path = n.text.value_or("");
        if (n.message == WM_DISPLAY_JPEG)
            shown = n.bytes;
    }
    ASSERT_EQ(path, (dir.Path() / "IMG_0001.JPG").string());
    EXPECT_EQ(shown, GetParam().nextPicture());  // displayed as it came from the camera
    auto image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    auto it = image->exifData().findKey(Exiv2::ExifKey("Exif.Photo.UserComment"));
    ASSERT_NE(it, image->exifData().end());
    EXPECT_NE(it->toString().find("tethered"), std::string::npos);
}

TEST_P(Gphoto2Conformance, APictureTakenOnTheBodyGivesTheSameEventsAndDownload)
{
    if (!GetParam().pressBodyShutter)
        GTEST_SKIP() << "this backend has no body shutter to press";
    Open();
    ASSERT_EQ(library->CDEnterReleaseControl(source, &EventLog::Callback, &log), cdOK);
    ASSERT_EQ(GetParam().pressBodyShutter(*library, source), cdOK);
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE));
    EXPECT_EQ(log.Order(), (std::vector<uint32_t>{cdRELEASE_EVENT_RELEASE_START, cdRELEASE_EVENT_RELEASE_COMPLETE}));
    EXPECT_EQ(log.DataOf(cdRELEASE_EVENT_RELEASE_COMPLETE), 1u);
    ReceiveBuffer buffer;
    cdReleaseImageInfo info{};
    cdStgMedium medium = buffer.Medium();
    ASSERT_EQ(library->CDGetReleasedData(source, nullptr, nullptr, 3, &info, &medium), cdOK);
    const std::vector<uint8_t> expected = GetParam().nextPicture();
    ASSERT_EQ(buffer.Size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.Data()));
}

TEST_P(Gphoto2Conformance, ACaptureTheCameraRefusesIsReportedAsAHardwareError)
{
    if (!GetParam().failCaptures)
        GTEST_SKIP() << "this backend cannot make its camera refuse";
    GetParam().failCaptures();
    Open();
    ASSERT_EQ(library->CDEnterReleaseControl(source, &EventLog::Callback, &log), cdOK);
    uint32_t count = 0;
    ASSERT_EQ(library->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RESET_HW_ERROR));
    EXPECT_NE(log.DataOf(cdRELEASE_EVENT_RESET_HW_ERROR).value_or(0), 0u);
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(log.DataOf(cdRELEASE_EVENT_RELEASE_COMPLETE).has_value());
    // The program's view of it: the error message, and the camera stays usable.
    auto* g = dynamic_cast<gphoto2::Gphoto2Camera*>(library.get());
    if (g) {
        EXPECT_NE(g->LastProblem().find("refused to take the picture"), std::string::npos) << g->LastProblem();
    }
    uint16_t av = 0;
    EXPECT_EQ(library->CDGetAvValue(source, &av), cdOK);
}

// ---------------------------------------------------------------- shots of several files

using Clock = std::chrono::steady_clock;

// Release events with the moment each arrived.
struct Announcements {
    std::mutex mutex;
    std::condition_variable cv;
    struct Event {
        uint32_t event, value;
        Clock::time_point at;
    };
    std::vector<Event> events;

    static cdError Callback(uint32_t event, const uint8_t* data, uint32_t size, cdContext ctx)
    {
        auto* self = static_cast<Announcements*>(ctx);
        uint32_t v = 0;
        if (data && size >= 4)
            std::memcpy(&v, data, 4);
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->events.push_back({event, v, Clock::now()});
        }
        self->cv.notify_all();
        return 0;
    }
    // The announcements (event 29) so far.
    std::vector<Event> Completes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Event> out;
        for (const Event& e : events)
            if (e.event == cdRELEASE_EVENT_RELEASE_COMPLETE)
                out.push_back(e);
        return out;
    }
    // Waits until the announcements add up to `items`.
    bool WaitForItems(uint32_t items, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, timeout, [&] {
            uint32_t n = 0;
            for (const Event& e : events)
                if (e.event == cdRELEASE_EVENT_RELEASE_COMPLETE)
                    n += e.value;
            return n >= items;
        });
    }
    bool WaitFor(uint32_t event, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, timeout, [&] {
            return std::any_of(events.begin(), events.end(), [&](const Event& e) { return e.event == event; });
        });
    }
};

// The virtual body's scripted operation 0x9999: `action` after `afterMs` (0 a new file,
// 2 "capture complete", 3 the cable pulled after `afterMs` commands, 4 the store full), with
// more parameters for a new file: its extension (0 JPG, 1 NEF) and whether it takes the
// number of the file before it.
cdError Script(CameraLibrary& lib, cdHSource s, uint32_t action, uint32_t afterMs, std::vector<uint32_t> more = {})
{
    char part[48];
    std::snprintf(part, sizeof part, "0x9999,0x%x,0x%x", action, afterMs);
    std::string value = part;
    for (uint32_t m : more) {
        std::snprintf(part, sizeof part, ",0x%x", m);
        value += part;
    }
    return static_cast<gphoto2::Gphoto2Camera&>(lib).SetConfigValue(s, "opcode", value);
}
constexpr uint32_t kNewFile = 0, kComplete = 2, kPullCable = 3, kStoreFull = 4;
constexpr uint32_t kJpg = 0, kNef = 1, kSameNumber = 1;

// Whether `done` holds within `timeoutMs`, looking every 10 ms.
bool Eventually(const std::function<bool()>& done, int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class Gphoto2Shots : public Gphoto2Conformance {
protected:
    void OpenForShots()
    {
        Open();
        ASSERT_EQ(library->CDEnterReleaseControl(source, &Announcements::Callback, &shots), cdOK);
        ASSERT_EQ(library->CDSelectReleaseDataKind(source, cdREL_KIND_PICT_TO_PC), cdOK);
        start = Clock::now();
    }
    // Downloads every announced item: (data type, format) of each, in order.
    std::vector<std::pair<uint32_t, uint8_t>> DownloadAll(size_t items)
    {
        std::vector<std::pair<uint32_t, uint8_t>> out;
        for (size_t i = 0; i < items; ++i) {
            ReceiveBuffer buffer;
            cdReleaseImageInfo info{};
            cdStgMedium medium = buffer.Medium();
            EXPECT_EQ(library->CDGetReleasedData(source, nullptr, nullptr, 3, &info, &medium), cdOK) << "item " << i;
            EXPECT_GT(buffer.Size(), 0u);
            library->CDReleasedItemSaved(source);  // as the program does: the camera's copy goes
            const uint32_t type = info.DataType;
            const uint8_t format = info.Format;
            out.emplace_back(type, format);
        }
        return out;
    }
    // Milliseconds from the start of the script to an announcement.
    long At(const Announcements::Event& e) const
    {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(e.at - start).count());
    }

    Announcements shots;  // outlives the source (TearDown closes it)
    Clock::time_point start;
};

const std::pair<uint32_t, uint8_t> kRaw{cdDATA_TYPE_PICTURE, cdFORMAT_RAW};
const std::pair<uint32_t, uint8_t> kPlusJpeg{cdDATA_TYPE_PLUS_JPEG, cdFORMAT_JPEG};
const std::pair<uint32_t, uint8_t> kJpeg{cdDATA_TYPE_PICTURE, cdFORMAT_JPEG};

// RAW, "capture complete", then the JPEG (ptp2 allows files after the complete): the RAW
// is announced after a short quiet spell, and the late JPEG as that shot's JPEG.
TEST_P(Gphoto2Shots, AJpegAfterCaptureCompleteIsTheJpegOfItsRaw)
{
    OpenForShots();
    ASSERT_EQ(Script(*library, source, kNewFile, 100, {kNef}), cdOK);
    ASSERT_EQ(Script(*library, source, kComplete, 200), cdOK);
    ASSERT_EQ(Script(*library, source, kNewFile, 400, {kJpg, kSameNumber}), cdOK);
    ASSERT_TRUE(shots.WaitForItems(2));
    const auto completes = shots.Completes();
    ASSERT_EQ(completes.size(), 2u);
    EXPECT_EQ(completes[0].value, 1u);
    EXPECT_EQ(completes[1].value, 1u);
    EXPECT_LE(At(completes[0]), 200 + 200) << "the RAW within 200 ms of the capture's end";
    EXPECT_LE(At(completes[1]), 400 + 200) << "the late JPEG within 200 ms of its arrival";
    EXPECT_EQ(DownloadAll(2), (std::vector{kRaw, kPlusJpeg}));
}

// RAW and JPEG before "capture complete": one announcement of both, as soon as both are in.
TEST_P(Gphoto2Shots, ARawAndItsJpegAreAnnouncedTogetherOnceBothAreIn)
{
    OpenForShots();
    ASSERT_EQ(Script(*library, source, kNewFile, 100, {kNef}), cdOK);
    ASSERT_EQ(Script(*library, source, kNewFile, 150, {kJpg, kSameNumber}), cdOK);
    ASSERT_EQ(Script(*library, source, kComplete, 250), cdOK);
    ASSERT_TRUE(shots.WaitForItems(2));
    std::this_thread::sleep_for(400ms);  // the complete comes and goes
    const auto completes = shots.Completes();
    ASSERT_EQ(completes.size(), 1u);
    EXPECT_EQ(completes[0].value, 2u);
    EXPECT_LE(At(completes[0]), 150 + 200);
    EXPECT_EQ(DownloadAll(2), (std::vector{kRaw, kPlusJpeg}));
}

// A third file before the complete (the next frame of a burst) is a shot of its own.
TEST_P(Gphoto2Shots, AThirdEarlyFileIsTheNextShot)
{
    OpenForShots();
    ASSERT_EQ(Script(*library, source, kNewFile, 100, {kNef}), cdOK);
    ASSERT_EQ(Script(*library, source, kNewFile, 150, {kJpg, kSameNumber}), cdOK);
    ASSERT_EQ(Script(*library, source, kNewFile, 200, {kJpg}), cdOK);
    ASSERT_EQ(Script(*library, source, kComplete, 300), cdOK);
    ASSERT_TRUE(shots.WaitForItems(3));
    const auto completes = shots.Completes();
    ASSERT_EQ(completes.size(), 2u);
    EXPECT_EQ(completes[0].value, 2u);
    EXPECT_EQ(completes[1].value, 1u);
    EXPECT_LE(At(completes[0]), 150 + 200);
    EXPECT_LE(At(completes[1]), 200 + 200);
    EXPECT_EQ(DownloadAll(3), (std::vector{kRaw, kPlusJpeg, kJpeg}));
}

// A shot of more files than one announcement carries is announced in parts, each opened by
// its own start event; none is left over for the next release.
TEST_P(Gphoto2Shots, ABurstOfMoreThanSixteenFilesIsAnnouncedInParts)
{
    OpenForShots();
    ASSERT_EQ(Script(*library, source, kNewFile, 100, {kNef}), cdOK);
    for (uint32_t i = 0; i < 19; ++i)
        ASSERT_EQ(Script(*library, source, kNewFile, 110 + 5 * i, {kJpg}), cdOK);
    ASSERT_EQ(Script(*library, source, kComplete, 300), cdOK);
    ASSERT_TRUE(shots.WaitForItems(20));
    const auto completes = shots.Completes();
    ASSERT_EQ(completes.size(), 2u);
    EXPECT_EQ(completes[0].value, 16u);
    EXPECT_EQ(completes[1].value, 4u);
    EXPECT_EQ(DownloadAll(20).size(), 20u);
    {
        std::lock_guard<std::mutex> lock(shots.mutex);
        EXPECT_EQ(std::count_if(shots.events.begin(), shots.events.end(),
                                [](const auto& e) { return e.event == cdRELEASE_EVENT_RELEASE_START; }),
                  2);
    }
    // Nothing is left over: the next item asked for is not there.
    ReceiveBuffer buffer;
    cdReleaseImageInfo info{};
    cdStgMedium medium = buffer.Medium();
    EXPECT_NE(library->CDGetReleasedData(source, nullptr, nullptr, 3, &info, &medium), cdOK);
}

// The store running full after the shot's first file keeps that file for the PC and says
// the card is full.
TEST_P(Gphoto2Shots, AStoreFullEventKeepsTheFilesAlreadyReported)
{
    OpenForShots();
    ASSERT_EQ(Script(*library, source, kNewFile, 100, {kNef}), cdOK);
    ASSERT_EQ(Script(*library, source, kStoreFull, 150), cdOK);
    ASSERT_EQ(Script(*library, source, kComplete, 300), cdOK);
    ASSERT_TRUE(shots.WaitForItems(1));
    EXPECT_EQ(DownloadAll(1), (std::vector{kRaw}));
    auto& g = static_cast<gphoto2::Gphoto2Camera&>(*library);
    EXPECT_NE(g.LastProblem().find("is full"), std::string::npos) << g.LastProblem();
}

// The cable pulled after the shutter opened: the release is answered (a shot that brought
// nothing), the program hears the shutdown, and the reason says what happened.
TEST_P(Gphoto2Shots, APulledCableMidShotAnswersTheRelease)
{
    OpenForShots();
    EventLog cameraEvents;
    struct Shutdowns {
        static uint32_t Callback(uint32_t code, const uint8_t*, uint32_t, cdContext ctx)
        {
            static_cast<std::atomic<uint32_t>*>(ctx)->store(code);
            return 0;
        }
    };
    std::atomic<uint32_t> shutdown{0};
    ASSERT_EQ(library->CDRegisterEventCallbackFunction(source, &Shutdowns::Callback, &shutdown, nullptr), cdOK);
    ASSERT_EQ(Script(*library, source, kPullCable, 1), cdOK);  // the trigger still gets through
    uint32_t count = 0;
    ASSERT_EQ(library->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    ASSERT_TRUE(shots.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE) || shots.WaitFor(cdRELEASE_EVENT_RESET_HW_ERROR))
        << "the release is answered";
    const auto deadline = Clock::now() + 5s;
    while ((shutdown.load() & cdEVENT_CLASS_MASK) != cdEVENT_CLASS_SHUTDOWN && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(shutdown.load() & cdEVENT_CLASS_MASK, cdEVENT_CLASS_SHUTDOWN);
    char report[1024];
    uint32_t size = sizeof report;
    ASSERT_EQ(library->CDGetProblemReport(source, report, &size), cdOK);
    EXPECT_NE(std::string(report, size).find("was disconnected"), std::string::npos) << report;
}

// Reopening right after a close that timed out (the worker still letting go of the camera)
// waits for this program's own connection to end rather than blaming another program; a
// worker that takes longer than the reopen wait is named as what it is.
TEST_P(Gphoto2Shots, ReopeningAfterATimedOutCloseWaitsForTheOldConnection)
{
    auto slowToLetGo = [](int reopenWaitMs) {
        gphoto2::Gphoto2Options o;
        o.report = [](const std::string&) {};
        o.closeWaitMs = 50;
        o.reopenWaitMs = reopenWaitMs;
        o.beforeClose = [] { std::this_thread::sleep_for(600ms); };
        return std::make_unique<gphoto2::Gphoto2Camera>(o);
    };
    cdVersionInfo v{};
    v.Size = sizeof v;
    v.MajorVersion = 5;
    library->CDFinishSDK();
    library = slowToLetGo(3000);
    ASSERT_EQ(library->CDStartSDK(&v, 0), cdOK);
    Open();
    const auto closed = Clock::now();
    ASSERT_EQ(library->CDCloseSource(source), cdOK);
    source = 0;
    EXPECT_LT(Clock::now() - closed, 400ms) << "the close timed out";
    Open();  // waits for the old worker, then opens
    EXPECT_GE(Clock::now() - closed, 500ms);
    auto* g = static_cast<gphoto2::Gphoto2Camera*>(library.get());
    EXPECT_EQ(g->LastProblem().find("another program"), std::string::npos) << g->LastProblem();
    library->CDCloseSource(source);
    source = 0;
    std::this_thread::sleep_for(800ms);  // that worker lets go too

    library = slowToLetGo(100);
    ASSERT_EQ(library->CDStartSDK(&v, 0), cdOK);
    Open();
    ASSERT_EQ(library->CDCloseSource(source), cdOK);
    source = 0;
    auto sources = Enumerate();
    ASSERT_EQ(sources.size(), 1u);
    cdHSource again = 0;
    EXPECT_EQ(library->CDOpenSource(&sources[0], &again), cdDEVICE_BUSY);
    g = static_cast<gphoto2::Gphoto2Camera*>(library.get());
    EXPECT_NE(g->LastProblem().find("still letting go"), std::string::npos) << g->LastProblem();
    EXPECT_EQ(g->LastProblem().find("another program"), std::string::npos) << g->LastProblem();
    std::this_thread::sleep_for(800ms);
}

// Another lens (or the zoom) changes the apertures the body offers: the body reports its
// aperture changed, and the backend reads that setting's choices again, not only its value,
// and tells the program its settings changed.
TEST_P(Gphoto2Shots, ALensChangeRefreshesTheApertureChoices)
{
    OpenForShots();
    auto widest = [&]() -> std::string {
        cdSettingChoice c[64];
        uint32_t n = 64;
        if (library->CDGetSettingChoices(source, cdOFFERS_AV, c, &n) != cdOK || n == 0)
            return {};
        return c[0].label;
    };
    ASSERT_EQ(widest(), "2.8");
    ASSERT_EQ(Script(*library, source, 5, 2), cdOK);  // a lens whose widest aperture is f/4
    EXPECT_TRUE(Eventually([&] { return widest() == "4"; }, 5000)) << widest();
    uint16_t av = 0;
    ASSERT_EQ(library->CDGetAvValue(source, &av), cdOK);
    EXPECT_EQ(av, 0x28);  // f/4
    EXPECT_TRUE(shots.WaitFor(cdRELEASE_EVENT_CHANGED_BY_UI, 1s));
    ASSERT_EQ(Script(*library, source, 5, 0), cdOK);  // the first lens again
    EXPECT_TRUE(Eventually([&] { return widest() == "2.8"; }, 5000)) << widest();
}

// The driver's abilities claim preview capture for every body of its kind; a body that
// cannot give one (here one whose live view has ended for good) is found out by the probe at
// opening, and offers no live view.
TEST_P(Gphoto2Shots, PreviewCaptureIsProbedNotTakenFromTheAbilities)
{
    testsupport::TempDir dir;
    testsupport::WriteFileBytes(dir.Path() / "ended", {});
    setenv("VCAMERA_LIVEVIEW", dir.Path().c_str(), 1);
    Open();
    unsetenv("VCAMERA_LIVEVIEW");
    auto& g = static_cast<gphoto2::Gphoto2Camera&>(*library);
    EXPECT_FALSE(g.PreviewCaptureWorks(source));
    uint32_t caps = 99;
    ASSERT_EQ(library->CDGetLiveViewCapabilities(source, &caps), cdOK);
    EXPECT_EQ(caps, 0u);
    // A body with Nikon's own properties is polled for its events, as ptp2 does.
    EXPECT_TRUE(g.PollsForEvents(source));
}

TEST_P(Gphoto2Shots, ABodyWhosePreviewWorksOffersLiveView)
{
    Open();
    auto& g = static_cast<gphoto2::Gphoto2Camera&>(*library);
    EXPECT_TRUE(g.PreviewCaptureWorks(source));
    uint32_t caps = 0;
    ASSERT_EQ(library->CDGetLiveViewCapabilities(source, &caps), cdOK);
    EXPECT_TRUE(caps & cdLV_CAP_LIVE_VIEW) << caps;
}

// libgphoto2 keeps a Nikon body's autofocus switch and the capture target as settings of its
// own, shared by every program and saved: autofocus is on while the program has the camera,
// and both are put back as they were when it lets go.
TEST_P(Gphoto2Shots, NikonAutofocusAndTheCaptureTargetArePutBackWhenClosed)
{
    char value[1024];
    gp_setting_set(const_cast<char*>("ptp2"), const_cast<char*>("capturetarget"), const_cast<char*>("card"));
    gp_setting_set(const_cast<char*>("ptp2"), const_cast<char*>("autofocus"), const_cast<char*>("off"));
    Open();
    ASSERT_EQ(library->CDSelectReleaseDataKind(source, cdREL_KIND_PICT_TO_PC), cdOK);
    gp_setting_get(const_cast<char*>("ptp2"), const_cast<char*>("capturetarget"), value);
    EXPECT_STREQ(value, "sdram");
    gp_setting_get(const_cast<char*>("ptp2"), const_cast<char*>("autofocus"), value);
    EXPECT_STREQ(value, "on");
    // The camera modes point it at the card (the virtual body has no card and RAM together).
    ASSERT_EQ(library->CDSelectReleaseDataKind(source, cdREL_KIND_PICT_TO_CAM | cdREL_KIND_THUMB_TO_CAM |
                                                            cdREL_KIND_PICT_TO_PC),
              cdOK);
    EXPECT_EQ(static_cast<gphoto2::Gphoto2Camera&>(*library).ConfigValue(source, "capturetarget"), "Memory card");
    ASSERT_EQ(library->CDSelectReleaseDataKind(source, cdREL_KIND_PICT_TO_PC), cdOK);
    ASSERT_EQ(library->CDCloseSource(source), cdOK);
    source = 0;
    gp_setting_get(const_cast<char*>("ptp2"), const_cast<char*>("capturetarget"), value);
    EXPECT_STREQ(value, "card");
    gp_setting_get(const_cast<char*>("ptp2"), const_cast<char*>("autofocus"), value);
    EXPECT_STREQ(value, "off");
}

// "Save to PC only": once the program has a picture safely on disk the camera's copy is
// deleted, so a long session never fills the body's memory (the virtual card holds 26).
TEST_P(Gphoto2Shots, PicturesSavedOnThePcAreDeletedOnTheCameraInPcOnlyMode)
{
    OpenForShots();
    for (int shot = 0; shot < 40; ++shot) {
        const size_t before = shots.Completes().size();
        uint32_t count = 0;
        ASSERT_EQ(library->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
        std::unique_lock<std::mutex> lock(shots.mutex);
        ASSERT_TRUE(shots.cv.wait_for(lock, 10s, [&] {
            size_t completes = 0;
            for (const auto& e : shots.events) {
                if (e.event == cdRELEASE_EVENT_RESET_HW_ERROR)
                    return true;
                completes += e.event == cdRELEASE_EVENT_RELEASE_COMPLETE;
            }
            return completes > before;
        }));
        lock.unlock();
        ASSERT_EQ(shots.Completes().size(), before + 1) << "shot " << shot << " failed: the camera is full";
        ASSERT_EQ(DownloadAll(1).size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, Gphoto2Shots, ::testing::ValuesIn(Backends()),
                         [](const ::testing::TestParamInfo<BackendEntry>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(Backends, Gphoto2Conformance, ::testing::ValuesIn(Backends()),
                         [](const ::testing::TestParamInfo<BackendEntry>& info) { return info.param.name; });

}  // namespace
