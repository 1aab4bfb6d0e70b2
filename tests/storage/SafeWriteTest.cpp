// Saving a picture never replaces a file and never leaves a half-written one: clashes
// between the folder scan and the write move on to the next number; failures leave
// neither the picture's name nor a temporary file behind.
#include "storage/SafeWrite.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

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
    s.Directory = tmp.Str();
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
    ASSERT_TRUE(WriteFileNoReplace(tmp.Str() + "/IMG_0001.JPG", data.data(), data.size(), &error)) << error;
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.Path() / "IMG_0001.JPG"), data);
    EXPECT_EQ(Names(tmp.Path()), std::vector<std::string> {"IMG_0001.JPG"});
}

TEST_P(NoReplaceMethods, ExistingFileIsNeverReplaced)
{
    testsupport::TempDir tmp;
    const auto original = Bytes(10, 1);
    testsupport::WriteFileBytes(tmp.Path() / "IMG_0001.JPG", original);
    const auto data = Bytes(5000);
    int error = 0;
    EXPECT_FALSE(WriteFileNoReplace(tmp.Str() + "/IMG_0001.JPG", data.data(), data.size(), &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.Path() / "IMG_0001.JPG"), original);
    EXPECT_EQ(Names(tmp.Path()), std::vector<std::string> {"IMG_0001.JPG"});
}

TEST_P(NoReplaceMethods, EmptyPictureIsAnEmptyFile)
{
    testsupport::TempDir tmp;
    int error = 0;
    ASSERT_TRUE(WriteFileNoReplace(tmp.Str() + "/IMG_0001.THM", nullptr, 0, &error));
    EXPECT_EQ(fs::file_size(tmp.Path() / "IMG_0001.THM"), 0u);
}

INSTANTIATE_TEST_SUITE_P(AllWays, NoReplaceMethods,
                         ::testing::Values(NoReplaceMethod::Auto, NoReplaceMethod::Rename, NoReplaceMethod::Direct));

