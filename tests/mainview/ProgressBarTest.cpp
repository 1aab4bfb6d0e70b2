// The download progress bar on the simulated camera, offscreen: it takes the place of the
// lens line without moving anything else in the panel, and no download, however it ends
// (cut off halfway, the cable pulled), leaves it half full: not in the window, not in full
// screen, not after reconnecting.
#include "mainview/ControlIds.h"
#include "support/MainWindowFixture.h"
#include "support/QtTestSupport.h"
#include "windows/CFullscreenDlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <map>

using namespace ids;
using testsupport::Pump;
using testsupport::WaitUntil;

namespace {

sim::SimConfig Camera(const std::string& model = "Canon EOS 10D")
{
    sim::SimConfig c = testsupport::MainWindow::Small();
    c.model = model;
    return c;
}

void PostProgress(testsupport::MainWindow& w, int64_t progress)
{
    Notification n;
    n.message = WM_DOWNLOAD_PROGRESS;
    n.wParam = progress;
    w.view->Post(std::move(n));
    Pump(30);
}

// Where every control of the panel is (the bar itself aside).
std::map<QString, QRect> Layout(const FormControls& form)
{
    std::map<QString, QRect> places;
    int unnamed = 0;
    for (QWidget* child : form.panel->findChildren<QWidget*>()) {
        if (child == form.progress)
            continue;
        const QString name = child->objectName().isEmpty() ? QString("#%1").arg(unnamed++) : child->objectName();
        places[name] = QRect(child->mapTo(form.panel, QPoint(0, 0)), child->size());
    }
    return places;
}

TEST(ProgressBar, TakesTheLensLinesPlaceAndNothingElseMoves)
{
    for (const char* model : {"Canon EOS 10D", "Canon EOS 300D DIGITAL"}) {
        testsupport::MainWindow w(Camera(model));
        ASSERT_NE(w.view->Camera(), nullptr) << model;
        const FormControls& form = w.view->Form();
        QLabel* line = std::string(model) == "Canon EOS 300D DIGITAL" ? form.aeLockLine : form.lensLine;
        const auto before = Layout(form);
        const QRect lineRect = line->geometry();
        PostProgress(w, 50);
        ASSERT_TRUE(form.progress->isVisible()) << model;
        EXPECT_EQ(form.progress->value(), 50);
        EXPECT_EQ(form.progress->geometry(), lineRect) << model;
        EXPECT_FALSE(line->isVisible()) << model;  // its text does not show through the bar
        EXPECT_FALSE(form.progress->geometry().intersects(form.focusGroup->geometry())) << model;
        const auto during = Layout(form);
        for (const auto& [name, rect] : before)
            EXPECT_EQ(during.at(name), rect) << model << ": " << name.toStdString() << " moved";
        PostProgress(w, 0);
        EXPECT_FALSE(form.progress->isVisible());
        EXPECT_TRUE(line->isVisible());
        EXPECT_EQ(Layout(form), before) << model;
    }
}

// A download cut off halfway: the bars are hidden and the lines back, in the window and
// in full screen; the camera still works for the next shot.
TEST(ProgressBar, AnInterruptedDownloadLeavesNoBarBehind)
{
    sim::SimConfig config = Camera();
    config.linkBytesPerSecond = 200000;  // a few progress steps before the cut
    testsupport::MainWindow w(config);
    ASSERT_NE(w.view->Camera(), nullptr);
    const FormControls& form = w.view->Form();
    w.frame->Command(ID_FULL_SCREEN);
    CFullscreenDlg* full = w.view->FullScreen();
    ASSERT_NE(full, nullptr);

    w.lib.StopNextDownloadHalfway();
    w.frame->Command(IDC_RELEASE);
    ASSERT_TRUE(WaitUntil([&] { return form.progress->value() > 0 && full->Progress()->isVisible(); }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return !w.view->Shooting(); }, 20000));
    Pump(100);
    EXPECT_EQ(w.view->History().Count(), 0u);
    EXPECT_FALSE(form.progress->isVisible());
    EXPECT_TRUE(form.lensLine->isVisible());
    EXPECT_TRUE(form.parameterSetLine->isVisible());
    EXPECT_FALSE(full->Progress()->isVisible());
    full->reject();
    Pump(30);
}

// The card door opened in the middle of a download: the camera shuts down; after
// reconnecting (F2), no old progress is on show.
TEST(ProgressBar, ReconnectingAfterAShutdownMidDownloadShowsNoOldProgress)
{
    sim::SimConfig config = Camera();
    config.linkBytesPerSecond = 100000;
    testsupport::MainWindow w(config);
    ASSERT_NE(w.view->Camera(), nullptr);
    const FormControls& form = w.view->Form();
    w.frame->Command(IDC_RELEASE);
    ASSERT_TRUE(WaitUntil([&] { return form.progress->isVisible() && form.progress->value() > 0; }, 10000));
    w.lib.OpenCardDoor();
    ASSERT_TRUE(WaitUntil([&] { return w.view->Camera() == nullptr; }, 10000));
    Pump(100);
    // What ended the shot, and what it cost, instead of "Taking picture".
    EXPECT_EQ(w.frame->StatusText(0), "Camera shutdown: CF card door opened: Download interrupted: picture not received");
    EXPECT_FALSE(form.progress->isVisible());
    w.frame->Command(ID_CONNECT);
    ASSERT_NE(w.view->Camera(), nullptr);
    Pump(100);
    EXPECT_FALSE(form.progress->isVisible());
    EXPECT_TRUE(form.lensLine->isVisible());
}

}  // namespace
