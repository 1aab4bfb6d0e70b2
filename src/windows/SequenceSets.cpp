#include "windows/SequenceSets.h"

#include "windows/ViewSurface.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdio>

using sequences::ExposureSetting;
using timelapse::FrameStep;

namespace {

FrameStep Refused(std::string why)
{
    FrameStep step;
    step.kind = FrameStep::Kind::Refused;
    step.reason = std::move(why);
    return step;
}

const char* SettingName(ExposureSetting which)
{
    return which == ExposureSetting::ShutterSpeed ? "shutter speed" : "exposure compensation";
}

}  // namespace

std::string ExposureValueText(ExposureSetting which, uint16_t code, const std::vector<sequences::ListEntry>& list)
{
    if (which == ExposureSetting::Compensation) {
        const auto sixths = sequences::CodeSixths(code);
        const auto none = sequences::CodeSixths(0x18);
        if (sixths && none)
            return sequences::EvText(*none - *sixths);
    } else {
        const auto entry = std::find_if(list.begin(), list.end(), [code](const auto& e) { return e.code == code; });
        if (entry != list.end())
            return entry->label;
    }
    char text[24];
    std::snprintf(text, sizeof text, "code 0x%02x", code);
    return text;
}

// ---------------------------------------------------------------- exposure bracket

BracketSet::BracketSet(ViewSurface& view, sequences::BracketRequest request, std::function<void(std::string)> note)
    : view_(view), request_(request), note_(std::move(note))
{
}

std::string BracketSet::ValueText(uint16_t code) const
{
    return ExposureValueText(plan_.setting, code,
                             plan_.setting == ExposureSetting::ShutterSpeed ? situation_.tvList
                                                                            : situation_.compensationList);
}

std::string BracketSet::Check()
{
    readBack_.clear();
    situation_ = view_.ReadExposure();
    plan_ = sequences::PlanBracket(situation_, request_);
    if (!plan_.Ok())
        return plan_.refusal;
    if (!plan_.modeUnknown)
        return {};
    // The lists may name values this body lacks: each one is tried before any frame.
    std::string why;
    bool wrote = false;
    std::vector<uint16_t> tried;
    for (const sequences::BracketFrame& f : plan_.frames) {
        if (f.code == plan_.userCode || std::find(tried.begin(), tried.end(), f.code) != tried.end())
            continue;
        tried.push_back(f.code);
        wrote = true;
        const auto back = view_.WriteExposure(plan_.setting, f.code);
        if (!back || *back != f.code) {
            why = std::string("The camera does not take the ") + SettingName(plan_.setting) + " " + ValueText(f.code) +
                  " that the bracket needs" + (back ? " (it keeps " + ValueText(*back) + ")" : "") +
                  ". Choose another step or fewer frames.";
            break;
        }
    }
    if (wrote)
        view_.WriteExposure(plan_.setting, plan_.userCode);
    return why;
}

FrameStep BracketSet::Prepare(int set, int frame)
{
    if (frame == 0) {
        // Each set starts from what the camera holds now: the user may have changed the
        // exposure between the sets of a time lapse.
        situation_ = view_.ReadExposure();
        plan_ = sequences::PlanBracket(situation_, request_);
        if (!plan_.Ok())
            return Refused(plan_.refusal);
        active_ = true;
        changed_ = false;
    }
    if (!active_ || frame < 0 || frame >= static_cast<int>(plan_.frames.size()))
        return Refused("The bracket has no such frame");
    const sequences::BracketFrame& f = plan_.frames[static_cast<size_t>(frame)];
    std::optional<uint16_t> back;
    if (f.code == plan_.userCode && !changed_) {
        back = f.code;  // the metered frame: the camera holds its value already
    } else {
        changed_ = true;
        back = view_.WriteExposure(plan_.setting, f.code);
    }
    if (!back || *back != f.code)
        return Refused(std::string("The camera did not take the ") + SettingName(plan_.setting) + " " +
                       ValueText(f.code) + " for frame " + std::to_string(frame + 1) + "/" +
                       std::to_string(plan_.frames.size()) + (back ? " (it holds " + ValueText(*back) + ")" : ""));
    readBack_.push_back(*back);
    view_.SetSequenceComment(
        sequences::BracketComment(set, frame + 1, static_cast<int>(plan_.frames.size()), f.offsetSixths));
    return {};
}

