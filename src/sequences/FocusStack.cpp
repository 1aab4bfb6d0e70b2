#include "sequences/FocusStack.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace cdsdk;

namespace sequences {

namespace {

// A lens travels a few hundred coarse steps at most; a body that never reports the nearest
// end within this many is not driving its lens.
constexpr int kMaxStepsToNearest = 1000;
// A busy body (a download finishing) is asked again for this long before the move fails.
constexpr auto kBusyWait = std::chrono::seconds(5);
constexpr auto kBusyPoll = std::chrono::milliseconds(20);

// A stream that drops what it is given: live view's frame call answers whether live view
// runs, and the frame itself is not wanted.
void DiscardOpen(cdContext, uint32_t, cdError* err) { *err = 0; }
void DiscardClose(cdContext, cdError* err) { *err = 0; }
void DiscardRead(cdContext, void*, uint32_t* count, cdError* err)
{
    *count = 0;
    *err = 1;
}
void DiscardWrite(cdContext, const void*, uint32_t*, cdError* err) { *err = 0; }
void DiscardSeek(cdContext, uint32_t, int32_t, cdError* err) { *err = 0; }
int32_t DiscardTell(cdContext, cdError* err)
{
    *err = 0;
    return 0;
}

bool LiveViewRunning(CameraLibrary& library, cdHSource source)
{
    cdStream stream{nullptr, DiscardOpen, DiscardClose, DiscardRead, DiscardWrite, DiscardSeek, DiscardTell};
    cdStgMedium medium{cdMEMTYPE_STREAM, &stream};
    const cdError e = library.CDGetLiveViewFrame(source, &medium);
    return e == cdOK || e == cdLIVE_VIEW_NO_FRAME || e == cdDEVICE_BUSY;
}

bool WholeNumber(std::string_view s, long max, long& out)
{
    if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    out = std::strtol(std::string(s).c_str(), nullptr, 10);
    return out <= max;
}

}  // namespace

const char* StepSizeName(int stepSize)
{
    switch (stepSize) {
    case 1: return "fine";
    case 2: return "medium";
    case 3: return "coarse";
    default: return "?";
    }
}

std::string FocusStackRefusal(const FocusStackRequest& r, uint32_t capabilities)
{
    if (r.frames < kMinStackFrames || r.frames > kMaxStackFrames)
        return "A focus stack has 2 to 500 frames.";
    if (r.stepSize < 1 || r.stepSize > 3)
        return "The focus step is fine, medium or coarse.";
    if (r.stepsPerFrame < 1 || r.stepsPerFrame > kMaxStepsPerFrame)
        return "A focus stack moves 1 to 99 focus steps between frames.";
    if (!(capabilities & cdLV_CAP_FOCUS_DRIVE))
        return "This camera cannot drive its focus from the computer, so it cannot take a focus stack.";
    return {};
}

std::string FocusStackComment(int set, int frame, int frames)
{
    return "Focus stack " + std::to_string(set) + ", " + std::to_string(frame) + "/" + std::to_string(frames);
}

std::optional<FocusStackRequest> ParseFocusStack(std::string_view text)
{
    FocusStackRequest r;
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    long frames = 0;
    if (!WholeNumber(text.substr(0, comma), kMaxStackFrames, frames) || frames < kMinStackFrames)
        return std::nullopt;
    r.frames = static_cast<int>(frames);
    std::string_view step = text.substr(comma + 1);
    const size_t second = step.find(',');
    if (second != std::string_view::npos) {
        const std::string_view start = step.substr(second + 1);
        if (start == "nearest")
            r.start = FocusStart::Nearest;
        else if (start != "current")
            return std::nullopt;
        step = step.substr(0, second);
    }
    const size_t x = step.find('x');
    if (x != std::string_view::npos && x > 0 && step.substr(0, x).find_first_not_of("0123456789") == std::string_view::npos) {
        long count = 0;
        if (!WholeNumber(step.substr(0, x), kMaxStepsPerFrame, count) || count < 1)
            return std::nullopt;
        r.stepsPerFrame = static_cast<int>(count);
        step = step.substr(x + 1);
    }
    if (step == "fine" || step == "1")
        r.stepSize = 1;
    else if (step == "medium" || step == "2")
        r.stepSize = 2;
    else if (step == "coarse" || step == "3")
        r.stepSize = 3;
    else
        return std::nullopt;
    return r;
}

FocusLens::FocusLens(CameraLibrary& library, cdHSource source, uint32_t capabilities, int settleMs)
    : library_(library), source_(source), caps_(capabilities), settleMs_(settleMs)
{
}

std::string FocusLens::Failure(cdError e) const
{
    switch (e) {
    case cdNOT_SUPPORTED: return "This camera cannot drive its focus from the computer.";
    case cdDEVICE_BUSY: return "The camera stayed busy and did not move the focus.";
    case cdLIVE_VIEW_ENDED: return "The camera drives its focus only in live view, and live view did not start.";
    case cdCOMM_ERROR:
    case cdINVALID_HANDLE: return "The camera is no longer connected.";
    default: break;
    }
    char text[80];
    std::snprintf(text, sizeof text, "The camera did not move the focus (error 0x%x).", static_cast<unsigned>(e));
    return text;
}

cdError FocusLens::Step(int32_t step)
{
    const auto giveUp = std::chrono::steady_clock::now() + kBusyWait;
    bool restarted = false;
    for (;;) {
        const cdError e = library_.CDDriveFocus(source_, step);
        if (e == cdDEVICE_BUSY && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(kBusyPoll);
            continue;
        }
        // A release may have ended live view on a body that focuses only in it: once more
        // with live view started again.
        if (e != cdOK && e != cdFOCUS_AT_LIMIT && e != cdDEVICE_BUSY && (caps_ & cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW) &&
            !restarted) {
            restarted = true;
            if (library_.CDStartLiveView(source_) == cdOK)
                continue;
        }
        return e;
    }
}

void FocusLens::Record(int size, int count)
{
    if (!moves_.empty() && moves_.back().first == size)
        moves_.back().second += count;
    else
        moves_.emplace_back(size, count);
}

void FocusLens::Settle()
{
    if (settleMs_ <= 0)
        return;
    std::unique_lock<std::mutex> lock(cancelMutex_);
    cancelCv_.wait_for(lock, std::chrono::milliseconds(settleMs_), [this] { return cancelled_; });
}

void FocusLens::Cancel()
{
    {
        std::lock_guard<std::mutex> lock(cancelMutex_);
        cancelled_ = true;
    }
    cancelCv_.notify_all();
}

FocusLens::Result FocusLens::Begin(FocusStart start)
{
    if (!(caps_ & cdLV_CAP_FOCUS_DRIVE))
        return {Outcome::Failed, Failure(cdNOT_SUPPORTED)};
    if ((caps_ & cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW) && !LiveViewRunning(library_, source_)) {
        const cdError e = library_.CDStartLiveView(source_);
        if (e != cdOK)
            return {Outcome::Failed, e == cdCOMM_ERROR || e == cdINVALID_HANDLE ? Failure(e) : Failure(cdLIVE_VIEW_ENDED)};
        startedLiveView_ = true;
    }
    if (start == FocusStart::Nearest) {
        bool atEnd = false;
        for (int i = 0; i < kMaxStepsToNearest && !atEnd; ++i) {
            const cdError e = Step(-3);
            if (e == cdOK) {
                Record(-3, 1);
            } else if (e == cdFOCUS_AT_LIMIT) {
                uncounted_ = true;
                atEnd = true;
            } else {
                return {Outcome::Failed, Failure(e)};
            }
        }
        if (!atEnd)
            return {Outcome::Failed, "The lens did not report reaching its nearest distance."};
        Settle();
    }
    return {};
}

FocusLens::Result FocusLens::Advance(int size, int count)
{
    if (size < 1 || size > 3 || count < 1)
        return {Outcome::Failed, Failure(cdINVALID_PARAMETER)};
    for (int i = 0; i < count; ++i) {
        const cdError e = Step(size);
        if (e == cdFOCUS_AT_LIMIT) {
            uncounted_ = true;
            Settle();
            return {Outcome::AtInfinity, {}};
        }
        if (e != cdOK)
            return {Outcome::Failed, Failure(e)};
        Record(size, 1);
    }
    Settle();
    return {};
}

std::string FocusLens::End()
{
    std::string text;
    if (moves_.empty() && !uncounted_) {
        text = "focus unchanged";
    } else if (!(caps_ & cdLV_CAP_FOCUS_COUNTS_STEPS)) {
        text = "focus left where the stack ended: this camera cannot return to a focus position";
    } else {
        text = uncounted_ ? "focus put back as nearly as the lens allows (a step met the end of its travel)"
                          : "focus put back";
        for (auto move = moves_.rbegin(); move != moves_.rend(); ++move) {
            cdError e = cdOK;
            for (int i = 0; i < move->second && (e == cdOK || e == cdFOCUS_AT_LIMIT); ++i)
                e = Step(-move->first);
            if (e != cdOK && e != cdFOCUS_AT_LIMIT) {
                text = "focus not put back: " + Failure(e);
                break;
            }
        }
    }
    moves_.clear();
    uncounted_ = false;
    if (startedLiveView_) {
        library_.CDEndLiveView(source_);
        startedLiveView_ = false;
    }
    return text;
}

}  // namespace sequences
