// The camera settings panel on the simulated camera: lists per body, reading the camera
// into the controls, enabling by exposure mode, and every control's write and read-back.
#include "mainview/CameraSettingsPanel.h"

#include "backends/sim/SimCamera.h"
#include "camera/CCamera.h"
#include "camera/CameraStartup.h"
#include "camera/RecordingSink.h"
#include "mainview/ControlIds.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace cdsdk;
using namespace ids;

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "settings_panel_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class PanelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { App(); }

    void SetUp() override
    {
        root_ = std::make_unique<QWidget>();
        form = BuildForm(root_.get());
        form.panel->resize(320, 900);
        root_->resize(320, 900);
        root_->show();
        panel = std::make_unique<CameraSettingsPanel>(
            form, [this] { return camera.get(); }, [this] { return storeImage; }, [this] { return shooting; });
    }

    void TearDown() override
    {
        panel.reset();
        root_.reset();
        camera.reset();
        sim.reset();
    }

    // Connects to a simulated body set up by `prepare`, the way the view does.
    void Connect(const std::string& model, const std::function<void(sim::SimulatedCamera&)>& prepare = {})
    {
        sim::SimConfig cfg;
        cfg.model = model;
        sim = std::make_unique<sim::SimulatedCamera>(cfg);
        if (prepare)
            prepare(*sim);
        ASSERT_GT(StartCameraLibrary(*sim), 0);
        camera = std::make_unique<CCamera>(*sim, &owner);
        panel->PrepareModelLists();
        camera->SetSaveMode(storeImage);
        panel->RefreshCameraSettings();
        panel->UpdateEnabling(true);
    }

    // What the user does: picks the entry with this code from the list.
    static void Choose(QComboBox* combo, uint32_t code)
    {
        const int i = combo->findData(QVariant::fromValue<uint>(code));
        ASSERT_GE(i, 0) << "no entry with code " << code;
        combo->setCurrentIndex(i);
        emit combo->activated(i);
    }

    void TypeColourTemperature(const QString& text)
    {
        form.colourTemp->setText(text);
        emit form.colourTemp->editingFinished();
    }

    static uint32_t Code(const QComboBox* combo) { return panel::SelectedCode(combo).value_or(0xDEADu); }
    static std::string Text(const QComboBox* combo) { return combo->currentText().toStdString(); }
    static std::string Text(const QLabel* label) { return label->text().toStdString(); }
    static std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

    bool Hidden(int id) const { return form.FocusPoint(id)->isHidden(); }

    FormControls form;
    std::unique_ptr<sim::SimulatedCamera> sim;
    RecordingOwner owner;
    std::unique_ptr<CCamera> camera;
    std::unique_ptr<CameraSettingsPanel> panel;
    int storeImage = 1;
    bool shooting = false;

private:
    std::unique_ptr<QWidget> root_;
};

const int kAllFocusIds[] = {IDC_FP_TOP, IDC_FP_FAR_LEFT, IDC_FP_LEFT, IDC_FP_CENTRE,
                            IDC_FP_RIGHT, IDC_FP_FAR_RIGHT, IDC_FP_BOTTOM};

}  // namespace

// ------------------------------------------------------------------ exposure modes

