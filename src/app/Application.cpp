#include "app/Application.h"

#include "app/CMainFrame.h"
#include "app/DesktopIntegration.h"
#include "app/QuitSignals.h"
#include "app/SimulatorPanel.h"
#include "backends/sim/SimCamera.h"
#ifdef TETHROCAM_HAVE_GPHOTO2
#include "backends/gphoto2/Gphoto2Camera.h"
#endif
#include "camera/CameraShutdown.h"
#include "mainview/CMyTethrocamView.h"
#include "platform/DesktopRegistration.h"
#include "platform/HelpFile.h"
#include "windows/CTimeLapseDlg.h"

#include <QApplication>
#include <QSessionManager>
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

bool ParseBracket(const std::string& text, LaunchOptions& o)
{
    const size_t comma = text.find(',');
    uint64_t frames = 0;
    if (comma == std::string::npos || !ParseCount(text.substr(0, comma), sequences::kMaxBracketFrames, frames) ||
        frames < sequences::kMinBracketFrames)
        return false;
    const auto step = sequences::ParseStepEv(text.substr(comma + 1));
    if (!step)
        return false;
    sequences::BracketRequest r;
    r.frames = static_cast<int>(frames);
    r.stepSixths = *step;
    o.bracket = r;
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
        } else if (a == "--help-file") {
            o.showHelpFile = true;
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
                o.simulatedLinkSpeed = sim::kUsb11BytesPerSecond;
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
        } else if (a == "--list-cameras") {
            o.listCameras = true;
        } else if (auto port = value("--camera")) {
            if (port->empty()) {
                o.error = "--camera= needs a port, as --list-cameras shows it";
                return o;
            }
            o.cameraPort = *port;
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
        } else if (auto f = value("--sim-fail")) {
            if (!sim::ParseArmedFaults(*f)) {
                o.error = "--sim-fail takes FAULT[@SHOT],... with FAULT one of " + sim::FaultNames() +
                          " and SHOT the shot it strikes (1, the first, by default)";
                return o;
            }
            o.simulatedFaults = *f;
        } else if (auto t = value("--time-lapse")) {
            if (!ParseTimeLapse(*t, o)) {
                o.error = "--time-lapse takes FRAMES[,INTERVAL]: FRAMES from 1 to 25000, INTERVAL in whole seconds";
                return o;
            }
        } else if (auto b = value("--bracket")) {
            if (!ParseBracket(*b, o)) {
                o.error = "--bracket takes FRAMES,STEP_EV: FRAMES from 2 to 15, STEP_EV from 1/3 to 3 in thirds or "
                          "halves of a stop (e.g. 5,2/3 or 3,1.5)";
                return o;
            }
        } else if (auto f = value("--focus-stack")) {
            o.focusStack = sequences::ParseFocusStack(*f);
            if (!o.focusStack) {
                o.error = "--focus-stack takes FRAMES,STEP[,nearest]: FRAMES from 2 to 500, STEP fine, medium or "
                          "coarse, times a count when written COUNTxSTEP (e.g. 10,medium or 40,3xfine,nearest)";
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
    if (o.bracket && o.focusStack)
        o.error = "--bracket and --focus-stack cannot be combined: a set is one or the other";
    else if (o.quitWhenDone && o.timeLapseFrames == 0 && !o.bracket && !o.focusStack)
        o.error = "--quit-when-done needs --time-lapse, --bracket or --focus-stack";
    else if (!o.simulatedFaults.empty() && !o.simulate)
        o.error = "--sim-fail works only with --simulate";
    return o;
}

std::string UsageText()
{
    std::string models;
    for (int i = 0; i < sim::kSimModelCount; ++i)
        models += std::string("                          \"") + sim::kSimModels[i] + "\"\n";
    return "Usage: tethrocam [OPTION]...\n"
           "Tethered shooting: drive a camera from the PC, save and review every picture.\n\n"
           "  --simulate[=MODEL]      use the simulated camera (default model \"Canon EOS 10D\"); models:\n" +
           models +
           "  --sim-cameras=N         simulated cameras attached: 0, 1 or 2 (default 1)\n"
           "  --sim-link-speed=BPS    simulated link speed in bytes per second, or \"realistic\" (about 0.9 MB/s, USB 1.1);\n"
           "                          default unlimited\n"
           "  --sim-seed=N            seed for the simulated pictures\n"
           "  --sim-press-shutter=N   press the simulated body's shutter button N times, a second apart\n"
           "  --sim-fail=FAULT[@SHOT],...\n"
           "                          rehearse a fault of the simulated camera at its SHOTth shot (default the\n"
           "                          first): autofocus (fails), download-halfway (stops), unplug-download (the\n"
           "                          cable comes out during it), card-door, battery, cable (the camera goes off\n"
           "                          as the shutter is pressed)\n"
           "  --list-cameras          list the cameras libgphoto2 sees (model and port) and stop\n"
           "  --camera=PORT           use the camera at PORT (e.g. usb:001,005) when several are attached\n"
           "  --comment=TEXT          start with TEXT in the Comment box (stamped into saved pictures)\n"
           "  --time-lapse=FRAMES[,INTERVAL]\n"
           "                          once connected, start a time-lapse of FRAMES pictures (1 to 25000),\n"
           "                          INTERVAL seconds apart (default 30)\n"
           "  --bracket=FRAMES,STEP_EV\n"
           "                          once connected, take an exposure bracket of FRAMES pictures (2 to 15)\n"
           "                          STEP_EV apart (1/3 to 3, e.g. 2/3 or 1.5): the shutter speed steps in\n"
           "                          manual mode, the exposure compensation in P, Tv and Av\n"
           "  --focus-stack=FRAMES,STEP[,nearest]\n"
           "                          once connected, take a focus stack of FRAMES pictures (2 to 500) from\n"
           "                          the current focus (or the nearest distance) towards infinity; STEP is\n"
           "                          fine, medium or coarse, or COUNTxSTEP (e.g. 3xfine)\n"
           "                          With --time-lapse, a bracket or stack is taken at every interval.\n"
           "  --quit-when-done        with --time-lapse, --bracket or --focus-stack: exit when the sequence\n"
           "                          ends; status 0 when it completed, 1 when it was stopped, could not\n"
           "                          start or the camera went away\n"
           "  --help                  show this help\n"
           "  --help-file             print where the user guide (Tethrocam.htm) is, as F1 finds it\n"
           "  --version               show the version\n\n"
           "Without --simulate the program looks for a real camera through libgphoto2.\n"
           "Settings: $XDG_CONFIG_HOME/tethrocam/settings.reg; pictures: the folder set in Preferences.\n"
           "Set TETHROCAM_DEBUG=1 to see diagnostic trace lines on standard error.\n";
}

namespace {

// The camera library the user chose: the simulated camera with --simulate, else libgphoto2
// (when this build has it). `simulated` is set when the library is the simulated camera.
std::unique_ptr<cdsdk::CameraLibrary> MakeCameraLibrary(const LaunchOptions& options, sim::SimulatedCamera** simulated)
{
    *simulated = nullptr;
    if (options.simulate) {
        sim::SimConfig config;
        config.model = options.simulatedModel;
        config.cameraCount = options.simulatedCameras;
        config.linkBytesPerSecond = options.simulatedLinkSpeed;
        config.seed = options.simulatedSeed;
        config.armedFaults = sim::ParseArmedFaults(options.simulatedFaults).value_or(std::vector<sim::ArmedFault>{});
        auto library = std::make_unique<sim::SimulatedCamera>(config);
        *simulated = library.get();
        return library;
    }
#ifdef TETHROCAM_HAVE_GPHOTO2
    gphoto2::Gphoto2Options g;
    g.port = options.cameraPort;
    return std::make_unique<gphoto2::Gphoto2Camera>(g);
#else
    // No real-camera backend in this build: an empty bus, so the window opens "Not connected".
    std::fprintf(stderr, "tethrocam: this build has no libgphoto2 backend; use --simulate\n");
    sim::SimConfig config;
    config.cameraCount = 0;
    return std::make_unique<sim::SimulatedCamera>(config);
#endif
}

int ListCameras()
{
#ifdef TETHROCAM_HAVE_GPHOTO2
    std::string error;
    const auto cameras = gphoto2::DetectCameras(&error);
    if (!error.empty()) {
        std::fprintf(stderr, "tethrocam: %s\n", error.c_str());
        return 1;
    }
    if (cameras.empty())
        std::printf("No camera found.\n");
    for (const auto& c : cameras)
        std::printf("%-40s %s\n", c.model.c_str(), c.port.c_str());
    return 0;
#else
    std::fprintf(stderr, "tethrocam: this build has no libgphoto2 backend\n");
    return 1;
#endif
}

}  // namespace

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
    if (options.showHelpFile) {
        const platform::HelpLookup help = platform::FindHelpFile(platform::ExecutablePath());
        std::fputs(help.found ? (*help.found + "\n").c_str() : (platform::HelpMissingText(help.tried) + "\n").c_str(),
                   help.found ? stdout : stderr);
        return help.found ? 0 : 1;
    }
    if (options.showVersion) {
        std::printf("Tethrocam Version %s\n", TETHROCAM_VERSION);
        return 0;
    }
    if (options.listCameras)
        return ListCameras();

    QApplication app(argc, argv);
    QApplication::setApplicationName("Tethrocam");
    QApplication::setDesktopFileName(platform::kApplicationId);
    QApplication::setWindowIcon(desktop::ApplicationIcon());

    sim::SimulatedCamera* simulated = nullptr;
    std::unique_ptr<cdsdk::CameraLibrary> library = MakeCameraLibrary(options, &simulated);

    int result;
    {
        CMainFrame frame;
        auto* view = new CMyTethrocamView(*library, &frame);
        frame.setCentralWidget(view);
        if (!options.comment.empty())
            view->SetComment(QString::fromStdString(options.comment));
        // Quitting from the session or by a signal ends like closing the window: the
        // pictures on their way are finished, the placement and the settings are saved,
        // then the event loop is left.
        QuitSignals quitSignals([&frame, view](int) { EndSessionCleanly(frame, *view); });
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &frame,
                         [&frame, view](QSessionManager&) { SaveSessionState(frame, *view); });
        view->StartRemoteControl();
        std::unique_ptr<SimulatorPanel> panel;
        frame.show();
        if (simulated) {
            panel = std::make_unique<SimulatorPanel>(*simulated, &frame);
            panel->ShowBeside(frame);
            for (int i = 0; i < options.simulatedShutterPresses; ++i)
                QTimer::singleShot(1500 + 1000 * i, &frame, [simulated] { simulated->PressShutterButton(); });
        }
        if (options.timeLapseFrames > 0 || options.bracket || options.focusStack)
            QTimer::singleShot(0, &frame, [view, &options] {
                TimeLapseOptions run;
                if (options.timeLapseFrames > 0) {
                    run.autoFrames = options.timeLapseFrames;
                    run.autoInterval = options.timeLapseInterval;
                    run.autoRepeat = true;
                }
                if (options.bracket) {
                    sequences::BracketRequest b = *options.bracket;
                    b.order = view->Prefs().BracketOrder == 1 ? sequences::BracketOrder::MinusZeroPlus
                                                              : sequences::BracketOrder::ZeroMinusPlus;
                    run.autoBracket = b;
                }
                run.autoStack = options.focusStack;
                run.closeWhenDone = options.quitWhenDone;
                const int status = RunUnattendedSequence(*view, std::move(run));
                if (options.quitWhenDone)
                    QCoreApplication::exit(status);
            });
        result = app.exec();
        view->SaveSettingsNow();
    }
    WaitForRetiredCameras();  // a camera still finishing in the background uses the library
    return result;
}
