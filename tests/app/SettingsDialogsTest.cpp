// The preferences, grid and highlight dialogs, offscreen: what the user types and clicks,
// what OK and Cancel leave in the settings, and what the main window does afterwards (the
// next picture's folder, redisplay, the help and registration commands from the menus).
#include "app/CMainFrame.h"
#include "app/DesktopIntegration.h"
#include "app/MessageBox.h"
#include "app/SettingsDialogs.h"
#include "backends/sim/SimCamera.h"
#include "mainview/CMyTethrocamView.h"
#include "mainview/ControlIds.h"
#include "settings/RegistryStore.h"
#include "support/MainWindowFixture.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>
#include <lcms2.h>

#include <ctime>
#include <fstream>
#include <filesystem>

using namespace ids;
using testsupport::WaitUntil;
namespace fs = std::filesystem;

namespace {

template <class W>
W* Control(QWidget* dialog, int id)
{
    W* w = dialog->findChild<W*>(QString::number(id));
    EXPECT_NE(w, nullptr) << "control " << id;
    return w;
}

QString Today(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

// Runs `act` on the next modal dialog as soon as it is shown.
void OnNextDialog(std::function<void(QDialog*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(d);
        }
    });
    timer->start();
}

void Click(QDialog* d, int id) { Control<QPushButton>(d, id)->click(); }

struct Choosers {
    Choosers()
    {
        dialogs::SetFolderChooser([this](QWidget*, const QString& title, const QString& start) {
            folderTitle = title;
            folderStart = start;
            return folderAnswer;
        });
        dialogs::SetColourChooser([this](QWidget*, uint32_t start) {
            colourStart = start;
            return colourAnswer;
        });
    }
    ~Choosers()
    {
        dialogs::SetFolderChooser({});
        dialogs::SetColourChooser({});
    }
    QString folderAnswer, folderTitle, folderStart;
    std::optional<uint32_t> colourAnswer;
    uint32_t colourStart = 0;
};

// ---------------------------------------------------------------- preferences

TEST(Preferences, TheExampleNameFollowsEveryKeystrokeAndClick)
{
    testsupport::App();
    PreferencesValues v;
    v.directory = "/home/ann/Pictures/Tethrocam";
    v.prefix = "IMG_";
    CPreferencesDlg dlg(v);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Tethrocam Preferences");
    EXPECT_EQ(dlg.ExampleName(), "/home/ann/Pictures/Tethrocam/" + Today("%Y-%m-%d") + "/IMG_0123.JPG");

    auto* prefix = Control<QLineEdit>(&dlg, 1033);
    prefix->clear();
    QString typed;
    for (QChar c : QString("D60_")) {
        QTest::keyClick(prefix, c.toLatin1());
        typed += c;
        EXPECT_EQ(dlg.ExampleName(), "/home/ann/Pictures/Tethrocam/" + Today("%Y-%m-%d") + "/" + typed + "0123.JPG");
    }

    QTest::mouseClick(Control<QCheckBox>(&dlg, 1037), Qt::LeftButton);  // flatten off
    EXPECT_EQ(dlg.ExampleName(), "/home/ann/Pictures/Tethrocam/" + Today("%Y/%m/%d") + "/D60_0123.JPG");
    QTest::mouseClick(Control<QCheckBox>(&dlg, 1035), Qt::LeftButton);  // month off
    EXPECT_EQ(dlg.ExampleName(), "/home/ann/Pictures/Tethrocam/" + Today("%Y/%d") + "/D60_0123.JPG");
    QTest::mouseClick(Control<QCheckBox>(&dlg, 1034), Qt::LeftButton);  // year off
    QTest::mouseClick(Control<QCheckBox>(&dlg, 1036), Qt::LeftButton);  // day off
    EXPECT_EQ(dlg.ExampleName(), "/home/ann/Pictures/Tethrocam/D60_0123.JPG");

    auto* directory = Control<QLineEdit>(&dlg, 1032);
    directory->selectAll();
    QTest::keyClicks(directory, "/srv/shots/");
    EXPECT_EQ(dlg.ExampleName(), "/srv/shots/D60_0123.JPG");
    EXPECT_EQ(Control<QLineEdit>(&dlg, 1038)->text(), dlg.ExampleName());
    EXPECT_TRUE(Control<QLineEdit>(&dlg, 1038)->isReadOnly());
}