TEST_F(PanelTest, ManualModeShowsTheCameraValuesWithTvAndAvOpen)
{
    Connect("Canon EOS 10D");
    EXPECT_EQ(Text(form.modeLine), "Mode: Manual");
    EXPECT_EQ(Text(form.tv), "1/125");
    EXPECT_EQ(Text(form.av), "5.6");
    EXPECT_TRUE(form.tv->isEnabled());
    EXPECT_TRUE(form.av->isEnabled());
    // Manual has no exposure or flash compensation.
    EXPECT_FALSE(form.exposureComp->isEnabled());
    EXPECT_FALSE(form.flashComp->isEnabled());
    EXPECT_TRUE(form.iso->isEnabled());
    EXPECT_TRUE(form.metering->isEnabled());
    EXPECT_TRUE(form.afMode->isEnabled());
    EXPECT_EQ(Text(form.exposureComp), "None");
    EXPECT_EQ(Text(form.sizeQuality), "Large/fine");
    EXPECT_EQ(Text(form.whiteBalance), "Auto");
    EXPECT_FALSE(form.colourTemp->isEnabled());
    EXPECT_EQ(Text(form.colourTemp), "5200");
    EXPECT_EQ(Text(form.metering), "Evaluative");
    EXPECT_EQ(Text(form.drive), "Single shot");
    EXPECT_EQ(Text(form.iso), "100");
    EXPECT_EQ(Text(form.afMode), "One-Shot AF");
    EXPECT_EQ(Text(form.parameterSetLine), "Parameter Set: Standard, sRGB");
    EXPECT_EQ(Text(form.shutterButtonLine), "Shutter release: AF");
    EXPECT_EQ(Text(form.aeLockLine), "AE lock button: AE lock");
    EXPECT_EQ(Text(form.mirrorLockupLine), "");
    // Automatic focus-point selection checks all seven.
    for (int id : kAllFocusIds)
        EXPECT_TRUE(form.FocusPoint(id)->isChecked()) << id;
    // The reading leaves the camera's controls free and no setting was written.
    EXPECT_FALSE(sim->State().uiLocked);
    EXPECT_EQ(sim->CallCount("CDSetTvValue"), 0);
    EXPECT_EQ(sim->CallCount("CDSetRelCamSettingData"), 0);
}

TEST_F(PanelTest, ProgramModeShowsAutoForTvAndAv)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.TurnModeDial(1); });
    EXPECT_EQ(Text(form.modeLine), "Mode: Program");
    EXPECT_EQ(Text(form.tv), "Auto");
    EXPECT_EQ(Text(form.av), "Auto");
    EXPECT_FALSE(form.tv->isEnabled());
    EXPECT_FALSE(form.av->isEnabled());
    EXPECT_TRUE(form.exposureComp->isEnabled());
    EXPECT_TRUE(form.flashComp->isEnabled());
}

TEST_F(PanelTest, BulbModeShowsBulbAndKeepsAvOpen)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.TurnModeDial(7); });
    EXPECT_EQ(Text(form.modeLine), "Mode: BULB");
    EXPECT_EQ(Text(form.tv), "bulb");
    EXPECT_FALSE(form.tv->isEnabled());
    EXPECT_TRUE(form.av->isEnabled());
    EXPECT_FALSE(form.exposureComp->isEnabled());
    EXPECT_TRUE(form.flashComp->isEnabled());
}

TEST_F(PanelTest, ShutterAndAperturePriorityOpenOnlyTheirOwnList)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.TurnModeDial(2); });
    EXPECT_TRUE(form.tv->isEnabled());
    EXPECT_FALSE(form.av->isEnabled());
    EXPECT_EQ(Text(form.av), "Auto");

    sim->TurnModeDial(3);
    panel->SettingsChanged();
    EXPECT_EQ(Text(form.modeLine), "Mode: Av");
    EXPECT_FALSE(form.tv->isEnabled());
    EXPECT_EQ(Text(form.tv), "Auto");
    EXPECT_TRUE(form.av->isEnabled());
    EXPECT_EQ(Text(form.av), "5.6");
}

TEST_F(PanelTest, LandscapeLeavesOnlySizeQualityAndDrive)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.TurnModeDial(102); });
    EXPECT_EQ(Text(form.modeLine), "Mode: Landscape");
    for (QWidget* w : std::initializer_list<QWidget*>{form.tv, form.av, form.iso, form.exposureComp, form.flashComp,
                                                       form.whiteBalance, form.colourTemp, form.metering,
                                                       form.afMode, form.selectAll})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    for (int id : kAllFocusIds)
        EXPECT_FALSE(form.FocusPoint(id)->isEnabled()) << id;
    EXPECT_TRUE(form.sizeQuality->isEnabled());
    EXPECT_TRUE(form.drive->isEnabled());
}

TEST_F(PanelTest, ModeLineForUnnamedAndUnreadableModes)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.TurnModeDial(200); });
    EXPECT_EQ(Text(form.modeLine), "Mode: 0x00c8");

    // An unreadable mode leaves the enabling as it was.
    sim->TurnModeDial(4);
    panel->Refresh();
    ASSERT_TRUE(form.iso->isEnabled());
    sim->TurnModeDial(102);
    sim->SetCallFault("CDGetShootingMode", true);
    panel->Refresh();
    EXPECT_EQ(Text(form.modeLine), "Mode: Unknown");
    EXPECT_TRUE(form.iso->isEnabled());
}

