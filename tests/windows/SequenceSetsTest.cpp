// Brackets and focus stacks through the main window's Camera menu on the simulated camera,
// offscreen: the pictures on disk carry the exposure times, exposure compensations and focus
// distances the set stepped through, in order, with the set and frame named in the Comment;
// the user's setting (and the focus) is back afterwards and the settings panel shows it,
// also after an autofocus failure, a refusal before the first frame, or the camera going
// away; a bracket at every interval of a time lapse; and the dialog's preview of the values.
#include "mainview/CameraSettingsPanel.h"
#include "mainview/ControlIds.h"
#include "support/MainWindowFixture.h"
#include "support/ProgramSupport.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "windows/CTimeLapseDlg.h"
#include "windows/SequencePanel.h"
#include "windows/SequenceSets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

using testsupport::WaitUntil;
namespace fs = std::filesystem;

namespace {

const std::string kMinus = "\u2212";

struct Window : testsupport::MainWindow {
    explicit Window(sim::SimConfig config = Camera(), const std::function<void(Settings&)>& prefs = {})
        : MainWindow(config, [&prefs](Settings& s) {
              s.FocusSettleMs = 0;
              if (prefs)
                  prefs(s);
          })
    {
    }
    // A body with third-stop lists, small pictures, a short exposure.
    static sim::SimConfig Camera()
    {
        sim::SimConfig c;
        c.model = "Canon EOS 300D DIGITAL";
        c.pictureWidth = 320;
        c.pictureHeight = 240;
        c.exposureMs = 5;
        return c;
    }
    std::vector<fs::path> Files() const
    {
        std::vector<fs::path> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(pictures, ec))
            if (e.path().extension() == ".JPG")
                out.push_back(e.path());
        std::sort(out.begin(), out.end());
        return out;
    }
    // Runs a Camera menu command that opens the dialog; `body` works it, then it is closed.
    void RunDialog(int command, const std::function<void(CTimeLapseDlg&)>& body)
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
        frame->Command(command);
        EXPECT_TRUE(ran);
    }
    uint16_t CameraTv()
    {
        uint16_t v = 0;
        lib.CDGetTvValue(view->Camera()->Source(), &v);
        return v;
    }
    uint16_t CameraCompensation()
    {
        uint16_t v = 0;
        lib.CDGetExposureComp(view->Camera()->Source(), &v);
        return v;
    }
    uint32_t PanelCode(const QComboBox* combo) const { return panel::SelectedCode(combo).value_or(0xDEAD); }
};

