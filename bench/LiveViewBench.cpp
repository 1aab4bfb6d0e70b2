// Live view, measured:
//
//  BM_LiveViewFrame: one 1024 x 680 frame of the simulated body (sharp, about 115 KB) down
//    the road every live frame takes to the screen: decode, focus peaking, fitted to
//    700 x 500, then the grid and the focus points drawn over it. CPU time per frame
//    (target <= 4 ms). Its plain peer, BM_LiveViewFramePlainDecode, is the program's
//    ordinary full-size decode of the same frame (libjpeg-turbo, accurate transform).
//  BM_LiveViewStream/<seconds>: the main window offscreen on the simulated camera at
//    30 fps with live view on, for 60 s by default. Counters: delivered (frames the body
//    delivered), shown (frames painted), shown_ratio (target >= 0.99), delay_p50_ms and
//    delay_p99_ms (a frame's arrival to its paint, target p99 <= 33), cpu_pct (the whole
//    process, simulator included, in % of one core, target <= 25), ui_cpu_pct (the UI
//    thread alone), fps.
//  BM_LiveViewSoak/<frames>: an hour of live view (108,000 frames, the default) through the
//    main window, the simulated body delivering ten times its rate (300 fps) and the window
//    showing as many as it can, so that the hour passes in six minutes. Counters: delivered,
//    shown, rss_mb_warm (after the first 5,000 frames), rss_mb_end, rss_growth_mb (target
//    < 1), seconds.
//  BM_LiveViewVirtualCamera/<frames>: frames from libgphoto2's virtual camera extended with
//    live view, through the backend (CDGetLiveViewFrame, the worker looking at the camera's
//    events between frames as it does for the program), against the plainest peer: a loop of
//    gp_camera_capture_preview on the same camera. Counters: fps, plain_fps, ratio, frame_kb.
//    Skipped unless the virtual camera is loaded:
//      P=build/vendor/libgphoto2/prefix
//      LD_LIBRARY_PATH=$P/lib CAMLIBS=$P/lib/libgphoto2/2.5.34 IOLIBS=$P/lib/libgphoto2_port/0.12.2
//        build/bench/bench_live_view --benchmark_filter=VirtualCamera
//  BM_LiveViewSoakVirtualCamera/<frames>: the same backend for 20,000 frames (libgphoto2's
//    preview loops have leaked before): rss_mb_warm, rss_mb_end, rss_growth_mb.
#include "BenchSupport.h"
#include "app/CMainFrame.h"
#include "app/MessageBox.h"
#include "backends/sim/SimCamera.h"
#include "backends/sim/SimLiveView.h"
#include "display/Overlays.h"
#include "imaging/JpegDecoder.h"
#include "liveview/LiveFrameRenderer.h"
#include "liveview/LiveViewController.h"
#include "liveview/LiveViewPanel.h"
#include "mainview/CMyTethrocamView.h"
#include "mainview/ControlIds.h"
#include "settings/RegistryStore.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#ifdef TETHROCAM_HAVE_GPHOTO2
#include "backends/gphoto2/Gphoto2Camera.h"
#include <gphoto2/gphoto2.h>
#endif

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

using bench::App;
using bench::RssMb;


