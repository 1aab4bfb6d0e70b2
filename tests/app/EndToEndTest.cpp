// The real program, started as a user would on the simulated camera (offscreen): the
// body's shutter is pressed once, and the picture must be on disk under the expected
// name with the comment and the rotation stamped in, read back with Exiv2.
#include "imaging/ImageInfo.h"
#include "settings/Settings.h"
#include "support/ProgramSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;
namespace fs = std::filesystem;

namespace {

using testsupport::UserComment;

TEST(EndToEnd, ABodyShutterPressEndsUpOnDiskStamped)
{
    testsupport::TempDir dir;
    const fs::path config = dir.Path() / "config";
    const fs::path pictures = dir.Path() / "pictures";
    ASSERT_TRUE(testsupport::WriteHomeSettings(config, pictures, [](Settings& s) {
        s.OrientationSetting = 2;  // portrait, 90 degrees clockwise
    }));
    const std::string configEnv = "XDG_CONFIG_HOME=" + config.string();
    // TMPDIR: the remote channel's folder goes into the scratch folder too.
    std::vector<std::string> env = {configEnv, "QT_QPA_PLATFORM=offscreen", "HOME=" + dir.Str(), "TMPDIR=" + dir.Str()};
    if (const char* path = std::getenv("PATH"))
        env.push_back(std::string("PATH=") + path);
    std::vector<char*> envp = testsupport::CStrings(env);
    std::string exe = TETHROCAM_EXE;
    std::vector<std::string> args = {exe, "--simulate", "--sim-press-shutter=1", "--comment=Set 4, key light left"};
    std::vector<char*> argv = testsupport::CStrings(args);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);

    const fs::path expected = pictures / "IMG_0001.JPG";
    bool stamped = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        if (fs::exists(expected, ec) &&
            UserComment(expected.string()).find("Set 4, key light left") != std::string::npos &&
            ImageInfo::ReadImageInfoFromFile(expected.string()).Rotation() == 90) {
            stamped = true;
            break;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (pid) {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(stamped) << "no stamped " << expected;
    EXPECT_EQ(ImageInfo::ReadImageInfoFromFile(expected.string()).Model(), "Canon EOS 10D");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(pictures))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"IMG_0001.JPG"});  // no temporary file left behind
}

// Runs the program to its end (at most a minute) in a fresh home with pictures saved under
// `pictures`; returns its exit status, -1 when it had to be killed.
int RunToExit(const testsupport::TempDir& dir, const fs::path& pictures, std::vector<std::string> args)
{
    const fs::path config = dir.Path() / "config";
    testsupport::WriteHomeSettings(config, pictures);
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config.string(), "QT_QPA_PLATFORM=offscreen",
                                    "HOME=" + dir.Str()};
    std::vector<char*> envp = testsupport::CStrings(env);
    args.insert(args.begin(), TETHROCAM_EXE);
    std::vector<char*> argv = testsupport::CStrings(args);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t JpegCount(const fs::path& folder)
{
    size_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        n += e.path().extension() == ".JPG";
    return n;
}

TEST(EndToEnd, UnattendedTimeLapseSavesEveryFrameAndExitsZero)
{
    testsupport::TempDir dir;
    const fs::path pictures = dir.Path() / "pictures";
    EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", "--time-lapse=5,0", "--quit-when-done"}), 0);
    EXPECT_EQ(JpegCount(pictures), 5u);
}

TEST(EndToEnd, UnattendedTimeLapseWithoutACameraOrWithBadValuesFails)
{
    testsupport::TempDir dir;
    const fs::path pictures = dir.Path() / "pictures";
    EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", "--sim-cameras=0", "--time-lapse=2,0", "--quit-when-done"}), 1);
    for (const char* bad : {"--time-lapse=0", "--time-lapse=25001", "--time-lapse=3,-1", "--time-lapse=3,", "--time-lapse=x"})
        EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", bad}), 2) << bad;
    EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", "--quit-when-done"}), 2);
    EXPECT_EQ(JpegCount(pictures), 0u);
}

// Faults armed on the command line strike without the panel: a download stopped halfway
// in an unattended sequence is one frame not received, and the sequence still completes.
TEST(EndToEnd, AFaultArmedOnTheCommandLineStrikesItsShot)
{
    testsupport::TempDir dir;
    const fs::path pictures = dir.Path() / "pictures";
    EXPECT_EQ(RunToExit(dir, pictures,
                        {"--simulate", "--sim-fail=download-halfway@2", "--time-lapse=3,0", "--quit-when-done"}),
              0);
    EXPECT_EQ(JpegCount(pictures), 2u);
    EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", "--sim-fail=lens"}), 2);
}

TEST(EndToEnd, UnattendedBracketsAndStacksSaveEveryFrameAndExitZero)
{
    testsupport::TempDir dir;
    const fs::path pictures = dir.Path() / "pictures";
    // A bracket once, then a bracket at each of two intervals, on a body with third stops.
    EXPECT_EQ(RunToExit(dir, pictures, {"--simulate=Canon EOS 300D DIGITAL", "--bracket=3,2/3", "--quit-when-done"}), 0);
    EXPECT_EQ(JpegCount(pictures), 3u);
    EXPECT_NE(testsupport::UserComment((pictures / "IMG_0003.JPG").string()).find("Bracket 1, 3/3, +2/3 EV"),
              std::string::npos);
    EXPECT_EQ(RunToExit(dir, pictures,
                        {"--simulate=Canon EOS 300D DIGITAL", "--time-lapse=2,0", "--bracket=3,1", "--quit-when-done"}),
              0);
    EXPECT_EQ(JpegCount(pictures), 9u);
    // A stack from the nearest distance.
    EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", "--focus-stack=4,coarse,nearest", "--quit-when-done"}), 0);
    EXPECT_EQ(JpegCount(pictures), 13u);
    EXPECT_NE(testsupport::UserComment((pictures / "IMG_0013.JPG").string()).find("Focus stack 1, 4/4"),
              std::string::npos);
}

TEST(EndToEnd, UnattendedSetsTheCameraCannotTakeOrBadValuesFail)
{
    testsupport::TempDir dir;
    const fs::path pictures = dir.Path() / "pictures";
    // 1/125 and 3 EV steps: 1/8000 is past the body's shortest time; nothing is shot.
    EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", "--bracket=5,3", "--quit-when-done"}), 1);
    EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", "--sim-cameras=0", "--focus-stack=3,fine", "--quit-when-done"}), 1);
    for (const char* bad : {"--bracket=1,1", "--bracket=16,1", "--bracket=3,1/6", "--bracket=3", "--bracket=3,4",
                            "--focus-stack=1,fine", "--focus-stack=3,huge", "--focus-stack=3"})
        EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", bad}), 2) << bad;
    EXPECT_EQ(RunToExit(dir, pictures, {"--simulate", "--bracket=3,1", "--focus-stack=3,fine"}), 2);
    EXPECT_EQ(JpegCount(pictures), 0u);
}

}  // namespace
