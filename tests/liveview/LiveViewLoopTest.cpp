// The live-view loop on the simulated camera: pacing (one frame waiting, newer frames
// replace it, one notification per empty-to-full), requests carried out between frames
// (focus, autofocus, the release and its review pause), busy answers while a picture
// downloads, and every way live view ends.
#include "backends/sim/SimCamera.h"
#include "camera/CameraStartup.h"
#include "liveview/LiveViewLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace cdsdk;
using namespace liveview;
using namespace std::chrono_literals;

namespace {

// Keeps what the loop posts.
struct Recorder : NotificationSink {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Notification> posted;

    void Post(Notification n) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            posted.push_back(std::move(n));
        }
        cv.notify_all();
    }
    size_t Count(uint32_t message)
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t c = 0;
        for (const auto& n : posted)
            c += n.message == message;
        return c;
    }
    // Waits for an event; its lParam.
    std::optional<int64_t> WaitFor(LoopEvent event, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock<std::mutex> lock(mutex);
        std::optional<int64_t> code;
        cv.wait_for(lock, timeout, [&] {
            for (const auto& n : posted)
                if (n.message == WM_LIVE_VIEW_EVENT && n.wParam == static_cast<int64_t>(event)) {
                    code = n.lParam;
                    return true;
                }
            return false;
        });
        return code;
    }
};

template <typename F>
bool Eventually(F&& f, std::chrono::milliseconds timeout = 20s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (f())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return f();
}

struct LiveViewLoop : ::testing::Test {
    sim::SimConfig Config()
    {
        sim::SimConfig c;
        c.pictureWidth = 320;
        c.pictureHeight = 213;
        c.exposureMs = 5;
        c.autofocusMs = 30;
        // Small frames: the pacing is what is tested, and the frames stay cheap to make
        // under the ThreadSanitizer too.
        c.liveViewWidth = 256;
        c.liveViewHeight = 170;
        return c;
    }
    void Open(const sim::SimConfig& c)
    {
        camera = std::make_unique<sim::SimulatedCamera>(c);
        ASSERT_NE(StartCameraLibrary(*camera), 0);
        cdHEnum e = 0;
        ASSERT_EQ(camera->CDEnumDeviceReset(1, &e), cdOK);
        cdSourceInfo info{};
        ASSERT_EQ(camera->CDEnumDeviceNext(e, &info), cdOK);
        camera->CDEnumDeviceRelease(e);
        ASSERT_EQ(camera->CDOpenSource(&info, &source), cdOK);
    }
    void Run(LoopOptions o = {})
    {
        loop = std::make_unique<liveview::LiveViewLoop>(*camera, source, sink, o);
        loop->Start();
        ASSERT_TRUE(sink.WaitFor(LoopEvent::Started));
    }
    void TearDown() override
    {
        loop.reset();
        if (camera && source)
            camera->CDCloseSource(source);
    }

    Recorder sink;
    std::unique_ptr<sim::SimulatedCamera> camera;
    cdHSource source = 0;
    std::unique_ptr<liveview::LiveViewLoop> loop;
};

TEST_F(LiveViewLoop, ANewerFrameReplacesOneNotTakenAndTheWindowIsToldOnce)
{
    sim::SimConfig c = Config();
    c.liveViewFps = 200;
    Open(c);
    Run();
    ASSERT_TRUE(Eventually([&] { return loop->Stats().delivered >= 10; }));
    EXPECT_EQ(sink.Count(WM_LIVE_VIEW_FRAME), 1u);  // the slot stayed full: one notice
    std::optional<LiveFrame> f = loop->TakeFrame();
    ASSERT_TRUE(f.has_value());
    LoopStats s = loop->Stats();
    EXPECT_GE(f->number, 10u);
    EXPECT_EQ(s.taken, 1u);
    EXPECT_EQ(s.replaced, f->number - 1);
    EXPECT_GE(f->jpeg.size(), 2u);
    EXPECT_EQ(f->jpeg[0], 0xFF);
    EXPECT_EQ(f->jpeg[1], 0xD8);
    // The slot emptied: the next frame is announced again.
    ASSERT_TRUE(Eventually([&] { return sink.Count(WM_LIVE_VIEW_FRAME) == 2; }));
    f = loop->TakeFrame();
    ASSERT_TRUE(f.has_value());
    EXPECT_FALSE(loop->TakeFrame().has_value());
}

