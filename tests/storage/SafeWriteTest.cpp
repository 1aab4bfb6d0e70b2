// Saving a picture never replaces a file and never leaves a half-written one: clashes
// between the folder scan and the write move on to the next number; failures leave
// neither the picture's name nor a temporary file behind.
#include "storage/SafeWrite.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "storage/SafeWriteTesting.h"

using namespace storage;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t seed = 7)
{
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 31);
    return b;
}

std::vector<std::string> Names(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

FolderSettings FlatIn(const testsupport::TempDir& tmp)
{
    FolderSettings s;
    s.Directory = tmp.str();
    s.Year = s.Month = s.Day = false;
    return s;
}

// The real disk, except that right after the folder has been listed another program
// writes the given files: the scan cannot see them, the write must not replace them.
class RacingDisk : public FolderAccess {
public:
    explicit RacingDisk(std::vector<fs::path> files) : files_(std::move(files)) {}
    Entry Probe(const std::string& p) override { return NativeFolderAccess().Probe(p); }
    bool CreateFolder(const std::string& p) override { return NativeFolderAccess().CreateFolder(p); }
    std::vector<std::string> List(const std::string& folder) override
    {
        auto names = NativeFolderAccess().List(folder);
        for (const auto& f : files_)
            testsupport::WriteFileBytes(f, {'o', 't', 'h', 'e', 'r'});
        files_.clear();
        return names;
    }

private:
    std::vector<fs::path> files_;
};

class NoReplaceMethods : public ::testing::TestWithParam<NoReplaceMethod> {
protected:
    void SetUp() override { ForceNoReplaceMethodForTest(GetParam()); }
    void TearDown() override { ForceNoReplaceMethodForTest(NoReplaceMethod::Auto); }
};

} // namespace

TEST_P(NoReplaceMethods, WritesExactlyTheBytesAndLeavesNoTemporaryFile)
{
    testsupport::TempDir tmp;
    const auto data = Bytes(100000);
    int error = 0;
    ASSERT_TRUE(WriteFileNoReplace(tmp.str() + "/IMG_0001.JPG", data.data(), data.size(), &error)) << error;
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.path() / "IMG_0001.JPG"), data);
    EXPECT_EQ(Names(tmp.path()), std::vector<std::string> {"IMG_0001.JPG"});
}

TEST_P(NoReplaceMethods, ExistingFileIsNeverReplaced)
{
    testsupport::TempDir tmp;
    const auto original = Bytes(10, 1);
    testsupport::WriteFileBytes(tmp.path() / "IMG_0001.JPG", original);
    const auto data = Bytes(5000);
    int error = 0;
    EXPECT_FALSE(WriteFileNoReplace(tmp.str() + "/IMG_0001.JPG", data.data(), data.size(), &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.path() / "IMG_0001.JPG"), original);
    EXPECT_EQ(Names(tmp.path()), std::vector<std::string> {"IMG_0001.JPG"});
}

TEST_P(NoReplaceMethods, EmptyPictureIsAnEmptyFile)
{
    testsupport::TempDir tmp;
    int error = 0;
    ASSERT_TRUE(WriteFileNoReplace(tmp.str() + "/IMG_0001.THM", nullptr, 0, &error));
    EXPECT_EQ(fs::file_size(tmp.path() / "IMG_0001.THM"), 0u);
}

INSTANTIATE_TEST_SUITE_P(AllWays, NoReplaceMethods,
                         ::testing::Values(NoReplaceMethod::Auto, NoReplaceMethod::Rename, NoReplaceMethod::Direct));

