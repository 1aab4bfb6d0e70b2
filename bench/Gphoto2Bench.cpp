// The libgphoto2 backend on libgphoto2's virtual camera, one 2.4 MB JPEG per shot:
//
//  BM_RawLibgphoto2Loop: the plainest peer, a loop of gp_camera_capture, gp_camera_file_get,
//    write and fsync into one folder (the camera's copy is deleted afterwards, untimed, as
//    the program does in "Save to PC only"). Counter: raw_ms (median).
//  BM_ReleaseToSaved_Gphoto2VirtualCamera: the same shot through CCamera with the program's
//    default settings ("Save to PC only", rotation 0 stamped, no comment), from the release
//    to the saved-file notification (the picture written and synced), in rounds of ten
//    alternating with ten shots of the plain loop, so that both see the same load.
//    Counters: saved_ms and raw_ms (medians), ratio_to_raw = saved_ms / raw_ms (target <= 1.5).
//  BM_ReleaseToScreen/<camera>: from F8 in the main window (offscreen) to the new picture
//    painted in it, on the simulated camera at unlimited link speed and on the virtual
//    camera, with where the time goes (medians, ms): on the virtual camera capture_ms
//    (release to the trigger returned), file_ms (to the file reported), download_ms (to the
//    file in memory), announce_ms (to the announcement); then on both to_saved_ms (to the
//    saved-file notification handled: the item from memory, its description, stamping,
//    write and fsync), to_display_ms (to the bytes for display handled), paint_ms (decode,
//    fit, histogram, highlight companion and the paint) and total_ms.
//  BM_ReleaseToBytes/<backend>: CDRelease to the last byte in the receive buffer.
//  BM_Gphoto2Soak: 1,000 pictures through CCamera in "Save to PC only": every picture saved
//    (checked, then removed to spare the disk), resident memory growth from the 20th shot to
//    the last (counter rss_growth_mb, target < 5) and open descriptors over the same span
//    (fd_growth, target 0).
//
// The virtual camera reads its picture folder once per process; the card holds 26 captured
// pictures (our patch to it), so every loop here deletes the camera's copy of each shot.
// Run with the virtual camera built by the tests (see README):
//   P=build/vendor/libgphoto2/prefix
//   LD_LIBRARY_PATH=$P/lib CAMLIBS=$P/lib/libgphoto2/2.5.34 IOLIBS=$P/lib/libgphoto2_port/0.12.2
//     build/bench/bench_gphoto2
#include "backends/gphoto2/Gphoto2Camera.h"
#include "backends/sim/SimCamera.h"
#include "backends/sim/SimPictures.h"
#include "app/CMainFrame.h"
#include "app/MessageBox.h"
#include "camera/CCamera.h"
#include "camera/RecordingSink.h"
#include "camera/ReceiveBuffer.h"
#include "mainview/CMyTethrocamView.h"
#include "mainview/ControlIds.h"
#include "settings/RegistryStore.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <gphoto2/gphoto2.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <unistd.h>

