// The keyboard in the main window on the simulated camera, offscreen, with keys pressed
// through the window system as a user presses them: Left and Right browse after every
// shot whatever had the keyboard, a text box keeps its own arrows, F2 connects and
// disconnects, and Delete acts on the picture on show, never on one browsed to before.
#include "camera/CameraLibrary.h"
#include "mainview/ControlIds.h"
#include "support/MainWindowFixture.h"
#include "support/QtTestSupport.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <filesystem>

using namespace ids;
using testsupport::Pump;
using testsupport::WaitUntil;
namespace fs = std::filesystem;

namespace {

struct Window : testsupport::MainWindow {
    Window() : MainWindow(Small())
    {
        frame->activateWindow();
        WaitUntil([this] { return QApplication::activeWindow() == frame.get(); }, 2000);
    }
    // A key pressed on the keyboard: to the active window, through its shortcuts.
    void Press(Qt::Key key)
    {
        QTest::keyClick(frame->windowHandle(), key);
        Pump(30);
    }
    bool ShotDone(size_t pictures)
    {
        return WaitUntil([&] { return view->History().Count() == pictures && !view->Shooting(); });
    }
    QString Status() const { return frame->StatusText(0); }
};

TEST(KeyboardFocus, LeftAndRightBrowseAfterEveryShotWhateverHadTheKeyboard)
{
    Window w;
    ASSERT_NE(w.view->Camera(), nullptr);
    ASSERT_EQ(QApplication::activeWindow(), w.frame.get());
    const FormControls& form = w.view->Form();
    struct Case {
        const char* before;
        std::function<void()> shoot;
    } cases[] = {
        {"the Release button clicked", [&] { QTest::mouseClick(form.release, Qt::LeftButton); }},
        {"a history button clicked, then F8",
         [&] {
             QTest::mouseClick(form.previous, Qt::LeftButton);
             w.Press(Qt::Key_F8);
         }},
        {"a list opened and closed with Escape, then F8",
         [&] {
             form.iso->setFocus();
             form.iso->showPopup();
             Pump(30);
             QTest::keyClick(form.iso->view(), Qt::Key_Escape);
             Pump(30);
             w.Press(Qt::Key_F8);
         }},
    };
    size_t pictures = 0;
    for (const Case& c : cases) {
        c.shoot();
        ASSERT_TRUE(w.ShotDone(++pictures)) << c.before;
        ASSERT_EQ(w.view->History().CurrentIndex(), static_cast<int>(pictures) - 1);
        w.Press(Qt::Key_Left);
        if (pictures == 1) {
            // A single picture already on show: Left has nowhere to go, Right shows it again.
            w.Press(Qt::Key_Right);
            EXPECT_TRUE(w.Status().startsWith("Image 1 of 1: ")) << c.before << ": " << w.Status().toStdString();
            continue;
        }
        EXPECT_EQ(w.view->History().CurrentIndex(), static_cast<int>(pictures) - 2) << c.before;
        EXPECT_TRUE(w.Status().startsWith(QString("Image %1 of %2: ").arg(pictures - 1).arg(pictures)))
            << c.before << ": " << w.Status().toStdString();
        w.Press(Qt::Key_Right);
        EXPECT_EQ(w.view->History().CurrentIndex(), static_cast<int>(pictures) - 1) << c.before;
    }
}

TEST(KeyboardFocus, TheCommentBoxKeepsItsArrowKeys)
{
    Window w;
    for (size_t i = 1; i <= 2; ++i) {
        w.frame->Command(IDC_RELEASE);
        ASSERT_TRUE(w.ShotDone(i));
    }
    QLineEdit* comment = w.view->Form().comment;
    comment->setFocus();
    comment->setText("studio");
    comment->setCursorPosition(6);
    w.Press(Qt::Key_Left);
    EXPECT_EQ(comment->cursorPosition(), 5);
    EXPECT_EQ(w.view->History().CurrentIndex(), 1);
}

TEST(KeyboardFocus, F2ConnectsAndDisconnectsAndAFailedConnectSaysSo)
{
    Window w;
    ASSERT_NE(w.view->Camera(), nullptr);
    EXPECT_EQ(w.frame->Action(ID_CONNECT)->shortcut(), QKeySequence(Qt::Key_F2));
    w.Press(Qt::Key_F2);
    EXPECT_EQ(w.view->Camera(), nullptr);
    EXPECT_EQ(w.frame->windowTitle(), "Tethrocam - Not connected");
    EXPECT_EQ(w.Status(), "Tethrocam - Not connected");
    w.Press(Qt::Key_F2);
    ASSERT_NE(w.view->Camera(), nullptr);
    EXPECT_EQ(w.Status(), "Tethrocam - Connected to Canon EOS 10D");
    EXPECT_EQ(w.frame->windowTitle(), "Tethrocam - Connected to Canon EOS 10D");

    // The camera cannot be opened: the old "Connected" text does not stay.
    w.Press(Qt::Key_F2);
    w.frame->SetStatusText(0, "Tethrocam - Connected to Canon EOS 10D");
    w.lib.SetCallFault("CDEnterReleaseControl", true);  // the body will not be driven
    w.Press(Qt::Key_F2);
    EXPECT_EQ(w.view->Camera(), nullptr);
    EXPECT_EQ(w.frame->windowTitle(), "Tethrocam - Not connected");
    EXPECT_EQ(w.Status(), "Unable to connect to camera. Press F2 to try again.");
    EXPECT_TRUE(w.boxes.shown.empty());
}

// With RAW the thumbnail is on show seconds before the RAW picture is saved. Delete in
// that time must not delete the picture browsed to before the release.
TEST(KeyboardFocus, DeleteNeverActsOnAPictureNoLongerOnShow)
{
    sim::SimConfig config = testsupport::MainWindow::Small();
    config.linkBytesPerSecond = 1e6;
    config.rawFillerBytes = 1500 * 1024;  // the RAW picture takes a second and a half
    testsupport::MainWindow w(config);
    ASSERT_NE(w.view->Camera(), nullptr);
    for (size_t i = 1; i <= 2; ++i) {
        w.frame->Command(IDC_RELEASE);
        ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == i && !w.view->Shooting(); }));
    }
    w.frame->Command(IDC_PREVIOUS);
    ASSERT_EQ(w.view->History().CurrentIndex(), 0);
    const std::vector<uint8_t> first = w.view->CurrentBytes();

    ASSERT_EQ(w.lib.CDSetImageFormatAttribute(w.view->Camera()->Source(), 4, 0), cdsdk::cdOK);  // RAW
    w.frame->Command(ID_REFRESH);
    w.frame->Command(IDC_RELEASE);
    ASSERT_TRUE(WaitUntil([&] { return w.view->CurrentBytes() != first; }, 10000));
    ASSERT_TRUE(w.view->Shooting()) << "the thumbnail must be on show before the RAW picture arrives";
    w.frame->Command(ID_DELETE_IMAGE);
    for (const auto& box : w.boxes.shown)
        EXPECT_FALSE(box.text.contains("IMG_0001")) << box.text.toStdString();
    EXPECT_TRUE(fs::exists(w.pictures / "IMG_0001.JPG"));
    ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == 3 && !w.view->Shooting(); }));
    EXPECT_EQ(w.view->History().CurrentIndex(), 2);
}

}  // namespace
