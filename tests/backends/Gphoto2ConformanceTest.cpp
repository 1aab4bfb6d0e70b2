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

INSTANTIATE_TEST_SUITE_P(Backends, Gphoto2Conformance, ::testing::ValuesIn(Backends()),
                         [](const ::testing::TestParamInfo<BackendEntry>& info) { return info.param.name; });

}  // namespace
