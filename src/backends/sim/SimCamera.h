// SimulatedCamera: a complete camera library with simulated Canon EOS bodies behind it.
// It is the program's default backend, so the whole program runs and is tested without
// hardware. It behaves like the real bodies where the program can tell: model names and
// sizes, settings with value checks, custom functions, a lens with aperture limits, an LCD
// that stops the controls from being locked, release events and item downloads through the
// stream callbacks at a configurable link speed, camera events (body shutter button, mode
// dial, card door, battery, cable), live view with a lens that focuses (SimLiveView:
// frames at the body's frame rate, focus drive (optionally only while live view runs, as on
// EOS bodies), autofocus, the body's magnification) and
// injectable faults. Saved pictures carry the lens's focus position as Exif SubjectDistance.
//
// It keeps the library contract of camera/CameraLibrary.h. The release data kind of a
// shot is the one selected when CDRelease is called. Two release timings, as real
// libraries differ: Async (CDRelease returns at once and events 28/29 follow while the
// exposure runs on the event thread) and Blocking (CDRelease waits through the exposure
// and returns after events 28/29 have been delivered, the way a libgphoto2 capture
// behaves). A press of the body's shutter button without release control saves to the
// card only: no events, no items.
//
// Threads: every call is thread-safe. Release and camera events are delivered on the
// simulator's own event thread, one at a time, never while an internal lock is held.
// CDGetReleasedData blocks while the item streams at the link speed; it and a blocking
// CDRelease return promptly with an error when the source is closed or the cable is
// pulled. Once CDExitReleaseControl or CDCloseSource has returned, no callback
// registered on that source runs any more. CDGetLiveViewFrame waits for the next frame
// (at most one frame time) and renders a frame not made before (about 15 ms);
// CDStartAutoFocus takes autofocusMs. Closing the source ends both promptly.
#pragma once

#include "backends/sim/SimFaults.h"
#include "backends/sim/SimLiveView.h"
#include "camera/CameraLibrary.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class ImageItemStore;

namespace sim {

// The model names the simulator can report.
extern const char* const kSimModels[];
extern const int kSimModelCount;

// The processing-parameter sets the body's menu offers, as (setting value, menu name), in
// the menu's order; none for the EOS D30 and D60. Set 4, "Adobe RGB", exists on the
// bodies that have it (EOS 10D, EOS-1D, EOS-1Ds; not the EOS 300D).
std::vector<std::pair<uint16_t, std::string>> ParameterSetsOf(const std::string& model);
// True when pictures of `model` with this parameter set are recorded in Adobe RGB: their
// values are Adobe RGB and their Exif says so (ColorSpace 0xFFFF, interoperability index
// "R03"), as the real bodies write them. Every other picture is sRGB (ColorSpace 1).
bool RecordsAdobeRgb(const std::string& model, uint16_t parameterSet);

enum class ReleaseTiming {
    Async,     // CDRelease returns at once; the events follow
    Blocking,  // CDRelease returns after the exposure and events 28/29
};

// Link speed of the bodies simulated: full-speed USB 1.1 (12 Mbit/s) moves about
// 0.8 to 1 MB of picture data per second in practice.
constexpr double kUsb11BytesPerSecond = 0.9e6;

struct SimConfig {
    int cameraCount = 1;                      // cameras attached: 0, 1 or 2
    std::string model = "Canon EOS 10D";      // name reported for every attached camera
    uint16_t lowestSdkMajor = 5;              // CDStartSDK refuses lower major versions
    double linkBytesPerSecond = 0;            // 0 = unlimited; kUsb11BytesPerSecond is a real body
    uint32_t seed = 1;                        // everything random derives from it
    int exposureMs = 30;                      // time between release start and complete
    int pictureWidth = 0, pictureHeight = 0;  // 0 = the model's own size for the size setting
    size_t rawFillerBytes = 256 * 1024;       // bulk of a CRW picture besides its preview
    bool tiffRaw = false;                     // RAW comes as TIFF plus a JPEG (EOS-1D style)
    bool lcdOn = false;
    ReleaseTiming releaseTiming = ReleaseTiming::Async;
    std::vector<ArmedFault> armedFaults;      // faults that strike given shots (SimFaults.h)
    // Live view (SimLiveView): frames of a moving scene whose sharpness follows the lens.
    bool liveView = true;             // the body has live view, focus drive and autofocus
    bool liveViewCameraZoom = true;   // it magnifies its own frames (5x, 10x)
    double liveViewFps = 30;          // frames per second; 0: a new frame at every call
    int liveViewWidth = kLiveViewWidth;  // size of the frames
    int liveViewHeight = kLiveViewHeight;
    bool liveViewMoving = true;       // false: the scene stands still (one frame, made once)
    int autofocusMs = 150;            // how long an autofocus takes
    bool focusNeedsLiveView = false;  // focus drives only while live view runs (as on EOS bodies)
};

// Everything a test or the simulator panel may want to read about the camera's state.
struct SimState {
    bool sdkStarted = false;
    int openSources = 0;
    bool releaseControl = false;
    bool uiLocked = false;
    int lockCalls = 0, unlockCalls = 0;
    uint16_t releaseKind = 0;
    int releases = 0;
    int itemsQueued = 0;
    bool cardPresent = true;
    bool connected = true;
    uint32_t itemsAnnounced = 0;                  // sum of the counts of release-complete events
    std::vector<uint32_t> deliveredSequences;     // sequence id of every item delivered whole, in order
    bool liveView = false;                        // live view runs
    int liveViewFrames = 0;                       // frames delivered
    int focusPosition = 0;                        // 0 (nearest) .. kFocusTravel (infinity)
    int sharpestFocus = 0;                        // where the scene is sharp
    int zoom = 1;                                 // the body's magnification
    int autofocusRuns = 0;
    int focusSteps = 0;                           // focus drive calls that reached the lens
};

class SimulatedCamera : public cdsdk::CameraLibrary {
public:
    explicit SimulatedCamera(SimConfig config = {});
    ~SimulatedCamera() override;

