#include "remote/RemoteTransport.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr size_t kBlockBytes = 1024;

std::string Errno() { return std::strerror(errno); }

bool PrivateFolder(const std::string& folder, bool followLink, std::string& error)
{
    struct stat st {};
    if ((followLink ? stat(folder.c_str(), &st) : lstat(folder.c_str(), &st)) != 0) {
        error = folder + ": " + Errno();
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = folder + " is not a folder";
        return false;
    }
    if (st.st_uid != geteuid()) {
        error = folder + " belongs to another user";
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        error = folder + " is open to other users (its mode must be 0700)";
        return false;
    }
    return true;
}

bool SocketAddress(const std::string& path, sockaddr_un& addr, std::string& error)
{
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() + 1 > sizeof addr.sun_path) {
        error = path + ": the path is too long for a socket";
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Whether `path` is a socket of this user; `error` says what it is otherwise.
bool OwnSocket(const std::string& path, const struct stat& st, std::string& error)
{
    if (S_ISLNK(st.st_mode)) {
        error = path + " is a symbolic link, not the program's socket";
        return false;
    }
    if (!S_ISSOCK(st.st_mode)) {
        error = path + " is not a socket";
        return false;
    }
    if (st.st_uid != geteuid()) {
        error = path + " belongs to another user";
        return false;
    }
    return true;
}

}  // namespace

std::string RemoteRuntimeFolder(std::string& error)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        const std::string folder = runtime;
        return PrivateFolder(folder, true, error) ? folder : std::string();
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string folder = base + "/tethrocam-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = folder + ": " + Errno();
        return {};
    }
    return PrivateFolder(folder, false, error) ? folder : std::string();
}

// ---------------------------------------------------------------- the block

namespace {

// Makes the missing block: an unnamed, private, full-sized file given its one name in one
// step. Where the file system cannot make unnamed files, a temporary name is linked and
// dropped again (the other side then tolerates the moment with two names). Returns the
// open descriptor, -1 when the other side won the race (EEXIST: open theirs), or -2 with
// `error` set.
int CreateBlock(const std::string& folder, const std::string& path, std::string& error)
{
    int t = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (t >= 0) {
        if (ftruncate(t, kBlockBytes) != 0) {
            error = path + ": cannot create the block: " + Errno();
            close(t);
            return -2;
        }
        const std::string self = "/proc/self/fd/" + std::to_string(t);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return t;
        const int linkErrno = errno;
        close(t);
        if (linkErrno == EEXIST)
            return -1;
        if (linkErrno != ENOENT && linkErrno != EPERM && linkErrno != EOPNOTSUPP) {
            error = path + ": cannot create the block: " + std::strerror(linkErrno);
            return -2;
        }
        // No /proc or no linking of unnamed files here: the named way below.
    }
    std::string temp = folder + "/.EOSTethrocam.XXXXXX";
    t = mkostemp(temp.data(), O_CLOEXEC);
    if (t < 0) {
        error = folder + ": cannot create the block: " + Errno();
        return -2;
    }
    const bool sized = fchmod(t, 0600) == 0 && ftruncate(t, kBlockBytes) == 0;
    const bool linked = sized && link(temp.c_str(), path.c_str()) == 0;
    const int linkErrno = errno;
    unlink(temp.c_str());
    if (linked)
        return t;
    close(t);
    if (sized && linkErrno == EEXIST)
        return -1;
    error = path + ": cannot create the block: " + std::strerror(linkErrno);
    return -2;
}

double ChangedSecondsAgo(const struct stat& st)
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec - st.st_ctim.tv_sec) +
           static_cast<double>(now.tv_nsec - st.st_ctim.tv_nsec) / 1e9;
}

// Puts a fresh block in place of the cut-short file `seen` (only if the path still names
// that file); true when the path now names a full-sized block.
bool ReplaceBlock(const std::string& folder, const std::string& path, const struct stat& seen, std::string& error)
{
    std::string temp = folder + "/.EOSTethrocam.XXXXXX";
    const int t = mkostemp(temp.data(), O_CLOEXEC);
    if (t < 0) {
        error = path + ": cannot replace the cut-short block: " + Errno();
        return false;
    }
    const bool sized = fchmod(t, 0600) == 0 && ftruncate(t, kBlockBytes) == 0;
    close(t);
    struct stat now {};
    const bool same = lstat(path.c_str(), &now) == 0 && now.st_dev == seen.st_dev && now.st_ino == seen.st_ino;
    if (!sized || (same && rename(temp.c_str(), path.c_str()) != 0)) {
        error = path + ": cannot replace the cut-short block: " + Errno();
        unlink(temp.c_str());
        return false;
    }
    if (!same)
        unlink(temp.c_str());  // someone else mended it meanwhile
    return true;
}

}  // namespace

SharedBlock::~SharedBlock() { Close(); }

void SharedBlock::Close()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool SharedBlock::Intact() const
{
    struct stat st {};
    return fd_ >= 0 && fstat(fd_, &st) == 0 && st.st_size == static_cast<off_t>(kBlockBytes);
}

bool SharedBlock::StillAtPath() const
{
    struct stat st {};
    return fd_ >= 0 && lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_;
}

