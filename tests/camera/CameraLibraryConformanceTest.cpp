// The camera library contract (camera/CameraLibrary.h), checked against every backend.
// A backend joins by one entry in Backends() below; the tests talk to it only through
// CameraLibrary, the way CCamera does.
//
// The libgphoto2 backend runs against libgphoto2's virtual camera, built from its source
// release into the build folder; CTest points LD_LIBRARY_PATH, CAMLIBS, IOLIBS and
// TETHROCAM_VCAMERA_PREFIX at it. Where it is not built (no source release, or the
// ThreadSanitizer build) that backend's checks are skipped with the reason.
#include "backends/sim/SimCamera.h"
#include "camera/CameraLibrary.h"
#include "camera/CameraStartup.h"

#ifdef TETHROCAM_HAVE_GPHOTO2
#include "backends/VirtualCamera.h"
#include "backends/gphoto2/Gphoto2Camera.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using namespace cdsdk;
using namespace std::chrono_literals;

namespace {

// What a test may ask of a backend beyond the library calls themselves.
struct BackendOptions {
    int exposureMs = 20;            // time the shutter stays open
    double linkBytesPerSecond = 0;  // 0: as fast as it goes
};

struct Backend {
    std::string name;
    std::function<std::unique_ptr<CameraLibrary>(const BackendOptions&)> make;
    // Empty when the backend can run here, else why not (its checks are skipped).
    std::function<std::string()> unavailable = [] { return std::string(); };
    // Whether the backend honours BackendOptions: a shutter held open for exposureMs, a
    // link slowed to linkBytesPerSecond. A real camera has its own timing; the checks that
    // need a long exposure or a slow link are skipped for it.
    bool holdsTheShutterOpen = true;
    bool slowsTheLink = true;
    // The bytes of the picture its next shot delivers; empty when not known beforehand.
    std::function<std::vector<uint8_t>()> nextPicture;
};

// A failing check names its backend, not the bytes of the entry.
void PrintTo(const Backend& b, std::ostream* os)
{
    *os << b.name;
}

std::unique_ptr<CameraLibrary> Simulated(const BackendOptions& o, sim::ReleaseTiming timing, bool liveView = true)
{
    sim::SimConfig c;
    c.liveView = liveView;
    c.liveViewWidth = 320;  // small frames: quick to make, also under the ThreadSanitizer
    c.liveViewHeight = 212;
    c.pictureWidth = 320;
    c.pictureHeight = 213;
    c.exposureMs = o.exposureMs;
    c.linkBytesPerSecond = o.linkBytesPerSecond;
    c.releaseTiming = timing;
    return std::make_unique<sim::SimulatedCamera>(c);
}

#ifdef TETHROCAM_HAVE_GPHOTO2
// libgphoto2's virtual camera: a PTP body that captures by copying the first JPEG of the
// folder named by VCAMERADIR.
const vcamera::Folders& VirtualCameraFolders()
{
    static vcamera::Folders f;
    f.UsePicture();
    return f;
}

Backend Gphoto2VirtualCamera()
{
    Backend b;
    b.name = "Gphoto2VirtualCamera";
    b.unavailable = vcamera::Unavailable;
    b.make = [](const BackendOptions&) {
        VirtualCameraFolders();
        gphoto2::Gphoto2Options o;
        o.report = [](const std::string&) {};  // kept by LastProblem
        return std::make_unique<gphoto2::Gphoto2Camera>(o);
    };
    // The virtual body captures at once and sends over a local link at full speed.
    b.holdsTheShutterOpen = false;
    b.slowsTheLink = false;
    b.nextPicture = [] { return VirtualCameraFolders().picture; };
    return b;
}
#endif

// Every backend the program can run on.
std::vector<Backend> Backends()
{
    std::vector<Backend> all;
    for (const auto& [name, timing] : {std::pair{"SimulatedReleaseReturnsAtOnce", sim::ReleaseTiming::Async},
                                       std::pair{"SimulatedReleaseBlocks", sim::ReleaseTiming::Blocking}}) {
        Backend b;
        b.name = name;
        const sim::ReleaseTiming t = timing;
        b.make = [t](const BackendOptions& o) { return Simulated(o, t); };
        all.push_back(b);
    }
    Backend plain;
    plain.name = "SimulatedWithoutLiveView";
    plain.make = [](const BackendOptions& o) { return Simulated(o, sim::ReleaseTiming::Async, false); };
    all.push_back(plain);
#ifdef TETHROCAM_HAVE_GPHOTO2
    all.push_back(Gphoto2VirtualCamera());
#endif
    return all;
}

// Release events as a callback sees them, with the moment each arrived.
struct EventLog {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::pair<uint32_t, uint32_t>> events;  // (event, 32-bit data or 0)
    std::atomic<bool> closed{false};                     // set once the test's close returned
    std::atomic<int> afterClose{0};

