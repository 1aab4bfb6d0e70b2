// The command line as the user types it: the simulated camera's faults armed with
// --sim-fail, and the help text, which speaks of any camera, not only a Canon EOS.
#include "app/Application.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

LaunchOptions Parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "tethrocam");
    return ParseLaunchOptions(static_cast<int>(args.size()), args.data());
}

TEST(LaunchOptions, SimFailArmsFaultsOfTheSimulatedCameraOnly)
{
    const LaunchOptions ok = Parse({"--simulate", "--sim-fail=autofocus@3,cable@5"});
    EXPECT_EQ(ok.error, "");
    EXPECT_EQ(ok.simulatedFaults, "autofocus@3,cable@5");
    EXPECT_EQ(Parse({"--simulate", "--sim-fail=lens"}).error,
              "--sim-fail takes FAULT[@SHOT],... with FAULT one of autofocus, download-halfway, unplug-download, "
              "card-door, battery, cable and SHOT the shot it strikes (1, the first, by default)");
    EXPECT_EQ(Parse({"--sim-fail=autofocus"}).error, "--sim-fail works only with --simulate");
}

TEST(LaunchOptions, HelpSpeaksOfAnyCameraAndListsTheFaults)
{
    const std::string help = UsageText();
    EXPECT_NE(help.find("Tethered shooting: drive a camera from the PC"), std::string::npos) << help;
    EXPECT_EQ(help.find("drive a Canon EOS camera"), std::string::npos);
    EXPECT_NE(help.find("--sim-fail=FAULT[@SHOT]"), std::string::npos);
    for (const char* fault : {"autofocus", "download-halfway", "unplug-download", "card-door", "battery", "cable"})
        EXPECT_NE(help.find(fault), std::string::npos) << fault;
}

}  // namespace
