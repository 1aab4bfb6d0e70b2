// The main window on the simulated camera, offscreen: the road of one picture from F8 to
// the file on disk and the picture on screen, the refusals and prompts of the shooting
// commands, camera events, progress, browsing and deleting, and the remembered placement.
#include "app/CMainFrame.h"
#include "app/EditorLaunch.h"
#include "app/ElidedLabel.h"
#include "app/MessageBox.h"
#include "app/QuitSignals.h"
#include "backends/sim/SimCamera.h"
#include "mainview/CMyTethrocamView.h"
#include "mainview/EditorSetupDialog.h"
#include "mainview/ControlIds.h"
#include "settings/RegistryStore.h"
#include "settings/Settings.h"
#include "support/MainWindowFixture.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QAction>
#include <QCheckBox>
#include <QFontMetrics>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMenu>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace ids;
using testsupport::WaitUntil;
namespace fs = std::filesystem;

namespace {

// Waiting for the camera stops early when a message box comes up instead.
struct Window : testsupport::MainWindow {
    explicit Window(sim::SimConfig config = Small(), const std::function<void(Settings&)>& prefs = {})
        : MainWindow(config, prefs, UntilCameraOrBox())
    {
    }
    static Options UntilCameraOrBox()
    {
        Options o;
        o.untilMessageBox = true;
        return o;
    }
    QString Status() const { return frame->StatusText(0); }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(pictures, ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool Shoot()
    {
        const size_t before = view->History().Count();
        frame->Command(IDC_RELEASE);
        return WaitUntil([&] { return view->History().Count() > before && !view->CurrentBytes().empty() && !view->Shooting(); });
    }
};

std::vector<uint8_t> U32(uint32_t v)
{
    std::vector<uint8_t> d(4);
    std::memcpy(d.data(), &v, 4);
    return d;
}

TEST(MainWindow, TheRoadOfOnePicture)
{
    Window w;
    ASSERT_NE(w.view->Camera(), nullptr);
    EXPECT_EQ(w.frame->windowTitle(), "Tethrocam - Connected to Canon EOS 10D");
    // The panel shows the camera: automatic focus-point selection checks all seven.
    for (QPushButton* b : w.view->Form().focusPoints) {
        EXPECT_TRUE(b->isChecked()) << b->objectName().toStdString();
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
        EXPECT_TRUE(b->isVisibleTo(w.view)) << b->objectName().toStdString();
    }
    EXPECT_EQ(w.view->Form().tv->currentText(), "1/125");
    ASSERT_TRUE(w.Shoot());
    EXPECT_EQ(w.Files(), std::vector<std::string>{"IMG_0001.JPG"});
    const std::string path = (w.pictures / "IMG_0001.JPG").string();
    EXPECT_TRUE(w.Status().startsWith(QString::fromStdString("Saved: " + path + " (")));
    EXPECT_TRUE(w.Status().endsWith("1/125sec, F5.6")) << w.Status().toStdString();
    ASSERT_EQ(w.view->History().Count(), 1u);
    EXPECT_EQ(w.view->History().CurrentIndex(), 0);
    EXPECT_EQ(w.view->History().Entries()[0].Path(), path);
    // Shown as large as the free area allows, flush with the right edge, unrotated.
    ASSERT_TRUE(w.view->DisplayBitmap());
    const Bitmap& shown = *w.view->DisplayBitmap();
    EXPECT_EQ(w.view->CurrentRotation(), 0);
    EXPECT_GT(shown.width, 300);
    EXPECT_GT(shown.width, shown.height);
    EXPECT_EQ(w.view->Picture()->x() + w.view->Picture()->width(), w.view->width());
    EXPECT_GT(w.view->Histogram().SampleCount(), 0u);
    EXPECT_TRUE(w.view->Form().release->isEnabled());
    EXPECT_TRUE(w.boxes.shown.empty());
}

TEST(MainWindow, TvChosenOnThePanelIsThePicturesExposureTime)
{
    Window w;
    QComboBox* tv = w.view->Form().tv;
    const int index = tv->findText("1/500");
    ASSERT_GE(index, 0);
    tv->setCurrentIndex(index);
    emit tv->activated(index);  // as the user picks it
    ASSERT_TRUE(w.Shoot());
    EXPECT_EQ(w.view->History().Entries()[0].ExposureText(), "1/500");
    EXPECT_TRUE(w.Status().endsWith("1/500sec, F5.6")) << w.Status().toStdString();
}

TEST(MainWindow, PortraitSettingTurnsAndStampsThePicture)
{
    Window w(Window::Small(), [](Settings& s) { s.OrientationSetting = 2; });
    ASSERT_TRUE(w.Shoot());
    EXPECT_EQ(w.view->CurrentRotation(), 90);
    const Bitmap& shown = *w.view->DisplayBitmap();
    EXPECT_GT(shown.height, shown.width);
    EXPECT_EQ(w.view->History().Entries()[0].Rotation(), 90);
}

TEST(MainWindow, PreviewIsShownButNotSaved)
{
    Window w;
    w.frame->Command(IDC_PREVIEW);
    ASSERT_TRUE(WaitUntil([&] { return !w.view->CurrentBytes().empty() && !w.view->Shooting(); }));
    EXPECT_TRUE(w.Status().startsWith("Image downloaded")) << w.Status().toStdString();
    EXPECT_TRUE(w.Files().empty());
    EXPECT_EQ(w.view->History().Count(), 0u);
    uint16_t quality = 0, size = 0;
    w.lib.CDGetImageFormatAttribute(w.view->Camera()->Source(), &quality, &size);
    EXPECT_EQ(quality, 3);  // the chosen format is back after the preview
    EXPECT_EQ(size, 0);
}

TEST(MainWindow, RefusalsBeforeTheShutter)
{
    Window w;
    // Bulb on the Tv list.
    w.view->Form().tv->addItem("bulb", 4u);
    w.view->Form().tv->setCurrentIndex(w.view->Form().tv->count() - 1);
    w.frame->Command(IDC_RELEASE);
    EXPECT_EQ(w.boxes.LastText(), "Bulb mode is only available when using the camera's shutter release");
    w.frame->Command(IDC_PREVIEW);
    EXPECT_EQ(w.boxes.shown.size(), 2u);
    w.view->Form().tv->setCurrentIndex(-1);
    // The LCD keeps the controls from being locked.
    w.lib.SetLcdOn(true);
    w.frame->Command(IDC_RELEASE);
    EXPECT_EQ(w.boxes.LastText(),
              "Unable to release the shutter.\nPlease check that the camera's LCD display is off and try again");
    EXPECT_FALSE(w.view->Shooting());
    testsupport::Pump(300);
    EXPECT_TRUE(w.Files().empty());
}

TEST(MainWindow, ReconnectPrompt)
{
    Window w;
    w.frame->Command(ID_CONNECT);  // disconnect
    EXPECT_EQ(w.view->Camera(), nullptr);
    EXPECT_EQ(w.frame->windowTitle(), "Tethrocam - Not connected");
    EXPECT_EQ(w.frame->Action(ID_CONNECT)->text(), "Connect to Camera");

    w.boxes.answers = {msgbox::Answer::No, msgbox::Answer::Yes};
    w.frame->Command(IDC_RELEASE);
    EXPECT_EQ(w.boxes.LastText(), "Camera is not connected.\nDo you wish to reconnect?");
    EXPECT_EQ(w.boxes.shown.back().icon, msgbox::Icon::Question);
    EXPECT_EQ(w.view->Camera(), nullptr);
    w.frame->Command(IDC_RELEASE);
    EXPECT_NE(w.view->Camera(), nullptr);  // reconnected, but no picture is taken
    EXPECT_FALSE(w.view->Shooting());
    EXPECT_EQ(w.frame->Action(ID_CONNECT)->text(), "Disconnect from Camera");
    testsupport::Pump(300);
    EXPECT_TRUE(w.Files().empty());
}

TEST(MainWindow, EosOneDIsRefused)
{
    auto config = Window::Small();
    config.model = "Canon EOS-1D";
    Window w(config);
    EXPECT_EQ(w.view->Camera(), nullptr);
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].icon, msgbox::Icon::Exclamation);
    EXPECT_TRUE(w.boxes.shown[0].text.contains("Quennelight"));
    EXPECT_EQ(w.frame->windowTitle(), "Tethrocam - Not connected");
    EXPECT_EQ(w.lib.State().openSources, 0);
}

