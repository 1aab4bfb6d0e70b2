// The real program on the simulated camera (offscreen), driven from outside as a studio
// script would: by the real tethrocam-remote and by the Python example of docs/remote.md.
// Every run gets its own private runtime folder, never the user's.
#include "remote/RemoteTransport.h"
#include "support/ProgramSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <atomic>
#include <set>

namespace fs = std::filesystem;

namespace {

using testsupport::UserComment;

std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Output {
    int code = -1;
    std::string out, err;
};

// One machine for one test: a scratch home, settings, a private runtime folder.
struct Studio {
    explicit Studio(const fs::path& pictureFolder = {})
    {
        runtime = dir.Path() / "run";
        fs::create_directories(runtime);
        chmod(runtime.c_str(), 0700);
        pictures = pictureFolder.empty() ? dir.Path() / "pictures" : pictureFolder;
        const fs::path config = dir.Path() / "config";
        EXPECT_TRUE(testsupport::WriteHomeSettings(config, pictures));
        env = {"XDG_CONFIG_HOME=" + config.string(), "XDG_RUNTIME_DIR=" + runtime.string(),
               "QT_QPA_PLATFORM=offscreen", "HOME=" + dir.Str()};
        if (const char* path = std::getenv("PATH"))
            env.push_back(std::string("PATH=") + path);
    }
    ~Studio()
    {
        for (pid_t pid : programs) {
            kill(pid, SIGTERM);
            int status = 0;
            waitpid(pid, &status, 0);
        }
    }

    pid_t Spawn(const std::vector<std::string>& args, const fs::path& out, const fs::path& err,
                const fs::path& cwd = {})
    {
        std::vector<std::string> a = args;
        std::vector<char*> argv = testsupport::CStrings(a);
        std::vector<std::string> e = env;
        std::vector<char*> envp = testsupport::CStrings(e);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (!cwd.empty())
            posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, a[0].c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0) << a[0];
        return rc == 0 ? pid : 0;
    }

    // Starts the program; its standard error goes to `err`.
    pid_t StartProgram(const fs::path& err, const std::vector<std::string>& options = {})
    {
        std::vector<std::string> args = {TETHROCAM_EXE, "--simulate"};
        args.insert(args.end(), options.begin(), options.end());
        const pid_t pid = Spawn(args, dir.Path() / "program.out", err);
        if (pid)
            programs.push_back(pid);
        return pid;
    }

    Output Run(std::vector<std::string> args, const fs::path& cwd = {}, const std::string& tag = "client")
    {
        const fs::path out = dir.Path() / (tag + ".out"), err = dir.Path() / (tag + ".err");
        Output o;
        const pid_t pid = Spawn(args, out, err, cwd);
        int status = 0;
        if (pid && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            o.code = WEXITSTATUS(status);
        o.out = ReadAll(out);
        o.err = ReadAll(err);
        return o;
    }
    Output Remote(std::vector<std::string> args, const fs::path& cwd = {}, const std::string& tag = "client")
    {
        args.insert(args.begin(), TETHROCAM_REMOTE_EXE);
        return Run(args, cwd, tag);
    }

    // Waits until the program is up and connected.
    bool WaitForCamera()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Remote({"camera"}).code == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }

    static bool Alive(pid_t pid)
    {
        int status = 0;
        return pid && waitpid(pid, &status, WNOHANG) == 0;
    }

    testsupport::TempDir dir;
    fs::path runtime, pictures;
    std::vector<std::string> env;
    std::vector<pid_t> programs;
};

// A whole JPEG: it ends with the end-of-image marker.
bool WholeJpeg(const fs::path& p)
{
    const std::vector<uint8_t> b = testsupport::ReadFileBytes(p);
    return b.size() > 4 && b[0] == 0xFF && b[1] == 0xD8 && b[b.size() - 2] == 0xFF && b.back() == 0xD9;
}

