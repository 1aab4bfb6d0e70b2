// Saving a picture so that it is never lost: the picture folder, a vanished folder made
// again, the rescue folders (another file system first) when the picture folder refuses
// it, and the room left. Full and read-only disks are real small file systems where the
// test may mount them, else the writer's fault seam stands in.
#include "storage/PictureSaver.h"
#include "storage/SafeWriteTesting.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace storage;

namespace {

FolderSettings Flat(const fs::path& folder)
{
    FolderSettings s;
    s.Directory = folder.string();
    s.Year = s.Month = s.Day = false;
    return s;
}

std::vector<uint8_t> Picture(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

std::vector<std::string> Names(const fs::path& folder)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

struct FaultGuard {
    ~FaultGuard() { SetWriteFaultForTest({}); }
};

TEST(PictureSaver, AFolderThatVanishesBeforeTheWriteIsMadeAgainOnce)
{
    testsupport::TempDir dir;
    const fs::path pictures = dir.Path() / "card" / "pictures";
    FaultGuard guard;
    int vanishings = 0;
    // The folder goes after it was named (a card pulled and put back): the write finds
    // no folder.
    SetWriteFaultForTest([&](const std::string& folder) {
        if (folder == pictures.string() && vanishings++ == 0)
            fs::remove_all(dir.Path() / "card");
        return 0;
    });
    const auto bytes = Picture(5000);
    const auto r = SavePictureOrRescue(kFileKindJpg, Flat(pictures), 0, {{bytes.data(), bytes.size()}}, {});
    EXPECT_EQ(r.where, PictureSaveResult::Where::PictureFolder);
    EXPECT_TRUE(r.folderRemade);
    EXPECT_EQ(r.path, (pictures / "IMG_0001.JPG").string());
    EXPECT_EQ(testsupport::ReadFileBytes(r.path), bytes);
    EXPECT_EQ(vanishings, 2);  // tried once more, not again and again
}

TEST(PictureSaver, ARefusedPictureGoesToTheFirstRescueFolderThatTakesIt)
{
    testsupport::TempDir dir;
    const fs::path pictures = dir.Path() / "pictures";
    const fs::path broken = dir.Path() / "broken", rescue = dir.Path() / "share" / "tethrocam" / "unsaved";
    FaultGuard guard;
    SetWriteFaultForTest([&](const std::string& folder) {
        if (folder == pictures.string())
            return ENOSPC;
        if (folder == broken.string())
            return EROFS;
        return 0;
    });
    const auto bytes = Picture(3000);
    const std::vector<ByteRange> parts{{bytes.data(), 1000}, {bytes.data() + 1000, 2000}};
    FolderSettings settings = Flat(pictures);
    settings.FilenamePrefix = "SET7_";
    const auto r = SavePictureOrRescue(kFileKindJpg, settings, 0, parts, {broken.string(), rescue.string()});
    ASSERT_EQ(r.where, PictureSaveResult::Where::RescueFolder);
    EXPECT_EQ(r.folderError, ENOSPC);
    EXPECT_EQ(r.folder, pictures.string());
    EXPECT_EQ(r.path, (rescue / "SET7_0001.JPG").string());  // same prefix, numbered there
    EXPECT_EQ(testsupport::ReadFileBytes(r.path), bytes);
    ASSERT_TRUE(r.bytesFree.has_value());
    EXPECT_TRUE(Names(pictures).empty());  // no partial file where it failed

    // Nothing takes it: nothing written anywhere, both reasons kept.
    SetWriteFaultForTest([](const std::string&) { return EACCES; });
    const auto none = SavePictureOrRescue(kFileKindJpg, settings, 0, parts, {rescue.string()});
    EXPECT_EQ(none.where, PictureSaveResult::Where::Nowhere);
    EXPECT_EQ(none.folderError, EACCES);
    EXPECT_EQ(none.rescueError, EACCES);
    EXPECT_TRUE(none.path.empty());
    EXPECT_EQ(Names(rescue), std::vector<std::string>{"SET7_0001.JPG"});
}

TEST(PictureSaver, AFullDiskSendsThePictureToARescueFolderOnAnotherFileSystem)
{
    testsupport::SmallFileSystem disk(1 << 20);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.SkipReason();
    testsupport::TempDir other;
    const fs::path pictures = disk.Path() / "pictures";
    fs::create_directories(pictures);
    const fs::path rescueOnFullDisk = disk.Path() / "unsaved";
    const fs::path rescue = other.Path() / "unsaved";
    const auto bytes = Picture(2700 * 1000);  // larger than the whole file system
    const auto r = SavePictureOrRescue(kFileKindJpg, Flat(pictures), 0, {{bytes.data(), bytes.size()}},
                                       {rescueOnFullDisk.string(), rescue.string()});
    ASSERT_EQ(r.where, PictureSaveResult::Where::RescueFolder);
    EXPECT_EQ(r.folderError, ENOSPC);
    EXPECT_EQ(r.path, (rescue / "IMG_0001.JPG").string());
    EXPECT_EQ(testsupport::ReadFileBytes(r.path), bytes);
    // The other file system was tried first: nothing was even begun on the full one, and
    // the failed attempt left no temporary file behind.
    EXPECT_FALSE(fs::exists(rescueOnFullDisk));
    EXPECT_TRUE(Names(pictures).empty());
}

TEST(PictureSaver, TheRoomLeftIsCountedInPicturesOfTheLastSize)
{
    testsupport::SmallFileSystem disk(1 << 20);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.SkipReason();
    const auto bytes = Picture(100 * 1000);
    const auto r = SavePictureOrRescue(kFileKindJpg, Flat(disk.Path()), 0, {{bytes.data(), bytes.size()}}, {});
    ASSERT_EQ(r.where, PictureSaveResult::Where::PictureFolder);
    ASSERT_TRUE(r.bytesFree.has_value());
    // 1 MiB less one picture leaves room for 9 more.
    EXPECT_EQ(PicturesThatFit(*r.bytesFree, bytes.size()), 9u);
    EXPECT_EQ(PicturesThatFit(*FreeBytesAt((disk.Path() / "not" / "made").string()), bytes.size()), 9u);
    EXPECT_EQ(PicturesThatFit(1000, 0), 0u);
}

TEST(PictureSaver, AFolderIsProbedForWritingWithoutLeavingAnything)
{
    testsupport::TempDir dir;
    EXPECT_EQ(ProbeFolderWritable(dir.Str()), 0);
    EXPECT_TRUE(Names(dir.Path()).empty());
    EXPECT_EQ(ProbeFolderWritable((dir.Path() / "missing").string()), ENOENT);
    testsupport::WriteFileBytes(dir.Path() / "file", {1});
    EXPECT_EQ(ProbeFolderWritable((dir.Path() / "file").string()), ENOTDIR);

    testsupport::SmallFileSystem readOnly(1 << 20, true);
    if (!readOnly.Mounted())
        GTEST_SKIP() << readOnly.SkipReason();
    EXPECT_EQ(ProbeFolderWritable(readOnly.Path().string()), EROFS);  // refused even for root
}

TEST(PictureSaver, RescueFoldersComeFromTheDataHomeThenTheRuntimeFolder)
{
    EXPECT_EQ(RescueFolderCandidates("/home/a/.local/share/", "/run/user/1000"),
              (std::vector<std::string>{"/home/a/.local/share/tethrocam/unsaved", "/run/user/1000/unsaved"}));
    EXPECT_EQ(RescueFolderCandidates("", "relative"), std::vector<std::string>{});
}

}  // namespace
