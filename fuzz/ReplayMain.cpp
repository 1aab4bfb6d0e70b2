// Replays fuzz inputs without libFuzzer: every file named on the command line, and every
// file inside every folder named there, is handed once to LLVMFuzzerTestOneInput.
// A folder that does not exist is reported and skipped (the shared test pictures may be
// absent on a developer machine). Exits non-zero only if an input could not be read.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
bool RunFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", p.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    int files = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p, ec)) {
                if (e.is_regular_file()) {
                    ok = RunFile(e.path()) && ok;
                    ++files;
                }
            }
        } else if (std::filesystem::is_regular_file(p, ec)) {
            ok = RunFile(p) && ok;
            ++files;
        } else {
            std::printf("skipped (absent): %s\n", argv[i]);
        }
    }
    std::printf("replayed %d inputs\n", files);
    return ok ? 0 : 1;
}
