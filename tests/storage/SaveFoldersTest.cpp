// Dated folders, folder creation and the running number of saved pictures, in both path
// styles: Windows-style paths on an in-memory disk, POSIX paths on the real one.
#include "storage/SaveFolders.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace storage;
namespace fs = std::filesystem;

namespace {

std::time_t LocalTime(int year, int month, int day, int hour = 12, int minute = 0, int second = 0)
{
    std::tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

const std::time_t k6June2003 = LocalTime(2003, 6, 6);

// A Windows disk in memory: case-insensitive names, backslash separator, folders and
// files. Counts the listings asked for and can refuse to create folders.
class FakeWindowsDisk : public FolderAccess {
public:
    FakeWindowsDisk() { AddFolder("C:\\"); }

    void AddFolder(const std::string& path) { entries_[Key(path)] = {Entry::Folder, Name(path)}; }
    void AddFile(const std::string& path) { entries_[Key(path)] = {Entry::Other, Name(path)}; }

    Entry Probe(const std::string& path) override
    {
        const auto it = entries_.find(Key(path));
        return it == entries_.end() ? Entry::Missing : it->second.kind;
    }

    bool CreateFolder(const std::string& path) override
    {
        if (refuseCreate || Probe(Parent(path)) != Entry::Folder || Probe(path) != Entry::Missing)
            return false;
        AddFolder(path);
        created.push_back(path);
        return true;
    }

    std::vector<std::string> List(const std::string& folder) override
    {
        ++listings;
        std::vector<std::string> names;
        const std::string parent = Key(folder);
        for (const auto& [key, e] : entries_) {
            if (key != parent && Key(Parent(key)) == parent)
                names.push_back(e.name);
        }
        return names;
    }

    bool refuseCreate = false;
    int listings = 0;
    std::vector<std::string> created;

private:
    struct Item {
        Entry kind;
        std::string name;
    };
    static std::string Strip(std::string p)
    {
        while (p.size() > 3 && p.back() == '\\')
            p.pop_back();
        return p;
    }
    static std::string Key(const std::string& p)
    {
        std::string k = Strip(p);
        std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return std::tolower(c); });
        return k;
    }
    static std::string Parent(const std::string& p)
    {
        const std::string s = Strip(p);
        const size_t slash = s.rfind('\\');
        if (slash == std::string::npos)
            return s;
        return slash == 2 ? s.substr(0, 3) : s.substr(0, slash); // "C:\x" -> "C:\"
    }
    static std::string Name(const std::string& p)
    {
        const std::string s = Strip(p);
        const size_t slash = s.rfind('\\');
        return slash == std::string::npos ? s : s.substr(slash + 1);
    }
    std::map<std::string, Item> entries_;
};

FolderSettings WindowsDefaults()
{
    FolderSettings s;
    s.Directory = "C:\\Tethrocam";
    return s;
}

void Touch(const fs::path& p)
{
    testsupport::WriteFileBytes(p, {1, 2, 3});
}

} // namespace

// ---------------------------------------------------------------------------------------
// Dated folder

TEST(DatedFolder, LevelsAndFlatteningInWindowsStyle)
{
    const std::string base = "C:\\Tethrocam";
    const auto w = PathStyle::Windows;
    EXPECT_EQ(DatedFolder(base, true, true, true, true, w, k6June2003), "C:\\Tethrocam\\2003-06-06\\");
    EXPECT_EQ(DatedFolder(base, true, true, true, false, w, k6June2003), "C:\\Tethrocam\\2003\\06\\06\\");
    // Year and day alone: the day follows the year directly.
    EXPECT_EQ(DatedFolder(base, true, false, true, false, w, k6June2003), "C:\\Tethrocam\\2003\\06\\");
    EXPECT_EQ(DatedFolder(base, true, false, true, true, w, k6June2003), "C:\\Tethrocam\\2003-06\\");
    EXPECT_EQ(DatedFolder(base, false, false, false, true, w, k6June2003), "C:\\Tethrocam\\");
    EXPECT_EQ(DatedFolder("C:\\Tethrocam\\", false, false, false, false, w, k6June2003), "C:\\Tethrocam\\");
    EXPECT_EQ(DatedFolder("C:\\", false, false, false, false, w, k6June2003), "C:\\");
    EXPECT_EQ(DatedFolder("C:\\", true, true, false, true, w, LocalTime(1999, 12, 31)), "C:\\1999-12\\");
}

