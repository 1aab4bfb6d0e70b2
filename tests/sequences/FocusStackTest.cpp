// The focus stack's lens on the simulated camera: steps of the chosen size between frames,
// the nearest distance as a start, the focus put back (exactly, or as nearly as the lens's
// ends allow), live view switched on only for a body that focuses in it and off again
// only when it was off, a settle wait cut short, and the request as typed and checked.
#include "backends/sim/SimCamera.h"
#include "camera/CameraStartup.h"
#include "sequences/FocusStack.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace sequences;
using namespace cdsdk;

namespace {

struct Body {
    explicit Body(sim::SimConfig c = {}) : lib(c)
    {
        StartCameraLibrary(lib);
        cdHEnum e = 0;
        lib.CDEnumDeviceReset(1, &e);
        cdSourceInfo info{};
        lib.CDEnumDeviceNext(e, &info);
        lib.CDEnumDeviceRelease(e);
        lib.CDOpenSource(&info, &source);
        lib.CDGetLiveViewCapabilities(source, &caps);
    }
    ~Body() { lib.CDCloseSource(source); }
    int Focus() const { return lib.State().focusPosition; }
    sim::SimulatedCamera lib;
    cdHSource source = 0;
    uint32_t caps = 0;
};

TEST(FocusStack, StepsOfTheSizeTimesTheCountThenTheFocusGoesBack)
{
    Body b;
    b.lib.SetFocusPosition(30);
    FocusLens lens(b.lib, b.source, b.caps, 0);
    ASSERT_EQ(lens.Begin(FocusStart::Current).outcome, FocusLens::Outcome::Ok);
    EXPECT_EQ(b.Focus(), 30);
    ASSERT_EQ(lens.Advance(2, 3).outcome, FocusLens::Outcome::Ok);  // 3 medium steps of 5 positions
    EXPECT_EQ(b.Focus(), 45);
    ASSERT_EQ(lens.Advance(1, 2).outcome, FocusLens::Outcome::Ok);
    EXPECT_EQ(b.Focus(), 47);
    EXPECT_TRUE(lens.Counted());
    EXPECT_EQ(lens.End(), "focus put back");
    EXPECT_EQ(b.Focus(), 30);
    EXPECT_FALSE(b.lib.State().liveView);  // this body focuses without live view
}

TEST(FocusStack, NearestStartAndTheInfinityEndAreReportedAndPutBackAsNearlyAsTheyAllow)
{
    Body b;
    b.lib.SetFocusPosition(47);
    FocusLens lens(b.lib, b.source, b.caps, 0);
    ASSERT_EQ(lens.Begin(FocusStart::Nearest).outcome, FocusLens::Outcome::Ok);
    EXPECT_EQ(b.Focus(), 0);
    ASSERT_EQ(lens.Advance(3, 5).outcome, FocusLens::Outcome::Ok);
    EXPECT_EQ(b.Focus(), 100);
    // The lens meets infinity within the next five medium steps: the stack's last frame.
    EXPECT_EQ(lens.Advance(2, 5).outcome, FocusLens::Outcome::AtInfinity);
    EXPECT_EQ(b.Focus(), 120);
    EXPECT_FALSE(lens.Counted());
    EXPECT_EQ(lens.End(), "focus put back as nearly as the lens allows (a step met the end of its travel)");
    // The counted moves undone: 4 medium and 5 coarse steps back to the nearest end, then the
    // 2 whole coarse steps taken towards it; short of 47 by less than one coarse step.
    EXPECT_EQ(b.Focus(), 40);
}

TEST(FocusStack, ABodyThatFocusesOnlyInLiveViewGetsItForTheStackAndLosesItAfter)
{
    sim::SimConfig c;
    c.focusNeedsLiveView = true;
    Body b(c);
    ASSERT_TRUE(b.caps & cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW);
    b.lib.SetFocusPosition(30);
    EXPECT_NE(b.lib.CDDriveFocus(b.source, 1), cdOK);  // the body's own rule
    {
        FocusLens lens(b.lib, b.source, b.caps, 0);
        ASSERT_EQ(lens.Begin(FocusStart::Current).outcome, FocusLens::Outcome::Ok);
        EXPECT_TRUE(b.lib.State().liveView);
        ASSERT_EQ(lens.Advance(2, 1).outcome, FocusLens::Outcome::Ok);
        // A release that ended live view: the next move starts it again.
        b.lib.EndLiveViewFromBody();
        b.lib.CDEndLiveView(b.source);
        ASSERT_EQ(lens.Advance(2, 1).outcome, FocusLens::Outcome::Ok);
        EXPECT_EQ(b.Focus(), 40);
        EXPECT_EQ(lens.End(), "focus put back");
        EXPECT_EQ(b.Focus(), 30);
        EXPECT_FALSE(b.lib.State().liveView);
    }
    // Live view the user had on stays on.
    ASSERT_EQ(b.lib.CDStartLiveView(b.source), cdOK);
    FocusLens lens(b.lib, b.source, b.caps, 0);
    ASSERT_EQ(lens.Begin(FocusStart::Current).outcome, FocusLens::Outcome::Ok);
    ASSERT_EQ(lens.Advance(1, 1).outcome, FocusLens::Outcome::Ok);
    lens.End();
    EXPECT_TRUE(b.lib.State().liveView);
}

TEST(FocusStack, ABodyWithoutFocusDriveIsRefusedWithTheReason)
{
    sim::SimConfig c;
    c.liveView = false;
    Body b(c);
    FocusStackRequest r;
    EXPECT_EQ(FocusStackRefusal(r, b.caps),
              "This camera cannot drive its focus from the computer, so it cannot take a focus stack.");
    FocusLens lens(b.lib, b.source, b.caps, 0);
    const FocusLens::Result begun = lens.Begin(FocusStart::Current);
    EXPECT_EQ(begun.outcome, FocusLens::Outcome::Failed);
    EXPECT_EQ(begun.reason, "This camera cannot drive its focus from the computer.");
    // A lens without counted steps stays where it is; nothing to put back.
    EXPECT_EQ(lens.End(), "focus unchanged");
    // A camera gone in the middle is said so.
    Body gone;
    FocusLens moving(gone.lib, gone.source, gone.caps, 0);
    ASSERT_EQ(moving.Begin(FocusStart::Current).outcome, FocusLens::Outcome::Ok);
    gone.lib.SetFocusPosition(10);
    gone.lib.Unplug();
    EXPECT_EQ(moving.Advance(1, 1).reason, "The camera is no longer connected.");
}

TEST(FocusStack, CancelCutsASettleWaitShort)
{
    Body b;
    b.lib.SetFocusPosition(10);
    FocusLens lens(b.lib, b.source, b.caps, 60000);
    ASSERT_EQ(lens.Begin(FocusStart::Current).outcome, FocusLens::Outcome::Ok);
    const auto started = std::chrono::steady_clock::now();
    std::thread canceller([&lens] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        lens.Cancel();
    });
    EXPECT_EQ(lens.Advance(1, 1).outcome, FocusLens::Outcome::Ok);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(b.Focus(), 11);
}