    // --- The camera body, as the simulator panel and the tests work it ---
    void PressShutterButton();                 // same events as a release from the PC
    void TurnModeDial(uint16_t shootingMode);  // settings changed (event 27)
    void SetLcdOn(bool on);
    void OpenCardDoor();                       // camera shuts down: cause 3
    void PullBattery();                        // camera shuts down: cause 4
    void Unplug();                             // connection lost; later calls fail
    void SendShutdown(uint32_t cause);         // any shutdown cause, also unknown ones
    void SendCameraEvent(uint32_t code);       // raw camera event code (tests)
    void SendReleaseEvent(uint32_t event, std::vector<uint8_t> data);  // raw release event (tests)
    void SetOrientationSensor(int exifOrientation);  // 1, 3, 6 or 8
    void SetCustomFunction(int number, uint16_t value);
    void SetLens(uint16_t divisor, uint16_t focalCurrent, uint16_t focalShort, uint16_t focalLong,
                 uint16_t avOpen, uint16_t avMax);
    void SetCardPresent(bool present);
    // The lens's AF/MF switch: manual focus reads as AF mode 3, which the PC cannot change.
    void SetManualFocus(bool manual);
    // The parameter set (setting 11) as stored, any value, without an event (tests).
    void SetParameterSet(uint16_t set);
    // The body's menu: chooses a parameter set and reports the change (event 27), as
    // turning the mode dial does.
    void SelectParameterSet(uint16_t set);

    // Puts the lens at a focus position (clamped to 0 .. kFocusTravel).
    void SetFocusPosition(int position);
    // The body ends live view by itself (mode dial, battery): frame calls answer
    // cdLIVE_VIEW_ENDED until live view is started again.
    void EndLiveViewFromBody();

    // --- Faults ---
    // The next release reports hardware error 1, no picture; or the next autofocus in live
    // view fails (cdAF_FAILED), whichever comes first.
    void FailNextAutofocus();
    // While set, no new live-view frame comes: frame calls answer cdLIVE_VIEW_NO_FRAME
    // after one frame time.
    void StopLiveViewFrames(bool stopped);
    void UnplugDuringNextDownload();   // the cable comes out halfway through the next item
    void StopNextDownloadHalfway();    // the next CDGetReleasedData gives up after half the item
    // Values of CDMakeImageItem's third argument that the library refuses.
    void SetImageItemRefusal(std::function<bool(uint32_t value)> refuse);
    // Calls to a library function by name (e.g. "CDGetShootingMode") fail with cdERROR
    // while set; the call is still counted.
    void SetCallFault(const std::string& name, bool fail);
    // Reads of one generic setting fail with cdERROR while set.
    void SetSettingReadFault(uint32_t setting, bool fail);
    // Calls to a library function, by name, so far (e.g. "CDLockUI").
    int CallCount(const std::string& name) const;

    SimState State() const;
    const SimConfig& Config() const { return config_; }
    // Current value of a setting (as CDGetRelCamSettingData would give it), for tests.
    uint32_t Setting(uint32_t id) const;

