// The camera connection: connecting, identifying, locking, save modes and camera events,
// against a counting fake of the library and against the simulated camera.
#include "FakeCameraLibrary.h"
#include "RecordingSink.h"

#include "backends/sim/SimCamera.h"
#include "camera/CCamera.h"
#include "camera/CameraShutdown.h"
#include "camera/CameraStartup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

using namespace cdsdk;

namespace {

std::vector<uint8_t> U32(uint32_t v)
{
    std::vector<uint8_t> d(4);
    std::memcpy(d.data(), &v, 4);
    return d;
}

TEST(CCameraConnect, NoCameraOrTwoCamerasFailAndLeaveNothingOpen)
{
    for (size_t count : {0u, 2u}) {
        FakeCameraLibrary lib;
        lib.devices.assign(count, "Canon EOS 10D");
        RecordingOwner owner;
        EXPECT_THROW(CCamera(lib, &owner), int) << count << " cameras";
        EXPECT_EQ(lib.openSources, 0);
        EXPECT_EQ(lib.Calls("CDOpenSource"), 0);
        EXPECT_EQ(lib.Calls("CDEnumDeviceRelease"), 1);
    }
}

TEST(CCameraConnect, FailingStepsCloseWhatWasOpened)
{
    for (const char* step : {"CDRegisterEventCallbackFunction", "CDEnterReleaseControl", "CDSelectReleaseDataKind",
                             "CDOpenSource", "CDEnumDeviceReset"}) {
        FakeCameraLibrary lib;
        lib.failing.insert(step);
        RecordingOwner owner;
        try {
            CCamera camera(lib, &owner);
            ADD_FAILURE() << "connected although " << step << " failed";
        } catch (int code) {
            EXPECT_EQ(code, 1);
        }
        EXPECT_EQ(lib.openSources, 0) << step;
    }
}

TEST(CCameraConnect, ModelFlags)
{
    struct Case {
        const char* name;
        bool d10, d300, d1, d1s, d30, d60;
    } cases[] = {
        {"Canon EOS 10D", true, false, false, false, false, false},
        {"Canon EOS 300D DIGITAL", false, true, false, false, false, false},
        {"Canon EOS DIGITAL REBEL", false, true, false, false, false, false},
        {"Canon EOS Kiss Digital", false, true, false, false, false, false},
        {"My Canon EOS 300D body (grey)", false, true, false, false, false, false},
        {"Canon EOS D60", false, false, false, false, false, true},
        {"Canon EOS D30", false, false, false, false, true, false},
        {"EOS-1D", false, false, true, false, false, false},
        {"eos-1ds", false, false, false, true, false, false},
        {"Canon EOS-1D", false, false, true, false, false, false},
        {"Canon EOS-1DS", false, false, false, true, false, false},
    };
    for (const Case& c : cases) {
        FakeCameraLibrary lib;
        lib.devices = {c.name};
        RecordingOwner owner;
        CCamera camera(lib, &owner);
        EXPECT_EQ(camera.GetModelName(), c.name);
        EXPECT_EQ(camera.Is10D(), c.d10) << c.name;
        EXPECT_EQ(camera.Is300D(), c.d300) << c.name;
        EXPECT_EQ(camera.IsEos1D(), c.d1) << c.name;
        EXPECT_EQ(camera.IsEos1DS(), c.d1s) << c.name;
        EXPECT_EQ(camera.IsD30(), c.d30) << c.name;
        EXPECT_EQ(camera.IsD60(), c.d60) << c.name;
    }
}

// Disconnecting gives back a held lock, leaves release control and only then closes
// the source; nothing is asked of the library after the close, and the owner hears
// nothing more.
TEST(CCameraConnect, DisconnectUnlocksThenLeavesReleaseControlThenCloses)
{
    FakeCameraLibrary lib;
    RecordingOwner owner;
    {
        CCamera camera(lib, &owner);
        EXPECT_EQ(lib.openSources, 1);
        EXPECT_EQ(lib.selectedKinds, std::vector<uint16_t>{2});
        ASSERT_TRUE(camera.LockUI());
        owner.Take();
    }
    const auto order = lib.Order();
    const auto at = [&](const char* name) {
        return std::find(order.begin(), order.end(), name) - order.begin();
    };
    const auto lock = at("CDLockUI");
    ASSERT_LT(lock, static_cast<long>(order.size()));
    const std::vector<std::string> tail(order.begin() + lock + 1, order.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"CDUnlockUI", "CDExitReleaseControl", "CDCloseSource"}));
    EXPECT_EQ(lib.openSources, 0);
    EXPECT_TRUE(owner.Take().empty());
}

