#include "camera/CCamera.h"

#include "platform/DebugTrace.h"

#include <algorithm>
#include <chrono>
#include <cstring>

using namespace cdsdk;
using platform::DebugTracef;

namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

}  // namespace

CCamera::CCamera(CameraLibrary& library, CameraOwner* owner) : library_(library), owner_(owner)
{
    Connect();
}

void CCamera::Fail()
{
    cdHSource source = source_.exchange(0);
    if (source) {
        library_.CDExitReleaseControl(source);
        library_.CDCloseSource(source);
    }
    modelName_.clear();
    throw 1;
}

void CCamera::Connect()
{
    // Find exactly one camera.
    cdHEnum hEnum = 0;
    if (library_.CDEnumDeviceReset(1, &hEnum) != cdOK)
        Fail();
    std::vector<cdSourceInfo> found;
    while (found.size() < 10) {
        cdSourceInfo info{};
        if (library_.CDEnumDeviceNext(hEnum, &info) != cdOK)
            break;
        found.push_back(info);
    }
    library_.CDEnumDeviceRelease(hEnum);
    if (found.size() != 1)
        Fail();

    cdHSource source = 0;
    if (library_.CDOpenSource(&found[0], &source) != cdOK)
        Fail();
    source_ = source;
    modelName_.assign(found[0].Name, strnlen(found[0].Name, sizeof found[0].Name));

    const std::string upper = Upper(modelName_);
    is10D_ = Contains(upper, "EOS 10D");
    is300D_ = Contains(upper, "EOS 300D") || Contains(upper, "EOS DIGITAL REBEL") || Contains(upper, "EOS KISS") ||
              Contains(upper, "EOS KISS DIGITAL");
    // The library reports names like "Canon EOS-1D": an exact comparison with "EOS-1D"
    // would never match them, so the name is searched for, as for the other models.
    const size_t eos1 = upper.find("EOS-1D");
    isEos1DS_ = Contains(upper, "EOS-1DS");
    isEos1D_ = eos1 != std::string::npos && !isEos1DS_;
    isD30_ = Contains(upper, "EOS D30");
    isD60_ = Contains(upper, "EOS D60");

    cdHandle cookie = 0;
    if (library_.CDRegisterEventCallbackFunction(source, &CCamera::EventCallback, this, &cookie) != cdOK)
        Fail();
    if (library_.CDEnterReleaseControl(source, &CCamera::ReleaseEventCallback, this) != cdOK)
        Fail();

    releaseKind_ = cdREL_KIND_PICT_TO_PC;
    if (library_.CDSelectReleaseDataKind(source, releaseKind_) != cdOK)
        Fail();

    // The rest the library asks for between an announcement and its first download.
    uint32_t pause = 0;
    if (library_.CDGetTransferPause(source, &pause) == cdOK)
        settleDelayMs_ = static_cast<int>(std::min<uint32_t>(pause, 1000));

    ReadCustomFunctions();
    library_.CDUnlockUI(source);

    running_ = true;
    eventSignalled_ = true;
    releaseThread_ = std::thread([this] { ReleaseThread(); });
}

CCamera::~CCamera()
{
    Shutdown();
    // Closing the source ends every library wait, so the threads end promptly; a thread
    // cannot be stopped safely from outside, so this waits rather than free what they use.
    if (releaseThread_.joinable())
        releaseThread_.join();
    ReapWorkers(true);
}

void CCamera::Shutdown()
{
    if (shutdown_.exchange(true))
        return;
    // The release thread first: it must not start another item, and nothing it or a
    // worker still does reaches the owner ("Error saving image" for a download the
    // disconnect cut off).
    running_ = false;
    {
        SaveSnapshot last = owner_ ? owner_->TakeSaveSnapshot() : SaveSnapshot{};
        std::lock_guard<std::mutex> lock(ownerMutex_);
        finalSnapshot_ = std::move(last);
        owner_ = nullptr;
    }
    SignalEvent();
    if (cdHSource source = source_.exchange(0)) {
        if (uiLockDepth_ > 0)
            library_.CDUnlockUI(source);
        uiLockDepth_ = 0;
        library_.CDExitReleaseControl(source);
        library_.CDCloseSource(source);
    }
}

bool CCamera::ThreadsEnded()
{
    if (releaseThread_.joinable() && !threadEnded_)
        return false;
    std::lock_guard<std::mutex> lock(workersMutex_);
    for (const auto& worker : workers_)
        if (!worker.done->load())
            return false;
    return true;
}

int CCamera::PendingCount() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(pending_.size());
}

int CCamera::PicturesNotReceivedSince(std::chrono::steady_clock::time_point since) const
{
    std::lock_guard<std::mutex> lock(lostMutex_);
    return static_cast<int>(std::count_if(lostAt_.begin(), lostAt_.end(), [&](auto at) { return at >= since; }));
}

int CCamera::DownloadsOutstanding() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(pending_.size() + inFlight_.size()) + itemsInHand_;
}