template <typename W>
W* Control(QWidget& dlg, int id)
{
    W* w = dlg.findChild<W*>(QString::number(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
}

QString Status(QWidget& dlg) { return Control<QLineEdit>(dlg, 1064)->text(); }

bool Done(const CTimeLapseDlg& dlg) { return !dlg.Sequence().Running() && !dlg.Sequence().InSet(); }

void ChooseData(QComboBox* combo, int data)
{
    const int i = combo->findData(data);
    ASSERT_GE(i, 0) << data;
    combo->setCurrentIndex(i);
}

// The bracket's controls: frames, step (in sixths of a stop), order.
void SetBracket(CTimeLapseDlg& dlg, int frames, int stepSixths, int order = 0)
{
    Control<QComboBox>(dlg, 1070)->setCurrentIndex(1);
    Control<QComboBox>(dlg, 1071)->setCurrentText(QString::number(frames));
    ChooseData(Control<QComboBox>(dlg, 1072), stepSixths);
    Control<QComboBox>(dlg, 1073)->setCurrentIndex(order);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
std::string Exif(const fs::path& file, const char* key)
{
    auto image = Exiv2::ImageFactory::open(file.string());
    image->readMetadata();
    auto it = image->exifData().findKey(Exiv2::ExifKey(key));
    return it == image->exifData().end() ? std::string() : it->toString();
}
double ExifNumber(const fs::path& file, const char* key)
{
    auto image = Exiv2::ImageFactory::open(file.string());
    image->readMetadata();
    auto it = image->exifData().findKey(Exiv2::ExifKey(key));
    return it == image->exifData().end() ? -1.0 : it->toFloat();
}
#pragma GCC diagnostic pop

std::vector<std::string> ExifOfAll(const std::vector<fs::path>& files, const char* key)
{
    std::vector<std::string> out;
    for (const fs::path& f : files)
        out.push_back(Exif(f, key));
    return out;
}

TEST(BracketSet, ManualBracketOfFiveSavesTheExpectedTimesInOrderAndPutsTheShutterSpeedBack)
{
    Window w;
    w.view->SetComment("Studio B");
    QString final;
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        EXPECT_EQ(dlg.windowTitle(), "Sequence");
        SetBracket(dlg, 5, 4);  // 2/3 EV, 0, -, +
        Control<QPushButton>(dlg, 1003)->click();
        ASSERT_TRUE(WaitUntil([&] { return Done(dlg); }, 20000));
        final = Status(dlg);
    });
    const auto files = w.Files();
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(ExifOfAll(files, "Exif.Photo.ExposureTime"),
              (std::vector<std::string>{"1/125", "1/320", "1/200", "1/80", "1/50"}));
    const std::vector<std::string> pieces = {"Bracket 1, 1/5, 0 EV", "Bracket 1, 2/5, " + kMinus + "1 1/3 EV",
                                             "Bracket 1, 3/5, " + kMinus + "2/3 EV", "Bracket 1, 4/5, +2/3 EV",
                                             "Bracket 1, 5/5, +1 1/3 EV"};
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_NE(testsupport::UserComment(files[i].string()).find("Studio B; " + pieces[i]), std::string::npos)
            << testsupport::UserComment(files[i].string());
    EXPECT_EQ(final, "Sequence completed, 1 bracket, 5 frames taken - shutter speed put back to 1/125");
    EXPECT_EQ(w.CameraTv(), 0x70);
    EXPECT_EQ(w.PanelCode(w.view->Form().tv), 0x70u);
    EXPECT_TRUE(w.boxes.shown.empty());
    // The next picture carries the user's comment alone again.
    ASSERT_TRUE(w.view->TakePicture());
    ASSERT_TRUE(WaitUntil([&] { return w.Files().size() == 6 && !w.view->Shooting(); }));
    testsupport::Pump(200);
    EXPECT_EQ(testsupport::UserComment(w.Files().back().string()).find("Bracket"), std::string::npos);
}

TEST(BracketSet, AperturePriorityBracketStepsTheCompensationAndPutsItBack)
{
    Window w(Window::Camera(), [](Settings& s) {
        s.BracketFrames = 5;
        s.BracketStep = 4;
        s.BracketOrder = 1;  // -, 0, +
    });
    w.lib.TurnModeDial(3);
    ASSERT_TRUE(WaitUntil([&] { return w.view->Form().modeLine->text() == "Mode: Av"; }));
    QString final;
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        EXPECT_EQ(dlg.EachShot().PreviewText().toStdString(),
                  "Exposure compensation: " + kMinus + "1 1/3 EV, " + kMinus + "2/3 EV, 0 EV, +2/3 EV, +1 1/3 EV; "
                  "then back to 0 EV");
        Control<QPushButton>(dlg, 1003)->click();
        ASSERT_TRUE(WaitUntil([&] { return Done(dlg); }, 20000));
        final = Status(dlg);
    });
    const auto files = w.Files();
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(ExifOfAll(files, "Exif.Photo.ExposureBiasValue"),
              (std::vector<std::string>{"-4/3", "-2/3", "0/1", "2/3", "4/3"}));
    EXPECT_EQ(final, "Sequence completed, 1 bracket, 5 frames taken - exposure compensation put back to 0 EV");
    EXPECT_EQ(w.CameraCompensation(), 0x18);
    EXPECT_EQ(w.PanelCode(w.view->Form().exposureComp), 0x18u);
}

TEST(BracketSet, AnAutofocusFailureAtFrameThreeAnsweredNoStillPutsTheShutterSpeedBack)
{
    Window w;
    QString final;
    w.boxes.answers = {msgbox::Answer::No};
    int saved = 0;
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        w.view->SetTimeLapseForward([&](const Notification& n) {
            if (n.message == WM_SAVED_FILE && ++saved == 2)
                w.lib.FailNextAutofocus();  // the release of frame 3, which this save starts
            dlg.WindowProc(n);
        });
        SetBracket(dlg, 5, 6);
        Control<QPushButton>(dlg, 1003)->click();
        ASSERT_TRUE(WaitUntil([&] { return Done(dlg); }, 20000));
        final = Status(dlg);
    });
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].text,
              "Unable to release shutter.\nThis may be because the AF was unable to lock.\nDo you wish to try again?");
    EXPECT_EQ(w.Files().size(), 2u);
    EXPECT_EQ(w.lib.State().releases, 3);
    EXPECT_EQ(final, "Sequence stopped, 1 bracket, 2 frames taken - shutter speed put back to 1/125");
    EXPECT_EQ(w.CameraTv(), 0x70);
    EXPECT_EQ(w.PanelCode(w.view->Form().tv), 0x70u);
}

