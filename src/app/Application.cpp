#include "app/Application.h"

#include "app/CMainFrame.h"
#include "app/SimulatorPanel.h"
#include "backends/sim/SimCamera.h"
#include "mainview/CMyTethrocamView.h"
#include "windows/CTimeLapseDlg.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// A whole decimal number with nothing around it, at most `max`.
bool ParseCount(const std::string& text, uint64_t max, uint64_t& out)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoull(text);
    return out <= max;
}

bool ParseTimeLapse(const std::string& text, LaunchOptions& o)
{
    const size_t comma = text.find(',');
    uint64_t frames = 0, interval = o.timeLapseInterval;
    if (!ParseCount(text.substr(0, comma), 25000, frames) || frames < 1)
        return false;
    if (comma != std::string::npos && !ParseCount(text.substr(comma + 1), UINT32_MAX, interval))
        return false;
    o.timeLapseFrames = static_cast<int>(frames);
    o.timeLapseInterval = static_cast<uint32_t>(interval);
    return true;
}

}  // namespace

LaunchOptions ParseLaunchOptions(int argc, const char* const* argv)
{
    LaunchOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            const std::string prefix = std::string(name) + "=";
            if (a.rfind(prefix, 0) == 0)
                return a.substr(prefix.size());
            return std::nullopt;
        };
        if (a == "--help" || a == "-h") {
            o.showHelp = true;
        } else if (a == "--version") {
            o.showVersion = true;
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (auto m = value("--simulate")) {
            o.simulate = true;
            if (m->empty()) {
                o.error = "--simulate= needs a model name";
                return o;
            }
            o.simulatedModel = *m;
        } else if (auto n = value("--sim-cameras")) {
            char* end = nullptr;
            long v = std::strtol(n->c_str(), &end, 10);
            if (n->empty() || *end || v < 0 || v > 2) {
                o.error = "--sim-cameras takes 0, 1 or 2";
                return o;
            }
            o.simulatedCameras = static_cast<int>(v);
        } else if (auto s = value("--sim-link-speed")) {
            if (*s == "realistic") {
                o.simulatedLinkSpeed = 5e6;
            } else {
                char* end = nullptr;
                double v = std::strtod(s->c_str(), &end);
                if (s->empty() || *end || !(v >= 0)) {
                    o.error = "--sim-link-speed takes bytes per second or \"realistic\"";
                    return o;
                }
                o.simulatedLinkSpeed = v;
            }
        } else if (auto sd = value("--sim-seed")) {
            char* end = nullptr;
            unsigned long v = std::strtoul(sd->c_str(), &end, 10);
            if (sd->empty() || *end) {
                o.error = "--sim-seed takes a number";
                return o;
            }
            o.simulatedSeed = static_cast<unsigned>(v);
        } else if (auto c = value("--comment")) {
            o.comment = *c;
        } else if (auto p = value("--sim-press-shutter")) {
            char* end = nullptr;
            long v = std::strtol(p->c_str(), &end, 10);
            if (p->empty() || *end || v < 0 || v > 10000) {
                o.error = "--sim-press-shutter takes a count from 0 to 10000";
                return o;
            }
            o.simulatedShutterPresses = static_cast<int>(v);
        } else if (auto t = value("--time-lapse")) {
            if (!ParseTimeLapse(*t, o)) {
                o.error = "--time-lapse takes FRAMES[,INTERVAL]: FRAMES from 1 to 25000, INTERVAL in whole seconds";
                return o;
            }
        } else if (a == "--quit-when-done") {
            o.quitWhenDone = true;
        } else if (a.rfind("-platform", 0) == 0 || a.rfind("-style", 0) == 0 || a.rfind("-qwindow", 0) == 0) {
            // Qt's own options: left to Qt.
            if (a.find('=') == std::string::npos)
                ++i;
        } else {
            o.error = "unknown option: " + a;
            return o;
        }
    }
    if (o.quitWhenDone && o.timeLapseFrames == 0)
        o.error = "--quit-when-done needs --time-lapse";
    return o;
}