TEST(DatedFolder, LevelsAndFlatteningInPosixStyle)
{
    const std::string base = "/home/x/Pictures/Tethrocam";
    const auto p = PathStyle::Posix;
    EXPECT_EQ(DatedFolder(base, true, true, true, true, p, k6June2003), base + "/2003-06-06/");
    EXPECT_EQ(DatedFolder(base, true, true, true, false, p, k6June2003), base + "/2003/06/06/");
    EXPECT_EQ(DatedFolder(base, true, false, true, false, p, k6June2003), base + "/2003/06/");
    EXPECT_EQ(DatedFolder(base, true, false, true, true, p, k6June2003), base + "/2003-06/");
    EXPECT_EQ(DatedFolder(base + "//", false, false, false, true, p, k6June2003), base + "/");
    EXPECT_EQ(DatedFolder("/", false, false, false, false, p, k6June2003), "/");
    // A backslash means nothing special in POSIX style.
    EXPECT_EQ(DatedFolder("/a\\b", false, true, false, false, p, k6June2003), "/a\\b/06/");
}

TEST(DatedFolder, TakesTheDateOfTheGivenMoment)
{
    const auto p = PathStyle::Posix;
    EXPECT_EQ(DatedFolder("/t", true, true, true, true, p, LocalTime(2003, 6, 6, 23, 59, 59)), "/t/2003-06-06/");
    EXPECT_EQ(DatedFolder("/t", true, true, true, true, p, LocalTime(2003, 6, 7, 0, 0, 1)), "/t/2003-06-07/");
}

// ---------------------------------------------------------------------------------------
// Roots and folder creation

TEST(PathRoot, WindowsDriveAndNetworkRoots)
{
    const auto w = PathStyle::Windows;
    EXPECT_EQ(PathRootLength("C:\\Tethrocam", w), 3u);
    EXPECT_EQ(PathRootLength("d:\\", w), 3u);
    EXPECT_EQ(PathRootLength("\\\\server\\share\\Tethrocam", w), 15u);
    EXPECT_EQ(PathRootLength("\\\\server\\share", w), 0u);
    EXPECT_EQ(PathRootLength("\\\\server", w), 0u);
    EXPECT_EQ(PathRootLength("Tethrocam\\2003", w), 0u);
    EXPECT_EQ(PathRootLength("\\Tethrocam", w), 0u);
    EXPECT_EQ(PathRootLength("C:Tethrocam", w), 0u);
    EXPECT_EQ(PathRootLength("C:/Tethrocam", w), 0u);
    EXPECT_EQ(PathRootLength("/home/x", w), 0u);
}

TEST(PathRoot, PosixRootIsTheLeadingSlash)
{
    const auto p = PathStyle::Posix;
    EXPECT_EQ(PathRootLength("/home/x", p), 1u);
    EXPECT_EQ(PathRootLength("home/x", p), 0u);
    EXPECT_EQ(PathRootLength("C:\\Tethrocam", p), 0u);
    EXPECT_EQ(PathRootLength("", p), 0u);
}

TEST(MakeDirectoryPathWindows, CreatesEveryMissingLevel)
{
    FakeWindowsDisk disk;
    EXPECT_TRUE(MakeDirectoryPath("C:\\Tethrocam\\2003\\06\\06\\", PathStyle::Windows, disk));
    EXPECT_EQ(disk.created, (std::vector<std::string> {"C:\\Tethrocam", "C:\\Tethrocam\\2003",
                                                        "C:\\Tethrocam\\2003\\06", "C:\\Tethrocam\\2003\\06\\06"}));
    // Existing: true without creating anything.
    disk.created.clear();
    EXPECT_TRUE(MakeDirectoryPath("C:\\Tethrocam\\2003", PathStyle::Windows, disk));
    EXPECT_TRUE(disk.created.empty());
}

