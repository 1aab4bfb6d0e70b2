#include "liveview/LiveViewLoop.h"

#include <algorithm>
#include <cstring>
#include <utility>

using namespace cdsdk;

namespace liveview {

namespace {

// The stream one frame is written through: it keeps what the library writes.
struct FrameStream {
    std::vector<uint8_t> bytes;
    size_t position = 0;
    bool failed = false;
    cdStream stream{this, &Open, &Close, &Read, &Write, &Seek, &Tell};
    cdStgMedium medium{cdMEMTYPE_STREAM, &stream};

    static FrameStream& Of(cdContext c) { return *static_cast<FrameStream*>(c); }
    static void Open(cdContext c, uint32_t mode, cdError* e)
    {
        FrameStream& s = Of(c);
        s.position = 0;
        if (mode == cdSTREAM_OPEN_WRITE)
            s.bytes.clear();
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
        FrameStream& s = Of(c);
        constexpr size_t kMaxFrameBytes = 32u << 20;  // no live frame comes near this
        if (s.position + *n > kMaxFrameBytes) {
            s.failed = true;
            *e = 1;
            return;
        }
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

}  // namespace

// ---------------------------------------------------------------- the slot

bool LatestFrameSlot::Put(LiveFrame frame)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasEmpty = !frame_.has_value();
    if (!wasEmpty)
        ++replaced_;
    frame_ = std::move(frame);
    return wasEmpty;
}

std::optional<LiveFrame> LatestFrameSlot::Take()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<LiveFrame> out;
    out.swap(frame_);
    if (out)
        ++taken_;
    return out;
}

uint64_t LatestFrameSlot::Replaced() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return replaced_;
}

uint64_t LatestFrameSlot::Taken() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_;
}

// ---------------------------------------------------------------- the loop

LiveViewLoop::LiveViewLoop(CameraLibrary& library, cdHSource source, NotificationSink& sink, LoopOptions options)
    : library_(library), source_(source), sink_(sink), options_(options)
{
}

LiveViewLoop::~LiveViewLoop()
{
    RequestStop();
    if (thread_.joinable())
        thread_.join();
}

void LiveViewLoop::Start()
{
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
}

void LiveViewLoop::RequestStop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
}

bool LiveViewLoop::Finished() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

void LiveViewLoop::DriveFocus(int step)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back(Request::Focus, step);
    }
    wake_.notify_all();
}

void LiveViewLoop::SetCameraZoom(int level, int x, int y)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back(Request::Zoom, level, x, y);
    }
    wake_.notify_all();
}

void LiveViewLoop::AutoFocus()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back(Request::Autofocus);
    }
    wake_.notify_all();
}

void LiveViewLoop::RequestRelease(bool pauseAfter)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back(Request::Release, pauseAfter ? 1 : 0);
    }
    wake_.notify_all();
}

void LiveViewLoop::ReleaseStarted()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = false;
    }
    wake_.notify_all();
}

void LiveViewLoop::Pause()
{
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = true;
}

void LiveViewLoop::Resume()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = false;
    }
    wake_.notify_all();
}

bool LiveViewLoop::Paused() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return paused_;
}

std::optional<LiveFrame> LiveViewLoop::TakeFrame()
{
    return slot_.Take();
}

LoopStats LiveViewLoop::Stats() const
{
    LoopStats s;
    s.taken = slot_.Taken();
    s.replaced = slot_.Replaced();
    std::lock_guard<std::mutex> lock(mutex_);
    s.delivered = delivered_;
    s.busyAnswers = busyAnswers_;
    const auto now = Clock::now();
    size_t n = 0;
    for (const auto& t : recent_)
        n += now - t <= std::chrono::seconds(1);
    // Frames over the last second, from the first of them to now: a stream that stopped
    // falls to 0 within a second.
    if (n >= 2) {
        const auto first = recent_[recent_.size() - n];
        const double span = std::chrono::duration<double>(now - first).count();
        s.framesPerSecond = span > 0 ? static_cast<double>(n - 1) / std::max(span, 0.5) : 0;
    }
    return s;
}

void LiveViewLoop::Report(LoopEvent event, int64_t code)
{
    Notification n;
    n.message = WM_LIVE_VIEW_EVENT;
    n.wParam = static_cast<int64_t>(event);
    n.lParam = code;
    sink_.Post(std::move(n));
}

void LiveViewLoop::WaitBriefly(int ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_ || !requests_.empty(); });
}

