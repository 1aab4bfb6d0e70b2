#include "TestSupport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include <sys/mount.h>
#include <sys/statvfs.h>

namespace testsupport {

SmallFileSystem::SmallFileSystem(uint64_t bytes, bool readOnly)
{
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        auto candidate = base / ("tethrocam-fs-" + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec))
            path_ = candidate;
    }
    if (path_.empty()) {
        reason_ = "cannot create a mount point";
        return;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tethrocam-test", path_.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) != 0) {
        reason_ = std::string("mounting a small tmpfs is not permitted here (") + std::strerror(errno) +
                  "); CI runs these as root";
        return;
    }
    mounted_ = true;
}

SmallFileSystem::~SmallFileSystem()
{
    if (mounted_)
        ::umount2(path_.c_str(), MNT_DETACH);
    std::error_code ec;
    if (!path_.empty())
        std::filesystem::remove(path_, ec);
}

void SmallFileSystem::Fill(uint64_t keepFree)
{
    std::ofstream out(path_ / "filler", std::ios::binary);
    const std::vector<char> chunk(4096, 'F');
    for (;;) {
        struct statvfs vfs {};
        if (::statvfs(path_.c_str(), &vfs) != 0)
            return;
        const uint64_t free = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
        if (free <= keepFree || !out)
            return;
        out.write(chunk.data(), static_cast<std::streamsize>(std::min<uint64_t>(chunk.size(), free - keepFree)));
        out.flush();
    }
}

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