TEST(MakeDirectoryPathWindows, NetworkPathSkipsServerAndShare)
{
    FakeWindowsDisk disk;
    disk.AddFolder("\\\\server\\share");
    EXPECT_TRUE(MakeDirectoryPath("\\\\server\\share\\Tethrocam\\2003-06-06\\", PathStyle::Windows, disk));
    EXPECT_EQ(disk.created, (std::vector<std::string> {"\\\\server\\share\\Tethrocam",
                                                        "\\\\server\\share\\Tethrocam\\2003-06-06"}));
}

TEST(MakeDirectoryPathWindows, RefusedPathsCreateNothing)
{
    FakeWindowsDisk disk;
    const auto w = PathStyle::Windows;
    EXPECT_FALSE(MakeDirectoryPath("Tethrocam\\2003-06-06", w, disk)); // no drive letter
    EXPECT_FALSE(MakeDirectoryPath("\\Tethrocam\\2003", w, disk));     // no drive letter
    EXPECT_FALSE(MakeDirectoryPath("\\\\server\\share", w, disk));     // root is the whole path
    EXPECT_FALSE(MakeDirectoryPath("C:\\", w, disk));                  // exists, but shorter than 4
    EXPECT_FALSE(MakeDirectoryPath("D:\\", w, disk));
    EXPECT_FALSE(MakeDirectoryPath("D:\\Tethrocam\\2003", w, disk));   // root missing
    EXPECT_TRUE(disk.created.empty());
}

TEST(MakeDirectoryPathWindows, FileInTheWayOrRefusedCreationFails)
{
    FakeWindowsDisk disk;
    disk.AddFile("C:\\Tethrocam");
    EXPECT_FALSE(MakeDirectoryPath("C:\\Tethrocam", PathStyle::Windows, disk));
    EXPECT_FALSE(MakeDirectoryPath("C:\\Tethrocam\\2003-06-06\\", PathStyle::Windows, disk));
    EXPECT_TRUE(disk.created.empty());

    FakeWindowsDisk readOnly;
    readOnly.refuseCreate = true;
    EXPECT_FALSE(MakeDirectoryPath("C:\\Tethrocam\\2003", PathStyle::Windows, readOnly));
}

TEST(MakeDirectoryPathPosix, CreatesNestedFoldersOnDisk)
{
    testsupport::TempDir tmp;
    const std::string path = tmp.Str() + "/Tethrocam/2003/06/06/";
    EXPECT_TRUE(MakeDirectoryPath(path, PathStyle::Posix));
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_TRUE(MakeDirectoryPath(path, PathStyle::Posix));
}

TEST(MakeDirectoryPathPosix, RefusesRelativeShortAndBlockedPaths)
{
    testsupport::TempDir tmp;
    Touch(tmp.Path() / "file");
    EXPECT_FALSE(MakeDirectoryPath("relative/folder", PathStyle::Posix));
    EXPECT_FALSE(fs::exists("relative"));
    EXPECT_FALSE(MakeDirectoryPath("/", PathStyle::Posix));
    EXPECT_FALSE(MakeDirectoryPath(tmp.Str() + "/file", PathStyle::Posix));
    EXPECT_FALSE(MakeDirectoryPath(tmp.Str() + "/file/sub/deeper", PathStyle::Posix));
    EXPECT_TRUE(MakeDirectoryPath(tmp.Str() + "/a", PathStyle::Posix));
}

// ---------------------------------------------------------------------------------------
// Running numbers

