#include "storage/SaveFolders.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace storage {

namespace {

class NativeAccess final : public FolderAccess {
public:
    Entry Probe(const std::string& path) override
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return Entry::Missing;
        return S_ISDIR(st.st_mode) ? Entry::Folder : Entry::Other;
    }

    bool CreateFolder(const std::string& path) override
    {
        if (::mkdir(path.c_str(), 0777) == 0)
            return true;
        // Another thread or program may have made it a moment ago.
        return errno == EEXIST && Probe(path) == Entry::Folder;
    }

    std::vector<std::string> List(const std::string& folder) override
    {
        std::vector<std::string> names;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            return names;
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        return names;
    }
};

void StripTrailing(std::string& s, char sep)
{
    while (!s.empty() && s.back() == sep)
        s.pop_back();
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWith(const std::string& name, const std::string& prefix, bool ignoreCase)
{
    if (name.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char a = ignoreCase ? LowerAscii(name[i]) : name[i];
        const char b = ignoreCase ? LowerAscii(prefix[i]) : prefix[i];
        if (a != b)
            return false;
    }
    return true;
}

// `ext` is lower case, dot included.
bool EndsWithIgnoringCase(const std::string& name, const char* ext, size_t extLen)
{
    if (name.size() < extLen)
        return false;
    const size_t start = name.size() - extLen;
    for (size_t i = 0; i < extLen; ++i) {
        if (LowerAscii(name[start + i]) != ext[i])
            return false;
    }
    return true;
}

const char* TemplateOf(int kind)
{
    switch (kind) {
    case kFileKindCrw: return "%04d.CRW";
    case kFileKindJpg: return "%04d.JPG";
    case kFileKindTif: return "%04d.TIF";
    case kFileKindJpegWithTif: return "%04d.JPG";
    case kFileKindThm: return "%04d.THM";
    default: return nullptr;
    }
}

} // namespace

PathStyle NativePathStyle()
{
#ifdef _WIN32
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

char PathSeparator(PathStyle style)
{
    return style == PathStyle::Windows ? '\\' : '/';
}

FolderAccess& NativeFolderAccess()
{
    static NativeAccess access;
    return access;
}

std::string DatedFolder(const std::string& base, bool year, bool month, bool day, bool flatten,
                        PathStyle style, std::time_t now)
{
    const char sep = PathSeparator(style);
    std::tm local {};
    // localtime_r: the release thread and the UI thread both ask for folders.
    if (::localtime_r(&now, &local) == nullptr)
        local = std::tm {};

    std::string folder = base;
    if (folder.empty() || folder.back() != sep)
        folder += sep;

    std::string date;
    char field[16];
    if (year) {
        std::snprintf(field, sizeof field, "%04d", local.tm_year + 1900);
        date += field;
        date += sep;
    }
    if (month) {
        std::snprintf(field, sizeof field, "%02d", local.tm_mon + 1);
        date += field;
        date += sep;
    }
    if (day) {
        std::snprintf(field, sizeof field, "%02d", local.tm_mday);
        date += field;
        date += sep;
    }
    StripTrailing(date, sep);
    if (flatten)
        std::replace(date.begin(), date.end(), sep, '-');

    folder += date;
    StripTrailing(folder, sep);
    folder += sep;
    return folder;
}

std::string DatedFolder(const FolderSettings& s, PathStyle style, std::time_t now)
{
    return DatedFolder(s.Directory, s.Year, s.Month, s.Day, s.FlattenDate, style, now);
}

size_t PathRootLength(const std::string& path, PathStyle style)
{
    if (style == PathStyle::Posix)
        return (!path.empty() && path[0] == '/') ? 1 : 0;

    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        // \\server\share\ : skip the server name and the share name.
        const size_t afterServer = path.find('\\', 2);
        if (afterServer == std::string::npos)
            return 0;
        const size_t afterShare = path.find('\\', afterServer + 1);
        if (afterShare == std::string::npos)
            return 0;
        return afterShare + 1;
    }
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':'
        && path[2] == '\\')
        return 3;
    return 0;
}

bool MakeDirectoryPath(const std::string& path, PathStyle style, FolderAccess& fs)
{
    // Shorter than a root plus one character: nothing that could be created.
    const size_t minimumLength = style == PathStyle::Windows ? 4 : 2;
    if (path.size() < minimumLength)
        return false;

    const FolderAccess::Entry whole = fs.Probe(path);
    if (whole != FolderAccess::Entry::Missing)
        return whole == FolderAccess::Entry::Folder;

    const size_t root = PathRootLength(path, style);
    if (root == 0 || root >= path.size())
        return false;

    const char sep = PathSeparator(style);
    bool failed = false;
    if (fs.Probe(path.substr(0, root)) != FolderAccess::Entry::Missing) {
        for (size_t i = root; i < path.size(); ++i) {
            if (path[i] != sep)
                continue;
            const std::string part = path.substr(0, i);
            const FolderAccess::Entry e = fs.Probe(part);
            if (e == FolderAccess::Entry::Other
                || (e == FolderAccess::Entry::Missing && !fs.CreateFolder(part))) {
                failed = true;
                break;
            }
        }
    }

    const FolderAccess::Entry last = fs.Probe(path);
    if (last == FolderAccess::Entry::Other
        || (last == FolderAccess::Entry::Missing && !fs.CreateFolder(path)))
        failed = true;
    return !failed;
}