void BracketSet::Finish(bool cameraGone)
{
    view_.SetSequenceComment({});
    if (!active_)
        return;
    active_ = false;
    if (!changed_)
        return;
    const std::string what = SettingName(plan_.setting);
    const std::string value = ValueText(plan_.userCode);
    if (!cameraGone && view_.Source()) {
        const auto back = view_.WriteExposure(plan_.setting, plan_.userCode);
        if (back == plan_.userCode)
            note_(what + " put back to " + value);
        else
            note_(what + " could not be put back to " + value + ": the camera holds " +
                  (back ? ValueText(*back) : std::string("a value it does not say")) + "; please check it");
        return;
    }
    view_.PutBackAtNextConnection(plan_.setting, plan_.userCode);
    note_(what + " to be put back to " + value + " when the camera connects again");
}

// ---------------------------------------------------------------- focus stack

FocusStackSet::FocusStackSet(ViewSurface& view, sequences::FocusStackRequest request, int settleMs,
                             std::function<void(FrameStep)> ready, std::function<void(std::string)> note)
    : view_(view),
      request_(request),
      settleMs_(std::max(settleMs, 0)),
      ready_(std::move(ready)),
      note_(std::move(note)),
      worker_([this] { Work(); })
{
}

FocusStackSet::~FocusStackSet()
{
    if (lastLens_)
        lastLens_->Cancel();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void FocusStackSet::Work()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;  // stopping, and every queued move has run
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

void FocusStackSet::Post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_all();
}

void FocusStackSet::Deliver(std::function<void()> onUi)
{
    QMetaObject::invokeMethod(&context_, std::move(onUi), Qt::QueuedConnection);
}

std::string FocusStackSet::Check()
{
    const cdsdk::cdHSource source = view_.Source();
    if (!source)
        return "The camera is not connected.";
    uint32_t caps = 0;
    if (view_.Library().CDGetLiveViewCapabilities(source, &caps) != cdsdk::cdOK)
        caps = 0;
    return sequences::FocusStackRefusal(request_, caps);
}

FrameStep FocusStackSet::Prepare(int set, int frame)
{
    if (frame == 0) {
        const cdsdk::cdHSource source = view_.Source();
        if (!source)
            return Refused("The camera is not connected");
        uint32_t caps = 0;
        if (view_.Library().CDGetLiveViewCapabilities(source, &caps) != cdsdk::cdOK)
            caps = 0;
        if (std::string why = sequences::FocusStackRefusal(request_, caps); !why.empty())
            return Refused(why);
        lens_ = std::make_shared<sequences::FocusLens>(view_.Library(), source, caps, settleMs_);
        lastLens_ = lens_;
        Post([this, lens = lens_, start = request_.start, set] {
            const auto r = lens->Begin(start);
            Deliver([this, r, set] { Prepared(r, set, 0); });
        });
    } else {
        if (!lens_)
            return Refused("The stack has no lens to move");
        Post([this, lens = lens_, size = request_.stepSize, count = request_.stepsPerFrame, set, frame] {
            const auto r = lens->Advance(size, count);
            Deliver([this, r, set, frame] { Prepared(r, set, frame); });
        });
    }
    FrameStep pending;
    pending.kind = FrameStep::Kind::Pending;
    return pending;
}

void FocusStackSet::Prepared(const sequences::FocusLens::Result& r, int set, int frame)
{
    using Outcome = sequences::FocusLens::Outcome;
    FrameStep step;
    if (r.outcome == Outcome::Failed) {
        step = Refused(r.reason);
    } else {
        if (r.outcome == Outcome::AtInfinity)
            step.kind = FrameStep::Kind::LastFrame;
        view_.SetSequenceComment(sequences::FocusStackComment(set, frame + 1, request_.frames));
    }
    ready_(step);
}

void FocusStackSet::Finish(bool)
{
    view_.SetSequenceComment({});
    if (!lens_)
        return;
    Post([this, lens = std::move(lens_)] {
        const std::string text = lens->End();
        Deliver([this, text] { note_(text); });
    });
    lens_.reset();
}
