// Program start-up: reads the command line, builds the camera library the user chose
// (the simulated camera or a real-camera backend), and runs the main window.
// UI thread only; RunApplication blocks until the program ends.
#pragma once

#include "sequences/ExposureBracket.h"
#include "sequences/FocusStack.h"

#include <cstdint>
#include <optional>
#include <string>

struct LaunchOptions {
    bool simulate = false;
    std::string simulatedModel = "Canon EOS 10D";
    int simulatedCameras = 1;
    double simulatedLinkSpeed = 0;  // bytes per second, 0 = unlimited
    unsigned simulatedSeed = 1;
    int simulatedShutterPresses = 0;  // body shutter presses once connected (demos, checks)
    std::string simulatedFaults;      // --sim-fail: faults armed for given shots (SimFaults.h)
    std::string comment;              // initial text of the Comment box
    bool listCameras = false;         // print what libgphoto2 sees and stop
    std::string cameraPort;           // the camera to use when several are attached
    int timeLapseFrames = 0;          // > 0: start a time-lapse of this many frames once connected
    uint32_t timeLapseInterval = 30;  // seconds between its frames
    // Once connected, start an exposure bracket or a focus stack: taken once, or at every
    // interval of the time lapse when that is given too.
    std::optional<sequences::BracketRequest> bracket;         // order: the preference's
    std::optional<sequences::FocusStackRequest> focusStack;
    bool quitWhenDone = false;        // exit when that sequence ends (0 completed, 1 otherwise)
    bool showHelp = false;
    bool showVersion = false;
    bool showHelpFile = false;  // --help-file: print the help page's path and stop
    std::string error;  // not empty: the command line could not be understood
};

LaunchOptions ParseLaunchOptions(int argc, const char* const* argv);
std::string UsageText();
int RunApplication(int argc, char** argv);