bool CCamera::LockUI()
{
    if (uiLockDepth_ < 0)
        uiLockDepth_ = 0;
    cdHSource source = source_;
    if (!source)
        return false;
    if (uiLockDepth_ == 0 && library_.CDLockUI(source) != cdOK)
        return false;
    ++uiLockDepth_;
    return true;
}

void CCamera::UnlockUI()
{
    cdHSource source = source_;
    if (!source)
        return;
    if (uiLockDepth_ > 0)
        --uiLockDepth_;
    if (uiLockDepth_ <= 0) {
        library_.CDUnlockUI(source);
        uiLockDepth_ = 0;
    }
}

void CCamera::SetSaveMode(int mode)
{
    uint16_t kind = releaseKind_;
    switch (mode) {
    case 1: kind = cdREL_KIND_PICT_TO_PC; break;
    case 2: kind = cdREL_KIND_PICT_TO_CAM | cdREL_KIND_THUMB_TO_CAM | cdREL_KIND_THUMB_TO_PC; break;
    case 3: kind = cdREL_KIND_PICT_TO_CAM | cdREL_KIND_THUMB_TO_CAM | cdREL_KIND_PICT_TO_PC; break;
    default: break;
    }
    if (imageQuality_ == 4)
        kind |= cdREL_KIND_THUMB_TO_PC;
    releaseKind_ = kind;
    if (cdHSource source = source_)
        library_.CDSelectReleaseDataKind(source, kind);
}

void CCamera::SetImageQuality(uint16_t quality, int mode)
{
    imageQuality_ = quality;
    SetSaveMode(mode);
}

void CCamera::ReadCustomFunctions()
{
    cdHSource source = source_;
    if (!source)
        return;
    customFunctions_.fill(0);
    cdHEnum hEnum = 0;
    if (library_.CDEnumCustomFunctionSettingReset(source, 0, &hEnum) != cdOK)
        return;
    uint32_t size = 0;
    uint16_t function = 0, setting = 0;
    while (library_.CDEnumCustomFunctionSettingNext(hEnum, &size, &function, &setting) == cdOK) {
        if (function < customFunctions_.size())
            customFunctions_[function] = setting;
    }
    library_.CDEnumCustomFunctionSettingRelease(hEnum);
}

uint16_t CCamera::GetCustomFunction(int number) const
{
    if (number < 0 || number >= static_cast<int>(customFunctions_.size()))
        return 0;
    return customFunctions_[static_cast<size_t>(number)];
}

// ---------------------------------------------------------------- release control