TEST(Preferences, TheFolderChooserStartsAtTheFolderAndAnEmptyAnswerChangesNothing)
{
    testsupport::App();
    testsupport::TempDir dir;
    Choosers choosers;
    PreferencesValues v;
    v.directory = (dir.Path() / "not" / "yet").string();  // missing: start at the nearest folder that exists
    v.prefix = "IMG_";
    v.year = v.month = v.day = false;
    CPreferencesDlg dlg(v);
    dlg.Browse();
    EXPECT_EQ(choosers.folderTitle, "Select folder in which to save images");
    EXPECT_EQ(choosers.folderStart.toStdString(), dir.Str());
    EXPECT_EQ(dlg.Values().directory, v.directory);

    choosers.folderAnswer = QString::fromStdString(dir.Str());
    Click(&dlg, 1003);
    EXPECT_EQ(dlg.Values().directory, dir.Str());
    EXPECT_EQ(dlg.ExampleName().toStdString(), dir.Str() + "/IMG_0123.JPG");
}

TEST(Preferences, MouseListsOfferTheFourActionsInOrder)
{
    testsupport::App();
    PreferencesValues v;
    v.directory = "/tmp";
    v.middleButtonAction = 3;
    v.rightButtonAction = 9;  // a stored number this program does not know: kept as it is
    CPreferencesDlg dlg(v);
    auto* middle = Control<QComboBox>(&dlg, 1039);
    ASSERT_EQ(middle->count(), 4);
    EXPECT_EQ(middle->itemText(0), "None");
    EXPECT_EQ(middle->itemText(1), "Release");
    EXPECT_EQ(middle->itemText(2), "Preview");
    EXPECT_EQ(middle->itemText(3), "Edit image");
    EXPECT_EQ(middle->currentIndex(), 3);
    EXPECT_EQ(dlg.Values().rightButtonAction, 9);
    Control<QComboBox>(&dlg, 1040)->setCurrentIndex(1);
    EXPECT_EQ(dlg.Values().rightButtonAction, 1);
    EXPECT_EQ(dlg.Values().middleButtonAction, 3);
}

TEST(Preferences, AFolderThatIsNotAFullPathIsRefusedBeforePicturesAreLost)
{
    testsupport::App();
    msgbox::Script boxes;
    Settings s;
    s.Directory = "/home/ann/Pictures/Tethrocam";
    OnNextDialog([](QDialog* d) {
        Control<QLineEdit>(d, 1032)->setText("Pictures");
        Click(d, 1);
        EXPECT_TRUE(d->isVisible());  // still open after the message
        Control<QLineEdit>(d, 1032)->setText("/srv/shots");
        Control<QLineEdit>(d, 1033)->setText("a/b");
        Click(d, 1);
        EXPECT_TRUE(d->isVisible());
        Control<QLineEdit>(d, 1033)->setText("");  // an empty prefix is fine
        Click(d, 1);
    });
    EXPECT_TRUE(EditPreferences(nullptr, s));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("Please enter the full path of the folder"));
    EXPECT_EQ(boxes.shown[1].text, "The filename prefix cannot contain \"/\".");
    EXPECT_EQ(s.Directory, "/srv/shots");
    EXPECT_EQ(s.FilenamePrefix, "");
}