TEST(CCameraControls, NestedLocksCallTheLibraryOnce)
{
    FakeCameraLibrary lib;
    RecordingOwner owner;
    CCamera camera(lib, &owner);
    const int unlocksAtConnect = lib.Calls("CDUnlockUI");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(camera.LockUI());
    for (int i = 0; i < 3; ++i)
        camera.UnlockUI();
    EXPECT_EQ(lib.Calls("CDLockUI"), 1);
    EXPECT_EQ(lib.Calls("CDUnlockUI") - unlocksAtConnect, 1);

    lib.failing.insert("CDLockUI");
    EXPECT_FALSE(camera.LockUI());
    camera.UnlockUI();  // unbalanced unlock still unlocks the body
    EXPECT_EQ(lib.Calls("CDUnlockUI") - unlocksAtConnect, 2);
}

TEST(CCameraControls, CustomFunctions)
{
    FakeCameraLibrary lib;
    lib.customFunctions = {{4, 2}, {6, 1}, {29, 7}, {30, 9}, {200, 1}};
    RecordingOwner owner;
    CCamera camera(lib, &owner);
    EXPECT_EQ(camera.GetCustomFunction(4), 2);
    EXPECT_EQ(camera.GetCustomFunction(6), 1);
    EXPECT_EQ(camera.GetCustomFunction(29), 7);
    EXPECT_EQ(camera.GetCustomFunction(30), 0);
    EXPECT_EQ(camera.GetCustomFunction(-1), 0);
    EXPECT_EQ(camera.GetCustomFunction(5), 0);
}

TEST(CCameraControls, SaveModesChooseTheReleaseKind)
{
    FakeCameraLibrary lib;
    RecordingOwner owner;
    CCamera camera(lib, &owner);
    struct Case {
        uint16_t quality;
        int mode;
        uint16_t kind;
    } cases[] = {{3, 1, 2}, {3, 2, 13}, {3, 3, 14}, {2, 1, 2}, {4, 1, 3}, {4, 2, 13}, {4, 3, 15}};
    for (const Case& c : cases) {
        camera.SetImageQuality(c.quality, c.mode);
        EXPECT_EQ(camera.ReleaseDataKind(), c.kind) << "quality " << c.quality << " mode " << c.mode;
        EXPECT_EQ(lib.selectedKinds.back(), c.kind);
    }
    camera.SetImageQuality(3, 3);
    camera.SetSaveMode(0);  // unknown modes keep the kind
    EXPECT_EQ(camera.ReleaseDataKind(), 14);
    camera.SetSaveMode(4);
    EXPECT_EQ(camera.ReleaseDataKind(), 14);
}

TEST(CCameraEvents, CameraEvents)
{
    FakeCameraLibrary lib;
    RecordingOwner owner;
    CCamera camera(lib, &owner);
    EXPECT_EQ(camera.EventNotification(0x40003, nullptr, 0), 0u);
    EXPECT_EQ(camera.EventNotification(0x40003 | 0x8000000, nullptr, 0), 0u);
    EXPECT_EQ(camera.EventNotification(0x20005, nullptr, 0), 140u);
    EXPECT_EQ(camera.EventNotification(0x20004, nullptr, 0), 0u);
    EXPECT_EQ(camera.EventNotification(0x20005 | 0x8000000, nullptr, 0), 0u);
    EXPECT_EQ(camera.EventNotification(0x10005, nullptr, 0), 0u);
    auto got = owner.Take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message, WM_CAMERA_SHUTDOWN);
    EXPECT_EQ(got[0].wParam, 3);

    EXPECT_EQ(CCamera::EventCallback(0x40001, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(CCamera::ReleaseEventCallback(10, U32(1).data(), 4, nullptr), 0u);
    EXPECT_TRUE(owner.Take().empty());
}

TEST(CCameraEvents, ReleaseEvents)
{
    FakeCameraLibrary lib;
    RecordingOwner owner;
    CCamera camera(lib, &owner);
    auto one = U32(1);
    auto af = U32(1);
    camera.ReleaseEventNotification(29, one.data(), 0);  // no data: no download
    EXPECT_EQ(camera.PendingCount(), 0);
    camera.ReleaseEventNotification(29, one.data(), 2);  // too short to hold a count
    EXPECT_EQ(camera.PendingCount(), 0);
    camera.ReleaseEventNotification(10, af.data(), 0);
    camera.ReleaseEventNotification(27, nullptr, 0);
    camera.ReleaseEventNotification(28, nullptr, 0);
    camera.ReleaseEventNotification(10, af.data(), 4);
    auto got = owner.Take();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message, WM_CAMERA_SETTINGS_CHANGED);
    EXPECT_EQ(got[1].message, WM_RELEASE_ERROR);
    EXPECT_EQ(got[1].wParam, 1);
}

