// Decoding a camera-sized JPEG: the fitted decode for the main window (700 x 500 box,
// histogram included) and the full-size decode for the 1:1 preview.
//   BM_FittedColourManaged   the same fitted path for the same picture marked Adobe RGB
//                            (Exif ColorSpace 0xFFFF, "R03") shown on a wide-gamut monitor
//                            profile: the colour space read from the bytes, the decode, and
//                            the copy in the monitor's colours that the window shows
//                            (decode_ratios.sh: ratio cm_fitted against BM_DecodeToBitmap/0)
// The picture is read from $TETHROCAM_BENCH_JPEG when that names a file; when it names a
// missing file, the generated picture is written there first (so that djpeg can be
// timed on exactly the same bytes, see decode_ratios.sh). The Adobe RGB picture goes the
// same way through $TETHROCAM_BENCH_ADOBE_JPEG.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "colour/DisplayTransform.h"
#include "colour/PictureColourSpace.h"
#include "imaging/JpegDecoder.h"
#include "TestPictures.h"  // tests/imaging: pictures made with libjpeg's compressor
#include "TestProfiles.h"  // tests/colour: profiles and colour-space marks

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

std::vector<uint8_t> ReadOrWrite(const char* variable, const std::vector<uint8_t>& made)
{
    const char* path = std::getenv(variable);
    if (path == nullptr || *path == '\0')
        return made;
    {
        std::ifstream in(path, std::ios::binary);
        if (in)
            return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(made.data()), static_cast<std::streamsize>(made.size()));
    return made;
}

// The camera picture marked as Adobe RGB, as the EOS bodies mark it.
const std::vector<uint8_t>& AdobeRgbCameraJpeg()
{
    static const std::vector<uint8_t> bytes = ReadOrWrite(
        "TETHROCAM_BENCH_ADOBE_JPEG", testprofiles::WithSegments(CameraJpeg(), {testprofiles::ExifColourMarks(0xFFFF, "R03")}));
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

void BM_FittedColourManaged(benchmark::State& state)
{
    const auto& jpeg = AdobeRgbCameraJpeg();
    const auto monitor = colour::Profile::FromIcc(testprofiles::WideGamutMonitor());
    colour::TransformCache cache;  // as the program keeps it: made once, used for every picture
    ImageHistogram histogram;
    for (auto _ : state) {
        const colour::PictureColourSpace space = colour::ReadPictureColourSpace(jpeg.data(), jpeg.size());
        const auto toMonitor = cache.Get(space.profile, *monitor, colour::RenderingIntent::Perceptual);
        auto bmp = DecodeToBitmap(jpeg.data(), jpeg.size(), histogram, 0, 700, 500, false);
        Bitmap shown = *bmp;
        toMonitor->Apply(shown);
        benchmark::DoNotOptimize(shown.pixels.data());
    }
    // (The CSV report wants the same counters in every benchmark of the run.)
    state.counters["bytes"] = static_cast<double>(jpeg.size());
}
BENCHMARK(BM_FittedColourManaged)->Unit(benchmark::kMillisecond)->UseRealTime();

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
