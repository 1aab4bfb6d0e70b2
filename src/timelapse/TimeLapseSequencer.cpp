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

StartOutcome TimeLapseSequencer::Start(const Schedule& s)
{
    stopped_ = false;
    framesRemaining_ = 0;
    const Seconds now = hooks_.now();
    auto fail = [this](const char* text, StartOutcome outcome) {
        hooks_.showError(text);
        hooks_.updateControls();
        return outcome;
    };
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
    notSavedOnPc_ = 0;
    notReceived_ = 0;
    note_.clear();
    caughtUp_ = false;
    maxLate_ = 0;
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
    Tick();
    hooks_.updateControls();
}

std::string TimeLapseSequencer::Totals() const
{
    std::string text = N(shotsTaken_) + " shots taken";
    if (notSavedOnPc_ > 0)
        text += ", " + N(notSavedOnPc_) + " not saved on the PC";
    if (notReceived_ > 0)
        text += ", " + N(notReceived_) + " not received";
    return text;
}

void TimeLapseSequencer::Complete()
{
    hooks_.setStatus("Sequence completed, " + Totals());
    running_ = false;
    completed_ = true;
    hooks_.updateControls();
}

void TimeLapseSequencer::Tick()
{
    const Seconds now = hooks_.now();
    if (running_) {
        const bool ended = !takingPhoto_ && (endAtTime_ ? now >= endTime_ : framesRemaining_ <= 0);
        if (ended) {
            Complete();
        } else {
            std::string lead;
            if (takingPhoto_) {
                lead = "Taking photo " + N(shotsTaken_);
            } else if (nextShot_ - now <= 0) {
                Fire(now, lead);
                if (!running_)
                    return;  // the refusal stopped the sequence and said why
            } else {
                caughtUp_ = true;  // the schedule is ahead: the next shot waits for its slot
                lead = N(nextShot_ - now) + " secs until next shot";
            }
            std::string status = lead;
            if (endAtTime_)
                status += ", " + N(endTime_ - now) + " secs to end of sequence";
            else
                status += ", " + N(framesRemaining_) + " shots remaining";
            if (nextShot_ < now)
                status += ", running " + N(now - nextShot_) + " secs late";
            if (notSavedOnPc_ > 0)
                status += ", " + N(notSavedOnPc_) + " not saved on the PC";
            if (notReceived_ > 0)
                status += ", " + N(notReceived_) + " not received";
            if (!note_.empty())
                status += " - " + note_;
            hooks_.setStatus(status);
        }
    } else if (stopped_) {
        hooks_.setStatus((stopReason_.empty() ? std::string("Sequence stopped, ")
                                              : "Sequence stopped: " + stopReason_ + ", ") +
                         Totals());
    }
    hooks_.setClock(ClockText(now) + (running_ ? " - running" : ""));
}

void TimeLapseSequencer::Fire(Seconds now, std::string& lead)
{
    if (framesRemaining_ > 0)
        --framesRemaining_;
    ++shotsTaken_;
    takingPhoto_ = true;
    shotOfThisRun_ = true;
    const Seconds late = now - nextShot_;
    if (caughtUp_)
        maxLate_ = std::max(maxLate_, late);
    nextShot_ += interval_;
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

void TimeLapseSequencer::SavedFile(SaveOutcome outcome)
{
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
}

}  // namespace timelapse
