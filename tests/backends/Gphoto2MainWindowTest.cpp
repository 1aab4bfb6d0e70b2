// The whole program on libgphoto2's virtual camera, offscreen: it connects and names the
// body, the settings panel reads and writes aperture and exposure compensation through the
// backend, and F8 ends with the picture on disk, stamped, and on screen. The panel shows the
// body in front of it (its own choices, nothing it lacks), also through the remote channel's
// indexes, and what goes wrong reaches the user with the backend's reason and remedy. A
// 3-frame bracket reads each shutter speed back from the body and puts the user's back, and
// a step the body lacks is refused before any shot.
#include "app/CMainFrame.h"
#include "app/MessageBox.h"
#include "backends/gphoto2/Gphoto2Camera.h"
#include "mainview/CMyTethrocamView.h"
#include "mainview/CameraSettingsPanel.h"
#include "mainview/ControlIds.h"
#include "settings/RegistryStore.h"
#include "settings/Settings.h"
#include "support/MappedBlock.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "windows/CTimeLapseDlg.h"
#include "windows/SequenceSets.h"
#include "VirtualCamera.h"

#include "remote/RemoteControl.h"
#include "remote/RemoteProtocol.h"
#include "remote/RemoteTransport.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace fs = std::filesystem;
using testsupport::WaitUntil;

namespace {

void Choose(QComboBox* combo, uint32_t code)
{
    const int i = combo->findData(QVariant::fromValue<uint>(code));
    ASSERT_GE(i, 0) << "no entry with code " << code;
    combo->setCurrentIndex(i);
    emit combo->activated(i);
}

uint32_t Code(const QComboBox* combo) { return panel::SelectedCode(combo).value_or(0xDEADu); }

std::vector<std::string> Labels(const QComboBox* combo)
{
    std::vector<std::string> out;
    for (int i = 0; i < combo->count(); ++i)
        out.push_back(combo->itemText(i).toStdString());
    return out;
}

// The program on the virtual camera over a scratch settings file and picture folder, with
// scripted message boxes and the remote channel in a private folder.
struct VirtualRig {
    vcamera::Folders card{1024, 683};
    testsupport::TempDir dir;
    std::string settingsFile = (dir.Path() / "settings.reg").string();
    fs::path pictures = dir.Path() / "pictures";
    fs::path runtime = dir.Path() / "runtime";
    msgbox::Script boxes;
    std::unique_ptr<gphoto2::Gphoto2Camera> library;
    std::unique_ptr<CMainFrame> frame;
    CMyTethrocamView* view = nullptr;
    MappedBlock block;