    static cdError Callback(uint32_t event, const uint8_t* data, uint32_t size, cdContext ctx)
    {
        auto* self = static_cast<EventLog*>(ctx);
        if (self->closed)
            ++self->afterClose;
        uint32_t value = 0;
        if (data && size >= 4)
            std::memcpy(&value, data, 4);
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->events.emplace_back(event, value);
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
    // The release events so far; a body may report a settings change at any time, and
    // those are left out.
    std::vector<std::pair<uint32_t, uint32_t>> Events()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (auto& e : events)
            if (e.first != cdRELEASE_EVENT_CHANGED_BY_UI)
                out.push_back(e);
        return out;
    }
};

// A stream that keeps what the library writes.
struct Sink {
    std::vector<uint8_t> bytes;
    size_t position = 0;
    cdStream stream{this, &Open, &Close, &Read, &Write, &Seek, &Tell};
    cdStgMedium medium{cdMEMTYPE_STREAM, &stream};

    static Sink& Of(cdContext c) { return *static_cast<Sink*>(c); }
    static void Open(cdContext c, uint32_t mode, cdError* e)
    {
        Of(c).position = 0;
        if (mode == cdSTREAM_OPEN_WRITE)
            Of(c).bytes.clear();
        *e = 0;
    }
    static void Close(cdContext, cdError* e) { *e = 0; }
    static void Read(cdContext, void*, uint32_t* n, cdError* e)
    {
        *n = 0;
        *e = 1;
    }
    static void Write(cdContext c, const void* src, uint32_t* n, cdError* e)
    {
        Sink& s = Of(c);
        if (s.bytes.size() < s.position + *n)
            s.bytes.resize(s.position + *n);
        std::memcpy(s.bytes.data() + s.position, src, *n);
        s.position += *n;
        *e = 0;
    }
    static void Seek(cdContext, uint32_t, int32_t, cdError* e) { *e = 1; }
    static int32_t Tell(cdContext c, cdError* e)
    {
        *e = 0;
        return static_cast<int32_t>(Of(c).position);
    }
};

class CameraLibraryConformance : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        if (std::string why = GetParam().unavailable(); !why.empty())
            GTEST_SKIP() << GetParam().name << " cannot run here: " << why;
    }
    // Starts the library and opens the one camera with release control.
    void Open(const BackendOptions& options = {})
    {
        lib = GetParam().make(options);
        ASSERT_NE(StartCameraLibrary(*lib), 0);
        cdHEnum e = 0;
        ASSERT_EQ(lib->CDEnumDeviceReset(1, &e), cdOK);
        cdSourceInfo info{};
        ASSERT_EQ(lib->CDEnumDeviceNext(e, &info), cdOK);
        cdSourceInfo second{};
        EXPECT_NE(lib->CDEnumDeviceNext(e, &second), cdOK) << "one camera attached";
        lib->CDEnumDeviceRelease(e);
        EXPECT_NE(strnlen(info.Name, sizeof info.Name), 0u);
        ASSERT_EQ(lib->CDOpenSource(&info, &source), cdOK);
        ASSERT_NE(source, 0u);
        ASSERT_EQ(lib->CDEnterReleaseControl(source, &EventLog::Callback, &log), cdOK);
        ASSERT_EQ(lib->CDSelectReleaseDataKind(source, cdREL_KIND_PICT_TO_PC), cdOK);
    }
    void TearDown() override
    {
        if (lib && source) {
            lib->CDExitReleaseControl(source);
            lib->CDCloseSource(source);
        }
        if (lib)
            lib->CDFinishSDK();
    }
    // Downloads one announced item and, as the program does once it is on disk, says so.
    cdError Download(Sink& sink, cdReleaseImageInfo& info, std::vector<uint32_t>* progress = nullptr)
    {
        return DownloadFrom(source, sink, info, progress);
    }
    // The same from another thread: it names the source, which the test thread may close
    // and forget meanwhile.
    cdError DownloadFrom(cdHSource from, Sink& sink, cdReleaseImageInfo& info,
                         std::vector<uint32_t>* progress = nullptr)
    {
        auto onProgress = [](uint32_t percent, uint32_t, cdContext ctx) -> cdError {
            static_cast<std::vector<uint32_t>*>(ctx)->push_back(percent);
            return 0;
        };
        const cdError e =
            lib->CDGetReleasedData(from, progress ? +onProgress : nullptr, progress, 3, &info, &sink.medium);
        if (e == cdOK)
            lib->CDReleasedItemSaved(from);
        return e;
    }
    // The library's problem report, read as the program reads it.
    std::string ProblemReport(cdHSource from, uint32_t bufferSize = 1024)
    {
        std::vector<char> buffer(bufferSize, 'x');
        uint32_t size = bufferSize;
        EXPECT_EQ(lib->CDGetProblemReport(from, buffer.data(), &size), cdOK);
        EXPECT_LT(size, bufferSize);
        EXPECT_EQ(buffer[size], '\0');
        return std::string(buffer.data(), size);
    }

    // Live view: the capabilities (skips the test for a body without `needed`), and one
    // frame, asked for until it comes or `timeout` runs out (busy and no-frame answers are
    // asked again).
    uint32_t LiveViewCapabilities()
    {
        uint32_t caps = 0;
        EXPECT_EQ(lib->CDGetLiveViewCapabilities(source, &caps), cdOK);
        return caps;
    }
    cdError Frame(Sink& sink, std::chrono::milliseconds timeout = 10s)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        cdError e;
        do {
            e = lib->CDGetLiveViewFrame(source, &sink.medium);
        } while ((e == cdLIVE_VIEW_NO_FRAME || e == cdDEVICE_BUSY) && std::chrono::steady_clock::now() < end);
        return e;
    }
    static bool WholeJpeg(const std::vector<uint8_t>& b)
    {
        return b.size() > 4 && b[0] == 0xFF && b[1] == 0xD8 && b[b.size() - 2] == 0xFF && b[b.size() - 1] == 0xD9;
    }

    // Declared before the library so that it outlives the source the library calls it for.
    EventLog log;
    std::unique_ptr<CameraLibrary> lib;
    cdHSource source = 0;
};

