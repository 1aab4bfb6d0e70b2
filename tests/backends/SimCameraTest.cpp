// The simulated camera as the program sees it through the library calls: the events of a
// shot in order, the items each release kind and quality sends to the PC, and a body
// without release control keeping its pictures to itself.
#include "backends/sim/SimCamera.h"
#include "colour/PictureColourSpace.h"
#include "camera/CameraStartup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

using namespace cdsdk;

namespace {

struct Events {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::pair<uint32_t, uint32_t>> got;  // (event, 32-bit data or 0)

    static cdError Callback(uint32_t event, const uint8_t* data, uint32_t size, cdContext ctx)
    {
        auto* self = static_cast<Events*>(ctx);
        uint32_t value = 0;
        if (data && size >= 4)
            std::memcpy(&value, data, 4);
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->got.emplace_back(event, value);
        }
        self->cv.notify_all();
        return 0;
    }
    bool WaitForCount(size_t n)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] { return got.size() >= n; });
    }
    std::vector<std::pair<uint32_t, uint32_t>> Take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return std::move(got);
    }
};

struct Body {
    explicit Body(sim::SimConfig c = Small()) : lib(c)
    {
        StartCameraLibrary(lib);
        cdHEnum e = 0;
        lib.CDEnumDeviceReset(1, &e);
        cdSourceInfo info{};
        lib.CDEnumDeviceNext(e, &info);
        lib.CDEnumDeviceRelease(e);
        lib.CDOpenSource(&info, &source);
    }
    static sim::SimConfig Small()
    {
        sim::SimConfig c;
        c.pictureWidth = 160;
        c.pictureHeight = 120;
        c.exposureMs = 1;
        c.rawFillerBytes = 4096;
        return c;
    }
    // The items one shot sends to the PC: (data type, format) in order.
    std::vector<std::pair<uint32_t, uint8_t>> Items(uint32_t announced)
    {
        std::vector<std::pair<uint32_t, uint8_t>> out;
        for (uint32_t i = 0; i < announced; ++i) {
            std::vector<uint8_t> bytes;
            cdStream s{&bytes,
                       [](cdContext, uint32_t, cdError* e) { *e = 0; },
                       [](cdContext, cdError* e) { *e = 0; },
                       [](cdContext, void*, uint32_t* n, cdError* e) { *n = 0; *e = 1; },
                       [](cdContext c, const void* src, uint32_t* n, cdError* e) {
                           auto* b = static_cast<std::vector<uint8_t>*>(c);
                           b->insert(b->end(), static_cast<const uint8_t*>(src), static_cast<const uint8_t*>(src) + *n);
                           *e = 0;
                       },
                       [](cdContext, uint32_t, int32_t, cdError* e) { *e = 1; },
                       [](cdContext, cdError* e) -> int32_t { *e = 0; return 0; }};
            cdStgMedium m{cdMEMTYPE_STREAM, &s};
            cdReleaseImageInfo info{};
            if (lib.CDGetReleasedData(source, nullptr, nullptr, 3, &info, &m) != cdOK)
                break;
            const uint32_t type = info.DataType;  // packed record: read by value
            const uint8_t format = info.Format;
            out.emplace_back(type, format);
            received.push_back(std::move(bytes));
        }
        return out;
    }
    sim::SimulatedCamera lib;
    cdHSource source = 0;
    Events events;
    std::vector<std::vector<uint8_t>> received;  // the bytes of every item Items() took
};

using ItemList = std::vector<std::pair<uint32_t, uint8_t>>;

