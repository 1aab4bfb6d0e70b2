#include "platform/DesktopRegistration.h"

#include "platform/UserFolders.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* kDefaultGroup = "Default Applications";
constexpr const char* kAddedGroup = "Added Associations";
constexpr size_t kMaxListBytes = 4 * 1024 * 1024;

std::string Trim(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return std::string(s.substr(b, e - b));
}

bool IsBlank(std::string_view s) { return Trim(s).empty(); }

bool IsComment(std::string_view s)
{
    const std::string t = Trim(s);
    return !t.empty() && t[0] == '#';
}

// "[name]" with nothing but white space around it; the name in `name`.
bool IsHeader(std::string_view s, std::string* name = nullptr)
{
    const std::string t = Trim(s);
    if (t.size() < 3 || t.front() != '[' || t.back() != ']')
        return false;
    const std::string inner = t.substr(1, t.size() - 2);
    if (inner.find_first_of("[]") != std::string::npos)
        return false;
    if (name)
        *name = inner;
    return true;
}

// "key=value": the key before the first '=', trimmed.
bool KeyOf(std::string_view s, std::string* key)
{
    const size_t eq = s.find('=');
    if (eq == std::string_view::npos)
        return false;
    const std::string k = Trim(s.substr(0, eq));
    if (k.empty())
        return false;
    if (key)
        *key = k;
    return true;
}

