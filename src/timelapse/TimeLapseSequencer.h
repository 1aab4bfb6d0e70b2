// TimeLapseSequencer: the schedule and state machine of every unattended series, without any
// window: a time lapse, an exposure bracket, a focus stack, or a bracket or stack at every
// interval. It is driven from outside: a tick (once a second in the program), the Start and
// Stop buttons, and the camera notifications the main window forwards (saved file, release
// error, camera shutdown). It fires each shot through an injected "take picture" call, reads
// the time through an injected clock, and reports through injected calls: the status line,
// the clock line, the enabling of the controls, the autofocus retry question and error boxes.
//
// A shot the camera side refuses is tried again a second later with the reason in the
// status line, unless the refusal needs a person (bulb, no camera): then the sequence
// stops with that reason. A frame whose download was cut off is counted as not received
// and the sequence goes on; one the PC could not keep while the card keeps none stops it.
//
// Each slot of the schedule shoots one picture, or, with a ShotSet, a set of frames back to
// back: before each frame the set prepares it (a setting stepped, the focus moved; at once,
// or later through FrameReady), the next frame follows as soon as the previous one is saved,
// and once the set ends in any way (done, stopped, refused, failed, camera gone, dialog
// closed) the set puts back what it changed. The interval counts from the start of a set.
//
// Times are whole seconds since 1 January 1970 in 64 bits; picker values are local calendar
// times, converted with the C library (which decides daylight saving).
//
// Threads: one thread only (the UI thread in the program); no locking. Blocking: only as
// long as the injected calls block (the retry question is modal in the program; ticks that
// arrive meanwhile only refresh the status line).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace timelapse {

using Seconds = int64_t;

struct LocalDateTime {
    int year = 1970, month = 1, day = 1;  // month 1..12
    int hour = 0, minute = 0, second = 0;
};

// The local calendar time as seconds since 1970; daylight saving is chosen by the C
// library. Nothing when the time cannot be represented.
std::optional<Seconds> LocalToSeconds(const LocalDateTime& t);
// "%H:%M:%S" of the local time.
std::string ClockText(Seconds t);

struct Schedule {
    bool startImmediately = true;
    LocalDateTime startAt;   // used when not starting immediately
    bool endAtTime = false;
    LocalDateTime endAt;     // used in end-at-time mode
    int frames = 0;          // number-of-frames mode
    uint32_t interval = 0;   // seconds between slots
};

// What a forwarded saved-file notification says about the picture.
enum class SaveOutcome {
    Saved,           // on the PC (or on the card when the card is the only target)
    NotSavedOnPc,    // the PC copy failed, the card keeps one
    Lost,            // the PC copy failed and the card keeps none
    NotReceived,     // the download was cut off: the frame is missing, the sequence goes on
};

// The answer of the "take picture" call.
struct ShotStart {
    bool started = true;
    std::string refusal;       // why not, when refused (may be empty)
    bool needsPerson = false;  // refused for a reason retrying cannot mend: the sequence stops
};

struct SequencerHooks {
    std::function<Seconds()> now;
    std::function<ShotStart()> takePicture;               // starts one shot, returns at once
    std::function<void(const std::string&)> setStatus;    // the status line
    std::function<void(const std::string&)> setClock;     // the clock line
    std::function<void()> updateControls;                 // running state changed
    std::function<bool()> askAutofocusRetry;              // Yes/No; true on Yes
    std::function<void(const std::string&)> showError;    // error box
};

// How the frame about to be taken was prepared by its set.
struct FrameStep {
    enum class Kind {
        Ready,      // take it now
        LastFrame,  // take it, and end the set after it (the lens met the end of its travel)
        Pending,    // the preparation goes on; FrameReady tells its end
        Refused,    // the set cannot go on: it ends and the sequence stops with `reason`
    };
    Kind kind = Kind::Ready;
    std::string reason;
};

// What each slot shoots when it is more than one picture. Called on the sequencer's thread.
class ShotSet {
public:
    virtual ~ShotSet() = default;
    // Frames in each set (2 or more).
    virtual int Frames() const = 0;
    // What a set is called in the status line, lower case: "bracket", "stack".
    virtual std::string Noun() const = 0;
    // Before frame `frame` (0-based) of set `set` (1-based; counts the sets of the run).
    virtual FrameStep Prepare(int set, int frame) = 0;
    // The set is over, whichever way; `cameraGone` when the camera went away meanwhile.
    // Puts back what the set changed. Called exactly once per set that began.
    virtual void Finish(bool cameraGone) = 0;
};