void LiveViewLoop::Carry(Request& r)
{
    switch (r.kind) {
    case Request::Focus: {
        const cdError e = library_.CDDriveFocus(source_, r.a);
        if (e == cdFOCUS_AT_LIMIT)
            Report(LoopEvent::FocusAtLimit, r.a);
        else if (e != cdOK)
            Report(LoopEvent::FocusFailed, e);
        break;
    }
    case Request::Zoom: {
        const cdError e = library_.CDSetLiveViewZoom(source_, static_cast<uint32_t>(r.a), r.b, r.c);
        if (e == cdOK) {
            zoom_ = r.a;
            zoomX_ = r.b;
            zoomY_ = r.c;
        } else {
            Report(LoopEvent::ZoomFailed, e);
        }
        break;
    }
    case Request::Autofocus: {
        const cdError e = library_.CDStartAutoFocus(source_);
        Report(e == cdOK ? LoopEvent::AutofocusDone : LoopEvent::AutofocusFailed, e);
        break;
    }
    case Request::Release: {
        std::unique_lock<std::mutex> lock(mutex_);
        holding_ = true;
        lock.unlock();
        Report(LoopEvent::ReleaseReady);
        lock.lock();
        wake_.wait(lock, [this] { return stop_ || !holding_; });
        holding_ = false;
        if (r.a)
            paused_ = true;
        lastRelease_ = Clock::now();
        break;
    }
    }
}

void LiveViewLoop::Run()
{
    bool endedByBody = false;
    const cdError started = library_.CDStartLiveView(source_);
    if (started != cdOK) {
        Report(LoopEvent::StartFailed, started);
        endedByBody = true;  // nothing to end
    } else {
        Report(LoopEvent::Started);
    }
    Clock::time_point lastFrame = Clock::now();
    bool stalled = false;
    uint64_t number = 0;
    while (!endedByBody) {
        std::deque<Request> todo;
        bool paused;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (stop_)
                break;
            todo.swap(requests_);
            paused = paused_;
            if (todo.empty() && paused) {
                wake_.wait(lock, [this] { return stop_ || !requests_.empty() || !paused_; });
                continue;
            }
        }
        if (!todo.empty()) {
            for (Request& r : todo)
                Carry(r);
            lastFrame = Clock::now();  // time spent on requests is no stall
            continue;
        }
        FrameStream frame;
        const cdError e = library_.CDGetLiveViewFrame(source_, &frame.medium);
        const auto now = Clock::now();
        if (e == cdOK && !frame.failed && !frame.bytes.empty()) {
            LiveFrame f;
            f.jpeg = std::move(frame.bytes);
            f.number = ++number;
            f.arrived = now;
            f.cameraZoom = zoom_;
            f.cameraZoomX = zoomX_;
            f.cameraZoomY = zoomY_;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++delivered_;
                recent_.push_back(now);
                while (!recent_.empty() && now - recent_.front() > std::chrono::seconds(2))
                    recent_.pop_front();
            }
            if (slot_.Put(std::move(f))) {
                Notification n;
                n.message = WM_LIVE_VIEW_FRAME;
                sink_.Post(std::move(n));
            }
            lastFrame = now;
            if (stalled) {
                stalled = false;
                Report(LoopEvent::FramesResumed);
            }
            continue;
        }
        switch (e) {
        case cdOK:                  // an empty or oversized frame: ask again
        case cdLIVE_VIEW_NO_FRAME:
            if (!stalled && now - lastFrame >= std::chrono::milliseconds(options_.stallReportMs)) {
                stalled = true;
                Report(LoopEvent::FramesStopped);
            }
            break;
        case cdDEVICE_BUSY: {
            // The picture's road comes first; that is no stall.
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++busyAnswers_;
            }
            lastFrame = now;
            WaitBriefly(options_.busyRetryMs);
            break;
        }
        case cdLIVE_VIEW_ENDED:
            // Some bodies leave live view for a release: start it again once.
            if (lastRelease_ && now - *lastRelease_ < std::chrono::milliseconds(options_.restartAfterReleaseMs)) {
                lastRelease_.reset();
                if (library_.CDStartLiveView(source_) == cdOK)
                    break;
            }
            Report(LoopEvent::EndedByCamera);
            endedByBody = true;
            break;
        default:
            Report(LoopEvent::Lost, e);
            endedByBody = true;
            break;
        }
    }
    if (!endedByBody)
        library_.CDEndLiveView(source_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    Report(LoopEvent::Stopped);
}

}  // namespace liveview
