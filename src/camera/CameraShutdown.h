// Ending camera connections without freezing the window. Disconnecting must stop the
// release thread and the release workers, and a long exposure or a slow device can keep
// them busy for a while: the UI thread waits a bounded time, and whatever still runs
// finishes on a background thread that owns the CCamera from then on. The camera
// library is finished only after every such camera is gone.
//
// Threads: RetireCamera and FinishCameraLibrary are called on the UI thread;
// RetireCamera blocks for at most kRetireWaitChecks x kRetireCheckMs, FinishCameraLibrary
// never waits for a camera. WaitForRetiredCameras blocks without limit: the program calls
// it once its window is gone, before the library object itself is destroyed.
#pragma once

#include "camera/CameraLibrary.h"

#include <memory>

class CCamera;

constexpr int kRetireWaitChecks = 15;
constexpr int kRetireCheckMs = 100;

// Shuts the camera down (CCamera::Shutdown: nothing reaches its owner any more) and
// destroys it here if its threads end within the bounded wait, else on a background
// thread. True when it was destroyed here. A null camera does nothing (true).
bool RetireCamera(std::unique_ptr<CCamera> camera);

// CDFinishSDK, now when no retired camera is still running, else on a background thread
// right after the last of them.
void FinishCameraLibrary(cdsdk::CameraLibrary& library);

// Waits until every retired camera is destroyed and every deferred CDFinishSDK has run.
void WaitForRetiredCameras();