// A release announces start (28), then completion (29) with the number of items, and
// each item downloads whole: the record's size is the number of bytes written.
TEST_P(CameraLibraryConformance, ReleaseAnnouncesStartThenCompleteAndItsItemsDownloadWhole)
{
    Open();
    uint32_t count = 99;
    ASSERT_EQ(lib->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE));
    const auto events = log.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].first, cdRELEASE_EVENT_RELEASE_START);
    EXPECT_EQ(events[1].first, cdRELEASE_EVENT_RELEASE_COMPLETE);
    ASSERT_EQ(events[1].second, 1u);
    Sink sink;
    cdReleaseImageInfo info{};
    std::vector<uint32_t> progress;
    ASSERT_EQ(Download(sink, info, &progress), cdOK);
    // The record is packed: its fields are read by value.
    const uint32_t type = info.DataType, size = info.DataSize;
    const uint8_t format = info.Format;
    EXPECT_EQ(type, cdDATA_TYPE_PICTURE);
    EXPECT_EQ(format, cdFORMAT_JPEG);
    EXPECT_EQ(size, sink.bytes.size());
    ASSERT_GE(sink.bytes.size(), 2u);
    EXPECT_EQ(sink.bytes[0], 0xFF);
    EXPECT_EQ(sink.bytes[1], 0xD8);
    if (GetParam().nextPicture) {
        EXPECT_TRUE(sink.bytes == GetParam().nextPicture()) << "the picture as the camera took it";
    }
    // Progress only climbs, and ends at 100.
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100u);
    // Nothing more was announced.
    Sink none;
    EXPECT_NE(Download(none, info), cdOK);
}

