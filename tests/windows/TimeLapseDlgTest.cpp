// The Time Lapse dialog in the main window on the simulated camera, offscreen: its checks
// and controls, Cancel while running, real sequences through Camera > Time Lapse... that
// save their pictures, and the failures that must neither stall nor lose a night: an
// autofocus retry, a refused shot, a release error, a full disk, the camera going away.
#include "mainview/ControlIds.h"
#include "support/MainWindowFixture.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "windows/CTimeLapseDlg.h"

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using testsupport::WaitUntil;
namespace fs = std::filesystem;

namespace {

struct Window : testsupport::MainWindow {
    explicit Window(const std::function<void(Settings&)>& prefs = {}) : MainWindow(Small(), prefs) {}
    static sim::SimConfig Small()
    {
        sim::SimConfig c;
        c.pictureWidth = 320;
        c.pictureHeight = 240;
        c.exposureMs = 5;
        return c;
    }
    size_t Files() const
    {
        std::error_code ec;
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(pictures, ec))
            n += e.path().extension() == ".JPG";
        return n;
    }
    // Runs Camera > Time Lapse...; `body` works the open dialog, then it is closed if open.
    void RunDialog(const std::function<void(CTimeLapseDlg&)>& body)
    {
        bool ran = false;
        QTimer::singleShot(0, frame.get(), [&] {
            auto* dlg = dynamic_cast<CTimeLapseDlg*>(view->CurrentDisplayWindow());
            ASSERT_NE(dlg, nullptr);
            ran = true;
            body(*dlg);
            if (view->CurrentDisplayWindow() == dlg && dlg->isVisible()) {
                boxes.answers.push_back(msgbox::Answer::Yes);
                dlg->reject();
            }
        });
        frame->Command(ids::ID_TIME_LAPSE);
        EXPECT_TRUE(ran);
    }
};

