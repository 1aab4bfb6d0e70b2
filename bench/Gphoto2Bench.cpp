// The libgphoto2 backend on libgphoto2's virtual camera against the simulated camera:
//
//  BM_ReleaseToBytes/<backend>: from CDRelease to the last byte of the picture in the
//    receive buffer (release events, announcement, download), one JPEG of about 6 MB,
//    the simulated camera at unlimited link speed with no exposure time.
//    Counter: release_to_bytes_ms.
//  BM_Gphoto2DownloadOverhead: the download of a 6 MB file through the backend
//    (CDGetReleasedData) split into the time libgphoto2 takes to fetch it
//    (gp_camera_file_get on the camera's worker) and what the backend adds around it:
//    the queue hand-off to the worker and back, progress, the copy into the stream.
//    Counters (medians): download_ms, libgphoto2_ms, backend_added_ms,
//    overhead_pct = backend_added_ms / libgphoto2_ms (target < 5).
//
// The virtual camera declares its card full after about 25 captures per process, hence
// the small iteration counts.
//
// Run with the virtual camera built by the tests (see README):
//   P=build/vendor/libgphoto2/prefix
//   LD_LIBRARY_PATH=$P/lib CAMLIBS=$P/lib/libgphoto2/2.5.34 IOLIBS=$P/lib/libgphoto2_port/0.12.2
//     build/bench/bench_gphoto2
#include "backends/gphoto2/Gphoto2Camera.h"
#include "backends/sim/SimCamera.h"
#include "backends/sim/SimPictures.h"
#include "camera/ReceiveBuffer.h"
#include "support/TestSupport.h"

#include <benchmark/benchmark.h>
#include <gphoto2/gphoto2.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <algorithm>
#include <random>

using namespace cdsdk;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kFileBytes = 6'000'000;

// A camera JPEG padded with application segments to 6 MB, as a large body's picture.
std::vector<uint8_t> SixMegabyteJpeg()
{
    sim::SimPictureParams p;
    p.width = 3072;
    p.height = 2048;
    p.jpegQuality = 92;
    std::vector<uint8_t> jpeg = sim::MakeSimJpeg(p);
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    std::mt19937 rng(7);
    while (out.size() + jpeg.size() < kFileBytes) {
        const size_t n = std::min<size_t>(65533, kFileBytes - out.size() - jpeg.size());
        out.push_back(0xFF);
        out.push_back(0xEF);  // APP15
        out.push_back(static_cast<uint8_t>((n + 2) >> 8));
        out.push_back(static_cast<uint8_t>(n + 2));
        for (size_t i = 0; i < n; ++i)
            out.push_back(static_cast<uint8_t>(rng()));
        if (out.size() + jpeg.size() + 4 >= kFileBytes)
            break;
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

struct Card {
    testsupport::TempDir dir;
    std::vector<uint8_t> picture = SixMegabyteJpeg();
    Card()
    {
        fs::create_directories(dir.Path() / "DCIM" / "100CANON");
        testsupport::WriteFileBytes(dir.Path() / "DCIM" / "100CANON" / "IMG_0001.JPG", picture);
        setenv("VCAMERADIR", dir.Str().c_str(), 1);
    }
};

Card& TheCard()
{
    static Card card;
    return card;
}

bool VirtualCameraPresent(benchmark::State& state)
{
    const char* iolibs = std::getenv("IOLIBS");
    if (!iolibs || !fs::exists(fs::path(iolibs) / "vusb.so")) {
        state.SkipWithError("libgphoto2's virtual camera is not loaded: set LD_LIBRARY_PATH, CAMLIBS and IOLIBS");
        return false;
    }
    return true;
}

struct Announcements {
    std::mutex mutex;
    std::condition_variable cv;
    uint32_t items = 0;
    static cdError Callback(uint32_t event, const uint8_t* data, uint32_t size, cdContext ctx)
    {
        auto* self = static_cast<Announcements*>(ctx);
        if (event == cdRELEASE_EVENT_RELEASE_COMPLETE && data && size >= 4) {
            uint32_t n;
            std::memcpy(&n, data, 4);
            {
                std::lock_guard<std::mutex> lock(self->mutex);
                self->items += n;
            }
            self->cv.notify_all();
        }
        return 0;
    }
    bool Take()
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!cv.wait_for(lock, std::chrono::seconds(20), [this] { return items > 0; }))
            return false;
        --items;
        return true;
    }
};

cdHSource OpenOnly(CameraLibrary& lib)
{
    cdVersionInfo v{};
    v.Size = sizeof v;
    v.MajorVersion = 5;
    lib.CDStartSDK(&v, 0);
    cdHEnum e = 0;
    lib.CDEnumDeviceReset(1, &e);
    cdSourceInfo info{};
    const cdError found = lib.CDEnumDeviceNext(e, &info);
    lib.CDEnumDeviceRelease(e);
    cdHSource s = 0;
    if (found != cdOK || lib.CDOpenSource(&info, &s) != cdOK)
        return 0;
    return s;
}