TEST(MainWindow, ShutdownWhileConnected)
{
    Window w;
    w.lib.OpenCardDoor();
    ASSERT_TRUE(WaitUntil([&] { return w.view->Camera() == nullptr; }));
    EXPECT_EQ(w.boxes.LastText(), "Camera shutdown: CF card door opened");
    EXPECT_EQ(w.boxes.shown.back().icon, msgbox::Icon::Error);
    EXPECT_EQ(w.frame->windowTitle(), "Tethrocam - Not connected");
    EXPECT_EQ(w.frame->Action(ID_CONNECT)->text(), "Connect to Camera");
    EXPECT_FALSE(w.view->Form().sizeQuality->isEnabled());
    EXPECT_FALSE(w.view->Form().drive->isEnabled());
}

TEST(MainWindow, ReleaseErrors)
{
    Window w;
    const struct {
        uint32_t code;
        const char* text;
    } cases[] = {{1, "Unable to release shutter.\nThis may be because the AF was unable to lock"},
                 {135, "Error: no CF card"},
                 {0x1234, "H/W Error: 0x00001234"}};
    for (const auto& c : cases) {
        const size_t before = w.boxes.shown.size();
        w.lib.SendReleaseEvent(10, U32(c.code));
        ASSERT_TRUE(WaitUntil([&] { return w.boxes.shown.size() > before; }));
        EXPECT_EQ(w.boxes.LastText(), c.text);
        EXPECT_EQ(w.boxes.shown.back().icon, msgbox::Icon::Error);
    }
    // An autofocus failure from a real release ends the shooting state too.
    w.lib.FailNextAutofocus();
    w.frame->Command(IDC_RELEASE);
    EXPECT_TRUE(w.view->Shooting());
    ASSERT_TRUE(WaitUntil([&] { return !w.view->Shooting(); }));
    EXPECT_EQ(w.boxes.LastText(), cases[0].text);
    EXPECT_TRUE(w.view->Form().release->isEnabled());
}