TEST_F(PanelTest, ManualFocusClosesTheAfListAndFocusPoints)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.SetManualFocus(true); });
    EXPECT_EQ(Text(form.afMode), "Manual Focus");
    EXPECT_FALSE(form.afMode->isEnabled());
    EXPECT_FALSE(form.selectAll->isEnabled());
    for (int id : kAllFocusIds)
        EXPECT_FALSE(form.FocusPoint(id)->isEnabled()) << id;

    // Back on autofocus, a refresh opens them again.
    sim->SetManualFocus(false);
    panel->Refresh();
    EXPECT_TRUE(form.afMode->isEnabled());
    EXPECT_TRUE(form.FocusPoint(IDC_FP_CENTRE)->isEnabled());
}

// ------------------------------------------------------------------ reading the camera

TEST_F(PanelTest, LensLine)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.SetLens(10, 500, 280, 1350, 0x25, 0x58); });
    EXPECT_EQ(Text(form.lensLine), "Lens: 135-28 @ 50mm");

    sim->SetLens(10, 500, 500, 500, 0x10, 0x58);
    panel->Refresh();
    EXPECT_EQ(Text(form.lensLine), "Lens: 50mm");

    // Without a divisor the line keeps what it said.
    sim->SetLens(10, 850, 850, 850, 0x10, 0x58);
    sim->SetSettingReadFault(0x25, true);
    panel->Refresh();
    EXPECT_EQ(Text(form.lensLine), "Lens: 50mm");
}

TEST_F(PanelTest, AvListFollowsTheLensLimitsAndAWiderLens)
{
    // f/3.5 (0x25) to f/32 (0x58) on the fine scale.
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) {
        s.SetCustomFunction(6, 1);
        s.SetLens(10, 500, 280, 1350, 0x25, 0x58);
    });
    ASSERT_GT(form.av->count(), 1);
    EXPECT_EQ(form.av->itemText(0).toStdString(), "3.5");
    EXPECT_EQ(form.av->itemText(form.av->count() - 2).toStdString(), "32");
    EXPECT_EQ(form.av->itemText(form.av->count() - 1).toStdString(), "Auto");

    // A brighter lens brings the wider apertures back; the selection stays on the camera's value.
    sim->SetLens(10, 500, 500, 500, 0x10, 0x70);
    panel->Refresh();
    EXPECT_EQ(form.av->itemText(0).toStdString(), "1.4");
    EXPECT_EQ(form.av->itemText(form.av->count() - 2).toStdString(), "91");
    EXPECT_EQ(Text(form.av), "5.6");

    // A failed read of the highest code keeps the top end; the lowest still applies.
    sim->SetLens(10, 500, 500, 500, 0x28, 0x48);
    sim->SetSettingReadFault(0x21, true);
    panel->Refresh();
    EXPECT_EQ(form.av->itemText(0).toStdString(), "4");
    EXPECT_EQ(form.av->itemText(form.av->count() - 2).toStdString(), "91");
}

TEST_F(PanelTest, ATvValueInNoEntryKeepsTheSelection)
{
    Connect("Canon EOS 10D");  // custom function 6 off: half stops
    ASSERT_EQ(form.tv->count(), 37);
    ASSERT_EQ(Text(form.tv), "1/125");
    // 1/160 exists only on the third-stop scale.
    ASSERT_EQ(sim->CDSetTvValue(camera->Source(), 0x73), cdOK);
    panel->Refresh();
    EXPECT_EQ(Text(form.tv), "1/125");
}