TEST(BracketSet, StopMidBracketLetsTheFrameInFlightLandThenPutsTheShutterSpeedBack)
{
    Window w;
    QString stopped, final;
    bool startWhileFinishing = true;
    int saved = 0;
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        w.view->SetTimeLapseForward([&](const Notification& n) {
            dlg.WindowProc(n);
            if (n.message == WM_SAVED_FILE && ++saved == 2) {
                dlg.OnStartStop();  // Stop, with frame 3 on its way at 1/200
                stopped = Status(dlg);
                startWhileFinishing = Control<QPushButton>(dlg, 1003)->isEnabled();
            }
        });
        SetBracket(dlg, 5, 4);
        Control<QPushButton>(dlg, 1003)->click();
        ASSERT_TRUE(WaitUntil([&] { return Done(dlg); }, 20000));
        final = Status(dlg);
        EXPECT_TRUE(Control<QPushButton>(dlg, 1003)->isEnabled());
    });
    EXPECT_EQ(stopped, "Sequence stopped, 1 bracket, 2 frames taken");
    EXPECT_FALSE(startWhileFinishing);
    EXPECT_EQ(final, "Sequence stopped, 1 bracket, 3 frames taken - shutter speed put back to 1/125");
    EXPECT_EQ(w.Files().size(), 3u);
    EXPECT_EQ(Exif(w.Files().back(), "Exif.Photo.ExposureTime"), "1/200");
    EXPECT_EQ(w.CameraTv(), 0x70);
    EXPECT_EQ(w.PanelCode(w.view->Form().tv), 0x70u);
}

TEST(BracketSet, AFrameTheCameraRefusesStopsTheBracketAndSaysWhatBecameOfTheSetting)
{
    Window w;
    QString final;
    int saved = 0;
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        w.view->SetTimeLapseForward([&](const Notification& n) {
            if (n.message == WM_SAVED_FILE && ++saved == 2)
                w.lib.SetCallFault("CDSetTvValue", true);  // the body takes no shutter speed from now on
            dlg.WindowProc(n);
        });
        SetBracket(dlg, 5, 4);
        Control<QPushButton>(dlg, 1003)->click();
        ASSERT_TRUE(WaitUntil([&] { return Done(dlg); }, 20000));
        final = Status(dlg);
    });
    EXPECT_EQ(final.toStdString(),
              "Sequence stopped: The camera did not take the shutter speed 1/200 for frame 3/5 (it holds 1/320), "
              "1 bracket, 2 frames taken - shutter speed could not be put back to 1/125: the camera holds 1/320; "
              "please check it");
    EXPECT_EQ(w.Files().size(), 2u);
    EXPECT_EQ(w.PanelCode(w.view->Form().tv), 0x7Bu);  // the panel shows what the camera holds: 1/320
    EXPECT_TRUE(w.boxes.shown.empty());
}

TEST(BracketSet, ABracketPastTheBodysLimitIsRefusedBeforeAnyShotWithTheReason)
{
    Window w;
    w.lib.CDSetTvValue(w.view->Camera()->Source(), 0x90);  // 1/2000
    w.frame->Command(ids::ID_REFRESH);
    QString status;
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        SetBracket(dlg, 3, 12);  // 2 EV
        EXPECT_TRUE(dlg.EachShot().PreviewText().startsWith("Cannot bracket: The bracket needs a shutter speed 1 EV"))
            << dlg.EachShot().PreviewText().toStdString();
        Control<QPushButton>(dlg, 1003)->click();
        status = Status(dlg);
        EXPECT_FALSE(dlg.Sequence().Running());
    });
    const std::string why = "The bracket needs a shutter speed 1 EV shorter than 1/4000, the camera's shortest. Choose "
                            "fewer frames or a smaller step, or start from a value nearer the middle of the range.";
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].text, "Unable to start the exposure bracket");
    EXPECT_EQ(w.boxes.shown[0].detail.toStdString(), why);
    EXPECT_EQ(status.toStdString(), "Not started: " + why);
    EXPECT_EQ(w.lib.State().releases, 0);
    EXPECT_EQ(w.CameraTv(), 0x90);
    EXPECT_EQ(w.lib.CallCount("CDSetTvValue"), 1);  // only the test's own
}