TEST(MainWindow, DisconnectIsIgnoredWhileShooting)
{
    auto config = Window::Small();
    config.linkBytesPerSecond = 50000;  // a slow download
    Window w(config);
    w.frame->Command(IDC_RELEASE);
    ASSERT_TRUE(w.view->Shooting());
    w.frame->Command(ID_CONNECT);
    EXPECT_NE(w.view->Camera(), nullptr);
    EXPECT_EQ(w.frame->Action(ID_CONNECT)->text(), "Disconnect from Camera");
    EXPECT_FALSE(w.view->Form().release->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return !w.view->Shooting(); }, 60000));
}

TEST(MainWindow, ProgressTexts)
{
    Window w;
    auto post = [&](int64_t progress, int64_t waiting) {
        Notification n;
        n.message = WM_DOWNLOAD_PROGRESS;
        n.wParam = progress;
        n.lParam = waiting;
        w.view->Post(std::move(n));
        testsupport::Pump(30);
    };
    w.frame->SetStatusText(0, "before");
    post(0, 0);
    EXPECT_EQ(w.Status(), "before");
    EXPECT_TRUE(w.view->Form().progress->isHidden());
    post(40, 0);
    EXPECT_EQ(w.Status(), "Downloading image");
    EXPECT_FALSE(w.view->Form().progress->isHidden());
    EXPECT_EQ(w.view->Form().progress->value(), 40);
    EXPECT_TRUE(w.view->Form().lensLine->isHidden());
    post(60, 2);
    EXPECT_EQ(w.Status(), "Downloading image (2 images remaining)");
    post(100, 0);
    EXPECT_EQ(w.Status(), "Downloading image (2 images remaining)");
    EXPECT_EQ(w.view->Form().progress->value(), 100);
    post(0, 0);
    EXPECT_TRUE(w.view->Form().progress->isHidden());
    EXPECT_FALSE(w.view->Form().lensLine->isHidden());
}

TEST(MainWindow, SavedFileTextsThatAreNotFiles)
{
    Window w;
    w.frame->Command(ID_SAVE_CAMERA_ONLY);
    EXPECT_TRUE(w.frame->Action(ID_SAVE_CAMERA_ONLY)->isChecked());
    EXPECT_FALSE(w.frame->Action(ID_SAVE_PC_ONLY)->isChecked());
    w.frame->Command(IDC_RELEASE);
    ASSERT_TRUE(WaitUntil([&] { return !w.view->Shooting() && !w.view->CurrentBytes().empty(); }));
    EXPECT_TRUE(w.Status().startsWith("Image stored on CF card")) << w.Status().toStdString();
    EXPECT_EQ(w.view->History().Count(), 0u);
    EXPECT_TRUE(w.Files().empty());
}