enum class StartOutcome { Started, EndTimePassed, Failed };
enum class State { Idle, Running, Stopped, Completed };

class TimeLapseSequencer {
public:
    explicit TimeLapseSequencer(SequencerHooks hooks);

    // The Start button with valid input. Reports failures itself (error box).
    StartOutcome Start(const Schedule& schedule);
    // The Stop button: nothing is sent to the camera; a shot in progress completes.
    void Stop();
    // Once a second: ends the sequence, fires a due shot, rewrites the status and clock lines.
    void Tick();

    // Forwarded notifications.
    void SavedFile(SaveOutcome outcome);
    void ReleaseError(int64_t code);
    void CameraShutdown();

    // Each slot shoots a set of `set` (not owned; it must outlive its use), or one picture
    // when null. Only while no set is under way.
    void SetShotSet(ShotSet* set);
    // The end of a frame preparation that Prepare answered Pending.
    void FrameReady(FrameStep step);
    // A note on the end of a set (what became of the focus, of a setting), shown after the
    // final status line.
    void SetFinishNote(std::string note);
    // The dialog goes away: a set under way ends now (its Finish is called); nothing is
    // reported any more.
    void Abandon();

    State GetState() const;
    bool Running() const { return running_; }
    bool TakingPhoto() const { return takingPhoto_; }
    // A set has begun and not ended (also after Stop, until its frame in flight is in).
    bool InSet() const { return inSet_; }
    int FramesTaken() const { return framesTaken_; }
    int ShotsTaken() const { return shotsTaken_; }
    int FramesRemaining() const { return framesRemaining_; }
    Seconds NextShotTime() const { return nextShot_; }
    int NotSavedOnPc() const { return notSavedOnPc_; }
    int NotReceived() const { return notReceived_; }
    // Why the sequence stopped by itself (empty: it did not, or the user stopped it).
    const std::string& StopReason() const { return stopReason_; }
    // The largest lateness of a shot (seconds after its slot) since the schedule first had
    // to wait for a slot; nothing while it has never caught up.
    std::optional<Seconds> MaxLatenessOnceCaughtUp() const;

private:
    void Fire(Seconds now, std::string& lead);
    void Complete();
    void StopNow();
    void RetrySoon(std::string note);
    void GiveBackShot();
    std::string Totals() const;
    std::string Noun(int count) const;  // "shots", "bracket", "stacks"...
    // Sets.
    void PrepareFrame();
    void ShootFrame();
    void FrameRetrySoon(std::string note);
    void FrameSaved(SaveOutcome outcome);
    void FrameReleaseError(int64_t code);
    void EndSet(bool cameraGone);
    void StopWithReason(std::string reason);
    std::string SetLead(Seconds now) const;
    std::string FinalStatus() const;

    SequencerHooks hooks_;
    bool running_ = false;
    bool stopped_ = false;
    bool completed_ = false;
    std::string stopReason_;  // why the sequence stopped by itself (status line)
    bool takingPhoto_ = false;
    bool shotOfThisRun_ = false;  // the shot in progress was fired by the current sequence
    bool endAtTime_ = false;
    uint32_t interval_ = 0;
    Seconds endTime_ = 0;
    Seconds nextShot_ = 0;
    int framesRemaining_ = 0;
    int shotsTaken_ = 0;
    int notSavedOnPc_ = 0;
    int notReceived_ = 0;
    std::string note_;  // what went wrong with the last shot, until one is saved
    bool caughtUp_ = false;
    Seconds maxLate_ = 0;
    // Sets.
    ShotSet* set_ = nullptr;
    bool inSet_ = false;
    bool preparing_ = false;    // waiting for FrameReady
    int frame_ = 0;             // the frame in flight or being prepared (0-based)
    int setFrames_ = 0;         // frames of the set under way (fewer when it ends early)
    int framesTaken_ = 0;
    Seconds frameRetryAt_ = 0;  // a refused frame is tried again at this time
    bool oneSet_ = false;       // the run is a single set (no schedule to report)
    bool abandoned_ = false;
    std::string finishNote_;
};

}  // namespace timelapse