// The monitor profile: System, sRGB or a file. A file is checked on OK, so a profile that
// cannot be used is said while another can still be chosen.
TEST(Preferences, AMonitorProfileFileIsCheckedBeforeItIsKept)
{
    testsupport::App();
    testsupport::TempDir dir;
    msgbox::Script boxes;
    const fs::path broken = dir.Path() / "broken.icc", good = dir.Path() / "monitor.icc";
    std::ofstream(broken, std::ios::binary) << std::string(300, 'x');
    {
        cmsHPROFILE h = cmsCreate_sRGBProfile();
        cmsSaveProfileToFile(h, good.c_str());
        cmsCloseProfile(h);
    }
    QString chooserStart;
    QString answer = QString::fromStdString(broken.string());
    dialogs::SetProfileChooser([&](QWidget*, const QString&, const QString& start) {
        chooserStart = start;
        return answer;
    });
    Settings s;
    s.Directory = "/srv/shots";
    OnNextDialog([&](QDialog* d) {
        auto* monitor = d->findChild<QComboBox*>("monitorProfile");
        auto* intent = d->findChild<QComboBox*>("renderingIntent");
        ASSERT_TRUE(monitor && intent);
        ASSERT_EQ(monitor->count(), 3);
        EXPECT_EQ(monitor->itemText(0), "System");
        EXPECT_EQ(monitor->itemText(1), "sRGB");
        EXPECT_EQ(monitor->itemText(2), "File...");
        EXPECT_EQ(intent->itemText(0), "Perceptual");
        EXPECT_EQ(intent->itemText(1), "Relative colorimetric with black-point compensation");
        EXPECT_FALSE(d->findChild<QLineEdit*>("monitorProfileFile")->isEnabled());
        // Choosing "File..." with no file named opens the chooser at once.
        monitor->setCurrentIndex(2);
        emit monitor->activated(2);
        EXPECT_TRUE(chooserStart.endsWith("/.local/share/icc"));
        EXPECT_EQ(d->findChild<QLineEdit*>("monitorProfileFile")->text(), answer);
        intent->setCurrentIndex(1);
        Click(d, 1);
        EXPECT_TRUE(d->isVisible());  // refused, still open
        answer = QString::fromStdString(good.string());
        d->findChild<QPushButton*>("monitorProfileBrowse")->click();
        Click(d, 1);
    });
    EXPECT_TRUE(EditPreferences(nullptr, s));
    dialogs::SetProfileChooser({});
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "This monitor profile cannot be used.");
    EXPECT_TRUE(boxes.shown[0].detail.contains("broken.icc: it is not a colour profile that can be read"));
    EXPECT_TRUE(boxes.shown[0].detail.contains("Choose another profile file"));
    EXPECT_EQ(s.MonitorProfile, 2);
    EXPECT_EQ(s.MonitorProfileFile, good.string());
    EXPECT_EQ(s.RenderingIntent, 1);
}

// The live view's review time: 0 .. 60 seconds, copied back on OK only.
TEST(Preferences, TheLiveViewReviewTimeIsKeptOnOkAndForgottenOnCancel)
{
    testsupport::App();
    Settings s;
    EXPECT_EQ(s.LiveViewReviewTime, 2);
    OnNextDialog([](QDialog* d) {
        auto* review = Control<QSpinBox>(d, 1091);
        EXPECT_EQ(review->value(), 2);
        EXPECT_EQ(review->minimum(), 0);
        EXPECT_EQ(review->maximum(), 60);
        review->setValue(0);
        Click(d, 1);
    });
    EXPECT_TRUE(EditPreferences(nullptr, s));
    EXPECT_EQ(s.LiveViewReviewTime, 0);
    OnNextDialog([](QDialog* d) {
        Control<QSpinBox>(d, 1091)->setValue(9);
        d->reject();
    });
    EXPECT_FALSE(EditPreferences(nullptr, s));
    EXPECT_EQ(s.LiveViewReviewTime, 0);
}

// ---------------------------------------------------------------- grid

TEST(GridSettings, ArrowsStopAtTwoAndFiftyAndFiftyOneIsRefusedOnOk)
{
    testsupport::App();
    msgbox::Script boxes;
    Settings s;
    s.NumberOfHorizontalGridDivisions = 3;
    s.NumberOfVerticalGridDivisions = 49;
    OnNextDialog([](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Grid Settings");
        auto* h = Control<QSpinBox>(d, 1042);
        auto* v = Control<QSpinBox>(d, 1043);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(h, Qt::Key_Down);
        EXPECT_EQ(h->value(), 2);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(v, Qt::Key_Up);
        EXPECT_EQ(v->value(), 50);
        v->selectAll();
        QTest::keyClicks(v, "51");
        Click(d, 1);
        EXPECT_TRUE(d->isVisible());
        QTest::keyClick(v, Qt::Key_Down);  // from 51 the arrow brings it back into range
        EXPECT_EQ(v->value(), 50);
        Click(d, 1);
    });
    EXPECT_TRUE(EditGridSettings(nullptr, s));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Please enter an integer between 2 and 50.");
    EXPECT_EQ(s.NumberOfHorizontalGridDivisions, 2);
    EXPECT_EQ(s.NumberOfVerticalGridDivisions, 50);
}