TEST(MainWindow, BrowseAndDelete)
{
    Window w;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(w.Shoot());
    EXPECT_EQ(w.view->History().CurrentIndex(), 2);
    w.view->OnCommand(IDC_PREVIOUS);
    EXPECT_EQ(w.view->History().CurrentIndex(), 1);
    w.view->OnCommand(IDC_NEXT);
    w.view->OnCommand(IDC_NEXT);  // wraps to the oldest
    EXPECT_EQ(w.view->History().CurrentIndex(), 0);

    w.boxes.answers = {msgbox::Answer::No};
    w.view->OnCommand(ID_DELETE_IMAGE);
    EXPECT_EQ(w.Files().size(), 3u);
    w.boxes.answers.push_back(msgbox::Answer::Yes);
    w.view->OnCommand(ID_DELETE_IMAGE);
    EXPECT_EQ(w.Files(), (std::vector<std::string>{"IMG_0002.JPG", "IMG_0003.JPG"}));
    EXPECT_FALSE(w.view->CurrentBytes().empty());
}

TEST(MainWindow, OverlaysAndBlackAndWhiteRedraw)
{
    Window w;
    ASSERT_TRUE(w.Shoot());
    w.frame->Command(ID_HIGHLIGHTS);
    EXPECT_TRUE(w.frame->Action(ID_HIGHLIGHTS)->isChecked());
    ASSERT_TRUE(w.view->HighlightBitmap());
    w.view->BlinkTick();
    EXPECT_TRUE(w.view->ShowingHighlight());
    w.view->BlinkTick();
    EXPECT_FALSE(w.view->ShowingHighlight());
    w.frame->Command(ID_HIGHLIGHTS);
    EXPECT_FALSE(w.view->HighlightBitmap());

    const uint32_t samples = w.view->Histogram().SampleCount();
    w.frame->Command(ID_BLACK_AND_WHITE);
    const Bitmap& grey = *w.view->DisplayBitmap();
    const uint8_t* px = grey.Row(grey.height / 2) + 3 * (grey.width / 3);
    EXPECT_EQ(px[0], px[1]);
    EXPECT_EQ(px[1], px[2]);
    EXPECT_EQ(w.view->Histogram().SampleCount(), samples);
    w.frame->Command(ID_DISPLAY_GRID);
    w.frame->Command(ID_FOCUS_POINTS);
    EXPECT_TRUE(w.view->Prefs().DisplayGrid);
    EXPECT_TRUE(w.view->Prefs().DisplayFocusPoints);
}

TEST(MainWindow, BlankScreenAndMouseButtons)
{
    editor::LaunchRecorder editors;  // nothing is opened for real
    Window w(Window::Small(), [](Settings& s) {
        s.MiddleBtnAction = 1;  // Release
        s.RightBtnAction = 3;   // Edit image
    });
    const QPoint corner(w.view->width() - 5, w.view->height() - 5);
    // Nothing saved yet: editing has nothing to hand over.
    QTest::mouseClick(w.view, Qt::RightButton, {}, corner);
    EXPECT_TRUE(editors.opened.empty());

    w.frame->Command(ID_BLANK_SCREEN);
    EXPECT_TRUE(w.frame->Action(ID_BLANK_SCREEN)->isChecked());
    QTest::mouseClick(w.view, Qt::MiddleButton, {}, corner);
    EXPECT_TRUE(w.view->Shooting());
    EXPECT_NE(w.view->BlankWindow(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return w.view->BlankWindow() == nullptr; }));  // gone with the first progress
    ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == 1 && !w.view->Shooting(); }));
    // Over the picture just saved, the right button hands it to the editor.
    QTest::mouseClick(w.view, Qt::RightButton, {}, corner);
    EXPECT_EQ(editors.opened, std::vector<std::string>{(w.pictures / "IMG_0001.JPG").string()});
    EXPECT_TRUE(w.boxes.shown.empty());
    EXPECT_FALSE(w.view->Shooting());
}