TEST_F(LiveViewLoop, FramesComeAtTheBodysRate)
{
    // A still scene: the body makes its frame once and then streams it at its rate, however
    // slow making a frame is (as under the ThreadSanitizer).
    sim::SimConfig c = Config();
    c.liveViewMoving = false;
    Open(c);
    Run();
    ASSERT_TRUE(Eventually([&] { return loop->Stats().delivered >= 5; }));
    const uint64_t before = loop->Stats().delivered;
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1500ms);
    const LoopStats s = loop->Stats();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double rate = static_cast<double>(s.delivered - before) / seconds;
    // 30 fps; the bounds leave room for a loaded machine (a starved loop skips frames).
    EXPECT_GT(rate, 10);
    EXPECT_LT(rate, 36);
    EXPECT_GT(s.framesPerSecond, 8);
    EXPECT_LT(s.framesPerSecond, 40);
}

TEST_F(LiveViewLoop, AReleaseHasTheBodyAloneUntilTheShutterFiredThenLiveViewWaitsForTheReview)
{
    Open(Config());
    Run();
    ASSERT_TRUE(Eventually([&] { return loop->Stats().delivered >= 3; }));
    loop->RequestRelease(true);
    ASSERT_TRUE(sink.WaitFor(LoopEvent::ReleaseReady).has_value());
    // No frame call while the window fires the shutter.
    const uint64_t held = loop->Stats().delivered;
    const int calls = camera->CallCount("CDGetLiveViewFrame");
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(loop->Stats().delivered, held);
    EXPECT_EQ(camera->CallCount("CDGetLiveViewFrame"), calls);
    loop->ReleaseStarted();
    ASSERT_TRUE(Eventually([&] { return loop->Paused(); }));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(loop->Stats().delivered, held);  // the picture is on review
    loop->Resume();
    ASSERT_TRUE(Eventually([&] { return loop->Stats().delivered >= held + 3; }));
    // Without the pause, frames go on once the shutter fired.
    loop->RequestRelease(false);
    ASSERT_TRUE(Eventually([&] { return sink.Count(WM_LIVE_VIEW_EVENT) >= 3; }));
    loop->ReleaseStarted();
    const uint64_t after = loop->Stats().delivered;
    ASSERT_TRUE(Eventually([&] { return loop->Stats().delivered >= after + 3; }));
    EXPECT_FALSE(loop->Paused());
}

