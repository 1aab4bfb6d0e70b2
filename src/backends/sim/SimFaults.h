// SimFaults: the simulated camera's faults armed ahead for a given shot, so that a shoot
// with faults can be rehearsed from the command line (`--sim-fail=autofocus@3,cable@5`)
// and scripts and tests can use them without the simulator panel. The same faults as the
// panel's buttons: the autofocus fails, the download stops halfway, the cable comes out
// halfway through the download, and the card door opens, the battery is pulled or the
// cable is unplugged as the shutter is pressed (the camera goes off instead of shooting).
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class SimFault {
    Autofocus,             // "autofocus": the release reports hardware error 1, no picture
    DownloadHalfway,       // "download-halfway": the download gives up after half the item
    UnplugDuringDownload,  // "unplug-download": the cable comes out halfway through the download
    CardDoor,              // "card-door": the camera shuts down (cause 3) as the shutter is pressed
    Battery,               // "battery": the camera shuts down (cause 4) as the shutter is pressed
    Cable,                 // "cable": the cable comes out as the shutter is pressed
};

struct ArmedFault {
    SimFault fault = SimFault::Autofocus;
    int atShot = 1;  // the shot it strikes, counted from 1 (every release, the body's too)
    bool operator==(const ArmedFault&) const = default;
};

// The fault's name on the command line.
const char* FaultName(SimFault fault);
// Every name, comma-separated, for help texts.
std::string FaultNames();

// "NAME" or "NAME@N" (N from 1 to 100000), several separated by commas; nothing when any
// part is not one of them.
std::optional<std::vector<ArmedFault>> ParseArmedFaults(const std::string& text);

}  // namespace sim