TEST(MainWindow, ASecondReleaseIsRefusedFromEveryEntryWhileShooting)
{
    auto config = Window::Small();
    config.linkBytesPerSecond = 100000;  // a download that takes a while
    Window w(config, [](Settings& s) {
        s.MiddleBtnAction = 1;  // Release
        s.RightBtnAction = 2;   // Preview
    });
    w.frame->activateWindow();
    testsupport::Pump(30);
    QTest::keyClick(w.frame.get(), Qt::Key_F8);  // the key fires the first shot
    ASSERT_TRUE(w.view->Shooting());

    QTest::keyClick(w.frame.get(), Qt::Key_F8);
    QTest::keyClick(w.frame.get(), Qt::Key_F9);
    w.frame->Command(IDC_RELEASE);
    w.frame->Command(IDC_PREVIEW);
    w.view->OnCommand(IDC_RELEASE);
    const QPoint corner(w.view->width() - 5, w.view->height() - 5);
    QTest::mouseClick(w.view, Qt::MiddleButton, {}, corner);
    QTest::mouseClick(w.view, Qt::RightButton, {}, corner);
    QTest::mouseClick(w.view->HistogramWidget(), Qt::MiddleButton);
    // The routes of the other windows, time-lapse and the remote channel.
    EXPECT_FALSE(w.view->TakePicture());
    EXPECT_FALSE(w.view->TakePreviewPicture());
    EXPECT_TRUE(w.boxes.shown.empty());

    ASSERT_TRUE(WaitUntil([&] { return !w.view->Shooting(); }, 60000));
    testsupport::Pump(300);
    EXPECT_EQ(w.lib.CallCount("CDRelease"), 1);
    EXPECT_EQ(w.Files(), std::vector<std::string>{"IMG_0001.JPG"});
    EXPECT_FALSE(w.lib.State().uiLocked);  // one lock taken, one given back
    uint16_t quality = 0, size = 0;
    w.lib.CDGetImageFormatAttribute(w.view->Camera()->Source(), &quality, &size);
    EXPECT_EQ(quality, 3);  // no preview slipped in and left the format small
    EXPECT_EQ(size, 0);

    // Once the shot has ended the next one starts.
    EXPECT_TRUE(w.view->TakePicture());
    ASSERT_TRUE(WaitUntil([&] { return w.Files().size() == 2 && !w.view->Shooting(); }, 60000));
}

TEST(MainWindow, MiddleButtonOverTheHistogramRunsItsActionRightButtonOpensTheCurveMenu)
{
    Window w(Window::Small(), [](Settings& s) {
        s.MiddleBtnAction = 1;
        s.RightBtnAction = 1;
    });
    QWidget* histogram = w.view->HistogramWidget();
    bool menuSeen = false;
    QTimer::singleShot(200, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            menuSeen = qobject_cast<QMenu*>(popup) != nullptr;
            popup->close();
        }
    });
    QTest::mouseClick(histogram, Qt::RightButton);
    EXPECT_TRUE(menuSeen);
    EXPECT_FALSE(w.view->Shooting());
    QTest::mouseClick(histogram, Qt::MiddleButton);
    EXPECT_TRUE(w.view->Shooting());
    ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == 1 && !w.view->Shooting(); }));
}

TEST(MainWindow, PreviewPutsBackTheFormatTheCameraHadNotTheListsChoice)
{
    Window w;
    const cdsdk::cdHSource source = w.view->Camera()->Source();
    // Medium/fine on the body (set there, e.g. while the LCD was on), nothing chosen in the list.
    ASSERT_EQ(w.lib.CDSetImageFormatAttribute(source, 3, 1), cdsdk::cdOK);
    w.view->Form().sizeQuality->setCurrentIndex(-1);
    ASSERT_TRUE(w.view->TakePreviewPicture());
    ASSERT_TRUE(WaitUntil([&] { return !w.view->CurrentBytes().empty() && !w.view->Shooting(); }));
    uint16_t quality = 0, size = 0;
    w.lib.CDGetImageFormatAttribute(source, &quality, &size);
    EXPECT_EQ(quality, 3);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(w.view->Form().sizeQuality->currentText(), "Medium/fine");
    EXPECT_FALSE(w.lib.State().uiLocked);
}

TEST(MainWindow, PreviewFormatRefusedEndsNothingAndLeavesTheBodyUnlocked)
{
    Window w;
    for (const char* call : {"CDSetImageFormatAttribute", "CDGetImageFormatAttribute"}) {
        w.lib.SetCallFault(call, true);
        EXPECT_FALSE(w.view->TakePreviewPicture()) << call;
        w.lib.SetCallFault(call, false);
        EXPECT_EQ(w.boxes.LastText(), "Error selecting small, normal quality JPEG for preview");
        EXPECT_FALSE(w.view->Shooting());
        EXPECT_TRUE(w.view->Form().release->isEnabled());
        EXPECT_TRUE(w.view->Form().panel->isEnabled());
        EXPECT_FALSE(w.lib.State().uiLocked) << call;
    }
    EXPECT_EQ(w.boxes.shown.size(), 2u);
    testsupport::Pump(200);
    EXPECT_EQ(w.lib.CallCount("CDRelease"), 0);
    // The camera keeps the user's format, and the next release works as ever.
    uint16_t quality = 0, size = 0;
    w.lib.CDGetImageFormatAttribute(w.view->Camera()->Source(), &quality, &size);
    EXPECT_EQ(quality, 3);
    EXPECT_EQ(size, 0);
    ASSERT_TRUE(w.Shoot());
}

