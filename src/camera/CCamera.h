// CCamera: one open connection to one camera. Constructing it connects (finds the single
// attached camera, opens it, identifies the model, installs the library callbacks, selects
// the release data kind and starts the release thread); destroying it disconnects. A
// constructed object is connected; construction throws the integer 1 on any failure,
// having released everything it had taken.
//
// The camera reaches its owner only through CameraOwner: numbered notifications with
// owned payloads, and a snapshot of the save settings taken when an item is handled.
// Each shot carries the release data kind it was fired with (and whether it is a
// preview) to its items, so changing the save mode while pictures are on their way
// changes nothing about them.
//
// Threads:
//  - UI thread: construction, destruction, Shutdown, LockUI, UnlockUI, SetSaveMode,
//    SetImageQuality, ReadCustomFunctions, StartRelease, StartPreviewRelease, the getters.
//  - the release thread (owned), the short-lived release workers (owned, joined before
//    the object goes away) and the library's callback threads enter the object too.
// Blocking: construction calls the library and may block for as long as it takes.
// Shutdown stops the threads and closes the source without waiting for the threads;
// ThreadsEnded tells when they are gone. The destructor shuts down and then waits for
// the threads without limit: the UI thread disconnects through RetireCamera
// (camera/CameraShutdown.h), which waits a bounded time and destroys the object on a
// background thread otherwise. StartRelease and StartPreviewRelease never wait.
#pragma once

#include "camera/CameraLibrary.h"
#include "camera/Notifications.h"
#include "storage/SaveFolders.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// What the release thread needs from the owner to name, save and stamp an item, taken
// as one consistent copy each time an item is handled.
struct SaveSnapshot {
    storage::FolderSettings folders;  // where pictures go and how they are named
    int orientationSetting = 0;  // 0..3 choose a rotation; anything else writes none
    std::string comment;         // the Comment box, already read on the UI thread
    // Where a picture goes when the picture folder refuses it, best first
    // (storage::RescueFolderCandidates).
    std::vector<std::string> rescueFolders;
};

class CameraOwner : public NotificationSink {
public:
    // Thread-safe and quick: called on the release thread for every item.
    virtual SaveSnapshot TakeSaveSnapshot() = 0;
};

// What a shot was fired with: it travels with each item the shot produces.
struct ShotKind {
    uint16_t kind = cdsdk::cdREL_KIND_PICT_TO_PC;  // release data kind at the release
    bool preview = false;                           // a preview: shown, never saved
    uint64_t id = 0;                                // the shot the items belong to
};

// Most items one release announcement may add: a shot gives one or two items (picture,
// thumbnail or the JPEG of a TIFF RAW); a larger count from the library is a fault.
constexpr int kMaxItemsPerRelease = 16;

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
    // Items announced and not yet handled to the end (the one downloading included), plus
    // the shots fired from here whose items the camera has not announced yet. Any thread.
    int DownloadsOutstanding() const;
    // Pictures whose download was cut off since `since` (the link or the camera failed
    // mid-download). Any thread.
    int PicturesNotReceivedSince(std::chrono::steady_clock::time_point since) const;
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

    // Release control. Release fires the shutter once (on a worker); a failing kind
    // selection or CDRelease posts WM_RELEASE_ERROR with the library's code.
    void StartRelease();
    void StartPreviewRelease();
    void Release(bool preview);
    // The camera announced `count` items (at most kMaxItemsPerRelease): they belong
    // to the oldest shot fired from here whose items have not been announced, or to a
    // shot of the body's own button (normal kind) when there is none.
    void AddPendingReleases(int count);

    // Disconnects without waiting: stops the release thread, detaches the owner (nothing
    // is posted or asked any more), unlocks the body if a lock is held, leaves release
    // control and closes the source, which ends any download or release in progress.
    // Idempotent; UI thread.
    void Shutdown();
    // True once the release thread and every release worker have ended.
    bool ThreadsEnded();

    // Event handlers (called through the callback entry points).
    uint32_t EventNotification(uint32_t eventCode, const uint8_t* data, uint32_t size);
    cdsdk::cdError ReleaseEventNotification(uint32_t event, const uint8_t* data, uint32_t size);

    // Callback entry points handed to the library (context last).
    static uint32_t EventCallback(uint32_t eventCode, const uint8_t* data, uint32_t size, cdsdk::cdContext ctx);
    static cdsdk::cdError ReleaseEventCallback(uint32_t event, const uint8_t* data, uint32_t size,
                                               cdsdk::cdContext ctx);
    static cdsdk::cdError ProgressCallback(uint32_t progress, uint32_t status, cdsdk::cdContext ctx);

    // The pause between the release thread's wake-up and its first download: what the
    // library asks for at connection (CDGetTransferPause; the seed's bodies 100 ms, none
    // where announced items are already on the PC). Benchmarks set 0 to measure the
    // handling alone.
    void SetSettleDelay(int milliseconds) { settleDelayMs_ = milliseconds; }

private:
    void Connect();
    void Fail();  // releases what connecting took, then throws 1
    void ReleaseThread();
    void HandleItem(const ShotKind& shot);
    // Release thread: saves one item into the picture folder, else a rescue folder, else
    // hands its bytes back; `path` is empty when it is on no disk.
    struct SavedItem {
        SaveReport report;
        std::string path;
        std::vector<uint8_t> unsavedBytes;
    };
    SavedItem SaveItem(const ShotKind& shot, int kind, const SaveSnapshot& snapshot,
                       const std::vector<uint8_t>& bytes, const std::string& comment, std::optional<int> rotation,
                       const std::string& rawExtension = {});
    void Post(uint32_t message, int64_t wParam, int64_t lParam = 0);
    void Post(Notification n);
    SaveSnapshot TakeSnapshot();
    void ShotFailed(uint64_t id);  // forgets a shot whose release failed
    void SignalEvent();
    void ReapWorkers(bool all);
    void StartWorker(bool preview);  // a short-lived thread that runs Release

    cdsdk::CameraLibrary& library_;
    std::atomic<cdsdk::cdHSource> source_{0};
    // Guarded by lock_: the pending items, each with the shot it belongs to, and the shots
    // fired from here whose items the camera has not announced yet (oldest first).
    std::deque<ShotKind> pending_;
    struct InFlight {
        uint64_t id;
        ShotKind shot;
    };
    std::deque<InFlight> inFlight_;
    uint64_t nextShotId_ = 0;
    int itemsInHand_ = 0;  // guarded by lock_: taken off pending_, not yet handled to the end
    // Release thread only: what became of the items of the shot handled last, so that a
    // RAW pair's report names the half that did not arrive.
    struct PairState {
        uint64_t shot = 0;
        std::string companionLost;  // "thumbnail" / "JPEG picture" not received
        std::string companionPath;  // the companion saved in the picture folder
        std::string companionPart;
        bool pictureReported = false;
    };
    PairState pair_;
    mutable std::mutex lostMutex_;  // guards lostAt_
    std::deque<std::chrono::steady_clock::time_point> lostAt_;  // the last few cut-off pictures
    std::string modelName_;
    std::atomic<uint16_t> releaseKind_{0};
    std::array<uint16_t, 30> customFunctions_{};
    std::mutex ownerMutex_;       // guards owner_ and finalSnapshot_; held while posting
    CameraOwner* owner_ = nullptr;
    SaveSnapshot finalSnapshot_;  // the owner's settings when it was detached
    std::atomic<bool> shutdown_{false};
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
    std::atomic<int> settleDelayMs_{100};
};