bool ValidUtf8(std::string_view s)
{
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        int extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(extra) >= s.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

// The items of a list value "a;b;c;" (empty items skipped), with where each starts.
struct Item {
    std::string id;
    size_t begin;  // in the value
    size_t end;    // past the item and its ';' when it has one
};

std::vector<Item> SplitList(const std::string& value)
{
    std::vector<Item> items;
    size_t pos = 0;
    while (pos < value.size()) {
        const size_t semi = value.find(';', pos);
        const size_t stop = semi == std::string::npos ? value.size() : semi;
        const std::string id = Trim(std::string_view(value).substr(pos, stop - pos));
        const size_t next = semi == std::string::npos ? value.size() : semi + 1;
        if (!id.empty())
            items.push_back({id, pos, next});
        pos = next;
    }
    return items;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace

// ---------------------------------------------------------------- environment

std::string ExecutablePath()
{
    char buffer[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

XdgFolders UserXdgFolders()
{
    XdgFolders f;
    const std::string home = HomeFolder();
    auto pick = [&](const char* variable, const char* fallback) -> std::string {
        if (const char* v = std::getenv(variable); v && v[0] == '/')
            return v;
        return home.empty() ? std::string() : home + fallback;
    };
    f.dataHome = pick("XDG_DATA_HOME", "/.local/share");
    f.configHome = pick("XDG_CONFIG_HOME", "/.config");
    return f;
}

// ---------------------------------------------------------------- mimeapps.list

bool MimeAppsList::Parse(std::string_view text, int* badLine)
{
    lines_.clear();
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            lines.push_back({std::string(text.substr(pos)), false});
            break;
        }
        lines.push_back({std::string(text.substr(pos, nl - pos)), true});
        pos = nl + 1;
    }
    bool inGroup = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& s = lines[i].text;
        bool ok;
        if (s.find('\0') != std::string::npos || !ValidUtf8(s))
            ok = false;
        else if (IsBlank(s) || IsComment(s))
            ok = true;
        else if (IsHeader(s))
            ok = inGroup = true;
        else
            ok = inGroup && KeyOf(s, nullptr);
        if (!ok) {
            if (badLine)
                *badLine = static_cast<int>(i) + 1;
            return false;
        }
    }
    lines_ = std::move(lines);
    return true;
}

std::string MimeAppsList::Text() const
{
    std::string out;
    for (const Line& l : lines_) {
        out += l.text;
        if (l.newline)
            out += '\n';
    }
    return out;
}

int MimeAppsList::GroupHeader(const std::string& group, int from) const
{
    for (int i = from; i < static_cast<int>(lines_.size()); ++i) {
        std::string name;
        if (IsHeader(lines_[static_cast<size_t>(i)].text, &name) && name == group)
            return i;
    }
    return -1;
}

int MimeAppsList::GroupEnd(int header) const
{
    for (int i = header + 1; i < static_cast<int>(lines_.size()); ++i)
        if (IsHeader(lines_[static_cast<size_t>(i)].text))
            return i;
    return static_cast<int>(lines_.size());
}

int MimeAppsList::FindKey(int header, const std::string& key) const
{
    const int end = GroupEnd(header);
    for (int i = header + 1; i < end; ++i) {
        std::string k;
        if (!IsComment(lines_[static_cast<size_t>(i)].text) && KeyOf(lines_[static_cast<size_t>(i)].text, &k) &&
            k == key)
            return i;
    }
    return -1;
}

// A line inserted after a last line without a line feed takes over that state, so that
// taking it out again restores the text exactly.
void MimeAppsList::Insert(int at, const std::string& text)
{
    Line line{text, true};
    if (at == static_cast<int>(lines_.size()) && !lines_.empty() && !lines_.back().newline) {
        lines_.back().newline = true;
        line.newline = false;
    }
    lines_.insert(lines_.begin() + at, line);
}

void MimeAppsList::Erase(int at)
{
    const bool wasLast = at == static_cast<int>(lines_.size()) - 1;
    const bool hadNewline = lines_[static_cast<size_t>(at)].newline;
    lines_.erase(lines_.begin() + at);
    if (wasLast && !hadNewline && !lines_.empty())
        lines_.back().newline = false;
}

void MimeAppsList::Prepend(const std::string& group, const std::string& key, const std::string& desktopId)
{
    int header = GroupHeader(group);
    if (header < 0) {
        if (!lines_.empty())
            Insert(static_cast<int>(lines_.size()), "");
        Insert(static_cast<int>(lines_.size()), "[" + group + "]");
        header = static_cast<int>(lines_.size()) - 1;
    }
    const int at = FindKey(header, key);
    if (at < 0) {
        // After the group's last line that is not blank, so blank separators stay below.
        int insertAt = header + 1;
        for (int i = header + 1; i < GroupEnd(header); ++i)
            if (!IsBlank(lines_[static_cast<size_t>(i)].text))
                insertAt = i + 1;
        Insert(insertAt, key + "=" + desktopId + ";");
        return;
    }
    std::string& text = lines_[static_cast<size_t>(at)].text;
    const size_t eq = text.find('=');
    std::string value = text.substr(eq + 1);
    const auto items = SplitList(value);
    if (!items.empty() && items.front().id == desktopId)
        return;
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        if (it->id == desktopId)
            value.erase(it->begin, it->end - it->begin);
    text = text.substr(0, eq + 1) + desktopId + ";" + value;
}

bool MimeAppsList::Remove(const std::string& group, const std::string& key, const std::string& desktopId)
{
    bool changed = false;
    for (int header = GroupHeader(group); header >= 0; header = GroupHeader(group, header + 1)) {
        const int at = FindKey(header, key);
        if (at < 0)
            continue;
        std::string& text = lines_[static_cast<size_t>(at)].text;
        const size_t eq = text.find('=');
        std::string value = text.substr(eq + 1);
        const auto items = SplitList(value);
        bool ours = false;
        for (auto it = items.rbegin(); it != items.rend(); ++it) {
            if (it->id == desktopId) {
                value.erase(it->begin, it->end - it->begin);
                ours = true;
            }
        }
        if (!ours)
            continue;
        changed = true;
        if (!SplitList(value).empty()) {
            text = text.substr(0, eq + 1) + value;
            continue;
        }
        Erase(at);
        // A group left with no line at all goes too, with the blank line above it.
        if (GroupEnd(header) == header + 1) {
            Erase(header);
            if (header > 0 && IsBlank(lines_[static_cast<size_t>(header - 1)].text))
                Erase(header - 1);
            --header;
        }
    }
    return changed;
}

std::vector<std::string> MimeAppsList::Items(const std::string& group, const std::string& key) const
{
    std::vector<std::string> out;
    const int header = GroupHeader(group);
    if (header < 0)
        return out;
    const int at = FindKey(header, key);
    if (at < 0)
        return out;
    const std::string& text = lines_[static_cast<size_t>(at)].text;
    for (const Item& item : SplitList(text.substr(text.find('=') + 1)))
        out.push_back(item.id);
    return out;
}

// ---------------------------------------------------------------- desktop entry

std::string DesktopExecQuote(const std::string& path)
{
    // Reserved characters make quoting necessary; inside quotes ", `, $ and \ are escaped.
    const bool quote = path.find_first_of(" \t\n\r\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string exec;
    if (quote) {
        exec += '"';
        for (char c : path) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                exec += '\\';
            exec += c;
        }
        exec += '"';
    } else {
        exec = path;
    }
    // A literal percent sign is written %%.
    std::string fielded;
    for (char c : exec) {
        fielded += c;
        if (c == '%')
            fielded += '%';
    }
    // The key file's own string escapes: backslash, and the line feed, tab and carriage
    // return that would otherwise end the line or be taken as layout.
    std::string out;
    for (char c : fielded) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::string ExecPathProblem(const std::string& path)
{
    // The running program's file was removed or replaced (an update installed while it
    // runs): the kernel then names it with this suffix, and the path leads nowhere.
    static const std::string kDeleted = " (deleted)";
    struct stat st {};
    if (path.size() >= kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0 &&
        ::stat(path.c_str(), &st) != 0)
        return "The running program's file was removed or replaced (" + path +
               "), perhaps by an update.\nPlease start Tethrocam again and register once more.";
    // A desktop entry holds UTF-8 text without control characters; line feed, tab and
    // carriage return are escaped, anything else cannot be written.
    size_t i = 0;
    while (i < path.size()) {
        const auto c = static_cast<unsigned char>(path[i]);
        if ((c < 0x20 && c != '\n' && c != '\t' && c != '\r') || c == 0x7F)
            return "The path of the running program holds a control character, which a desktop entry cannot "
                   "hold.\nPlease move Tethrocam to a folder with a plain name.";
        const size_t extra = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 9;
        bool valid = extra <= 3 && extra < path.size() - i;
        uint32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1Fu) : extra == 2 ? (c & 0x0Fu) : (c & 0x07u);
        for (size_t k = 1; valid && k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(path[i + k]);
            valid = (d & 0xC0) == 0x80;
            cp = cp << 6 | (d & 0x3Fu);
        }
        valid = valid && !(extra == 2 && cp < 0x800) && !(extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) &&
                !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid)
            return "The path of the running program is not valid UTF-8, which a desktop entry must be.\nPlease "
                   "move Tethrocam to a folder whose name is UTF-8.";
        i += extra + 1;
    }
    return {};
}

