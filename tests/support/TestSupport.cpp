#include "TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir()
{
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("tethrocam-test-" + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path SharedTestData()
{
    std::filesystem::path candidates[2];
    if (const char* s = std::getenv("TETHROCAM_SHARED_DIR"))
        candidates[0] = std::filesystem::path(s) / "testdata";
    candidates[1] = SourceDir() / ".." / "shared" / "testdata";
    for (const auto& c : candidates) {
        std::error_code ec;
        if (!c.empty() && std::filesystem::is_directory(c / "real", ec))
            return std::filesystem::weakly_canonical(c, ec);
    }
    return {};
}

std::filesystem::path SourceDir()
{
    if (const char* s = std::getenv("TETHROCAM_SOURCE_DIR"))
        return s;
    return std::filesystem::current_path();
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + p.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + p.string());
}

} // namespace testsupport