TEST_F(LiveViewLoop, WhileAPictureDownloadsTheBodyIsBusyAndFramesFollowAfterIt)
{
    sim::SimConfig c = Config();
    c.linkBytesPerSecond = 40000;  // the picture takes about half a second
    Open(c);
    struct Events {
        std::atomic<int> complete{0};
        static cdError Callback(uint32_t event, const uint8_t*, uint32_t, cdContext ctx)
        {
            if (event == cdRELEASE_EVENT_RELEASE_COMPLETE)
                ++static_cast<Events*>(ctx)->complete;
            return 0;
        }
    } events;
    ASSERT_EQ(camera->CDEnterReleaseControl(source, &Events::Callback, &events), cdOK);
    ASSERT_EQ(camera->CDSelectReleaseDataKind(source, cdREL_KIND_PICT_TO_PC), cdOK);
    Run();
    ASSERT_TRUE(Eventually([&] { return loop->Stats().delivered >= 3; }));
    std::atomic<bool> downloaded{false};
    loop->RequestRelease(false);
    ASSERT_TRUE(sink.WaitFor(LoopEvent::ReleaseReady).has_value());
    uint32_t count = 0;
    ASSERT_EQ(camera->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    loop->ReleaseStarted();
    std::thread road([&] {
        while (!events.complete)
            std::this_thread::sleep_for(2ms);
        struct Keep {
            static void Open(cdContext, uint32_t, cdError* e) { *e = 0; }
            static void Close(cdContext, cdError* e) { *e = 0; }
            static void Read(cdContext, void*, uint32_t*, cdError* e) { *e = 1; }
            static void Write(cdContext, const void*, uint32_t*, cdError* e) { *e = 0; }
            static void Seek(cdContext, uint32_t, int32_t, cdError* e) { *e = 1; }
            static int32_t Tell(cdContext, cdError* e)
            {
                *e = 0;
                return 0;
            }
        };
        cdStream stream{nullptr, &Keep::Open, &Keep::Close, &Keep::Read, &Keep::Write, &Keep::Seek, &Keep::Tell};
        cdStgMedium medium{cdMEMTYPE_STREAM, &stream};
        cdReleaseImageInfo info{};
        EXPECT_EQ(camera->CDGetReleasedData(source, nullptr, nullptr, 3, &info, &medium), cdOK);
        downloaded = true;
    });
    ASSERT_TRUE(Eventually([&] { return loop->Stats().busyAnswers >= 3; }));
    ASSERT_TRUE(Eventually([&] { return downloaded.load(); }));
    road.join();
    const uint64_t after = loop->Stats().delivered;
    ASSERT_TRUE(Eventually([&] { return loop->Stats().delivered >= after + 3; }));
    EXPECT_FALSE(sink.WaitFor(LoopEvent::FramesStopped, 10ms).has_value());
}

TEST_F(LiveViewLoop, FocusStepsMoveTheLensAndTheEndOfItsTravelIsReported)
{
    Open(Config());
    Run();
    ASSERT_EQ(camera->State().focusPosition, sim::kFocusTravel);
    loop->DriveFocus(-1);
    loop->DriveFocus(-2);
    ASSERT_TRUE(Eventually([&] { return camera->State().focusPosition == sim::kFocusTravel - 6; }));
    for (int i = 0; i < 4; ++i)
        loop->DriveFocus(3);
    const auto step = sink.WaitFor(LoopEvent::FocusAtLimit);
    ASSERT_TRUE(step.has_value());
    EXPECT_EQ(*step, 3);
    EXPECT_EQ(camera->State().focusPosition, sim::kFocusTravel);
}

TEST_F(LiveViewLoop, AutofocusLeavesTheLensWhereTheSceneIsSharpestOrReportsItsFailure)
{
    Open(Config());
    Run();
    camera->FailNextAutofocus();
    loop->AutoFocus();
    const auto failed = sink.WaitFor(LoopEvent::AutofocusFailed);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(*failed, cdAF_FAILED);
    EXPECT_EQ(camera->State().focusPosition, sim::kFocusTravel);
    loop->AutoFocus();
    ASSERT_TRUE(sink.WaitFor(LoopEvent::AutofocusDone).has_value());
    EXPECT_EQ(camera->State().focusPosition, camera->State().sharpestFocus);
}

TEST_F(LiveViewLoop, FramesThatStopComingAreReportedAndSoIsTheirReturn)
{
    Open(Config());
    LoopOptions o;
    o.stallReportMs = 300;
    Run(o);
    camera->StopLiveViewFrames(true);
    ASSERT_TRUE(sink.WaitFor(LoopEvent::FramesStopped).has_value());
    EXPECT_FALSE(loop->Finished());
    // The rate counts the last second's frames: it falls to 0 within that second.
    const auto stalled = std::chrono::steady_clock::now();
    while (loop->Stats().framesPerSecond > 0 && std::chrono::steady_clock::now() - stalled < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NEAR(loop->Stats().framesPerSecond, 0, 0.01);
    camera->StopLiveViewFrames(false);
    ASSERT_TRUE(sink.WaitFor(LoopEvent::FramesResumed).has_value());
}

TEST_F(LiveViewLoop, ABodyThatEndsLiveViewEndsTheLoop)
{
    Open(Config());
    Run();
    camera->EndLiveViewFromBody();
    ASSERT_TRUE(sink.WaitFor(LoopEvent::EndedByCamera).has_value());
    ASSERT_TRUE(sink.WaitFor(LoopEvent::Stopped).has_value());
    EXPECT_TRUE(loop->Finished());
}

TEST_F(LiveViewLoop, StoppingEndsLiveViewOnTheBody)
{
    Open(Config());
    Run();
    ASSERT_TRUE(camera->State().liveView);
    loop->RequestStop();
    ASSERT_TRUE(sink.WaitFor(LoopEvent::Stopped).has_value());
    EXPECT_FALSE(camera->State().liveView);
    loop.reset();
    EXPECT_GE(camera->CallCount("CDEndLiveView"), 1);
}

TEST_F(LiveViewLoop, ClosingTheSourceEndsTheLoopAsLost)
{
    Open(Config());
    Run();
    ASSERT_EQ(camera->CDCloseSource(source), cdOK);
    source = 0;
    const auto code = sink.WaitFor(LoopEvent::Lost);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, cdINVALID_HANDLE);
    ASSERT_TRUE(sink.WaitFor(LoopEvent::Stopped).has_value());
}

TEST_F(LiveViewLoop, ABodyWithoutLiveViewIsReportedAtTheStart)
{
    sim::SimConfig c = Config();
    c.liveView = false;
    Open(c);
    loop = std::make_unique<liveview::LiveViewLoop>(*camera, source, sink);
    loop->Start();
    const auto code = sink.WaitFor(LoopEvent::StartFailed);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, cdNOT_SUPPORTED);
    ASSERT_TRUE(sink.WaitFor(LoopEvent::Stopped).has_value());
    EXPECT_EQ(camera->CallCount("CDEndLiveView"), 0);
}

}  // namespace
