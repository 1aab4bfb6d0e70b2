// A capture on a full card, through the libgphoto2 backend on the virtual camera: the
// virtual body declares its card full after a number of captures in one process (hence a
// test program of its own). The program must hear release event 10 with the no-card code,
// the user a message that says what to do, and the camera must stay usable.
#include "backends/gphoto2/Gphoto2Camera.h"
#include "camera/ReceiveBuffer.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

using namespace cdsdk;
using namespace std::chrono_literals;

namespace {

struct Events {
    std::mutex mutex;
    std::condition_variable cv;
    uint32_t completes = 0;
    std::optional<uint32_t> hardwareError;
    static cdError Callback(uint32_t event, const uint8_t* data, uint32_t size, cdContext ctx)
    {
        auto* self = static_cast<Events*>(ctx);
        uint32_t v = 0;
        if (data && size >= 4)
            std::memcpy(&v, data, 4);
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            if (event == cdRELEASE_EVENT_RELEASE_COMPLETE)
                self->completes++;
            if (event == cdRELEASE_EVENT_RESET_HW_ERROR)
                self->hardwareError = v;
        }
        self->cv.notify_all();
        return 0;
    }
};

TEST(Gphoto2CardFull, AFullCardIsReportedAsNoRoomAndTheCameraStaysUsable)
{
    if (std::string why = vcamera::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    vcamera::Folders card(160, 120, 75);
    card.UsePicture();
    std::vector<std::string> messages;
    std::mutex messagesMutex;
    gphoto2::Gphoto2Options o;
    o.report = [&](const std::string& m) {
        std::lock_guard<std::mutex> lock(messagesMutex);
        messages.push_back(m);
    };
    Events events;  // outlives the library and so every callback
    gphoto2::Gphoto2Camera lib(o);
    cdVersionInfo v{};
    v.Size = sizeof v;
    v.MajorVersion = 5;
    ASSERT_EQ(lib.CDStartSDK(&v, 0), cdOK);
    cdHEnum e = 0;
    ASSERT_EQ(lib.CDEnumDeviceReset(1, &e), cdOK);
    cdSourceInfo info{};
    ASSERT_EQ(lib.CDEnumDeviceNext(e, &info), cdOK);
    lib.CDEnumDeviceRelease(e);
    cdHSource s = 0;
    ASSERT_EQ(lib.CDOpenSource(&info, &s), cdOK);
    ASSERT_EQ(lib.CDEnterReleaseControl(s, &Events::Callback, &events), cdOK);

    // Shoot (and download, as the program would) until the card is full.
    int shots = 0;
    for (; shots < 120; ++shots) {
        const uint32_t before = events.completes;
        uint32_t count = 0;
        ASSERT_EQ(lib.CDRelease(s, 0, nullptr, nullptr, 0, &count), cdOK);
        std::unique_lock<std::mutex> lock(events.mutex);
        ASSERT_TRUE(events.cv.wait_for(lock, 10s, [&] { return events.completes > before || events.hardwareError; }));
        if (events.hardwareError)
            break;
        lock.unlock();
        ReceiveBuffer buffer;
        cdReleaseImageInfo item{};
        cdStgMedium medium = buffer.Medium();
        ASSERT_EQ(lib.CDGetReleasedData(s, nullptr, nullptr, 3, &item, &medium), cdOK);
        ASSERT_EQ(buffer.Size(), card.picture.size());
    }
    ASSERT_TRUE(events.hardwareError.has_value()) << "the card never filled in " << shots << " shots";
    EXPECT_GT(shots, 0);
    EXPECT_EQ(*events.hardwareError, cdHW_ERROR_NO_CF_CARD);
    {
        std::lock_guard<std::mutex> lock(messagesMutex);
        ASSERT_FALSE(messages.empty());
        EXPECT_NE(messages.back().find("is full. Download or delete pictures on the camera"), std::string::npos)
            << messages.back();
    }
    // Still connected: settings answer, and closing works.
    uint16_t av = 0;
    EXPECT_EQ(lib.CDGetAvValue(s, &av), cdOK);
    EXPECT_EQ(lib.CDCloseSource(s), cdOK);
}

}  // namespace
