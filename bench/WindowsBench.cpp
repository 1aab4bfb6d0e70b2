// The auxiliary windows on a camera-sized picture (3072 x 2048, quality 90, 4:2:2), offscreen:
//   BM_PreviewNewPicture/0 and /90   a new picture in the open 1:1 preview window, from the
//                                    bytes to the window's bitmap ready (decode and turn
//                                    included); decode_ratios.sh compares it with djpeg
//   BM_PreviewColourManaged          the same for that picture marked Adobe RGB on a wide-gamut
//                                    monitor profile: decode, and what the window shows turned
//                                    into the monitor's colours (decode_ratios.sh: ratio
//                                    cm_preview against djpeg on the same file)
//   BM_PreviewPanStep                one drag step over that picture in a 600 x 400 client:
//                                    the scroll position moves and the window repaints
//   BM_FullScreenRender              a new picture in a 1920 x 1080 full-screen window:
//                                    rendered, centred on black and painted
//   BM_MainWindowRender              the main window's fitted render of the same picture
//                                    into the same 1920 x 1080 box, shown 1:1
// The picture is read from $TETHROCAM_BENCH_JPEG when that names a file (decode_ratios.sh
// times djpeg on the same file); otherwise it is generated. The Adobe RGB one likewise from
// $TETHROCAM_BENCH_ADOBE_JPEG.
#include "BenchSupport.h"
#include "backends/sim/SimCamera.h"
#include "display/BitmapImage.h"
#include "display/ColourManagement.h"
#include "mainview/CMyTethrocamView.h"
#include "windows/CFullscreenDlg.h"
#include "windows/CImagePreviewDlg.h"

#include "TestPictures.h"  // tests/imaging: pictures made with libjpeg's compressor
#include "TestProfiles.h"  // tests/colour: profiles and colour-space marks

#include <QApplication>
#include <QPainter>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using bench::App;

const std::vector<uint8_t>& CameraJpeg()
{
    static const std::vector<uint8_t> bytes = [] {
        const char* path = std::getenv("TETHROCAM_BENCH_JPEG");
        if (path != nullptr && *path != '\0') {
            std::ifstream in(path, std::ios::binary);
            if (in)
                return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
        return testpictures::EncodeJpeg(testpictures::PhotoLikeScene(3072, 2048),
                                        testpictures::JpegOptions{90, 2, 1, false});
    }();
    return bytes;
}

void BM_PreviewNewPicture(benchmark::State& state)
{
    App();
    const auto& jpeg = CameraJpeg();
    const int rotation = static_cast<int>(state.range(0));
    // Two pictures with the same pixels but different bytes (one carries a comment), so
    // that each is a new picture to the window.
    std::vector<uint8_t> other = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x03, 'x'};
    other.insert(other.end(), jpeg.begin() + 2, jpeg.end());
    const std::vector<uint8_t>* pictures[] = {&jpeg, &other};
    CImagePreviewDlg preview(nullptr);
    preview.Show(jpeg.data(), jpeg.size(), rotation);
    QCoreApplication::processEvents();
    int next = 1;
    for (auto _ : state) {
        const std::vector<uint8_t>& bytes = *pictures[next];
        preview.SetPicture(bytes.data(), bytes.size(), rotation);
        benchmark::DoNotOptimize(preview.Picture()->pixels.data());
        next ^= 1;
    }
    state.counters["bytes"] = static_cast<double>(jpeg.size());
}
BENCHMARK(BM_PreviewNewPicture)->Arg(0)->Arg(90)->Unit(benchmark::kMillisecond)->UseRealTime();

