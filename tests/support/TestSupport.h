// Helpers shared by the test programs: a scratch folder that removes itself, the
// location of the shared test pictures, an environment variable set for one scope, and
// small file utilities.
// Test threads only; nothing here blocks beyond file I/O.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its contents
// when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string Str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// The shared test-data folder (shared/testdata beside the project), or an empty path
// when it is absent. Tests that need it call GTEST_SKIP() with a reason then.
std::filesystem::path SharedTestData();

// The source tree's root (for files committed with the project).
std::filesystem::path SourceDir();

// Sets (or, with a null value, removes) an environment variable for one scope; the old
// value comes back when the object goes away.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A small file system of its own (tmpfs of `bytes`, mounted on a fresh folder, unmounted
// again when the object goes away), for what a full or read-only disk does. Mounting needs
// the privilege CI runs with; where it is not allowed, Mounted() is false and SkipReason()
// says why (tests skip with it).
class SmallFileSystem {
public:
    explicit SmallFileSystem(uint64_t bytes, bool readOnly = false);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool Mounted() const { return mounted_; }
    const std::string& SkipReason() const { return reason_; }
    const std::filesystem::path& Path() const { return path_; }
    // Fills the file system until it has fewer than `keepFree` bytes left.
    void Fill(uint64_t keepFree = 0);

private:
    std::filesystem::path path_;
    bool mounted_ = false;
    std::string reason_;
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& p);
void WriteFileBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes);

} // namespace testsupport

// Skips the current test unless the shared test pictures are present.
#define REQUIRE_SHARED_TESTDATA(var)                                                        \
    const std::filesystem::path var = testsupport::SharedTestData();                         \
    if (var.empty())                                                                         \
        GTEST_SKIP() << "shared/testdata is not beside the project (CI lays it there)"