template <typename W>
W* Control(QWidget& dlg, int id)
{
    W* w = dlg.findChild<W*>(QString::number(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
}

QString Status(QWidget& dlg) { return Control<QLineEdit>(dlg, 1064)->text(); }

void Start(CTimeLapseDlg& dlg, int frames, int interval)
{
    Control<QLineEdit>(dlg, 1059)->setText(QString::number(frames));
    Control<QLineEdit>(dlg, 1063)->setText(QString::number(interval));
    Control<QPushButton>(dlg, 1003)->click();
}

TEST(TimeLapseDialog, StartChecksTheEditsWithTheFrameworksMessages)
{
    Window w;
    CTimeLapseDlg dlg(*w.view);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Time Lapse");
    const QString range = "Please enter an integer between 1 and 25000.";
    for (const char* frames : {"0", "25001", "abc", ""}) {
        Control<QLineEdit>(dlg, 1059)->setText(frames);
        Control<QPushButton>(dlg, 1003)->click();
        EXPECT_EQ(w.boxes.LastText(), range) << frames;
        EXPECT_FALSE(dlg.Sequence().Running());
    }
    // Checked even when the end is a time.
    Control<QRadioButton>(dlg, 1057)->click();
    Control<QPushButton>(dlg, 1003)->click();
    EXPECT_EQ(w.boxes.LastText(), range);
    Control<QRadioButton>(dlg, 1056)->click();
    Control<QLineEdit>(dlg, 1059)->setText("25000");
    for (const char* interval : {"-1", "x", "+3", "4294967296"}) {
        Control<QLineEdit>(dlg, 1063)->setText(interval);
        Control<QPushButton>(dlg, 1003)->click();
        EXPECT_EQ(w.boxes.LastText(), "Please enter a positive integer.") << interval;
        EXPECT_FALSE(dlg.Sequence().Running());
    }
    EXPECT_EQ(w.boxes.shown.size(), 9u);
    EXPECT_EQ(w.boxes.shown[0].owner, &dlg);
    EXPECT_EQ(w.lib.State().releases, 0);
    // An interval of 0 is a valid interval.
    Control<QLineEdit>(dlg, 1063)->setText("0");
    Control<QPushButton>(dlg, 1003)->click();
    EXPECT_TRUE(dlg.Sequence().Running());
    EXPECT_EQ(w.boxes.shown.size(), 9u);
    Control<QPushButton>(dlg, 1003)->click();
}

TEST(TimeLapseDialog, ControlsFollowTheChoicesAndTheRunningState)
{
    Window w;
    CTimeLapseDlg dlg(*w.view);
    dlg.show();
    auto enabled = [&](int id) { return Control<QWidget>(dlg, id)->isEnabled(); };
    auto checked = [&](int id) { return Control<QRadioButton>(dlg, id)->isChecked(); };
    auto* button = Control<QPushButton>(dlg, 1003);
    // The pickers show the date and time of opening.
    EXPECT_EQ(Control<QDateEdit>(dlg, 1058)->date(), QDate::currentDate());
    EXPECT_LE(std::abs(Control<QTimeEdit>(dlg, 1061)->time().secsTo(QTime::currentTime())), 2);
    EXPECT_TRUE(checked(1054) && !checked(1055) && checked(1056) && !checked(1057));
    EXPECT_FALSE(enabled(1058) || enabled(1061) || enabled(1060) || enabled(1062));
    EXPECT_TRUE(enabled(1059) && enabled(1063));
    EXPECT_EQ(button->text(), "Start");

    Control<QRadioButton>(dlg, 1055)->click();
    Control<QRadioButton>(dlg, 1057)->click();
    EXPECT_TRUE(!checked(1054) && checked(1055) && !checked(1056) && checked(1057));
    EXPECT_TRUE(enabled(1058) && enabled(1061) && enabled(1060) && enabled(1062));
    EXPECT_FALSE(enabled(1059));
    // Clicking a checked choice keeps it checked.
    Control<QRadioButton>(dlg, 1057)->click();
    EXPECT_TRUE(checked(1057));

    // Start ten minutes ahead, end in an hour: running, every choice locked, "Stop".
    const QDateTime start = QDateTime::currentDateTime().addSecs(600);
    const QDateTime end = start.addSecs(3600);
    Control<QDateEdit>(dlg, 1058)->setDate(start.date());
    Control<QTimeEdit>(dlg, 1061)->setTime(start.time());
    Control<QDateEdit>(dlg, 1060)->setDate(end.date());
    Control<QTimeEdit>(dlg, 1062)->setTime(end.time());
    button->click();
    ASSERT_TRUE(dlg.Sequence().Running());
    for (int id : {1054, 1055, 1056, 1057, 1058, 1059, 1060, 1061, 1062, 1063})
        EXPECT_FALSE(enabled(id)) << id;
    EXPECT_EQ(button->text(), "Stop");
    EXPECT_TRUE(enabled(2));
    ASSERT_TRUE(WaitUntil([&] { return Status(dlg).contains("secs until next shot"); }, 3000));
    EXPECT_TRUE(Status(dlg).contains(QRegularExpression("^(599|600) secs until next shot, 4[12]\\d\\d secs to end of sequence$")))
        << Status(dlg).toStdString();
    EXPECT_TRUE(Control<QLabel>(dlg, 1065)->text().endsWith(" - running"));
    button->click();
    EXPECT_EQ(Status(dlg), "Sequence stopped, 0 shots taken");
    EXPECT_EQ(button->text(), "Start");
    EXPECT_TRUE(enabled(1058) && !enabled(1059));
    EXPECT_EQ(w.lib.State().releases, 0);
    // An end already past starts nothing.
    Control<QDateEdit>(dlg, 1060)->setDate(QDate::currentDate().addDays(-1));
    button->click();
    EXPECT_EQ(w.boxes.LastText(), "ERROR: end time has already passed");
    EXPECT_EQ(w.boxes.shown.back().icon, msgbox::Icon::Error);
    EXPECT_FALSE(dlg.Sequence().Running());
}

TEST(TimeLapseDialog, CancelWhileRunningAsksFirst)
{
    Window w;
    CTimeLapseDlg dlg(*w.view);
    dlg.show();
    Control<QRadioButton>(dlg, 1055)->click();
    Control<QTimeEdit>(dlg, 1061)->setTime(QTime::currentTime().addSecs(600));
    Start(dlg, 5, 30);
    ASSERT_TRUE(dlg.Sequence().Running());
    w.boxes.answers = {msgbox::Answer::No, msgbox::Answer::Yes};
    Control<QPushButton>(dlg, 2)->click();
    EXPECT_EQ(w.boxes.LastText(), "Do you wish to cancel the current time lapse sequence?");
    EXPECT_EQ(w.boxes.shown.back().icon, msgbox::Icon::Question);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(dlg.Sequence().Running());
    Control<QPushButton>(dlg, 2)->click();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    // Not running: closes without a question.
    CTimeLapseDlg idle(*w.view);
    idle.show();
    Control<QPushButton>(idle, 2)->click();
    EXPECT_FALSE(idle.isVisible());
    EXPECT_EQ(w.boxes.shown.size(), 2u);
}

TEST(TimeLapseDialog, ThreeFramesAtIntervalZeroSaveThreePictures)
{
    Window w;
    QString final;
    w.RunDialog([&](CTimeLapseDlg& dlg) {
        Start(dlg, 3, 0);
        EXPECT_TRUE(Status(dlg).startsWith("Taking photo 1, 2 shots remaining")) << Status(dlg).toStdString();
        ASSERT_TRUE(WaitUntil([&] { return !dlg.Sequence().Running(); }, 15000));
        final = Status(dlg);
        // The main window shows each picture behind the dialog.
        EXPECT_EQ(w.view->History().Count(), 3u);
        EXPECT_TRUE(w.frame->StatusText(0).startsWith("Saved: "));
    });
    EXPECT_EQ(final, "Sequence completed, 3 shots taken");
    EXPECT_EQ(w.Files(), 3u);
    EXPECT_EQ(w.lib.State().releases, 3);
    EXPECT_TRUE(w.boxes.shown.empty());
    EXPECT_EQ(w.view->CurrentDisplayWindow(), w.view);
}

TEST(TimeLapseDialog, NotConnectedOffersToReconnectAndOpensNothing)
{
    Window w;
    w.frame->Command(ids::ID_CONNECT);  // disconnect
    ASSERT_EQ(w.view->Camera(), nullptr);
    w.boxes.answers = {msgbox::Answer::Yes};
    w.frame->Command(ids::ID_TIME_LAPSE);
    EXPECT_EQ(w.boxes.LastText(), "Camera is not connected.\nDo you wish to reconnect?");
    EXPECT_NE(w.view->Camera(), nullptr);
    EXPECT_EQ(w.view->CurrentDisplayWindow(), w.view);  // no dialog was opened
}

TEST(TimeLapseDialog, AutofocusFailureAskedByTheDialogAndRetried)
{
    Window w;
    QString final;
    w.RunDialog([&](CTimeLapseDlg& dlg) {
        w.lib.FailNextAutofocus();
        Start(dlg, 2, 0);
        ASSERT_TRUE(WaitUntil([&] { return !dlg.Sequence().Running(); }, 15000));
        final = Status(dlg);
    });
    ASSERT_GE(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].text,
              "Unable to release shutter.\nThis may be because the AF was unable to lock.\nDo you wish to try again?");
    EXPECT_EQ(w.boxes.shown[0].icon, msgbox::Icon::Question);
    EXPECT_NE(w.boxes.shown[0].owner, w.view);  // the dialog asks; the main window shows nothing
    EXPECT_EQ(final, "Sequence completed, 2 shots taken");
    EXPECT_EQ(w.Files(), 2u);
    EXPECT_EQ(w.lib.State().releases, 3);
}

TEST(TimeLapseDialog, RefusedShotIsRetriedOnceTheCameraAllowsIt)
{
    Window w;
    QString refused, final;
    w.RunDialog([&](CTimeLapseDlg& dlg) {
        w.lib.SetLcdOn(true);
        Start(dlg, 2, 0);
        refused = Status(dlg);
        EXPECT_FALSE(dlg.Sequence().TakingPhoto());
        testsupport::Pump(2500);  // a retry or two, refused again
        EXPECT_TRUE(w.boxes.shown.empty()) << "a refusal is said in the status line, never in a box";
        w.lib.SetLcdOn(false);
        ASSERT_TRUE(WaitUntil([&] { return !dlg.Sequence().Running(); }, 15000));
        final = Status(dlg);
    });
    EXPECT_EQ(refused, "1 secs until next shot, 2 shots remaining - Shot not started: Unable to release the shutter. "
                       "Please check that the camera's LCD display is off and try again, retrying");
    EXPECT_EQ(final, "Sequence completed, 2 shots taken");
    EXPECT_EQ(w.Files(), 2u);
}

// A refusal that needs a person stops the sequence once, with its reason, and no box.
TEST(TimeLapseDialog, BulbStopsTheSequenceWithItsReasonAndNoBox)
{
    Window w;
    QString final;
    w.RunDialog([&](CTimeLapseDlg& dlg) {
        Start(dlg, 3, 5);  // time to put the Tv on bulb before the second shot
        ASSERT_TRUE(WaitUntil([&] { return w.Files() == 1; }, 10000));
        w.view->Form().tv->addItem("bulb", 4u);
        w.view->Form().tv->setCurrentIndex(w.view->Form().tv->count() - 1);
        ASSERT_TRUE(WaitUntil([&] { return !dlg.Sequence().Running(); }, 10000));
        testsupport::Pump(2500);  // no retry follows
        final = Status(dlg);
    });
    EXPECT_EQ(final, "Sequence stopped: Bulb mode is only available when using the camera's shutter release, "
                     "1 shots taken");
    EXPECT_TRUE(w.boxes.shown.empty());
    EXPECT_EQ(w.lib.State().releases, 1);
}

// One download cut off halfway is one frame not received; the sequence takes the rest.
TEST(TimeLapseDialog, AnInterruptedDownloadIsCountedAndTheSequenceGoesOn)
{
    Window w;
    w.lib.StopNextDownloadHalfway();
    QString final;
    w.RunDialog([&](CTimeLapseDlg& dlg) {
        Start(dlg, 3, 0);
        ASSERT_TRUE(WaitUntil([&] { return !dlg.Sequence().Running(); }, 15000));
        final = Status(dlg);
    });
    EXPECT_EQ(final, "Sequence completed, 3 shots taken, 1 not received");
    EXPECT_EQ(w.Files(), 2u);
    EXPECT_EQ(w.lib.State().releases, 3);
}

TEST(TimeLapseDialog, ReleaseErrorIsRetriedSilently)
{
    Window w([](Settings& s) { s.StoreImage = 3; });
    QString retrying, final;
    w.RunDialog([&](CTimeLapseDlg& dlg) {
        w.lib.SetCardPresent(false);  // the body refuses to shoot to a missing card: error 135
        Start(dlg, 2, 0);
        ASSERT_TRUE(WaitUntil([&] { return Status(dlg).contains("Release error 135, retrying"); }, 5000));
        retrying = Status(dlg);
        w.lib.SetCardPresent(true);
        ASSERT_TRUE(WaitUntil([&] { return !dlg.Sequence().Running(); }, 15000));
        final = Status(dlg);
    });
    EXPECT_EQ(final, "Sequence completed, 2 shots taken");
    EXPECT_EQ(w.Files(), 2u);
    EXPECT_TRUE(w.boxes.shown.empty());
}

// A save folder that cannot be made, and no rescue folder either: a file stands where
// each should be.
void BlockPictures(Window& w)
{
    std::ofstream(w.pictures.string()) << "not a folder";
    std::ofstream(w.rescue.string()) << "not a folder";
}

TEST(TimeLapseDialog, FullDiskStopsWhenOnlyThePcKeepsThePictures)
{
    Window w;
    BlockPictures(w);
    QString final;
    w.RunDialog([&](CTimeLapseDlg& dlg) {
        Start(dlg, 5, 0);
        ASSERT_TRUE(WaitUntil([&] { return !dlg.Sequence().Running(); }, 15000));
        testsupport::Pump(1500);
        final = Status(dlg);
    });
    EXPECT_EQ(final, "Sequence stopped: Error saving image, 0 shots taken");
    EXPECT_EQ(w.lib.State().releases, 1);
}

TEST(TimeLapseDialog, FullDiskGoesOnWhenTheCardKeepsACopy)
{
    Window w([](Settings& s) { s.StoreImage = 3; });
    BlockPictures(w);
    QString final;
    w.RunDialog([&](CTimeLapseDlg& dlg) {
        Start(dlg, 2, 0);
        ASSERT_TRUE(WaitUntil([&] { return !dlg.Sequence().Running(); }, 15000));
        final = Status(dlg);
    });
    EXPECT_EQ(final, "Sequence completed, 2 shots taken, 2 not saved on the PC");
    EXPECT_EQ(w.lib.State().releases, 2);
}

TEST(TimeLapseDialog, CameraShutdownIsReportedThenTheDialogCloses)
{
    Window w;
    bool closed = false;
    w.RunDialog([&](CTimeLapseDlg& dlg) {
        Control<QRadioButton>(dlg, 1055)->click();
        Control<QTimeEdit>(dlg, 1061)->setTime(QTime::currentTime().addSecs(600));
        Start(dlg, 5, 30);
        w.lib.OpenCardDoor();
        closed = WaitUntil([&] { return !dlg.isVisible(); }, 5000);
        EXPECT_FALSE(dlg.Sequence().Running());
    });
    EXPECT_TRUE(closed);
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].text, "Camera shutdown: CF card door opened");
    EXPECT_NE(w.boxes.shown[0].owner, w.view);
    EXPECT_EQ(w.view->Camera(), nullptr);
    EXPECT_EQ(w.frame->windowTitle(), "Tethrocam - Not connected");
}