TEST_F(PanelTest, RefreshWhileShootingChangesNothing)
{
    Connect("Canon EOS 10D");
    sim->TurnModeDial(1);
    sim->SetLens(10, 850, 850, 850, 0x10, 0x58);
    ASSERT_TRUE(camera->LockUI());  // the release holds the controls
    const sim::SimState before = sim->State();
    const int reads = sim->CallCount("CDGetTvValue");

    shooting = true;
    panel->Refresh();
    panel->SettingsChanged();
    panel->RefreshCameraSettings();

    EXPECT_EQ(Text(form.modeLine), "Mode: Manual");
    EXPECT_EQ(Text(form.lensLine), "Lens: 135-28 @ 50mm");
    EXPECT_EQ(sim->CallCount("CDGetTvValue"), reads);
    EXPECT_EQ(sim->State().lockCalls, before.lockCalls);
    EXPECT_EQ(sim->State().unlockCalls, before.unlockCalls);
    EXPECT_TRUE(sim->State().uiLocked);

    shooting = false;
    camera->UnlockUI();
    panel->Refresh();
    EXPECT_EQ(Text(form.modeLine), "Mode: Program");
}

TEST_F(PanelTest, RefreshClearsALeftoverLockAndALockedCameraLeavesThePanel)
{
    Connect("Canon EOS 10D");
    // A lock left counted (e.g. by a preview whose format could not be set).
    ASSERT_TRUE(camera->LockUI());
    ASSERT_TRUE(camera->LockUI());
    panel->Refresh();
    EXPECT_FALSE(sim->State().uiLocked);
    const int locks = sim->State().lockCalls;
    ASSERT_TRUE(camera->LockUI());
    EXPECT_EQ(sim->State().lockCalls, locks + 1);  // the count had really gone back to zero
    camera->UnlockUI();

    // With the LCD on the controls cannot be locked: nothing is read.
    sim->SetLcdOn(true);
    sim->TurnModeDial(1);
    panel->Refresh();
    EXPECT_EQ(Text(form.modeLine), "Mode: Manual");
}

TEST_F(PanelTest, RefreshTellsTheCameraQualityAndSaveMode)
{
    storeImage = 3;
    Connect("Canon EOS 10D");
    ASSERT_EQ(sim->CDSetImageFormatAttribute(camera->Source(), 4, 0), cdOK);
    panel->Refresh();
    EXPECT_EQ(Text(form.sizeQuality), "Raw");
    // Camera and PC, and the thumbnail comes along with a RAW picture.
    EXPECT_EQ(camera->ReleaseDataKind(), cdREL_KIND_PICT_TO_CAM | cdREL_KIND_THUMB_TO_CAM | cdREL_KIND_PICT_TO_PC |
                                             cdREL_KIND_THUMB_TO_PC);
    EXPECT_EQ(sim->State().releaseKind, camera->ReleaseDataKind());
}

// ------------------------------------------------------------------ bodies

TEST_F(PanelTest, Eos10DListsFollowCustomFunction6)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) {
        s.SetCustomFunction(4, 1);
        s.SetCustomFunction(12, 1);
    });
    EXPECT_EQ(panel->PreparedModel(), panel::Model::Eos10D);
    EXPECT_EQ(form.tv->count(), 37);
    EXPECT_EQ(form.exposureComp->count(), 9);
    EXPECT_EQ(form.flashComp->count(), 9);
    EXPECT_EQ(form.iso->count(), 6);
    EXPECT_EQ(form.iso->itemText(5).toStdString(), "3200");
    EXPECT_EQ(form.whiteBalance->count(), 9);
    EXPECT_EQ(form.sizeQuality->count(), 7);
    EXPECT_EQ(form.metering->count(), 3);
    EXPECT_EQ(form.drive->count(), 3);
    EXPECT_EQ(form.afMode->count(), 4);
    EXPECT_EQ(Text(form.shutterButtonLine), "Shutter release: AE lock");
    EXPECT_EQ(Text(form.aeLockLine), "AE lock button: AF");
    EXPECT_EQ(Text(form.mirrorLockupLine), "Mirror lockup: ENABLED");
    for (int id : kAllFocusIds)
        EXPECT_FALSE(Hidden(id)) << id;

    // Third-stop steps switched on at the body: the next reading refills the lists.
    sim->SetCustomFunction(6, 1);
    panel->Refresh();
    EXPECT_EQ(form.tv->count(), 54);
    EXPECT_EQ(form.exposureComp->count(), 13);
    EXPECT_EQ(form.flashComp->count(), 13);
    EXPECT_EQ(Text(form.tv), "1/125");
    EXPECT_EQ(Text(form.exposureComp), "None");
}

