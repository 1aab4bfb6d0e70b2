// The whole program on libgphoto2's virtual camera, offscreen: it connects and names the
// body, the settings panel reads and writes aperture and exposure compensation through the
// backend, and F8 ends with the picture on disk, stamped, and on screen; a 3-frame bracket
// reads each shutter speed back from the body and puts the user's back, and a step the
// body lacks is refused before any shot.
#include "app/CMainFrame.h"
#include "app/MessageBox.h"
#include "backends/gphoto2/Gphoto2Camera.h"
#include "mainview/CMyTethrocamView.h"
#include "mainview/CameraSettingsPanel.h"
#include "mainview/ControlIds.h"
#include "settings/RegistryStore.h"
#include "settings/Settings.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"
#include "windows/CTimeLapseDlg.h"
#include "windows/SequenceSets.h"
#include "VirtualCamera.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

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
    // A third stop the body lacks: refused, and the list shows what the body kept.
    Choose(form.exposureComp, 0x15);
    EXPECT_EQ(Code(form.exposureComp), 0x10u);

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

    // 2/3 EV: the body has no 1/160; refused before any shot, the user's 1/100 kept.
    run(4, preview, status, readBack);
    const std::string why = "The camera does not take the shutter speed 1/160 that the bracket needs (it keeps 1/100). "
                            "Choose another step or fewer frames.";
    EXPECT_EQ(status.toStdString(), "Not started: " + why);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].detail.toStdString(), why);
    EXPECT_FALSE(fs::exists(pictures / "IMG_0004.JPG"));
    ASSERT_EQ(library.CDGetTvValue(view->Camera()->Source(), &tv), cdsdk::cdOK);
    EXPECT_EQ(tv, 0x6D);

    frame->close();
    frame.reset();
}

}  // namespace