// Waits for a child with a time limit; its exit status, or -1 when it did not end in time.
int WaitExit(pid_t pid, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

std::string PythonExample()
{
    const std::string doc = ReadAll(testsupport::SourceDir() / "docs" / "remote.md");
    const size_t start = doc.find("```python\n");
    if (start == std::string::npos)
        return {};
    const size_t body = start + 10;
    return doc.substr(body, doc.find("```", body) - body);
}

TEST(RemoteEndToEnd, AStudioScriptSetsTheCommentShootsAndGetsTheStampedFile)
{
    Studio s;
    const pid_t program = s.StartProgram(s.dir.Path() / "program.err");
    ASSERT_TRUE(s.WaitForCamera()) << ReadAll(s.dir.Path() / "program.err");

    Output o = s.Remote({"camera"});
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.out, "Canon EOS 10D\n");

    o = s.Remote({"comment", "Set 12, turntable 45\xC2\xB0"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "done\n");

    o = s.Remote({"release", "--wait", "30"});
    EXPECT_EQ(o.code, 0) << o.err;
    const fs::path expected = s.pictures / "IMG_0001.JPG";
    EXPECT_EQ(o.out, expected.string() + "\n");
    EXPECT_NE(UserComment(expected.string()).find("Set 12, turntable 45\xC2\xB0"), std::string::npos);
    o = s.Remote({"progress"});
    EXPECT_EQ(o.code, 0);

    // Refusals and their exit codes.
    o = s.Remote({"tv", "9999"});
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.out, "refused\n");
    o = s.Remote({"comment", std::string(256, 'x')});
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(s.Remote({"iso"}).code, 2);
    EXPECT_EQ(s.Remote({"shoot"}).code, 2);

    // A relative folder is taken from the client's current folder.
    const fs::path work = s.dir.Path() / "work";
    fs::create_directories(work);
    o = s.Remote({"folder", "session-3/"}, work);
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_TRUE(fs::is_directory(work / "session-3"));
    o = s.Remote({"today"});
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.out, (work / "session-3").string() + "/\n");

    // The Python example of the documentation gets the same answers.
    const std::string example = PythonExample();
    ASSERT_FALSE(example.empty());
    const fs::path script = s.dir.Path() / "example.py";
    std::ofstream(script) << example;
    if (!fs::exists("/usr/bin/python3"))
        GTEST_SKIP() << "python3 is not installed";
    for (const char* question : {"camera", "today"}) {
        const Output py = s.Run({"/usr/bin/python3", script.string(), question});
        const Output c = s.Remote({question});
        EXPECT_EQ(py.code, 0) << py.err;
        EXPECT_EQ(py.out, c.out) << question;
    }

    // The program goes: nobody answers.
    kill(program, SIGTERM);
    int status = 0;
    waitpid(program, &status, 0);
    s.programs.clear();
    o = s.Remote({"camera"});
    EXPECT_EQ(o.code, 5);
    EXPECT_NE(o.err.find("no Tethrocam is running"), std::string::npos) << o.err;
}

TEST(RemoteEndToEnd, ASecondProgramRunsWithoutTheChannelAndSaysSoOnce)
{
    Studio s;
    s.StartProgram(s.dir.Path() / "first.err");
    ASSERT_TRUE(s.WaitForCamera());
    const pid_t second = s.StartProgram(s.dir.Path() / "second.err");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_TRUE(Studio::Alive(second));
    const std::string err = ReadAll(s.dir.Path() / "second.err");
    const std::string line = "remote control is off: " + (s.runtime / "EOSTethrocam.sock").string() +
                             " is in use by another running Tethrocam";
    EXPECT_NE(err.find(line), std::string::npos) << err;
    EXPECT_EQ(err.find(line), err.rfind(line)) << err;
    EXPECT_EQ(s.Remote({"camera"}).out, "Canon EOS 10D\n");  // the first still answers
}