// Release start, then release complete with the number of items; the items are what the
// kind sends to the PC for the quality: JPEG qualities give the picture or, without it,
// the thumbnail; RAW gives the thumbnail and then the CRW picture.
TEST(SimulatedBody, EventsInOrderAndItemsPerReleaseKind)
{
    const auto picture = std::make_pair(cdDATA_TYPE_PICTURE, cdFORMAT_JPEG);
    const auto raw = std::make_pair(cdDATA_TYPE_PICTURE, cdFORMAT_RAW);
    const auto thumbnail = std::make_pair(cdDATA_TYPE_THUMBNAIL, cdFORMAT_JPEG);
    struct Case {
        uint16_t quality;
        uint16_t kind;
        ItemList items;
    } cases[] = {
        {3, 2, {picture}},  {3, 14, {picture}},          {3, 13, {thumbnail}},
        {4, 3, {thumbnail, raw}}, {4, 15, {thumbnail, raw}}, {4, 13, {thumbnail}},
    };
    for (const Case& c : cases) {
        for (auto timing : {sim::ReleaseTiming::Async, sim::ReleaseTiming::Blocking}) {
            auto config = Body::Small();
            config.releaseTiming = timing;
            Body body(config);
            ASSERT_EQ(body.lib.CDEnterReleaseControl(body.source, &Events::Callback, &body.events), cdOK);
            ASSERT_EQ(body.lib.CDSetImageFormatAttribute(body.source, c.quality, 0), cdOK);
            ASSERT_EQ(body.lib.CDSelectReleaseDataKind(body.source, c.kind), cdOK);
            uint32_t count = 0;
            ASSERT_EQ(body.lib.CDRelease(body.source, 0, nullptr, nullptr, 0, &count), cdOK);
            ASSERT_TRUE(body.events.WaitForCount(2));
            const auto got = body.events.Take();
            ASSERT_EQ(got.size(), 2u);
            EXPECT_EQ(got[0].first, cdRELEASE_EVENT_RELEASE_START);
            EXPECT_EQ(got[1].first, cdRELEASE_EVENT_RELEASE_COMPLETE);
            EXPECT_EQ(got[1].second, c.items.size()) << "kind " << c.kind << " quality " << c.quality;
            EXPECT_EQ(body.Items(got[1].second), c.items) << "kind " << c.kind << " quality " << c.quality;
            EXPECT_EQ(body.lib.State().itemsQueued, 0);
        }
    }
}

// Without release control a press of the body's button keeps the picture on the card: no
// events and nothing queued that a later download would pick up by mistake.
TEST(SimulatedBody, ShutterButtonWithoutReleaseControlQueuesNothing)
{
    Body body;
    ASSERT_EQ(body.lib.CDSelectReleaseDataKind(body.source, 2), cdOK);
    body.lib.PressShutterButton();
    // The press is handled on the event thread.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(body.lib.State().itemsQueued, 0);
    EXPECT_EQ(body.lib.State().itemsAnnounced, 0u);

    ASSERT_EQ(body.lib.CDEnterReleaseControl(body.source, &Events::Callback, &body.events), cdOK);
    body.lib.PressShutterButton();
    ASSERT_TRUE(body.events.WaitForCount(2));
    EXPECT_EQ(body.lib.State().itemsQueued, 1);
}

// Faults armed ahead (the command line's --sim-fail) strike the shot they name and no
// other: the autofocus of the second, the download of the third, the card door at the
// fourth press of the shutter.
TEST(SimulatedBody, FaultsArmedForAShotStrikeThatShotOnly)
{
    auto config = Body::Small();
    config.armedFaults = *sim::ParseArmedFaults("autofocus@2,download-halfway@3,card-door@4");
    Body body(config);
    Events camera;
    cdHandle cookie = 0;
    ASSERT_EQ(body.lib.CDRegisterEventCallbackFunction(body.source, &Events::Callback, &camera, &cookie), cdOK);
    ASSERT_EQ(body.lib.CDEnterReleaseControl(body.source, &Events::Callback, &body.events), cdOK);
    ASSERT_EQ(body.lib.CDSelectReleaseDataKind(body.source, 2), cdOK);
    auto release = [&] {
        uint32_t count = 0;
        EXPECT_EQ(body.lib.CDRelease(body.source, 0, nullptr, nullptr, 0, &count), cdOK);
    };
    const auto picture = std::make_pair(cdDATA_TYPE_PICTURE, cdFORMAT_JPEG);

    release();  // 1: a picture
    ASSERT_TRUE(body.events.WaitForCount(2));
    EXPECT_EQ(body.events.Take()[1].first, cdRELEASE_EVENT_RELEASE_COMPLETE);
    EXPECT_EQ(body.Items(1), ItemList{picture});

    release();  // 2: the autofocus fails
    ASSERT_TRUE(body.events.WaitForCount(1));
    const auto failed = body.events.Take();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0], std::make_pair(cdRELEASE_EVENT_RESET_HW_ERROR, cdHW_ERROR_AF_FAILED));

    release();  // 3: announced, but the download stops halfway
    ASSERT_TRUE(body.events.WaitForCount(2));
    EXPECT_EQ(body.events.Take()[1].second, 1u);
    EXPECT_TRUE(body.Items(1).empty());

    release();  // 4: the card door opens instead of a picture
    ASSERT_TRUE(camera.WaitForCount(1));
    EXPECT_EQ(camera.Take()[0].first, cdEVENT_CLASS_SHUTDOWN | cdSHUTDOWN_CF_GATE_OPEN);
    EXPECT_EQ(body.lib.State().releases, 4);
    EXPECT_EQ(body.lib.State().itemsQueued, 0);
}