int RunningNumberOf(const std::string& afterPrefix)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (afterPrefix.empty() || !isDigit(afterPrefix.front()))
        return -1;
    long long value = 0;
    for (auto it = afterPrefix.begin(); it != afterPrefix.end() && isDigit(*it); ++it) {
        value = value * 10 + (*it - '0');
        if (value >= kMaxRunningNumber)
            return kMaxRunningNumber;
    }
    return static_cast<int>(value);
}

namespace {

constexpr const char* kOtherRawExtensions[] = {"CR2", "CR3", "NEF", "NRW", "ARW", "SR2", "DNG",
                                               "ORF", "RW2", "PEF", "RAF", "SRW", "3FR", "IIQ",
                                               "RWL", "X3F", "KDC", "DCR", "MRW", "ERF", "HIF"};

// The extension of a file name when it is one of the newer RAW extensions, any case.
bool HasOtherRawExtension(const std::string& name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return IsOtherRawExtension(ext);
}

} // namespace

bool IsOtherRawExtension(const std::string& upperCaseExtension)
{
    for (const char* e : kOtherRawExtensions) {
        if (upperCaseExtension == e)
            return true;
    }
    return false;
}

std::string NextFileName(int kind, const FolderSettings& s, PathStyle style, std::time_t now,
                         int* numberOut, int minimumNumber, FolderAccess& fs, const std::string& rawExtension)
{
    std::string otherRawTemplate;
    const char* nameTemplate = TemplateOf(kind);
    if (kind == kFileKindOtherRaw) {
        if (!IsOtherRawExtension(rawExtension))
            return {};
        otherRawTemplate = "%04d." + rawExtension;
        nameTemplate = otherRawTemplate.c_str();
    }
    if (nameTemplate == nullptr)
        return {};

    const char sep = PathSeparator(style);
    const std::string folder = DatedFolder(s, style, now);
    MakeDirectoryPath(folder, style, fs); // a failure shows when the file cannot be written

    std::string stem = folder;
    StripTrailing(stem, sep);
    stem += sep;
    stem += s.FilenamePrefix;

    // A prefix may itself hold a separator: list the folder the stem finally names.
    const size_t lastSep = stem.rfind(sep);
    const std::string listFolder = stem.substr(0, lastSep + 1);
    const std::string namePrefix = stem.substr(lastSep + 1);
    const bool prefixIgnoresCase = style == PathStyle::Windows;

    static constexpr char kExtensions[4][5] = {".thm", ".crw", ".jpg", ".tif"};
    int maxima[4] = {0, 0, 0, 0}; // THM, CRW, JPG, TIF

    for (const std::string& name : fs.List(listFolder)) {
        if (name.size() < namePrefix.size() + 4 || !StartsWith(name, namePrefix, prefixIgnoresCase))
            continue;
        for (int e = 0; e < 4; ++e) {
            if (!EndsWithIgnoringCase(name, kExtensions[e], 4))
                continue;
            const int number =
                RunningNumberOf(name.substr(namePrefix.size(), name.size() - 4 - namePrefix.size()));
            maxima[e] = std::max(maxima[e], number);
            break;
        }
        // Newer RAW files take the place of the TIFF form in the numbering.
        const size_t dot = name.rfind('.');
        if (HasOtherRawExtension(name) && dot >= namePrefix.size())
            maxima[3] = std::max(maxima[3], RunningNumberOf(name.substr(namePrefix.size(), dot - namePrefix.size())));
    }
    const int maxThm = maxima[0], maxCrw = maxima[1], maxJpg = maxima[2], maxTif = maxima[3];

    int number = 0;
    switch (kind) {
    case kFileKindJpg: number = std::max({maxJpg, maxCrw, maxTif}) + 1; break;
    case kFileKindTif:
    case kFileKindOtherRaw: number = std::max(maxTif, maxJpg) + 1; break;
    case kFileKindJpegWithTif: number = maxTif; break;
    case kFileKindThm: number = std::max({maxCrw, maxJpg, maxThm}) + 1; break;
    case kFileKindCrw: {
        const int m = std::max(maxCrw, maxJpg);
        number = maxThm > m ? maxThm : m + 1;
        break;
    }
    default: break;
    }
    number = std::max(number, minimumNumber);
    if (numberOut)
        *numberOut = number;

    char name[32];
    std::snprintf(name, sizeof name, nameTemplate, number);  // the template is one of ours
    return stem + name;
}

} // namespace storage