    // --- CameraLibrary ---
    cdsdk::cdError CDStartSDK(const cdsdk::cdVersionInfo* version, uint32_t option) override;
    cdsdk::cdError CDFinishSDK() override;
    cdsdk::cdError CDEnumDeviceReset(uint32_t kind, cdsdk::cdHEnum* enumOut) override;
    cdsdk::cdError CDEnumDeviceNext(cdsdk::cdHEnum hEnum, cdsdk::cdSourceInfo* info) override;
    cdsdk::cdError CDEnumDeviceRelease(cdsdk::cdHEnum hEnum) override;
    cdsdk::cdError CDOpenSource(const cdsdk::cdSourceInfo* info, cdsdk::cdHSource* sourceOut) override;
    cdsdk::cdError CDCloseSource(cdsdk::cdHSource source) override;
    cdsdk::cdError CDRegisterEventCallbackFunction(cdsdk::cdHSource source, cdsdk::cdEventCallbackFunction fn,
                                                   cdsdk::cdContext ctx, cdsdk::cdHandle* cookieOut) override;
    cdsdk::cdError CDEnterReleaseControl(cdsdk::cdHSource source, cdsdk::cdReleaseEventCallbackFunction fn,
                                         cdsdk::cdContext ctx) override;
    cdsdk::cdError CDExitReleaseControl(cdsdk::cdHSource source) override;
    cdsdk::cdError CDSelectReleaseDataKind(cdsdk::cdHSource source, uint16_t kind) override;
    cdsdk::cdError CDRelease(cdsdk::cdHSource source, uint32_t sync, cdsdk::cdProgressCallbackFunction fn,
                             cdsdk::cdContext ctx, uint32_t progressOption, uint32_t* countOut) override;
    cdsdk::cdError CDGetReleasedData(cdsdk::cdHSource source, cdsdk::cdProgressCallbackFunction fn,
                                     cdsdk::cdContext ctx, uint32_t progressOption, cdsdk::cdReleaseImageInfo* info,
                                     cdsdk::cdStgMedium* medium) override;
    cdsdk::cdError CDLockUI(cdsdk::cdHSource source) override;
    cdsdk::cdError CDUnlockUI(cdsdk::cdHSource source) override;
    cdsdk::cdError CDEnumCustomFunctionSettingReset(cdsdk::cdHSource source, uint32_t option,
                                                    cdsdk::cdHEnum* enumOut) override;
    cdsdk::cdError CDEnumCustomFunctionSettingNext(cdsdk::cdHEnum hEnum, uint32_t* sizeOut, uint16_t* functionOut,
                                                   uint16_t* settingOut) override;
    cdsdk::cdError CDEnumCustomFunctionSettingRelease(cdsdk::cdHEnum hEnum) override;
    cdsdk::cdError CDGetRelCamSettingData(cdsdk::cdHSource source, uint32_t setting, uint32_t* size,
                                          void* buffer) override;
    cdsdk::cdError CDSetRelCamSettingData(cdsdk::cdHSource source, uint32_t setting, uint32_t size,
                                          const void* buffer) override;
    cdsdk::cdError CDGetTvValue(cdsdk::cdHSource source, uint16_t* value) override;
    cdsdk::cdError CDSetTvValue(cdsdk::cdHSource source, uint16_t value) override;
    cdsdk::cdError CDGetAvValue(cdsdk::cdHSource source, uint16_t* value) override;
    cdsdk::cdError CDSetAvValue(cdsdk::cdHSource source, uint16_t value) override;
    cdsdk::cdError CDGetExposureComp(cdsdk::cdHSource source, uint16_t* value) override;
    cdsdk::cdError CDSetExposureComp(cdsdk::cdHSource source, uint16_t value) override;
    cdsdk::cdError CDGetFlashSetting(cdsdk::cdHSource source, uint16_t* mode, uint16_t* compensation) override;
    cdsdk::cdError CDGetImageFormatAttribute(cdsdk::cdHSource source, uint16_t* quality, uint16_t* size) override;
    cdsdk::cdError CDSetImageFormatAttribute(cdsdk::cdHSource source, uint16_t quality, uint16_t size) override;
    cdsdk::cdError CDGetWBSetting(cdsdk::cdHSource source, uint16_t* value) override;
    cdsdk::cdError CDSetWBSetting(cdsdk::cdHSource source, uint16_t value) override;
    cdsdk::cdError CDGetDriveMode(cdsdk::cdHSource source, uint16_t* value) override;
    cdsdk::cdError CDSetDriveMode(cdsdk::cdHSource source, uint16_t value) override;
    cdsdk::cdError CDGetShootingMode(cdsdk::cdHSource source, uint16_t* value) override;
    cdsdk::cdError CDGetTransferPause(cdsdk::cdHSource source, uint32_t* milliseconds) override;
    cdsdk::cdError CDReleasedItemSaved(cdsdk::cdHSource source) override;
    cdsdk::cdError CDGetProblemReport(cdsdk::cdHSource source, char* buffer, uint32_t* size) override;
    cdsdk::cdError CDGetOfferedSettings(cdsdk::cdHSource source, uint32_t* present, uint32_t* settable) override;
    cdsdk::cdError CDGetSettingChoices(cdsdk::cdHSource source, uint32_t setting, cdsdk::cdSettingChoice* choices,
                                       uint32_t* count) override;
    cdsdk::cdError CDGetLiveViewCapabilities(cdsdk::cdHSource source, uint32_t* capabilities) override;
    cdsdk::cdError CDStartLiveView(cdsdk::cdHSource source) override;
    cdsdk::cdError CDEndLiveView(cdsdk::cdHSource source) override;
    cdsdk::cdError CDGetLiveViewFrame(cdsdk::cdHSource source, cdsdk::cdStgMedium* medium) override;
    cdsdk::cdError CDDriveFocus(cdsdk::cdHSource source, int32_t step) override;
    cdsdk::cdError CDSetLiveViewZoom(cdsdk::cdHSource source, uint32_t magnification, int32_t x, int32_t y) override;
    cdsdk::cdError CDStartAutoFocus(cdsdk::cdHSource source) override;
    cdsdk::cdError CDMakeImageItem(uint32_t option, const char* path, uint32_t value,
                                   cdsdk::cdHItem* itemOut) override;
    cdsdk::cdError CDOpenImage(cdsdk::cdHItem item) override;
    cdsdk::cdError CDEnumImageItemPropertyReset(cdsdk::cdHItem item, cdsdk::cdHEnum* enumOut) override;
    cdsdk::cdError CDEnumImageItemPropertyRelease(cdsdk::cdHEnum hEnum) override;
    cdsdk::cdError CDSetImageItemProperty(cdsdk::cdHItem item, uint32_t property, uint32_t* size,
                                          const void* value) override;
    cdsdk::cdError CDFlashImageItemProperty(cdsdk::cdHItem item) override;
    cdsdk::cdError CDCloseImage(cdsdk::cdHItem item) override;
    cdsdk::cdError CDFreeImageItem(cdsdk::cdHItem item) override;

private:
    struct Item {
        cdsdk::cdReleaseImageInfo info{};
        std::vector<uint8_t> bytes;
    };
    struct Camera;  // the body's settings

