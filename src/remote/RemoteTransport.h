// The remote-control channel's transport on a POSIX system: the 1024-byte block is a
// regular file "EOSTethrocam" mapped shared, and the wake-up message is a datagram on
// the Unix socket "EOSTethrocam.sock", both in the user's runtime folder
// ($XDG_RUNTIME_DIR, else <tmp>/tethrocam-<uid>, created mode 0700).
//
// Safety: the folder must be a folder owned by the user with no access for anyone else;
// the block must be a regular file (never followed through a symbolic link) of exactly
// 1024 bytes, owned by the user, mode 0600 or stricter, with one name; the socket must be
// a socket owned by the user. Anything else is refused with a message saying why, and
// nothing in the folder is changed.
//
// Threads: an object is used by one thread at a time (the program's UI thread). Calls
// never block (the socket is non-blocking and the files are local), except
// SharedBlock::Lock, which waits for another client's turn for the time given.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace platform {

// The folder of the channel (created when it is the fallback under the temporary folder
// and missing); empty with `error` set when it is missing or not private to the user.
std::string RemoteRuntimeFolder(std::string& error);

// The block. Opening creates the file when it is missing, full-sized and with its one
// name from the start (an unnamed file linked into place), so that the other side never
// sees a short file or a file with two names. The file is never mapped: every access is a
// pread or pwrite of the 1024 bytes or of one field, so a file that another process cuts
// short is noticed (Intact) and can never fault this one.
class SharedBlock {
public:
    SharedBlock() = default;
    ~SharedBlock();
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    bool Open(const std::string& folder, std::string& error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    // The whole block (1024 bytes into `out`); false when the file is shorter than that
    // or cannot be read.
    bool Read(uint8_t* out) const;
    // Writes `size` bytes at `offset` (inside the block), only while the file has its full
    // size; false otherwise.
    bool Write(size_t offset, const uint8_t* data, size_t size);
    // The file still has its full size.
    bool Intact() const;
    // The block's path still names the file held open (same device and inode): false when
    // the file was deleted or replaced by another one.
    bool StillAtPath() const;

    // Clients take turns: an exclusive lock on the block file (flock) from writing a
    // request to reading its reply. Lock waits at most `timeoutMs`; TryLock never waits.
    // The lock goes with Unlock or Close.
    bool Lock(int timeoutMs);
    bool TryLock();
    void Unlock();

private:
    int fd_ = -1;
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

// The program's end of the wake-up socket.
class WakeUpSocket {
public:
    enum class BindResult {
        Bound,
        InUse,    // another running program answers on the socket
        Refused,  // not safe or not possible; `error` says why
    };

    WakeUpSocket() = default;
    ~WakeUpSocket();  // closes and removes the socket file if it is still ours
    WakeUpSocket(const WakeUpSocket&) = delete;
    WakeUpSocket& operator=(const WakeUpSocket&) = delete;

    // Binds the socket in `folder`; a stale socket left by a crashed run is replaced. Two
    // programs starting together take turns (a lock on the folder), so only one binds.
    BindResult Bind(const std::string& folder, std::string& error);
    int Fd() const { return fd_; }
    // Reads and discards the waiting datagrams (their content means nothing), at most
    // `limit` of them, so that a flood cannot hold the program; returns how many.
    int Drain(int limit = 64);

private:
    int fd_ = -1;
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

// The client's end: sends one wake-up datagram to the program's socket in `folder`.
enum class WakeUpResult {
    Sent,
    NoProgram,  // no socket, or nobody bound to it
    Refused,    // the socket path is not a socket of this user; `error` says why
};
WakeUpResult SendWakeUp(const std::string& folder, std::string& error);

}  // namespace platform
