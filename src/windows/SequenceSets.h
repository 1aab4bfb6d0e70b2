// SequenceSets: the two kinds of set that the sequence engine (timelapse::TimeLapseSequencer)
// shoots at a slot, on the main view's camera, reached through ViewSurface only.
//  - BracketSet steps the shutter speed (manual mode) or the exposure compensation (P, Tv,
//    Av) through the settings panel, one value per frame, each read back from the camera
//    before its frame; the Comment of each frame names the set, the frame and its offset;
//    afterwards the user's value is put back (at the next connection when the camera went
//    away), and the panel shows it.
//  - FocusStackSet moves the lens between frames with sequences::FocusLens on a worker
//    thread of its own (the focus drive blocks for as long as the body takes), and puts the
//    focus back afterwards where the body counts steps.
//
// Threads: UI thread, except FocusStackSet's worker, which makes only the lens's library
// calls and hands every result back by posting it to the UI thread. Blocking: BracketSet
// waits for the camera's answers as the settings panel does; FocusStackSet never waits on
// the UI thread except in its destructor, which cuts settle waits short and lets the queued
// moves (the focus put back) finish before it returns.
#pragma once

#include "sequences/ExposureBracket.h"
#include "sequences/FocusStack.h"
#include "timelapse/TimeLapseSequencer.h"

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ViewSurface;

// The value of an exposure setting as the user reads it: the list's label for a shutter
// speed ("1/125", "2\""), the offset for an exposure compensation ("+2/3 EV", "0 EV").
std::string ExposureValueText(sequences::ExposureSetting which, uint16_t code,
                              const std::vector<sequences::ListEntry>& list);

class BracketSet : public timelapse::ShotSet {
public:
    // `note` receives what became of the user's setting when a set ends.
    BracketSet(ViewSurface& view, sequences::BracketRequest request, std::function<void(std::string)> note);

    // Before the sequence starts: plans against the camera as it is now. Where the camera does
    // not say its mode, every value of the plan is written and read back first, and the
    // user's value put back. The reason the bracket cannot be taken, or empty.
    std::string Check();
    const sequences::BracketPlan& Plan() const { return plan_; }
    // The codes the camera reported back for the frames prepared since Check, in order.
    const std::vector<uint16_t>& ReadBack() const { return readBack_; }

    int Frames() const override { return request_.frames; }
    std::string Noun() const override { return "bracket"; }
    timelapse::FrameStep Prepare(int set, int frame) override;
    void Finish(bool cameraGone) override;

private:
    std::string ValueText(uint16_t code) const;

    ViewSurface& view_;
    sequences::BracketRequest request_;
    std::function<void(std::string)> note_;
    sequences::ExposureSituation situation_;
    sequences::BracketPlan plan_;
    bool active_ = false;   // a set has begun and not been finished
    bool changed_ = false;  // the set wrote a value other than the user's
    std::vector<uint16_t> readBack_;
};

class FocusStackSet : public timelapse::ShotSet {
public:
    // `ready` receives the end of each frame's preparation (for FrameReady), `note` what
    // became of the focus when a set ends; both on the UI thread.
    FocusStackSet(ViewSurface& view, sequences::FocusStackRequest request, int settleMs,
                  std::function<void(timelapse::FrameStep)> ready, std::function<void(std::string)> note);
    ~FocusStackSet() override;
    FocusStackSet(const FocusStackSet&) = delete;
    FocusStackSet& operator=(const FocusStackSet&) = delete;

    // Before the sequence starts: the request's ranges and the body's focus drive. The
    // reason the stack cannot be taken, or empty.
    std::string Check();

    int Frames() const override { return request_.frames; }
    std::string Noun() const override { return "stack"; }
    timelapse::FrameStep Prepare(int set, int frame) override;
    void Finish(bool cameraGone) override;

private:
    void Post(std::function<void()> job);         // runs on the worker, in order
    void Deliver(std::function<void()> onUi);      // from the worker to the UI thread
    void Prepared(const sequences::FocusLens::Result& r, int set, int frame);
    void Work();

    ViewSurface& view_;
    sequences::FocusStackRequest request_;
    int settleMs_;
    std::function<void(timelapse::FrameStep)> ready_;
    std::function<void(std::string)> note_;
    std::shared_ptr<sequences::FocusLens> lens_;      // the set under way's lens
    std::shared_ptr<sequences::FocusLens> lastLens_;  // cut short when the set goes away
    QObject context_;  // results posted to the UI thread die with it
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;  // guarded by mutex_
    bool stopping_ = false;                   // guarded by mutex_
    std::thread worker_;
};
