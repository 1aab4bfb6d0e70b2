#include "camera/CameraShutdown.h"

#include "camera/CCamera.h"
#include "platform/DebugTrace.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Background threads that finish retired cameras (and deferred library finishes).
struct Retirement {
    std::mutex mutex;
    std::vector<std::thread> threads;

    std::vector<std::thread> TakeAll()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return std::move(threads);
    }
    void Add(std::thread t)
    {
        std::lock_guard<std::mutex> lock(mutex);
        threads.push_back(std::move(t));
    }
};

Retirement& Retired()
{
    static Retirement retirement;
    return retirement;
}

}  // namespace

bool RetireCamera(std::unique_ptr<CCamera> camera)
{
    if (!camera)
        return true;
    camera->Shutdown();
    // Checked often, so that a prompt ending costs the window nothing; the whole wait is
    // bounded by kRetireWaitChecks x kRetireCheckMs.
    constexpr int kSlice = 10;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetireWaitChecks * kRetireCheckMs);
    while (!camera->ThreadsEnded() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(kSlice));
    if (camera->ThreadsEnded()) {
        camera.reset();
        return true;
    }
    platform::DebugTrace("RetireCamera() - camera threads still busy, finishing in the background\n");
    Retired().Add(std::thread([owned = std::move(camera)]() mutable { owned.reset(); }));
    return false;
}

void FinishCameraLibrary(cdsdk::CameraLibrary& library)
{
    std::vector<std::thread> running = Retired().TakeAll();
    if (running.empty()) {
        library.CDFinishSDK();
        return;
    }
    Retired().Add(std::thread([&library, running = std::move(running)]() mutable {
        for (auto& t : running)
            t.join();
        library.CDFinishSDK();
    }));
}

void WaitForRetiredCameras()
{
    for (;;) {
        std::vector<std::thread> running = Retired().TakeAll();
        if (running.empty())
            return;
        for (auto& t : running)
            t.join();
    }
}