// The kind selected when CDRelease is called belongs to the shot: selecting another kind
// right after it (as the program does after a preview) does not change what arrives.
TEST_P(CameraLibraryConformance, TheShotKeepsTheKindSelectedAtRelease)
{
    BackendOptions o;
    o.exposureMs = 100;
    Open(o);
    uint32_t count = 0;
    ASSERT_EQ(lib->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    ASSERT_EQ(lib->CDSelectReleaseDataKind(
                  source, cdREL_KIND_PICT_TO_CAM | cdREL_KIND_THUMB_TO_CAM | cdREL_KIND_THUMB_TO_PC),
              cdOK);
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE));
    Sink sink;
    cdReleaseImageInfo info{};
    ASSERT_EQ(Download(sink, info), cdOK);
    const uint32_t type = info.DataType;  // packed record: read by value
    EXPECT_EQ(type, cdDATA_TYPE_PICTURE);
}

TEST_P(CameraLibraryConformance, ReleaseWithoutReleaseControlFails)
{
    Open();
    ASSERT_EQ(lib->CDExitReleaseControl(source), cdOK);
    uint32_t count = 0;
    EXPECT_NE(lib->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
}

// Once CDExitReleaseControl has returned, the release callback never runs again, even
// for a shot whose exposure was still running.
TEST_P(CameraLibraryConformance, NoReleaseEventAfterLeavingReleaseControl)
{
    BackendOptions o;
    o.exposureMs = 200;
    Open(o);
    std::thread release([&] {
        uint32_t count = 0;
        lib->CDRelease(source, 0, nullptr, nullptr, 0, &count);
    });
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_START));
    ASSERT_EQ(lib->CDExitReleaseControl(source), cdOK);
    log.closed = true;
    // A blocking release may stay in the library until the shot ends: close the source.
    ASSERT_EQ(lib->CDCloseSource(source), cdOK);
    release.join();
    source = 0;
    std::this_thread::sleep_for(400ms);  // longer than the exposure
    EXPECT_EQ(log.afterClose.load(), 0);
}

// Closing the source ends a download in progress promptly, with an error.
TEST_P(CameraLibraryConformance, ClosingTheSourceEndsADownload)
{
    if (!GetParam().slowsTheLink)
        GTEST_SKIP() << "this camera's link cannot be slowed, so no download lasts long enough to cut";
    BackendOptions o;
    o.linkBytesPerSecond = 2000;  // a picture would take minutes
    Open(o);
    uint32_t count = 0;
    ASSERT_EQ(lib->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE));
    std::atomic<bool> returned{false};
    cdError result = cdOK;
    const cdHSource open = source;
    std::thread download([&] {
        Sink sink;
        cdReleaseImageInfo info{};
        result = DownloadFrom(open, sink, info);
        returned = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(returned.load()) << "result " << result;
    const auto start = std::chrono::steady_clock::now();
    lib->CDExitReleaseControl(source);
    ASSERT_EQ(lib->CDCloseSource(source), cdOK);
    source = 0;
    download.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_NE(result, cdOK);
}

// Closing the source ends a release in progress promptly, whichever way the backend
// releases: a blocking CDRelease returns with an error.
TEST_P(CameraLibraryConformance, ClosingTheSourceEndsALongExposure)
{
    if (!GetParam().holdsTheShutterOpen)
        GTEST_SKIP() << "this camera cannot be made to hold a long exposure";
    BackendOptions o;
    o.exposureMs = 30000;
    Open(o);
    std::atomic<bool> returned{false};
    std::thread release([&] {
        uint32_t count = 0;
        lib->CDRelease(source, 0, nullptr, nullptr, 0, &count);
        returned = true;
    });
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_START));
    const auto start = std::chrono::steady_clock::now();
    lib->CDExitReleaseControl(source);
    ASSERT_EQ(lib->CDCloseSource(source), cdOK);
    source = 0;
    release.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_EQ(log.Events().size(), 1u);  // no completion for the cut-off shot
}