TEST(GridSettings, TheSwatchShowsAPickedColourAndCancelForgetsIt)
{
    testsupport::App();
    Choosers choosers;
    choosers.colourAnswer = 0x00FF0000;  // blue
    Settings s;
    s.GridColour = 0x0000FF00;
    s.DisplayGrid = false;
    bool sawBlue = false;
    OnNextDialog([&](QDialog* d) {
        Click(d, 1003);
        const QImage swatch = d->findChild<QLabel*>("141")->pixmap().toImage();
        sawBlue = !swatch.isNull() && swatch.pixelColor(2, 2) == QColor(0, 0, 255);
        Control<QCheckBox>(d, 1046)->click();
        Click(d, 2);
    });
    EXPECT_FALSE(EditGridSettings(nullptr, s));
    EXPECT_EQ(choosers.colourStart, 0x0000FF00u);
    EXPECT_TRUE(sawBlue);
    EXPECT_EQ(s.GridColour, 0x0000FF00u);
    EXPECT_FALSE(s.DisplayGrid);

    OnNextDialog([&](QDialog* d) {
        Click(d, 1003);
        Click(d, 1);
    });
    EXPECT_TRUE(EditGridSettings(nullptr, s));
    EXPECT_EQ(s.GridColour, 0x00FF0000u);
}

// ---------------------------------------------------------------- highlights

TEST(HighlightSettings, ThresholdFiftyToTwoFiftyFiveAndTheSortedMethodList)
{
    testsupport::App();
    msgbox::Script boxes;
    Settings s;
    s.HighlightBlinkMethod = 1;
    s.HighlightBlinkThreshold = 250;
    OnNextDialog([](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Flashing Highlight Settings");
        auto* method = Control<QComboBox>(d, 1069);
        ASSERT_EQ(method->count(), 2);
        EXPECT_EQ(method->itemText(0), "Luminosity");
        EXPECT_EQ(method->itemText(1), "RGB value");
        EXPECT_EQ(method->currentIndex(), 1);
        method->setCurrentIndex(0);
        auto* threshold = Control<QLineEdit>(d, 1070);
        threshold->setText("49");
        Click(d, 1);
        EXPECT_TRUE(d->isVisible());
        threshold->setText("256");
        Click(d, 1);
        EXPECT_TRUE(d->isVisible());
        threshold->setText("50");
        Control<QCheckBox>(d, 1071)->click();
        Click(d, 1);
    });
    EXPECT_TRUE(EditHighlightSettings(nullptr, s));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, "Please enter an integer between 50 and 255.");
    EXPECT_EQ(s.HighlightBlinkMethod, 0);
    EXPECT_EQ(s.HighlightBlinkThreshold, 50);
    EXPECT_TRUE(s.HighlightBlink);

    OnNextDialog([](QDialog* d) {
        Control<QLineEdit>(d, 1070)->setText("255");
        Click(d, 1);
    });
    EXPECT_TRUE(EditHighlightSettings(nullptr, s));
    EXPECT_EQ(s.HighlightBlinkThreshold, 255);
    EXPECT_EQ(boxes.shown.size(), 2u);

    OnNextDialog([](QDialog* d) { Click(d, 1); });  // nothing changed
    EXPECT_FALSE(EditHighlightSettings(nullptr, s));
}

// ---------------------------------------------------------------- the main window

// The pictures start in "first", so that a test can move them elsewhere.
struct Window : testsupport::MainWindow {
    Window()
        : MainWindow(Small(), [this](Settings& s) { s.Directory = (dir.Path() / "first").string(); })
    {
    }
    static sim::SimConfig Small()
    {
        sim::SimConfig c;
        c.pictureWidth = 960;
        c.pictureHeight = 640;
        c.exposureMs = 5;
        return c;
    }
    bool Shoot()
    {
        const size_t before = view->History().Count();
        frame->Command(IDC_RELEASE);
        return WaitUntil([&] { return view->History().Count() > before && !view->Shooting(); });
    }
    // Runs a menu command whose dialog `act` works; returns when the dialog is gone.
    void RunDialog(int command, std::function<void(QDialog*)> act)
    {
        OnNextDialog(std::move(act));
        frame->Action(command)->trigger();
    }
};

