// Generation time of the simulated camera's pictures: the full-size JPEG a release hands
// over (3072 x 2048 at both qualities), the THM thumbnail and a CRW with a 6 MB filler.
#include "backends/sim/SimPictures.h"

#include <benchmark/benchmark.h>

namespace {

void BM_SimJpegFullSize(benchmark::State& state)
{
    sim::SimPictureParams p;
    p.model = "Canon EOS 10D";
    p.width = 3072;
    p.height = 2048;
    p.jpegQuality = static_cast<int>(state.range(0));
    size_t bytes = 0;
    for (auto _ : state) {
        auto jpeg = sim::MakeSimJpeg(p);
        bytes = jpeg.size();
        benchmark::DoNotOptimize(jpeg.data());
        ++p.frameNumber;
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SimJpegFullSize)->Arg(75)->Arg(92)->Unit(benchmark::kMillisecond);

void BM_SimThumbnail(benchmark::State& state)
{
    sim::SimPictureParams p;
    for (auto _ : state) {
        auto thm = sim::MakeSimThumbnail(p);
        benchmark::DoNotOptimize(thm.data());
    }
}
BENCHMARK(BM_SimThumbnail)->Unit(benchmark::kMicrosecond);

void BM_SimCrw(benchmark::State& state)
{
    sim::SimPictureParams p;
    p.width = 3072;
    p.height = 2048;
    for (auto _ : state) {
        auto crw = sim::MakeSimCrw(p, 6 * 1024 * 1024);
        benchmark::DoNotOptimize(crw.data());
    }
}
BENCHMARK(BM_SimCrw)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