    explicit VirtualRig(const std::string& port = {}, bool expectCamera = true)
    {
        testsupport::App();
        card.UsePicture();
        Settings s;
        s.Directory = pictures.string();
        s.Year = s.Month = s.Day = false;
        RegistryStore store(settingsFile);
        EXPECT_TRUE(SaveSettings(s, store));
        gphoto2::Gphoto2Options options;
        options.report = [](const std::string&) {};
        options.port = port;
        library = std::make_unique<gphoto2::Gphoto2Camera>(options);
        frame = std::make_unique<CMainFrame>(settingsFile);
        view = new CMyTethrocamView(*library, frame.get(), settingsFile);
        frame->setCentralWidget(view);
        fs::create_directory(runtime);
        chmod(runtime.c_str(), 0700);
        view->StartRemoteControl(runtime.string());
        frame->show();
        if (expectCamera) {
            EXPECT_TRUE(WaitUntil([&] { return view->Camera() != nullptr || !boxes.shown.empty(); }, 10000));
        }
        testsupport::Pump(100);
        std::string error;
        platform::SharedBlock made;  // made as a client makes it, then mapped as a test client reads it
        EXPECT_TRUE(made.Open(runtime.string(), error)) << error;
        EXPECT_TRUE(block.Open((runtime / remote::kBlockName).string()));
    }
    ~VirtualRig()
    {
        frame->close();
        frame.reset();
        library.reset();
    }
    // A request through the remote channel, as tethrocam-remote makes it: the reply.
    int32_t Ask(int32_t command, int32_t parameter)
    {
        EXPECT_TRUE(remote::WriteRequest(block.Data(), command, parameter, {}));
        std::string error;
        EXPECT_EQ(platform::SendWakeUp(runtime.string(), error), platform::WakeUpResult::Sent) << error;
        WaitUntil([&] { return remote::ReadInt(block.Data(), remote::kStatusOffset) != remote::kReplyNone; }, 3000);
        return remote::ReadInt(block.Data(), remote::kStatusOffset);
    }
    // The virtual body's scripted operation 0x9999 (3: pull the cable after `n` commands).
    cdsdk::cdError Script(uint32_t action, uint32_t n)
    {
        return library->SetConfigValue(view->Camera()->Source(), "opcode",
                                       "0x9999,0x" + std::to_string(action) + ",0x" + std::to_string(n));
    }
};

TEST(Gphoto2MainWindow, ConnectsSetsTheApertureAndShootsOnTheVirtualCamera)
{
    if (std::string why = vcamera::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    testsupport::App();
    vcamera::Folders card(1536, 1024);
    card.UsePicture();
    testsupport::TempDir dir;
    const std::string settingsFile = (dir.Path() / "settings.reg").string();
    const fs::path pictures = dir.Path() / "pictures";
    {
        Settings s;
        s.Directory = pictures.string();
        s.Year = s.Month = s.Day = false;
        RegistryStore store(settingsFile);
        ASSERT_TRUE(SaveSettings(s, store));
    }
    msgbox::Script boxes;
    gphoto2::Gphoto2Options options;
    options.report = [](const std::string&) {};
    gphoto2::Gphoto2Camera library(options);
    auto frame = std::make_unique<CMainFrame>(settingsFile);
    auto* view = new CMyTethrocamView(library, frame.get(), settingsFile);
    frame->setCentralWidget(view);
    frame->show();
    ASSERT_TRUE(WaitUntil([&] { return view->Camera() != nullptr || !boxes.shown.empty(); }, 10000));
    testsupport::Pump(100);
    ASSERT_NE(view->Camera(), nullptr);
    EXPECT_EQ(frame->windowTitle().toStdString(), "Tethrocam - Connected to Nikon DSC D750");
    EXPECT_TRUE(boxes.shown.empty());

    // The panel shows what the body holds and writes what the user picks, read back.
    const FormControls& form = view->Form();
    EXPECT_EQ(Code(form.av), 0x20u);             // f/2.8
    EXPECT_EQ(Code(form.exposureComp), 0x18u);   // none
    EXPECT_EQ(Code(form.tv), 0x6Du);             // 1/100
    Choose(form.av, 0x30);                       // f/5.6
    EXPECT_EQ(Code(form.av), 0x30u);
    Choose(form.exposureComp, 0x10);             // +1
    EXPECT_EQ(Code(form.exposureComp), 0x10u);
    uint16_t av = 0;
    ASSERT_EQ(library.CDGetAvValue(view->Camera()->Source(), &av), cdsdk::cdOK);
    EXPECT_EQ(av, 0x30);
    // A third stop the body lacks is not offered: the list holds the body's half stops.
    EXPECT_EQ(form.exposureComp->findData(QVariant::fromValue<uint>(0x15)), -1);

    // F8: downloaded, saved under the first number, stamped, shown.
    frame->Command(ids::IDC_RELEASE);
    ASSERT_TRUE(WaitUntil([&] { return view->History().Count() == 1 && !view->Shooting(); }, 20000));
    const fs::path saved = pictures / "IMG_0001.JPG";
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_EQ(view->CurrentBytes(), card.picture);
    ASSERT_TRUE(view->DisplayBitmap());
    EXPECT_GT(view->DisplayBitmap()->width, 300);
    EXPECT_GT(view->DisplayBitmap()->width, view->DisplayBitmap()->height);  // the 3:2 picture, unrotated
    EXPECT_GT(view->Histogram().SampleCount(), 0u);
    EXPECT_NE(frame->StatusText(0).toStdString().find("Saved: " + saved.string()), std::string::npos)
        << frame->StatusText(0).toStdString();
    EXPECT_TRUE(boxes.shown.empty());
    // The comment box was empty: the file is the camera's bytes unchanged.
    EXPECT_EQ(testsupport::ReadFileBytes(saved), card.picture);

    frame->close();
    frame.reset();
}

// The virtual Nikon is a body the program's tables do not describe: the panel offers its own
// eight-odd speeds, its apertures and half-stop compensation, nothing it lacks, and none of
// the EOS 10D's focus points or custom-function lines. The remote channel's indexes are the
// panel's.
TEST(Gphoto2MainWindow, ThePanelShowsTheBodyInFrontOfIt)
{
    if (std::string why = vcamera::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    VirtualRig rig;
    ASSERT_NE(rig.view->Camera(), nullptr);
    const FormControls& form = rig.view->Form();
    EXPECT_TRUE(rig.view->Panel()->BodyDescribed());

    EXPECT_EQ(Labels(form.tv), (std::vector<std::string>{"1\"", "1/10", "1/20", "1/50", "1/100", "1/200", "1/400",
                                                           "1/800", "1/10000"}));
    EXPECT_EQ(Labels(form.av).size(), 18u);
    EXPECT_EQ(Labels(form.av).front(), "2.8");
    EXPECT_EQ(Labels(form.av).back(), "22");
    EXPECT_EQ(Labels(form.exposureComp).size(), 13u);
    EXPECT_EQ(form.exposureComp->itemText(6).toStdString(), "None");
    for (QComboBox* offered : {form.tv, form.av, form.exposureComp})
        EXPECT_TRUE(offered->isEnabled()) << offered->objectName().toStdString();
    EXPECT_EQ(Code(form.tv), 0x6Du);  // 1/100

    // What the body lacks is an empty, disabled list that says so: never an empty enabled one.
    for (QComboBox* lacking : {form.iso, form.flashComp, form.sizeQuality, form.whiteBalance, form.metering,
                               form.drive, form.afMode}) {
        EXPECT_EQ(lacking->count(), 0) << lacking->objectName().toStdString();
        EXPECT_FALSE(lacking->isEnabled()) << lacking->objectName().toStdString();
        EXPECT_EQ(lacking->placeholderText().toStdString(), panel::kNotOffered);
    }
    EXPECT_FALSE(form.colourTemp->isEnabled());
    EXPECT_FALSE(form.focusGroup->isVisibleTo(rig.frame.get()));
    for (QPushButton* point : form.focusPoints)
        EXPECT_FALSE(point->isVisibleTo(rig.frame.get()));
    EXPECT_FALSE(form.selectAll->isVisibleTo(rig.frame.get()));
    EXPECT_TRUE(form.shutterButtonLine->text().isEmpty()) << form.shutterButtonLine->text().toStdString();
    EXPECT_TRUE(form.aeLockLine->text().isEmpty());
    EXPECT_EQ(form.modeLine->text().toStdString().find("Unknown"), std::string::npos);

    // The remote channel's indexes are the body's own choices.
    const cdsdk::cdHSource src = rig.view->Camera()->Source();
    uint16_t v = 0;
    EXPECT_EQ(rig.Ask(remote::kCmdTv, 0), remote::kReplyDone);
    ASSERT_EQ(rig.library->CDGetTvValue(src, &v), cdsdk::cdOK);
    EXPECT_EQ(v, 0x38);  // 1 s
    EXPECT_EQ(rig.Ask(remote::kCmdTv, 5), remote::kReplyDone);
    ASSERT_EQ(rig.library->CDGetTvValue(src, &v), cdsdk::cdOK);
    EXPECT_EQ(v, 0x75);  // 1/200
    EXPECT_EQ(rig.Ask(remote::kCmdTv, 20), remote::kReplyRefused);
    EXPECT_EQ(rig.Ask(remote::kCmdAv, 0), remote::kReplyDone);
    ASSERT_EQ(rig.library->CDGetAvValue(src, &v), cdsdk::cdOK);
    EXPECT_EQ(v, 0x20);  // f/2.8
    EXPECT_EQ(rig.Ask(remote::kCmdAv, 3), remote::kReplyDone);
    ASSERT_EQ(rig.library->CDGetAvValue(src, &v), cdsdk::cdOK);
    EXPECT_EQ(v, 0x2B);  // f/4.5
    EXPECT_EQ(rig.Ask(remote::kCmdIso, 0), remote::kReplyRefused);  // the body has no ISO setting
}

// Connecting: no camera at the chosen port. The box keeps the program's own headline and
// says under it what the backend found and what to do; the status bar says it too.
TEST(Gphoto2MainWindow, AFailedConnectionSaysWhyUnderTheHeadline)
{
    if (std::string why = vcamera::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    VirtualRig rig("usb:999,999", false);
    EXPECT_EQ(rig.view->Camera(), nullptr);
    EXPECT_NE(rig.frame->StatusText(0).toStdString().find("No camera found at usb:999,999"), std::string::npos)
        << rig.frame->StatusText(0).toStdString();
    rig.boxes.answers = {msgbox::Answer::Yes};  // "Do you wish to reconnect?"
    rig.frame->Command(ids::IDC_RELEASE);
    testsupport::Pump(100);
    ASSERT_EQ(rig.boxes.shown.size(), 2u);
    const msgbox::Shown& box = rig.boxes.shown.back();
    EXPECT_EQ(box.text.toStdString(), "Unable to connect to camera");
    EXPECT_NE(box.detail.toStdString().find("No camera found at usb:999,999"), std::string::npos)
        << box.detail.toStdString();
    EXPECT_NE(box.detail.toStdString().find("USB cable"), std::string::npos);
}

// Downloading: the cable comes out while the picture is on its way. The shutdown box says
// what the backend saw and what to do, and the release does not hang.
TEST(Gphoto2MainWindow, APulledCableIsExplainedInTheShutdownBox)
{
    if (std::string why = vcamera::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    VirtualRig rig;
    ASSERT_NE(rig.view->Camera(), nullptr);
    ASSERT_EQ(rig.Script(3, 2), cdsdk::cdOK);  // the trigger and the file's description still get through
    rig.frame->Command(ids::IDC_RELEASE);
    ASSERT_TRUE(WaitUntil([&] { return !rig.boxes.shown.empty(); }, 10000));
    testsupport::Pump(100);
    const msgbox::Shown& box = rig.boxes.shown.front();
    EXPECT_EQ(box.text.toStdString(), "Camera shutdown: connection lost");
    EXPECT_NE(box.detail.toStdString().find("was disconnected"), std::string::npos) << box.detail.toStdString();
    EXPECT_NE(box.detail.toStdString().find("USB cable"), std::string::npos);
    EXPECT_NE(rig.frame->StatusText(0).toStdString().find("was disconnected"), std::string::npos);
    EXPECT_EQ(rig.view->Camera(), nullptr);
    EXPECT_FALSE(rig.view->Shooting());
}

TEST(Gphoto2MainWindow, AThreeFrameBracketReadsEachShutterSpeedBackAndPutsTheUsersBack)
{
    if (std::string why = vcamera::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    testsupport::App();
    vcamera::Folders card(640, 480);
    card.UsePicture();
    testsupport::TempDir dir;
    const std::string settingsFile = (dir.Path() / "settings.reg").string();
    const fs::path pictures = dir.Path() / "pictures";
    {
        Settings s;
        s.Directory = pictures.string();
        s.Year = s.Month = s.Day = false;
        s.SequenceKind = 1;
        s.BracketFrames = 3;
        s.BracketStep = 6;  // 1 EV
        RegistryStore store(settingsFile);
        ASSERT_TRUE(SaveSettings(s, store));
    }
    msgbox::Script boxes;
    gphoto2::Gphoto2Options options;
    options.report = [](const std::string&) {};
    gphoto2::Gphoto2Camera library(options);
    auto frame = std::make_unique<CMainFrame>(settingsFile);
    auto* view = new CMyTethrocamView(library, frame.get(), settingsFile);
    frame->setCentralWidget(view);
    frame->show();
    ASSERT_TRUE(WaitUntil([&] { return view->Camera() != nullptr || !boxes.shown.empty(); }, 10000));
    testsupport::Pump(100);
    ASSERT_NE(view->Camera(), nullptr);
    ASSERT_EQ(Code(view->Form().tv), 0x6Du);  // 1/100

    // The body does not say its mode: the shutter speed steps, each value tried first.
    auto run = [&](int stepSixths, QString& preview, QString& status, std::vector<uint16_t>& readBack) {
        bool ran = false;
        QTimer::singleShot(0, frame.get(), [&] {
            auto* dlg = dynamic_cast<CTimeLapseDlg*>(view->CurrentDisplayWindow());
            ASSERT_NE(dlg, nullptr);
            ran = true;
            auto* step = dlg->findChild<QComboBox*>("1072");
            ASSERT_NE(step, nullptr);
            step->setCurrentIndex(step->findData(stepSixths));
            preview = dlg->findChild<QLabel*>("1079")->text();
            dlg->findChild<QPushButton*>("1003")->click();
            EXPECT_TRUE(WaitUntil([&] { return !dlg->Sequence().Running() && !dlg->Sequence().InSet(); }, 60000));
            status = dlg->findChild<QLineEdit*>("1064")->text();
            if (dlg->Bracket())
                readBack = dlg->Bracket()->ReadBack();
            boxes.answers.push_back(msgbox::Answer::Yes);
            dlg->reject();
        });
        frame->Command(ids::ID_SEQUENCE);
        EXPECT_TRUE(ran);
    };
    QString preview, status;
    std::vector<uint16_t> readBack;
    run(6, preview, status, readBack);
    EXPECT_EQ(preview.toStdString(), "Shutter speed: 1/100, 1/200, 1/50; then back to 1/100 (the camera does not say "
                                     "its mode: each value is tried on it first)");
    EXPECT_EQ(readBack, (std::vector<uint16_t>{0x6D, 0x75, 0x65}));
    EXPECT_EQ(status.toStdString(), "Sequence completed, 1 bracket, 3 frames taken - shutter speed put back to 1/100");
    uint16_t tv = 0;
    ASSERT_EQ(library.CDGetTvValue(view->Camera()->Source(), &tv), cdsdk::cdOK);
    EXPECT_EQ(tv, 0x6D);
    EXPECT_EQ(Code(view->Form().tv), 0x6Du);
    for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"})
        EXPECT_TRUE(fs::exists(pictures / name)) << name;
    EXPECT_TRUE(boxes.shown.empty());

    // 2/3 EV: the body's shutter speed list has no 1/160; refused before any shot, the user's 1/100 kept.
    run(4, preview, status, readBack);
    const std::string why = "The camera's shutter speed list has no value 2/3 EV away from 1/100. Choose a step of "
                            "1 EV.";
    EXPECT_EQ(status.toStdString(), "Not started: " + why);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].detail.toStdString(), why);
    EXPECT_FALSE(fs::exists(pictures / "IMG_0004.JPG"));
    ASSERT_EQ(library.CDGetTvValue(view->Camera()->Source(), &tv), cdsdk::cdOK);
    EXPECT_EQ(tv, 0x6D);

    frame->close();
    frame.reset();
}

// Releasing: the card (in "Save to camera and PC", where the camera keeps every picture)
// runs full. The system's "Error: no CF card" is the headline; the backend's reason says the
// card is full and what to do. (Last in this program: the virtual card stays full.)
TEST(Gphoto2MainWindow, AFullCardSaysSoUnderTheHeadline)
{
    if (std::string why = vcamera::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    VirtualRig rig;
    ASSERT_NE(rig.view->Camera(), nullptr);
    rig.frame->Command(ids::ID_SAVE_CAMERA_AND_PC);
    for (int shot = 0; shot < 40 && rig.boxes.shown.empty(); ++shot) {
        const size_t saved = rig.view->History().Count();
        rig.frame->Command(ids::IDC_RELEASE);
        ASSERT_TRUE(WaitUntil([&] {
            return (rig.view->History().Count() > saved || !rig.boxes.shown.empty()) && !rig.view->Shooting();
        }, 15000)) << "shot " << shot;
    }
    ASSERT_FALSE(rig.boxes.shown.empty());
    const msgbox::Shown& box = rig.boxes.shown.front();
    EXPECT_EQ(box.text.toStdString(), "Error: no CF card");
    EXPECT_NE(box.detail.toStdString().find("is full"), std::string::npos) << box.detail.toStdString();
    EXPECT_NE(box.detail.toStdString().find("delete pictures"), std::string::npos);
    EXPECT_NE(rig.frame->StatusText(0).toStdString().find("Error: no CF card: The card in"), std::string::npos)
        << rig.frame->StatusText(0).toStdString();
}

}  // namespace
