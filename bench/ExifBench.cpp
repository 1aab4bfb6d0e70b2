// Cost of reading a picture's Exif facts from received bytes: a typical camera JPEG, and
// the worst a hostile picture can ask for (directories pointing at each other until the
// walk's entry limit ends it).
#include "imaging/ImageInfo.h"

#include "ExifBuilder.h"

#include <benchmark/benchmark.h>

using namespace exiftest;

namespace {

void BM_TypicalJpeg(benchmark::State& state)
{
    const Bytes jpeg = Jpeg({Segment(0xE0, Bytes(14, 0)), ExifApp1(TypicalTiff(true))});
    for (auto _ : state)
        benchmark::DoNotOptimize(ImageInfo::ReadImageInfoFromMemory(jpeg.data(), jpeg.size()));
}
BENCHMARK(BM_TypicalJpeg);

// A big-endian TIFF whose first directory holds n Exif pointers to one sub-directory of
// n maker-note pointers, each to a maker note of n entries.
void BM_NestedDirectories(benchmark::State& state)
{
    const uint32_t n = uint32_t(state.range(0));
    ExifBuilder b(false);
    Bytes tiff{'M', 'M', 0, 42, 0, 0, 0, 8};
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
        ExifBuilder::Append(tiff, b.U16(tag));
        ExifBuilder::Append(tiff, b.U16(type));
        ExifBuilder::Append(tiff, b.U32(type == 3 ? 3 : 1));
        ExifBuilder::Append(tiff, b.U32(value));
    };
    const uint32_t sub = 8 + 2 + 12 * n + 4;
    const uint32_t maker = sub + 2 + 12 * n;
    ExifBuilder::Append(tiff, b.U16(uint16_t(n)));
    for (uint32_t i = 0; i < n; ++i)
        entry(kExifIfd, 4, sub);
    ExifBuilder::Append(tiff, b.U32(0));
    ExifBuilder::Append(tiff, b.U16(uint16_t(n)));
    for (uint32_t i = 0; i < n; ++i)
        entry(kMakerNote, 7, maker);
    ExifBuilder::Append(tiff, b.U16(uint16_t(n)));
    for (uint32_t i = 0; i < n; ++i)
        entry(kAfInfo, 3, maker);
    for (auto _ : state)
        benchmark::DoNotOptimize(ImageInfo::ReadImageInfoFromMemory(tiff.data(), tiff.size()));
    state.SetLabel(std::to_string(tiff.size()) + " bytes");
}
BENCHMARK(BM_NestedDirectories)->Arg(16)->Arg(64)->Arg(2000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