// Closing the source at any point of a download lets the camera go: the download either
// finished whole or failed (never a picture cut short reported as success), no callback
// of the closed source runs any more, and the camera opens again.
TEST_P(CameraLibraryConformance, ClosingTheSourceMidDownloadLetsTheCameraGo)
{
    Open();
    uint32_t count = 0;
    ASSERT_EQ(lib->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE));
    Sink sink;
    cdReleaseImageInfo info{};
    std::atomic<bool> started{false};
    cdError result = cdOK;
    const cdHSource open = source;
    std::thread download([&] {
        started = true;
        result = DownloadFrom(open, sink, info);
    });
    while (!started)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    lib->CDExitReleaseControl(source);
    ASSERT_EQ(lib->CDCloseSource(source), cdOK);
    log.closed = true;
    source = 0;
    download.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    if (result == cdOK) {
        const uint32_t size = info.DataSize;  // packed record: read by value
        EXPECT_EQ(sink.bytes.size(), size);
        ASSERT_GE(sink.bytes.size(), 2u);
        EXPECT_EQ(sink.bytes[0], 0xFF);
        EXPECT_EQ(sink.bytes[1], 0xD8);
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(log.afterClose.load(), 0);

    cdHEnum e = 0;
    ASSERT_EQ(lib->CDEnumDeviceReset(1, &e), cdOK);
    cdSourceInfo again{};
    ASSERT_EQ(lib->CDEnumDeviceNext(e, &again), cdOK);
    lib->CDEnumDeviceRelease(e);
    ASSERT_EQ(lib->CDOpenSource(&again, &source), cdOK);
    EXPECT_NE(source, 0u);
}

// A stream that takes nothing (a write that reports 0 bytes without an error) ends the
// download with an error, promptly, instead of offering the same bytes for ever.
TEST_P(CameraLibraryConformance, AStreamThatTakesNothingEndsTheDownloadWithAnError)
{
    Open();
    uint32_t count = 0;
    ASSERT_EQ(lib->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE));
    Sink sink;
    sink.stream.write = [](cdContext, const void*, uint32_t* n, cdError* e) {
        *n = 0;
        *e = 0;
    };
    cdReleaseImageInfo info{};
    std::atomic<bool> returned{false};
    cdError result = cdOK;
    const cdHSource open = source;
    std::thread download([&] {
        result = lib->CDGetReleasedData(open, nullptr, nullptr, 3, &info, &sink.medium);
        returned = true;
    });
    const auto start = std::chrono::steady_clock::now();
    while (!returned && std::chrono::steady_clock::now() - start < 5s)
        std::this_thread::sleep_for(5ms);
    if (!returned) {  // let the test end: closing the source ends a download
        lib->CDExitReleaseControl(source);
        lib->CDCloseSource(source);
        source = 0;
    }
    download.join();
    EXPECT_TRUE(returned.load()) << "the download did not end";
    EXPECT_NE(result, cdOK);
}

// After a release the library says how long to let the camera rest before the first
// download, and hears when an item is safely on disk: promptly, also twice or with nothing
// delivered, and the camera takes the next shot.
TEST_P(CameraLibraryConformance, TheTransferIsPacedAndASavedItemIsAcknowledged)
{
    Open();
    uint32_t pause = 99999;
    ASSERT_EQ(lib->CDGetTransferPause(source, &pause), cdOK);
    EXPECT_LE(pause, 1000u);
    EXPECT_EQ(lib->CDReleasedItemSaved(source), cdOK);  // nothing delivered yet
    for (int shot = 0; shot < 2; ++shot) {
        uint32_t count = 0;
        ASSERT_EQ(lib->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
        ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE));
        Sink sink;
        cdReleaseImageInfo info{};
        ASSERT_EQ(lib->CDGetReleasedData(source, nullptr, nullptr, 3, &info, &sink.medium), cdOK);
        const auto acknowledged = std::chrono::steady_clock::now();
        EXPECT_EQ(lib->CDReleasedItemSaved(source), cdOK);
        EXPECT_EQ(lib->CDReleasedItemSaved(source), cdOK);
        EXPECT_LT(std::chrono::steady_clock::now() - acknowledged, 200ms) << "acknowledging waits for nothing";
        std::lock_guard<std::mutex> lock(log.mutex);
        log.events.clear();
    }
    EXPECT_NE(lib->CDReleasedItemSaved(0xDEAD), cdOK);
}

