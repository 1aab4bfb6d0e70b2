// The whole program on libgphoto2's virtual camera, offscreen: it connects and names the
// body, the settings panel reads and writes aperture and exposure compensation through the
// backend, and F8 ends with the picture on disk, stamped, and on screen.
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
#include "VirtualCamera.h"

#include <QComboBox>

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

}  // namespace
