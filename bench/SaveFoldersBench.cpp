// What naming and saving one picture costs the release thread: NextFileName lists the
// day's folder afresh for every file, so its cost grows with the pictures already there;
// WriteFileNoReplace pays for two syncs (file and folder) on top of the write.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "storage/SafeWrite.h"
#include "storage/SaveFolders.h"

namespace fs = std::filesystem;

namespace {

// A scratch folder holding `pictures` JPEG/CRW/THM names, removed afterwards.
class PictureFolder {
public:
    explicit PictureFolder(int pictures)
    {
        path_ = fs::temp_directory_path() / ("tethrocam-bench-" + std::to_string(::getpid()) + "-"
                                             + std::to_string(pictures));
        fs::create_directories(path_);
        char name[32];
        for (int i = 1; i <= pictures; ++i) {
            static const char* kExt[] = {"JPG", "CRW", "THM"};
            std::snprintf(name, sizeof name, "IMG_%04d.%s", i, kExt[i % 3]);
            std::ofstream(path_ / name) << 'x';
        }
    }
    ~PictureFolder()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string Str() const { return path_.string(); }

private:
    fs::path path_;
};

void BM_NextFileName(benchmark::State& state)
{
    PictureFolder folder(static_cast<int>(state.range(0)));
    storage::FolderSettings s;
    s.Directory = folder.Str();
    s.Year = s.Month = s.Day = false;
    for (auto _ : state) {
        benchmark::DoNotOptimize(storage::NextFileName(storage::kFileKindJpg, s, storage::PathStyle::Posix, 0));
    }
    state.SetLabel("files already in the folder: " + std::to_string(state.range(0)));
}
BENCHMARK(BM_NextFileName)->Arg(0)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_WriteFileNoReplace(benchmark::State& state)
{
    PictureFolder folder(0);
    const std::vector<uint8_t> bytes(static_cast<size_t>(state.range(0)), 0x5A);
    int n = 0;
    for (auto _ : state) {
        const std::string path = folder.Str() + "/IMG_" + std::to_string(++n) + ".JPG";
        int error = 0;
        if (!storage::WriteFileNoReplace(path, bytes.data(), bytes.size(), &error))
            state.SkipWithError("write failed");
        state.PauseTiming();
        fs::remove(path);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_WriteFileNoReplace)->Arg(8 << 10)->Arg(3 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