const std::vector<uint8_t>& AdobeRgbCameraJpeg()
{
    static const std::vector<uint8_t> bytes = [] {
        const char* path = std::getenv("TETHROCAM_BENCH_ADOBE_JPEG");
        if (path != nullptr && *path != '\0') {
            std::ifstream in(path, std::ios::binary);
            if (in)
                return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
        return testprofiles::WithSegments(CameraJpeg(), {testprofiles::ExifColourMarks(0xFFFF, "R03")});
    }();
    return bytes;
}

void BM_PreviewColourManaged(benchmark::State& state)
{
    App();
    const auto& jpeg = AdobeRgbCameraJpeg();
    // The monitor profile chosen as a file in Preferences.
    const auto file = std::filesystem::temp_directory_path() / "bench_windows_monitor.icc";
    {
        const auto icc = testprofiles::WideGamutMonitor();
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(icc.data()),
                                                    static_cast<std::streamsize>(icc.size()));
    }
    display::ColourSettings settings;
    settings.monitor = display::MonitorProfileChoice::File;
    settings.file = file.string();
    display::ColourManagement::Instance().Configure(settings);
    std::vector<uint8_t> other = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x03, 'x'};
    other.insert(other.end(), jpeg.begin() + 2, jpeg.end());
    const std::vector<uint8_t>* pictures[] = {&jpeg, &other};
    CImagePreviewDlg preview(nullptr);
    preview.Show(jpeg.data(), jpeg.size(), 0);
    QCoreApplication::processEvents();
    int next = 1;
    for (auto _ : state) {
        const std::vector<uint8_t>& bytes = *pictures[next];
        preview.SetPicture(bytes.data(), bytes.size(), 0);
        benchmark::DoNotOptimize(preview.Picture()->pixels.data());
        next ^= 1;
    }
    state.counters["bytes"] = static_cast<double>(jpeg.size());
    display::ColourManagement::Instance().Configure({});
    std::filesystem::remove(file);
}
BENCHMARK(BM_PreviewColourManaged)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PreviewPanStep(benchmark::State& state)
{
    App();
    const auto& jpeg = CameraJpeg();
    CImagePreviewDlg preview(nullptr);
    preview.Show(jpeg.data(), jpeg.size(), 0);
    const QSize frame = preview.size() - preview.ClientSize();
    preview.resize(QSize(600, 400) + frame);
    QCoreApplication::processEvents();
    QScrollBar* h = preview.horizontalScrollBar();
    QScrollBar* v = preview.verticalScrollBar();
    int step = 7;
    for (auto _ : state) {
        // One drag step: both positions move, then the window repaints at once.
        h->setValue(h->value() + step);
        v->setValue(v->value() + step);
        preview.viewport()->repaint();
        step = -step;
    }
}
BENCHMARK(BM_PreviewPanStep)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A view holding the picture, with no camera attached.
struct ViewWithPicture {
    ViewWithPicture() : library(NoCamera()), settingsFile(std::filesystem::temp_directory_path() / "bench_windows.reg")
    {
        App();
        view = std::make_unique<CMyTethrocamView>(library, nullptr, settingsFile.string());
        Notification n;
        n.message = WM_DISPLAY_JPEG;
        n.bytes = CameraJpeg();
        n.wParam = static_cast<int64_t>(n.bytes.size());
        view->Post(std::move(n));
        QCoreApplication::processEvents();
    }
    ~ViewWithPicture()
    {
        view.reset();
        std::filesystem::remove(settingsFile);
    }
    static sim::SimConfig NoCamera()
    {
        sim::SimConfig c;
        c.cameraCount = 0;
        return c;
    }
    sim::SimulatedCamera library;
    std::filesystem::path settingsFile;
    std::unique_ptr<CMyTethrocamView> view;
};

void BM_FullScreenRender(benchmark::State& state)
{
    ViewWithPicture v;
    CFullscreenDlg dlg(v.view.get(), false);
    dlg.resize(1920, 1080);
    dlg.show();
    QCoreApplication::processEvents();
    Notification n;
    n.message = WM_DISPLAY_JPEG;
    for (auto _ : state) {
        dlg.Notify(n);
        dlg.repaint();
    }
}
BENCHMARK(BM_FullScreenRender)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MainWindowRender(benchmark::State& state)
{
    ViewWithPicture v;
    QImage screen(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        ImageHistogram histogram;
        display::DisplayResult r = v.view->MakeDisplayBitmap(v.view.get(), 1920, 1080, histogram, false);
        QPainter p(&screen);
        p.drawImage(0, 0, display::WrapBitmap(*r.display));
    }
}
BENCHMARK(BM_MainWindowRender)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