std::string CameraEventsDesktopEntry(const std::string& executablePath)
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tethrocam\n"
           "GenericName=Tethered Shooting\n"
           "Comment=Shoot with a Canon EOS camera connected to this computer\n"
           "Exec=" +
           DesktopExecQuote(executablePath) +
           "\n"
           "Icon=" +
           std::string(kApplicationId) +
           "\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "MimeType=" +
           kCameraContentType +
           ";\n"
           "Categories=Graphics;Photography;\n";
}

// ---------------------------------------------------------------- files

bool ReadSmallFile(const std::string& path, std::string& text, int* error)
{
    text.clear();
    // Non-blocking: a FIFO in the file's place must not hang the program; it is refused
    // below like anything else that is not a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > kMaxListBytes) {
        *error = S_ISREG(st.st_mode) ? EFBIG : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return false;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0 || text.size() > kMaxListBytes) {
            *error = n < 0 ? errno : EFBIG;
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

bool MakeFolders(const std::string& path, int* error)
{
    if (path.empty() || path[0] != '/') {
        *error = EINVAL;
        return false;
    }
    size_t pos = 1;
    for (;;) {
        const size_t slash = path.find('/', pos);
        const std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = errno;
            return false;
        }
        if (slash == std::string::npos)
            break;
        pos = slash + 1;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = ENOTDIR;
        return false;
    }
    return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& text, int* error, unsigned newMode)
{
    std::string target = path;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        *error = EISDIR;
        return false;
    }
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    ::fchmod(fd, existed ? (old.st_mode & 07777) : newMode);
    int failure = 0;
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failure = n < 0 ? errno : EIO;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (!failure && ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && !failure && errno != EINTR)
        failure = errno;
    if (!failure && ::rename(temp.c_str(), target.c_str()) != 0)
        failure = errno;
    if (failure) {
        ::unlink(temp.c_str());
        *error = failure;
        return false;
    }
    const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// ---------------------------------------------------------------- commands

namespace {

RegistrationResult NoAccess(std::string reason)
{
    return {RegistrationResult::Outcome::NoAccess, std::move(reason)};
}

RegistrationResult Failed(std::string reason)
{
    return {RegistrationResult::Outcome::Failed, std::move(reason)};
}

// Reads mimeapps.list (a missing file reads as empty). False with the reason.
bool LoadMimeApps(const std::string& path, MimeAppsList& list, bool& existed, std::string& reason)
{
    std::string text;
    int error = 0;
    existed = ReadSmallFile(path, text, &error);
    if (!existed && error != ENOENT) {
        reason = "Cannot read " + path + ": " +
                 (error == EINVAL ? std::string("it is not a regular file") : ErrorText(error)) +
                 "; it was left as it is.";
        return false;
    }
    int badLine = 0;
    if (!list.Parse(text, &badLine)) {
        reason = path + " is damaged (line " + std::to_string(badLine) +
                 " is not a desktop settings line), so it was left as it is.\nPlease repair or remove it and try again.";
        return false;
    }
    return true;
}

bool SaveMimeApps(const std::string& path, const MimeAppsList& list, bool existed, std::string& reason)
{
    const std::string text = list.Text();
    int error = 0;
    if (text.empty() && existed) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            reason = "Cannot remove " + path + ": " + ErrorText(errno);
            return false;
        }
        return true;
    }
    if (text.empty())
        return true;
    if (!MakeFolders(FolderOf(path), &error) || !ReplaceFileAtomically(path, text, &error)) {
        reason = "Cannot write " + path + ": " + ErrorText(error);
        return false;
    }
    return true;
}