TEST(WriteFileNoReplace, FolderThatCannotExistFailsCleanly)
{
    testsupport::TempDir tmp;
    testsupport::WriteFileBytes(tmp.path() / "file", {1});
    const auto data = Bytes(10);
    int error = 0;
    EXPECT_FALSE(WriteFileNoReplace(tmp.str() + "/file/IMG_0001.JPG", data.data(), data.size(), &error));
    EXPECT_EQ(error, ENOTDIR);
    EXPECT_FALSE(WriteFileNoReplace(tmp.str() + "/missing/IMG_0001.JPG", data.data(), data.size(), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(Names(tmp.path()), std::vector<std::string> {"file"});

    EXPECT_FALSE(WriteFileNoReplace("", data.data(), data.size(), &error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(WriteFileNoReplace(tmp.str() + "/", data.data(), data.size(), &error));
    EXPECT_EQ(error, EINVAL);
}

// A disk that fills up part-way through the picture (the file-size limit stands in for
// it): no half-written picture and no temporary file remain.
TEST(WriteFileNoReplace, WriteFailingPartWayLeavesNothing)
{
    for (const auto method : {NoReplaceMethod::Auto, NoReplaceMethod::Direct}) {
        testsupport::TempDir tmp;
        const auto data = Bytes(64 * 1024);
        ForceNoReplaceMethodForTest(method);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        int error = 0;
        const bool ok = WriteFileNoReplace(tmp.str() + "/IMG_0001.JPG", data.data(), data.size(), &error);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        ForceNoReplaceMethodForTest(NoReplaceMethod::Auto);

        EXPECT_FALSE(ok);
        EXPECT_EQ(error, EFBIG);
        EXPECT_TRUE(Names(tmp.path()).empty());
    }
}

TEST(SavePictureNoReplace, NamesAndWritesTheNextPicture)
{
    testsupport::TempDir tmp;
    testsupport::WriteFileBytes(tmp.path() / "IMG_0004.JPG", {1});
    const auto data = Bytes(300);
    std::string path;
    int error = 0, number = 0;
    ASSERT_TRUE(SavePictureNoReplace(kFileKindJpg, FlatIn(tmp), 0, data.data(), data.size(), &path, &error, &number));
    EXPECT_EQ(path, tmp.str() + "/IMG_0005.JPG");
    EXPECT_EQ(number, 5);
    EXPECT_EQ(testsupport::ReadFileBytes(path), data);
}

TEST(SavePictureNoReplace, NameTakenAfterTheScanMovesToTheNextNumber)
{
    testsupport::TempDir tmp;
    testsupport::WriteFileBytes(tmp.path() / "IMG_0001.JPG", {1});
    // Another program writes 0002 and 0003 while the first two scans run.
    RacingDisk disk({tmp.path() / "IMG_0002.JPG", tmp.path() / "IMG_0003.JPG"});
    const auto data = Bytes(300);
    std::string path;
    int error = 0, number = 0;
    ASSERT_TRUE(SavePictureNoReplace(kFileKindJpg, FlatIn(tmp), 0, data.data(), data.size(), &path, &error,
                                     &number, disk));
    EXPECT_EQ(path, tmp.str() + "/IMG_0004.JPG");
    EXPECT_EQ(testsupport::ReadFileBytes(path), data);
    const std::vector<uint8_t> other {'o', 't', 'h', 'e', 'r'};
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.path() / "IMG_0002.JPG"), other);
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.path() / "IMG_0003.JPG"), other);
    EXPECT_EQ(Names(tmp.path()),
              (std::vector<std::string> {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG", "IMG_0004.JPG"}));
}

// The JPEG that comes with a TIFF RAW takes the TIFF's number; when an older TIFF's JPEG
// already holds that name, the JPEG goes to the next number instead of over it.
TEST(SavePictureNoReplace, JpegOfATiffDoesNotReplaceTheOlderJpeg)
{
    testsupport::TempDir tmp;
    const std::vector<uint8_t> older {9, 9, 9};
    testsupport::WriteFileBytes(tmp.path() / "IMG_0005.TIF", {1});
    testsupport::WriteFileBytes(tmp.path() / "IMG_0005.JPG", older);
    const auto data = Bytes(50);
    std::string path;
    int error = 0;
    ASSERT_TRUE(SavePictureNoReplace(kFileKindJpegWithTif, FlatIn(tmp), 0, data.data(), data.size(), &path, &error));
    EXPECT_EQ(path, tmp.str() + "/IMG_0006.JPG");
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.path() / "IMG_0005.JPG"), older);
}

TEST(SavePictureNoReplace, FailuresAreReportedWithTheirCause)
{
    testsupport::TempDir tmp;
    testsupport::WriteFileBytes(tmp.path() / "blocked", {1});
    FolderSettings s = FlatIn(tmp);
    s.Directory = tmp.str() + "/blocked";
    const auto data = Bytes(50);
    std::string path;
    int error = 0;
    EXPECT_FALSE(SavePictureNoReplace(kFileKindJpg, s, 0, data.data(), data.size(), &path, &error));
    EXPECT_EQ(error, ENOTDIR);
    EXPECT_EQ(path, tmp.str() + "/blocked/IMG_0001.JPG");

    EXPECT_FALSE(SavePictureNoReplace(9, FlatIn(tmp), 0, data.data(), data.size(), &path, &error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Names(tmp.path()), std::vector<std::string> {"blocked"});
}
