// Soak of the time-lapse sequencer through the real main window and Time Lapse dialog on
// the simulated camera (smallest picture size, normal quality, unlimited link, no settle
// pause after the release thread wakes), offscreen.
// The dialog's tick comes every millisecond and its clock runs a thousand times fast (one
// "second" per real millisecond), so a night's schedule runs in minutes.
//
// Arguments: frames, interval (in those fast seconds). By default two runs:
//   BM_TimeLapseSoak/10000/0   every frame back to back: frames_requested, files_saved
//                              (must be equal), fps, rss_mb_at_100, rss_mb_at_end,
//                              rss_growth_mb (target < 2), history_mb (the part of it that
//                              the run's picture history holds)
//   BM_TimeLapseSoak/1000/250  a schedule that keeps ahead: max_late_s, the largest lateness
//                              of a shot once the schedule has caught up (-1: never caught up)
// Other sizes: bench_time_lapse_soak --frames=N --interval=S (benchmark flags also apply).
#include "BenchSupport.h"
#include "app/CMainFrame.h"
#include "app/MessageBox.h"
#include "backends/sim/SimCamera.h"
#include "mainview/CMyTethrocamView.h"
#include "settings/RegistryStore.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "windows/CTimeLapseDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <malloc.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using bench::App;
using bench::RssMb;


size_t JpegFiles(const fs::path& folder)
{
    size_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        n += e.path().extension() == ".JPG";
    return n;
}

void BM_TimeLapseSoak(benchmark::State& state)
{
    const int frames = static_cast<int>(state.range(0));
    const auto interval = static_cast<uint32_t>(state.range(1));
    App();
    for (auto _ : state) {
        testsupport::TempDir dir;
        const std::string settingsFile = (dir.Path() / "settings.reg").string();
        const fs::path pictures = dir.Path() / "pictures";
        {
            Settings s;
            s.Directory = pictures.string();
            s.Year = s.Month = s.Day = false;
            RegistryStore store(settingsFile);
            SaveSettings(s, store);
        }
        msgbox::Script boxes;  // any box is recorded and answered, never waited for
        sim::SimConfig config;
        config.exposureMs = 1;
        config.linkBytesPerSecond = 0;
        sim::SimulatedCamera lib(config);
        CMainFrame frame(settingsFile);
        auto* view = new CMyTethrocamView(lib, &frame, settingsFile);
        frame.setCentralWidget(view);
        frame.show();
        QElapsedTimer wait;
        wait.start();
        while (!view->Camera() && wait.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!view->Camera()) {
            state.SkipWithError("the simulated camera did not connect");
            return;
        }
        lib.CDSetImageFormatAttribute(view->Camera()->Source(), 2, 2);  // small, normal
        // The release thread's fixed pause for a real body after each wake-up is no part of
        // the sequencer; the soak leaves it out.
        view->Camera()->SetSettleDelay(0);

        QElapsedTimer clock;
        clock.start();
        const timelapse::Seconds base = 2'000'000'000;
        TimeLapseOptions options;
        options.tickMs = 1;
        options.clock = [&clock, base] { return base + clock.elapsed(); };
        options.autoFrames = frames;
        options.autoInterval = interval;
        options.closeWhenDone = true;

        double rssAt100 = 0;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (rssAt100 == 0 && view->History().Count() >= 100)
                rssAt100 = RssMb();
        });
        watch.start();

        CTimeLapseDlg dlg(*view, options);
        view->SetCurrentDisplayWindow(&dlg);
        view->SetTimeLapseForward([&dlg](const Notification& n) { dlg.WindowProc(n); });
        QTimer::singleShot(0, &dlg, [&dlg] { dlg.OnStartStop(); });
        QElapsedTimer run;
        run.start();
        dlg.exec();
        const double seconds = run.elapsed() / 1000.0;
        watch.stop();
        view->SetTimeLapseForward({});
        view->SetCurrentDisplayWindow(view);
        // Let the last picture be displayed and the release thread finish its folder sync.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 200)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const double rssAtEnd = RssMb();

        const auto late = dlg.Sequence().MaxLatenessOnceCaughtUp();
        state.counters["frames_requested"] = frames;
        state.counters["files_saved"] = static_cast<double>(JpegFiles(pictures));
        state.counters["shots_taken"] = dlg.Sequence().ShotsTaken();
        state.counters["completed"] = dlg.Sequence().GetState() == timelapse::State::Completed;
        state.counters["fps"] = frames / seconds;
        state.counters["max_late_s"] = late ? static_cast<double>(*late) : -1.0;
        state.counters["rss_mb_at_100"] = rssAt100;
        state.counters["rss_mb_at_end"] = rssAtEnd;
        state.counters["rss_growth_mb"] = rssAtEnd - rssAt100;
        // What the run's picture history (every picture saved in this run, kept by design)
        // holds: most of the growth.
        const auto& entries = view->History().Entries();
        double historyBytes = static_cast<double>(entries.capacity() * sizeof(ImageInfo));
        for (const ImageInfo& info : entries)
            historyBytes += static_cast<double>(info.Path().capacity() + info.Model().capacity());
        state.counters["history_mb"] = historyBytes / (1024.0 * 1024.0);
        state.counters["message_boxes"] = static_cast<double>(boxes.shown.size());
        state.SetIterationTime(seconds);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    long frames = 0, interval = 0;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--frames=", 9) == 0)
            frames = std::strtol(argv[i] + 9, nullptr, 10);
        else if (std::strncmp(argv[i], "--interval=", 11) == 0)
            interval = std::strtol(argv[i] + 11, nullptr, 10);
        else
            rest.push_back(argv[i]);
    }
    auto* bm = benchmark::RegisterBenchmark("BM_TimeLapseSoak", BM_TimeLapseSoak);
    if (frames > 0)
        bm->Args({frames, interval});
    else
        bm->Args({10000, 0})->Args({1000, 250});
    bm->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
    int n = static_cast<int>(rest.size());
    benchmark::Initialize(&n, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