TEST(SettingsCommands, APictureTakenRightAfterChangingTheFolderLandsInTheNewFolder)
{
    Window w;
    ASSERT_NE(w.view->Camera(), nullptr);
    const fs::path second = w.dir.Path() / "second";
    w.RunDialog(ID_PREFERENCES, [&](QDialog* d) {
        Control<QLineEdit>(d, 1032)->setText(QString::fromStdString(second.string()));
        Control<QLineEdit>(d, 1033)->setText("NEW_");
        Click(d, 1);
    });
    ASSERT_TRUE(w.Shoot());
    EXPECT_TRUE(fs::exists(second / "NEW_0001.JPG"));
    EXPECT_FALSE(fs::exists(w.dir.Path() / "first"));

    // Cancel leaves everything as it was: the next picture goes to the same place.
    w.RunDialog(ID_PREFERENCES, [&](QDialog* d) {
        Control<QLineEdit>(d, 1032)->setText(QString::fromStdString((w.dir.Path() / "third").string()));
        Click(d, 2);
    });
    ASSERT_TRUE(w.Shoot());
    EXPECT_TRUE(fs::exists(second / "NEW_0002.JPG"));
    EXPECT_FALSE(fs::exists(w.dir.Path() / "third"));
}

TEST(SettingsCommands, TheGridDialogRedisplaysOnlyWhenAValueChanged)
{
    Window w;
    ASSERT_TRUE(w.Shoot());
    ASSERT_TRUE(WaitUntil([&] { return w.view->DisplayBitmap().has_value(); }));
    const uint8_t* shown = w.view->DisplayBitmap()->pixels.data();

    w.RunDialog(ID_GRID_SETTINGS, [](QDialog* d) { Click(d, 1); });
    EXPECT_EQ(w.view->DisplayBitmap()->pixels.data(), shown) << "redisplayed although nothing changed";
    w.RunDialog(ID_HIGHLIGHT_SETTINGS, [](QDialog* d) { Click(d, 1); });
    EXPECT_EQ(w.view->DisplayBitmap()->pixels.data(), shown) << "redisplayed although nothing changed";

    // Grid on, two divisions, pure red: the middle column of the picture turns red.
    Choosers choosers;
    choosers.colourAnswer = 0x000000FF;
    w.RunDialog(ID_GRID_SETTINGS, [](QDialog* d) {
        Control<QSpinBox>(d, 1042)->setValue(2);
        Control<QSpinBox>(d, 1043)->setValue(2);
        Control<QCheckBox>(d, 1046)->click();
        Click(d, 1003);
        Click(d, 1);
    });
    EXPECT_TRUE(w.view->Prefs().DisplayGrid) << w.boxes.LastText().toStdString();
    EXPECT_TRUE(w.frame->Action(ID_DISPLAY_GRID)->isChecked());
    const Bitmap& b = *w.view->DisplayBitmap();
    int red = 0;
    for (int y = 0; y < b.height; ++y)
        for (int x = b.width / 2 - 2; x <= b.width / 2 + 2; ++x) {
            const uint8_t* p = b.pixels.data() + static_cast<size_t>(y) * b.stride + static_cast<size_t>(x) * 3;
            if (p[2] == 255 && p[1] == 0 && p[0] == 0)
                ++red;
        }
    EXPECT_GE(red, b.height * 9 / 10) << "the grid's middle line is not drawn in the new colour";
}