bool CheckFolders(const XdgFolders& folders, std::string& reason)
{
    if (folders.dataHome.empty() || folders.configHome.empty()) {
        reason = "No home folder is known (HOME is not set), so there is nowhere to keep the registration.";
        return false;
    }
    return true;
}

}  // namespace

RegistrationResult RegisterForCameraEvents(const XdgFolders& folders, const std::string& executablePath)
{
    std::string reason;
    if (!CheckFolders(folders, reason))
        return NoAccess(reason);
    if (executablePath.empty() || executablePath[0] != '/')
        return NoAccess("The path of the running program cannot be found.");
    if (const std::string problem = ExecPathProblem(executablePath); !problem.empty())
        return Failed(problem);

    const std::string listPath = JoinPath(folders.configHome, "mimeapps.list");
    MimeAppsList list;
    bool existed = false;
    if (!LoadMimeApps(listPath, list, existed, reason))
        return Failed(reason);

    const std::string applications = JoinPath(folders.dataHome, "applications");
    const std::string entryPath = JoinPath(applications, kCameraEventsEntryName);
    int error = 0;
    struct stat st {};
    const bool entryExisted = ::stat(entryPath.c_str(), &st) == 0;
    if (!MakeFolders(applications, &error) ||
        !ReplaceFileAtomically(entryPath, CameraEventsDesktopEntry(executablePath), &error))
        return Failed("Cannot write " + entryPath + ": " + ErrorText(error));

    list.Prepend(kDefaultGroup, kCameraContentType, kCameraEventsEntryName);
    list.Prepend(kAddedGroup, kCameraContentType, kCameraEventsEntryName);
    if (!SaveMimeApps(listPath, list, existed, reason)) {
        // Nothing half done: an entry that no list names is taken back.
        if (!entryExisted)
            ::unlink(entryPath.c_str());
        return Failed(reason);
    }
    return {};
}

RegistrationResult UnregisterForCameraEvents(const XdgFolders& folders)
{
    std::string reason;
    if (!CheckFolders(folders, reason))
        return NoAccess(reason);

    const std::string listPath = JoinPath(folders.configHome, "mimeapps.list");
    MimeAppsList list;
    bool existed = false;
    if (!LoadMimeApps(listPath, list, existed, reason))
        return Failed(reason);
    // In the reverse order of registering, so that groups registering appended go again
    // with the blank lines that were added with them.
    const bool removedAdded = list.Remove(kAddedGroup, kCameraContentType, kCameraEventsEntryName);
    const bool removedDefault = list.Remove(kDefaultGroup, kCameraContentType, kCameraEventsEntryName);
    if ((removedDefault || removedAdded) && !SaveMimeApps(listPath, list, existed, reason))
        return Failed(reason);

    const std::string entryPath = JoinPath(JoinPath(folders.dataHome, "applications"), kCameraEventsEntryName);
    if (::unlink(entryPath.c_str()) != 0 && errno != ENOENT)
        return Failed("Cannot remove " + entryPath + ": " + ErrorText(errno));
    return {};
}

std::string RegistrationMessage(bool registering, const RegistrationResult& result)
{
#ifdef _WIN32
    if (result.outcome == RegistrationResult::Outcome::NoAccess)
        return "Error accessing the Still Camera Interface";
    if (result.outcome == RegistrationResult::Outcome::Done)
        return registering ? "Tethrocam registered with Still Camera Interface"
                           : "Unregistered Tethrocam with Still Camera Interface";
    return std::string(registering ? "Error registering" : "Error unregistering") +
           " Tethrocam with Still Camera Interface\nIf you are running Windows 2000 or Windows XP try " +
           (registering ? "registering" : "unregistering") + " when running as Administrator.\nError code: " +
           result.reason;
#else
    switch (result.outcome) {
    case RegistrationResult::Outcome::NoAccess:
        return "Error accessing the desktop's application settings\n" + result.reason;
    case RegistrationResult::Outcome::Done:
        return registering ? "Tethrocam registered for camera events\n"
                             "The desktop will offer or start Tethrocam when a camera is connected to USB."
                           : "Unregistered Tethrocam for camera events\n"
                             "The desktop will no longer start Tethrocam when a camera is connected.";
    case RegistrationResult::Outcome::Failed:
        break;
    }
    return std::string(registering ? "Error registering" : "Error unregistering") + " Tethrocam for camera events\n" +
           result.reason;
#endif
}

} // namespace platform