TEST(RunningNumber, LeadingDigitsOfWhatFollowsThePrefix)
{
    EXPECT_EQ(RunningNumberOf("0123"), 123);
    EXPECT_EQ(RunningNumberOf("0123a"), 123);
    EXPECT_EQ(RunningNumberOf("12_34"), 12);
    EXPECT_EQ(RunningNumberOf("_0007"), -1);  // no digit right after the prefix
    EXPECT_EQ(RunningNumberOf(""), -1);
    EXPECT_EQ(RunningNumberOf("0000"), 0);
    // Too many digits neither overflows nor wraps.
    EXPECT_EQ(RunningNumberOf("99999999999999999999"), kMaxRunningNumber);
    EXPECT_EQ(RunningNumberOf("2147483648"), kMaxRunningNumber);
}

TEST(NextFileNameWindows, DefaultsGiveTheDocumentedPath)
{
    FakeWindowsDisk disk;
    disk.AddFolder("C:\\Tethrocam\\2003-06-06");
    disk.AddFile("C:\\Tethrocam\\2003-06-06\\IMG_0123.JPG");
    int number = -1;
    EXPECT_EQ(NextFileName(kFileKindJpg, WindowsDefaults(), PathStyle::Windows, k6June2003, &number, 0, disk),
              "C:\\Tethrocam\\2003-06-06\\IMG_0124.JPG");
    EXPECT_EQ(number, 124);
    EXPECT_EQ(disk.listings, 1); // one listing serves all four extensions
}

TEST(NextFileNameWindows, EmptyFolderAndTheRawPairSequence)
{
    FakeWindowsDisk disk;
    const auto s = WindowsDefaults();
    const auto w = PathStyle::Windows;
    EXPECT_EQ(NextFileName(kFileKindJpg, s, w, k6June2003, nullptr, 0, disk), "C:\\Tethrocam\\2003-06-06\\IMG_0001.JPG");
    // The dated folder was created on the way.
    EXPECT_EQ(disk.Probe("C:\\Tethrocam\\2003-06-06"), FolderAccess::Entry::Folder);

    // A RAW shot: thumbnail first, then the RAW takes the thumbnail's number.
    for (int shot = 1; shot <= 2; ++shot) {
        const std::string thm = NextFileName(kFileKindThm, s, w, k6June2003, nullptr, 0, disk);
        disk.AddFile(thm);
        const std::string crw = NextFileName(kFileKindCrw, s, w, k6June2003, nullptr, 0, disk);
        disk.AddFile(crw);
        const std::string n = shot == 1 ? "0001" : "0002";
        EXPECT_EQ(thm, "C:\\Tethrocam\\2003-06-06\\IMG_" + n + ".THM");
        EXPECT_EQ(crw, "C:\\Tethrocam\\2003-06-06\\IMG_" + n + ".CRW");
    }
}