// The problem report is the library's own text, zero-terminated, and forgotten once read;
// a source the library does not know is refused.
TEST_P(CameraLibraryConformance, AProblemReportIsForgottenOnceRead)
{
    Open();
    ProblemReport(source);
    EXPECT_EQ(ProblemReport(source), "");
    EXPECT_EQ(ProblemReport(0), "");
    EXPECT_EQ(ProblemReport(source, 1), "");
    char buffer[8];
    uint32_t size = sizeof buffer;
    EXPECT_NE(lib->CDGetProblemReport(0xDEAD, buffer, &size), cdOK);
    size = 0;
    EXPECT_NE(lib->CDGetProblemReport(source, buffer, &size), cdOK);
}

// A body that describes its own settings gives choices that agree with its values and its
// writes; one the program's tables describe answers "not supported" to both calls.
TEST_P(CameraLibraryConformance, OfferedSettingsAgreeWithTheirChoicesAndValues)
{
    Open();
    uint32_t present = 0, settable = 0;
    const cdError offered = lib->CDGetOfferedSettings(source, &present, &settable);
    if (offered == cdNOT_SUPPORTED) {
        cdSettingChoice choices[4];
        uint32_t count = 4;
        EXPECT_EQ(lib->CDGetSettingChoices(source, cdOFFERS_TV, choices, &count), cdNOT_SUPPORTED);
        return;
    }
    ASSERT_EQ(offered, cdOK);
    EXPECT_EQ(settable & ~present, 0u) << "only what the body has can be set";
    struct Numeric {
        uint32_t bit;
        cdError (CameraLibrary::*get)(cdHSource, uint16_t*);
        cdError (CameraLibrary::*set)(cdHSource, uint16_t);
    };
    for (const Numeric& n : {Numeric{cdOFFERS_TV, &CameraLibrary::CDGetTvValue, &CameraLibrary::CDSetTvValue},
                             Numeric{cdOFFERS_AV, &CameraLibrary::CDGetAvValue, &CameraLibrary::CDSetAvValue},
                             Numeric{cdOFFERS_EXPOSURE_COMP, &CameraLibrary::CDGetExposureComp,
                                     &CameraLibrary::CDSetExposureComp}}) {
        SCOPED_TRACE(n.bit);
        uint32_t count = 0;
        cdSettingChoice none{};
        const cdError sized = lib->CDGetSettingChoices(source, n.bit, &none, &count);
        if (!(present & n.bit)) {
            EXPECT_EQ(sized, cdNOT_SUPPORTED);
            continue;
        }
        ASSERT_EQ(sized, cdINVALID_PARAMETER) << "an array too small is refused with the number needed";
        ASSERT_GT(count, 0u);
        std::vector<cdSettingChoice> choices(count);
        ASSERT_EQ(lib->CDGetSettingChoices(source, n.bit, choices.data(), &count), cdOK);
        ASSERT_EQ(count, choices.size());
        std::vector<uint32_t> codes;
        for (const cdSettingChoice& c : choices) {
            const size_t length = strnlen(c.label, sizeof c.label);
            EXPECT_GT(length, 0u);
            EXPECT_LT(length, sizeof c.label);
            EXPECT_EQ(std::count(codes.begin(), codes.end(), c.code), 0) << "codes are unique";
            codes.push_back(c.code);
        }
        uint16_t value = 0;
        if ((lib.get()->*n.get)(source, &value) == cdOK) {
            EXPECT_NE(std::find(codes.begin(), codes.end(), value), codes.end()) << "the value is one of the choices";
        }
        if (!(settable & n.bit) || choices.size() < 2)
            continue;
        // Every choice the body offers is taken and read back as itself.
        for (const cdSettingChoice& c : {choices.back(), choices.front()}) {
            ASSERT_EQ((lib.get()->*n.set)(source, static_cast<uint16_t>(c.code)), cdOK) << c.label;
            ASSERT_EQ((lib.get()->*n.get)(source, &value), cdOK);
            EXPECT_EQ(value, c.code) << c.label;
        }
    }
}