double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs the event loop for a while, sleeping when there is nothing to do (a polling loop
// would count its own spinning as the program's CPU time).
void RunEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::vector<uint8_t> SharpFrame()
{
    sim::LiveViewFrameParams p;
    return sim::MakeLiveViewFrame(p);
}

// ---------------------------------------------------------------- one frame

void BM_LiveViewFrame(benchmark::State& state)
{
    App();
    const std::vector<uint8_t> jpeg = SharpFrame();
    liveview::LiveFrameRenderer renderer;
    liveview::RenderOptions o;
    o.boxWidth = 700;
    o.boxHeight = 500;
    o.peaking = true;
    display::FocusPointInfo points;
    points.model = "Canon EOS 10D";
    points.sevenPointMask = 0x7F;
    size_t marks = 0;
    for (auto _ : state) {
        liveview::RenderedFrame f = renderer.Render(jpeg.data(), jpeg.size(), o);
        QImage image(reinterpret_cast<uchar*>(f.image.pixels.data()), f.image.width, f.image.height,
                     f.image.width * 4, QImage::Format_RGB32);
        display::DrawGrid(image, display::ColorFromColorRef(0x0000FF00), 9, 9);
        display::DrawFocusPoints(image, points, 0);
        marks = f.peakingMarks;
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["frame_kb"] = static_cast<double>(jpeg.size()) / 1024.0;
    state.counters["peaking_marks"] = static_cast<double>(marks);
}
BENCHMARK(BM_LiveViewFrame)->Unit(benchmark::kMillisecond);

void BM_LiveViewFramePlainDecode(benchmark::State& state)
{
    const std::vector<uint8_t> jpeg = SharpFrame();
    for (auto _ : state) {
        Bitmap b = DecodeFullSize(jpeg.data(), jpeg.size(), 0);
        benchmark::DoNotOptimize(b.pixels.data());
    }
}
BENCHMARK(BM_LiveViewFramePlainDecode)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- the main window

// The main window offscreen on a simulated camera, live view on.
struct LiveWindow {
    testsupport::TempDir dir;
    msgbox::Script boxes;
    sim::SimulatedCamera lib;
    std::unique_ptr<CMainFrame> frame;
    CMyTethrocamView* view = nullptr;

    explicit LiveWindow(sim::SimConfig c) : lib(c)
    {
        App();
        const std::string settings = (dir.Path() / "settings.reg").string();
        Settings s;
        s.Directory = (dir.Path() / "pictures").string();
        s.FocusPeaking = true;
        s.DisplayGrid = true;
        RegistryStore store(settings);
        SaveSettings(s, store);
        frame = std::make_unique<CMainFrame>(settings);
        view = new CMyTethrocamView(lib, frame.get(), settings);
        frame->setCentralWidget(view);
        frame->resize(1000, 700);
        frame->show();
        QElapsedTimer t;
        t.start();
        while (!view->Camera() && t.elapsed() < 10000)
            RunEvents(20);
        frame->Command(ids::ID_LIVE_VIEW);
    }
    ~LiveWindow()
    {
        frame->close();
        frame.reset();
    }
    LiveViewController& Live() { return *view->LiveView(); }
};

void BM_LiveViewStream(benchmark::State& state)
{
    const int seconds = static_cast<int>(state.range(0));
    for (auto _ : state) {
        sim::SimConfig c;
        LiveWindow w(c);
        // Let live view settle (the body's frames of the first cycle are being made).
        while (!w.Live().Stats() || w.Live().Stats()->delivered < 90)
            RunEvents(20);
        const uint64_t delivered0 = w.Live().Stats()->delivered;
        const uint64_t shown0 = w.Live().Panel()->FramesPainted();
        w.Live().Panel()->ClearPaintDelays();
        const double cpu0 = ProcessCpuSeconds(), ui0 = ThreadCpuSeconds();
        const auto start = Clock::now();
        RunEvents(seconds * 1000);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = ProcessCpuSeconds() - cpu0, ui = ThreadCpuSeconds() - ui0;
        const liveview::LoopStats s = *w.Live().Stats();
        RunEvents(50);  // the frame in flight reaches the screen
        const uint64_t delivered = s.delivered - delivered0;
        const uint64_t shown = w.Live().Panel()->FramesPainted() - shown0;
        std::vector<double> delays = w.Live().Panel()->PaintDelays();
        std::sort(delays.begin(), delays.end());
        auto at = [&](double q) {
            return delays.empty() ? 0.0 : delays[std::min(delays.size() - 1, static_cast<size_t>(q * delays.size()))];
        };
        state.counters["delivered"] = static_cast<double>(delivered);
        state.counters["shown"] = static_cast<double>(shown);
        state.counters["shown_ratio"] = delivered ? static_cast<double>(shown) / static_cast<double>(delivered) : 0;
        state.counters["delay_p50_ms"] = at(0.5);
        state.counters["delay_p99_ms"] = at(0.99);
        state.counters["cpu_pct"] = 100.0 * cpu / wall;
        state.counters["ui_cpu_pct"] = 100.0 * ui / wall;
        state.counters["fps"] = static_cast<double>(delivered) / wall;
        state.counters["broken_frames"] = static_cast<double>(w.Live().BrokenFrames());
    }
}
BENCHMARK(BM_LiveViewStream)->Arg(60)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LiveViewSoak(benchmark::State& state)
{
    const uint64_t frames = static_cast<uint64_t>(state.range(0));
    for (auto _ : state) {
        sim::SimConfig c;
        c.liveViewFps = 300;  // ten times the body's rate: an hour in six minutes
        LiveWindow w(c);
        auto delivered = [&] { return w.Live().Stats() ? w.Live().Stats()->delivered : 0; };
        while (delivered() < 5000)
            RunEvents(50);
        const double warm = RssMb();
        const auto start = Clock::now();
        while (delivered() < frames)
            RunEvents(200);
        const double end = RssMb();
        state.counters["delivered"] = static_cast<double>(delivered());
        state.counters["shown"] = static_cast<double>(w.Live().Panel()->FramesPainted());
        state.counters["rss_mb_warm"] = warm;
        state.counters["rss_mb_end"] = end;
        state.counters["rss_growth_mb"] = end - warm;
        state.counters["seconds"] = std::chrono::duration<double>(Clock::now() - start).count();
    }
}
BENCHMARK(BM_LiveViewSoak)->Arg(108000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- the virtual camera

#ifdef TETHROCAM_HAVE_GPHOTO2
// A stream that keeps what the library writes.
struct Keep {
    std::vector<uint8_t> bytes;
    cdsdk::cdStream stream{this, &Open, &Close, &Read, &Write, &Seek, &Tell};
    cdsdk::cdStgMedium medium{cdsdk::cdMEMTYPE_STREAM, &stream};
    static void Open(cdsdk::cdContext c, uint32_t, cdsdk::cdError* e)
    {
        static_cast<Keep*>(c)->bytes.clear();
        *e = 0;
    }
    static void Close(cdsdk::cdContext, cdsdk::cdError* e) { *e = 0; }
    static void Read(cdsdk::cdContext, void*, uint32_t*, cdsdk::cdError* e) { *e = 1; }
    static void Write(cdsdk::cdContext c, const void* src, uint32_t* n, cdsdk::cdError* e)
    {
        auto& b = static_cast<Keep*>(c)->bytes;
        b.insert(b.end(), static_cast<const uint8_t*>(src), static_cast<const uint8_t*>(src) + *n);
        *e = 0;
    }
    static void Seek(cdsdk::cdContext, uint32_t, int32_t, cdsdk::cdError* e) { *e = 1; }
    static int32_t Tell(cdsdk::cdContext, cdsdk::cdError* e)
    {
        *e = 0;
        return 0;
    }
};

// A card whose one JPEG is the simulated body's sharp frame: the virtual camera's frame.
struct VirtualCard {
    testsupport::TempDir dir;
    VirtualCard()
    {
        std::filesystem::create_directories(dir.Path() / "DCIM" / "100CANON");
        testsupport::WriteFileBytes(dir.Path() / "DCIM" / "100CANON" / "IMG_0001.JPG", SharpFrame());
        setenv("VCAMERADIR", dir.Str().c_str(), 1);
        unsetenv("VCAMERA_LIVEVIEW");
    }
};

bool VirtualCameraLoaded(benchmark::State& state)
{
    const char* camlibs = std::getenv("CAMLIBS");
    if (!camlibs || !std::strstr(camlibs, "2.5.34")) {
        state.SkipWithError("the virtual camera is not loaded (set LD_LIBRARY_PATH, CAMLIBS and IOLIBS)");
        return false;
    }
    return true;
}

struct BackendCamera {
    gphoto2::Gphoto2Camera lib;
    cdsdk::cdHSource source = 0;
    static gphoto2::Gphoto2Options Options()
    {
        gphoto2::Gphoto2Options o;
        o.report = [](const std::string&) {};
        return o;
    }
    BackendCamera() : lib(Options())
    {
        cdsdk::cdVersionInfo v{};
        v.Size = sizeof v;
        v.MajorVersion = 5;
        lib.CDStartSDK(&v, 0);
        cdsdk::cdHEnum e = 0;
        lib.CDEnumDeviceReset(1, &e);
        cdsdk::cdSourceInfo info{};
        if (lib.CDEnumDeviceNext(e, &info) == cdsdk::cdOK)
            lib.CDOpenSource(&info, &source);
        lib.CDEnumDeviceRelease(e);
    }
    ~BackendCamera()
    {
        if (source)
            lib.CDCloseSource(source);
        lib.CDFinishSDK();
    }
};

// The plainest peer: libgphoto2 alone, on this thread.
double PlainPreviewFps(int frames)
{
    GPContext* ctx = gp_context_new();
    Camera* cam = nullptr;
    gp_camera_new(&cam);
    double fps = 0;
    if (gp_camera_init(cam, ctx) == GP_OK) {
        CameraFile* file = nullptr;
        gp_file_new(&file);
        gp_camera_capture_preview(cam, file, ctx);  // starts live view
        const auto start = Clock::now();
        int got = 0;
        for (int i = 0; i < frames; ++i)
            got += gp_camera_capture_preview(cam, file, ctx) == GP_OK;
        fps = got / std::chrono::duration<double>(Clock::now() - start).count();
        gp_file_unref(file);
        gp_camera_exit(cam, ctx);
    }
    gp_camera_unref(cam);
    gp_context_unref(ctx);
    return fps;
}

void BM_LiveViewVirtualCamera(benchmark::State& state)
{
    if (!VirtualCameraLoaded(state))
        return;
    const int frames = static_cast<int>(state.range(0));
    VirtualCard card;
    for (auto _ : state) {
        double fps = 0;
        size_t bytes = 0;
        {
            BackendCamera cam;
            if (!cam.source || cam.lib.CDStartLiveView(cam.source) != cdsdk::cdOK) {
                state.SkipWithError("the virtual camera has no live view");
                return;
            }
            Keep keep;
            cam.lib.CDGetLiveViewFrame(cam.source, &keep.medium);
            const auto start = Clock::now();
            int got = 0;
            for (int i = 0; i < frames; ++i)
                got += cam.lib.CDGetLiveViewFrame(cam.source, &keep.medium) == cdsdk::cdOK;
            fps = got / std::chrono::duration<double>(Clock::now() - start).count();
            bytes = keep.bytes.size();
            cam.lib.CDEndLiveView(cam.source);
        }
        const double plain = PlainPreviewFps(frames);
        state.counters["fps"] = fps;
        state.counters["plain_fps"] = plain;
        state.counters["ratio"] = plain > 0 ? fps / plain : 0;
        state.counters["frame_kb"] = static_cast<double>(bytes) / 1024.0;
    }
}
BENCHMARK(BM_LiveViewVirtualCamera)
    ->Arg(500)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LiveViewSoakVirtualCamera(benchmark::State& state)
{
    if (!VirtualCameraLoaded(state))
        return;
    const int frames = static_cast<int>(state.range(0));
    VirtualCard card;
    for (auto _ : state) {
        BackendCamera cam;
        if (!cam.source || cam.lib.CDStartLiveView(cam.source) != cdsdk::cdOK) {
            state.SkipWithError("the virtual camera has no live view");
            return;
        }
        Keep keep;
        for (int i = 0; i < 1000; ++i)
            cam.lib.CDGetLiveViewFrame(cam.source, &keep.medium);
        const double warm = RssMb();
        for (int i = 0; i < frames; ++i)
            cam.lib.CDGetLiveViewFrame(cam.source, &keep.medium);
        const double end = RssMb();
        state.counters["rss_mb_warm"] = warm;
        state.counters["rss_mb_end"] = end;
        state.counters["rss_growth_mb"] = end - warm;
    }
}
BENCHMARK(BM_LiveViewSoakVirtualCamera)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace

BENCHMARK_MAIN();