using namespace cdsdk;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr size_t kFileBytes = 2'400'000;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A camera JPEG padded with application segments to 2.4 MB.
std::vector<uint8_t> CameraJpeg()
{
    sim::SimPictureParams p;
    p.width = 3072;
    p.height = 2048;
    p.jpegQuality = 90;
    std::vector<uint8_t> jpeg = sim::MakeSimJpeg(p);
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    std::mt19937 rng(7);
    while (out.size() + jpeg.size() + 4 < kFileBytes) {
        const size_t n = std::min<size_t>(65533, kFileBytes - out.size() - jpeg.size() - 4);
        out.push_back(0xFF);
        out.push_back(0xEF);  // APP15
        out.push_back(static_cast<uint8_t>((n + 2) >> 8));
        out.push_back(static_cast<uint8_t>(n + 2));
        for (size_t i = 0; i < n; ++i)
            out.push_back(static_cast<uint8_t>(rng()));
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

struct Card {
    testsupport::TempDir dir;
    std::vector<uint8_t> picture = CameraJpeg();
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
    TheCard();
    return true;
}

std::unique_ptr<gphoto2::Gphoto2Camera> VirtualCamera()
{
    gphoto2::Gphoto2Options o;
    o.report = [](const std::string&) {};
    return std::make_unique<gphoto2::Gphoto2Camera>(o);
}

// ---------------------------------------------------------------- the plainest peer

// `shots` shots of the plain loop into `folder`: the milliseconds of each (empty on failure).
std::vector<double> RawShots(int shots, const fs::path& folder)
{
    std::vector<double> times;
    GPContext* ctx = gp_context_new();
    Camera* cam = nullptr;
    gp_camera_new(&cam);
    if (gp_camera_init(cam, ctx) < GP_OK) {
        gp_camera_unref(cam);
        gp_context_unref(ctx);
        return times;
    }
    static int n = 0;
    for (int i = 0; i < shots; ++i) {
        const auto start = Clock::now();
        CameraFilePath path{};
        CameraFile* file = nullptr;
        gp_file_new(&file);
        bool ok = gp_camera_capture(cam, GP_CAPTURE_IMAGE, &path, ctx) >= GP_OK &&
                  gp_camera_file_get(cam, path.folder, path.name, GP_FILE_TYPE_NORMAL, file, ctx) >= GP_OK;
        const char* data = nullptr;
        unsigned long size = 0;
        if (ok && gp_file_get_data_and_size(file, &data, &size) >= GP_OK) {
            const fs::path target = folder / ("RAW_" + std::to_string(++n) + ".JPG");
            const int fd = open(target.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            ok = fd >= 0 && write(fd, data, size) == static_cast<ssize_t>(size) && fsync(fd) == 0;
            if (fd >= 0)
                close(fd);
        }
        const double ms = Ms(Clock::now() - start);
        gp_file_unref(file);
        if (!ok || size != TheCard().picture.size()) {
            times.clear();
            break;
        }
        times.push_back(ms);
        gp_camera_file_delete(cam, path.folder, path.name, ctx);  // untimed, as the program's
        std::this_thread::sleep_for(milliseconds(5));
    }
    gp_camera_exit(cam, ctx);
    gp_camera_unref(cam);
    gp_context_unref(ctx);
    return times;
}

void BM_RawLibgphoto2Loop(benchmark::State& state)
{
    if (!VirtualCameraPresent(state))
        return;
    testsupport::TempDir folder;
    std::vector<double> times;
    for (auto _ : state) {
        const std::vector<double> one = RawShots(1, folder.Path());
        if (one.empty()) {
            state.SkipWithError("the raw loop failed");
            break;
        }
        times.push_back(one.front());
        state.SetIterationTime(one.front() / 1000);
    }
    state.counters["raw_ms"] = Median(times);
}
BENCHMARK(BM_RawLibgphoto2Loop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// ---------------------------------------------------------------- through the program

// A camera owner that notes when each saved-file notification arrives.
class TimedOwner : public RecordingOwner {
public:
    void Post(Notification n) override
    {
        if (n.message == WM_SAVED_FILE) {
            std::lock_guard<std::mutex> lock(mutex_);
            saved_.emplace_back(Clock::now(), n.text.value_or(""));
            cv_.notify_all();
        }
    }
    // Waits for the next saved file: when it arrived and its path (empty on timeout).
    std::pair<Clock::time_point, std::string> NextSaved(std::chrono::seconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, timeout, [this] { return !saved_.empty(); }))
            return {};
        auto s = saved_.front();
        saved_.erase(saved_.begin());
        return s;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::pair<Clock::time_point, std::string>> saved_;
};

// The program's save snapshot for its default settings, into `folder`.
SaveSnapshot DefaultSnapshot(const fs::path& folder)
{
    Settings defaults;
    SaveSnapshot s;
    s.folders = defaults.Folders();
    s.folders.Directory = folder.string();
    s.folders.Year = s.folders.Month = s.folders.Day = false;
    s.orientationSetting = defaults.OrientationSetting;
    return s;
}

// `shots` releases through CCamera on a fresh connection, each to its saved-file
// notification: the milliseconds of each (empty on failure).
std::vector<double> ProgramShots(int shots, const fs::path& folder)
{
    std::vector<double> times;
    auto lib = VirtualCamera();
    TimedOwner owner;
    owner.SetSnapshot(DefaultSnapshot(folder));
    cdVersionInfo v{};
    v.Size = sizeof v;
    v.MajorVersion = 5;
    lib->CDStartSDK(&v, 0);
    std::unique_ptr<CCamera> camera;
    try {
        camera = std::make_unique<CCamera>(*lib, &owner);
    } catch (int) {
        return times;
    }
    for (int i = 0; i < shots; ++i) {
        const auto start = Clock::now();
        camera->StartRelease();
        const auto [at, path] = owner.NextSaved();
        std::error_code ec;
        if (path.empty() || fs::file_size(path, ec) < kFileBytes / 2) {
            times.clear();
            break;
        }
        times.push_back(Ms(at - start));
        std::this_thread::sleep_for(milliseconds(5));  // as the raw loop
    }
    camera.reset();
    lib->CDFinishSDK();
    return times;
}

// Rounds of the plain loop and of the program one after the other, so that both see the
// same load on a shared machine; the ratio of their medians.
void BM_ReleaseToSaved_Gphoto2VirtualCamera(benchmark::State& state)
{
    if (!VirtualCameraPresent(state))
        return;
    testsupport::TempDir folder;
    std::vector<double> raw, program;
    for (auto _ : state) {
        const std::vector<double> r = RawShots(10, folder.Path());
        const std::vector<double> p = ProgramShots(10, folder.Path());
        if (r.empty() || p.empty()) {
            state.SkipWithError("a shot was not saved");
            break;
        }
        raw.insert(raw.end(), r.begin(), r.end());
        program.insert(program.end(), p.begin(), p.end());
        state.SetIterationTime(Median(p) / 1000);
    }
    const double saved = Median(program);
    state.counters["saved_ms"] = saved;
    state.counters["raw_ms"] = Median(raw);
    if (!raw.empty())
        state.counters["ratio_to_raw"] = saved / Median(raw);
}
BENCHMARK(BM_ReleaseToSaved_Gphoto2VirtualCamera)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// ---------------------------------------------------------------- to the screen

QApplication& App()
{
    static int argc = 1;
    static char name[] = "bench_gphoto2";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Runs the event loop until `done` holds (false when the time is up). The loop sleeps until an
// event comes, so a notification posted by the camera's threads is handled at once.
bool RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    QTimer tick;  // wakes the loop to look at the clock
    tick.start(20);
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void RunFor(int ms)
{
    RunUntil([] { return false; }, ms);
}

// Notes when the view starts handling each camera notification and when its picture
// control paints.
class StageClock : public QObject {
public:
    std::map<uint32_t, Clock::time_point> handled;  // message -> when its handling began
    Clock::time_point painted{};
    bool armed = false;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && armed && handled.count(WM_DISPLAY_JPEG) && painted == Clock::time_point{})
            painted = Clock::now();
        if (auto* n = dynamic_cast<NotificationEvent*>(event); n && armed)
            handled.emplace(n->notification.message, Clock::now());
        return QObject::eventFilter(watched, event);
    }
};

void RunReleaseToScreen(benchmark::State& state, CameraLibrary& lib, gphoto2::Gphoto2Camera* g)
{
    App();
    msgbox::Script boxes;
    testsupport::TempDir dir;
    const std::string settingsFile = (dir.Path() / "settings.reg").string();
    {
        Settings s;
        s.Directory = (dir.Path() / "pictures").string();
        s.Year = s.Month = s.Day = false;
        RegistryStore store(settingsFile);
        SaveSettings(s, store);
    }
    auto frame = std::make_unique<CMainFrame>(settingsFile);
    auto* view = new CMyTethrocamView(lib, frame.get(), settingsFile);
    frame->setCentralWidget(view);
    frame->resize(1600, 1000);
    frame->show();
    RunUntil([&] { return view->Camera() != nullptr; }, 10000);
    RunFor(200);
    if (!view->Camera()) {
        state.SkipWithError("no camera");
        return;
    }
    QWidget* picture = view->findChild<QWidget*>(QString::number(ids::IDC_PICTURE));
    StageClock clock;
    view->installEventFilter(&clock);
    if (picture)
        picture->installEventFilter(&clock);
    std::map<std::string, std::vector<double>> stages;
    for (auto _ : state) {
        clock.handled.clear();
        clock.painted = {};
        clock.armed = true;
        const size_t before = view->History().Count();
        const auto start = Clock::now();
        frame->Command(ids::IDC_RELEASE);
        const bool done = RunUntil([&] { return clock.painted != Clock::time_point{}; }, 20000);
        clock.armed = false;
        if (!done || view->History().Count() != before + 1 || !boxes.shown.empty()) {
            state.SkipWithError("the picture did not reach the screen");
            break;
        }
        const double total = Ms(clock.painted - start);
        state.SetIterationTime(total / 1000);
        auto at = [&](uint32_t m) { return clock.handled.count(m) ? clock.handled[m] : clock.painted; };
        Clock::time_point announced = start;
        if (g) {
            const gphoto2::ShotTimes t = g->LastShotTimes();
            stages["capture_ms"].push_back(Ms(t.triggered - start));
            stages["file_ms"].push_back(Ms(t.firstFile - t.triggered));
            stages["download_ms"].push_back(Ms(t.downloaded - t.firstFile));
            stages["announce_ms"].push_back(Ms(t.announced - t.downloaded));
            announced = t.announced;
        }
        stages["to_saved_ms"].push_back(Ms(at(WM_SAVED_FILE) - announced));
        stages["to_display_ms"].push_back(Ms(at(WM_DISPLAY_JPEG) - at(WM_SAVED_FILE)));
        stages["paint_ms"].push_back(Ms(clock.painted - at(WM_DISPLAY_JPEG)));
        stages["total_ms"].push_back(total);
        RunFor(20);
    }
    for (const auto& [name, values] : stages)
        state.counters[name] = Median(values);
    frame->close();
    frame.reset();
}

void BM_ReleaseToScreen_Simulated(benchmark::State& state)
{
    sim::SimConfig c;
    c.exposureMs = 0;
    c.linkBytesPerSecond = 0;  // unlimited
    c.pictureWidth = 3072;
    c.pictureHeight = 2048;
    sim::SimulatedCamera lib(c);
    RunReleaseToScreen(state, lib, nullptr);
}
BENCHMARK(BM_ReleaseToScreen_Simulated)
    ->Name("BM_ReleaseToScreen/Simulated")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);

void BM_ReleaseToScreen_Gphoto2VirtualCamera(benchmark::State& state)
{
    if (!VirtualCameraPresent(state))
        return;
    auto lib = VirtualCamera();
    RunReleaseToScreen(state, *lib, lib.get());
}
BENCHMARK(BM_ReleaseToScreen_Gphoto2VirtualCamera)
    ->Name("BM_ReleaseToScreen/Gphoto2VirtualCamera")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);