TEST(FocusStack, RequestsAsTypedAndTheirRanges)
{
    auto r = ParseFocusStack("10,medium");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->frames, 10);
    EXPECT_EQ(r->stepSize, 2);
    EXPECT_EQ(r->stepsPerFrame, 1);
    EXPECT_EQ(r->start, FocusStart::Current);
    r = ParseFocusStack("500,3xfine,nearest");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->frames, 500);
    EXPECT_EQ(r->stepSize, 1);
    EXPECT_EQ(r->stepsPerFrame, 3);
    EXPECT_EQ(r->start, FocusStart::Nearest);
    EXPECT_EQ(ParseFocusStack("2,2x3")->stepSize, 3);
    for (const char* bad : {"", "10", "1,fine", "501,fine", "10,", "10,huge", "10,0xfine", "10,100xfine", "10,fine,far",
                            "x,fine", "10,xfine"})
        EXPECT_FALSE(ParseFocusStack(bad).has_value()) << bad;
    FocusStackRequest ok;
    EXPECT_EQ(FocusStackRefusal(ok, cdLV_CAP_FOCUS_DRIVE), "");
    ok.frames = 501;
    EXPECT_EQ(FocusStackRefusal(ok, cdLV_CAP_FOCUS_DRIVE), "A focus stack has 2 to 500 frames.");
    EXPECT_EQ(FocusStackComment(2, 4, 10), "Focus stack 2, 4/10");
}

}  // namespace