TEST(TimeLapseDialog, ForwardedNotificationsArriveAfterTheViewHandledThem)
{
    Window w;
    struct Seen {
        uint32_t message;
        bool viewShooting;
        size_t historyCount;
    };
    std::vector<Seen> seen;
    w.view->SetTimeLapseForward([&](const Notification& n) {
        seen.push_back({n.message, w.view->Shooting(), w.view->History().Count()});
    });
    w.lib.FailNextAutofocus();
    EXPECT_TRUE(w.view->TakePicture());
    ASSERT_TRUE(WaitUntil([&] { return !w.view->Shooting(); }));
    EXPECT_TRUE(w.boxes.shown.empty());  // no box of the main window while the dialog is open
    EXPECT_TRUE(w.view->TakePicture());
    EXPECT_TRUE(seen.empty() || seen.back().message != WM_SAVED_FILE);  // posted, not called
    ASSERT_TRUE(WaitUntil([&] {
        return std::any_of(seen.begin(), seen.end(), [](const Seen& s) { return s.message == WM_SAVED_FILE; });
    }));
    w.view->SetTimeLapseForward({});
    ASSERT_EQ(seen.front().message, static_cast<uint32_t>(WM_RELEASE_ERROR));
    for (const Seen& s : seen)
        if (s.message == WM_SAVED_FILE) {
            EXPECT_FALSE(s.viewShooting);
            EXPECT_EQ(s.historyCount, 1u);
        }
}

}  // namespace
