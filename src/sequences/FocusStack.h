// FocusStack: what a focus stack needs besides the schedule. FocusStackRequest says how it is
// taken (frames, the focus drive's step size times a count, where it starts); FocusLens
// drives one body's lens through the camera library for it: to the start, one step between
// frames towards infinity, and back where it was afterwards where the body counts steps, with
// live view switched on while focusing on bodies that drive focus only in live view (and
// off again afterwards unless it was already on).
//
// Threads: the request functions are pure (any thread). A FocusLens is used by one thread at
// a time (in the program a worker, never the UI thread); its calls block for as long as the
// body takes to move (a step on a real body: tens to hundreds of milliseconds) and for the
// settle time after each move. Cancel, from any thread, ends a settle wait at once.
#pragma once

#include "camera/CameraLibrary.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sequences {

constexpr int kMinStackFrames = 2;
constexpr int kMaxStackFrames = 500;
constexpr int kMaxStepsPerFrame = 99;

enum class FocusStart { Current = 0, Nearest = 1 };

struct FocusStackRequest {
    int frames = 10;
    int stepSize = 2;       // the focus drive's step: 1 fine, 2 medium, 3 coarse
    int stepsPerFrame = 1;  // steps of that size between two frames
    FocusStart start = FocusStart::Current;
};

// "fine", "medium", "coarse".
const char* StepSizeName(int stepSize);
// Why the body cannot take the stack (empty when it can): the request's ranges, and a body
// without focus drive (capabilities from CDGetLiveViewCapabilities).
std::string FocusStackRefusal(const FocusStackRequest& request, uint32_t capabilities);
// The piece of the Comment that names the set and the frame: "Focus stack 2, 4/10".
std::string FocusStackComment(int set, int frame, int frames);
// `--focus-stack` as typed: "FRAMES,STEP[,nearest]" with STEP "[COUNTx]SIZE", SIZE one of
// fine, medium, coarse or 1, 2, 3 (e.g. "10,medium", "40,3xfine,nearest").
std::optional<FocusStackRequest> ParseFocusStack(std::string_view text);

class FocusLens {
public:
    enum class Outcome {
        Ok,
        AtInfinity,  // the lens met the infinity end of its travel: no further frame is wanted
        Failed,      // the body did not move the lens; `reason` says why
    };
    struct Result {
        Outcome outcome = Outcome::Ok;
        std::string reason;
    };

    // `capabilities` as CDGetLiveViewCapabilities gave them for `source`; `settleMs` is
    // waited after every move before a frame may be taken.
    FocusLens(cdsdk::CameraLibrary& library, cdsdk::cdHSource source, uint32_t capabilities, int settleMs);

    // Before the first frame: live view on where the body needs it, then to the nearest
    // distance when the stack starts there.
    Result Begin(FocusStart start);
    // Between two frames: `count` steps of `size` towards infinity, then the settle time.
    Result Advance(int size, int count);
    // After the stack: the lens back where it was (only where the body counts steps), live
    // view off when Begin switched it on. The text says what became of the focus.
    std::string End();
    // Ends a settle wait at once and makes every later settle wait return at once.
    void Cancel();

    // True when every move was counted: End then puts the focus back exactly.
    bool Counted() const { return !uncounted_; }

private:
    // One step, with live view restarted and a busy body waited for where needed.
    cdsdk::cdError Step(int32_t step);
    void Record(int size, int count);
    void Settle();
    std::string Failure(cdsdk::cdError e) const;

    cdsdk::CameraLibrary& library_;
    cdsdk::cdHSource source_;
    uint32_t caps_;
    int settleMs_;
    bool startedLiveView_ = false;
    bool uncounted_ = false;  // a move met an end of the travel: its length is unknown
    // The counted moves in order: (signed size, count); positive is towards infinity.
    std::vector<std::pair<int, int>> moves_;
    std::mutex cancelMutex_;
    std::condition_variable cancelCv_;
    bool cancelled_ = false;
};

}  // namespace sequences