TEST_F(PanelTest, Eos300DLists)
{
    Connect("Canon EOS 300D DIGITAL", [](sim::SimulatedCamera& s) { s.SetParameterSet(5); });
    EXPECT_EQ(panel->PreparedModel(), panel::Model::Eos300D);
    EXPECT_EQ(form.tv->count(), 54);
    EXPECT_EQ(form.exposureComp->count(), 13);
    EXPECT_EQ(form.iso->count(), 5);
    EXPECT_EQ(form.iso->itemText(4).toStdString(), "1600");
    EXPECT_EQ(form.whiteBalance->count(), 8);
    EXPECT_EQ(Text(form.parameterSetLine), "Parameter Set: Parameter 2, sRGB");
    // No button custom functions and no metering or AF choice from the PC.
    EXPECT_EQ(Text(form.shutterButtonLine), "");
    EXPECT_EQ(Text(form.aeLockLine), "");
    EXPECT_FALSE(form.metering->isEnabled());
    EXPECT_FALSE(form.afMode->isEnabled());
    EXPECT_TRUE(form.iso->isEnabled());
    for (int id : kAllFocusIds)
        EXPECT_FALSE(Hidden(id)) << id;
}

TEST_F(PanelTest, D30AndD60HaveThreeFocusPointsAndTheirIsoLists)
{
    Connect("Canon EOS D30", [](sim::SimulatedCamera& s) {
        s.SetCustomFunction(2, 2);
        s.SetCustomFunction(3, 1);
    });
    EXPECT_EQ(panel->PreparedModel(), panel::Model::D30);
    EXPECT_EQ(form.tv->count(), 37);  // custom function 4 off
    EXPECT_EQ(form.iso->count(), 5);
    EXPECT_EQ(form.iso->itemText(4).toStdString(), "1600");
    EXPECT_EQ(form.whiteBalance->count(), 8);
    EXPECT_EQ(Text(form.parameterSetLine), "");
    EXPECT_EQ(Text(form.shutterButtonLine), "Shutter release: AF");
    EXPECT_EQ(Text(form.aeLockLine), "AE lock button: AF lock, no AE lock");
    EXPECT_EQ(Text(form.mirrorLockupLine), "Mirror lockup: ENABLED");
    for (int id : {IDC_FP_TOP, IDC_FP_FAR_LEFT, IDC_FP_FAR_RIGHT, IDC_FP_BOTTOM})
        EXPECT_TRUE(Hidden(id)) << id;
    for (int id : {IDC_FP_LEFT, IDC_FP_CENTRE, IDC_FP_RIGHT})
        EXPECT_FALSE(Hidden(id)) << id;

    // A D60 with third-stop steps (custom function 4) after the D30.
    camera.reset();
    Connect("Canon EOS D60", [](sim::SimulatedCamera& s) { s.SetCustomFunction(4, 1); });
    EXPECT_EQ(panel->PreparedModel(), panel::Model::D60);
    EXPECT_EQ(form.tv->count(), 54);
    EXPECT_EQ(form.iso->count(), 5);
    EXPECT_EQ(form.iso->itemText(4).toStdString(), "1000");
    EXPECT_TRUE(Hidden(IDC_FP_TOP));

    // Then a 10D again: all seven come back.
    camera.reset();
    Connect("Canon EOS 10D");
    for (int id : kAllFocusIds)
        EXPECT_FALSE(Hidden(id)) << id;
}

TEST_F(PanelTest, ProgressBarTakesThePlaceOfTheLensLineOrOfThe300DsAeLockLine)
{
    Connect("Canon EOS 10D");
    QApplication::processEvents();
    EXPECT_EQ(form.progress->geometry(), form.lensLine->geometry());

    camera.reset();
    Connect("Canon EOS Kiss Digital");
    QApplication::processEvents();
    EXPECT_EQ(form.progress->geometry(), form.aeLockLine->geometry());

    // The panel is laid out again (a line above disappears): the bar follows.
    const QPoint old = form.aeLockLine->pos();
    form.modeLine->hide();
    form.panel->layout()->activate();
    QApplication::processEvents();
    ASSERT_NE(form.aeLockLine->pos(), old);
    EXPECT_EQ(form.progress->geometry(), form.aeLockLine->geometry());
}

