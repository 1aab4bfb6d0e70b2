// Loading a saved picture again for display when the photographer browses the history:
// a 10D-sized RAW file (about 7 MB, with a 1.2 MB JPEG preview inside), the same preview
// saved as a JPEG on its own, and a large TIFF of which only the head is read. The RAW
// file is read whole before its preview is picked out, so the difference between the
// first two is the price of that read (files come from the page cache here).
#include "display/PictureHistory.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

Bytes Filler(size_t n, uint32_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = uint8_t(seed >> 16);
    }
    return b;
}

// "II", heap at 26, the RAW data, the preview, a two-entry directory, its offset.
Bytes Crw(const Bytes& raw, const Bytes& preview)
{
    Bytes out(26, 0);
    out[0] = out[1] = 'I';
    Put32(out, 2, 26);
    out.insert(out.end(), raw.begin(), raw.end());
    out.insert(out.end(), preview.begin(), preview.end());
    const uint32_t dir = uint32_t(out.size() - 26);
    Bytes d(2 + 20 + 4, 0);
    d[0] = 2;
    d[2] = 0x05, d[3] = 0x30;  // RAW data
    Put32(d, 4, uint32_t(raw.size()));
    Put32(d, 8, 0);
    d[12] = 0x07, d[13] = 0x20;  // JPEG preview
    Put32(d, 14, uint32_t(preview.size()));
    Put32(d, 18, uint32_t(raw.size()));
    Put32(d, 22, dir);
    out.insert(out.end(), d.begin(), d.end());
    return out;
}

struct Files {
    std::string folder, crw, jpg, tif;
    Files()
    {
        char pattern[] = "/tmp/tethrocam-bench-XXXXXX";
        folder = mkdtemp(pattern);
        crw = folder + "/IMG_0001.CRW";
        jpg = folder + "/IMG_0002.JPG";
        tif = folder + "/IMG_0003.TIF";
        Bytes preview = Filler(1200 * 1024, 2);
        preview[0] = 0xFF, preview[1] = 0xD8;
        Write(crw, Crw(Filler(5800 * 1024, 1), preview));
        Write(jpg, preview);
        Write(tif, Filler(18 * 1024 * 1024, 3));
    }
    ~Files()
    {
        for (const std::string& p : {crw, jpg, tif})
            std::remove(p.c_str());
        rmdir(folder.c_str());
    }
    static void Write(const std::string& path, const Bytes& b)
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            std::abort();
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    }
};

Files& TestFiles()
{
    static Files files;
    return files;
}

void Load(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        auto bytes = display::LoadDisplayData(path);
        if (!bytes)
            state.SkipWithError("nothing loaded");
        benchmark::DoNotOptimize(bytes);
    }
}

void BM_LoadRawPreview(benchmark::State& state) { Load(state, TestFiles().crw); }
void BM_LoadJpeg(benchmark::State& state) { Load(state, TestFiles().jpg); }
void BM_LoadTiffHead(benchmark::State& state) { Load(state, TestFiles().tif); }

} // namespace

BENCHMARK(BM_LoadRawPreview)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTiffHead)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
