// Decoding a camera-sized JPEG: the fitted decode for the main window (700 x 500 box,
// histogram included) and the full-size decode for the 1:1 preview.
// The picture is read from $TETHROCAM_BENCH_JPEG when that names a file; when it names a
// missing file, the generated picture is written there first (so that djpeg can be
// timed on exactly the same bytes, see decode_ratios.sh).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "imaging/JpegDecoder.h"
#include "TestPictures.h"  // tests/imaging: pictures made with libjpeg's compressor

namespace {

const std::vector<uint8_t>& CameraJpeg()
{
    static const std::vector<uint8_t> bytes = [] {
        const char* path = std::getenv("TETHROCAM_BENCH_JPEG");
        if (path != nullptr && *path != '\0') {
            std::ifstream in(path, std::ios::binary);
            if (in)
                return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
        // 3072 x 2048, quality 90, 4:2:2 like the cameras' own large fine pictures.
        std::vector<uint8_t> made = testpictures::EncodeJpeg(testpictures::PhotoLikeScene(3072, 2048),
                                                              testpictures::JpegOptions{90, 2, 1, false});
        if (path != nullptr && *path != '\0') {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(made.data()), static_cast<std::streamsize>(made.size()));
        }
        return made;
    }();
    return bytes;
}

void BM_DecodeToBitmap(benchmark::State& state)
{
    const auto& jpeg = CameraJpeg();
    const int rotation = static_cast<int>(state.range(0));
    ImageHistogram histogram;
    for (auto _ : state) {
        auto bmp = DecodeToBitmap(jpeg.data(), jpeg.size(), histogram, rotation, 700, 500, false);
        benchmark::DoNotOptimize(bmp);
    }
    state.counters["bytes"] = static_cast<double>(jpeg.size());
}
BENCHMARK(BM_DecodeToBitmap)->Arg(0)->Arg(90)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodeFullSize(benchmark::State& state)
{
    const auto& jpeg = CameraJpeg();
    for (auto _ : state) {
        Bitmap bmp = DecodeFullSize(jpeg.data(), jpeg.size(), static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(bmp);
    }
}
BENCHMARK(BM_DecodeFullSize)->Arg(0)->Arg(90)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