TEST_F(PanelTest, EnablingByConnection)
{
    Connect("Canon EOS D60");
    panel->UpdateEnabling(false);
    for (QWidget* w : std::initializer_list<QWidget*>{form.tv, form.av, form.iso, form.exposureComp, form.flashComp,
                                                       form.sizeQuality, form.whiteBalance, form.colourTemp,
                                                       form.metering, form.drive, form.afMode, form.selectAll})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    for (int id : kAllFocusIds)
        EXPECT_FALSE(form.FocusPoint(id)->isEnabled()) << id;
    // The lists keep their entries and selections.
    EXPECT_EQ(Text(form.tv), "1/125");

    panel->UpdateEnabling(true);
    EXPECT_TRUE(form.sizeQuality->isEnabled());
    EXPECT_TRUE(form.drive->isEnabled());
    EXPECT_FALSE(form.tv->isEnabled());  // left to the next reading
    EXPECT_FALSE(form.selectAll->isHidden());
    EXPECT_TRUE(Hidden(IDC_FP_BOTTOM));
    EXPECT_FALSE(Hidden(IDC_FP_CENTRE));
}

// ------------------------------------------------------------------ change handlers

TEST_F(PanelTest, TvAvAndCompensationWriteAndShowWhatTheCameraTook)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.SetCustomFunction(6, 1); });
    Choose(form.tv, 0x78);
    uint16_t v = 0;
    sim->CDGetTvValue(camera->Source(), &v);
    EXPECT_EQ(v, 0x78);
    EXPECT_EQ(Text(form.tv), "1/250");
    // Bulb cannot be set from the PC: the list goes back to the camera's value.
    Choose(form.tv, 0x04);
    EXPECT_EQ(Text(form.tv), "1/250");

    Choose(form.av, 0x40);
    sim->CDGetAvValue(camera->Source(), &v);
    EXPECT_EQ(v, 0x40);
    EXPECT_EQ(Text(form.av), "11");
    // The dial turned to Tv without a new reading: the camera refuses an aperture.
    sim->TurnModeDial(2);
    Choose(form.av, 0x48);
    EXPECT_EQ(Text(form.av), "11");

    sim->TurnModeDial(1);
    Choose(form.exposureComp, 0x13);
    sim->CDGetExposureComp(camera->Source(), &v);
    EXPECT_EQ(v, 0x13);
    EXPECT_EQ(Text(form.exposureComp), "+2/3");
    sim->TurnModeDial(4);  // no compensation in Manual
    Choose(form.exposureComp, 0x20);
    EXPECT_EQ(Text(form.exposureComp), "+2/3");
}

TEST_F(PanelTest, FlashCompensationLocksTheControlsAroundItsWrite)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.TurnModeDial(1); });
    const sim::SimState before = sim->State();
    Choose(form.flashComp, 0x20);
    EXPECT_EQ(sim->Setting(0x0800000D), 0x20u);
    EXPECT_EQ(Text(form.flashComp), "-1");
    EXPECT_EQ(sim->State().lockCalls, before.lockCalls + 1);
    EXPECT_EQ(sim->State().unlockCalls, before.unlockCalls + 1);

    // The controls cannot be locked: nothing is written, the list shows the camera's value.
    sim->SetLcdOn(true);
    const int writes = sim->CallCount("CDSetRelCamSettingData");
    Choose(form.flashComp, 0x08);
    EXPECT_EQ(sim->CallCount("CDSetRelCamSettingData"), writes);
    EXPECT_EQ(sim->Setting(0x0800000D), 0x20u);
    EXPECT_EQ(Text(form.flashComp), "-1");
}