// ---------------------------------------------------------------- live view and focus

// A body answers all of live view or none of it: without the capability every live-view
// call is refused as not supported.
TEST_P(CameraLibraryConformance, LiveViewIsOfferedWhollyOrNotAtAll)
{
    Open();
    const uint32_t caps = LiveViewCapabilities();
    if (caps == 0) {
        Sink sink;
        EXPECT_EQ(lib->CDStartLiveView(source), cdNOT_SUPPORTED);
        EXPECT_EQ(lib->CDGetLiveViewFrame(source, &sink.medium), cdNOT_SUPPORTED);
        EXPECT_EQ(lib->CDEndLiveView(source), cdNOT_SUPPORTED);
        EXPECT_EQ(lib->CDDriveFocus(source, 1), cdNOT_SUPPORTED);
        EXPECT_EQ(lib->CDSetLiveViewZoom(source, 5, 10, 10), cdNOT_SUPPORTED);
        EXPECT_EQ(lib->CDStartAutoFocus(source), cdNOT_SUPPORTED);
        EXPECT_TRUE(sink.bytes.empty());
        return;
    }
    EXPECT_TRUE(caps & cdLV_CAP_LIVE_VIEW) << caps;
    if (!(caps & cdLV_CAP_CAMERA_ZOOM)) {
        ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
        EXPECT_EQ(lib->CDSetLiveViewZoom(source, 5, 10, 10), cdNOT_SUPPORTED);
    }
}

// Frames are whole JPEGs written through the stream on the calling thread; before the start
// and after the end the frame call answers that live view is not running; starting and
// ending twice is harmless.
TEST_P(CameraLibraryConformance, LiveViewFramesAreWholeJpegsWhileItRuns)
{
    Open();
    if (!(LiveViewCapabilities() & cdLV_CAP_LIVE_VIEW))
        GTEST_SKIP() << "this body has no live view";
    Sink sink;
    EXPECT_EQ(lib->CDGetLiveViewFrame(source, &sink.medium), cdLIVE_VIEW_ENDED);
    ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(Frame(sink), cdOK) << "frame " << i;
        EXPECT_TRUE(WholeJpeg(sink.bytes)) << "frame " << i << ", " << sink.bytes.size() << " bytes";
    }
    ASSERT_EQ(lib->CDEndLiveView(source), cdOK);
    EXPECT_EQ(lib->CDEndLiveView(source), cdOK);
    Sink after;
    EXPECT_EQ(lib->CDGetLiveViewFrame(source, &after.medium), cdLIVE_VIEW_ENDED);
    EXPECT_TRUE(after.bytes.empty());
    ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    EXPECT_EQ(Frame(sink), cdOK);
}

// A release during live view: the picture's road comes first (the frame call answers busy
// while it runs), the picture arrives whole and frames follow.
TEST_P(CameraLibraryConformance, AReleaseDuringLiveViewDeliversItsPictureAndFramesFollow)
{
    Open();
    if (!(LiveViewCapabilities() & cdLV_CAP_LIVE_VIEW))
        GTEST_SKIP() << "this body has no live view";
    ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    Sink frame;
    ASSERT_EQ(Frame(frame), cdOK);
    uint32_t count = 0;
    ASSERT_EQ(lib->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE));
    // An announced picture not yet downloaded is on its road: no frame meanwhile.
    Sink early;
    const cdError e = lib->CDGetLiveViewFrame(source, &early.medium);
    EXPECT_EQ(e, cdDEVICE_BUSY);
    EXPECT_TRUE(early.bytes.empty());
    Sink picture;
    cdReleaseImageInfo info{};
    ASSERT_EQ(Download(picture, info), cdOK);
    const uint32_t size = info.DataSize;  // packed record: read by value
    EXPECT_EQ(picture.bytes.size(), size);
    EXPECT_TRUE(WholeJpeg(picture.bytes));
    ASSERT_EQ(Frame(frame), cdOK);
    EXPECT_TRUE(WholeJpeg(frame.bytes));
}

