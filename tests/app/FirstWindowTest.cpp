// The first start on a 1600 x 1000 screen (the offscreen platform configured with that
// screen before the application starts): the main window opens showing the whole panel,
// history buttons included, inside the screen; the simulator panel opens with a window
// frame beside the main window, not over the picture. Placing the panel beside a window
// that leaves no room is checked on its own.
#include "app/SimulatorPanel.h"
#include "mainview/ControlIds.h"
#include "support/MainWindowFixture.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

// Before the first QApplication: an offscreen screen of 1600 x 1000.
const bool kScreenConfigured = [] {
    static testsupport::TempDir dir;
    const std::string file = (dir.Path() / "screen.json").string();
    std::ofstream(file) << R"({"synchronousWindowSystemEvents": false, "windowFrameMargins": false,
        "screens": [{"name": "Screen", "x": 0, "y": 0, "width": 1600, "height": 1000,
                     "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + file).c_str(), 1);
    return true;
}();

TEST(FirstWindow, ShowsTheWholePanelOnTheScreenItOpensOn)
{
    ASSERT_TRUE(kScreenConfigured);
    testsupport::MainWindow w(testsupport::MainWindow::Small());
    ASSERT_NE(w.frame->screen(), nullptr);
    const QRect screen = w.frame->screen()->availableGeometry();
    ASSERT_EQ(screen.size(), QSize(1600, 1000));
    EXPECT_FALSE(w.frame->PlacementRestored());
    EXPECT_TRUE(screen.contains(w.frame->frameGeometry())) << w.frame->frameGeometry().width() << "x"
                                                            << w.frame->frameGeometry().height();
    const FormControls& form = w.view->Form();
    EXPECT_FALSE(w.view->PanelScroller()->verticalScrollBar()->isVisible());
    for (QWidget* button : {static_cast<QWidget*>(form.previous), static_cast<QWidget*>(form.next)}) {
        const QRect r(button->mapTo(w.view, QPoint(0, 0)), button->size());
        EXPECT_TRUE(w.view->rect().contains(r)) << button->objectName().toStdString();
    }
    // Room for a picture beside the panel: wider than high.
    EXPECT_GT(w.view->width() - w.view->PanelScroller()->width(), w.view->height());
}

TEST(FirstWindow, TheSimulatorPanelHasAFrameAndOpensBesideTheMainWindow)
{
    testsupport::MainWindow w(testsupport::MainWindow::Small());
    SimulatorPanel panel(w.lib, w.frame.get());
    panel.ShowBeside(*w.frame);
    testsupport::Pump(30);
    EXPECT_TRUE(panel.isWindow());
    EXPECT_EQ(panel.windowFlags() & Qt::WindowType_Mask, Qt::Window);
    EXPECT_FALSE(panel.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(panel.windowTitle(), "Simulated camera");
    const QRect screen = w.frame->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(panel.frameGeometry()));
    EXPECT_TRUE(screen.contains(w.frame->frameGeometry()));
    EXPECT_FALSE(panel.frameGeometry().intersects(w.frame->frameGeometry()));
}

TEST(FirstWindow, APanelThatFitsNowhereBesideMakesTheMainWindowNarrowerOrKeepsClearOfThePicture)
{
    const QRect screen(0, 0, 1600, 1000);
    const QSize panel(260, 520);
    auto clear = [&](const SimulatorPanel::Placement& p) {
        return !QRect(p.panel, panel).intersects(p.frame) && screen.contains(QRect(p.panel, panel)) &&
               screen.contains(p.frame);
    };
    // Room on the right, then on the left.
    auto right = SimulatorPanel::PlaceBeside(QRect(100, 50, 1000, 900), panel, screen, false);
    EXPECT_TRUE(clear(right));
    EXPECT_GT(right.panel.x(), 1100);
    auto left = SimulatorPanel::PlaceBeside(QRect(500, 50, 1090, 900), panel, screen, false);
    EXPECT_TRUE(clear(left));
    EXPECT_LT(left.panel.x(), 500);
    // No room on either side: the main window gives up the width.
    auto narrower = SimulatorPanel::PlaceBeside(QRect(20, 50, 1560, 900), panel, screen, false);
    EXPECT_TRUE(clear(narrower));
    EXPECT_EQ(narrower.frame.height(), 900);
    // A maximised window keeps its size: the panel goes to the bottom right, away from the
    // picture at the window's top right.
    auto fixed = SimulatorPanel::PlaceBeside(screen, panel, screen, true);
    EXPECT_EQ(fixed.frame, screen);
    EXPECT_TRUE(screen.contains(QRect(fixed.panel, panel)));
    EXPECT_GT(fixed.panel.y(), screen.height() / 3);
}

}  // namespace
