// The sequence schedule on a fake clock and a fake camera: shots back to back, start and
// end times, slow shots that never drop a slot, Stop, autofocus retries, refusals and
// release errors that must not stall the night, full disks, daylight saving, and the status
// lines word for word; then sets (brackets, stacks) shot at a slot: frames back to back,
// preparations that answer later, refusals, Stop, errors and every way a set can end.
#include "timelapse/TimeLapseSequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

using namespace timelapse;

namespace {

// Every test runs in a fixed time zone; the daylight-saving test picks its own.
void UseTimeZone(const char* tz)
{
    setenv("TZ", tz, 1);
    tzset();
}

LocalDateTime Local(Seconds t)
{
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// A fake clock and camera around one sequencer. Times start in 2040, past the end of
// 32-bit seconds.
struct Rig {
    Rig()
        : seq(SequencerHooks{
              [this] { return now; },
              [this] {
                  ++fired;
                  slots.push_back(now);
                  if (!refusals.empty()) {
                      ShotStart s = refusals.front();
                      refusals.pop_front();
                      return s;
                  }
                  return ShotStart{};
              },
              [this](const std::string& s) { status = s; },
              [this](const std::string& s) { clock = s; },
              [this] { ++controlUpdates; },
              [this] {
                  ++questions;
                  const bool yes = afAnswers.empty() ? true : afAnswers.front();
                  if (!afAnswers.empty())
                      afAnswers.pop_front();
                  return yes;
              },
              [this](const std::string& s) { errors.push_back(s); },
          })
    {
        UseTimeZone("UTC");
    }
    void Tick(int seconds = 1)
    {
        now += seconds;
        seq.Tick();
    }
    static Schedule Frames(int frames, uint32_t interval)
    {
        Schedule s;
        s.frames = frames;
        s.interval = interval;
        return s;
    }
    // Shoots until the sequence ends, each shot saved `shotSeconds` after it fired; ticks
    // every second. Returns the statuses seen.
    std::vector<std::string> RunToEnd(int shotSeconds, int maxSeconds = 100000)
    {
        std::vector<std::string> seen;
        int busy = 0;
        for (int i = 0; i < maxSeconds && seq.Running(); ++i) {
            if (seq.TakingPhoto() && ++busy >= shotSeconds) {
                busy = 0;
                seq.SavedFile(SaveOutcome::Saved);
            }
            Tick();
            seen.push_back(status);
        }
        return seen;
    }

    Seconds now = 2'216'000'000;  // March 2040
    int fired = 0;
    std::vector<Seconds> slots;   // when each shot fired
    std::deque<ShotStart> refusals;
    std::deque<bool> afAnswers;
    int questions = 0;
    int controlUpdates = 0;
    std::string status, clock;
    std::vector<std::string> errors;
    TimeLapseSequencer seq;
};

TEST(TimeLapse, ThreeFramesAtIntervalZeroFireBackToBackThenComplete)
{
    Rig r;
    ASSERT_EQ(r.seq.Start(Rig::Frames(3, 0)), StartOutcome::Started);
    // The first shot fires as Start is pressed.
    EXPECT_EQ(r.fired, 1);
    EXPECT_EQ(r.status, "Taking photo 1, 2 shots remaining");
    EXPECT_EQ(r.clock, ClockText(r.now) + " - running");
    // No second shot while the first is on its way.
    r.Tick();
    r.Tick();
    EXPECT_EQ(r.fired, 1);
    EXPECT_EQ(r.status, "Taking photo 1, 2 shots remaining, running 2 secs late");
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    EXPECT_EQ(r.fired, 2);
    EXPECT_EQ(r.status, "Taking photo 2, 1 shots remaining, running 3 secs late");
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    EXPECT_EQ(r.status, "Taking photo 3, 0 shots remaining, running 4 secs late");
    // The last shot is in flight: 0 remaining, but not completed before it is saved.
    r.Tick();
    EXPECT_TRUE(r.seq.Running());
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    EXPECT_EQ(r.status, "Sequence completed, 3 shots taken");
    EXPECT_EQ(r.seq.GetState(), State::Completed);
    EXPECT_EQ(r.clock, ClockText(r.now));
    EXPECT_EQ(r.fired, 3);
    // The completed text is kept.
    r.Tick();
    EXPECT_EQ(r.status, "Sequence completed, 3 shots taken");
    EXPECT_TRUE(r.errors.empty());
}

TEST(TimeLapse, StartTimeInThePastFiresAtOnce)
{
    Rig r;
    Schedule s = Rig::Frames(5, 60);
    s.startImmediately = false;
    s.startAt = Local(r.now - 3600);
    r.seq.Start(s);
    EXPECT_EQ(r.fired, 1);
    EXPECT_EQ(r.status, "Taking photo 1, 4 shots remaining");
    EXPECT_EQ(r.seq.NextShotTime(), r.now + 60);  // anchored at now, not at the past time
}

TEST(TimeLapse, StartTenMinutesAheadCountsDownPastThe32BitEnd)
{
    Rig r;
    EXPECT_GT(r.now, int64_t{INT32_MAX});
    ASSERT_EQ(LocalToSeconds(Local(r.now)), r.now);
    Schedule s = Rig::Frames(2, 10);
    s.startImmediately = false;
    s.startAt = Local(r.now + 600);
    r.seq.Start(s);
    EXPECT_EQ(r.fired, 0);
    r.Tick();
    EXPECT_EQ(r.status, "599 secs until next shot, 2 shots remaining");
    for (int i = 0; i < 598; ++i)
        r.Tick();
    EXPECT_EQ(r.status, "1 secs until next shot, 2 shots remaining");
    EXPECT_EQ(r.fired, 0);
    r.Tick();
    EXPECT_EQ(r.fired, 1);
    EXPECT_EQ(r.status, "Taking photo 1, 1 shots remaining");
}

TEST(TimeLapse, EndTimeAlreadyPassedStartsNothing)
{
    Rig r;
    Schedule s = Rig::Frames(5, 10);
    s.endAtTime = true;
    s.endAt = Local(r.now - 60);
    EXPECT_EQ(r.seq.Start(s), StartOutcome::EndTimePassed);
    EXPECT_EQ(r.errors, std::vector<std::string>{"ERROR: end time has already passed"});
    EXPECT_FALSE(r.seq.Running());
    EXPECT_EQ(r.fired, 0);
    // An end later than now but before the start completes with no shot at the end time.
    s.endAt = Local(r.now + 30);
    s.startImmediately = false;
    s.startAt = Local(r.now + 120);
    EXPECT_EQ(r.seq.Start(s), StartOutcome::Started);
    r.RunToEnd(1);
    EXPECT_EQ(r.status, "Sequence completed, 0 shots taken");
    EXPECT_EQ(r.fired, 0);
}

TEST(TimeLapse, EndAtTimeShootsEverySlotBeforeTheEndAndLetsTheLastShotFinish)
{
    Rig r;
    const Seconds t0 = r.now;
    Schedule s = Rig::Frames(1, 25);
    s.endAtTime = true;
    s.endAt = Local(t0 + 100);
    r.seq.Start(s);
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    EXPECT_EQ(r.status, "24 secs until next shot, 99 secs to end of sequence");
    // Slots at 0, 25, 50, 75; the shot at 75 takes 30 s and ends after the end time.
    int busy = 0;
    while (r.seq.Running() && r.now < t0 + 200) {
        if (r.seq.TakingPhoto() && ++busy >= (r.fired == 4 ? 30 : 2)) {
            busy = 0;
            r.seq.SavedFile(SaveOutcome::Saved);
        }
        r.Tick();
        if (r.now == t0 + 101) {
            EXPECT_EQ(r.status, "Taking photo 4, -1 secs to end of sequence, running 1 secs late");
        }
    }
    EXPECT_EQ(r.slots, (std::vector<Seconds>{t0, t0 + 25, t0 + 50, t0 + 75}));
    EXPECT_EQ(r.status, "Sequence completed, 4 shots taken");
    EXPECT_EQ(r.now, t0 + 105);  // on the tick after the last shot was saved (at 104)
}

TEST(TimeLapse, SlowShotsNeverDropASlotAndCarryTheLatePiece)
{
    Rig r;
    const Seconds t0 = r.now;
    r.seq.Start(Rig::Frames(6, 5));
    const auto seen = r.RunToEnd(12);
    EXPECT_EQ(r.fired, 6);
    EXPECT_EQ(r.status, "Sequence completed, 6 shots taken");
    // Each shot fires on the first tick after the one before was saved, 12 s later.
    ASSERT_EQ(r.slots.size(), 6u);
    for (size_t i = 1; i < r.slots.size(); ++i)
        EXPECT_EQ(r.slots[i] - r.slots[i - 1], 12) << i;
    // The schedule advanced exactly one interval per shot.
    EXPECT_EQ(r.seq.NextShotTime(), t0 + 30);
    // Every status while catching up carries the late piece.
    EXPECT_EQ(seen[12], "Taking photo 2, 4 shots remaining, running 3 secs late");
    for (size_t i = 13; i + 1 < seen.size(); ++i)
        EXPECT_NE(seen[i].find("secs late"), std::string::npos) << seen[i];
    EXPECT_FALSE(r.seq.MaxLatenessOnceCaughtUp());  // it never caught up
}

TEST(TimeLapse, StopWhileTakingPhotoFourAndStartAgainWaitsForThatShot)
{
    Rig r;
    r.seq.Start(Rig::Frames(10, 0));
    for (int i = 0; i < 3; ++i) {
        r.seq.SavedFile(SaveOutcome::Saved);
        r.Tick();
    }
    ASSERT_EQ(r.status.rfind("Taking photo 4, 6 shots remaining", 0), 0u) << r.status;
    r.seq.Stop();
    EXPECT_EQ(r.status, "Sequence stopped, 4 shots taken");
    EXPECT_EQ(r.seq.GetState(), State::Stopped);
    EXPECT_EQ(r.clock, ClockText(r.now));
    r.Tick();
    EXPECT_EQ(r.fired, 4);
    EXPECT_TRUE(r.seq.TakingPhoto());  // the shot in flight still completes
    // A new sequence does not fire while that shot is on its way, nor count it.
    r.seq.Start(Rig::Frames(2, 0));
    EXPECT_EQ(r.fired, 4);
    EXPECT_EQ(r.status, "Taking photo 0, 2 shots remaining");
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    EXPECT_EQ(r.fired, 5);
    EXPECT_EQ(r.status, "Taking photo 1, 1 shots remaining, running 1 secs late");
}

TEST(TimeLapse, AutofocusFailureAnsweredYesRetriesAndStillTakesEveryFrame)
{
    Rig r;
    r.seq.Start(Rig::Frames(6, 10));
    int failures = 0;
    const Seconds limit = r.now + 1000;
    while (r.seq.Running() && r.now < limit) {
        if (r.seq.TakingPhoto()) {
            if (r.seq.ShotsTaken() == 5 && failures++ == 0) {
                r.seq.ReleaseError(1);
                EXPECT_EQ(r.seq.ShotsTaken(), 4);
                EXPECT_EQ(r.seq.NextShotTime(), r.now + 1);
                EXPECT_FALSE(r.seq.TakingPhoto());
                const Seconds failedAt = r.now;
                r.Tick();
                EXPECT_EQ(r.status, "Taking photo 5, 1 shots remaining");
                EXPECT_EQ(r.now - failedAt, 1);
                continue;
            }
            r.seq.SavedFile(SaveOutcome::Saved);
        }
        r.Tick();
    }
    EXPECT_EQ(r.questions, 1);
    EXPECT_EQ(r.fired, 7);
    EXPECT_EQ(r.status, "Sequence completed, 6 shots taken");
}

TEST(TimeLapse, AutofocusFailureAnsweredNoStopsAndUncountsTheShot)
{
    Rig r;
    r.afAnswers = {false};
    r.seq.Start(Rig::Frames(6, 0));
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    r.seq.ReleaseError(1);
    EXPECT_EQ(r.status, "Sequence stopped, 1 shots taken");
    EXPECT_FALSE(r.seq.TakingPhoto());
    r.Tick();
    EXPECT_EQ(r.fired, 2);
    // A failure of a shot that outlived its stopped sequence: the plain error box.
    r.seq.Start(Rig::Frames(6, 0));
    r.seq.Stop();
    r.seq.ReleaseError(1);
    EXPECT_EQ(r.questions, 1);
    EXPECT_EQ(r.errors, std::vector<std::string>{"Unable to release shutter.\nThis may be because the AF was unable to lock"});
    EXPECT_FALSE(r.seq.TakingPhoto());
}

TEST(TimeLapse, RefusedShotIsNotCountedAndIsRetried)
{
    Rig r;
    r.refusals = {ShotStart{false, "A picture is still being taken"},
                  ShotStart{false, "Unable to release the shutter.\nPlease check that the camera's LCD display is off and try again"}};
    r.seq.Start(Rig::Frames(3, 60));
    EXPECT_FALSE(r.seq.TakingPhoto());  // no notification will come: not left taking photo
    EXPECT_EQ(r.seq.ShotsTaken(), 0);
    EXPECT_EQ(r.status,
              "1 secs until next shot, 3 shots remaining - Shot not started: A picture is still being taken, "
              "retrying");
    r.Tick();
    EXPECT_EQ(r.fired, 2);
    EXPECT_EQ(r.status,
              "1 secs until next shot, 3 shots remaining - Shot not started: Unable to release the shutter. Please "
              "check that the camera's LCD display is off and try again, retrying");
    r.Tick();
    EXPECT_EQ(r.status, "Taking photo 1, 2 shots remaining - Shot not started: Unable to release the shutter. Please "
                        "check that the camera's LCD display is off and try again, retrying");
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    EXPECT_EQ(r.status, "59 secs until next shot, 2 shots remaining");
    r.RunToEnd(2);
    EXPECT_EQ(r.status, "Sequence completed, 3 shots taken");
    EXPECT_EQ(r.fired, 5);
}

TEST(TimeLapse, ARefusalThatNeedsAPersonStopsTheSequenceOnceWithItsReason)
{
    Rig r;
    r.seq.Start(Rig::Frames(5, 10));
    r.seq.SavedFile(SaveOutcome::Saved);
    r.refusals = {ShotStart{false, "Bulb mode is only available when using the camera's shutter release", true}};
    r.Tick(10);
    EXPECT_EQ(r.seq.GetState(), State::Stopped);
    EXPECT_EQ(r.status, "Sequence stopped: Bulb mode is only available when using the camera's shutter release, "
                        "1 shots taken");
    EXPECT_EQ(r.seq.FramesRemaining(), 4);
    EXPECT_FALSE(r.seq.TakingPhoto());
    for (int i = 0; i < 30; ++i)
        r.Tick();
    EXPECT_EQ(r.fired, 2) << "not tried again";
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.questions, 0);

    // A new start forgets the reason.
    r.seq.Start(Rig::Frames(1, 0));
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    EXPECT_EQ(r.status, "Sequence completed, 1 shots taken");
}

TEST(TimeLapse, AnInterruptedDownloadIsCountedAsNotReceivedAndTheSequenceGoesOn)
{
    Rig r;
    r.seq.Start(Rig::Frames(3, 0));
    r.seq.SavedFile(SaveOutcome::NotReceived);
    r.Tick();
    EXPECT_EQ(r.seq.GetState(), State::Running);
    EXPECT_EQ(r.status, "Taking photo 2, 1 shots remaining, running 1 secs late, 1 not received");
    r.RunToEnd(1);
    EXPECT_EQ(r.status, "Sequence completed, 3 shots taken, 1 not received");
    EXPECT_EQ(r.fired, 3);
}

TEST(TimeLapse, ReleaseErrorOtherThanAutofocusIsRetriedWithoutAQuestion)
{
    Rig r;
    r.seq.Start(Rig::Frames(3, 0));
    r.seq.ReleaseError(0x8D);
    EXPECT_EQ(r.questions, 0);
    EXPECT_FALSE(r.seq.TakingPhoto());
    EXPECT_EQ(r.seq.ShotsTaken(), 0);
    r.now += 1;
    r.seq.Tick();
    EXPECT_EQ(r.status, "Taking photo 1, 2 shots remaining - Release error 141, retrying");
    r.RunToEnd(1);
    EXPECT_EQ(r.status, "Sequence completed, 3 shots taken");
    EXPECT_EQ(r.fired, 4);
}

TEST(TimeLapse, FullDiskStopsWhenTheCardKeepsNoCopy)
{
    Rig r;
    r.seq.Start(Rig::Frames(5, 0));
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    r.seq.SavedFile(SaveOutcome::Saved);
    r.Tick();
    r.seq.SavedFile(SaveOutcome::Lost);
    EXPECT_EQ(r.status, "Sequence stopped: Error saving image, 2 shots taken");
    EXPECT_EQ(r.seq.GetState(), State::Stopped);
    r.Tick();
    r.Tick();
    EXPECT_EQ(r.fired, 3);
    EXPECT_EQ(r.status, "Sequence stopped: Error saving image, 2 shots taken");
}

TEST(TimeLapse, FullDiskGoesOnWhenTheCardKeepsACopyAndCountsTheMisses)
{
    Rig r;
    r.seq.Start(Rig::Frames(5, 0));
    const SaveOutcome outcomes[] = {SaveOutcome::Saved, SaveOutcome::NotSavedOnPc, SaveOutcome::NotSavedOnPc,
                                    SaveOutcome::Saved, SaveOutcome::Saved};
    for (SaveOutcome o : outcomes) {
        r.seq.SavedFile(o);
        r.Tick();
        if (r.seq.ShotsTaken() == 4) {
            EXPECT_EQ(r.status, "Taking photo 4, 1 shots remaining, running 3 secs late, 2 not saved on the PC");
        }
    }
    EXPECT_EQ(r.status, "Sequence completed, 5 shots taken, 2 not saved on the PC");
}

TEST(TimeLapse, CameraShutdownEndsTheSequenceWithoutAText)
{
    Rig r;
    r.seq.Start(Rig::Frames(5, 0));
    const std::string before = r.status;
    r.seq.CameraShutdown();
    r.Tick();
    EXPECT_FALSE(r.seq.Running());
    EXPECT_EQ(r.status, before);
    EXPECT_EQ(r.fired, 1);
}

TEST(TimeLapse, DaylightSavingChangeKeepsTheIntervalInRealSeconds)
{
    Rig r;
    UseTimeZone("Europe/London");
    // Clocks go from 01:00 to 02:00 on 29 March 2026: 00:59 to 02:01 is two minutes.
    const auto start = LocalToSeconds({2026, 3, 29, 0, 59, 0});
    const auto end = LocalToSeconds({2026, 3, 29, 2, 1, 0});
    ASSERT_TRUE(start && end);
    EXPECT_EQ(*end - *start, 120);
    r.now = *start - 5;
    Schedule s = Rig::Frames(1, 30);
    s.startImmediately = false;
    s.startAt = {2026, 3, 29, 0, 59, 0};
    s.endAtTime = true;
    s.endAt = {2026, 3, 29, 2, 1, 0};
    r.seq.Start(s);
    r.RunToEnd(1);
    EXPECT_EQ(r.status, "Sequence completed, 4 shots taken");
    std::vector<std::string> clocks;
    for (Seconds t : r.slots)
        clocks.push_back(ClockText(t));
    EXPECT_EQ(clocks, (std::vector<std::string>{"00:59:00", "00:59:30", "02:00:00", "02:00:30"}));
    UseTimeZone("UTC");
}

// ---------------------------------------------------------------- sets

// A set whose preparations answer from a script (Ready when it runs out) and which records
// what the sequencer asked of it.
struct FakeSet : ShotSet {
    int frames = 3;
    std::string noun = "bracket";
    std::vector<std::pair<int, int>> prepared;  // (set, frame)
    std::deque<FrameStep> answers;
    std::vector<bool> finished;  // cameraGone of each Finish
    int Frames() const override { return frames; }
    std::string Noun() const override { return noun; }
    FrameStep Prepare(int set, int frame) override
    {
        prepared.emplace_back(set, frame);
        if (answers.empty())
            return {};
        FrameStep a = answers.front();
        answers.pop_front();
        return a;
    }
    void Finish(bool cameraGone) override { finished.push_back(cameraGone); }
};

FrameStep Step(FrameStep::Kind kind, std::string reason = {})
{
    FrameStep s;
    s.kind = kind;
    s.reason = std::move(reason);
    return s;
}

TEST(TimeLapseSets, FramesFollowEachSaveAtOnceAndTheSetEndsOnce)
{
    Rig r;
    FakeSet set;
    r.seq.SetShotSet(&set);
    ASSERT_EQ(r.seq.Start(Rig::Frames(1, 0)), StartOutcome::Started);
    EXPECT_EQ(r.fired, 1);
    EXPECT_EQ(r.status, "Taking frame 1/3 of bracket 1");  // one set: nothing remains, nothing is late
    r.Tick();
    r.Tick();
    EXPECT_EQ(r.fired, 1);
    EXPECT_EQ(r.status, "Taking frame 1/3 of bracket 1");
    const Seconds saved = r.now;
    r.seq.SavedFile(SaveOutcome::Saved);
    r.seq.SavedFile(SaveOutcome::NotSavedOnPc);
    EXPECT_EQ(r.fired, 3);  // no tick needed between frames
    EXPECT_EQ(r.slots.back(), saved);
    EXPECT_TRUE(set.finished.empty());
    r.seq.SavedFile(SaveOutcome::Saved);
    EXPECT_EQ(set.prepared, (std::vector<std::pair<int, int>>{{1, 0}, {1, 1}, {1, 2}}));
    EXPECT_EQ(set.finished, std::vector<bool>{false});
    EXPECT_EQ(r.seq.GetState(), State::Completed);
    EXPECT_EQ(r.status, "Sequence completed, 1 bracket, 3 frames taken, 1 not saved on the PC");
    r.seq.SetFinishNote("shutter speed put back to 1/125");
    EXPECT_EQ(r.status, "Sequence completed, 1 bracket, 3 frames taken, 1 not saved on the PC - shutter speed put "
                        "back to 1/125");
    r.seq.SavedFile(SaveOutcome::Saved);  // a stray late notification
    EXPECT_EQ(set.finished.size(), 1u);
    EXPECT_EQ(r.fired, 3);
}

TEST(TimeLapseSets, APendingPreparationHoldsTheFrameAndTheLastFrameEndsTheSetEarly)
{
    Rig r;
    FakeSet set;
    set.noun = "stack";
    set.frames = 5;
    set.answers = {Step(FrameStep::Kind::Pending), Step(FrameStep::Kind::Pending)};
    r.seq.SetShotSet(&set);
    r.seq.Start(Rig::Frames(1, 0));
    EXPECT_EQ(r.fired, 0);
    EXPECT_EQ(r.status, "Preparing frame 1/5 of stack 1");
    r.Tick(5);
    EXPECT_EQ(r.fired, 0);
    r.seq.FrameReady(Step(FrameStep::Kind::Ready));
    EXPECT_EQ(r.fired, 1);
    r.seq.FrameReady(Step(FrameStep::Kind::Ready));  // nothing was being prepared
    EXPECT_EQ(r.fired, 1);
    r.seq.SavedFile(SaveOutcome::Saved);
    EXPECT_EQ(r.fired, 1);
    r.seq.FrameReady(Step(FrameStep::Kind::LastFrame));  // the lens met infinity
    EXPECT_EQ(r.fired, 2);
    r.Tick();
    EXPECT_EQ(r.status, "Taking frame 2/2 of stack 1");
    r.seq.SavedFile(SaveOutcome::Saved);
    EXPECT_EQ(set.finished.size(), 1u);
    EXPECT_EQ(r.status, "Sequence completed, 1 stack, 2 frames taken");
}

TEST(TimeLapseSets, ARefusedFrameEndsTheSetAndStopsWithTheReason)
{
    Rig r;
    FakeSet set;
    set.answers = {Step(FrameStep::Kind::Ready),
                   Step(FrameStep::Kind::Refused, "The camera did not take the shutter speed 1/4000 for frame 2/3")};
    r.seq.SetShotSet(&set);
    r.seq.Start(Rig::Frames(3, 60));
    r.seq.SavedFile(SaveOutcome::Saved);
    EXPECT_EQ(r.fired, 1);
    EXPECT_EQ(set.finished, std::vector<bool>{false});
    EXPECT_EQ(r.seq.GetState(), State::Stopped);
    EXPECT_EQ(r.status, "Sequence stopped: The camera did not take the shutter speed 1/4000 for frame 2/3, 1 bracket, "
                        "1 frame taken");
    EXPECT_TRUE(r.errors.empty());  // said in the status line, no box
    r.Tick(120);
    EXPECT_EQ(r.fired, 1);
}

TEST(TimeLapseSets, StopDuringAFrameEndsTheSetOnceThatFrameIsIn)
{
    Rig r;
    FakeSet set;
    r.seq.SetShotSet(&set);
    r.seq.Start(Rig::Frames(1, 0));
    r.seq.SavedFile(SaveOutcome::Saved);
    r.seq.Stop();
    EXPECT_EQ(r.status, "Sequence stopped, 1 bracket, 1 frame taken");
    EXPECT_TRUE(set.finished.empty());  // frame 2 is on its way with the set's value
    EXPECT_TRUE(r.seq.InSet());
    EXPECT_EQ(r.seq.Start(Rig::Frames(1, 0)), StartOutcome::Failed);
    r.seq.SavedFile(SaveOutcome::Saved);
    EXPECT_EQ(set.finished, std::vector<bool>{false});
    EXPECT_EQ(r.status, "Sequence stopped, 1 bracket, 2 frames taken");
    EXPECT_EQ(r.fired, 2);
    // Stopped between frames (a refused frame waiting): the set ends at once.
    r.errors.clear();
    ASSERT_EQ(r.seq.Start(Rig::Frames(1, 0)), StartOutcome::Started);
    r.seq.ReleaseError(135);
    r.seq.Stop();
    EXPECT_EQ(set.finished.size(), 2u);
    EXPECT_FALSE(r.seq.InSet());
}

TEST(TimeLapseSets, ReleaseErrorsRetryTheSameFrameWithoutPreparingItAgainOrStopTheSet)
{
    Rig r;
    FakeSet set;
    r.seq.SetShotSet(&set);
    r.seq.Start(Rig::Frames(1, 0));
    r.seq.ReleaseError(135);
    r.Tick(0);
    EXPECT_EQ(r.status, "Waiting to take frame 1/3 of bracket 1 - Release error 135, retrying");
    r.Tick();
    EXPECT_EQ(r.fired, 2);
    EXPECT_EQ(set.prepared.size(), 1u);
    // A shot the view refuses waits the same way.
    r.refusals.push_back(ShotStart{false, "A picture is still being taken"});
    r.seq.SavedFile(SaveOutcome::Saved);
    EXPECT_EQ(r.fired, 3);
    EXPECT_FALSE(r.seq.TakingPhoto());
    r.Tick();
    EXPECT_EQ(r.fired, 4);
    EXPECT_EQ(set.prepared.size(), 2u);
    // The autofocus question answered No: the set ends, the sequence stops.
    r.afAnswers = {false};
    r.seq.ReleaseError(1);
    EXPECT_EQ(r.questions, 1);
    EXPECT_EQ(set.finished, std::vector<bool>{false});
    EXPECT_EQ(r.status, "Sequence stopped, 1 bracket, 1 frame taken");
}

TEST(TimeLapseSets, TheCameraGoingAwayLostPicturesAndAClosedDialogEndTheSet)
{
    {
        Rig r;
        FakeSet set;
        r.seq.SetShotSet(&set);
        r.seq.Start(Rig::Frames(5, 10));
        r.seq.CameraShutdown();
        EXPECT_EQ(set.finished, std::vector<bool>{true});
        EXPECT_FALSE(r.seq.Running());
    }
    {
        Rig r;
        FakeSet set;
        r.seq.SetShotSet(&set);
        r.seq.Start(Rig::Frames(5, 10));
        r.seq.SavedFile(SaveOutcome::Lost);
        EXPECT_EQ(set.finished, std::vector<bool>{false});
        EXPECT_EQ(r.status, "Sequence stopped: Error saving image, 1 bracket, 0 frames taken");
    }
    {
        Rig r;
        FakeSet set;
        r.seq.SetShotSet(&set);
        r.seq.Start(Rig::Frames(5, 10));
        const std::string before = r.status;
        r.seq.Abandon();
        EXPECT_EQ(set.finished, std::vector<bool>{false});
        r.Tick();
        r.seq.SetFinishNote("focus put back");
        EXPECT_EQ(r.status, before);  // the dialog is going: nothing more is written
    }
}

TEST(TimeLapseSets, ASetAtEveryIntervalCountsTheIntervalFromTheSetsStart)
{
    Rig r;
    FakeSet set;
    r.seq.SetShotSet(&set);
    const Seconds t0 = r.now;
    r.seq.Start(Rig::Frames(3, 10));
    const auto seen = r.RunToEnd(2);
    EXPECT_EQ(r.status, "Sequence completed, 3 brackets, 9 frames taken");
    ASSERT_EQ(r.slots.size(), 9u);
    // Each set's first frame at its slot; the frames of a set back to back after it.
    EXPECT_EQ(r.slots[0], t0);
    EXPECT_EQ(r.slots[3], t0 + 10);
    EXPECT_EQ(r.slots[6], t0 + 20);
    for (int i : {1, 2, 4, 5, 7, 8})
        EXPECT_LT(r.slots[i] - r.slots[i - 1], 10) << i;
    EXPECT_TRUE(std::find(seen.begin(), seen.end(), "4 secs until next bracket, 2 brackets remaining") != seen.end());
    for (const std::string& line : seen)
        EXPECT_EQ(line.find("late"), std::string::npos) << line;
    EXPECT_EQ(set.prepared.back(), std::make_pair(3, 2));
}

TEST(TimeLapseSets, ASetThatOutlastsTheIntervalIsReportedLateAndTheNextFollowsAtOnce)
{
    Rig r;
    FakeSet set;
    r.seq.SetShotSet(&set);
    r.seq.Start(Rig::Frames(2, 4));
    const auto seen = r.RunToEnd(3);
    EXPECT_EQ(r.status, "Sequence completed, 2 brackets, 6 frames taken");
    const std::string late = "Taking frame 3/3 of bracket 1, 1 bracket remaining, running ";
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](const std::string& s) { return s.rfind(late, 0) == 0; }));
    ASSERT_EQ(r.slots.size(), 6u);
    EXPECT_GT(r.slots[3] - r.slots[0], 4);            // set 2 could not start at its slot
    EXPECT_LE(r.slots[3] - r.slots[2], 3);            // it followed set 1's last frame
}

}  // namespace
