// Cost of the review aids added to every fitted picture: the flashing-highlight
// companion, the grid and the focus points, on a 700 x 466 display bitmap (a 3:2 camera
// picture fitted to a 700 x 500 box). These run after every fitted decode, so together
// they should stay a small fraction of it.
#include "display/BitmapImage.h"
#include "display/Highlights.h"
#include "display/HistogramView.h"
#include "display/Overlays.h"

#include <benchmark/benchmark.h>

#include <cstdint>

using namespace display;

namespace {

// A picture with smooth gradients and a bright patch (about a tenth of the pixels at or
// above the default threshold of 250), so that both branches of the pixel test run.
Bitmap TestPicture()
{
    Bitmap bm = MakeBitmap(700, 466);
    uint32_t noise = 12345;
    for (int y = 0; y < bm.height; ++y) {
        uint8_t* p = bm.Row(y);
        for (int x = 0; x < bm.width; ++x, p += 3) {
            noise = noise * 1103515245u + 12345u;
            const int n = static_cast<int>((noise >> 16) & 7);
            const bool bright = x > 500 && y < 150;
            p[0] = static_cast<uint8_t>(bright ? 248 + n : (x * 255 / 700 + n) & 0xFF);
            p[1] = static_cast<uint8_t>(bright ? 248 + n : (y * 255 / 466 + n) & 0xFF);
            p[2] = static_cast<uint8_t>(bright ? 248 + n : ((x + y) * 255 / 1166) & 0xFF);
        }
    }
    return bm;
}

FocusPointInfo TenD()
{
    FocusPointInfo f;
    f.model = "Canon EOS 10D";
    f.sevenPointMask = 0x08;
    return f;
}

FocusPointInfo OneD()
{
    FocusPointInfo f;
    f.model = "Canon EOS-1D";
    f.fortyFiveBits = {0, 0x04, 0, 0, 0x04, 0, 0x02, 0x04};
    return f;
}

// What MakeDisplayBitmap adds after the decode, with flashing highlights, grid and focus
// points all on.
void AllReviewAids(benchmark::State& state, const FocusPointInfo& focus, int method)
{
    Bitmap display = TestPicture();
    QImage displayImage = WrapBitmap(display);
    const QColor green(0, 255, 0);
    for (auto _ : state) {
        Bitmap companion = MakeHighlightBitmap(display, method, 250);
        QImage companionImage = WrapBitmap(companion);
        DrawGrid(displayImage, green, 9, 9);
        DrawGrid(companionImage, green, 9, 9);
        DrawFocusPoints(displayImage, focus, 0);
        DrawFocusPoints(companionImage, focus, 0);
        benchmark::DoNotOptimize(companion.pixels.data());
        benchmark::ClobberMemory();
    }
}

void BM_ReviewAids_10D_Luminosity(benchmark::State& state)
{
    AllReviewAids(state, TenD(), kHighlightLuminosity);
}
BENCHMARK(BM_ReviewAids_10D_Luminosity)->Unit(benchmark::kMicrosecond);

void BM_ReviewAids_10D_Rgb(benchmark::State& state)
{
    AllReviewAids(state, TenD(), kHighlightRgbValue);
}
BENCHMARK(BM_ReviewAids_10D_Rgb)->Unit(benchmark::kMicrosecond);

void BM_ReviewAids_1D_Luminosity(benchmark::State& state)
{
    AllReviewAids(state, OneD(), kHighlightLuminosity);
}
BENCHMARK(BM_ReviewAids_1D_Luminosity)->Unit(benchmark::kMicrosecond);

void BM_HighlightCompanion(benchmark::State& state)
{
    const Bitmap display = TestPicture();
    const int method = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Bitmap companion = MakeHighlightBitmap(display, method, 250);
        benchmark::DoNotOptimize(companion.pixels.data());
    }
}
BENCHMARK(BM_HighlightCompanion)->Arg(kHighlightLuminosity)->Arg(kHighlightRgbValue)
    ->Unit(benchmark::kMicrosecond);

void BM_Grid9x9(benchmark::State& state)
{
    Bitmap display = TestPicture();
    QImage image = WrapBitmap(display);
    for (auto _ : state) {
        DrawGrid(image, QColor(0, 255, 0), 9, 9);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Grid9x9)->Unit(benchmark::kMicrosecond);

void BM_FocusPoints(benchmark::State& state)
{
    Bitmap display = TestPicture();
    QImage image = WrapBitmap(display);
    const FocusPointInfo focus = state.range(0) == 45 ? OneD() : TenD();
    for (auto _ : state) {
        DrawFocusPoints(image, focus, 90);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FocusPoints)->Arg(7)->Arg(45)->Unit(benchmark::kMicrosecond);

void BM_HistogramDisplay(benchmark::State& state)
{
    const Bitmap display = TestPicture();
    ImageHistogram h;
    for (int y = 0; y < display.height; ++y)
        for (int x = 0; x < display.width; ++x) {
            const uint8_t* p = display.Row(y) + x * 3;
            h.Add(p[2], p[1], p[0]);
        }
    QImage image = MakeHistogramImage(230);
    for (auto _ : state) {
        DrawHistogram(image, h, HistogramCurves{true, true, true, true});
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_HistogramDisplay)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
