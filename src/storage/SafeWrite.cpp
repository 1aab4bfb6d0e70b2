#include "storage/SafeWrite.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "storage/SafeWriteTesting.h"

namespace storage {

namespace {

std::atomic<int> g_forcedMethod {0};
std::function<int(const std::string&)> g_writeFault;
std::atomic<int> g_temporariesWritten {0};

constexpr char kTemporaryStart[] = ".tethrocam-";
constexpr char kTemporaryEnd[] = ".part";

// When this process started (near enough: when the program was loaded). A temporary
// file of ours older than this was left by a process that is gone.
timespec ProcessStart()
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}
const timespec g_processStart = ProcessStart();

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A name no picture pattern matches (it ends in ".part" and starts with a dot).
std::string TemporaryName(const std::string& folder, unsigned attempt)
{
    static std::atomic<unsigned> counter {0};
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    unsigned long long mix = ticks ^ (static_cast<unsigned long long>(::getpid()) << 32)
        ^ (static_cast<unsigned long long>(counter.fetch_add(1)) * 0x9E3779B97F4A7C15ull) ^ attempt;
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    char tag[7];
    for (int i = 0; i < 6; ++i) {
        tag[i] = kAlphabet[mix % 36];
        mix /= 36;
    }
    tag[6] = '\0';
    return folder + "/" + kTemporaryStart + tag + kTemporaryEnd;
}

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Closes a descriptor whose data has been written and synced. On Linux the descriptor is
// gone even when close reports EINTR, and the data is already on disk.
bool CloseChecked(int fd)
{
    return ::close(fd) == 0 || errno == EINTR;
}

// Writes, syncs and closes. Keeps errno of the first failure.
bool WriteSyncClose(int fd, const std::vector<ByteRange>& parts)
{
    bool written = true;
    for (const ByteRange& part : parts)
        written = written && WriteAll(fd, part.data, part.size);
    if (!written || ::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
    }
    return CloseChecked(fd);
}

void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd); // some file systems refuse to sync folders; the entry is made either way
    ::close(fd);
}

bool Fail(int* errnoOut, int error)
{
    if (errnoOut)
        *errnoOut = error;
    return false;
}

bool MethodUnsupported(int error)
{
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS
        || error == EINVAL || error == EMLINK;
}

// Last resort for file systems without hard links or exclusive rename (FAT on a card
// reader, some network shares): create the final name exclusively and write into it.
bool WriteDirectlyExclusive(const std::string& path, const std::vector<ByteRange>& parts, int* errnoOut)
{
    if (g_writeFault)
        if (const int fault = g_writeFault(FolderOf(path)))
            return Fail(errnoOut, fault);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail(errnoOut, errno);
    if (!WriteSyncClose(fd, parts)) {
        const int saved = errno;
        ::unlink(path.c_str()); // ours: created exclusively above
        return Fail(errnoOut, saved);
    }
    return true;
}

} // namespace

void ForceNoReplaceMethodForTest(NoReplaceMethod method)
{
    g_forcedMethod.store(static_cast<int>(method));
}

void SetWriteFaultForTest(std::function<int(const std::string& folder)> fault)
{
    g_writeFault = std::move(fault);
}

void SyncFolderOf(const std::string& path)
{
    SyncFolder(FolderOf(path));
}

namespace {

// Creates a hidden temporary file in `folder` and writes and syncs the bytes into it.
bool WriteTemporary(const std::string& folder, const std::vector<ByteRange>& parts, std::string* tempOut,
                    int* errnoOut)
{
    if (g_writeFault)
        if (const int fault = g_writeFault(folder))
            return Fail(errnoOut, fault);
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = TemporaryName(folder, attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return Fail(errnoOut, errno);
    }
    if (fd < 0)
        return Fail(errnoOut, EEXIST);
    g_temporariesWritten.fetch_add(1);
    if (!WriteSyncClose(fd, parts)) {
        const int saved = errno;
        ::unlink(temp.c_str());
        return Fail(errnoOut, saved);
    }
    *tempOut = temp;
    return true;
}

// What LinkNoReplace returns when the file system can neither hard-link nor rename
// exclusively: the caller writes the final name directly instead.
constexpr int kNeedsDirectWrite = -1;

// Gives the finished temporary file the name `path`, failing if that name exists. On
// success the temporary name is gone; on failure it is still there (the caller may try
// another name with it). Returns 0 or the errno value.
int LinkNoReplace(const std::string& temp, const std::string& path, NoReplaceMethod method)
{
    int error = 0;
    if (method == NoReplaceMethod::Auto) {
        if (::link(temp.c_str(), path.c_str()) == 0) {
            ::unlink(temp.c_str());
            return 0;
        }
        error = errno;
        if (!MethodUnsupported(error))
            return error;
    }
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    error = errno;
    return MethodUnsupported(error) ? kNeedsDirectWrite : error;
}

bool IsOurTemporaryName(const char* name)
{
    const size_t length = std::strlen(name);
    const size_t startLength = sizeof kTemporaryStart - 1, endLength = sizeof kTemporaryEnd - 1;
    return length > startLength + endLength && std::strncmp(name, kTemporaryStart, startLength) == 0
        && std::strcmp(name + length - endLength, kTemporaryEnd) == 0;
}

bool OlderThanProcess(const struct stat& st)
{
    return st.st_mtim.tv_sec < g_processStart.tv_sec
        || (st.st_mtim.tv_sec == g_processStart.tv_sec && st.st_mtim.tv_nsec < g_processStart.tv_nsec);
}

} // namespace