// A failing CDRelease ends the shot with release error 2028 and its code (the view then
// ends the shooting state and unlocks the body); a failed preview leaves no preview
// flag behind and the normal kind selected.
TEST(CCameraEvents, FailingReleaseIsReportedWithItsCode)
{
    FakeCameraLibrary lib;
    RecordingOwner owner;
    CCamera camera(lib, &owner);
    camera.SetImageQuality(3, 3);  // camera and PC: kind 14
    lib.failing.insert("CDRelease");
    camera.Release(false);
    camera.Release(true);
    auto got = owner.Take();
    ASSERT_EQ(got.size(), 2u);
    for (const auto& n : got) {
        EXPECT_EQ(n.message, WM_RELEASE_ERROR);
        EXPECT_EQ(n.wParam, static_cast<int64_t>(cdERROR));
    }
    EXPECT_FALSE(camera.PreviewPending());
    EXPECT_EQ(lib.selectedKinds.back(), 14);
    // The failed shots announce nothing, so a press of the body's button afterwards is
    // not mistaken for the failed preview.
    const uint32_t one = 1;
    camera.SetSettleDelay(2000);
    camera.ReleaseEventNotification(cdRELEASE_EVENT_RELEASE_COMPLETE, reinterpret_cast<const uint8_t*>(&one), 4);
    EXPECT_EQ(camera.PendingCount(), 1);
}

// A count from the library beyond what one shot can produce is cut to a sane number.
TEST(CCameraEvents, AnnouncedCountIsClamped)
{
    FakeCameraLibrary lib;
    RecordingOwner owner;
    CCamera camera(lib, &owner);
    camera.SetSettleDelay(2000);  // the thread leaves the items alone meanwhile
    auto huge = U32(0xFFFFFFFF);
    camera.ReleaseEventNotification(29, huge.data(), 4);
    EXPECT_EQ(camera.PendingCount(), kMaxItemsPerRelease);
    auto zero = U32(0);
    camera.ReleaseEventNotification(29, zero.data(), 4);
    EXPECT_EQ(camera.PendingCount(), kMaxItemsPerRelease);
}

TEST(CCameraEvents, FailedKindSelectionReportsTheLowBitsOfTheError)
{
    FakeCameraLibrary lib;
    RecordingOwner owner;
    CCamera camera(lib, &owner);
    lib.failing.insert("CDSelectReleaseDataKind");
    camera.Release(false);
    auto got = owner.Take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message, WM_RELEASE_ERROR);
    EXPECT_EQ(got[0].wParam, static_cast<int64_t>(cdERROR & 0xFFFF));
    EXPECT_EQ(lib.Calls("CDRelease"), 0);
}

// ---------------------------------------------------------------- simulated camera

TEST(CCameraOnSimulator, ConnectsAndIdentifiesEveryModel)
{
    for (int i = 0; i < sim::kSimModelCount; ++i) {
        sim::SimConfig config;
        config.model = sim::kSimModels[i];
        sim::SimulatedCamera lib(config);
        ASSERT_EQ(StartCameraLibrary(lib), 5);
        RecordingOwner owner;
        CCamera camera(lib, &owner);
        EXPECT_EQ(camera.GetModelName(), config.model);
        EXPECT_EQ(lib.State().openSources, 1);
        EXPECT_TRUE(lib.State().releaseControl);
    }
}

TEST(CCameraOnSimulator, VersionRetryAndRefusal)
{
    sim::SimConfig config;
    config.lowestSdkMajor = 8;
    sim::SimulatedCamera lib(config);
    EXPECT_EQ(StartCameraLibrary(lib), 8);
    EXPECT_EQ(lib.CallCount("CDStartSDK"), 4);

    config.lowestSdkMajor = 11;
    sim::SimulatedCamera old(config);
    EXPECT_EQ(StartCameraLibrary(old), 0);
    EXPECT_EQ(old.CallCount("CDStartSDK"), 6);
    RecordingOwner owner;
    EXPECT_THROW(CCamera(old, &owner), int);  // a library that never started finds nothing
}

