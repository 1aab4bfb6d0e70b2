// LiveViewLoop: paces live view for one open camera. One thread of its own starts live view
// on the body, then asks for one frame at a time (never two in flight) and puts each into
// a slot that holds only the latest frame: a newer frame replaces one the window has not
// taken yet, so frames never queue up behind a slow screen. The window is told by a
// WM_LIVE_VIEW_FRAME notification only when the slot goes from empty to full, and takes
// the frame when it is ready for it; the loop never waits for the window.
//
// Everything else the window wants of the body while live view runs is a request into the
// loop, carried out between two frames in the order asked: focus steps, magnification,
// autofocus, and the release. A release request makes the loop stop asking for frames and
// tell the window (ReleaseReady); the window fires the shutter its usual way and says so
// (ReleaseStarted), and the loop goes on, or pauses for the review of the picture when
// asked to, until Resume.
// While a release or a download runs the body answers busy and the loop asks again a
// little later; a body that ends live view with a release is asked once to start it again.
// What happens is reported as WM_LIVE_VIEW_EVENT notifications (LoopEvent); the last one
// a loop sends is Stopped.
//
// Threads: construct, Start and destroy on one thread (the UI thread); the requests,
// TakeFrame and Stats from any thread, never blocking. RequestStop returns at once; the
// destructor asks the loop to stop and waits for its thread, which finishes the frame
// call in flight (at most one frame time of the body, or at once when the source has been
// closed) and ends live view on the body.
#pragma once

#include "camera/CameraLibrary.h"
#include "camera/Notifications.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace liveview {

using Clock = std::chrono::steady_clock;

// What a WM_LIVE_VIEW_EVENT reports (its wParam); lParam carries the library's code
// where one is named.
enum class LoopEvent : int64_t {
    Started = 1,         // live view runs on the body
    StartFailed = 2,     // CDStartLiveView refused: lParam its code
    EndedByCamera = 3,   // the body ended live view by itself (mode dial, battery, ...)
    Lost = 4,            // a frame call failed for good (camera gone): lParam its code
    FramesStopped = 5,   // no new frame for LoopOptions::stallReportMs
    FramesResumed = 6,   // frames come again after FramesStopped
    FocusAtLimit = 7,    // a focus step met the end of the lens's travel: lParam the step
    FocusFailed = 8,     // a focus step was refused: lParam its code
    AutofocusDone = 9,
    AutofocusFailed = 10,  // lParam its code (cdAF_FAILED: no focus found)
    ZoomFailed = 11,     // the body refused the magnification: lParam its code
    ReleaseReady = 12,   // no frame call in flight: fire the shutter, then ReleaseStarted
    Stopped = 13,        // the loop's thread has ended; nothing follows
};

struct LiveFrame {
    std::vector<uint8_t> jpeg;
    uint64_t number = 0;          // 1, 2, ... in the order the body delivered them
    Clock::time_point arrived;    // when the frame call returned it
    int cameraZoom = 1;           // the body's magnification the frame was asked with
    int cameraZoomX = 0;          // and its centre, in whole-frame pixels
    int cameraZoomY = 0;
};

// Holds the latest frame not yet taken. Thread-safe.
class LatestFrameSlot {
public:
    // Puts a frame, replacing one not yet taken; true when the slot was empty.
    bool Put(LiveFrame frame);
    std::optional<LiveFrame> Take();
    uint64_t Replaced() const;
    uint64_t Taken() const;

private:
    mutable std::mutex mutex_;
    std::optional<LiveFrame> frame_;
    uint64_t replaced_ = 0;
    uint64_t taken_ = 0;
};

struct LoopStats {
    uint64_t delivered = 0;       // frames the body delivered
    uint64_t taken = 0;           // frames the window took
    uint64_t replaced = 0;        // frames replaced before the window took them
    uint64_t busyAnswers = 0;     // frame calls answered busy (a release or download ran)
    double framesPerSecond = 0;   // frames delivered over the last second
};

struct LoopOptions {
    int busyRetryMs = 20;         // pause after a busy answer before asking again
    int stallReportMs = 2000;     // frames missing this long are reported (FramesStopped)
    int restartAfterReleaseMs = 10000;  // a body that ends live view this soon after a
                                        // release is asked to start it again, once
};

class LiveViewLoop {
public:
    LiveViewLoop(cdsdk::CameraLibrary& library, cdsdk::cdHSource source, NotificationSink& sink,
                 LoopOptions options = {});
    ~LiveViewLoop();
    LiveViewLoop(const LiveViewLoop&) = delete;
    LiveViewLoop& operator=(const LiveViewLoop&) = delete;

    // Starts the loop's thread, which starts live view on the body.
    void Start();
    // Asks the loop to end (it ends live view on the body); returns at once.
    void RequestStop();
    // True once the loop's thread has ended.
    bool Finished() const;

    // Requests, carried out between two frames in the order asked.
    void DriveFocus(int step);                  // -3 .. -1 nearer, 1 .. 3 farther
    void SetCameraZoom(int level, int x, int y);  // the body's magnification
    void AutoFocus();
    // Asks for the body alone for a release: between two frames the loop reports
    // ReleaseReady and asks for nothing until ReleaseStarted; with `pauseAfter` it then
    // asks for no frame until Resume (the picture is on review).
    void RequestRelease(bool pauseAfter);
    void ReleaseStarted();
    void Pause();
    void Resume();
    bool Paused() const;

    // The latest frame the window has not taken, if any.
    std::optional<LiveFrame> TakeFrame();
    LoopStats Stats() const;

private:
    struct Request {
        enum Kind { Focus, Zoom, Autofocus, Release };
        Request(Kind k, int a0 = 0, int b0 = 0, int c0 = 0) : kind(k), a(a0), b(b0), c(c0) {}
        Kind kind;
        int a, b, c;  // Release: a is the pause after it
    };
    void Run();
    void Carry(Request& r);
    void Report(LoopEvent event, int64_t code = 0);
    void WaitBriefly(int ms);

    cdsdk::CameraLibrary& library_;
    const cdsdk::cdHSource source_;
    NotificationSink& sink_;
    const LoopOptions options_;
    LatestFrameSlot slot_;
    std::thread thread_;

    mutable std::mutex mutex_;          // guards everything below
    std::condition_variable wake_;
    std::deque<Request> requests_;
    bool stop_ = false;
    bool paused_ = false;
    bool holding_ = false;              // waiting for ReleaseStarted
    bool finished_ = false;
    uint64_t delivered_ = 0;
    uint64_t busyAnswers_ = 0;
    std::deque<Clock::time_point> recent_;  // arrivals of the last second
    // Loop thread only.
    int zoom_ = 1, zoomX_ = 0, zoomY_ = 0;
    std::optional<Clock::time_point> lastRelease_;
};

}  // namespace liveview