TEST(RemoteEndToEnd, AnUnsafeBlockOrSocketIsRefusedAndTheProgramRunsOn)
{
    Studio s;
    // A block planted as a link to another file.
    const fs::path target = s.dir.Path() / "target";
    testsupport::WriteFileBytes(target, std::vector<uint8_t>(1024, 0x5A));
    chmod(target.c_str(), 0600);
    fs::create_symlink(target, s.runtime / "EOSTethrocam");
    const pid_t program = s.StartProgram(s.dir.Path() / "program.err");
    std::string error;
    bool sent = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!sent && std::chrono::steady_clock::now() < deadline) {
        sent = platform::SendWakeUp(s.runtime.string(), error) == platform::WakeUpResult::Sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(sent) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_TRUE(Studio::Alive(program));
    EXPECT_NE(ReadAll(s.dir.Path() / "program.err").find("EOSTethrocam is a symbolic link; refused"),
              std::string::npos);
    EXPECT_EQ(testsupport::ReadFileBytes(target), std::vector<uint8_t>(1024, 0x5A));
    const Output o = s.Remote({"camera"});
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.err.find("symbolic link"), std::string::npos) << o.err;

    // A socket planted as a link: the next program will not bind through it.
    Studio t;
    fs::create_symlink(s.runtime / "EOSTethrocam.sock", t.runtime / "EOSTethrocam.sock");
    const pid_t other = t.StartProgram(t.dir.Path() / "program.err");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_TRUE(Studio::Alive(other));
    EXPECT_NE(ReadAll(t.dir.Path() / "program.err").find("is a symbolic link, not the program's socket"),
              std::string::npos);
    EXPECT_TRUE(fs::is_symlink(t.runtime / "EOSTethrocam.sock"));
}

// ---------------------------------------------------------------- nothing lost

TEST(RemoteEndToEnd, AFullDiskKeepsThePictureAndReleaseWaitSaysWhereAndWhy)
{
    testsupport::SmallFileSystem disk(1 << 20);  // a 1 MB file system for a 2.7 MB picture
    if (!disk.Mounted())
        GTEST_SKIP() << disk.SkipReason();
    Studio s(disk.Path() / "pictures");
    const pid_t program = s.StartProgram(s.dir.Path() / "program.err");
    ASSERT_TRUE(s.WaitForCamera()) << ReadAll(s.dir.Path() / "program.err");
    const Output o = s.Remote({"release", "--wait", "15"});
    const fs::path kept = s.dir.Path() / ".local" / "share" / "tethrocam" / "unsaved" / "IMG_0001.JPG";
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "tethrocam-remote: Not saved in " + (disk.Path() / "pictures").string() +
                         ": No space left on device; kept as " + kept.string() + "\n");
    EXPECT_TRUE(WholeJpeg(kept));
    EXPECT_GT(fs::file_size(kept), 1u << 20);
    EXPECT_TRUE(Studio::Alive(program));
}

TEST(RemoteEndToEnd, AnUnwritableFolderIsRefusedAndAPictureMeantForItIsKept)
{
    Studio s;
    std::ofstream(s.pictures.string()) << "a file where the folder should be";
    s.StartProgram(s.dir.Path() / "program.err");
    ASSERT_TRUE(s.WaitForCamera()) << ReadAll(s.dir.Path() / "program.err");
    const Output o = s.Remote({"release", "--wait", "15"});
    const fs::path kept = s.dir.Path() / ".local" / "share" / "tethrocam" / "unsaved" / "IMG_0001.JPG";
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.err, "tethrocam-remote: Not saved in " + s.pictures.string() + ": Not a directory; kept as " +
                         kept.string() + "\n");
    EXPECT_TRUE(WholeJpeg(kept));

    testsupport::SmallFileSystem readOnly(1 << 20, true);
    if (!readOnly.Mounted())
        GTEST_SKIP() << readOnly.SkipReason();
    const Output f = s.Remote({"folder", readOnly.Path().string()});
    EXPECT_EQ(f.code, 1);
    EXPECT_EQ(f.out, "");
    EXPECT_EQ(f.err, "tethrocam-remote: " + readOnly.Path().string() + ": Read-only file system\n");
}

