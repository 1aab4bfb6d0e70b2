// The simulated body's live view through the library calls: frames at the body's rate and
// size, a scene whose sharpness follows the lens (the focus sweep peaks where autofocus
// stops), the body's own magnification showing detail an enlarged frame lacks, the faults,
// and the focus position travelling into the saved picture.
#include "backends/sim/SimCamera.h"
#include "camera/CameraStartup.h"
#include "liveview/FocusPeaking.h"
#include "liveview/LiveFrameRenderer.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

using namespace cdsdk;
using namespace std::chrono_literals;

namespace {

struct Sink {
    std::vector<uint8_t> bytes;
    cdStream stream{this, &Open, &Close, &Read, &Write, &Seek, &Tell};
    cdStgMedium medium{cdMEMTYPE_STREAM, &stream};
    static void Open(cdContext c, uint32_t, cdError* e)
    {
        static_cast<Sink*>(c)->bytes.clear();
        *e = 0;
    }
    static void Close(cdContext, cdError* e) { *e = 0; }
    static void Read(cdContext, void*, uint32_t* n, cdError* e)
    {
        *n = 0;
        *e = 1;
    }
    static void Write(cdContext c, const void* src, uint32_t* n, cdError* e)
    {
        auto& b = static_cast<Sink*>(c)->bytes;
        b.insert(b.end(), static_cast<const uint8_t*>(src), static_cast<const uint8_t*>(src) + *n);
        *e = 0;
    }
    static void Seek(cdContext, uint32_t, int32_t, cdError* e) { *e = 1; }
    static int32_t Tell(cdContext, cdError* e)
    {
        *e = 0;
        return 0;
    }
};

struct SimLiveView : ::testing::Test {
    void Open(sim::SimConfig c = {})
    {
        c.pictureWidth = c.pictureWidth ? c.pictureWidth : 320;
        c.pictureHeight = c.pictureHeight ? c.pictureHeight : 213;
        c.exposureMs = 5;
        c.autofocusMs = 20;
        camera = std::make_unique<sim::SimulatedCamera>(c);
        ASSERT_NE(StartCameraLibrary(*camera), 0);
        cdHEnum e = 0;
        ASSERT_EQ(camera->CDEnumDeviceReset(1, &e), cdOK);
        cdSourceInfo info{};
        ASSERT_EQ(camera->CDEnumDeviceNext(e, &info), cdOK);
        camera->CDEnumDeviceRelease(e);
        ASSERT_EQ(camera->CDOpenSource(&info, &source), cdOK);
    }
    std::vector<uint8_t> Frame()
    {
        Sink s;
        cdError e;
        while ((e = camera->CDGetLiveViewFrame(source, &s.medium)) == cdLIVE_VIEW_NO_FRAME) {
        }
        EXPECT_EQ(e, cdOK);
        return s.bytes;
    }
    // Sharpness of the whole frame as decoded.
    double Sharpness(const std::vector<uint8_t>& jpeg)
    {
        liveview::RenderOptions o;
        o.boxWidth = 64;
        o.boxHeight = 64;
        renderer.Render(jpeg.data(), jpeg.size(), o);
        return liveview::FocusMeasure(renderer.Decoded(), sim::kLiveViewWidth * 4, sim::kLiveViewWidth,
                                      sim::kLiveViewHeight, 0, 0, sim::kLiveViewWidth, sim::kLiveViewHeight,
                                      liveview::LiveFrameRenderer::kDecodedBytesPerPixel);
    }
    void TearDown() override
    {
        if (camera && source)
            camera->CDCloseSource(source);
    }