std::string UsageText()
{
    std::string models;
    for (int i = 0; i < sim::kSimModelCount; ++i)
        models += std::string("                          \"") + sim::kSimModels[i] + "\"\n";
    return "Usage: tethrocam [OPTION]...\n"
           "Tethered shooting: drive a Canon EOS camera from the PC, save and review every picture.\n\n"
           "  --simulate[=MODEL]      use the simulated camera (default model \"Canon EOS 10D\"); models:\n" +
           models +
           "  --sim-cameras=N         simulated cameras attached: 0, 1 or 2 (default 1)\n"
           "  --sim-link-speed=BPS    simulated link speed in bytes per second, or \"realistic\" (about 5 MB/s);\n"
           "                          default unlimited\n"
           "  --sim-seed=N            seed for the simulated pictures\n"
           "  --sim-press-shutter=N   press the simulated body's shutter button N times, a second apart\n"
           "  --comment=TEXT          start with TEXT in the Comment box (stamped into saved pictures)\n"
           "  --time-lapse=FRAMES[,INTERVAL]\n"
           "                          once connected, start a time-lapse of FRAMES pictures (1 to 25000),\n"
           "                          INTERVAL seconds apart (default 30)\n"
           "  --quit-when-done        with --time-lapse: exit when the sequence ends; status 0 when it\n"
           "                          completed, 1 when it was stopped or the camera went away\n"
           "  --help                  show this help\n"
           "  --version               show the version\n\n"
           "Without --simulate the program looks for a real camera through libgphoto2.\n"
           "Settings: $XDG_CONFIG_HOME/tethrocam/settings.reg; pictures: the folder set in Preferences.\n"
           "Set TETHROCAM_DEBUG=1 to see diagnostic trace lines on standard error.\n";
}

int RunApplication(int argc, char** argv)
{
    const LaunchOptions options = ParseLaunchOptions(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "tethrocam: %s\nTry 'tethrocam --help'.\n", options.error.c_str());
        return 2;
    }
    if (options.showHelp) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options.showVersion) {
        std::printf("Tethrocam Version %s\n", TETHROCAM_VERSION);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Tethrocam");

    std::unique_ptr<sim::SimulatedCamera> library;
    if (options.simulate) {
        sim::SimConfig config;
        config.model = options.simulatedModel;
        config.cameraCount = options.simulatedCameras;
        config.linkBytesPerSecond = options.simulatedLinkSpeed;
        config.seed = options.simulatedSeed;
        library = std::make_unique<sim::SimulatedCamera>(config);
    } else {
        // No real-camera backend in this build yet: an empty bus, so the window opens
        // "Not connected".
        std::fprintf(stderr, "tethrocam: no real-camera backend in this build; use --simulate\n");
        sim::SimConfig config;
        config.cameraCount = 0;
        library = std::make_unique<sim::SimulatedCamera>(config);
    }

    int result;
    {
        CMainFrame frame;
        auto* view = new CMyTethrocamView(*library, &frame);
        frame.setCentralWidget(view);
        if (!options.comment.empty())
            view->SetComment(QString::fromStdString(options.comment));
        std::unique_ptr<SimulatorPanel> panel;
        frame.show();
        if (options.simulate) {
            panel = std::make_unique<SimulatorPanel>(*library, &frame);
            panel->move(frame.frameGeometry().topRight() + QPoint(8, 0));
            panel->show();
            for (int i = 0; i < options.simulatedShutterPresses; ++i)
                QTimer::singleShot(1500 + 1000 * i, &frame, [&library] { library->PressShutterButton(); });
        }
        if (options.timeLapseFrames > 0)
            QTimer::singleShot(0, &frame, [view, &options] {
                const int status = RunUnattendedTimeLapse(*view, options.timeLapseFrames, options.timeLapseInterval,
                                                          options.quitWhenDone);
                if (options.quitWhenDone)
                    QCoreApplication::exit(status);
            });
        result = app.exec();
        view->SaveSettingsNow();
    }
    return result;
}