TEST(SimulatedBody, ArmedFaultsAreReadFromTheirNames)
{
    using sim::ArmedFault;
    using sim::SimFault;
    EXPECT_EQ(sim::ParseArmedFaults("autofocus"), (std::vector<ArmedFault>{{SimFault::Autofocus, 1}}));
    EXPECT_EQ(sim::ParseArmedFaults("unplug-download@12,battery@3,cable"),
              (std::vector<ArmedFault>{{SimFault::UnplugDuringDownload, 12}, {SimFault::Battery, 3}, {SimFault::Cable, 1}}));
    for (const char* bad : {"", "autofocus@", "autofocus@0", "autofocus@-1", "autofocus@x", "autofocus,", "lens",
                            "Autofocus", "autofocus@1000001"})
        EXPECT_FALSE(sim::ParseArmedFaults(bad).has_value()) << bad;
    EXPECT_EQ(sim::FaultNames(), "autofocus, download-halfway, unplug-download, card-door, battery, cable");
}

}  // namespace

// The body's "Adobe RGB" parameter set records Adobe RGB pictures on the bodies that have
// it; the EOS 300D has no such set, and the D60 no parameter sets at all.
TEST(SimulatedBody, AdobeRgbParameterSetMarksThePicturesOfTheBodiesThatHaveIt)
{
    struct Case {
        const char* model;
        const char* space;
    } cases[] = {{"Canon EOS 10D", "Adobe RGB (1998)"}, {"Canon EOS-1D", "Adobe RGB (1998)"},
                 {"Canon EOS 300D DIGITAL", "sRGB"}, {"Canon EOS D60", "sRGB"}};
    for (const Case& c : cases) {
        auto config = Body::Small();
        config.model = c.model;
        Body body(config);
        body.lib.SetParameterSet(4);
        ASSERT_EQ(body.lib.CDEnterReleaseControl(body.source, &Events::Callback, &body.events), cdOK);
        ASSERT_EQ(body.lib.CDSetImageFormatAttribute(body.source, 3, 0), cdOK);
        ASSERT_EQ(body.lib.CDSelectReleaseDataKind(body.source, 2), cdOK);
        uint32_t count = 0;
        ASSERT_EQ(body.lib.CDRelease(body.source, 0, nullptr, nullptr, 0, &count), cdOK);
        ASSERT_TRUE(body.events.WaitForCount(2));
        ASSERT_EQ(body.Items(body.events.Take().back().second).size(), 1u);
        const auto& jpeg = body.received.at(0);
        EXPECT_EQ(colour::ReadPictureColourSpace(jpeg.data(), jpeg.size()).Name(), c.space) << c.model;
    }
    EXPECT_TRUE(sim::ParameterSetsOf("Canon EOS D60").empty());
    EXPECT_EQ(sim::ParameterSetsOf("Canon EOS 10D").back().second, "Adobe RGB");
}