TEST(NextFileNameWindows, ChoiceByKind)
{
    const auto w = PathStyle::Windows;
    const std::string folder = "C:\\Tethrocam\\2003-06-06\\";
    struct Case {
        std::vector<std::string> files;
        int kind;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{"IMG_0007.CRW", "IMG_0003.JPG"}, kFileKindJpg, "IMG_0008.JPG"},
        {{"IMG_0005.THM"}, kFileKindJpg, "IMG_0001.JPG"},   // THM does not raise JPG
        {{"IMG_0005.THM"}, kFileKindCrw, "IMG_0005.CRW"},   // RAW takes the thumbnail's number
        {{"IMG_0005.THM"}, kFileKindTif, "IMG_0001.TIF"},
        {{"IMG_0005.THM", "IMG_0005.CRW"}, kFileKindCrw, "IMG_0006.CRW"},
        {{"IMG_0009.TIF"}, kFileKindCrw, "IMG_0001.CRW"},   // TIF does not raise CRW
        {{"IMG_0009.TIF"}, kFileKindThm, "IMG_0001.THM"},   // nor THM
        {{"IMG_0009.TIF"}, kFileKindJpg, "IMG_0010.JPG"},
        {{"IMG_0004.TIF", "IMG_0006.JPG"}, kFileKindTif, "IMG_0007.TIF"},
        {{"IMG_0004.TIF"}, kFileKindJpegWithTif, "IMG_0004.JPG"}, // the TIFF's own number
        {{}, kFileKindJpegWithTif, "IMG_0000.JPG"},
        {{"IMG_0002.CRW", "IMG_0011.JPG"}, kFileKindThm, "IMG_0012.THM"},
        {{"IMG_9999.JPG"}, kFileKindJpg, "IMG_10000.JPG"},  // five digits, no wrap
        {{"IMG_10000.JPG"}, kFileKindJpg, "IMG_10001.JPG"},
        {{"IMG_0003.jpg", "img_0004.Jpg"}, kFileKindJpg, "IMG_0005.JPG"}, // any letter case
        {{"DSC_0040.JPG", "IMG_0002.JPG"}, kFileKindJpg, "IMG_0003.JPG"}, // other prefix ignored
        {{"IMG_0002.JPG.bak", "IMG_0008.JPEG", "IMG_.JPG", "IMG_0002.JPG"}, kFileKindJpg, "IMG_0003.JPG"},
    };
    for (const Case& c : cases) {
        FakeWindowsDisk disk;
        disk.AddFolder("C:\\Tethrocam");
        disk.AddFolder("C:\\Tethrocam\\2003-06-06");
        for (const auto& f : c.files)
            disk.AddFile(folder + f);
        EXPECT_EQ(NextFileName(c.kind, WindowsDefaults(), w, k6June2003, nullptr, 0, disk), folder + c.expected)
            << "kind " << c.kind << " with " << c.files.size() << " files";
    }
}

// The digits of the prefix are not the running number: with "D60_" the pictures count
// on from the number after the prefix, and a name whose prefix is followed by no digit
// ("D60_x") or which only shares the digits ("D6") counts for nothing.
TEST(NextFileNameWindows, PrefixWithADigitCountsFromTheDigitsAfterIt)
{
    FakeWindowsDisk disk;
    disk.AddFolder("C:\\Tethrocam");
    disk.AddFolder("C:\\Tethrocam\\2003-06-06");
    disk.AddFile("C:\\Tethrocam\\2003-06-06\\D60_0001.JPG");
    disk.AddFile("C:\\Tethrocam\\2003-06-06\\D60_0002.CRW");
    disk.AddFile("C:\\Tethrocam\\2003-06-06\\D60_x99.JPG");
    disk.AddFile("C:\\Tethrocam\\2003-06-06\\D6_0070.JPG");
    auto s = WindowsDefaults();
    s.FilenamePrefix = "D60_";
    EXPECT_EQ(NextFileName(kFileKindJpg, s, PathStyle::Windows, k6June2003, nullptr, 0, disk),
              "C:\\Tethrocam\\2003-06-06\\D60_0003.JPG");
    s.FilenamePrefix = "2024-";
    disk.AddFile("C:\\Tethrocam\\2003-06-06\\2024-0041.JPG");
    EXPECT_EQ(NextFileName(kFileKindJpg, s, PathStyle::Windows, k6June2003, nullptr, 0, disk),
              "C:\\Tethrocam\\2003-06-06\\2024-0042.JPG");
}

TEST(NextFileNameWindows, MinimumNumberAndUnknownKind)
{
    FakeWindowsDisk disk;
    int number = 0;
    EXPECT_EQ(NextFileName(kFileKindJpg, WindowsDefaults(), PathStyle::Windows, k6June2003, &number, 42, disk),
              "C:\\Tethrocam\\2003-06-06\\IMG_0042.JPG");
    EXPECT_EQ(number, 42);
    EXPECT_EQ(NextFileName(5, WindowsDefaults(), PathStyle::Windows, k6June2003, nullptr, 0, disk), "");
    EXPECT_EQ(NextFileName(-1, WindowsDefaults(), PathStyle::Windows, k6June2003, nullptr, 0, disk), "");
}