// Closing the source ends a frame call promptly, and frame calls on it answer an error that
// is neither "ask again" nor "busy".
TEST_P(CameraLibraryConformance, ClosingTheSourceEndsLiveView)
{
    Open();
    if (!(LiveViewCapabilities() & cdLV_CAP_LIVE_VIEW))
        GTEST_SKIP() << "this body has no live view";
    ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    std::atomic<bool> closed{false};
    std::atomic<cdError> last{cdOK};
    const cdHSource open = source;
    std::thread frames([&] {
        Sink sink;
        cdError e;
        do {
            e = lib->CDGetLiveViewFrame(open, &sink.medium);
        } while (e == cdOK || e == cdLIVE_VIEW_NO_FRAME || e == cdDEVICE_BUSY || !closed);
        last = e;
    });
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    lib->CDExitReleaseControl(source);
    const cdHSource was = source;
    ASSERT_EQ(lib->CDCloseSource(source), cdOK);
    closed = true;
    source = 0;
    frames.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_NE(last.load(), cdOK);
    Sink sink;
    const cdError after = lib->CDGetLiveViewFrame(was, &sink.medium);
    EXPECT_NE(after, cdOK);
    EXPECT_NE(after, cdLIVE_VIEW_NO_FRAME);
    EXPECT_NE(after, cdDEVICE_BUSY);
}

// Focus steps of every size in both directions; a step beyond the end of the lens's travel
// answers so; steps of no size or beyond 3 are refused.
TEST_P(CameraLibraryConformance, FocusStepsMeetTheEndOfTheLensTravel)
{
    Open();
    const uint32_t caps = LiveViewCapabilities();
    if (!(caps & cdLV_CAP_FOCUS_DRIVE))
        GTEST_SKIP() << "this body does not drive focus";
    if (caps & cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW) {
        EXPECT_NE(lib->CDDriveFocus(source, 1), cdOK) << "drives focus without live view";
        ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    }
    EXPECT_EQ(lib->CDDriveFocus(source, 0), cdINVALID_PARAMETER);
    EXPECT_EQ(lib->CDDriveFocus(source, 4), cdINVALID_PARAMETER);
    EXPECT_EQ(lib->CDDriveFocus(source, -4), cdINVALID_PARAMETER);
    cdError e = cdOK;
    int steps = 0;
    while ((e = lib->CDDriveFocus(source, -3)) == cdOK && ++steps < 200) {
    }
    EXPECT_EQ(e, cdFOCUS_AT_LIMIT) << "after " << steps << " coarse steps towards the nearest distance";
    EXPECT_EQ(lib->CDDriveFocus(source, -1), cdFOCUS_AT_LIMIT);
    for (int step : {1, 2, 3, -1})
        EXPECT_EQ(lib->CDDriveFocus(source, step), cdOK) << "step " << step;
}

TEST_P(CameraLibraryConformance, AutofocusAndTheBodysMagnificationDoWhatTheySay)
{
    Open();
    const uint32_t caps = LiveViewCapabilities();
    if (!(caps & cdLV_CAP_LIVE_VIEW))
        GTEST_SKIP() << "this body has no live view";
    ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    if (caps & cdLV_CAP_AUTOFOCUS)
        EXPECT_EQ(lib->CDStartAutoFocus(source), cdOK);
    else
        EXPECT_EQ(lib->CDStartAutoFocus(source), cdNOT_SUPPORTED);
    if (caps & cdLV_CAP_CAMERA_ZOOM) {
        EXPECT_EQ(lib->CDSetLiveViewZoom(source, 3, 100, 100), cdINVALID_PARAMETER);
        EXPECT_EQ(lib->CDSetLiveViewZoom(source, 5, 100, 100), cdOK);
        EXPECT_EQ(lib->CDSetLiveViewZoom(source, 10, 100, 100), cdOK);
        EXPECT_EQ(lib->CDSetLiveViewZoom(source, 1, 0, 0), cdOK);
    }
    Sink sink;
    EXPECT_EQ(Frame(sink), cdOK);
}

INSTANTIATE_TEST_SUITE_P(EveryBackend, CameraLibraryConformance, ::testing::ValuesIn(Backends()),
                         [](const ::testing::TestParamInfo<Backend>& info) { return info.param.name; });

}  // namespace