TEST(SettingsCommands, EveryDialogAndDesktopCommandIsInTheMenus)
{
    Window w;
    for (int id : {ID_PREFERENCES, ID_GRID_SETTINGS, ID_HIGHLIGHT_SETTINGS, ID_REGISTER_EVENTS, ID_UNREGISTER_EVENTS,
                   ID_HELP_CONTENTS}) {
        QAction* a = w.frame->Action(id);
        ASSERT_NE(a, nullptr) << id;
        bool inMenu = false;
        for (QAction* top : w.frame->menuBar()->actions())
            if (top->menu() && top->menu()->actions().contains(a))
                inMenu = true;
        EXPECT_TRUE(inMenu) << id;
    }
    EXPECT_EQ(w.frame->Action(ID_HELP_CONTENTS)->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(w.frame->Action(ID_REGISTER_EVENTS)->statusTip(),
              "Register for camera events when camera is connected to USB");
}

TEST(SettingsCommands, RegisterAndUnregisterFromTheCameraMenuSayHowItWent)
{
    testsupport::TempDir xdg;
    const fs::path data = xdg.Path() / "data", config = xdg.Path() / "config";
    fs::create_directories(config);
    const std::string others = "[Default Applications]\ntext/html=firefox-esr.desktop\n";
    testsupport::WriteFileBytes(config / "mimeapps.list", std::vector<uint8_t>(others.begin(), others.end()));
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    {
        Window w;
        w.frame->Action(ID_REGISTER_EVENTS)->trigger();
        ASSERT_EQ(w.boxes.shown.size(), 1u);
        EXPECT_EQ(w.boxes.shown[0].icon, msgbox::Icon::None);
        EXPECT_TRUE(w.boxes.shown[0].text.startsWith("Tethrocam registered for camera events\n"));
        EXPECT_TRUE(fs::exists(data / "applications" / "com.larkspurworks.Tethrocam.CameraEvents.desktop"));

        w.frame->Action(ID_UNREGISTER_EVENTS)->trigger();
        ASSERT_EQ(w.boxes.shown.size(), 2u);
        EXPECT_EQ(w.boxes.shown[1].icon, msgbox::Icon::None);
        EXPECT_TRUE(w.boxes.shown[1].text.startsWith("Unregistered Tethrocam for camera events"));
        const auto after = testsupport::ReadFileBytes(config / "mimeapps.list");
        EXPECT_EQ(std::string(after.begin(), after.end()), others);

        // A damaged file: the error icon and the reason.
        const std::string damaged = "[Default Applications]\nnot a setting\n";
        testsupport::WriteFileBytes(config / "mimeapps.list", std::vector<uint8_t>(damaged.begin(), damaged.end()));
        w.frame->Action(ID_REGISTER_EVENTS)->trigger();
        ASSERT_EQ(w.boxes.shown.size(), 3u);
        EXPECT_EQ(w.boxes.shown[2].icon, msgbox::Icon::Error);
        EXPECT_TRUE(w.boxes.shown[2].text.startsWith("Error registering Tethrocam for camera events\n"));
        EXPECT_TRUE(w.boxes.shown[2].text.contains("is damaged (line 2"));
    }
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(SettingsCommands, HelpOpensThePageOrListsEveryPathTried)
{
    testsupport::App();
    testsupport::TempDir dir;
    msgbox::Script boxes;
    std::vector<std::string> opened;
    desktop::SetOpener([&](const std::string& path) {
        opened.push_back(path);
        return true;
    });
    const fs::path exe = dir.Path() / "bin" / "tethrocam";
    desktop::ShowHelp(nullptr, exe.string());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].icon, msgbox::Icon::Error);
    EXPECT_EQ(boxes.shown[0].text, "Unable to find HTML help file:\n" +
                                               QString::fromStdString((dir.Path() / "bin" / "Tethrocam.htm").string()) +
                                               "\n" +
                                               QString::fromStdString((dir.Path() / "share" / "doc" / "tethrocam" /
                                                                       "Tethrocam.htm")
                                                                          .string()));
    EXPECT_TRUE(opened.empty());

    fs::create_directories(dir.Path() / "bin");
    testsupport::WriteFileBytes(dir.Path() / "bin" / "Tethrocam.htm", {'<', 'p', '>'});
    desktop::ShowHelp(nullptr, exe.string());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], (dir.Path() / "bin" / "Tethrocam.htm").string());
    EXPECT_EQ(boxes.shown.size(), 1u);

    // The page in the repository is what the build tree and the install carry.
    const fs::path page = testsupport::SourceDir() / "res" / "Tethrocam.htm";
    const auto bytes = testsupport::ReadFileBytes(page);
    const std::string html(bytes.begin(), bytes.end());
    EXPECT_NE(html.find("<title>Tethrocam"), std::string::npos);
    for (const char* external : {"src=\"http", "href=\"http://", "<script src", "<link "})
        EXPECT_EQ(html.find(external), std::string::npos) << "the page must not need " << external;
    desktop::SetOpener({});
}

TEST(SettingsCommands, TheIconIsDrawnAtSixteenPixels)
{
    testsupport::App();
    const QImage small = desktop::ApplicationIcon().pixmap(16, 16).toImage();
    ASSERT_FALSE(small.isNull());
    // Opaque in the middle, transparent in the corner, and not one flat colour.
    EXPECT_EQ(qAlpha(small.pixel(8, 8)), 255);
    EXPECT_EQ(qAlpha(small.pixel(0, 0)), 0);
    QSet<QRgb> colours;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            colours.insert(small.pixel(x, y));
    EXPECT_GT(colours.size(), 4);
}

}  // namespace
