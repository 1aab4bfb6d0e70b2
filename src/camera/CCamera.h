// CCamera: one open connection to one camera. Constructing it connects (finds the single
// attached camera, opens it, identifies the model, installs the library callbacks, selects
// the release data kind and starts the release thread); destroying it disconnects. A
// constructed object is connected; construction throws the integer 1 on any failure,
// having released everything it had taken.
//
// The camera reaches its owner only through CameraOwner: numbered notifications with
// owned payloads, and a snapshot of the save settings taken when an item is handled.
//
// Threads:
//  - UI thread: construction, destruction, LockUI, UnlockUI, SetSaveMode, SetImageQuality,
//    ReadCustomFunctions, StartRelease, StartPreviewRelease, the getters.
//  - the release thread (owned), the short-lived release workers (owned, joined before
//    the object goes away) and the library's callback threads enter the object too.
// Blocking: construction and destruction call the library and may block for as long as
// it takes; destruction waits for the release thread (which closing the source wakes) and
// for release workers. StartRelease and StartPreviewRelease never wait for the camera.
#pragma once

#include "camera/CameraLibrary.h"
#include "camera/Notifications.h"
#include "storage/SaveFolders.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the release thread needs from the owner to name, save and stamp an item, taken
// as one consistent copy each time an item is handled.
struct SaveSnapshot {
    storage::FolderSettings folders;  // where pictures go and how they are named
    int orientationSetting = 0;  // 0..3 choose a rotation; anything else writes none
    std::string comment;         // the Comment box, already read on the UI thread
};

class CameraOwner : public NotificationSink {
public:
    // Thread-safe and quick: called on the release thread for every item.
    virtual SaveSnapshot TakeSaveSnapshot() = 0;
};

class CCamera {
public:
    CCamera(cdsdk::CameraLibrary& library, CameraOwner* owner);
    virtual ~CCamera();
    CCamera(const CCamera&) = delete;
    CCamera& operator=(const CCamera&) = delete;

    std::string GetModelName() const { return modelName_; }
    bool Is10D() const { return is10D_; }
    bool Is300D() const { return is300D_; }
    bool IsEos1D() const { return isEos1D_; }
    bool IsEos1DS() const { return isEos1DS_; }
    bool IsD30() const { return isD30_; }
    bool IsD60() const { return isD60_; }

    cdsdk::cdHSource Source() const { return source_.load(); }
    cdsdk::CameraLibrary& Library() const { return library_; }
    uint16_t ReleaseDataKind() const { return releaseKind_.load(); }
    bool PreviewPending() const { return previewPending_.load(); }
    int PendingCount() const;

    bool LockUI();
    void UnlockUI();
    void SetSaveMode(int mode);
    void SetImageQuality(uint16_t quality, int mode);
    void ReadCustomFunctions();
    uint16_t GetCustomFunction(int number) const;

    // Release control.
    void StartRelease();
    void StartPreviewRelease();
    void Release(bool preview);
    void AddPendingReleases(int count);

    // The full path to write for a file of the given kind (0 CRW, 1 JPG, 2 TIF,
    // 3 JPEG with a TIFF RAW, 4 THM), from the given save settings.
    static std::string NextFileName(int kind, const SaveSnapshot& settings);

    // Event handlers (called through the callback entry points).
    uint32_t EventNotification(uint32_t eventCode, const uint8_t* data, uint32_t size);
    cdsdk::cdError ReleaseEventNotification(uint32_t event, const uint8_t* data, uint32_t size);

    // Callback entry points handed to the library (context last).
    static uint32_t EventCallback(uint32_t eventCode, const uint8_t* data, uint32_t size, cdsdk::cdContext ctx);
    static cdsdk::cdError ReleaseEventCallback(uint32_t event, const uint8_t* data, uint32_t size,
                                               cdsdk::cdContext ctx);
    static cdsdk::cdError ProgressCallback(uint32_t progress, uint32_t status, cdsdk::cdContext ctx);

    // The pause between the release thread's wake-up and its first download (100 ms).
    // Benchmarks set 0 to measure the handling alone.
    void SetSettleDelay(int milliseconds) { settleDelayMs_ = milliseconds; }

    // Tests: how long the destructor waited for the release thread, in 100 ms checks.
    int ShutdownChecks() const { return shutdownChecks_; }

private:
    void Connect();
    void Fail();  // releases what connecting took, then throws 1
    void ReleaseThread();
    void HandleItem();
    void Post(uint32_t message, int64_t wParam, int64_t lParam = 0);
    void SignalEvent();
    void ReapWorkers(bool all);
    void StartWorker(bool preview);  // a short-lived thread that runs Release

    cdsdk::CameraLibrary& library_;
    std::atomic<cdsdk::cdHSource> source_{0};
    int pendingCount_ = 0;  // guarded by lock_
    std::string modelName_;
    std::atomic<uint16_t> releaseKind_{0};
    std::array<uint16_t, 30> customFunctions_{};
    CameraOwner* owner_ = nullptr;
    std::thread releaseThread_;
    // The release event: manual reset, created signalled.
    std::mutex eventMutex_;
    std::condition_variable eventCv_;
    bool eventSignalled_ = true;
    std::atomic<bool> running_{false};
    mutable std::mutex lock_;
    int uiLockDepth_ = 0;
    std::atomic<uint16_t> imageQuality_{0};
    std::atomic<bool> previewPending_{false};
    bool is10D_ = false, is300D_ = false, isEos1D_ = false, isEos1DS_ = false, isD30_ = false, isD60_ = false;

    std::mutex workersMutex_;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;
    std::atomic<bool> threadEnded_{false};
    int shutdownChecks_ = 0;
    std::atomic<int> settleDelayMs_{100};
};