bool SharedBlock::Read(uint8_t* out) const
{
    if (fd_ < 0)
        return false;
    size_t done = 0;
    while (done < kBlockBytes) {
        const ssize_t n = pread(fd_, out + done, kBlockBytes - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;  // cut short, or unreadable
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SharedBlock::Write(size_t offset, const uint8_t* data, size_t size)
{
    // Never past the block, and never into a file someone cut short (a write would give
    // it a hole and a size that is neither theirs nor ours).
    if (fd_ < 0 || offset > kBlockBytes || size > kBlockBytes - offset || !Intact())
        return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SharedBlock::TryLock()
{
    return fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

bool SharedBlock::Lock(int timeoutMs)
{
    if (fd_ < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (flock(fd_, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void SharedBlock::Unlock()
{
    if (fd_ >= 0)
        flock(fd_, LOCK_UN);
}

bool SharedBlock::Open(const std::string& folder, std::string& error)
{
    Close();
    const std::string path = folder + "/EOSTethrocam";
    int fd = -1;
    std::string why;
    struct stat st {};
    for (int attempt = 0; attempt < 50; ++attempt) {
        fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) {
            if (errno == ELOOP) {
                error = path + " is a symbolic link; refused";
                return false;
            }
            if (errno != ENOENT) {
                error = path + ": " + Errno();
                return false;
            }
            fd = CreateBlock(folder, path, error);
            if (fd == -2)
                return false;
            if (fd == -1)
                continue;  // the other side made it first: open theirs
        }
        why.clear();
        if (fstat(fd, &st) != 0)
            why = Errno();
        else if (!S_ISREG(st.st_mode))
            why = "not a regular file";
        else if (st.st_uid != geteuid())
            why = "it belongs to another user";
        else if ((st.st_mode & 077) != 0)
            why = "it is open to other users (its mode must be 0600)";
        else if (st.st_nlink != 1)
            why = "it has more than one name";
        else if (st.st_size != static_cast<off_t>(kBlockBytes))
            why = "its size is " + std::to_string(st.st_size) + " bytes, not 1024";
        if (why.empty())
            break;
        close(fd);
        fd = -1;
        // A block of ours that someone cut short (or left unsized) is worth nothing as it
        // is: a fresh one takes its place, so that both sides can talk again. Anything else
        // is refused and left alone.
        // (A file changed in the last second may be one the other side is still sizing.)
        if (st.st_size != static_cast<off_t>(kBlockBytes) && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            (st.st_mode & 077) == 0 && st.st_nlink == 1 && attempt >= 3 && ChangedSecondsAgo(st) >= 1) {
            if (ReplaceBlock(folder, path, st, error))
                continue;
            return false;
        }
        // A block being made the named way has two names for a moment, and a new one may
        // not have its size yet: look again shortly before refusing.
        if (why != "it has more than one name" && st.st_size == static_cast<off_t>(kBlockBytes))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (fd < 0) {
        error = path + ": " + (why.empty() ? std::string("cannot open the block") : why + "; refused");
        return false;
    }
    fd_ = fd;
    path_ = path;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    return true;
}

// ---------------------------------------------------------------- the program's socket

WakeUpSocket::~WakeUpSocket()
{
    if (fd_ < 0)
        return;
    close(fd_);
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
        unlink(path_.c_str());
}

WakeUpSocket::BindResult WakeUpSocket::Bind(const std::string& folder, std::string& error)
{
    const std::string path = folder + "/EOSTethrocam.sock";
    sockaddr_un addr {};
    if (!SocketAddress(path, addr, error))
        return BindResult::Refused;

    // Two programs starting together must not both find the socket stale and each replace
    // the other's: looking, removing and binding happen under a lock on the folder.
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        error = folder + ": " + Errno();
        return BindResult::Refused;
    }
    while (flock(folderFd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct FolderLock {
        int fd;
        ~FolderLock() { close(fd); }  // closing lets go of the lock
    } folderLock{folderFd};

    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!OwnSocket(path, st, error))
            return BindResult::Refused;
        // Ours: a running program answers on it, or a crashed run left it behind.
        const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (probe < 0) {
            error = Errno();
            return BindResult::Refused;
        }
        const bool alive = connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
        close(probe);
        if (alive) {
            error = path + " is in use by another running Tethrocam";
            return BindResult::InUse;
        }
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            error = path + ": cannot remove the stale socket: " + Errno();
            return BindResult::Refused;
        }
    }

    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = Errno();
        return BindResult::Refused;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const bool inUse = errno == EADDRINUSE;
        error = path + ": " + Errno();
        close(fd);
        return inUse ? BindResult::InUse : BindResult::Refused;
    }
    // The folder is private, so the moment before the mode is narrowed exposes nothing.
    if (chmod(path.c_str(), 0600) != 0 || lstat(path.c_str(), &st) != 0) {
        error = path + ": " + Errno();
        close(fd);
        unlink(path.c_str());
        return BindResult::Refused;
    }
    fd_ = fd;
    path_ = path;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    return BindResult::Bound;
}

int WakeUpSocket::Drain(int limit)
{
    int count = 0;
    char buffer[64];
    while (fd_ >= 0 && count < limit && recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) >= 0)
        ++count;
    return count;
}

// ---------------------------------------------------------------- the client's end

WakeUpResult SendWakeUp(const std::string& folder, std::string& error)
{
    const std::string path = folder + "/EOSTethrocam.sock";
    sockaddr_un addr {};
    if (!SocketAddress(path, addr, error))
        return WakeUpResult::Refused;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        error = path + ": " + Errno();
        return WakeUpResult::NoProgram;
    }
    if (!OwnSocket(path, st, error))
        return WakeUpResult::Refused;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = Errno();
        return WakeUpResult::Refused;
    }
    const char message = 0;
    const ssize_t sent = sendto(fd, &message, 1, MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    const int sendErrno = errno;
    close(fd);
    if (sent == 1)
        return WakeUpResult::Sent;
    error = path + ": " + std::strerror(sendErrno);
    // A full queue means the program is alive but behind; the request is in the block,
    // and the datagrams already waiting will wake it.
    if (sendErrno == EAGAIN || sendErrno == EWOULDBLOCK)
        return WakeUpResult::Sent;
    return WakeUpResult::NoProgram;
}

}  // namespace platform
