// Save folders and file names: the dated folder a picture goes to, the creation of that
// folder, and the numbered name of each saved file (prefix, running number of at least
// four digits, extension by kind). The number is found afresh for every file by listing
// the folder, so numbering continues across runs and across file kinds.
//
// Paths are handled in one of two styles. Windows style: backslash separator, roots
// "C:\" and "\\server\share\". POSIX style: "/" separator, root "/"; a relative path has
// no root and is refused like a Windows path without a drive letter. The string work
// (dated folder, root finding, name formatting) is pure and works in either style on any
// system; whatever touches the disk goes through a FolderAccess, by default the native
// file system, which understands the native style only.
//
// Threads: any thread (the release thread names every file it saves; the preferences
// dialog shows an example folder on the UI thread). Nothing here keeps state. Calls that
// take a FolderAccess block on its file-system work (stat, mkdir, one folder listing).
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace storage {

enum class PathStyle { Windows, Posix };

// The style of the system the program runs on.
PathStyle NativePathStyle();
char PathSeparator(PathStyle style);

// File kinds asked for by the release thread.
enum FileKind : int {
    kFileKindCrw = 0,          // RAW picture in CRW form, "%04d.CRW"
    kFileKindJpg = 1,          // JPEG picture, "%04d.JPG"
    kFileKindTif = 2,          // RAW picture in TIFF form, "%04d.TIF"
    kFileKindJpegWithTif = 3,  // JPEG that comes with a TIFF RAW picture, "%04d.JPG"
    kFileKindThm = 4,          // thumbnail of a RAW picture, "%04d.THM"
    kFileKindOtherRaw = 5,     // RAW picture of a newer body under its own extension ("%04d.CR2",
                               // "%04d.NEF", ...): numbered like the TIFF form, so that the JPEG of
                               // the same shot (kind 3) shares its number
};

// The upper-case extensions kind 5 accepts (CR2, CR3, NEF, NRW, ARW, SR2, DNG, ORF, RW2,
// PEF, RAF, SRW, 3FR, IIQ, RWL, X3F, KDC, DCR, MRW, ERF, and HIF for the HEIF pictures of
// newer bodies, which the program keeps as they came). Files with these extensions count
// with the TIF files when the next number is chosen.
bool IsOtherRawExtension(const std::string& upperCaseExtension);

// The part of the settings that decides where pictures go and how they are named.
struct FolderSettings {
    std::string Directory;
    std::string FilenamePrefix = "IMG_";
    bool Year = true;
    bool Month = true;
    bool Day = true;
    bool FlattenDate = true;
};

// Largest running number read from a file name. Longer digit runs read as this, so that
// the next number (this plus one) still fits an int.
constexpr int kMaxRunningNumber = 999999999;

// The disk as the folder code sees it. Implementations must be usable from any thread.
class FolderAccess {
public:
    enum class Entry { Missing, Folder, Other };
    virtual ~FolderAccess() = default;
    virtual Entry Probe(const std::string& path) = 0;
    // Creates one folder whose parent exists; true on success.
    virtual bool CreateFolder(const std::string& path) = 0;
    // Names (not paths) of every entry of the folder; empty when it cannot be listed.
    virtual std::vector<std::string> List(const std::string& folder) = 0;
};

// The real file system, native style. Shared and stateless.
FolderAccess& NativeFolderAccess();

// The folder for the local date of `now`, always ending in exactly one separator:
// base, then year ("%04d"), month and day ("%02d") levels as the flags ask, the levels
// joined by "-" into one folder name when `flatten` is set. No flag: the base itself.
std::string DatedFolder(const std::string& base, bool year, bool month, bool day, bool flatten,
                        PathStyle style, std::time_t now = std::time(nullptr));
std::string DatedFolder(const FolderSettings& s, PathStyle style,
                        std::time_t now = std::time(nullptr));

// Length of the root of `path` ("C:\" is 3, "\\server\share\" runs to just past the
// backslash after the share name, "/" is 1); 0 when the path has no root.
size_t PathRootLength(const std::string& path, PathStyle style);

// Creates every missing folder of `path`. True when the whole path exists as a folder
// afterwards. A path without a root, a path that is only a root, or a path too short
// to be more than a root is refused (false) without touching anything.
bool MakeDirectoryPath(const std::string& path, PathStyle style,
                       FolderAccess& fs = NativeFolderAccess());

// The running number of a file name: the decimal digits that start `afterPrefix` (the
// name without its prefix and extension), leading digits only (0123 and 0123a both give
// 123); -1 when it does not start with a digit. Digits in the prefix itself ("D60_") are
// never read. Digit runs beyond kMaxRunningNumber read as kMaxRunningNumber.
int RunningNumberOf(const std::string& afterPrefix);

// The full path to write for a file of `kind`: dated folder (created if missing; a
// failure shows later when the file cannot be written), prefix, number, extension.
// The number is chosen from the largest numbers already in the folder for each of the
// extensions THM, CRW, JPG and TIF (one listing serves all four; extensions match in any
// letter case; the prefix matches case-insensitively in Windows style and exactly in
// POSIX style), raised to `minimumNumber` if it is lower. `numberOut` receives the
// number used. An unknown kind gives an empty path, and so does kind 5 without an extension
// that IsOtherRawExtension accepts (`rawExtension`, ignored for the other kinds).
std::string NextFileName(int kind, const FolderSettings& s, PathStyle style, std::time_t now,
                         int* numberOut = nullptr, int minimumNumber = 0,
                         FolderAccess& fs = NativeFolderAccess(), const std::string& rawExtension = {});

} // namespace storage