TEST(WriteFileNoReplace, FolderThatCannotExistFailsCleanly)
{
    testsupport::TempDir tmp;
    testsupport::WriteFileBytes(tmp.Path() / "file", {1});
    const auto data = Bytes(10);
    int error = 0;
    EXPECT_FALSE(WriteFileNoReplace(tmp.Str() + "/file/IMG_0001.JPG", data.data(), data.size(), &error));
    EXPECT_EQ(error, ENOTDIR);
    EXPECT_FALSE(WriteFileNoReplace(tmp.Str() + "/missing/IMG_0001.JPG", data.data(), data.size(), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(Names(tmp.Path()), std::vector<std::string> {"file"});

    EXPECT_FALSE(WriteFileNoReplace("", data.data(), data.size(), &error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(WriteFileNoReplace(tmp.Str() + "/", data.data(), data.size(), &error));
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
        const bool ok = WriteFileNoReplace(tmp.Str() + "/IMG_0001.JPG", data.data(), data.size(), &error);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        ForceNoReplaceMethodForTest(NoReplaceMethod::Auto);

        EXPECT_FALSE(ok);
        EXPECT_EQ(error, EFBIG);
        EXPECT_TRUE(Names(tmp.Path()).empty());
    }
}

TEST(SavePictureNoReplace, NamesAndWritesTheNextPicture)
{
    testsupport::TempDir tmp;
    testsupport::WriteFileBytes(tmp.Path() / "IMG_0004.JPG", {1});
    const auto data = Bytes(300);
    std::string path;
    int error = 0, number = 0;
    ASSERT_TRUE(SavePictureNoReplace(kFileKindJpg, FlatIn(tmp), 0, data.data(), data.size(), &path, &error, &number));
    EXPECT_EQ(path, tmp.Str() + "/IMG_0005.JPG");
    EXPECT_EQ(number, 5);
    EXPECT_EQ(testsupport::ReadFileBytes(path), data);
}

TEST(SavePictureNoReplace, NameTakenAfterTheScanMovesToTheNextNumber)
{
    testsupport::TempDir tmp;
    testsupport::WriteFileBytes(tmp.Path() / "IMG_0001.JPG", {1});
    // Another program writes 0002 and 0003 while the first two scans run.
    RacingDisk disk({tmp.Path() / "IMG_0002.JPG", tmp.Path() / "IMG_0003.JPG"});
    const auto data = Bytes(300);
    std::string path;
    int error = 0, number = 0;
    ASSERT_TRUE(SavePictureNoReplace(kFileKindJpg, FlatIn(tmp), 0, data.data(), data.size(), &path, &error,
                                     &number, disk));
    EXPECT_EQ(path, tmp.Str() + "/IMG_0004.JPG");
    EXPECT_EQ(testsupport::ReadFileBytes(path), data);
    const std::vector<uint8_t> other {'o', 't', 'h', 'e', 'r'};
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.Path() / "IMG_0002.JPG"), other);
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.Path() / "IMG_0003.JPG"), other);
    EXPECT_EQ(Names(tmp.Path()),
              (std::vector<std::string> {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG", "IMG_0004.JPG"}));
}

// The JPEG that comes with a TIFF RAW takes the TIFF's number; when an older TIFF's JPEG
// already holds that name, the JPEG goes to the next number instead of over it.
TEST(SavePictureNoReplace, JpegOfATiffDoesNotReplaceTheOlderJpeg)
{
    testsupport::TempDir tmp;
    const std::vector<uint8_t> older {9, 9, 9};
    testsupport::WriteFileBytes(tmp.Path() / "IMG_0005.TIF", {1});
    testsupport::WriteFileBytes(tmp.Path() / "IMG_0005.JPG", older);
    const auto data = Bytes(50);
    std::string path;
    int error = 0;
    ASSERT_TRUE(SavePictureNoReplace(kFileKindJpegWithTif, FlatIn(tmp), 0, data.data(), data.size(), &path, &error));
    EXPECT_EQ(path, tmp.Str() + "/IMG_0006.JPG");
    EXPECT_EQ(testsupport::ReadFileBytes(tmp.Path() / "IMG_0005.JPG"), older);
}

TEST(SavePictureNoReplace, FailuresAreReportedWithTheirCause)
{
    testsupport::TempDir tmp;
    testsupport::WriteFileBytes(tmp.Path() / "blocked", {1});
    FolderSettings s = FlatIn(tmp);
    s.Directory = tmp.Str() + "/blocked";
    const auto data = Bytes(50);
    std::string path;
    int error = 0;
    EXPECT_FALSE(SavePictureNoReplace(kFileKindJpg, s, 0, data.data(), data.size(), &path, &error));
    EXPECT_EQ(error, ENOTDIR);
    EXPECT_EQ(path, tmp.Str() + "/blocked/IMG_0001.JPG");

    EXPECT_FALSE(SavePictureNoReplace(9, FlatIn(tmp), 0, data.data(), data.size(), &path, &error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(Names(tmp.Path()), std::vector<std::string> {"blocked"});
}

// A prefix with a digit once made every scan propose the same name; whatever makes a name
// clash, the picture is written once and each further name is a link to that same file.
TEST(SavePictureNoReplace, RetriesLinkTheOneWrittenFileToTheNextName)
{
    testsupport::TempDir tmp;
    // Five names taken behind the scan's back.
    std::vector<fs::path> taken;
    for (int i = 1; i <= 5; ++i)
        taken.push_back(tmp.Path() / ("IMG_000" + std::to_string(i) + ".JPG"));
    class Blind : public FolderAccess {
    public:
        Entry Probe(const std::string& p) override { return NativeFolderAccess().Probe(p); }
        bool CreateFolder(const std::string& p) override { return NativeFolderAccess().CreateFolder(p); }
        std::vector<std::string> List(const std::string&) override { return {}; }
    } blind;
    for (const auto& f : taken)
        testsupport::WriteFileBytes(f, {'o'});
    const auto data = Bytes(4096);
    const int before = TemporaryFilesWrittenForTest();
    std::string path;
    int error = 0, number = 0;
    ASSERT_TRUE(SavePictureNoReplace(kFileKindJpg, FlatIn(tmp), 0, data.data(), data.size(), &path, &error,
                                     &number, blind));
    EXPECT_EQ(TemporaryFilesWrittenForTest() - before, 1);
    EXPECT_EQ(path, tmp.Str() + "/IMG_0006.JPG");
    EXPECT_EQ(testsupport::ReadFileBytes(path), data);
    for (const auto& f : taken)
        EXPECT_EQ(testsupport::ReadFileBytes(f), std::vector<uint8_t> {'o'});
    EXPECT_EQ(Names(tmp.Path()).size(), 6u);  // no temporary left behind
}

// Temporaries left by a run that crashed are removed when the next picture is saved in
// their folder; a temporary being written now, and files that are not ours, stay.
TEST(SavePictureNoReplace, StaleTemporariesOfOursAreRemoved)
{
    testsupport::TempDir tmp;
    const auto stale = tmp.Path() / ".tethrocam-abc123.part";
    const auto fresh = tmp.Path() / ".tethrocam-def456.part";
    const auto foreign = tmp.Path() / "holiday.part";
    const auto foreignOld = tmp.Path() / ".other-abc123.part";
    for (const auto& f : {stale, fresh, foreign, foreignOld})
        testsupport::WriteFileBytes(f, {1, 2});
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};  // 2001
    for (const auto& f : {stale, foreign, foreignOld})
        ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), old, 0), 0);

    const auto data = Bytes(64);
    std::string path;
    int error = 0;
    ASSERT_TRUE(SavePictureNoReplace(kFileKindJpg, FlatIn(tmp), 0, data.data(), data.size(), &path, &error));
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(fresh));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_TRUE(fs::exists(foreignOld));
    EXPECT_TRUE(fs::exists(path));
}