void CCamera::ReapWorkers(bool all)
{
    std::lock_guard<std::mutex> lock(workersMutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (all || it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CCamera::StartWorker(bool preview)
{
    if (!source_)
        return;
    ReapWorkers(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(workersMutex_);
    workers_.push_back({std::thread([this, done, preview] {
                            Release(preview);
                            *done = true;
                        }),
                        done});
}

void CCamera::StartRelease() { StartWorker(false); }
void CCamera::StartPreviewRelease() { StartWorker(true); }

void CCamera::Release(bool preview)
{
    cdHSource source = source_;
    if (!source)
        return;
    const uint16_t normalKind = releaseKind_.load();
    ShotKind shot;
    shot.kind = preview ? cdREL_KIND_PICT_TO_PC : normalKind;
    shot.preview = preview;
    cdError err = library_.CDSelectReleaseDataKind(source, shot.kind);
    if (err != cdOK) {
        Post(WM_RELEASE_ERROR, err & 0xFFFF);
        previewPending_ = false;
    } else {
        uint64_t id;
        {
            std::lock_guard<std::mutex> lock(lock_);
            id = ++nextShotId_;
            shot.id = id;
            inFlight_.push_back({id, shot});
        }
        // Set before the release: a library whose CDRelease blocks through the exposure
        // announces the picture before it returns.
        if (preview)
            previewPending_ = true;
        uint32_t count = 0;
        err = library_.CDRelease(source, 0, nullptr, nullptr, 0, &count);
        if (err != cdOK) {
            ShotFailed(id);
            if (preview)
                previewPending_ = false;
            // After a disconnect the closed source fails the release: nothing to report.
            if (running_)
                Post(WM_RELEASE_ERROR, err);
        }
    }
    if (preview)
        library_.CDSelectReleaseDataKind(source, normalKind);
}

void CCamera::ShotFailed(uint64_t id)
{
    std::lock_guard<std::mutex> lock(lock_);
    for (auto it = inFlight_.begin(); it != inFlight_.end(); ++it) {
        if (it->id == id) {
            inFlight_.erase(it);
            return;
        }
    }
}

void CCamera::AddPendingReleases(int count)
{
    count = std::min(count, kMaxItemsPerRelease);
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (count <= 0) {  // the shot produced nothing for the PC
            if (!inFlight_.empty())
                inFlight_.pop_front();
            return;
        }
        ShotKind shot;
        shot.kind = releaseKind_.load();  // the body's own button fires with the normal kind
        shot.id = ++nextShotId_;
        if (!inFlight_.empty()) {
            shot = inFlight_.front().shot;
            inFlight_.pop_front();
        }
        pending_.insert(pending_.end(), static_cast<size_t>(count), shot);
    }
    SignalEvent();
}

void CCamera::SignalEvent()
{
    {
        std::lock_guard<std::mutex> lock(eventMutex_);
        eventSignalled_ = true;
    }
    eventCv_.notify_all();
}

void CCamera::Post(uint32_t message, int64_t wParam, int64_t lParam)
{
    Notification n;
    n.message = message;
    n.wParam = wParam;
    n.lParam = lParam;
    Post(std::move(n));
}

void CCamera::Post(Notification n)
{
    std::lock_guard<std::mutex> lock(ownerMutex_);
    if (owner_)
        owner_->Post(std::move(n));
}

SaveSnapshot CCamera::TakeSnapshot()
{
    std::lock_guard<std::mutex> lock(ownerMutex_);
    return owner_ ? owner_->TakeSaveSnapshot() : finalSnapshot_;
}

void CCamera::ReleaseThread()
{
    while (running_) {
        {
            std::unique_lock<std::mutex> lock(eventMutex_);
            eventSignalled_ = false;
        }
        if (PendingCount() == 0) {
            std::unique_lock<std::mutex> lock(eventMutex_);
            eventCv_.wait(lock, [this] { return eventSignalled_; });
        }
        if (!running_)
            break;
        // Give the camera the moment its library asks for after it announced its items
        // (none where the items are already on the PC); releases announced meanwhile are
        // handled in the same wake-up. A disconnect cuts the pause short.
        if (settleDelayMs_ > 0) {
            std::unique_lock<std::mutex> lock(eventMutex_);
            eventCv_.wait_for(lock, std::chrono::milliseconds(settleDelayMs_.load()), [this] { return !running_; });
        }
        for (;;) {
            ShotKind shot;
            {
                std::lock_guard<std::mutex> lock(lock_);
                if (pending_.empty() || !running_)
                    break;
                shot = pending_.front();
                pending_.pop_front();
                ++itemsInHand_;
            }
            HandleItem(shot);
            std::lock_guard<std::mutex> lock(lock_);
            --itemsInHand_;
        }
    }
    threadEnded_ = true;
}

// ---------------------------------------------------------------- events

uint32_t CCamera::EventCallback(uint32_t eventCode, const uint8_t* data, uint32_t size, cdContext ctx)
{
    if (!ctx)
        return 0;
    return static_cast<CCamera*>(ctx)->EventNotification(eventCode, data, size);
}

cdError CCamera::ReleaseEventCallback(uint32_t event, const uint8_t* data, uint32_t size, cdContext ctx)
{
    if (!ctx)
        return 0;
    return static_cast<CCamera*>(ctx)->ReleaseEventNotification(event, data, size);
}

uint32_t CCamera::EventNotification(uint32_t eventCode, const uint8_t* data, uint32_t size)
{
    DebugTracef("CCamera::EventNotification(%d, 0x%08x, %d)\n", static_cast<int>(eventCode),
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(data)), static_cast<int>(size));
    if (eventCode & cdEVENT_IGNORE_BIT)
        return 0;
    const uint32_t eventClass = eventCode & cdEVENT_CLASS_MASK;
    const uint32_t number = eventCode & cdEVENT_NUMBER_MASK;
    switch (eventClass) {
    case cdEVENT_CLASS_OPERATION:
        return number == 5 ? 140 : 0;
    case cdEVENT_CLASS_SHUTDOWN:
        Post(WM_CAMERA_SHUTDOWN, number);
        return 0;
    default:
        return 0;
    }
}

cdError CCamera::ReleaseEventNotification(uint32_t event, const uint8_t* data, uint32_t size)
{
    DebugTracef("CCamera::ReleaseEventNotification(%d, 0x%08x, %d)\n", static_cast<int>(event),
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(data)), static_cast<int>(size));
    switch (event) {
    case cdRELEASE_EVENT_RESET_HW_ERROR:
        if (size >= 4 && data) {
            uint32_t error;
            std::memcpy(&error, data, 4);
            DebugTracef("cdRELEASE_EVENT_RESET_HW_ERROR, error=%d\n", static_cast<int>(error));
            Post(WM_RELEASE_ERROR, error);
            previewPending_ = false;
            // The shot it belongs to produces no items.
            std::lock_guard<std::mutex> lock(lock_);
            if (!inFlight_.empty())
                inFlight_.pop_front();
        }
        break;
    case cdRELEASE_EVENT_CHANGED_BY_UI:
        Post(WM_CAMERA_SETTINGS_CHANGED, 0);
        break;
    case cdRELEASE_EVENT_RELEASE_START:
        DebugTracef("cdRELEASE_EVENT_RELEASE_START\n");
        break;
    case cdRELEASE_EVENT_RELEASE_COMPLETE:
        DebugTracef("cdRESEASE_EVENT_RELEASE_COMPLETE\n");
        if (size >= 4 && data) {
            uint32_t count;
            std::memcpy(&count, data, 4);
            AddPendingReleases(static_cast<int>(std::min<uint32_t>(count, kMaxItemsPerRelease)));
        }
        break;
    default:
        break;
    }
    return 0;
}
