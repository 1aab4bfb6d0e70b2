// Gphoto2Camera: the camera library on libgphoto2, for real cameras on the USB cable.
// Everything above the camera library boundary works unchanged on it.
//
// One thread owns each camera: opening a source starts a worker thread that makes every
// libgphoto2 call for that camera (opening, settings writes, captures, downloads, deletions,
// closing) and, between jobs, looks for the camera's events. How it looks depends on how
// the driver hears the body: where the body signals on the USB interrupt pipe the worker
// waits in libgphoto2 for as long as a shot may still bring something; where the driver
// has to ask the body (Canon EOS, Nikon, Sony, Fujifilm) it asks about every 30 ms during a
// shot and every 200 ms while idle, and waits out the rest itself, so a queued call is taken
// at once. libgphoto2 runs in the C locale on the worker: it answers in English whatever
// the desktop's language, and the mapping reads its texts. Loading libgphoto2's drivers and
// detecting cameras are serialised by one process-wide lock, since libgphoto2 is not safe
// there.
//
// Shots: CDRelease triggers a capture; each file the camera then reports (also those of the
// body's own shutter button) is downloaded at once into memory, and the shot is announced
// (release event 28, then 29 with the number of items for the PC) as soon as all its files
// are in: as many as the body's image format at the trigger gives (RAW + JPEG: 2), or, where
// the format cannot be read, once the camera has reported the capture done and no file has
// followed for a moment. A JPEG that comes after its RAW's shot was announced (same name)
// is announced as that shot's JPEG. CDGetReleasedData then streams from memory, also after
// the cable came out. A capture the camera refuses becomes release event 10 with a hardware
// error code (1 for a failed autofocus, 135 for a full or locked card) after a busy body was
// given a few short retries; a capture that brings no file within 40 s (longer for long
// exposures: twice the exposure plus 40 s) fails the same way. The reason and what to do go
// to the problem report (CDGetProblemReport) and to `report`.
//
// Settings are answered from a cache filled when the source opens and kept current by the
// camera's property-changed events: a named one updates the value at once and re-reads that
// setting's choices when the worker is idle; an unnamed one re-reads the settings the panel
// shows, never during a shot. Where pictures go: "picture to PC only" captures go to the
// camera's internal RAM where the body has a capture target, the camera modes to its card
// (and RAM too where the body offers both, so the PC still gets the file); a target the body
// refuses fails the kind's selection. libgphoto2 keeps its capture target and a Nikon
// body's autofocus switch as settings of its own (process-wide and saved): the backend
// turns autofocus on for Nikon bodies, and both are put back as the user had them when the
// camera is closed. Once the program says a released item is safely on disk
// (CDReleasedItemSaved), a PC-only picture is deleted on the camera, so that its memory never
// fills up; nothing is deleted in the modes that keep a copy on the card.
//
// Threads: any thread may call. Event and release-event callbacks run on the worker
// thread, never while a lock of this object is held; once CDExitReleaseControl or
// CDCloseSource has returned, no callback of that source runs any more. Progress and
// stream callbacks run on the thread that called CDGetReleasedData.
// Blocking: CDOpenSource blocks while the camera opens (and up to reopenWaitMs while this
// program's previous connection to the same port is still letting go); settings writes
// and a kind selection that changes the capture target block until the camera has
// answered; CDGetReleasedData only copies from memory; CDRelease only queues the capture.
// Settings reads never block on the camera. CDCloseSource cancels what is running and
// returns within closeWaitMs even if the camera does not answer (the worker then finishes
// on its own, and a reopen of that port waits for it).
#pragma once

#include "camera/CameraLibrary.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ImageItemStore;

