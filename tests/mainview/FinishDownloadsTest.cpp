// Pictures on their way from the camera are never thrown away by the program: Disconnect,
// closing the window and a signal to quit wait for them with the window live, and only a
// person who confirms, a camera that is gone or the time of a quit running out cuts them
// short; then the user is told what was lost. A preview cut short by a shutdown gives the
// body its format back at the next connection.
#include "mainview/ControlIds.h"
#include "support/MainWindowFixture.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

#include <QProgressBar>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using namespace ids;
using testsupport::WaitUntil;
namespace fs = std::filesystem;

namespace {

struct Window : testsupport::MainWindow {
    explicit Window(double linkBytesPerSecond) : MainWindow(Config(linkBytesPerSecond)) {}
    static sim::SimConfig Config(double linkBytesPerSecond)
    {
        sim::SimConfig c = Small();
        c.pictureWidth = 640;
        c.pictureHeight = 426;
        c.linkBytesPerSecond = linkBytesPerSecond;
        return c;
    }
    // The body's own button: a picture the program did not ask for starts downloading.
    void BodyShotDownloading()
    {
        const uint32_t announced = lib.State().itemsAnnounced;
        lib.PressShutterButton();
        ASSERT_TRUE(WaitUntil([&] { return lib.State().itemsAnnounced > announced && view->DownloadsOutstanding() > 0; },
                              20000));
        ASSERT_TRUE(WaitUntil([&] { return view->Form().progress->isVisible(); }, 20000));
    }
    QString Status() const { return frame->StatusText(0); }
    bool Saved() const { return fs::exists(pictures / "IMG_0001.JPG"); }
};

const QString kFinishing = QString("Finishing the download of 1 picture\u2026");

TEST(FinishDownloads, ClosingTheWindowFinishesTheDownloadThenCloses)
{
    Window w(60000);  // a picture of about a second and a half
    ASSERT_NE(w.view->Camera(), nullptr);
    w.BodyShotDownloading();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(w.frame->close());  // not yet
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(w.frame->isVisible());
    EXPECT_TRUE(w.Status().startsWith(kFinishing)) << w.Status().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return !w.frame->isVisible(); }, 20000));
    EXPECT_TRUE(w.Saved());
    EXPECT_EQ(w.view->History().Count(), 1u);
    EXPECT_TRUE(w.boxes.shown.empty());
}

TEST(FinishDownloads, AskedAgainTheUserMayCutTheDownloadShort)
{
    Window w(20000);  // several seconds
    w.BodyShotDownloading();
    w.frame->Command(ID_CONNECT);
    EXPECT_TRUE(w.view->FinishingDownloads());
    EXPECT_NE(w.view->Camera(), nullptr);

    w.boxes.answers = {msgbox::Answer::No, msgbox::Answer::Yes};
    w.frame->Command(ID_CONNECT);  // No: the download goes on
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].text, "Stop the download now?");
    EXPECT_EQ(w.boxes.shown[0].detail,
              "The picture on its way from the camera will be lost (in Save to PC only the camera keeps no copy).");
    EXPECT_NE(w.view->Camera(), nullptr);
    EXPECT_TRUE(w.view->FinishingDownloads());

    w.frame->Command(ID_CONNECT);  // Yes: now, and the status bar says what was lost
    EXPECT_EQ(w.view->Camera(), nullptr);
    EXPECT_FALSE(w.view->FinishingDownloads());
    EXPECT_EQ(w.Status(), "Download interrupted: picture not received");
    testsupport::Pump(300);
    EXPECT_FALSE(w.Saved());
    EXPECT_EQ(w.lib.State().openSources, 0);
    EXPECT_EQ(w.boxes.shown.size(), 2u);
}

TEST(FinishDownloads, TheCameraGoingAwayWhileFinishingSaysWhatWasLost)
{
    Window w(20000);
    w.BodyShotDownloading();
    w.frame->Command(ID_CONNECT);
    w.lib.Unplug();
    ASSERT_TRUE(WaitUntil([&] { return w.view->Camera() == nullptr; }, 10000));
    testsupport::Pump(100);
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].text, "Camera shutdown: connection lost");
    EXPECT_EQ(w.boxes.shown[0].detail, "Download interrupted: picture not received");
    EXPECT_FALSE(w.view->FinishingDownloads());
    EXPECT_FALSE(w.Saved());
}

TEST(FinishDownloads, ASignalToQuitFinishesTheDownloadFirst)
{
    Window w(60000);
    w.BodyShotDownloading();
    bool quit = false;
    w.view->FinishDownloadsThenQuit(25000, [&] { quit = true; });
    EXPECT_FALSE(quit);
    EXPECT_TRUE(w.Status().startsWith(kFinishing));
    ASSERT_TRUE(WaitUntil([&] { return quit; }, 20000));
    // Saved and shown as saved before the program goes.
    EXPECT_TRUE(w.Saved());
    EXPECT_EQ(w.view->History().Count(), 1u);
}

TEST(FinishDownloads, AQuitThatCannotWaitLongerCutsTheDownloadShortAndSaysSo)
{
    Window w(20000);
    w.BodyShotDownloading();
    bool quit = false;
    w.view->FinishDownloadsThenQuit(300, [&] { quit = true; });
    ASSERT_TRUE(WaitUntil([&] { return quit; }, 5000));
    EXPECT_EQ(w.Status(), "Download interrupted: picture not received");
    EXPECT_EQ(w.view->Camera(), nullptr);

    // A second signal does not wait at all.
    w.frame->Command(ID_CONNECT);
    ASSERT_NE(w.view->Camera(), nullptr);
    w.BodyShotDownloading();
    int quits = 0;
    w.view->FinishDownloadsThenQuit(25000, [&] { ++quits; });
    w.view->FinishDownloadsThenQuit(25000, [&] { ++quits; });
    ASSERT_TRUE(WaitUntil([&] { return quits > 0; }, 2000));
    EXPECT_EQ(w.view->Camera(), nullptr);
}

TEST(FinishDownloads, APreviewCutShortByAShutdownGetsTheBodysFormatBackAtReconnect)
{
    Window w(20000);
    ASSERT_NE(w.view->Camera(), nullptr);
    using Format = std::pair<uint16_t, uint16_t>;
    auto format = [&] {
        uint16_t quality = 0, size = 0;
        w.lib.CDGetImageFormatAttribute(w.view->Camera()->Source(), &quality, &size);
        return Format(quality, size);
    };
    ASSERT_EQ(w.lib.CDSetImageFormatAttribute(w.view->Camera()->Source(), 3, 0), cdsdk::cdOK);  // large, fine
    w.frame->Command(IDC_PREVIEW);
    ASSERT_TRUE(WaitUntil([&] { return w.view->Form().progress->isVisible(); }, 20000));
    EXPECT_EQ(format(), Format(2, 2));  // small, normal for the preview
    w.lib.OpenCardDoor();
    ASSERT_TRUE(WaitUntil([&] { return w.view->Camera() == nullptr; }, 10000));
    w.frame->Command(ID_CONNECT);
    ASSERT_NE(w.view->Camera(), nullptr);
    EXPECT_EQ(format(), Format(3, 0));
}

}  // namespace