TEST(BracketSet, TheCameraGoingAwayMidBracketGetsItsShutterSpeedBackAtTheNextConnection)
{
    Window w;
    int saved = 0;
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        w.view->SetTimeLapseForward([&](const Notification& n) {
            dlg.WindowProc(n);
            if (n.message == WM_SAVED_FILE && ++saved == 2)
                w.lib.OpenCardDoor();  // frame 3 is on its way at 1/200
        });
        SetBracket(dlg, 5, 4);
        Control<QPushButton>(dlg, 1003)->click();
        EXPECT_TRUE(WaitUntil([&] { return !dlg.isVisible(); }, 20000));
    });
    ASSERT_EQ(w.view->Camera(), nullptr);
    ASSERT_GE(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].text, "Camera shutdown: CF card door opened");
    const int writes = w.lib.CallCount("CDSetTvValue");
    w.frame->Command(ids::ID_CONNECT);
    ASSERT_NE(w.view->Camera(), nullptr);
    EXPECT_EQ(w.lib.CallCount("CDSetTvValue"), writes + 1);
    EXPECT_EQ(w.CameraTv(), 0x70);
    EXPECT_EQ(w.PanelCode(w.view->Form().tv), 0x70u);
    EXPECT_EQ(w.frame->StatusText(0), "Shutter speed put back as it was before the bracket");
}

TEST(BracketSet, AnHdrTimeLapseTakesABracketAtEachOfThreeIntervals)
{
    Window w;
    QString final;
    w.RunDialog(ids::ID_TIME_LAPSE, [&](CTimeLapseDlg& dlg) {
        EXPECT_EQ(dlg.windowTitle(), "Time Lapse");
        SetBracket(dlg, 3, 6, 1);  // 1 EV, -, 0, +
        Control<QCheckBox>(dlg, 1080)->setChecked(true);
        Control<QLineEdit>(dlg, 1059)->setText("3");
        Control<QLineEdit>(dlg, 1063)->setText("1");
        Control<QPushButton>(dlg, 1003)->click();
        ASSERT_TRUE(WaitUntil([&] { return Done(dlg); }, 30000));
        final = Status(dlg);
    });
    const auto files = w.Files();
    ASSERT_EQ(files.size(), 9u);
    const std::vector<std::string> set = {"1/250", "1/125", "1/60"};
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), set.begin(), set.end());
    EXPECT_EQ(ExifOfAll(files, "Exif.Photo.ExposureTime"), expected);
    EXPECT_NE(testsupport::UserComment(files[7].string()).find("Bracket 3, 2/3, 0 EV"), std::string::npos);
    EXPECT_EQ(final, "Sequence completed, 3 brackets, 9 frames taken - shutter speed put back to 1/125");
    EXPECT_EQ(w.CameraTv(), 0x70);
}

TEST(FocusStackSet, TenFramesSaveStrictlyIncreasingEvenlySpacedFocusAndPutItBack)
{
    Window w(Window::Camera(), [](Settings& s) {
        s.SequenceKind = 2;
        s.StackFrames = 10;
        s.StackStepSize = 2;
        s.StackStepCount = 1;
    });
    w.lib.SetFocusPosition(30);
    QString final;
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        EXPECT_EQ(dlg.EachShot().PreviewText(),
                  "10 frames from the current focus towards infinity, one medium step apart; then back to where the "
                  "focus was");
        Control<QPushButton>(dlg, 1003)->click();
        ASSERT_TRUE(WaitUntil([&] { return Done(dlg) && Status(dlg).contains(" - focus"); }, 20000));
        final = Status(dlg);
    });
    const auto files = w.Files();
    ASSERT_EQ(files.size(), 10u);
    std::vector<double> distances;
    for (const fs::path& f : files)
        distances.push_back(ExifNumber(f, "Exif.Photo.SubjectDistance"));
    for (size_t i = 1; i < distances.size(); ++i) {
        EXPECT_GT(distances[i], distances[i - 1]) << i;
        EXPECT_NEAR(distances[i] - distances[i - 1], 0.25, 1e-6) << i;  // one medium step: 5 positions of 50 mm
    }
    EXPECT_NEAR(distances.front(), 0.45 + 0.05 * 30, 1e-6);
    EXPECT_NE(testsupport::UserComment(files[3].string()).find("Focus stack 1, 4/10"), std::string::npos);
    EXPECT_EQ(final, "Sequence completed, 1 stack, 10 frames taken - focus put back");
    EXPECT_EQ(w.lib.State().focusPosition, 30);
}

