// Gphoto2Camera: the camera library on libgphoto2, for real cameras on the USB cable.
// Everything above the camera library boundary works unchanged on it.
//
// One thread owns each camera: opening a source starts a worker thread that makes every
// libgphoto2 call for that camera (opening, settings writes, captures, downloads, closing)
// and, between jobs, polls the camera's events with short timeouts. The interface's calls
// post jobs to it and wait for their results. Loading libgphoto2's drivers and detecting
// cameras are serialised by one process-wide lock, since libgphoto2 is not safe there.
//
// Shots: CDRelease triggers a capture; the files the camera then reports (also those of
// the body's own shutter button) become release event 28, then event 29 with the number
// of items for the PC (RAW + JPEG gives 2). A capture the camera refuses becomes release
// event 10 with a hardware error code (135 for a full card), and a message saying what to
// do goes to the problem report. Settings are answered from a cache filled when the source
// opens and kept current by the camera's property-changed events (event 27 when a value
// really changed), so a settings read never waits for a download. Files stay on the card;
// "PC only" captures go to the camera's internal RAM where the body has a capture target.
//
// Threads: any thread may call. Event and release-event callbacks run on the worker
// thread, never while a lock of this object is held; once CDExitReleaseControl or
// CDCloseSource has returned, no callback of that source runs any more. Progress and
// stream callbacks run on the thread that called CDGetReleasedData.
// Blocking: CDOpenSource blocks while the camera opens; settings writes block until the
// camera has answered (behind a download in progress); CDGetReleasedData blocks until the
// item has arrived; CDRelease only queues the capture. Settings reads never block on the
// camera. CDCloseSource cancels what is running and returns within about 1.2 s even if
// the camera does not answer (the worker then finishes on its own).
#pragma once

#include "camera/CameraLibrary.h"

#include <atomic>
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
    std::string port;               // only the camera at this port; empty: every camera found
    int pollMs = 5;                 // timeout of one event poll while the worker is idle: also the
                                    // longest a queued call waits for the worker to take it
    int shotQuietMs = 500;          // a shot's files are those reported until this long passes
                                    // without a new one (or the camera reports the capture done)
    int captureTimeoutMs = 40000;   // a capture that produces no file by then has failed
    // Where messages for the user go (what went wrong and what to do). Called on any of
    // the backend's threads. Default: standard error.
    std::function<void(const std::string&)> report;
};

class Gphoto2Camera : public cdsdk::CameraLibrary {
public:
    explicit Gphoto2Camera(Gphoto2Options options = {});
    ~Gphoto2Camera() override;
    Gphoto2Camera(const Gphoto2Camera&) = delete;
    Gphoto2Camera& operator=(const Gphoto2Camera&) = delete;

    // The last message reported, empty when none.
    std::string LastProblem() const;
    // Sets one of libgphoto2's configuration values by its name, as `gphoto2 --set-config`
    // does (tools and tests: e.g. a PTP opcode through "opcode"). Blocks like a settings write.
    cdsdk::cdError SetConfigValue(cdsdk::cdHSource source, const std::string& name, const std::string& value);

    // Seconds the last finished download spent inside libgphoto2 (gp_camera_file_get), for
    // measuring what the backend adds around it.
    double LastTransferSeconds() const;

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
    std::map<cdsdk::cdHEnum, std::pair<std::vector<DetectedCamera>, size_t>> deviceEnums_;
    std::map<cdsdk::cdHEnum, int> cfEnums_;
    uint32_t nextHandle_ = 0x100;
    bool started_ = false;
    std::string lastProblem_;
    std::shared_ptr<ReportSink> reportFn_;
    std::shared_ptr<std::atomic<double>> lastTransferSeconds_;
    std::unique_ptr<ImageItemStore> itemStore_;
};

}  // namespace gphoto2
