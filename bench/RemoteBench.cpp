// Round trip of a remote-control request from a client process (this one) to the real
// program (`tethrocam --simulate`, offscreen, started here with its own runtime folder)
// and back, as tethrocam-remote makes it: request into the block, wake-up datagram, poll
// for the reply. 1,000 requests per benchmark, with the program idle and while pictures
// download over a 5 MB/s simulated link (the shutter is fired again, outside the timed
// part, whenever the camera is idle).
//
// Counters: median_ms and p99_ms (targets: median under 2 ms, 99th percentile under
// 20 ms), busy_share (the share of timed requests made while a picture was on its way;
// meaningful for the downloading runs) and failed (requests without an answer).
#include "settings/RegistryStore.h"
#include "remote/RemoteClient.h"
#include "settings/Settings.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// One running program with its own scratch home; stopped and cleaned up on exit.
class Program {
public:
    explicit Program(bool realisticLink)
    {
        char pattern[] = "/tmp/tethrocam-remote-bench-XXXXXX";
        root_ = mkdtemp(pattern);
        const fs::path runtime = root_ / "run", config = root_ / "config";
        fs::create_directories(runtime);
        chmod(runtime.c_str(), 0700);
        fs::create_directories(config / "tethrocam");
        Settings s;
        s.Directory = (root_ / "pictures").string();
        RegistryStore store((config / "tethrocam" / "settings.reg").string());
        SaveSettings(s, store);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

        std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime.string(), "XDG_CONFIG_HOME=" + config.string(),
                                        "HOME=" + root_.string(), "QT_QPA_PLATFORM=offscreen"};
        std::vector<std::string> args = {TETHROCAM_EXE, "--simulate"};
        if (realisticLink)
            args.push_back("--sim-link-speed=realistic");
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
        posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);

        std::string error;
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (client.Open(error) &&
                client.Ask(remote::kCmdCamera, 0, {}, 1s).status == remote::kReplyIdle) {
                ready_ = true;
                break;
            }
            std::this_thread::sleep_for(100ms);
        }
    }
    ~Program()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    bool Ready() const { return ready_; }
    remote::RemoteClient client;

private:
    fs::path root_;
    pid_t pid_ = 0;
    bool ready_ = false;
};

void RoundTrip(benchmark::State& state, int32_t command, bool downloading)
{
    Program program(downloading);
    if (!program.Ready()) {
        state.SkipWithError("the program did not start or did not connect");
        return;
    }
    std::vector<double> ms;
    ms.reserve(1000);
    int busy = 0, failed = 0;
    for (auto _ : state) {
        bool shotOnItsWay = false;
        if (downloading) {
            const auto check = program.client.Ask(remote::kCmdCamera, 0, {}, 5s);
            shotOnItsWay = check.status == remote::kReplyBusy;
            if (check.status == remote::kReplyIdle)
                shotOnItsWay = program.client.Ask(remote::kCmdRelease, 0, {}, 5s).status == remote::kReplyReleased;
        }
        const auto start = std::chrono::steady_clock::now();
        const remote::ClientReply r = program.client.Ask(command, 0, {}, 5s);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        ms.push_back(took.count() * 1000.0);
        busy += shotOnItsWay;
        failed += r.outcome != remote::ClientReply::Outcome::Answered;
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    state.counters["busy_share"] = static_cast<double>(busy) / static_cast<double>(ms.size());
    state.counters["failed"] = failed;
}

}  // namespace

BENCHMARK_CAPTURE(RoundTrip, camera_idle, remote::kCmdCamera, false)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RoundTrip, today_idle, remote::kCmdToday, false)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RoundTrip, camera_downloading, remote::kCmdCamera, true)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RoundTrip, today_downloading, remote::kCmdToday, true)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