TEST(RemoteEndToEnd, SigtermDuringADownloadAtUsb11SpeedKeepsThePicture)
{
    Studio s;
    const pid_t program = s.StartProgram(s.dir.Path() / "program.err", {"--sim-link-speed=realistic"});
    ASSERT_TRUE(s.WaitForCamera()) << ReadAll(s.dir.Path() / "program.err");
    ASSERT_EQ(s.Remote({"release"}).code, 0);
    // Part of the 2.7 MB picture is across when the signal comes.
    bool downloading = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!downloading && std::chrono::steady_clock::now() < deadline) {
        const Output p = s.Remote({"progress"});
        downloading = p.code == 0 && std::atoi(p.out.c_str()) > 0 && std::atoi(p.out.c_str()) < 60;
    }
    ASSERT_TRUE(downloading);
    kill(program, SIGTERM);
    EXPECT_EQ(WaitExit(program, 30), 0);  // it finishes the download, then exits
    s.programs.clear();
    EXPECT_TRUE(WholeJpeg(s.pictures / "IMG_0001.JPG"));
    EXPECT_GT(fs::file_size(s.pictures / "IMG_0001.JPG"), 1u << 20);
}

TEST(RemoteEndToEnd, TwoScriptsAtOnceEveryRequestIsAnsweredOnceAndNoPictureIsMissing)
{
    Studio s;
    s.StartProgram(s.dir.Path() / "program.err");
    ASSERT_TRUE(s.WaitForCamera()) << ReadAll(s.dir.Path() / "program.err");
    constexpr int kReleases = 20;
    std::vector<Output> releases, comments;
    std::atomic<bool> done{false};
    std::thread rig([&] {
        for (int i = 0; i < kReleases; ++i)
            releases.push_back(s.Remote({"release", "--wait", "30"}, {}, "rig"));
        done = true;
    });
    std::thread scanner([&] {
        for (int i = 0; !done; ++i)
            comments.push_back(s.Remote({"comment", "Set " + std::to_string(i)}, {}, "scanner"));
    });
    rig.join();
    scanner.join();
    std::set<std::string> paths;
    for (const Output& o : releases) {
        EXPECT_EQ(o.code, 0) << o.err;
        ASSERT_FALSE(o.out.empty());
        const std::string path = o.out.substr(0, o.out.size() - 1);
        EXPECT_TRUE(WholeJpeg(path)) << path;
        paths.insert(path);
    }
    EXPECT_EQ(paths.size(), static_cast<size_t>(kReleases));
    EXPECT_EQ(std::distance(fs::directory_iterator(s.pictures), fs::directory_iterator()), kReleases);
    EXPECT_GT(comments.size(), 0u);
    for (const Output& o : comments) {
        EXPECT_EQ(o.code, 0) << o.err;
        EXPECT_EQ(o.out, "done\n");
    }
}

TEST(RemoteEndToEnd, ADeletedOrShortenedBlockLeavesTheProgramAnswering)
{
    Studio s;
    const pid_t program = s.StartProgram(s.dir.Path() / "program.err");
    ASSERT_TRUE(s.WaitForCamera());
    const fs::path block = s.runtime / "EOSTethrocam";
    fs::remove(block);
    Output o = s.Remote({"camera"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "Canon EOS 10D\n");

    ASSERT_EQ(truncate(block.c_str(), 100), 0);
    std::string error;
    ASSERT_EQ(platform::SendWakeUp(s.runtime.string(), error), platform::WakeUpResult::Sent) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_TRUE(Studio::Alive(program));
    o = s.Remote({"camera"});
    EXPECT_EQ(o.code, 0) << o.err;
    EXPECT_EQ(o.out, "Canon EOS 10D\n");
    EXPECT_EQ(fs::file_size(block), 1024u);
}

}  // namespace