    std::unique_ptr<sim::SimulatedCamera> camera;
    cdHSource source = 0;
    liveview::LiveFrameRenderer renderer;
};

TEST_F(SimLiveView, FramesOfAbout100KBComeAtThirtyASecond)
{
    Open();
    uint32_t caps = 0;
    ASSERT_EQ(camera->CDGetLiveViewCapabilities(source, &caps), cdOK);
    EXPECT_EQ(caps, cdLV_CAP_LIVE_VIEW | cdLV_CAP_FOCUS_DRIVE | cdLV_CAP_AUTOFOCUS | cdLV_CAP_FOCUS_COUNTS_STEPS |
                        cdLV_CAP_CAMERA_ZOOM);
    ASSERT_EQ(camera->CDStartLiveView(source), cdOK);
    camera->SetFocusPosition(camera->State().sharpestFocus);
    const auto start = std::chrono::steady_clock::now();
    size_t largest = 0, smallest = SIZE_MAX;
    for (int i = 0; i < 30; ++i) {
        const std::vector<uint8_t> f = Frame();
        largest = std::max(largest, f.size());
        smallest = std::min(smallest, f.size());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, 0.85);  // 29 frame times at least (the first comes at once)
    EXPECT_LT(seconds, 3.0);
    EXPECT_GT(smallest, 70000u);
    EXPECT_LT(largest, 160000u);
    liveview::RenderOptions o;
    o.boxWidth = 100;
    o.boxHeight = 100;
    const std::vector<uint8_t> f = Frame();
    const auto r = renderer.Render(f.data(), f.size(), o);
    EXPECT_EQ(r.frameWidth, 1024);
    EXPECT_EQ(r.frameHeight, 680);
}

// The focus sweep: the sharpness of the frames, over the lens's whole travel, is highest at
// the position where autofocus leaves the lens, and falls off on both sides.
TEST_F(SimLiveView, TheSceneIsSharpestWhereAutofocusLeavesTheLens)
{
    Open();
    ASSERT_EQ(camera->CDStartLiveView(source), cdOK);
    // From the nearest position to infinity in fine steps.
    while (camera->CDDriveFocus(source, -3) == cdOK) {
    }
    ASSERT_EQ(camera->State().focusPosition, 0);
    std::vector<double> sharpness;
    cdError e = cdOK;
    do {
        sharpness.push_back(Sharpness(Frame()));
        e = camera->CDDriveFocus(source, 1);
    } while (e == cdOK);
    ASSERT_EQ(e, cdFOCUS_AT_LIMIT);
    ASSERT_EQ(sharpness.size(), static_cast<size_t>(sim::kFocusTravel + 1));
    const int best = static_cast<int>(std::max_element(sharpness.begin(), sharpness.end()) - sharpness.begin());

    ASSERT_EQ(camera->CDStartAutoFocus(source), cdOK);
    const int af = camera->State().focusPosition;
    EXPECT_EQ(best, af);
    EXPECT_GT(sharpness[af], 1.5 * sharpness[af - 1]);
    EXPECT_GT(sharpness[af], 1.5 * sharpness[af + 1]);
    for (int d = 1; d < 10; ++d) {
        EXPECT_GT(sharpness[af - d], sharpness[af - d - 1] * 0.98) << "nearer by " << d;
        EXPECT_GT(sharpness[af + d], sharpness[af + d + 1] * 0.98) << "farther by " << d;
    }
    // Coarse and medium steps are 20 and 5 positions; back by the same count comes back.
    ASSERT_EQ(camera->CDDriveFocus(source, 3), cdOK);
    ASSERT_EQ(camera->CDDriveFocus(source, 2), cdOK);
    EXPECT_EQ(camera->State().focusPosition, af + 25);
    ASSERT_EQ(camera->CDDriveFocus(source, -2), cdOK);
    ASSERT_EQ(camera->CDDriveFocus(source, -3), cdOK);
    EXPECT_EQ(camera->State().focusPosition, af);
    EXPECT_EQ(camera->CDDriveFocus(source, 0), cdINVALID_PARAMETER);
    EXPECT_EQ(camera->CDDriveFocus(source, -4), cdINVALID_PARAMETER);
}

// The body's own 10x magnification renders the scene's detail: it is far sharper than the
// same area cut out of an unmagnified frame and enlarged.
TEST_F(SimLiveView, TheBodysMagnificationShowsDetailAnEnlargedFrameLacks)
{
    Open();
    ASSERT_EQ(camera->CDStartLiveView(source), cdOK);
    camera->SetFocusPosition(camera->State().sharpestFocus);
    const std::vector<uint8_t> whole = Frame();
    ASSERT_EQ(camera->CDSetLiveViewZoom(source, 10, 700, 150), cdOK);
    EXPECT_EQ(camera->CDSetLiveViewZoom(source, 3, 700, 150), cdINVALID_PARAMETER);
    const std::vector<uint8_t> zoomed = Frame();
    liveview::Magnifier m;
    m.SetFrameSize(sim::kLiveViewWidth, sim::kLiveViewHeight);
    m.Set(10, {700, 150});
    liveview::RenderOptions o;
    o.boxWidth = sim::kLiveViewWidth;
    o.boxHeight = sim::kLiveViewHeight;
    o.area = m.Area();
    const auto enlarged = renderer.Render(whole.data(), whole.size(), o);
    const double enlargedSharpness = liveview::FocusMeasure(
        reinterpret_cast<const uint8_t*>(enlarged.image.pixels.data()), enlarged.image.width * 4, enlarged.image.width,
        enlarged.image.height, 0, 0, enlarged.image.width, enlarged.image.height, 4);
    EXPECT_GT(Sharpness(zoomed), 3 * enlargedSharpness);
    // Ending live view puts the body back to the whole frame.
    ASSERT_EQ(camera->CDEndLiveView(source), cdOK);
    EXPECT_EQ(camera->State().zoom, 1);
}

TEST_F(SimLiveView, FramesThatStopAndABodyThatEndsLiveViewAreAnsweredAsSuch)
{
    Open();
    Sink s;
    EXPECT_EQ(camera->CDGetLiveViewFrame(source, &s.medium), cdLIVE_VIEW_ENDED);  // not started
    ASSERT_EQ(camera->CDStartLiveView(source), cdOK);
    Frame();
    camera->StopLiveViewFrames(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(camera->CDGetLiveViewFrame(source, &s.medium), cdLIVE_VIEW_NO_FRAME);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_TRUE(s.bytes.empty());
    camera->StopLiveViewFrames(false);
    Frame();
    camera->EndLiveViewFromBody();
    EXPECT_EQ(camera->CDGetLiveViewFrame(source, &s.medium), cdLIVE_VIEW_ENDED);
    ASSERT_EQ(camera->CDStartLiveView(source), cdOK);
    Frame();
}

TEST_F(SimLiveView, ASavedPictureCarriesTheLensPositionAsSubjectDistance)
{
    Open();
    struct Done {
        std::atomic<bool> complete{false};
        static cdError Callback(uint32_t event, const uint8_t*, uint32_t, cdContext ctx)
        {
            if (event == cdRELEASE_EVENT_RELEASE_COMPLETE)
                static_cast<Done*>(ctx)->complete = true;
            return 0;
        }
    } done;
    ASSERT_EQ(camera->CDEnterReleaseControl(source, &Done::Callback, &done), cdOK);
    ASSERT_EQ(camera->CDSelectReleaseDataKind(source, cdREL_KIND_PICT_TO_PC), cdOK);
    camera->SetFocusPosition(30);
    ASSERT_EQ(camera->CDDriveFocus(source, 2), cdOK);  // 35
    uint32_t count = 0;
    ASSERT_EQ(camera->CDRelease(source, 0, nullptr, nullptr, 0, &count), cdOK);
    for (int i = 0; i < 500 && !done.complete; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(done.complete);
    Sink s;
    cdReleaseImageInfo info{};
    ASSERT_EQ(camera->CDGetReleasedData(source, nullptr, nullptr, 3, &info, &s.medium), cdOK);
    auto image = Exiv2::ImageFactory::open(s.bytes.data(), static_cast<long>(s.bytes.size()));
    image->readMetadata();
    auto it = image->exifData().findKey(Exiv2::ExifKey("Exif.Photo.SubjectDistance"));
    ASSERT_NE(it, image->exifData().end());
    EXPECT_NEAR(it->toFloat(), 0.45 + 0.05 * 35, 1e-6);
}

}  // namespace
