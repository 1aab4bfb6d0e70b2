// A camera owner for tests: records every notification in order (thread-safe), lets a
// test wait for a message, and hands out a fixed save snapshot.
#pragma once

#include "camera/CCamera.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class RecordingOwner : public CameraOwner {
public:
    SaveSnapshot snapshot;

    void Post(Notification n) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(std::move(n));
        }
        cv_.notify_all();
    }
    // Called on the release thread before each snapshot is handed out (tests hold the
    // thread there). Set before the camera is used.
    std::function<void()> beforeSnapshot;

    SaveSnapshot TakeSaveSnapshot() override
    {
        if (beforeSnapshot)
            beforeSnapshot();
        std::lock_guard<std::mutex> lock(mutex_);
        return snapshot;
    }
    void SetSnapshot(const SaveSnapshot& s)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshot = s;
    }
    // Waits until `count` notifications of `message` have arrived.
    bool WaitFor(uint32_t message, size_t count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return CountLocked(message) >= count; });
    }
    size_t Count(uint32_t message) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return CountLocked(message);
    }
    // The message numbers in arrival order, leaving out progress.
    std::vector<uint32_t> Sequence() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<uint32_t> out;
        for (const auto& n : received_)
            if (n.message != WM_DOWNLOAD_PROGRESS)
                out.push_back(n.message);
        return out;
    }
    std::vector<Notification> Take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(received_);
    }

private:
    size_t CountLocked(uint32_t message) const
    {
        size_t c = 0;
        for (const auto& n : received_)
            c += n.message == message;
        return c;
    }
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Notification> received_;
};
