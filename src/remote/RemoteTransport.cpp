#include "remote/RemoteTransport.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

SharedBlock::~SharedBlock() { Close(); }

void SharedBlock::Close()
{
    if (data_)
        munmap(data_, kBlockBytes);
    data_ = nullptr;
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool SharedBlock::Intact() const
{
    struct stat st {};
    return fd_ >= 0 && fstat(fd_, &st) == 0 && st.st_size == static_cast<off_t>(kBlockBytes);
}

bool SharedBlock::Open(const std::string& folder, std::string& error)
{
    Close();
    const std::string path = folder + "/EOSTethrocam";
    int fd = -1;
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd >= 0)
            break;
        if (errno == ELOOP) {
            error = path + " is a symbolic link; refused";
            return false;
        }
        if (errno != ENOENT) {
            error = path + ": " + Errno();
            return false;
        }
        // Missing: made full-sized under a temporary name, then linked into place, so
        // that whoever opens it next finds 1024 bytes. Losing the race to the other side
        // just means opening theirs.
        std::string temp = folder + "/.EOSTethrocam.XXXXXX";
        const int t = mkostemp(temp.data(), O_CLOEXEC);
        if (t < 0) {
            error = folder + ": cannot create the block: " + Errno();
            return false;
        }
        const bool sized = fchmod(t, 0600) == 0 && ftruncate(t, kBlockBytes) == 0;
        const bool linked = sized && link(temp.c_str(), path.c_str()) == 0;
        const int linkErrno = errno;
        unlink(temp.c_str());
        if (linked) {
            fd = t;
        } else {
            close(t);
            if (!sized || linkErrno != EEXIST) {
                error = path + ": cannot create the block: " + std::strerror(linkErrno);
                return false;
            }
        }
    }
    if (fd < 0) {
        error = path + ": cannot open the block";
        return false;
    }
    struct stat st {};
    std::string why;
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
    if (!why.empty()) {
        close(fd);
        error = path + ": " + why + "; refused";
        return false;
    }
    void* map = mmap(nullptr, kBlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        error = path + ": " + Errno();
        close(fd);
        return false;
    }
    fd_ = fd;
    data_ = static_cast<uint8_t*>(map);
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

int WakeUpSocket::Drain()
{
    int count = 0;
    char buffer[64];
    while (fd_ >= 0 && recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) >= 0)
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
