// The time one frame of an exposure bracket takes against a plain release, through the real
// main window and sequence dialog on the simulated camera (an EOS 300D with third-stop
// lists, in manual mode), offscreen, at unlimited link speed, small/normal pictures, no
// settle pause after the release thread wakes (a fixed wait for a real body, the same for both).
//
// BM_BracketFrameVsSingleRelease: each round takes 9 single releases back to back (each
// fired as the previous one's saved file reaches the dialog's forward, as a sequence fires
// its frames) and a 9-frame bracket in 1/3 EV steps (the shutter speed written and read back
// before each frame, the Comment tagged, the user's value put back after the set); the time
// from the first release command to the ninth saved picture, divided by 9. Medians over the
// rounds.
// Counters: single_release_ms, bracket_frame_ms, ratio (bracket frame / single release;
// target <= 1.1: stepping a setting must not cost a second per frame), files_saved.
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

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 9;

using bench::App;

bool Pump(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void BM_BracketFrameVsSingleRelease(benchmark::State& state)
{
    App();
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
    msgbox::Script boxes;
    sim::SimConfig config;
    config.model = "Canon EOS 300D DIGITAL";
    config.linkBytesPerSecond = 0;
    sim::SimulatedCamera lib(config);
    CMainFrame frame(settingsFile);
    auto* view = new CMyTethrocamView(lib, &frame, settingsFile);
    frame.setCentralWidget(view);
    frame.show();
    if (!Pump([&] { return view->Camera() != nullptr; }, 5000)) {
        state.SkipWithError("the simulated camera did not connect");
        return;
    }
    lib.CDSetImageFormatAttribute(view->Camera()->Source(), 2, 2);  // small, normal
    view->Camera()->SetSettleDelay(0);

    std::vector<double> single, bracket;
    size_t saved = 0;
    for (auto _ : state) {
        // Single releases, each fired when the previous one's saved file is forwarded.
        int shots = 0;
        QElapsedTimer t;
        qint64 lastSave = 0;
        view->SetTimeLapseForward([&](const Notification& n) {
            if (n.message != WM_SAVED_FILE)
                return;
            ++saved;
            lastSave = t.nsecsElapsed();
            if (++shots < kFrames)
                view->TakePicture();
        });
        t.start();
        view->TakePicture();
        if (!Pump([&] { return shots >= kFrames; }, 60000)) {
            state.SkipWithError("the single releases did not finish");
            break;
        }
        single.push_back(static_cast<double>(lastSave) / 1e6 / kFrames);
        view->SetTimeLapseForward({});

        // A bracket of as many frames, in the sequence dialog.
        TimeLapseOptions options;
        options.asSequence = true;
        sequences::BracketRequest request;
        request.frames = kFrames;
        request.stepSixths = 2;
        options.autoBracket = request;
        CTimeLapseDlg dlg(*view, options);
        view->SetCurrentDisplayWindow(&dlg);
        int frames = 0;
        lastSave = 0;
        view->SetTimeLapseForward([&](const Notification& n) {
            if (n.message == WM_SAVED_FILE) {
                ++saved;
                ++frames;
                lastSave = t.nsecsElapsed();
            }
            dlg.WindowProc(n);
        });
        dlg.show();
        t.restart();
        dlg.OnStartStop();
        if (!Pump([&] { return frames >= kFrames && !dlg.Sequence().InSet(); }, 60000)) {
            state.SkipWithError("the bracket did not finish");
            break;
        }
        bracket.push_back(static_cast<double>(lastSave) / 1e6 / kFrames);
        view->SetTimeLapseForward({});
        view->SetCurrentDisplayWindow(view);
        dlg.hide();
    }
    const double s = Median(single), b = Median(bracket);
    state.counters["single_release_ms"] = s;
    state.counters["bracket_frame_ms"] = b;
    state.counters["ratio"] = s > 0 ? b / s : 0.0;
    state.counters["files_saved"] = static_cast<double>(saved);
    state.counters["message_boxes"] = static_cast<double>(boxes.shown.size());
}

}  // namespace

BENCHMARK(BM_BracketFrameVsSingleRelease)->Iterations(15)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
