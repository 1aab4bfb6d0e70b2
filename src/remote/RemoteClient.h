// The client's side of the remote-control channel, as tethrocam-remote and the latency
// benchmark use it: write a request into the block, clear the status, wake the program
// and poll the status until a reply arrives or the time is up.
//
// Threads: one thread per RemoteClient. Ask and WaitForSaved block, polling the shared
// block every fraction of a millisecond, for at most the time given.
#pragma once

#include "remote/RemoteProtocol.h"
#include "remote/RemoteTransport.h"

#include <chrono>
#include <string>
#include <string_view>

namespace remote {

struct ClientReply {
    enum class Outcome {
        Answered,        // `status` and `text` hold the reply
        NoProgram,       // nothing is listening on the socket
        ChannelRefused,  // the folder, block or socket is unsafe or unusable; `error` says why
        TimedOut,        // no reply within the time given
    };
    Outcome outcome = Outcome::TimedOut;
    int32_t status = kReplyNone;
    std::string text;
    std::string error;
};

class RemoteClient {
public:
    // Opens (creating if needed) the block in the runtime folder; false with `error` set
    // when the channel is refused.
    bool Open(std::string& error);
    // Sends one request and waits for its reply. A reply 4 of an earlier release found in
    // the block is not taken for the answer: no request is answered with 4.
    ClientReply Ask(int32_t command, int32_t parameter, std::string_view text, std::chrono::milliseconds timeout);
    // After a release answered 3: waits for reply 4 (the saved picture's path).
    ClientReply WaitForSaved(std::chrono::milliseconds timeout);
    // The progress field as the program last wrote it.
    int32_t Progress() const;
    const std::string& Folder() const { return folder_; }

private:
    int32_t Status() const;
    ClientReply Poll(bool wantSaved, std::chrono::milliseconds timeout);

    std::string folder_;
    platform::SharedBlock block_;
};

}  // namespace remote
