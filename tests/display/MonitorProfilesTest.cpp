// The monitor profiles on the X11 root window, read and followed on a real X server: the
// test starts its own Xvfb, runs Qt on it (xcb), and sets the properties from a second
// client with XChangeProperty, as colord and the desktop's colour tools do.
#include "display/ColourManagement.h"
#include "display/MonitorProfiles.h"

#include "TestProfiles.h"  // tests/colour
#include "X11ColourTool.h"
#include "support/MainWindowFixture.h"

#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

extern char** environ;

using namespace display;
using testprofiles::Bytes;

namespace {

// An X server of the test's own, on the first free display number.
class Xvfb {
public:
    bool Start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        const std::string fd = std::to_string(fds[1]);
        // -terminate: the server goes with its last client, so a test that dies leaves none
        // behind. Its output is not the test's (CTest would wait for it).
        const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp",
                              "-terminate", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            pid_ = -1;
            close(fds[0]);
            return false;
        }
        // The server writes its display number once it accepts connections.
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (poll(&p, 1, 20000) > 0) {
            char c = 0;
            if (read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        }
        close(fds[0]);
        if (number.empty())
            return false;
        display_ = ":" + number;
        return true;
    }
    ~Xvfb()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& Display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

Xvfb* server = nullptr;
X11ColourTool* tool = nullptr;

class MonitorProfilesOnX11 : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new Xvfb;
        if (!server->Start())
            return;
        tool = new X11ColourTool(server->Display());
        if (!tool->Ok())
            return;
        // Set before the program starts: read at start.
        tool->Set("_ICC_PROFILE", testprofiles::WideGamutMonitor());
        qputenv("DISPLAY", QByteArray::fromStdString(server->Display()));
        qputenv("QT_QPA_PLATFORM", "xcb");
        testsupport::App();
    }
    void SetUp() override
    {
        if (!tool || !tool->Ok())
            GTEST_SKIP() << "Xvfb could not be started";
        ColourManagement::Instance().Configure({});
    }
    // Sets a property and waits until the program has read it again.
    static bool SetAndWait(const std::string& name, const Bytes& icc)
    {
        QSignalSpy changed(&ColourManagement::Instance(), &ColourManagement::Changed);
        tool->Set(name, icc);
        return changed.wait(10000);
    }
};

} // namespace

TEST_F(MonitorProfilesOnX11, ThePropertiesAreReadAtStartAndFollowedWhenTheyChange)
{
    ColourManagement& cm = ColourManagement::Instance();
    ASSERT_TRUE(cm.System().Available());
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "Wide gamut monitor");
    EXPECT_EQ(cm.MonitorProfileForScreen(1).Name(), "sRGB");  // no _ICC_PROFILE_1 yet

    ASSERT_TRUE(SetAndWait("_ICC_PROFILE", testprofiles::TableMonitor()));
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "Calibrated table monitor");
    QWidget window;
    window.show();
    EXPECT_EQ(cm.MonitorProfile(&window).Name(), "Calibrated table monitor");

    // Each screen has its own property.
    ASSERT_TRUE(SetAndWait("_ICC_PROFILE_1", testprofiles::Srgb()));
    EXPECT_EQ(cm.MonitorProfileForScreen(1).Name(), "sRGB IEC61966-2.1");
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "Calibrated table monitor");
    EXPECT_EQ(MonitorProfiles::PropertyName(1), "_ICC_PROFILE_1");

    // A damaged profile is none: sRGB. So is a removed one.
    ASSERT_TRUE(SetAndWait("_ICC_PROFILE", testprofiles::TruncatedProfile()));
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "sRGB");
    ASSERT_TRUE(SetAndWait("_ICC_PROFILE", testprofiles::WideGamutMonitor()));
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "Wide gamut monitor");
    QSignalSpy changed(&cm, &ColourManagement::Changed);
    tool->Remove("_ICC_PROFILE");
    ASSERT_TRUE(changed.wait(10000));
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "sRGB");
    tool->Remove("_ICC_PROFILE_1");
    ASSERT_TRUE(changed.wait(10000));
}

TEST_F(MonitorProfilesOnX11, APreferencesChoiceOverridesTheDesktopsProfile)
{
    ColourManagement& cm = ColourManagement::Instance();
    ASSERT_TRUE(SetAndWait("_ICC_PROFILE", testprofiles::WideGamutMonitor()));
    testsupport::TempDir dir;
    const auto file = dir.Path() / "table.icc";
    const Bytes table = testprofiles::TableMonitor();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(table.data()),
                                                static_cast<std::streamsize>(table.size()));

    ColourSettings s;
    s.monitor = MonitorProfileChoice::Srgb;
    EXPECT_EQ(cm.Configure(s), "");
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "sRGB");
    s.monitor = MonitorProfileChoice::File;
    s.file = file.string();
    EXPECT_EQ(cm.Configure(s), "");
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "Calibrated table monitor");
    // While a file is chosen, the desktop's changes do not change the colours.
    QSignalSpy changed(&cm, &ColourManagement::Changed);
    tool->Set("_ICC_PROFILE", testprofiles::Srgb());
    EXPECT_FALSE(changed.wait(1000));
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "Calibrated table monitor");
    // A file that is gone: said, and the desktop's profile is used meanwhile.
    s.file = (dir.Path() / "gone.icc").string();
    EXPECT_NE(cm.Configure(s).find("cannot be used: the file cannot be opened"), std::string::npos);
    EXPECT_EQ(cm.MonitorProfileForScreen(0).Name(), "sRGB IEC61966-2.1");
}

// The whole road: an Adobe RGB picture from the simulated body is shown in the colours of
// the desktop's monitor profile, and shown again when the profile changes.
TEST_F(MonitorProfilesOnX11, ThePictureOnShowFollowsTheDesktopsProfile)
{
    ASSERT_TRUE(SetAndWait("_ICC_PROFILE", testprofiles::Srgb()));
    sim::SimConfig config = testsupport::MainWindow::Small();
    testsupport::MainWindow w(config);
    ASSERT_NE(w.view->Camera(), nullptr);
    w.lib.SetParameterSet(4);  // Adobe RGB
    const size_t before = w.view->History().Count();
    w.view->TakePicture();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return w.view->History().Count() > before && !w.view->Shooting(); }));
    ASSERT_TRUE(testsupport::WaitUntil([&] { return w.view->ShownBitmap().has_value(); }));
    EXPECT_EQ(w.view->CurrentColourSpace().Name(), "Adobe RGB (1998)");

    auto expectShownFor = [&](const Bytes& monitorIcc) {
        const auto monitor = colour::Profile::FromIcc(monitorIcc);
        ASSERT_TRUE(monitor);
        const auto t = colour::DisplayTransform::Make(colour::Profile::AdobeRgb(), *monitor,
                                                      colour::RenderingIntent::Perceptual);
        ASSERT_TRUE(t);
        Bitmap expected = *w.view->DisplayBitmap();
        t->Apply(expected);
        ASSERT_TRUE(w.view->ShownBitmap());
        EXPECT_EQ(w.view->ShownBitmap()->pixels, expected.pixels);
    };
    expectShownFor(testprofiles::Srgb());
    ASSERT_TRUE(SetAndWait("_ICC_PROFILE", testprofiles::WideGamutMonitor()));
    testsupport::Pump(50);
    expectShownFor(testprofiles::WideGamutMonitor());
    tool->Remove("_ICC_PROFILE");
    testsupport::Pump(200);
}
