#include "remote/RemoteClient.h"

#include <thread>

namespace remote {

namespace {

int Millis(std::chrono::milliseconds ms)
{
    return static_cast<int>(std::min<long long>(ms.count(), 1000LL * 86400 * 7));
}

}  // namespace

bool RemoteClient::Open(std::string& error)
{
    folder_ = platform::RemoteRuntimeFolder(error);
    if (folder_.empty())
        return false;
    return block_.Open(folder_, error);
}

std::optional<int32_t> RemoteClient::Status() const
{
    uint8_t block[kBlockSize];
    if (!block_.Read(block))
        return std::nullopt;
    return ReadInt(block, kStatusOffset);
}

int32_t RemoteClient::Progress() const
{
    uint8_t block[kBlockSize];
    return block_.Read(block) ? ReadInt(block, kProgressOffset) : 0;
}

ClientReply RemoteClient::Ask(int32_t command, int32_t parameter, std::string_view text,
                              std::chrono::milliseconds timeout, std::optional<std::chrono::milliseconds> pictureTimeout)
{
    ClientReply r;
    if (!block_.IsOpen() || !block_.Intact()) {
        r.outcome = ClientReply::Outcome::ChannelRefused;
        r.error = "the block is not open or was cut short";
        return r;
    }
    uint8_t block[kBlockSize] = {};
    if (!WriteRequest(block, command, parameter, text)) {
        r.outcome = ClientReply::Outcome::ChannelRefused;
        r.error = "the text is longer than the block's 767 bytes";
        return r;
    }
    const auto start = std::chrono::steady_clock::now();
    // Courtesy: a client asking again right after its own turn lets a waiting one (which
    // looks every 200 microseconds) go first; the lock is not handed over in order by itself.
    if (lastTurnEnded_ && start - *lastTurnEnded_ < std::chrono::milliseconds(1))
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    if (!block_.Lock(Millis(timeout))) {
        r.outcome = ClientReply::Outcome::OtherClient;
        r.error = "another client's request held the channel";
        return r;
    }
    struct Unlock {
        platform::SharedBlock& block;
        std::optional<std::chrono::steady_clock::time_point>& ended;
        ~Unlock()
        {
            block.Unlock();
            ended = std::chrono::steady_clock::now();
        }
    } unlock{block_, lastTurnEnded_};
    // Text first, then parameter and command, the cleared status last: the program only
    // takes a request whose status is 0.
    const size_t textBytes = text.size() + 1;
    if (!block_.Write(kTextOffset, block + kTextOffset, textBytes) ||
        !block_.Write(kCommandOffset, block + kCommandOffset, 8) ||
        !block_.Write(kStatusOffset, block + kStatusOffset, 4)) {
        r.outcome = ClientReply::Outcome::ChannelRefused;
        r.error = "the block was cut short";
        return r;
    }
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
    const auto left = timeout - std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    r = Poll(false, std::max(left, std::chrono::milliseconds(0)));
    if (!pictureTimeout || r.outcome != ClientReply::Outcome::Answered || r.status != kReplyReleased)
        return r;
    ClientReply picture = Poll(true, *pictureTimeout);
    picture.released = true;
    return picture;
}

ClientReply RemoteClient::Poll(bool wantPicture, std::chrono::milliseconds timeout)
{
    ClientReply r;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + timeout;
    for (;;) {
        uint8_t block[kBlockSize];
        if (!block_.Read(block)) {
            r.outcome = ClientReply::Outcome::ChannelRefused;
            r.error = "the block was cut short";
            return r;
        }
        const int32_t status = ReadInt(block, kStatusOffset);
        // A picture's reply is 4 or 7 (or 1 when the camera went); any other request is
        // never answered 4, so a late 4 of an earlier release is not taken for its answer.
        const bool answered = wantPicture ? status == kReplySaved || status == kReplyRefused || status == kReplyNotConnected
                                          : status != kReplyNone && status != kReplySaved;
        if (answered) {
            r.outcome = ClientReply::Outcome::Answered;
            r.status = status;
            r.text = ReadText(block);
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
