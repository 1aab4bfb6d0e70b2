// Gphoto2LiveView: live view and focus on libgphoto2 for one open camera: the body's
// viewfinder output on and off ("viewfinder"), frames from gp_camera_capture_preview, focus
// drive as the driver offers it ("manualfocusdrive": a choice list on EOS bodies, a range
// of lens units on Nikon), autofocus ("autofocusdrive") and the EOS bodies' own
// magnification ("eoszoom", "eoszoomposition").
//
// Every libgphoto2 call runs on the session's camera worker (LiveViewHost): frames as the
// worker's frame job, which it takes only when no release, download or settings job waits,
// one at a time; the rest as ordinary jobs. Frames are copied out on the worker and written
// through the caller's stream on the caller's thread, as the library contract wants.
//
// What the body can do is probed once when the source opens (Probe), from a preview capture
// tried then and the configuration the driver offers: live view needs a preview capture that
// gives a JPEG and the viewfinder switch; without them the body is offered no live view.
//
// Threads: Probe and everything named "worker" on the session's worker; the other calls on
// any thread (they post to the worker and wait). Blocking: as the contract of
// camera/CameraLibrary.h says; a frame blocks for one capture_preview of the body.
#pragma once

#include "camera/CameraLibrary.h"

#include <gphoto2/gphoto2.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace gphoto2 {

// What the live view asks of the session it belongs to.
class LiveViewHost {
public:
    // Any thread: runs work on the camera's worker and waits for its result
    // (cdCOMM_ERROR when the source closes first).
    virtual cdsdk::cdError RunOnWorker(std::function<cdsdk::cdError()> work) = 0;
    // Any thread: the same for a frame. The worker takes it only when no other job waits;
    // a frame already waiting makes this one answer cdDEVICE_BUSY.
    virtual cdsdk::cdError RunFrameOnWorker(std::function<cdsdk::cdError()> work) = 0;
    // Any thread: a picture is on its way (items announced and not yet downloaded, or a
    // download running). A capture still queued is seen by the frame job on the worker
    // (ShotGathering), which runs after it.
    virtual bool PictureQueued() = 0;
    // Worker only.
    virtual Camera* GpCamera() = 0;
    virtual GPContext* GpContext() = 0;
    virtual bool ShotGathering() = 0;            // a capture's files are still being gathered
    virtual std::string TakeDriverText() = 0;    // the driver's last error text, then cleared
    virtual void Report(const std::string& message) = 0;
    virtual void CameraGone(int gpResult, const std::string& driverText) = 0;

protected:
    ~LiveViewHost() = default;
};

// The configuration the probe looks at: whether each widget exists and its type.
struct LiveViewWidgets {
    bool previewCapture = false;                       // GP_OPERATION_CAPTURE_PREVIEW
    bool viewfinder = false;
    std::optional<CameraWidgetType> manualFocusDrive;
    bool autofocusDrive = false;
    bool eosZoom = false;
    bool eosZoomPosition = false;
};

// Capability bits (cdLV_CAP_*) for what the body offers: all 0 without live view.
uint32_t LiveViewCapabilitiesFor(const LiveViewWidgets& w);

// The EOS choice for a focus step ("Near 1" .. "Near 3", "Far 1" .. "Far 3"), matched in
// `choices` without regard to case; none when the list has no such choice.
std::optional<std::string> FocusDriveChoice(const std::vector<std::string>& choices, int step);
// Lens units of a focus step on a driver with a range (Nikon): 20, 100, 500 for the sizes
// 1, 2, 3, signed like the step.
float FocusDriveAmount(int step);

// What the library answers for a failed libgphoto2 call of the live view.
enum class LiveViewCall { Start, Frame, Focus, Autofocus, Zoom };
cdsdk::cdError LiveViewFailure(LiveViewCall call, int gpResult, const std::string& driverText);

class LiveView {
public:
    // Worker: reads what the body offers. Called once, when the source opens, after a
    // preview capture was tried (`previewWorks`: it gave a JPEG).
    void Probe(LiveViewHost& host, bool previewWorks);
    uint32_t Capabilities() const { return capabilities_.load(); }

    cdsdk::cdError Start(LiveViewHost& host);
    cdsdk::cdError End(LiveViewHost& host);
    cdsdk::cdError Frame(LiveViewHost& host, cdsdk::cdStgMedium* medium);
    cdsdk::cdError DriveFocus(LiveViewHost& host, int32_t step);
    cdsdk::cdError SetZoom(LiveViewHost& host, uint32_t magnification, int32_t x, int32_t y);
    cdsdk::cdError AutoFocus(LiveViewHost& host);

private:
    // Worker: writes one configuration value (a choice or text, or a number for ranges and
    // toggles); libgphoto2's result.
    static int Write(LiveViewHost& host, const char* name, const std::string& text, float number);

    std::atomic<uint32_t> capabilities_{0};
    std::optional<CameraWidgetType> focusWidget_;  // worker only after the probe
    std::vector<std::string> focusChoices_;
    bool running_ = false;                          // worker only
};

}  // namespace gphoto2