// ---------------------------------------------------------------- the library alone

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
    std::vector<double> times;
    size_t bytes = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        uint32_t count = 0;
        ReceiveBuffer buffer;
        cdReleaseImageInfo info{};
        buffer.SetSizeHint(&info);  // as the release thread does
        cdStgMedium medium = buffer.Medium();
        if (lib.CDRelease(s, 0, nullptr, nullptr, 0, &count) != cdOK || !a.Take() ||
            lib.CDGetReleasedData(s, nullptr, nullptr, 3, &info, &medium) != cdOK) {
            state.SkipWithError("release failed");
            break;
        }
        const double ms = Ms(Clock::now() - start);
        lib.CDReleasedItemSaved(s);
        times.push_back(ms);
        state.SetIterationTime(ms / 1000);
        bytes = buffer.Size();
        std::this_thread::sleep_for(milliseconds(5));
    }
    state.counters["release_to_bytes_ms"] = Median(times);
    state.counters["picture_bytes"] = static_cast<double>(bytes);
    lib.CDExitReleaseControl(s);
    lib.CDCloseSource(s);
}

void BM_ReleaseToBytes_Gphoto2VirtualCamera(benchmark::State& state)
{
    if (!VirtualCameraPresent(state))
        return;
    auto lib = VirtualCamera();
    RunReleaseToBytes(state, *lib);
}
BENCHMARK(BM_ReleaseToBytes_Gphoto2VirtualCamera)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

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