int TemporaryFilesWrittenForTest()
{
    return g_temporariesWritten.load();
}

int RemoveStaleTemporaries(const std::string& folder)
{
    static std::mutex mutex;
    static std::set<std::string> cleaned;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!cleaned.insert(folder).second)
            return 0;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    const int dirFd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        if (!IsOurTemporaryName(e->d_name))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
            || st.st_uid != ::geteuid() || !OlderThanProcess(st))
            continue;
        if (::unlinkat(dirFd, e->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool WriteFileNoReplace(const std::string& path, const uint8_t* data, size_t size, int* errnoOut,
                        FolderSync folderSync)
{
    if (path.empty() || path.back() == '/')
        return Fail(errnoOut, EINVAL);
    if (data == nullptr && size > 0)
        return Fail(errnoOut, EINVAL);

    const std::vector<ByteRange> parts {{data, size}};
    const std::string folder = FolderOf(path);
    const auto method = static_cast<NoReplaceMethod>(g_forcedMethod.load());
    if (method != NoReplaceMethod::Direct) {
        std::string temp;
        if (!WriteTemporary(folder, parts, &temp, errnoOut))
            return false;
        const int error = LinkNoReplace(temp, path, method);
        if (error != 0)
            ::unlink(temp.c_str());
        if (error != 0 && error != kNeedsDirectWrite)
            return Fail(errnoOut, error);
        if (error == 0) {
            if (folderSync == FolderSync::Now)
                SyncFolder(folder);
            return true;
        }
        // Neither hard links nor exclusive rename: write into the name directly.
    }
    if (!WriteDirectlyExclusive(path, parts, errnoOut))
        return false;
    if (folderSync == FolderSync::Now)
        SyncFolder(folder);
    return true;
}

bool SavePictureNoReplace(int kind, const FolderSettings& settings, std::time_t now,
                          const uint8_t* data, size_t size, std::string* pathOut, int* errnoOut,
                          int* numberOut, FolderAccess& fs, FolderSync folderSync,
                          const std::string& rawExtension)
{
    return SavePictureNoReplace(kind, settings, now, std::vector<ByteRange> {{data, size}}, pathOut, errnoOut,
                                numberOut, fs, folderSync, rawExtension);
}

bool SavePictureNoReplace(int kind, const FolderSettings& settings, std::time_t now,
                          const std::vector<ByteRange>& parts, std::string* pathOut, int* errnoOut,
                          int* numberOut, FolderAccess& fs, FolderSync folderSync,
                          const std::string& rawExtension)
{
    for (const ByteRange& part : parts)
        if (part.data == nullptr && part.size > 0)
            return Fail(errnoOut, EINVAL);
    auto method = static_cast<NoReplaceMethod>(g_forcedMethod.load());
    // The bytes are written and synced once, into a temporary file; every name tried is
    // a link to that same file.
    std::string temp, tempFolder;
    auto dropTemporary = [&] {
        if (!temp.empty())
            ::unlink(temp.c_str());
        temp.clear();
    };
    int minimum = 0;
    int error = EEXIST;
    bool saved = false;
    std::string path;
    for (int attempt = 0; attempt < kSaveAttempts && !saved; ++attempt) {
        int number = 0;
        path = NextFileName(kind, settings, NativePathStyle(), now, &number, minimum, fs, rawExtension);
        if (pathOut)
            *pathOut = path;
        if (numberOut)
            *numberOut = number;
        if (path.empty()) {
            error = EINVAL;
            break;
        }
        const std::string folder = FolderOf(path);
        if (method != NoReplaceMethod::Direct) {
            if (temp.empty() || folder != tempFolder) {
                dropTemporary();
                if (!WriteTemporary(folder, parts, &temp, &error))
                    break;
                tempFolder = folder;
            }
            error = LinkNoReplace(temp, path, method);
            if (error == 0) {
                temp.clear();  // it has become the picture
                saved = true;
                break;
            }
            if (error == kNeedsDirectWrite) {
                dropTemporary();
                method = NoReplaceMethod::Direct;
            }
        }
        if (method == NoReplaceMethod::Direct) {
            if (WriteDirectlyExclusive(path, parts, &error)) {
                saved = true;
                break;
            }
        }
        if (error != EEXIST || number >= kMaxRunningNumber + kSaveAttempts)
            break;
        minimum = number + 1;
    }
    dropTemporary();
    if (!saved)
        return Fail(errnoOut, error);
    const std::string folder = FolderOf(path);
    if (folderSync == FolderSync::Now)
        SyncFolder(folder);
    RemoveStaleTemporaries(folder);
    return true;
}

} // namespace storage
