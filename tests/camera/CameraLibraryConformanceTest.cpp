// The camera library contract (camera/CameraLibrary.h), checked against every backend.
// A backend joins by one line in Backends() below; the tests talk to it only through
// CameraLibrary, the way CCamera does.
#include "backends/sim/SimCamera.h"
#include "camera/CameraLibrary.h"
#include "camera/CameraStartup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
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
};

std::unique_ptr<CameraLibrary> Simulated(const BackendOptions& o, sim::ReleaseTiming timing)
{
    sim::SimConfig c;
    c.pictureWidth = 320;
    c.pictureHeight = 213;
    c.exposureMs = o.exposureMs;
    c.linkBytesPerSecond = o.linkBytesPerSecond;
    c.releaseTiming = timing;
    return std::make_unique<sim::SimulatedCamera>(c);
}

// Every backend the program can run on.
std::vector<Backend> Backends()
{
    return {
        {"SimulatedReleaseReturnsAtOnce", [](const BackendOptions& o) { return Simulated(o, sim::ReleaseTiming::Async); }},
        {"SimulatedReleaseBlocks", [](const BackendOptions& o) { return Simulated(o, sim::ReleaseTiming::Blocking); }},
    };
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
    std::vector<std::pair<uint32_t, uint32_t>> Events()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
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
    // Downloads one announced item.
    cdError Download(Sink& sink, cdReleaseImageInfo& info)
    {
        return lib->CDGetReleasedData(source, nullptr, nullptr, 3, &info, &sink.medium);
    }

    std::unique_ptr<CameraLibrary> lib;
    cdHSource source = 0;
    EventLog log;
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
    ASSERT_EQ(Download(sink, info), cdOK);
    // The record is packed: its fields are read by value.
    const uint32_t type = info.DataType, size = info.DataSize;
    const uint8_t format = info.Format;
    EXPECT_EQ(type, cdDATA_TYPE_PICTURE);
    EXPECT_EQ(format, cdFORMAT_JPEG);
    EXPECT_EQ(size, sink.bytes.size());
    ASSERT_GE(sink.bytes.size(), 2u);
    EXPECT_EQ(sink.bytes[0], 0xFF);
    EXPECT_EQ(sink.bytes[1], 0xD8);
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
    BackendOptions o;
    o.linkBytesPerSecond = 2000;  // a picture would take minutes
    Open(o);
    uint32_t count = 0;
    ASSERT_EQ(lib->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    ASSERT_TRUE(log.WaitFor(cdRELEASE_EVENT_RELEASE_COMPLETE));
    std::atomic<bool> returned{false};
    cdError result = cdOK;
    std::thread download([&] {
        Sink sink;
        cdReleaseImageInfo info{};
        result = Download(sink, info);
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

INSTANTIATE_TEST_SUITE_P(EveryBackend, CameraLibraryConformance, ::testing::ValuesIn(Backends()),
                         [](const ::testing::TestParamInfo<Backend>& info) { return info.param.name; });

}  // namespace