TEST(MainWindow, AutomaticEditingHandsEachSavedPictureToTheEditor)
{
    editor::LaunchRecorder editors;
    Window w(Window::Small(), [](Settings& s) {
        s.AutoEdit = 1;
        s.ShellExecute = 0;
        s.LaunchEditorCmd = "tethrocam-test-editor -n";
    });
    ASSERT_TRUE(w.Shoot());
    ASSERT_TRUE(w.Shoot());
    ASSERT_EQ(editors.started.size(), 2u);
    EXPECT_EQ(editors.started[1].program, "tethrocam-test-editor");
    EXPECT_EQ(editors.started[1].arguments,
              (std::vector<std::string>{"tethrocam-test-editor", "-n", (w.pictures / "IMG_0002.JPG").string()}));
    // A preview is not saved, so nothing is edited.
    w.frame->Command(IDC_PREVIEW);
    ASSERT_TRUE(WaitUntil([&] { return !w.view->Shooting(); }));
    testsupport::Pump(100);
    EXPECT_EQ(editors.started.size(), 2u);
    EXPECT_TRUE(editors.opened.empty());
    EXPECT_TRUE(w.boxes.shown.empty());
}

// The desktop has no program for pictures: Edit Image says so, as F1 does for the guide.
TEST(MainWindow, EditImageWithNothingOnTheDesktopToOpenItSaysSo)
{
    editor::LaunchRecorder editors;
    editors.openResult = false;
    Window w;
    ASSERT_TRUE(w.Shoot());
    w.frame->Command(ID_EDIT_IMAGE);
    const std::string path = (w.pictures / "IMG_0001.JPG").string();
    EXPECT_EQ(editors.opened, std::vector<std::string>{path});
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.LastText().toStdString(), editor::OpenFailureText(path));
    EXPECT_TRUE(w.boxes.LastText().startsWith("Unable to open the picture:\n"));
    EXPECT_EQ(w.boxes.shown[0].icon, msgbox::Icon::Error);
}

// A picture deleted outside the program: stepping onto it empties the picture area and
// says it is gone; Delete asks about it and takes it out of the run's list.
TEST(MainWindow, SteppingOntoAPictureDeletedElsewhereSaysItIsGone)
{
    Window w;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(w.Shoot());
    fs::remove(w.pictures / "IMG_0002.JPG");
    w.frame->Command(IDC_PREVIOUS);
    EXPECT_EQ(w.view->History().CurrentIndex(), 1);
    EXPECT_EQ(w.Status().toStdString(), "Image 2 of 3: " + (w.pictures / "IMG_0002.JPG").string() + " - the file is gone");
    EXPECT_TRUE(w.view->CurrentBytes().empty());
    EXPECT_FALSE(w.view->DisplayBitmap().has_value());
    w.frame->Command(ID_DELETE_IMAGE);
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.LastText().toStdString(), "Are you sure you wish to delete:\n" + (w.pictures / "IMG_0002.JPG").string());
    EXPECT_EQ(w.view->History().Count(), 2u);
    EXPECT_TRUE(w.Status().startsWith("Image 2 of 2: ")) << w.Status().toStdString();
    EXPECT_FALSE(w.view->CurrentBytes().empty());
}

// The About box is wide enough for its title beside the title bar's icon and buttons.
TEST(MainWindow, AboutBoxShowsItsWholeTitle)
{
    Window w;
    int width = 0;
    QString title;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box)
            return;
        title = box->windowTitle();
        width = box->width();
        box->close();
    });
    w.frame->Command(ID_APP_ABOUT);
    EXPECT_EQ(title, "About Tethrocam");
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);  // as window managers draw titles
    const QFontMetrics titleFont(font);
    // Room for the title and, in a title bar of the font's height, an icon and three
    // buttons with their spacing.
    EXPECT_GE(width, titleFont.horizontalAdvance(title) + 4 * (titleFont.height() + 12)) << width;
}