TEST(NextFileNamePosix, NumbersFromTheRealFolder)
{
    testsupport::TempDir tmp;
    FolderSettings s;
    s.Directory = tmp.Str() + "/Tethrocam";
    const auto p = PathStyle::Posix;
    const std::string folder = s.Directory + "/2003-06-06/";

    EXPECT_EQ(NextFileName(kFileKindJpg, s, p, k6June2003), folder + "IMG_0001.JPG");
    ASSERT_TRUE(fs::is_directory(folder));
    Touch(folder + "IMG_0007.CRW");
    Touch(folder + "IMG_0003.JPG");
    EXPECT_EQ(NextFileName(kFileKindJpg, s, p, k6June2003), folder + "IMG_0008.JPG");
    // Extensions in any case count; the prefix must match exactly.
    Touch(folder + "IMG_0020.jpg");
    Touch(folder + "img_0030.JPG");
    EXPECT_EQ(NextFileName(kFileKindJpg, s, p, k6June2003), folder + "IMG_0021.JPG");
    // A folder holding a picture-like name is no file, but its number is taken too.
    fs::create_directory(folder + "IMG_0040.JPG");
    EXPECT_EQ(NextFileName(kFileKindJpg, s, p, k6June2003), folder + "IMG_0041.JPG");
}

TEST(NextFileNamePosix, FlatLayoutAndPrefixWithFolder)
{
    testsupport::TempDir tmp;
    FolderSettings s;
    s.Directory = tmp.Str();
    s.Year = s.Month = s.Day = false;
    s.FilenamePrefix = "shots/IMG_";
    fs::create_directory(tmp.Path() / "shots");
    Touch(tmp.Path() / "shots" / "IMG_0012.JPG");
    Touch(tmp.Path() / "IMG_0090.JPG"); // beside, not inside, the prefix's folder
    EXPECT_EQ(NextFileName(kFileKindJpg, s, PathStyle::Posix, k6June2003), tmp.Str() + "/shots/IMG_0013.JPG");
}

TEST(NextFileNamePosix, AcrossMidnightEachFolderNumbersFromItsOwnContents)
{
    testsupport::TempDir tmp;
    FolderSettings s;
    s.Directory = tmp.Str();
    const auto before = LocalTime(2003, 6, 6, 23, 59, 59);
    const auto after = LocalTime(2003, 6, 7, 0, 0, 1);
    fs::create_directory(tmp.Path() / "2003-06-06");
    Touch(tmp.Path() / "2003-06-06" / "IMG_0017.JPG");

    EXPECT_EQ(NextFileName(kFileKindJpg, s, PathStyle::Posix, before), tmp.Str() + "/2003-06-06/IMG_0018.JPG");
    EXPECT_EQ(NextFileName(kFileKindJpg, s, PathStyle::Posix, after), tmp.Str() + "/2003-06-07/IMG_0001.JPG");
}

TEST(NextFileNamePosix, HugeNumberInANameDoesNotOverflow)
{
    testsupport::TempDir tmp;
    FolderSettings s;
    s.Directory = tmp.Str();
    s.Year = s.Month = s.Day = false;
    Touch(tmp.Path() / "IMG_99999999999999999999.JPG");
    int number = 0;
    EXPECT_EQ(NextFileName(kFileKindJpg, s, PathStyle::Posix, k6June2003, &number),
              tmp.Str() + "/IMG_1000000000.JPG");
    EXPECT_EQ(number, kMaxRunningNumber + 1);
}

TEST(NextFileNamePosix, UncreatableFolderStillNamesTheFile)
{
    testsupport::TempDir tmp;
    Touch(tmp.Path() / "blocked");
    FolderSettings s;
    s.Directory = tmp.Str() + "/blocked";
    EXPECT_EQ(NextFileName(kFileKindJpg, s, PathStyle::Posix, k6June2003),
              tmp.Str() + "/blocked/2003-06-06/IMG_0001.JPG");
}
