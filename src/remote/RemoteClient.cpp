#include "remote/RemoteClient.h"

#include <atomic>
#include <thread>

namespace remote {

bool RemoteClient::Open(std::string& error)
{
    folder_ = platform::RemoteRuntimeFolder(error);
    if (folder_.empty())
        return false;
    return block_.Open(folder_, error);
}

int32_t RemoteClient::Status() const
{
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const int32_t status = ReadInt(block_.Data(), kStatusOffset);
    BlockFence(std::memory_order_acquire);
    return status;
}

int32_t RemoteClient::Progress() const
{
    if (!block_.IsOpen() || !block_.Intact())
        return 0;
    return ReadInt(block_.Data(), kProgressOffset);
}

ClientReply RemoteClient::Ask(int32_t command, int32_t parameter, std::string_view text,
                              std::chrono::milliseconds timeout)
{
    ClientReply r;
    if (!block_.IsOpen() || !block_.Intact()) {
        r.outcome = ClientReply::Outcome::ChannelRefused;
        r.error = "the block is not open or was cut short";
        return r;
    }
    if (!WriteRequest(block_.Data(), command, parameter, text)) {
        r.outcome = ClientReply::Outcome::ChannelRefused;
        r.error = "the text is longer than the block's 767 bytes";
        return r;
    }
    BlockFence(std::memory_order_release);
    switch (platform::SendWakeUp(folder_, r.error)) {
    case platform::WakeUpResult::Sent:
        break;
    case platform::WakeUpResult::NoProgram:
        r.outcome = ClientReply::Outcome::NoProgram;
        return r;
    case platform::WakeUpResult::Refused:
        r.outcome = ClientReply::Outcome::ChannelRefused;
        return r;
    }
    return Poll(false, timeout);
}

ClientReply RemoteClient::WaitForSaved(std::chrono::milliseconds timeout)
{
    return Poll(true, timeout);
}

ClientReply RemoteClient::Poll(bool wantSaved, std::chrono::milliseconds timeout)
{
    ClientReply r;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + timeout;
    for (;;) {
        if (!block_.Intact()) {
            r.outcome = ClientReply::Outcome::ChannelRefused;
            r.error = "the block was cut short";
            return r;
        }
        const int32_t status = Status();
        const bool answered = wantSaved ? status == kReplySaved : status != kReplyNone && status != kReplySaved;
        if (answered) {
            r.outcome = ClientReply::Outcome::Answered;
            r.status = status;
            r.text = ReadText(block_.Data());
            return r;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return r;
        // Replies usually come within a millisecond: poll closely at first, then gently.
        std::this_thread::sleep_for(now - start < std::chrono::milliseconds(50) ? std::chrono::microseconds(50)
                                                                                : std::chrono::microseconds(1000));
    }
}

}  // namespace remote
