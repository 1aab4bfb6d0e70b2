#include "storage/SafeWrite.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/SafeWriteTesting.h"

namespace storage {

namespace {

std::atomic<int> g_forcedMethod {0};

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
    return folder + "/.tethrocam-" + tag + ".part";
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
bool WriteSyncClose(int fd, const uint8_t* data, size_t size)
{
    if (!WriteAll(fd, data, size) || ::fsync(fd) != 0) {
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
bool WriteDirectlyExclusive(const std::string& path, const uint8_t* data, size_t size, int* errnoOut)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail(errnoOut, errno);
    if (!WriteSyncClose(fd, data, size)) {
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

void SyncFolderOf(const std::string& path)
{
    SyncFolder(FolderOf(path));
}

bool WriteFileNoReplace(const std::string& path, const uint8_t* data, size_t size, int* errnoOut,
                        FolderSync folderSync)
{
    if (path.empty() || path.back() == '/')
        return Fail(errnoOut, EINVAL);
    if (data == nullptr && size > 0)
        return Fail(errnoOut, EINVAL);

    const std::string folder = FolderOf(path);
    const auto method = static_cast<NoReplaceMethod>(g_forcedMethod.load());
    if (method == NoReplaceMethod::Direct) {
        if (!WriteDirectlyExclusive(path, data, size, errnoOut))
            return false;
        if (folderSync == FolderSync::Now)
            SyncFolder(folder);
        return true;
    }

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

    if (!WriteSyncClose(fd, data, size)) {
        const int saved = errno;
        ::unlink(temp.c_str());
        return Fail(errnoOut, saved);
    }

    // Give the complete file its name; every way used here fails if the name exists.
    int error = 0;
    bool linked = false;
    if (method == NoReplaceMethod::Auto) {
        if (::link(temp.c_str(), path.c_str()) == 0) {
            linked = true;
            ::unlink(temp.c_str());
        } else {
            error = errno;
        }
    }
    if (!linked && (method == NoReplaceMethod::Rename || MethodUnsupported(error))) {
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
            linked = true;
        } else {
            error = errno;
            if (MethodUnsupported(error)) {
                // Neither hard links nor exclusive rename: copy into the name directly.
                ::unlink(temp.c_str());
                if (!WriteDirectlyExclusive(path, data, size, errnoOut))
                    return false;
                if (folderSync == FolderSync::Now)
            SyncFolder(folder);
                return true;
            }
        }
    }
    if (!linked) {
        ::unlink(temp.c_str());
        return Fail(errnoOut, error);
    }
    if (folderSync == FolderSync::Now)
            SyncFolder(folder);
    return true;
}

bool SavePictureNoReplace(int kind, const FolderSettings& settings, std::time_t now,
                          const uint8_t* data, size_t size, std::string* pathOut, int* errnoOut,
                          int* numberOut, FolderAccess& fs, FolderSync folderSync,
                          const std::string& rawExtension)
{
    int minimum = 0;
    int error = EEXIST;
    for (int attempt = 0; attempt < kSaveAttempts; ++attempt) {
        int number = 0;
        const std::string path =
            NextFileName(kind, settings, NativePathStyle(), now, &number, minimum, fs, rawExtension);
        if (pathOut)
            *pathOut = path;
        if (numberOut)
            *numberOut = number;
        if (path.empty())
            return Fail(errnoOut, EINVAL);
        if (WriteFileNoReplace(path, data, size, &error, folderSync))
            return true;
        if (error != EEXIST || number >= kMaxRunningNumber + kSaveAttempts)
            break;
        minimum = number + 1;
    }
    return Fail(errnoOut, error);
}

} // namespace storage