TEST(CCameraOnSimulator, NoCameraAndTwoCameras)
{
    for (int count : {0, 2}) {
        sim::SimConfig config;
        config.cameraCount = count;
        sim::SimulatedCamera lib(config);
        StartCameraLibrary(lib);
        RecordingOwner owner;
        EXPECT_THROW(CCamera(lib, &owner), int);
        EXPECT_EQ(lib.State().openSources, 0);
    }
}

TEST(CCameraOnSimulator, LockRefusedWhileTheLcdIsOn)
{
    sim::SimulatedCamera lib;
    StartCameraLibrary(lib);
    RecordingOwner owner;
    CCamera camera(lib, &owner);
    lib.SetLcdOn(true);
    EXPECT_FALSE(camera.LockUI());
    lib.SetLcdOn(false);
    EXPECT_TRUE(camera.LockUI());
    EXPECT_TRUE(lib.State().uiLocked);
    camera.UnlockUI();
    EXPECT_FALSE(lib.State().uiLocked);
}

// Closing the source ends a download, so a disconnect in the middle of one ends the
// release thread at once; the cut-off download reports nothing ("Error saving image"
// after a disconnect would be a lie), the body is unlocked and release control is left.
TEST(CCameraOnSimulator, DisconnectDuringADownloadIsPromptAndSilent)
{
    for (auto timing : {sim::ReleaseTiming::Async, sim::ReleaseTiming::Blocking}) {
        sim::SimConfig config;
        config.linkBytesPerSecond = 1000;  // a download would take minutes
        config.releaseTiming = timing;
        sim::SimulatedCamera lib(config);
        StartCameraLibrary(lib);
        RecordingOwner owner;
        auto camera = std::make_unique<CCamera>(lib, &owner);
        ASSERT_TRUE(camera->LockUI());
        camera->StartRelease();
        ASSERT_TRUE(owner.WaitFor(WM_DOWNLOAD_PROGRESS));  // the download is under way
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(RetireCamera(std::move(camera)));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
        const auto state = lib.State();
        EXPECT_EQ(state.openSources, 0);
        EXPECT_FALSE(state.releaseControl);
        EXPECT_FALSE(state.uiLocked);
        EXPECT_EQ(state.unlockCalls, state.lockCalls + 1);  // the one at connection, the one at the end
        EXPECT_EQ(owner.Count(WM_SAVED_FILE), 0u);
        EXPECT_EQ(owner.Count(WM_RELEASE_ERROR), 0u);
    }
}

// A device that hangs in a download past the bounded wait: the window gets control back
// after 15 x 100 ms, the camera finishes on a background thread, and the library is
// finished only after that thread has stopped using it.
TEST(CCameraShutdown, AHungCameraFinishesInTheBackgroundBeforeTheLibrary)
{
    FakeCameraLibrary lib;
    lib.downloadMs = 2500;
    RecordingOwner owner;
    auto camera = std::make_unique<CCamera>(lib, &owner);
    camera->SetSettleDelay(0);
    camera->AddPendingReleases(1);
    while (lib.Calls("CDGetReleasedData") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RetireCamera(std::move(camera)));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(kRetireWaitChecks * kRetireCheckMs - 50));
    EXPECT_LT(waited, std::chrono::milliseconds(kRetireWaitChecks * kRetireCheckMs + 500));
    FinishCameraLibrary(lib);
    EXPECT_EQ(lib.Calls("CDFinishSDK"), 0);  // still in use in the background
    WaitForRetiredCameras();
    const auto order = lib.Order();
    const auto finish = std::find(order.begin(), order.end(), "CDFinishSDK");
    const auto returned = std::find(order.begin(), order.end(), "CDGetReleasedData returned");
    ASSERT_NE(finish, order.end());
    EXPECT_LT(returned, finish);
    EXPECT_EQ(order.back(), "CDFinishSDK");
    EXPECT_EQ(owner.Count(WM_SAVED_FILE), 0u);  // the cut-off item is not reported
}

TEST(CCameraShutdown, WithNothingRunningTheLibraryIsFinishedAtOnce)
{
    FakeCameraLibrary lib;
    RecordingOwner owner;
    EXPECT_TRUE(RetireCamera(std::make_unique<CCamera>(lib, &owner)));
    FinishCameraLibrary(lib);
    EXPECT_EQ(lib.Calls("CDFinishSDK"), 1);
    EXPECT_EQ(lib.openSources, 0);
}

}  // namespace