TEST(FocusStackSet, ABodyThatFocusesOnlyInLiveViewShootsTheStackInItAndEndsIt)
{
    sim::SimConfig c = Window::Camera();
    c.focusNeedsLiveView = true;
    Window w(c, [](Settings& s) {
        s.SequenceKind = 2;
        s.StackFrames = 4;
        s.StackStepSize = 3;
        s.StackFromNearest = 1;
    });
    w.lib.SetFocusPosition(50);
    QString final;
    int liveViewDuringStack = 0;
    int saved = 0;
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        EXPECT_TRUE(dlg.EachShot().PreviewText().contains("live view on while focusing"));
        w.view->SetTimeLapseForward([&](const Notification& n) {
            if (n.message == WM_SAVED_FILE && ++saved == 2)
                liveViewDuringStack = w.lib.State().liveView ? 1 : -1;
            dlg.WindowProc(n);
        });
        Control<QPushButton>(dlg, 1003)->click();
        ASSERT_TRUE(WaitUntil([&] { return Done(dlg) && Status(dlg).contains(" - focus"); }, 20000));
        final = Status(dlg);
    });
    const auto files = w.Files();
    ASSERT_EQ(files.size(), 4u);
    EXPECT_NEAR(ExifNumber(files[0], "Exif.Photo.SubjectDistance"), 0.45, 1e-6);  // the nearest distance
    EXPECT_NEAR(ExifNumber(files[3], "Exif.Photo.SubjectDistance"), 0.45 + 0.05 * 60, 1e-6);
    EXPECT_EQ(liveViewDuringStack, 1);
    EXPECT_FALSE(w.lib.State().liveView);
    EXPECT_EQ(final, "Sequence completed, 1 stack, 4 frames taken - focus put back as nearly as the lens allows (a "
                     "step met the end of its travel)");
    EXPECT_EQ(w.lib.State().focusPosition, 40);  // two whole coarse steps from the nearest end
}

TEST(SequencePanel, PreviewAndStepsComeFromTheBodysOwnLists)
{
    // The EOS 10D counts in half stops unless its custom function 6 says thirds.
    sim::SimConfig c = Window::Camera();
    c.model = "Canon EOS 10D";
    Window w(c);
    w.RunDialog(ids::ID_SEQUENCE, [&](CTimeLapseDlg& dlg) {
        auto* step = Control<QComboBox>(dlg, 1072);
        std::vector<QString> steps;
        for (int i = 0; i < step->count(); ++i)
            steps.push_back(step->itemText(i));
        // The preference's 2/3 EV stays chosen, and the preview says what the body offers.
        EXPECT_EQ(steps, (std::vector<QString>{"1/2 EV", "2/3 EV", "1 EV", "1 1/2 EV", "2 EV", "2 1/2 EV", "3 EV"}));
        EXPECT_EQ(dlg.EachShot().PreviewText(),
                  "Cannot bracket: The camera's shutter speed list has no value 2/3 EV away from 1/125. Choose a step "
                  "of 1/2, 1, 1 1/2, 2, 2 1/2 or 3 EV.");
        SetBracket(dlg, 3, 3);
        EXPECT_EQ(dlg.EachShot().PreviewText(), "Shutter speed: 1/125, 1/180, 1/90; then back to 1/125");
        // The Start and End of a schedule wait while the set is taken once.
        EXPECT_FALSE(Control<QWidget>(dlg, 1059)->isEnabled());
        Control<QCheckBox>(dlg, 1080)->setChecked(true);
        EXPECT_TRUE(Control<QWidget>(dlg, 1059)->isEnabled());
        // A mode that takes no bracket.
        w.lib.TurnModeDial(102);
        ASSERT_TRUE(WaitUntil([&] { return w.view->Form().modeLine->text() == "Mode: Landscape"; }));
        dlg.EachShot().Refresh();
        EXPECT_EQ(dlg.EachShot().PreviewText(),
                  "Cannot bracket: The camera sets the whole exposure itself in this mode (Landscape). Turn the mode "
                  "dial to M, Av, Tv or P to bracket.");
        Control<QComboBox>(dlg, 1070)->setCurrentIndex(2);
        Control<QComboBox>(dlg, 1075)->setCurrentIndex(0);
        Control<QSpinBox>(dlg, 1076)->setValue(3);
        Control<QComboBox>(dlg, 1077)->setCurrentIndex(1);
        EXPECT_EQ(dlg.EachShot().PreviewText(),
                  "10 frames from the nearest distance towards infinity, 3 fine steps apart; then back to about where "
                  "the focus was");
    });
    // The choices are kept for the next time.
    EXPECT_EQ(w.view->Prefs().BracketStep, 3);
    EXPECT_EQ(w.view->Prefs().SequenceKind, 2);
}

}  // namespace
