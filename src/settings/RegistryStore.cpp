#include "settings/RegistryStore.h"

#include "platform/UserFolders.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kFirstLine = "Windows Registry Editor Version 5.00";
// A settings file larger than this is not the program's: the key does not open.
constexpr off_t kMaxFileBytes = off_t{1} << 20;

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Reads a quoted string at s[i] == '"' with the escapes \\ and \". On success `i` is just
// past the closing quote.
bool ReadQuoted(std::string_view s, size_t& i, std::string& out)
{
    if (i >= s.size() || s[i] != '"')
        return false;
    out.clear();
    for (++i; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c == '\0' || c == '\r') // neither can be written back on one line
            return false;
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"'))
                return false;
            out += s[++i];
            continue;
        }
        out += c;
    }
    return false; // no closing quote
}

std::string Quote(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool StorableText(std::string_view text)
{
    return text.find_first_of(std::string_view("\n\r\0", 3)) == std::string_view::npos;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string& folder)
{
    for (size_t i = 1; i <= folder.size(); ++i) {
        if (i < folder.size() && folder[i] != '/')
            continue;
        const std::string part = folder.substr(0, i);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

enum class ReadResult { Ok, Missing, Failed };

// Reads the whole settings file. Only a regular file is read: a FIFO, a device or a
// folder in its place is refused without waiting on it (opened non-blocking, checked
// before the first read). `why` says what went wrong for Failed.
ReadResult ReadWholeFile(const std::string& path, std::string& text, std::string* why = nullptr)
{
    text.clear();
    auto fail = [&](const std::string& reason) {
        if (why)
            *why = reason;
        return ReadResult::Failed;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        return fail(std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail("it is not a regular file");
    }
    if (st.st_size > kMaxFileBytes) {
        ::close(fd);
        return fail("it is larger than 1 MiB, too large to be a settings file of this program");
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0 || text.size() > static_cast<size_t>(kMaxFileBytes)) {
            const int error = errno;
            ::close(fd);
            return fail(n < 0 ? std::strerror(error) : "it grew past 1 MiB while being read");
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

} // namespace

// ---------------------------------------------------------------------------------------
// RegistryFile

RegistryFile::RegistryFile(std::string keyName) : keyName_(std::move(keyName)) {}

void RegistryFile::Parse(std::string_view text)
{
    lines_.clear();
    bool inKey = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view piece = text.substr(start, end - start);
        start = end + 1;
        while (!piece.empty() && piece.back() == '\r')
            piece.remove_suffix(1);

        Line line;
        line.raw = std::string(piece);
        std::string_view content = piece;
        if (lines_.empty() && content.substr(0, 3) == "\xEF\xBB\xBF")
            content.remove_prefix(3);
        const std::string_view trimmed = Trim(content);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            inKey = EqualIgnoringCase(trimmed.substr(1, trimmed.size() - 2), keyName_);
            line.inKey = inKey;
        } else {
            line.inKey = inKey;
            if (inKey)
                ParseValueLine(line);
        }
        lines_.push_back(std::move(line));
    }
}

void RegistryFile::ParseValueLine(Line& line)
{
    const std::string_view s = line.raw;
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    if (!ReadQuoted(s, i, line.name))
        return;
    line.named = true;

    while (i < s.size() && IsBlank(s[i]))
        ++i;
    if (i >= s.size() || s[i] != '=')
        return;
    ++i;
    while (i < s.size() && IsBlank(s[i]))
        ++i;

    const std::string_view rest = s.substr(i);
    if (rest.size() >= 6 && EqualIgnoringCase(rest.substr(0, 6), "dword:")) {
        const std::string_view digits = Trim(rest.substr(6));
        if (digits.empty() || digits.size() > 8)
            return;
        uint32_t value = 0;
        for (const char c : digits) {
            const int d = HexDigit(c);
            if (d < 0)
                return;
            value = (value << 4) | static_cast<uint32_t>(d);
        }
        line.value = RegistryValue {RegistryValueType::Dword, value, {}};
        line.readable = true;
        return;
    }
    if (!rest.empty() && rest[0] == '"') {
        size_t j = 0;
        std::string text;
        if (!ReadQuoted(rest, j, text) || !Trim(rest.substr(j)).empty())
            return;
        line.value = RegistryValue {RegistryValueType::Sz, 0, std::move(text)};
        line.readable = true;
    }
    // Anything else (hex:, hex(2):, a deletion "-", junk) reads as a missing value.
}

std::string RegistryFile::Serialize() const
{
    std::string out;
    for (const Line& line : lines_) {
        out += line.raw;
        out += '\n';
    }
    return out;
}

bool RegistryFile::HasKey() const
{
    for (const Line& line : lines_) {
        if (line.inKey)
            return true;
    }
    return false;
}

void RegistryFile::AddKey()
{
    if (HasKey())
        return;
    if (lines_.empty()) {
        lines_.push_back(Line {kFirstLine, false, false, false, {}, {}});
        lines_.push_back(Line {});
    } else if (!Trim(lines_.back().raw).empty()) {
        lines_.push_back(Line {});
    }
    lines_.push_back(Line {"[" + keyName_ + "]", true, false, false, {}, {}});
}

int RegistryFile::FindLine(std::string_view name) const
{
    for (size_t i = lines_.size(); i-- > 0;) {
        const Line& line = lines_[i];
        if (line.inKey && line.named && EqualIgnoringCase(line.name, name))
            return static_cast<int>(i);
    }
    return -1;
}

std::optional<RegistryValue> RegistryFile::Find(std::string_view name) const
{
    // As when the registry editor imports a file, a later line of a name wins.
    const int i = FindLine(name);
    if (i < 0 || !lines_[static_cast<size_t>(i)].readable)
        return std::nullopt;
    return lines_[static_cast<size_t>(i)].value;
}

bool RegistryFile::Set(std::string_view name, const RegistryValue& value)
{
    if (!StorableText(name) || (value.type == RegistryValueType::Sz && !StorableText(value.text)))
        return false;

    Line line;
    line.raw = FormatValueLine(name, value);
    line.inKey = true;
    line.named = true;
    line.readable = true;
    line.name = std::string(name);
    line.value = value;

    const int existing = FindLine(name);
    if (existing >= 0) {
        lines_[static_cast<size_t>(existing)] = std::move(line);
        return true;
    }
    AddKey();
    // After the last line of the key that is not blank.
    size_t last = 0;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].inKey && !Trim(lines_[i].raw).empty())
            last = i;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1), std::move(line));
    return true;
}