TEST_F(PanelTest, SizeQualityWritesTheFormatAndTheReleaseKind)
{
    Connect("Canon EOS 10D");
    Choose(form.sizeQuality, 0x20002);
    uint16_t q = 0, s = 0;
    sim->CDGetImageFormatAttribute(camera->Source(), &q, &s);
    EXPECT_EQ(q, 2);
    EXPECT_EQ(s, 2);
    EXPECT_EQ(Text(form.sizeQuality), "Small/normal");
    EXPECT_EQ(camera->ReleaseDataKind(), cdREL_KIND_PICT_TO_PC);

    Choose(form.sizeQuality, 0x4);
    EXPECT_EQ(Text(form.sizeQuality), "Raw");
    EXPECT_EQ(camera->ReleaseDataKind(), cdREL_KIND_PICT_TO_PC | cdREL_KIND_THUMB_TO_PC);

    // After a preview the view restores the chosen format with the same routine.
    ASSERT_EQ(sim->CDSetImageFormatAttribute(camera->Source(), 2, 2), cdOK);
    panel->ApplySizeQuality();
    sim->CDGetImageFormatAttribute(camera->Source(), &q, &s);
    EXPECT_EQ(q, 4);
    EXPECT_EQ(s, 0);
}

TEST_F(PanelTest, WhiteBalanceAndColourTemperature)
{
    Connect("Canon EOS 10D", [](sim::SimulatedCamera& s) { s.TurnModeDial(1); });
    Choose(form.whiteBalance, 9);
    EXPECT_EQ(Text(form.whiteBalance), "Kelvin");
    EXPECT_TRUE(form.colourTemp->isEnabled());

    struct Case {
        const char* typed;
        uint32_t sent;
    };
    for (const Case& c : {Case{"5350", 5400}, Case{"2000", 2800}, Case{"12000", 10000}, Case{"abc", 2800},
                          Case{" 7010 ", 7000}, Case{"70000", 10000}}) {
        TypeColourTemperature(c.typed);
        EXPECT_EQ(sim->Setting(0x1100), c.sent) << c.typed;
        EXPECT_EQ(Text(form.colourTemp), std::to_string(c.sent)) << c.typed;
    }

    Choose(form.whiteBalance, 8);
    EXPECT_EQ(Text(form.whiteBalance), "Shade");
    EXPECT_FALSE(form.colourTemp->isEnabled());
    // Refused outside the creative modes: the list returns to the camera's value.
    sim->TurnModeDial(102);
    Choose(form.whiteBalance, 3);
    EXPECT_EQ(Text(form.whiteBalance), "Shade");
}

TEST_F(PanelTest, MeteringDriveIsoAndAfModeWriteAndReadBack)
{
    Connect("Canon EOS 10D");
    Choose(form.metering, 4);
    EXPECT_EQ(sim->Setting(0x08000004), 4u);
    EXPECT_EQ(Text(form.metering), "Partial");

    Choose(form.drive, 0x10);
    uint16_t v = 0;
    sim->CDGetDriveMode(camera->Source(), &v);
    EXPECT_EQ(v, 0x10);
    EXPECT_EQ(Text(form.drive), "Self-timer");

    Choose(form.iso, 0x70);
    EXPECT_EQ(sim->Setting(0x0800000C), 0x70u);
    EXPECT_EQ(Text(form.iso), "3200");

    Choose(form.afMode, 1);
    EXPECT_EQ(sim->Setting(7), 1u);
    EXPECT_EQ(Text(form.afMode), "AI Servo AF");
    // Manual focus is the lens's switch: the camera refuses it from the PC.
    Choose(form.afMode, 3);
    EXPECT_EQ(Text(form.afMode), "AI Servo AF");

    // A write that fails is followed by a read-back showing what the camera holds.
    sim->SetCallFault("CDSetRelCamSettingData", true);
    Choose(form.iso, 0x58);
    EXPECT_EQ(Text(form.iso), "3200");
    Choose(form.metering, 5);
    EXPECT_EQ(Text(form.metering), "Partial");
}

TEST_F(PanelTest, The300DRefusesMeteringFromThePc)
{
    Connect("Canon EOS 300D DIGITAL");
    Choose(form.metering, 5);
    EXPECT_EQ(sim->Setting(0x08000004), 3u);
    EXPECT_EQ(Text(form.metering), "Evaluative");
    EXPECT_EQ(form.whiteBalance->findData(QVariant::fromValue<uint>(9)), -1);
}