// One release to bytes, timed; false when something failed.
bool ReleaseToBytes(CameraLibrary& lib, cdHSource s, Announcements& a, double* seconds, size_t* bytes)
{
    const auto start = Clock::now();
    uint32_t count = 0;
    if (lib.CDRelease(s, 0, nullptr, nullptr, 0, &count) != cdOK || !a.Take())
        return false;
    ReceiveBuffer buffer;
    cdReleaseImageInfo info{};
    buffer.SetSizeHint(&info);  // as the release thread does
    cdStgMedium medium = buffer.Medium();
    if (lib.CDGetReleasedData(s, nullptr, nullptr, 3, &info, &medium) != cdOK)
        return false;
    *seconds = std::chrono::duration<double>(Clock::now() - start).count();
    *bytes = buffer.Size();
    return true;
}

void RunReleaseToBytes(benchmark::State& state, CameraLibrary& lib)
{
    const cdHSource s = OpenOnly(lib);
    if (!s) {
        state.SkipWithError("no camera");
        return;
    }
    Announcements a;
    lib.CDEnterReleaseControl(s, &Announcements::Callback, &a);
    lib.CDSelectReleaseDataKind(s, cdREL_KIND_PICT_TO_PC);
    double total = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        double seconds = 0;
        if (!ReleaseToBytes(lib, s, a, &seconds, &bytes)) {
            state.SkipWithError("release failed");
            break;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }
    state.counters["release_to_bytes_ms"] = 1000.0 * total / std::max<double>(1, static_cast<double>(state.iterations()));
    state.counters["picture_bytes"] = static_cast<double>(bytes);
    lib.CDExitReleaseControl(s);
    lib.CDCloseSource(s);
}

void BM_ReleaseToBytes_Gphoto2VirtualCamera(benchmark::State& state)
{
    if (!VirtualCameraPresent(state))
        return;
    TheCard();
    gphoto2::Gphoto2Options o;
    o.report = [](const std::string&) {};
    gphoto2::Gphoto2Camera lib(o);
    RunReleaseToBytes(state, lib);
}
BENCHMARK(BM_ReleaseToBytes_Gphoto2VirtualCamera)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

void BM_ReleaseToBytes_Simulated(benchmark::State& state)
{
    sim::SimConfig c;
    c.exposureMs = 0;
    c.linkBytesPerSecond = 0;
    c.pictureWidth = 3072;
    c.pictureHeight = 2048;
    sim::SimulatedCamera lib(c);
    RunReleaseToBytes(state, lib);
}
BENCHMARK(BM_ReleaseToBytes_Simulated)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Gphoto2DownloadOverhead(benchmark::State& state)
{
    if (!VirtualCameraPresent(state))
        return;
    TheCard();
    gphoto2::Gphoto2Options o;
    o.report = [](const std::string&) {};
    gphoto2::Gphoto2Camera lib(o);
    const cdHSource s = OpenOnly(lib);
    if (!s) {
        state.SkipWithError("no camera");
        return;
    }
    Announcements a;
    lib.CDEnterReleaseControl(s, &Announcements::Callback, &a);
    std::vector<double> total, inLibrary;
    for (auto _ : state) {
        state.PauseTiming();
        uint32_t count = 0;
        lib.CDRelease(s, 0, nullptr, nullptr, 0, &count);
        if (!a.Take()) {
            state.SkipWithError("release failed");
            break;
        }
        ReceiveBuffer buffer;
        cdReleaseImageInfo info{};
        buffer.SetSizeHint(&info);
        cdStgMedium medium = buffer.Medium();
        state.ResumeTiming();
        const auto start = Clock::now();
        const cdError e = lib.CDGetReleasedData(s, nullptr, nullptr, 3, &info, &medium);
        total.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        inLibrary.push_back(lib.LastTransferSeconds());
        if (e != cdOK || buffer.Size() != TheCard().picture.size()) {
            state.SkipWithError("download failed");
            break;
        }
    }
    lib.CDCloseSource(s);
    if (total.empty())
        return;
    // Medians: on a shared machine single downloads carry other people's load.
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::vector<double> added;
    for (size_t i = 0; i < total.size(); ++i)
        added.push_back(total[i] - inLibrary[i]);
    const double t = median(total), l = median(inLibrary), d = median(added);
    state.counters["download_ms"] = 1000.0 * t;
    state.counters["libgphoto2_ms"] = 1000.0 * l;
    state.counters["backend_added_ms"] = 1000.0 * d;
    state.counters["overhead_pct"] = 100.0 * d / l;
    state.counters["file_bytes"] = static_cast<double>(TheCard().picture.size());
}
BENCHMARK(BM_Gphoto2DownloadOverhead)->Unit(benchmark::kMillisecond)->Iterations(14);

}  // namespace

BENCHMARK_MAIN();