std::vector<std::pair<std::string, bool>> RegistryFile::ValueNames() const
{
    std::vector<std::pair<std::string, bool>> names;
    for (const Line& line : lines_) {
        if (line.inKey && line.named)
            names.emplace_back(line.name, line.readable);
    }
    return names;
}

std::string RegistryFile::FormatValueLine(std::string_view name, const RegistryValue& value)
{
    std::string out = Quote(name) + "=";
    if (value.type == RegistryValueType::Dword) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(value.dword));
        out += digits;
    } else {
        out += Quote(value.text);
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// RegistryStore

RegistryStore::RegistryStore(std::string filePath)
    : path_(filePath.empty() ? DefaultFilePath() : std::move(filePath)), file_(FullKeyName())
{
}

RegistryStore::~RegistryStore()
{
    Close();
}

std::string RegistryStore::DefaultFilePath()
{
    std::string config;
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        const std::string home = platform::HomeFolder();
        if (home.empty())
            return {};
        config = home + "/.config";
    }
    return config + "/tethrocam/settings.reg";
}

std::string RegistryStore::FullKeyName()
{
    return std::string(kHive) + "\\" + kKeyPath;
}

bool RegistryStore::Open()
{
    if (open_)
        return true;
    if (path_.empty() || !MakeFolders(FolderOf(path_)))
        return false;

    std::string text;
    std::string why;
    const ReadResult read = ReadWholeFile(path_, text, &why);
    if (read == ReadResult::Failed) {
        lastError_ = path_ + ": " + why;
        return false;
    }
    lastError_.clear();

    RegistryFile file(FullKeyName());
    file.Parse(text);
    if (!file.HasKey()) {
        // Opening creates the key.
        file.AddKey();
        if (!WriteFileAtomically(file.Serialize()))
            return false;
    }
    file_ = std::move(file);
    pending_.clear();
    open_ = true;
    return true;
}

bool RegistryStore::Close()
{
    if (!open_)
        return false;
    open_ = false;
    if (pending_.empty())
        return true;

    // Merge into what is on disk now, so values another store wrote since Open() stay.
    std::string text;
    RegistryFile current(FullKeyName());
    if (ReadWholeFile(path_, text) == ReadResult::Failed)
        current = file_;
    else
        current.Parse(text);
    for (const auto& [name, value] : pending_)
        current.Set(name, value);
    pending_.clear();

    const bool written = WriteFileAtomically(current.Serialize());
    file_ = std::move(current);
    return written;
}

RegistryQuery RegistryStore::QueryDword(std::string_view name, uint32_t* value) const
{
    if (!open_)
        return RegistryQuery::NotOpen;
    const auto found = file_.Find(name);
    if (!found)
        return RegistryQuery::NotFound;
    if (found->type != RegistryValueType::Dword)
        return RegistryQuery::WrongType;
    if (value)
        *value = found->dword;
    return RegistryQuery::Ok;
}

RegistryQuery RegistryStore::QueryString(std::string_view name, std::string* value,
                                         size_t bufferBytes) const
{
    if (!open_)
        return RegistryQuery::NotOpen;
    const auto found = file_.Find(name);
    if (!found)
        return RegistryQuery::NotFound;
    if (found->type != RegistryValueType::Sz)
        return RegistryQuery::WrongType;
    if (found->text.size() + 1 > bufferBytes)
        return RegistryQuery::MoreData;
    if (value)
        *value = found->text;
    return RegistryQuery::Ok;
}

std::optional<RegistryValueType> RegistryStore::QueryType(std::string_view name) const
{
    if (!open_)
        return std::nullopt;
    const auto found = file_.Find(name);
    if (!found)
        return std::nullopt;
    return found->type;
}

bool RegistryStore::SetDword(std::string_view name, uint32_t value)
{
    if (!open_)
        return false;
    const RegistryValue v {RegistryValueType::Dword, value, {}};
    if (!file_.Set(name, v))
        return false;
    pending_.emplace_back(std::string(name), v);
    return true;
}

bool RegistryStore::SetString(std::string_view name, std::string_view text)
{
    if (!open_)
        return false;
    const RegistryValue v {RegistryValueType::Sz, 0, std::string(text)};
    if (!file_.Set(name, v))
        return false;
    pending_.emplace_back(std::string(name), v);
    return true;
}

bool RegistryStore::WriteFileAtomically(const std::string& text)
{
    // A settings file that is a link (kept with a person's other dotfiles) stays a link:
    // the new text replaces the file it points to.
    std::string target = path_;
    if (char* resolved = ::realpath(path_.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    const std::string folder = FolderOf(target);
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;

    // Keep the permissions a person gave the file; a new file is private (0600).
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);

    bool ok = true;
    const char* p = text.data();
    size_t left = text.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (ok && ::fsync(fd) != 0)
        ok = false;
    if (::close(fd) != 0 && errno != EINTR)
        ok = false;
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0)
        ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