TEST(MainWindow, LongStatusTextIsElidedAndNeverWidensTheWindow)
{
    Window w;
    const int width = w.frame->width();
    const QString path = "/home/photographer/" + QString("very-long-folder-name/").repeated(60) + "IMG_0001.JPG";
    const QString text = "Saved: " + path + " (2.6 MB) - 1/125sec, F5.6";
    w.frame->SetStatusText(0, text);
    testsupport::Pump(50);
    EXPECT_EQ(w.frame->width(), width);
    EXPECT_LT(w.frame->minimumSizeHint().width(), 980);
    EXPECT_EQ(w.Status(), text);  // the whole text is kept
    auto* pane = w.frame->findChild<ElidedLabel*>("statusPane0");
    ASSERT_NE(pane, nullptr);
    const QString shown = pane->ShownText();
    EXPECT_TRUE(shown.startsWith("Saved: /home/")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("F5.6")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    EXPECT_LE(pane->fontMetrics().horizontalAdvance(shown), pane->width());
    EXPECT_EQ(pane->toolTip(), text);
    // A short text is shown whole.
    w.frame->SetStatusText(0, "Taking picture");
    EXPECT_EQ(pane->ShownText(), "Taking picture");
}

TEST(MainWindow, LeftPanelScrollsInAShortWindowAndThePictureKeepsClearOfIt)
{
    Window w;
    w.frame->resize(980, 700);
    testsupport::Pump(50);
    QScrollArea* scroller = w.view->PanelScroller();
    const FormControls& form = w.view->Form();
    EXPECT_EQ(form.previous->text(), "<- Prev Image");
    EXPECT_EQ(form.next->text(), "Next Image ->");
    ASSERT_GT(form.panel->height(), w.view->height()) << "the form fits; the test needs a shorter window";
    EXPECT_EQ(scroller->height(), w.view->height());
    EXPECT_GT(scroller->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(scroller->verticalScrollBar()->isVisible());
    // Scrolled down, the history buttons are within the window.
    scroller->verticalScrollBar()->setValue(scroller->verticalScrollBar()->maximum());
    testsupport::Pump(20);
    for (QWidget* button : {static_cast<QWidget*>(form.previous), static_cast<QWidget*>(form.next)}) {
        const QRect r(button->mapTo(w.view, QPoint(0, 0)), button->size());
        EXPECT_TRUE(w.view->rect().contains(r)) << button->objectName().toStdString();
    }
    ASSERT_TRUE(w.Shoot());
    EXPECT_GE(w.view->Picture()->x(), scroller->geometry().right() + 1);
    EXPECT_EQ(w.view->Picture()->x() + w.view->Picture()->width(), w.view->width());

    // Tall enough for the whole form: no scroll bar.
    w.frame->resize(980, form.panel->height() + 200);
    testsupport::Pump(50);
    EXPECT_EQ(scroller->verticalScrollBar()->maximum(), 0);
    EXPECT_FALSE(scroller->verticalScrollBar()->isVisible());
}

TEST(MainWindow, MenuEntriesSitInTheirMenusWithTheirKeys)
{
    Window w;
    auto menuOf = [&](int command) {
        QAction* a = w.frame->Action(command);
        if (!a)
            return QString("(none)");
        for (QObject* o : a->associatedObjects()) {
            if (auto* menu = qobject_cast<QMenu*>(o))
                return menu->title();
        }
        return QString("(no menu)");
    };
    EXPECT_EQ(menuOf(ID_EDIT_IMAGE), "&View");
    EXPECT_EQ(w.frame->Action(ID_EDIT_IMAGE)->shortcut(), QKeySequence("Ctrl+E"));
    EXPECT_EQ(menuOf(ID_EDITOR_SETUP), "&File");
    EXPECT_EQ(menuOf(ID_REGISTER_EVENTS), "&Camera");
    EXPECT_EQ(menuOf(ID_UNREGISTER_EVENTS), "&Camera");
    EXPECT_EQ(menuOf(ID_TIME_LAPSE), "&Camera");
    EXPECT_EQ(menuOf(ID_BLANK_SCREEN), "&Camera");
    EXPECT_EQ(menuOf(ID_FULL_SCREEN), "&View");
    EXPECT_EQ(menuOf(ID_VIEW_IMAGE), "&View");
    EXPECT_EQ(menuOf(ID_CONNECT), "&Camera");
    EXPECT_EQ(w.frame->Action(ID_CONNECT)->shortcut(), QKeySequence(Qt::Key_F2));
    EXPECT_EQ(menuOf(ID_HELP_CONTENTS), "&Help");
    EXPECT_EQ(w.frame->Action(ID_HELP_CONTENTS)->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(menuOf(ID_APP_ABOUT), "&Help");
}

TEST(MainWindow, QuitSignalsSaveSettingsAndPlacementAndEndTheEventLoop)
{
    for (int signal : {SIGTERM, SIGINT}) {
        Window w;
        w.frame->Command(ID_DISPLAY_GRID);
        w.frame->setGeometry(60, 70, 900, 650);
        testsupport::Pump(50);
        QuitSignals quit([&](int) { EndSessionCleanly(*w.frame, *w.view); });
        ASSERT_TRUE(quit.Installed());
        QTimer::singleShot(50, [signal] { std::raise(signal); });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(10000);
        EXPECT_EQ(QCoreApplication::exec(), 0) << signal;

        // Saved before the window has gone: what a killed session leaves on disk.
        RegistryStore store(w.settingsFile);
        Settings saved;
        LoadSettings(saved, store);
        EXPECT_TRUE(saved.DisplayGrid) << signal;
        StoredWindowPlacement placement;
        ASSERT_TRUE(LoadWindowPlacement(placement, store));
        ASSERT_TRUE(placement.left && placement.right && placement.top && placement.bottom);
        EXPECT_EQ(*placement.right - *placement.left, 900);
        EXPECT_EQ(*placement.bottom - *placement.top, 650);
    }
}

TEST(MainWindow, EditorSetupDialogEditsTheThreeSettings)
{
    testsupport::App();
    EditorSetupValues values{"/usr/bin/gimp", true, false};
    std::unique_ptr<QDialog> dialog(MakeEditorSetupDialog(nullptr, values));
    auto* useCommand = dialog->findChild<QRadioButton*>("1050");
    auto* command = dialog->findChild<QLineEdit*>("1052");
    auto* autoEdit = dialog->findChild<QCheckBox*>("1051");
    ASSERT_TRUE(useCommand && command && autoEdit);
    EXPECT_FALSE(command->isEnabled());  // the desktop's open action is chosen
    useCommand->click();
    EXPECT_TRUE(command->isEnabled());
    command->setText("\"/opt/My Editor/edit\" -n");
    autoEdit->setChecked(true);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(values.shellExecute);
    EXPECT_EQ(values.command, "\"/opt/My Editor/edit\" -n");
    EXPECT_TRUE(values.autoEdit);
}

TEST(MainWindow, SettingsAndPlacementSurviveARestart)
{
    Window w;
    w.frame->Command(ID_DISPLAY_GRID);
    w.frame->Command(ID_ORIENT_INVERTED);
    w.frame->setGeometry(40, 50, 820, 610);
    testsupport::Pump(50);
    w.Close();
    w.Open();
    EXPECT_TRUE(w.view->Prefs().DisplayGrid);
    EXPECT_EQ(w.view->Prefs().OrientationSetting, 3);
    EXPECT_TRUE(w.frame->Action(ID_ORIENT_INVERTED)->isChecked());
    EXPECT_EQ(w.frame->geometry().width(), 820);
    EXPECT_EQ(w.frame->geometry().height(), 610);

    // Closed maximised: opens maximised, and un-maximising returns to the rectangle.
    w.frame->showMaximized();
    testsupport::Pump(50);
    w.Close();
    w.Open();
    EXPECT_TRUE(w.frame->isMaximized());
    EXPECT_EQ(w.frame->normalGeometry().width(), 820);
}

TEST(MainWindow, ASettingsFileThatIsNotOursIsReportedAndKept)
{
    Window w;
    w.Close();
    std::string big;
    {
        std::ifstream in(w.settingsFile, std::ios::binary);
        big.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    big += std::string((1 << 20) + 1, '#');
    std::ofstream(w.settingsFile, std::ios::binary) << big;
    w.Open();
    testsupport::Pump(100);
    ASSERT_FALSE(w.boxes.shown.empty());
    EXPECT_EQ(w.boxes.shown[0].text, "The settings could not be read");
    EXPECT_TRUE(w.boxes.shown[0].detail.contains("larger than 1 MiB")) << w.boxes.shown[0].detail.toStdString();
    w.frame->Command(ID_DISPLAY_GRID);
    w.Close();  // the settings are saved on the way out: not over that file
    std::ifstream in(w.settingsFile, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), big);
}

}  // namespace