    // The event thread runs these jobs one after the other.
    void Post(std::function<void()> job);
    void EventLoop();
    // On the event thread. A release from the PC passes the kind selected at CDRelease;
    // the body's button (fromBody) shoots with the kind selected at that moment.
    void Shoot(bool fromBody, uint16_t releaseKind);
    void DeliverReleaseEvent(uint32_t event, const std::vector<uint8_t>& data);
    void DeliverCameraEvent(uint32_t code);
    std::vector<Item> MakeItems(uint16_t kind, uint32_t sequence);
    void Count(const char* name) const;
    bool SourceValid(cdsdk::cdHSource source) const;  // mutex_ held
    bool BodyBusy() const;                             // mutex_ held: a release or a download runs
    uint32_t LiveViewCapabilities() const;
    cdsdk::cdError Check(cdsdk::cdHSource source, const char* name);  // counts the call; checks source

    SimConfig config_;
    std::unique_ptr<Camera> cam_;
    mutable std::mutex mutex_;              // guards all state below
    std::condition_variable wake_;          // event queue, download throttling, closing
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::mutex dispatchMutex_;              // held while a callback runs
    mutable std::map<std::string, int> calls_;
    SimState state_;
    cdsdk::cdHSource openSource_ = 0;
    uint32_t nextHandle_ = 0x100;
    cdsdk::cdEventCallbackFunction eventFn_ = nullptr;
    cdsdk::cdContext eventCtx_ = nullptr;
    cdsdk::cdReleaseEventCallbackFunction releaseFn_ = nullptr;
    cdsdk::cdContext releaseCtx_ = nullptr;
    std::map<cdsdk::cdHEnum, int> deviceEnums_;
    std::map<cdsdk::cdHEnum, size_t> cfEnums_;
    std::deque<Item> items_;                // released, not yet downloaded
    uint32_t sequence_ = 0;
    bool failNextAf_ = false;
    bool unplugNextDownload_ = false;
    bool stopNextDownload_ = false;
    std::function<bool(uint32_t)> itemRefusal_;
    std::set<std::string> callFaults_;
    std::set<uint32_t> settingReadFaults_;
    std::unique_ptr<ImageItemStore> itemStore_;
    // Live view, guarded by mutex_.
    int shotsInFlight_ = 0;               // releases between CDRelease and their items
    int downloadsInFlight_ = 0;
    bool liveViewOn_ = false;
    bool framesStopped_ = false;
    std::chrono::steady_clock::time_point liveViewStart_;
    int64_t lastFrameIndex_ = -1;
    int focus_ = 0;
    int zoom_ = 1, zoomX_ = 0, zoomY_ = 0;
    std::mutex framesMutex_;              // guards frames_ (rendering runs outside mutex_)
    std::unique_ptr<LiveViewFrames> frames_;
    std::thread eventThread_;
};

}  // namespace sim
