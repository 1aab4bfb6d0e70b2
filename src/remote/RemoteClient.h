// The client's side of the remote-control channel, as tethrocam-remote and the latency
// benchmark use it. Clients take turns: each request takes an exclusive lock on the block
// file (waiting for another client's turn within the time given), writes the request,
// clears the status, wakes the program, polls the status until the reply arrives, and
// lets go of the lock. A release that waits for its picture keeps the lock until the
// picture's reply (4 or 7) has come, so no other client's request can take its place.
// The block is read and written with pread/pwrite.
//
// Threads: one thread per RemoteClient. Ask blocks, polling the block every fraction of a
// millisecond, for at most the time given.
#pragma once

#include "remote/RemoteProtocol.h"
#include "remote/RemoteTransport.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace remote {

struct ClientReply {
    enum class Outcome {
        Answered,        // `status` and `text` hold the reply
        NoProgram,       // nothing is listening on the socket
        ChannelRefused,  // the folder, block or socket is unsafe or unusable; `error` says why
        TimedOut,        // no reply within the time given
        OtherClient,     // another client's request held the block for the whole time
    };
    Outcome outcome = Outcome::TimedOut;
    int32_t status = kReplyNone;
    std::string text;
    std::string error;
    bool released = false;  // a release was answered 3 (the shutter fired) before this reply
};

class RemoteClient {
public:
    // Opens (creating if needed) the block in the runtime folder; false with `error` set
    // when the channel is refused.
    bool Open(std::string& error);
    // Sends one request and waits for its reply (neither 0 nor 4). With `pictureTimeout`,
    // a release answered 3 waits on, for at most that long, for the picture's reply: 4
    // with the saved path (empty: saved on the card only) or 7 with the reason it was not
    // saved; `released` then tells that the shutter fired.
    ClientReply Ask(int32_t command, int32_t parameter, std::string_view text, std::chrono::milliseconds timeout,
                    std::optional<std::chrono::milliseconds> pictureTimeout = std::nullopt);
    // The progress field as the program last wrote it.
    int32_t Progress() const;
    const std::string& Folder() const { return folder_; }

private:
    std::optional<int32_t> Status() const;
    ClientReply Poll(bool wantPicture, std::chrono::milliseconds timeout);

    std::string folder_;
    platform::SharedBlock block_;
    std::optional<std::chrono::steady_clock::time_point> lastTurnEnded_;
};

}  // namespace remote
