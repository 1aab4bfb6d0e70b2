#include "timelapse/TimeLapseSequencer.h"

#include <algorithm>
#include <ctime>

namespace timelapse {

std::optional<Seconds> LocalToSeconds(const LocalDateTime& t)
{
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;  // the C library decides whether daylight saving applies
    const std::time_t result = std::mktime(&tm);
    if (result == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<Seconds>(result);
}

std::string ClockText(Seconds t)
{
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (!localtime_r(&tt, &tm))
        return {};
    char text[16];
    const size_t n = std::strftime(text, sizeof text, "%H:%M:%S", &tm);
    return std::string(text, n);
}

namespace {
std::string N(int64_t v) { return std::to_string(v); }
}  // namespace

TimeLapseSequencer::TimeLapseSequencer(SequencerHooks hooks) : hooks_(std::move(hooks)) {}

State TimeLapseSequencer::GetState() const
{
    if (running_)
        return State::Running;
    if (stopped_)
        return State::Stopped;
    return completed_ ? State::Completed : State::Idle;
}

std::optional<Seconds> TimeLapseSequencer::MaxLatenessOnceCaughtUp() const
{
    if (!caughtUp_)
        return std::nullopt;
    return maxLate_;
}

void TimeLapseSequencer::SetShotSet(ShotSet* set)
{
    if (!inSet_)
        set_ = set;
}

StartOutcome TimeLapseSequencer::Start(const Schedule& s)
{
    auto fail = [this](const char* text, StartOutcome outcome) {
        hooks_.showError(text);
        hooks_.updateControls();
        return outcome;
    };
    // The frame in flight of a stopped set is still to be put back after.
    if (inSet_)
        return fail("Error starting time lapse sequence", StartOutcome::Failed);
    stopped_ = false;
    framesRemaining_ = 0;
    const Seconds now = hooks_.now();
    Seconds start = now;
    if (!s.startImmediately) {
        const auto at = LocalToSeconds(s.startAt);
        if (!at)
            return fail("Error starting time lapse sequence", StartOutcome::Failed);
        start = std::max(*at, now);
    }
    Seconds end = 0;
    if (s.endAtTime) {
        const auto at = LocalToSeconds(s.endAt);
        if (!at)
            return fail("Error starting time lapse sequence", StartOutcome::Failed);
        if (*at < now)
            return fail("ERROR: end time has already passed", StartOutcome::EndTimePassed);
        end = *at;
    } else {
        framesRemaining_ = s.frames;
    }
    nextShot_ = start;
    endTime_ = end;
    endAtTime_ = s.endAtTime;
    interval_ = s.interval;
    running_ = true;
    completed_ = false;
    stopReason_.clear();
    shotsTaken_ = 0;
    framesTaken_ = 0;
    notSavedOnPc_ = 0;
    notReceived_ = 0;
    note_.clear();
    finishNote_.clear();
    caughtUp_ = false;
    maxLate_ = 0;
    oneSet_ = set_ && !s.endAtTime && s.frames == 1;
    // A shot still in progress belongs to the sequence before; its end clears taking
    // photo, and this sequence's first shot fires on the tick after that.
    shotOfThisRun_ = false;
    if (start <= now)
        Tick();
    hooks_.updateControls();
    return StartOutcome::Started;
}

void TimeLapseSequencer::Stop()
{
    if (running_)
        StopNow();
}

void TimeLapseSequencer::StopNow()
{
    running_ = false;
    stopped_ = true;
    // A set with nothing in flight ends now; otherwise when its frame (or step) is done.
    if (inSet_ && !takingPhoto_ && !preparing_)
        EndSet(false);
    Tick();
    hooks_.updateControls();
}

void TimeLapseSequencer::StopWithReason(std::string reason)
{
    stopReason_ = std::move(reason);
    std::replace(stopReason_.begin(), stopReason_.end(), '\n', ' ');
    if (running_) {
        StopNow();
    } else {
        stopped_ = true;
        Tick();
        hooks_.updateControls();
    }
}

std::string TimeLapseSequencer::Noun(int count) const
{
    if (!set_)
        return "shots";
    return set_->Noun() + (count == 1 ? "" : "s");
}

std::string TimeLapseSequencer::Totals() const
{
    std::string text = set_ ? N(shotsTaken_) + " " + Noun(shotsTaken_) + ", " + N(framesTaken_) +
                                  (framesTaken_ == 1 ? " frame taken" : " frames taken")
                            : N(shotsTaken_) + " shots taken";
    if (notSavedOnPc_ > 0)
        text += ", " + N(notSavedOnPc_) + " not saved on the PC";
    if (notReceived_ > 0)
        text += ", " + N(notReceived_) + " not received";
    return text;
}

std::string TimeLapseSequencer::FinalStatus() const
{
    std::string text;
    if (completed_)
        text = "Sequence completed, " + Totals();
    else if (stopReason_.empty())
        text = "Sequence stopped, " + Totals();
    else
        text = "Sequence stopped: " + stopReason_ + ", " + Totals();
    if (!finishNote_.empty())
        text += " - " + finishNote_;
    return text;
}

void TimeLapseSequencer::SetFinishNote(std::string note)
{
    finishNote_ = std::move(note);
    if (!running_ && !abandoned_ && (completed_ || stopped_))
        hooks_.setStatus(FinalStatus());
}

void TimeLapseSequencer::Complete()
{
    running_ = false;
    completed_ = true;
    hooks_.setStatus(FinalStatus());
    hooks_.updateControls();
}

std::string TimeLapseSequencer::SetLead(Seconds) const
{
    const std::string which =
        "frame " + N(frame_ + 1) + "/" + N(setFrames_) + " of " + set_->Noun() + " " + N(shotsTaken_);
    if (takingPhoto_)
        return "Taking " + which;
    if (preparing_)
        return "Preparing " + which;
    return "Waiting to take " + which;
}

void TimeLapseSequencer::Tick()
{
    if (abandoned_)
        return;
    const Seconds now = hooks_.now();
    if (running_) {
        const bool busy = takingPhoto_ || inSet_;
        const bool ended = !busy && (endAtTime_ ? now >= endTime_ : framesRemaining_ <= 0);
        if (ended) {
            Complete();
        } else {
            std::string lead;
            if (inSet_) {
                // Only a refused frame waits here: it is tried again once its time has come.
                if (!takingPhoto_ && !preparing_ && now >= frameRetryAt_)
                    ShootFrame();
                lead = SetLead(now);
            } else if (takingPhoto_) {
                lead = "Taking photo " + N(shotsTaken_);
            } else if (nextShot_ - now <= 0) {
                Fire(now, lead);
                if (!running_)
                    return;  // the refusal stopped the sequence and said why
            } else {
                caughtUp_ = true;  // the schedule is ahead: the next shot waits for its slot
                lead = N(nextShot_ - now) + " secs until next " + (set_ ? set_->Noun() : std::string("shot"));
            }
            // Firing may have ended the sequence (a set refused at once): its status stands.
            if (running_) {
                std::string status = lead;
                if (endAtTime_)
                    status += ", " + N(endTime_ - now) + " secs to end of sequence";
                else if (!oneSet_)
                    status += ", " + N(framesRemaining_) + " " + Noun(framesRemaining_) + " remaining";
                if (nextShot_ < now && !oneSet_)
                    status += ", running " + N(now - nextShot_) + " secs late";
                if (notSavedOnPc_ > 0)
                    status += ", " + N(notSavedOnPc_) + " not saved on the PC";
                if (notReceived_ > 0)
                    status += ", " + N(notReceived_) + " not received";
                if (!note_.empty())
                    status += " - " + note_;
                hooks_.setStatus(status);
            }
        }
    } else if (stopped_) {
        hooks_.setStatus(FinalStatus());
    }
    hooks_.setClock(ClockText(now) + (running_ ? " - running" : ""));
}

void TimeLapseSequencer::Fire(Seconds now, std::string& lead)
{
    if (framesRemaining_ > 0)
        --framesRemaining_;
    ++shotsTaken_;
    const Seconds late = now - nextShot_;
    if (caughtUp_)
        maxLate_ = std::max(maxLate_, late);
    nextShot_ += interval_;
    if (set_) {
        inSet_ = true;
        frame_ = 0;
        setFrames_ = set_->Frames();
        frameRetryAt_ = 0;
        PrepareFrame();
        if (running_ && inSet_)
            lead = SetLead(now);
        return;
    }
    takingPhoto_ = true;
    shotOfThisRun_ = true;
    const ShotStart shot = hooks_.takePicture();
    if (!shot.started && takingPhoto_) {
        // Refused before any release began: no notification will follow, so the shot is
        // given back. Someone must act on a refusal such as bulb mode or a camera that is
        // gone: the sequence stops and says why, once. Anything else is tried again, as
        // after an autofocus failure answered Yes.
        std::string why = shot.refusal;
        std::replace(why.begin(), why.end(), '\n', ' ');
        if (shot.needsPerson) {
            GiveBackShot();
            takingPhoto_ = false;
            stopReason_ = why.empty() ? "Shot not started" : why;
            StopNow();
            return;
        }
        RetrySoon(why.empty() ? "Shot not started, retrying" : "Shot not started: " + why + ", retrying");
    }
    if (takingPhoto_)
        lead = "Taking photo " + N(shotsTaken_);
    else
        lead = N(nextShot_ - now) + " secs until next shot";
}

void TimeLapseSequencer::GiveBackShot()
{
    if (!shotOfThisRun_)
        return;
    shotOfThisRun_ = false;
    --shotsTaken_;
    if (!endAtTime_)
        ++framesRemaining_;
}

// The shot in progress did not happen: it is not counted and is tried again on the first
// tick at or after one second from now.
void TimeLapseSequencer::RetrySoon(std::string note)
{
    GiveBackShot();
    if (running_) {
        nextShot_ = hooks_.now() + 1;
        note_ = std::move(note);
    }
    takingPhoto_ = false;
}

// ---------------------------------------------------------------- sets

void TimeLapseSequencer::PrepareFrame()
{
    preparing_ = true;
    FrameStep step = set_->Prepare(shotsTaken_, frame_);
    if (step.kind != FrameStep::Kind::Pending)
        FrameReady(std::move(step));
}

void TimeLapseSequencer::FrameReady(FrameStep step)
{
    if (!preparing_ || !inSet_)
        return;
    preparing_ = false;
    if (step.kind == FrameStep::Kind::Refused) {
        EndSet(false);
        StopWithReason(step.reason.empty() ? "The camera refused the frame" : step.reason);
        return;
    }
    if (step.kind == FrameStep::Kind::LastFrame)
        setFrames_ = frame_ + 1;
    if (!running_) {  // stopped while the frame was being prepared
        EndSet(false);
        if (stopped_)
            hooks_.setStatus(FinalStatus());
        hooks_.updateControls();
        return;
    }
    ShootFrame();
}

void TimeLapseSequencer::ShootFrame()
{
    takingPhoto_ = true;
    shotOfThisRun_ = true;
    const ShotStart shot = hooks_.takePicture();
    if (!shot.started && takingPhoto_) {
        std::string why = shot.refusal;
        std::replace(why.begin(), why.end(), '\n', ' ');
        if (shot.needsPerson) {
            // Bulb, or no camera: retrying cannot mend it; the set puts back what it changed.
            takingPhoto_ = false;
            shotOfThisRun_ = false;
            EndSet(false);
            StopWithReason(why.empty() ? "Shot not started" : why);
            return;
        }
        FrameRetrySoon(why.empty() ? "Shot not started, retrying" : "Shot not started: " + why + ", retrying");
    }
}

// The frame in flight did not happen: the set keeps its place and the frame (already
// prepared) is taken on the first tick at or after one second from now.
void TimeLapseSequencer::FrameRetrySoon(std::string note)
{
    takingPhoto_ = false;
    shotOfThisRun_ = false;
    if (running_) {
        frameRetryAt_ = hooks_.now() + 1;
        note_ = std::move(note);
    } else {
        EndSet(false);
        hooks_.updateControls();
    }
}

void TimeLapseSequencer::EndSet(bool cameraGone)
{
    if (!inSet_)
        return;
    inSet_ = false;
    preparing_ = false;
    frameRetryAt_ = 0;
    set_->Finish(cameraGone);
}

void TimeLapseSequencer::FrameSaved(SaveOutcome outcome)
{
    takingPhoto_ = false;
    shotOfThisRun_ = false;
    switch (outcome) {
    case SaveOutcome::Saved:
        note_.clear();
        ++framesTaken_;
        break;
    case SaveOutcome::NotSavedOnPc:
        note_.clear();
        ++framesTaken_;
        ++notSavedOnPc_;
        break;
    case SaveOutcome::NotReceived:
        // One cut-off download is one frame missing: counted, and the set goes on.
        note_.clear();
        ++notReceived_;
        break;
    case SaveOutcome::Lost:
        // Shooting on into a PC that cannot keep the pictures would lose the whole set.
        EndSet(false);
        StopWithReason("Error saving image");
        return;
    }
    ++frame_;
    if (frame_ < setFrames_ && running_) {
        PrepareFrame();
        return;
    }
    EndSet(false);
    if (running_)
        Tick();  // the next set, or the end, without waiting for the timer
    else if (stopped_)
        hooks_.setStatus(FinalStatus());
    hooks_.updateControls();
}

void TimeLapseSequencer::FrameReleaseError(int64_t code)
{
    if (code != 1) {
        FrameRetrySoon("Release error " + N(code) + ", retrying");
        return;
    }
    if (!running_) {
        hooks_.showError("Unable to release shutter.\nThis may be because the AF was unable to lock");
        takingPhoto_ = false;
        shotOfThisRun_ = false;
        EndSet(false);
        hooks_.updateControls();
        return;
    }
    const bool yes = hooks_.askAutofocusRetry();
    if (!inSet_ || !takingPhoto_)
        return;  // the camera went away, or the dialog closed, while the question was open
    if (yes && running_) {
        FrameRetrySoon({});
        return;
    }
    takingPhoto_ = false;
    shotOfThisRun_ = false;
    EndSet(false);
    if (running_)
        StopNow();
    else
        hooks_.updateControls();
}

// ---------------------------------------------------------------- notifications

void TimeLapseSequencer::SavedFile(SaveOutcome outcome)
{
    if (inSet_ && takingPhoto_) {
        FrameSaved(outcome);
        return;
    }
    const bool ofThisRun = shotOfThisRun_;
    takingPhoto_ = false;
    shotOfThisRun_ = false;
    switch (outcome) {
    case SaveOutcome::Saved:
        note_.clear();
        break;
    case SaveOutcome::NotSavedOnPc:
        note_.clear();
        if (ofThisRun)
            ++notSavedOnPc_;
        break;
    case SaveOutcome::NotReceived:
        // One cut-off download is one frame missing, not the end of the night.
        note_.clear();
        if (ofThisRun)
            ++notReceived_;
        break;
    case SaveOutcome::Lost:
        // Shooting on into a PC that cannot keep the pictures would lose the whole night.
        if (ofThisRun)
            --shotsTaken_;
        if (running_ || stopped_) {
            stopReason_ = "Error saving image";
            StopNow();
        }
        break;
    }
}

void TimeLapseSequencer::ReleaseError(int64_t code)
{
    if (inSet_ && takingPhoto_) {
        FrameReleaseError(code);
        return;
    }
    if (code != 1) {
        RetrySoon("Release error " + N(code) + ", retrying");
        return;
    }
    if (!running_) {
        hooks_.showError("Unable to release shutter.\nThis may be because the AF was unable to lock");
        takingPhoto_ = false;
        shotOfThisRun_ = false;
        return;
    }
    const bool yes = hooks_.askAutofocusRetry();
    if (yes) {
        RetrySoon({});
    } else {
        if (shotOfThisRun_)
            --shotsTaken_;
        shotOfThisRun_ = false;
        if (running_)
            StopNow();
        takingPhoto_ = false;
    }
}

void TimeLapseSequencer::CameraShutdown()
{
    running_ = false;
    if (inSet_) {
        takingPhoto_ = false;
        shotOfThisRun_ = false;
        EndSet(true);
    }
}

void TimeLapseSequencer::Abandon()
{
    abandoned_ = true;
    running_ = false;
    if (inSet_) {
        takingPhoto_ = false;
        EndSet(false);
    }
}

}  // namespace timelapse
