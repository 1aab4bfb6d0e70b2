// No window of the program hides a message box, offscreen on the simulated camera: the
// blank cover goes before any box and blocks nothing, the 1:1 window leaves its
// stays-on-top band while a box is open, and a box is parented to the topmost of the
// program's modal windows. (Stacking under a real window manager is shown by screenshots;
// here: parents, window flags, modality, and what is on show when the box comes up.)
#include "MainWindowHarness.h"

#include "app/MessageBox.h"
#include "windows/CFullscreenDlg.h"
#include "windows/CImagePreviewDlg.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

using namespace ids;
using harness::Window;
using testsupport::Pump;
using testsupport::WaitUntil;

namespace {

const QString kAutofocusText = "Unable to release shutter.\nThis may be because the AF was unable to lock";

// What was on show when a box came up.
struct AtTheBox {
    QString text;
    QWidget* parent = nullptr;
    bool coverVisible = false;
    bool previewOnTop = false;
};

// Records every box with what the window looked like at that moment (and answers Ok/Yes).
struct BoxWatcher {
    explicit BoxWatcher(Window& w)
    {
        msgbox::SetHandler([this, &w](const msgbox::Shown& s) {
            AtTheBox at;
            at.text = s.text;
            at.parent = s.parent;
            QWidget* cover = w.view->BlankWindow();
            at.coverVisible = cover && cover->isVisible();
            CImagePreviewDlg* preview = w.view->Preview();
            at.previewOnTop = preview->windowHandle() && (preview->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
            boxes.push_back(at);
            return s.buttons == msgbox::Buttons::YesNo ? msgbox::Answer::Yes : msgbox::Answer::Ok;
        });
    }
    ~BoxWatcher() { msgbox::SetHandler({}); }
    std::vector<AtTheBox> boxes;
};

sim::SimConfig SlowExposure()
{
    sim::SimConfig c = Window::Small();
    c.exposureMs = 400;  // time to act on the cover before anything arrives
    return c;
}

TEST(MessageBoxes, TheAutofocusBoxComesUpWithTheBlankCoverGone)
{
    Window w(SlowExposure(), [](Settings& s) { s.BlankScreenWhenTakingPhoto = true; });
    BoxWatcher watch(w);
    w.lib.FailNextAutofocus();
    w.frame->Command(IDC_RELEASE);
    QPointer<QWidget> cover = w.view->BlankWindow();
    ASSERT_NE(cover, nullptr);
    EXPECT_TRUE(cover->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return !watch.boxes.empty(); }, 10000));
    EXPECT_EQ(watch.boxes[0].text, kAutofocusText);
    EXPECT_FALSE(watch.boxes[0].coverVisible);
    EXPECT_EQ(watch.boxes[0].parent, w.frame.get());
    EXPECT_TRUE(cover.isNull());
    EXPECT_FALSE(w.view->Shooting());
}

// The cover is an ordinary window: it makes nothing modal, a click removes it, and a cover
// clicked away is back at the next shot, however the shot before ended.
TEST(MessageBoxes, TheBlankCoverBlocksNothingAndComesBackAtTheNextShot)
{
    Window w(SlowExposure(), [](Settings& s) { s.BlankScreenWhenTakingPhoto = true; });
    BoxWatcher watch(w);
    w.lib.FailNextAutofocus();
    w.frame->Command(IDC_RELEASE);
    QWidget* cover = w.view->BlankWindow();
    ASSERT_NE(cover, nullptr);
    EXPECT_EQ(cover->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(cover->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(cover->windowFlags() & Qt::FramelessWindowHint);
    QTest::mouseClick(cover, Qt::LeftButton, {}, QPoint(50, 50));
    EXPECT_FALSE(cover->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return !watch.boxes.empty() && !w.view->Shooting(); }, 10000));

    w.frame->Command(IDC_RELEASE);
    ASSERT_NE(w.view->BlankWindow(), nullptr);
    EXPECT_TRUE(w.view->BlankWindow()->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == 1 && !w.view->Shooting(); }));
    EXPECT_EQ(w.view->BlankWindow(), nullptr);
}

// The real box, as the user gets it: with the 1:1 window open and active, an autofocus
// failure fired from it opens a box over the 1:1 window while that window is out of its
// stays-on-top band; answered, the band comes back.
TEST(MessageBoxes, TheAutofocusBoxIsNotUnderThe1To1Window)
{
    Window w;
    msgbox::SetHandler({});  // the real QMessageBox
    ASSERT_TRUE(w.Shoot());
    w.frame->Command(ID_VIEW_IMAGE);
    CImagePreviewDlg* preview = w.view->Preview();
    ASSERT_TRUE(preview->isVisible());
    preview->activateWindow();
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == preview; }, 5000));
    ASSERT_TRUE(preview->windowHandle()->flags() & Qt::WindowStaysOnTopHint);

    struct {
        bool seen = false;
        QString text;
        QWidget* parent = nullptr;
        bool visible = false;
        bool previewOnTop = true;
    } box;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!shown || box.seen)
            return;
        box.seen = true;
        box.text = shown->text();
        box.parent = shown->parentWidget();
        box.visible = shown->isVisible();
        box.previewOnTop = preview->windowHandle()->flags() & Qt::WindowStaysOnTopHint;
        shown->button(QMessageBox::Ok)->click();
    });
    poll.start(20);
    w.lib.FailNextAutofocus();
    QTest::keyClick(preview, Qt::Key_F8);
    ASSERT_TRUE(WaitUntil([&] { return box.seen && !w.view->Shooting(); }, 10000));
    EXPECT_EQ(box.text, kAutofocusText);
    EXPECT_EQ(box.parent, preview);  // where the user is looking
    EXPECT_TRUE(box.visible);
    EXPECT_FALSE(box.previewOnTop);
    Pump(50);
    EXPECT_TRUE(preview->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    EXPECT_NE(w.frame->StatusText(0), "Taking picture");
}

// A box the main window owns while a modal window of the program is open above it (full
// screen) goes to that window, so it cannot end up under it.
TEST(MessageBoxes, ABoxGoesAboveTheModalWindowOpenAtTheTime)
{
    Window w;
    BoxWatcher watch(w);
    EXPECT_EQ(msgbox::ParentFor(w.view), w.frame.get());
    w.frame->Command(ID_FULL_SCREEN);
    CFullscreenDlg* full = w.view->FullScreen();
    ASSERT_NE(full, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return full->isVisible(); }, 2000));
    EXPECT_EQ(msgbox::ParentFor(w.view), full);
    EXPECT_EQ(msgbox::ParentFor(full), full);
    // The error of a failed deletion is owned by the view, not by the window on show.
    ASSERT_TRUE(w.Shoot());
    std::filesystem::remove_all(w.pictures);
    std::filesystem::create_directories(w.pictures / "IMG_0001.JPG");  // unlink cannot remove it
    w.frame->Command(ID_DELETE_IMAGE);
    ASSERT_EQ(watch.boxes.size(), 2u);
    EXPECT_TRUE(watch.boxes[1].text.startsWith("Error deleting file: "));
    EXPECT_EQ(watch.boxes[0].parent, full);
    EXPECT_EQ(watch.boxes[1].parent, full);
    full->reject();
    Pump(30);
    EXPECT_EQ(msgbox::ParentFor(w.view), w.frame.get());
}

} // namespace
