// The libgphoto2 backend's live view: how it reads a driver's configuration (what a body
// offers, the EOS focus steps, the Nikon lens units, what a failure means), and the real
// libgphoto2 code path on the virtual camera extended with live view
// (tests/backends/vcamera-liveview.patch): frames chosen by the lens position, focus drive
// to the ends of the travel, autofocus to the sharpest frame, a body that ends live view
// and an autofocus that finds nothing.
#include "backends/gphoto2/Gphoto2Camera.h"
#include "backends/gphoto2/Gphoto2LiveView.h"
#include "backends/sim/SimLiveView.h"
#include "liveview/FocusPeaking.h"
#include "liveview/LiveFrameRenderer.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace cdsdk;
using namespace gphoto2;

namespace {

// ---------------------------------------------------------------- the driver's configuration

TEST(Gphoto2LiveViewMapping, ABodyOffersLiveViewOnlyWithPreviewCaptureAndTheViewfinderSwitch)
{
    LiveViewWidgets w;
    w.manualFocusDrive = GP_WIDGET_RADIO;
    w.autofocusDrive = true;
    w.eosZoom = w.eosZoomPosition = true;
    EXPECT_EQ(LiveViewCapabilitiesFor(w), 0u);  // no preview capture, no viewfinder
    w.previewCapture = true;
    EXPECT_EQ(LiveViewCapabilitiesFor(w), 0u);
    w.viewfinder = true;
    // An EOS body: a list of step sizes, its own magnification.
    EXPECT_EQ(LiveViewCapabilitiesFor(w), cdLV_CAP_LIVE_VIEW | cdLV_CAP_FOCUS_DRIVE | cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW |
                                             cdLV_CAP_AUTOFOCUS | cdLV_CAP_CAMERA_ZOOM);
    // A Nikon body: lens units that step back exactly, no magnification of its own.
    w.manualFocusDrive = GP_WIDGET_RANGE;
    w.eosZoom = w.eosZoomPosition = false;
    EXPECT_EQ(LiveViewCapabilitiesFor(w), cdLV_CAP_LIVE_VIEW | cdLV_CAP_FOCUS_DRIVE | cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW |
                                             cdLV_CAP_FOCUS_COUNTS_STEPS | cdLV_CAP_AUTOFOCUS);
    w.manualFocusDrive = GP_WIDGET_TEXT;  // nothing the backend knows how to drive
    w.autofocusDrive = false;
    EXPECT_EQ(LiveViewCapabilitiesFor(w), cdLV_CAP_LIVE_VIEW);
}

TEST(Gphoto2LiveViewMapping, FocusStepsBecomeTheDriversChoicesOrLensUnits)
{
    const std::vector<std::string> eos = {"Near 1", "Near 2", "Near 3", "None", "Far 1", "Far 2", "Far 3"};
    EXPECT_EQ(FocusDriveChoice(eos, -1), "Near 1");
    EXPECT_EQ(FocusDriveChoice(eos, -3), "Near 3");
    EXPECT_EQ(FocusDriveChoice(eos, 2), "Far 2");
    EXPECT_EQ(FocusDriveChoice({"near 1", "FAR 1"}, 1), "FAR 1");  // the driver's own spelling
    EXPECT_FALSE(FocusDriveChoice(eos, 0).has_value());
    EXPECT_FALSE(FocusDriveChoice(eos, 4).has_value());
    EXPECT_FALSE(FocusDriveChoice({"None"}, 1).has_value());
    EXPECT_EQ(FocusDriveAmount(1), 20);
    EXPECT_EQ(FocusDriveAmount(-2), -100);
    EXPECT_EQ(FocusDriveAmount(3), 500);
    EXPECT_EQ(FocusDriveAmount(0), 0);
}

TEST(Gphoto2LiveViewMapping, FailuresSayWhatTheyMean)
{
    const std::string battery = "Liveview cannot start: Battery exhausted";
    EXPECT_EQ(LiveViewFailure(LiveViewCall::Start, GP_ERROR, battery), cdLIVE_VIEW_ENDED);
    EXPECT_EQ(LiveViewFailure(LiveViewCall::Frame, GP_ERROR, battery), cdLIVE_VIEW_ENDED);
    EXPECT_EQ(LiveViewFailure(LiveViewCall::Frame, GP_ERROR_CAMERA_BUSY, {}), cdLIVE_VIEW_NO_FRAME);
    EXPECT_EQ(LiveViewFailure(LiveViewCall::Frame, GP_ERROR, "Nikon get liveview image failed"), cdLIVE_VIEW_NO_FRAME);
    EXPECT_EQ(LiveViewFailure(LiveViewCall::Frame, GP_ERROR_IO_USB_FIND, {}), cdCOMM_ERROR);
    EXPECT_EQ(LiveViewFailure(LiveViewCall::Start, GP_ERROR_CAMERA_BUSY, {}), cdDEVICE_BUSY);
    EXPECT_EQ(LiveViewFailure(LiveViewCall::Focus, GP_ERROR_CAMERA_ERROR, "Nikon manual focus at limit."),
              cdFOCUS_AT_LIMIT);
    EXPECT_EQ(LiveViewFailure(LiveViewCall::Focus, GP_ERROR, "Nikon manual focus works only in LiveView mode."),
              cdERROR);
    EXPECT_EQ(LiveViewFailure(LiveViewCall::Autofocus, GP_ERROR, {}), cdAF_FAILED);
}

// ---------------------------------------------------------------- on the virtual camera

// Frames lv000 .. lv010 for the lens positions 0, 100, .. 1000, sharp at 700 and blurred by
// one pixel more per 100 units away; autofocus ends at 700.
struct LiveViewFolder {
    testsupport::TempDir dir;
    std::filesystem::path path = dir.Path() / "liveview";
    std::vector<std::vector<uint8_t>> frames;
    LiveViewFolder()
    {
        std::filesystem::create_directories(path);
        for (int i = 0; i <= 10; ++i) {
            sim::LiveViewFrameParams p;
            p.blurRadius = std::abs(i - 7);
            frames.push_back(sim::MakeLiveViewFrame(p));
            char name[16];
            std::snprintf(name, sizeof name, "lv%03d.jpg", i);
            testsupport::WriteFileBytes(path / name, frames.back());
        }
        Put("autofocus", "700");
        setenv("VCAMERA_LIVEVIEW", path.c_str(), 1);
    }
    ~LiveViewFolder() { unsetenv("VCAMERA_LIVEVIEW"); }
    void Put(const char* name, const std::string& text)
    {
        testsupport::WriteFileBytes(path / name, std::vector<uint8_t>(text.begin(), text.end()));
    }
    void Remove(const char* name) { std::filesystem::remove(path / name); }
};

struct Gphoto2LiveView : ::testing::Test {
    void SetUp() override
    {
        if (std::string why = vcamera::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        card.UsePicture();
        gphoto2::Gphoto2Options o;
        o.report = [](const std::string&) {};
        lib = std::make_unique<gphoto2::Gphoto2Camera>(o);
        cdVersionInfo v{};
        v.Size = sizeof v;
        v.MajorVersion = 5;
        ASSERT_EQ(lib->CDStartSDK(&v, 0), cdOK);
        cdHEnum e = 0;
        ASSERT_EQ(lib->CDEnumDeviceReset(1, &e), cdOK);
        cdSourceInfo info{};
        ASSERT_EQ(lib->CDEnumDeviceNext(e, &info), cdOK);
        lib->CDEnumDeviceRelease(e);
        ASSERT_EQ(lib->CDOpenSource(&info, &source), cdOK);
    }
    void TearDown() override
    {
        if (lib && source)
            lib->CDCloseSource(source);
    }
    std::vector<uint8_t> Frame(cdError* result = nullptr)
    {
        struct Keep {
            std::vector<uint8_t> bytes;
            static void Open(cdContext c, uint32_t, cdError* e)
            {
                static_cast<Keep*>(c)->bytes.clear();
                *e = 0;
            }
            static void Close(cdContext, cdError* e) { *e = 0; }
            static void Read(cdContext, void*, uint32_t*, cdError* e) { *e = 1; }
            static void Write(cdContext c, const void* src, uint32_t* n, cdError* e)
            {
                auto& b = static_cast<Keep*>(c)->bytes;
                b.insert(b.end(), static_cast<const uint8_t*>(src), static_cast<const uint8_t*>(src) + *n);
                *e = 0;
            }
            static void Seek(cdContext, uint32_t, int32_t, cdError* e) { *e = 1; }
            static int32_t Tell(cdContext, cdError* e)
            {
                *e = 0;
                return 0;
            }
        } keep;
        cdStream stream{&keep, &Keep::Open, &Keep::Close, &Keep::Read, &Keep::Write, &Keep::Seek, &Keep::Tell};
        cdStgMedium medium{cdMEMTYPE_STREAM, &stream};
        cdError e;
        int tries = 0;
        while ((e = lib->CDGetLiveViewFrame(source, &medium)) == cdLIVE_VIEW_NO_FRAME && ++tries < 50) {
        }
        if (result)
            *result = e;
        else
            EXPECT_EQ(e, cdOK);
        return keep.bytes;
    }
    double Sharpness(const std::vector<uint8_t>& jpeg)
    {
        liveview::RenderOptions o;
        o.boxWidth = 64;
        o.boxHeight = 64;
        const auto f = renderer.Render(jpeg.data(), jpeg.size(), o);
        return liveview::FocusMeasure(renderer.Decoded(), f.frameWidth * 4, f.frameWidth, f.frameHeight, 0, 0,
                                      f.frameWidth, f.frameHeight, liveview::LiveFrameRenderer::kDecodedBytesPerPixel);
    }

    vcamera::Folders card{160, 120, 75};
    LiveViewFolder folder;
    std::unique_ptr<gphoto2::Gphoto2Camera> lib;
    cdHSource source = 0;
    liveview::LiveFrameRenderer renderer;
};

TEST_F(Gphoto2LiveView, FocusStepsWalkTheLensThroughTheFramesAndAutofocusStopsAtTheSharpest)
{
    uint32_t caps = 0;
    ASSERT_EQ(lib->CDGetLiveViewCapabilities(source, &caps), cdOK);
    ASSERT_EQ(caps, cdLV_CAP_LIVE_VIEW | cdLV_CAP_FOCUS_DRIVE | cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW |
                        cdLV_CAP_FOCUS_COUNTS_STEPS | cdLV_CAP_AUTOFOCUS);
    ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    cdError e;
    while ((e = lib->CDDriveFocus(source, -3)) == cdOK) {
    }
    ASSERT_EQ(e, cdFOCUS_AT_LIMIT);
    // Medium steps are 100 lens units: one frame of the folder each.
    std::vector<double> sharpness;
    std::vector<std::vector<uint8_t>> seen;
    do {
        seen.push_back(Frame());
        sharpness.push_back(Sharpness(seen.back()));
    } while ((e = lib->CDDriveFocus(source, 2)) == cdOK);
    ASSERT_EQ(e, cdFOCUS_AT_LIMIT);
    ASSERT_EQ(seen.size(), 11u);
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_TRUE(seen[i] == folder.frames[i]) << "frame " << i << " is the camera's own bytes";
    const size_t best = static_cast<size_t>(std::max_element(sharpness.begin(), sharpness.end()) - sharpness.begin());
    EXPECT_EQ(best, 7u);

    ASSERT_EQ(lib->CDStartAutoFocus(source), cdOK);
    EXPECT_TRUE(Frame() == folder.frames[7]);
    ASSERT_EQ(lib->CDEndLiveView(source), cdOK);
}

TEST_F(Gphoto2LiveView, ABodyThatEndsLiveViewAndAnAutofocusThatFindsNothingAreAnsweredAsSuch)
{
    ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    Frame();
    folder.Put("af-fails", "");
    EXPECT_EQ(lib->CDStartAutoFocus(source), cdAF_FAILED);
    folder.Remove("af-fails");
    EXPECT_EQ(lib->CDStartAutoFocus(source), cdOK);
    folder.Put("ended", "");
    cdError e = cdOK;
    const std::vector<uint8_t> none = Frame(&e);
    EXPECT_EQ(e, cdLIVE_VIEW_ENDED);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(lib->CDStartLiveView(source), cdLIVE_VIEW_ENDED);
    folder.Remove("ended");
    ASSERT_EQ(lib->CDStartLiveView(source), cdOK);
    Frame();
}

}  // namespace