// ---------------------------------------------------------------- soak

long ResidentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

long OpenDescriptors()
{
    long n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

void BM_Gphoto2Soak(benchmark::State& state)
{
    if (!VirtualCameraPresent(state))
        return;
    const int pictures = static_cast<int>(state.range(0));
    for (auto _ : state) {
        testsupport::TempDir folder;
        auto lib = VirtualCamera();
        TimedOwner owner;
        owner.SetSnapshot(DefaultSnapshot(folder.Path()));
        cdVersionInfo v{};
        v.Size = sizeof v;
        v.MajorVersion = 5;
        lib->CDStartSDK(&v, 0);
        std::unique_ptr<CCamera> camera;
        try {
            camera = std::make_unique<CCamera>(*lib, &owner);
        } catch (int) {
            state.SkipWithError("no camera");
            return;
        }
        long fdsBefore = 0;
        long rssAfterWarmUp = 0;
        int saved = 0;
        std::vector<double> times;
        for (int i = 0; i < pictures; ++i) {
            if (i == 20) {
                rssAfterWarmUp = ResidentBytes();
                fdsBefore = OpenDescriptors();
            }
            const auto start = Clock::now();
            camera->StartRelease();
            const auto [at, path] = owner.NextSaved();
            std::error_code ec;
            if (path.empty() || fs::file_size(path, ec) < kFileBytes / 2)
                break;
            ++saved;
            times.push_back(Ms(at - start));
            fs::remove(path, ec);  // checked; the disk is shared
            std::this_thread::sleep_for(milliseconds(2));
        }
        std::this_thread::sleep_for(milliseconds(100));  // the last deletion on the camera
        const long rssEnd = ResidentBytes();
        const long fdsAfter = OpenDescriptors();
        camera.reset();
        lib->CDFinishSDK();
        state.counters["pictures"] = pictures;
        state.counters["saved"] = saved;
        state.counters["saved_ms"] = Median(times);
        state.counters["rss_growth_mb"] = static_cast<double>(rssEnd - rssAfterWarmUp) / (1024.0 * 1024.0);
        state.counters["fd_growth"] = static_cast<double>(fdsAfter - fdsBefore);
        if (saved != pictures)
            state.SkipWithError("a picture was not saved");
    }
}
BENCHMARK(BM_Gphoto2Soak)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