TEST_F(PanelTest, FocusPointButtons)
{
    Connect("Canon EOS 10D");
    form.FocusPoint(IDC_FP_CENTRE)->click();
    EXPECT_EQ(sim->Setting(0x08000005), 0x7003u);
    for (int id : kAllFocusIds)
        EXPECT_EQ(form.FocusPoint(id)->isChecked(), id == IDC_FP_CENTRE) << id;

    // Clicking the checked button again keeps it selected: the camera always has a point.
    form.FocusPoint(IDC_FP_CENTRE)->click();
    EXPECT_TRUE(form.FocusPoint(IDC_FP_CENTRE)->isChecked());

    form.FocusPoint(IDC_FP_FAR_LEFT)->click();
    EXPECT_EQ(sim->Setting(0x08000005), 0x7006u);
    EXPECT_TRUE(form.FocusPoint(IDC_FP_FAR_LEFT)->isChecked());
    EXPECT_FALSE(form.FocusPoint(IDC_FP_CENTRE)->isChecked());

    form.selectAll->click();
    EXPECT_EQ(sim->Setting(0x08000005), 0x7001u);
    for (int id : kAllFocusIds)
        EXPECT_TRUE(form.FocusPoint(id)->isChecked()) << id;
}

TEST_F(PanelTest, ThreePointBodiesGetFourteenBitFocusWrites)
{
    Connect("Canon EOS D30");
    form.FocusPoint(IDC_FP_LEFT)->click();
    EXPECT_EQ(sim->Setting(0x08000005), 0x3004u);
    EXPECT_TRUE(form.FocusPoint(IDC_FP_LEFT)->isChecked());
    EXPECT_FALSE(form.FocusPoint(IDC_FP_CENTRE)->isChecked());
    form.selectAll->click();
    EXPECT_EQ(sim->Setting(0x08000005), 0x3001u);
}

TEST_F(PanelTest, WithoutACameraHandlersOnlyTouchTheButtons)
{
    Connect("Canon EOS 10D");
    camera.reset();
    const int tvWrites = sim->CallCount("CDSetTvValue");
    const int writes = sim->CallCount("CDSetRelCamSettingData");

    form.tv->setCurrentIndex(3);
    panel->OnTvChanged();
    TypeColourTemperature("6000");
    EXPECT_EQ(Text(form.colourTemp), "6000");  // nothing sent, nothing rewritten

    // Enabled again only so that the clicks reach the buttons.
    for (QPushButton* b : form.focusPoints)
        b->setEnabled(true);
    form.selectAll->setEnabled(true);
    for (QPushButton* b : form.focusPoints)
        b->setChecked(true);
    form.FocusPoint(IDC_FP_RIGHT)->click();  // checked before: the click unchecks it
    for (int id : kAllFocusIds)
        EXPECT_FALSE(form.FocusPoint(id)->isChecked()) << id;
    form.FocusPoint(IDC_FP_TOP)->click();
    EXPECT_TRUE(form.FocusPoint(IDC_FP_TOP)->isChecked());
    form.FocusPoint(IDC_FP_BOTTOM)->click();
    EXPECT_TRUE(form.FocusPoint(IDC_FP_BOTTOM)->isChecked());
    EXPECT_FALSE(form.FocusPoint(IDC_FP_TOP)->isChecked());
    form.selectAll->click();
    for (int id : kAllFocusIds)
        EXPECT_FALSE(form.FocusPoint(id)->isChecked()) << id;

    EXPECT_EQ(sim->CallCount("CDSetTvValue"), tvWrites);
    EXPECT_EQ(sim->CallCount("CDSetRelCamSettingData"), writes);
}

TEST_F(PanelTest, AListWithoutSelectionSendsNothing)
{
    Connect("Canon EOS 10D");
    const int writes = sim->CallCount("CDSetTvValue");
    form.tv->setCurrentIndex(-1);  // e.g. the remote channel asked for an index past the end
    panel->OnTvChanged();
    EXPECT_EQ(sim->CallCount("CDSetTvValue"), writes);
    form.iso->setCurrentIndex(-1);
    const int settingWrites = sim->CallCount("CDSetRelCamSettingData");
    panel->OnIsoChanged();
    EXPECT_EQ(sim->CallCount("CDSetRelCamSettingData"), settingWrites);
}
