// The body's controls are locked for the length of a shot and only then: after a saved
// picture, after every error a shot can end with, and when the camera shuts down in the
// middle of one, the body is unlocked and the window is ready for the next shot, with what
// ended the shot in the status bar instead of "Taking picture". A disconnect during a
// download neither freezes the window nor loses the picture.
#include "mainview/ControlIds.h"
#include "support/MainWindowFixture.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using namespace ids;
using testsupport::WaitUntil;
namespace fs = std::filesystem;

namespace {

struct Window : testsupport::MainWindow {
    explicit Window(sim::SimConfig config) : MainWindow(config) {}
    static sim::SimConfig Small(sim::ReleaseTiming timing)
    {
        sim::SimConfig c;
        c.pictureWidth = 640;
        c.pictureHeight = 426;
        c.exposureMs = 5;
        c.releaseTiming = timing;
        return c;
    }
    // Unlocks the library was asked for since the connection.
    int UnlocksSinceConnect() const { return lib.State().unlockCalls - unlocksAtConnect; }
    bool Ready() const { return !view->Shooting() && view->Form().release->isEnabled(); }

    int unlocksAtConnect = 0;
};

class ShootingState : public ::testing::TestWithParam<sim::ReleaseTiming> {};

TEST_P(ShootingState, BodyIsUnlockedAfterAShotAndAfterEachError)
{
    Window w(Window::Small(GetParam()));
    ASSERT_NE(w.view->Camera(), nullptr);
    w.unlocksAtConnect = w.lib.State().unlockCalls;
    struct Case {
        const char* what;
        std::function<void()> arrange;
        QString box;  // the message that ends the shot; empty: a saved picture
    } cases[] = {
        {"saved picture", [] {}, QString()},
        {"autofocus failure", [&] { w.lib.FailNextAutofocus(); },
         "Unable to release shutter.\nThis may be because the AF was unable to lock"},
        {"release refused by the library", [&] { w.lib.SetCallFault("CDRelease", true); }, "H/W Error: 0x00000002"},
        {"no card", [&] {
             w.lib.SetCallFault("CDRelease", false);
             w.frame->Command(ID_SAVE_CAMERA_AND_PC);
             w.lib.SetCardPresent(false);
         }, "Error: no CF card"},
    };
    int shots = 0;
    for (const Case& c : cases) {
        c.arrange();
        const size_t boxes = w.boxes.shown.size();
        w.frame->Command(IDC_RELEASE);
        ++shots;
        EXPECT_TRUE(w.view->Shooting()) << c.what;
        EXPECT_TRUE(w.lib.State().uiLocked) << c.what;
        ASSERT_TRUE(WaitUntil([&] { return w.Ready(); }, 20000)) << c.what;
        EXPECT_FALSE(w.lib.State().uiLocked) << c.what;
        EXPECT_EQ(w.UnlocksSinceConnect(), shots) << c.what;
        if (c.box.isEmpty()) {
            EXPECT_EQ(w.boxes.shown.size(), boxes) << c.what;
            EXPECT_TRUE(w.frame->StatusText(0).startsWith("Saved: ")) << c.what;
        } else {
            ASSERT_EQ(w.boxes.shown.size(), boxes + 1) << c.what;
            EXPECT_EQ(w.boxes.LastText(), c.box) << c.what;
            // "Taking picture" gives way to what ended the shot, on one line.
            EXPECT_EQ(w.frame->StatusText(0), QString(c.box).replace('\n', ' ')) << c.what;
        }
    }
}

// The card door opened in the middle of a download: the camera shuts down, the window
// disconnects, and the body is given its controls back before the source is closed.
TEST_P(ShootingState, BodyIsUnlockedWhenTheCameraShutsDownDuringAShot)
{
    auto config = Window::Small(GetParam());
    config.linkBytesPerSecond = 20000;  // a slow download
    Window w(config);
    ASSERT_NE(w.view->Camera(), nullptr);
    w.unlocksAtConnect = w.lib.State().unlockCalls;
    w.frame->Command(IDC_RELEASE);
    ASSERT_TRUE(WaitUntil([&] { return w.view->Form().progress->isVisible(); }, 20000));
    w.lib.OpenCardDoor();
    ASSERT_TRUE(WaitUntil([&] { return w.view->Camera() == nullptr; }, 5000));
    EXPECT_EQ(w.boxes.LastText(), "Camera shutdown: CF card door opened");
    EXPECT_EQ(w.UnlocksSinceConnect(), 1);
    EXPECT_FALSE(w.view->Shooting());
    testsupport::Pump(300);
    EXPECT_NE(w.frame->StatusText(0), "Error saving image");
    EXPECT_EQ(w.boxes.shown.size(), 1u);
}

// Disconnecting while a picture from the body's button is downloading keeps the window
// live, finishes the download, and only then lets the camera go: nothing is lost and no
// failure is reported.
TEST_P(ShootingState, DisconnectDuringADownloadFinishesItFirst)
{
    auto config = Window::Small(GetParam());
    config.linkBytesPerSecond = 200000;  // about two seconds for the picture
    Window w(config);
    ASSERT_NE(w.view->Camera(), nullptr);
    w.lib.PressShutterButton();
    ASSERT_TRUE(WaitUntil([&] { return w.view->Form().progress->isVisible(); }, 20000));
    const auto start = std::chrono::steady_clock::now();
    w.frame->Command(ID_CONNECT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));  // the window stays live
    EXPECT_NE(w.view->Camera(), nullptr);
    EXPECT_TRUE(w.frame->StatusText(0).startsWith("Finishing the download of 1 picture\u2026"))
        << w.frame->StatusText(0).toStdString();
    ASSERT_TRUE(WaitUntil([&] { return w.view->Camera() == nullptr; }, 20000));
    testsupport::Pump(200);
    EXPECT_TRUE(fs::exists(w.pictures / "IMG_0001.JPG"));
    EXPECT_EQ(w.view->History().Count(), 1u);
    EXPECT_EQ(w.frame->StatusText(0), "Tethrocam - Not connected");
    EXPECT_TRUE(w.boxes.shown.empty());
    EXPECT_FALSE(w.lib.State().releaseControl);
    EXPECT_EQ(w.lib.State().openSources, 0);
}

INSTANTIATE_TEST_SUITE_P(BothTimings, ShootingState,
                         ::testing::Values(sim::ReleaseTiming::Async, sim::ReleaseTiming::Blocking),
                         [](const ::testing::TestParamInfo<sim::ReleaseTiming>& info) {
                             return std::string(info.param == sim::ReleaseTiming::Async ? "ReleaseReturnsAtOnce"
                                                                                        : "ReleaseBlocks");
                         });

}  // namespace
