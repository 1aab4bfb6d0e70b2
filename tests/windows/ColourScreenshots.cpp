// The documentation's comparison pictures of colour management, on the simulated camera:
//   colour-unmanaged.png  the main window showing an Adobe RGB picture as it is decoded
//   colour-managed.png    the same picture turned into the colours of a wide-gamut monitor
// Both with the same wide-gamut monitor profile chosen as a file, as in Preferences; they
// are the values the program sends to such a monitor. Runs offscreen:
//   QT_QPA_PLATFORM=offscreen build/tests/windows/colour_screenshots docs
#include "MainWindowHarness.h"

#include "display/ColourManagement.h"

#include "TestProfiles.h"  // tests/colour

#include <cstdio>
#include <fstream>
#include <string>

namespace {

bool Save(QWidget* w, const std::string& path)
{
    testsupport::Pump(300);
    const bool ok = w->grab().save(QString::fromStdString(path));
    std::printf("%s %s\n", ok ? "wrote" : "could not write", path.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : ".";
    testsupport::App();
    sim::SimConfig config;
    config.exposureMs = 5;
    harness::Window w(config);
    w.frame->resize(1100, 640);
    testsupport::TempDir dir;
    const std::string monitor = (dir.Path() / "wide-gamut.icc").string();
    const auto icc = testprofiles::WideGamutMonitor();
    std::ofstream(monitor, std::ios::binary).write(reinterpret_cast<const char*>(icc.data()),
                                                   static_cast<std::streamsize>(icc.size()));
    display::ColourSettings s;
    s.monitor = display::MonitorProfileChoice::File;
    s.file = monitor;
    display::ColourManagement::Instance().Configure(s);
    w.lib.SelectParameterSet(4);  // the body records Adobe RGB
    testsupport::Pump(300);
    if (!w.Shoot()) {
        std::fprintf(stderr, "no picture from the simulated camera\n");
        return 1;
    }
    display::ColourManagement::Instance().SetEnabled(false);
    bool ok = Save(w.frame.get(), folder + "/colour-unmanaged.png");
    display::ColourManagement::Instance().SetEnabled(true);
    ok = Save(w.frame.get(), folder + "/colour-managed.png") && ok;
    return ok ? 0 : 1;
}
