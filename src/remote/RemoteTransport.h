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
// never block: the socket is non-blocking and the files are local.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace platform {

// The folder of the channel (created when it is the fallback under the temporary folder
// and missing); empty with `error` set when it is missing or not private to the user.
std::string RemoteRuntimeFolder(std::string& error);

// The mapped block. Opening creates the file when it is missing (sized and moved into
// place in one step, so that the other side never sees a short file).
class SharedBlock {
public:
    SharedBlock() = default;
    ~SharedBlock();
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    bool Open(const std::string& folder, std::string& error);
    void Close();
    bool IsOpen() const { return data_ != nullptr; }
    // The 1024 mapped bytes, or null when not open.
    uint8_t* Data() const { return data_; }
    // The file still has its full size. Touching a mapping whose file another process
    // cut short would fault, so callers check this before every use.
    bool Intact() const;

private:
    int fd_ = -1;
    uint8_t* data_ = nullptr;
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

    // Binds the socket in `folder`; a stale socket left by a crashed run is replaced.
    BindResult Bind(const std::string& folder, std::string& error);
    int Fd() const { return fd_; }
    // Reads and discards every waiting datagram (their content means nothing); returns
    // how many there were.
    int Drain();

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