namespace gphoto2 {

struct ReportSink;

struct DetectedCamera {
    std::string model;  // as libgphoto2 names it, e.g. "Canon EOS 10D"
    std::string port;   // e.g. "usb:001,005"
};

// What libgphoto2 sees on the ports, in its order. On failure the list is empty and
// *error (when given) says why.
std::vector<DetectedCamera> DetectCameras(std::string* error = nullptr);

struct Gphoto2Options {
    std::string port;          // only the camera at this port; empty: every camera found
    int shotQuietMs = 500;     // without a "capture complete": a shot's files are those reported
                               // until this long passes without a new one
    int completeQuietMs = 60;  // where the format cannot be read: after "capture complete", this
                               // long without a new file ends the shot
    int closeWaitMs = 1200;    // the longest CDCloseSource waits for the worker
    int reopenWaitMs = 5000;   // the longest CDOpenSource waits for this program's previous
                               // connection to the same port to let go
    // Where messages for the user go (what went wrong and what to do). Called on any of
    // the backend's threads. Default: standard error.
    std::function<void(const std::string&)> report;
    // Tests: runs on the worker just before it lets go of the camera.
    std::function<void()> beforeClose;
};

// When the stages of the last shot happened on the worker (zero where a stage did not
// happen), for benchmarks that show where the time goes.
struct ShotTimes {
    std::chrono::steady_clock::time_point captureStarted;   // the worker took the capture
    std::chrono::steady_clock::time_point triggered;        // libgphoto2's trigger returned
    std::chrono::steady_clock::time_point firstFile;        // the first file was reported
    std::chrono::steady_clock::time_point downloaded;       // its last file was in memory
    std::chrono::steady_clock::time_point announced;        // event 29 was delivered
};

class Gphoto2Camera : public cdsdk::CameraLibrary {
public:
    explicit Gphoto2Camera(Gphoto2Options options = {});
    ~Gphoto2Camera() override;
    Gphoto2Camera(const Gphoto2Camera&) = delete;
    Gphoto2Camera& operator=(const Gphoto2Camera&) = delete;

    // The last message reported, empty when none (kept; CDGetProblemReport forgets).
    std::string LastProblem() const;
    // Sets one of libgphoto2's configuration values by its name, as `gphoto2 --set-config`
    // does (tools and tests: e.g. a PTP opcode through "opcode"). Blocks like a settings write.
    cdsdk::cdError SetConfigValue(cdsdk::cdHSource source, const std::string& name, const std::string& value);
    // Reads one of libgphoto2's configuration values as the cache holds it (tests).
    std::string ConfigValue(cdsdk::cdHSource source, const std::string& name) const;

    // Whether the body really gave a preview picture when the source was opened (probed
    // once: the driver's abilities alone claim it for bodies that cannot).
    bool PreviewCaptureWorks(cdsdk::cdHSource source) const;
    // Whether the driver has to ask this body for its events (rather than the body signalling them).
    bool PollsForEvents(cdsdk::cdHSource source) const;

    // Seconds the last download spent inside libgphoto2 (gp_camera_file_get), and when the
    // stages of the last shot happened.
    double LastTransferSeconds() const;
    ShotTimes LastShotTimes() const;

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
    cdsdk::cdError CDGetTransferPause(cdsdk::cdHSource source, uint32_t* milliseconds) override;
    cdsdk::cdError CDReleasedItemSaved(cdsdk::cdHSource source) override;
    cdsdk::cdError CDGetProblemReport(cdsdk::cdHSource source, char* buffer, uint32_t* size) override;
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

    struct Session;  // one open camera and its worker thread (Gphoto2Camera.cpp)

private:
    std::shared_ptr<Session> Find(cdsdk::cdHSource source) const;
    void Report(const std::string& message);

    Gphoto2Options options_;
    mutable std::mutex mutex_;  // guards the maps and the counters below
    std::map<cdsdk::cdHSource, std::shared_ptr<Session>> sessions_;
    // Sessions closed while their worker was still letting go of the camera, by port.
    std::map<std::string, std::shared_ptr<Session>> closing_;
    std::map<cdsdk::cdHEnum, std::pair<std::vector<DetectedCamera>, size_t>> deviceEnums_;
    std::map<cdsdk::cdHEnum, int> cfEnums_;
    uint32_t nextHandle_ = 0x100;
    bool started_ = false;
    std::shared_ptr<ReportSink> reportFn_;
    std::shared_ptr<std::atomic<double>> lastTransferSeconds_;
    std::unique_ptr<ImageItemStore> itemStore_;
};

}  // namespace gphoto2
