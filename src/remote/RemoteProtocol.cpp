#include "remote/RemoteProtocol.h"

#include <cstring>

namespace remote {

int32_t ReadInt(const uint8_t* block, size_t offset)
{
    if (offset + 4 > kBlockSize)
        return 0;
    const uint32_t v = static_cast<uint32_t>(block[offset]) | static_cast<uint32_t>(block[offset + 1]) << 8 |
                       static_cast<uint32_t>(block[offset + 2]) << 16 |
                       static_cast<uint32_t>(block[offset + 3]) << 24;
    return static_cast<int32_t>(v);
}

void WriteInt(uint8_t* block, size_t offset, int32_t value)
{
    if (offset + 4 > kBlockSize)
        return;
    const uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        block[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string ReadText(const uint8_t* block)
{
    const uint8_t* text = block + kTextOffset;
    const void* zero = std::memchr(text, 0, kTextSize);
    const size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - text) : kTextSize;
    return std::string(reinterpret_cast<const char*>(text), length);
}

bool WriteText(uint8_t* block, std::string_view text)
{
    uint8_t* field = block + kTextOffset;
    field[0] = 0;
    if (text.size() + 1 > kTextSize)
        return false;
    if (!text.empty())
        std::memcpy(field, text.data(), text.size());
    field[text.size()] = 0;
    return true;
}

void WriteReply(uint8_t* block, int32_t status, int32_t handle, std::string_view text)
{
    if (!WriteText(block, text))
        status = kReplyRefused;
    WriteInt(block, kHandleOffset, handle);
    WriteInt(block, kStatusOffset, status);
}

void WriteProgress(uint8_t* block, int64_t progress)
{
    if (progress >= 0 && progress <= 100)
        WriteInt(block, kProgressOffset, static_cast<int32_t>(progress));
}

bool WriteRequest(uint8_t* block, int32_t command, int32_t parameter, std::string_view text)
{
    if (text.size() + 1 > kTextSize)
        return false;
    WriteText(block, text);
    WriteInt(block, kCommandOffset, command);
    WriteInt(block, kParameterOffset, parameter);
    WriteInt(block, kStatusOffset, kReplyNone);
    return true;
}

std::optional<std::string> NormaliseFolder(const std::string& text)
{
    if (text.empty() || text[0] != '/')
        return std::nullopt;
    std::string folder = text;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::optional<size_t> Utf16Length(std::string_view s)
{
    size_t units = 0;
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            extra = 0;
            cp = c;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return std::nullopt;
        }
        if (extra > s.size() - i - 1)
            return std::nullopt;  // cut short
        for (size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return std::nullopt;
            cp = cp << 6 | (d & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        units += cp >= 0x10000 ? 2 : 1;
        i += extra + 1;
    }
    return units;
}

namespace {

std::optional<SettingList> ListOf(int32_t command)
{
    switch (command) {
    case kCmdTv: return SettingList::Tv;
    case kCmdAv: return SettingList::Av;
    case kCmdExposureComp: return SettingList::ExposureComp;
    case kCmdIso: return SettingList::Iso;
    default: return std::nullopt;
    }
}

}  // namespace

void HandleRequest(uint8_t* block, RemoteTarget& target, int32_t handle)
{
    const int32_t command = ReadInt(block, kCommandOffset);
    const int32_t parameter = ReadInt(block, kParameterOffset);
    auto reply = [&](int32_t status, std::string_view text = {}) { WriteReply(block, status, handle, text); };

    switch (command) {
    case kCmdCamera:
        if (!target.Connected())
            reply(kReplyNotConnected);
        else
            reply(target.Busy() ? kReplyBusy : kReplyIdle, target.ModelName());
        return;
    case kCmdRelease:
        if (!target.Connected()) {
            reply(kReplyNotConnected);
        } else if (target.Busy()) {
            reply(kReplyBusy);
        } else if (target.Release()) {
            WriteProgress(block, 0);
            reply(kReplyReleased);
        } else {
            // Refused (bulb, locked body, no room): no picture and no reply 4 will follow.
            reply(kReplyRefused, target.RefusalReason());
        }
        return;
    case kCmdNone:
        reply(target.Connected() ? kReplyRefused : kReplyNotConnected);
        return;
    case kCmdTv:
    case kCmdAv:
    case kCmdExposureComp:
    case kCmdIso: {
        const SettingList list = *ListOf(command);
        if (!target.Connected())
            reply(kReplyNotConnected);
        else if (target.Busy())
            reply(kReplyBusy);
        else if (parameter < 0 || parameter >= target.ListCount(list))
            reply(kReplyRefused);
        else
            reply(target.SelectListEntry(list, parameter) ? kReplyDone : kReplyRefused);
        return;
    }
    case kCmdFolder: {
        if (target.Connected() && target.Busy()) {
            reply(kReplyBusy);
            return;
        }
        const std::optional<std::string> folder = NormaliseFolder(ReadText(block));
        if (!folder)
            reply(kReplyRefused);
        else if (target.SetSaveFolder(*folder))
            reply(kReplyDone);
        else
            reply(kReplyRefused, target.RefusalReason());
        return;
    }
    case kCmdToday:
        reply(kReplyDone, target.TodayFolder());
        return;
    case kCmdComment: {
        const std::string comment = ReadText(block);
        const std::optional<size_t> length = Utf16Length(comment);
        if (!length || *length > kMaxCommentLength) {
            reply(kReplyRefused);
            return;
        }
        target.SetComment(comment);
        reply(kReplyDone);
        return;
    }
    default:
        return;  // not a command: nothing is written
    }
}

bool SameRequest(const uint8_t* handled, const uint8_t* now)
{
    return ReadInt(now, kStatusOffset) == kReplyNone &&
           ReadInt(now, kCommandOffset) == ReadInt(handled, kCommandOffset) &&
           ReadInt(now, kParameterOffset) == ReadInt(handled, kParameterOffset) && ReadText(now) == ReadText(handled);
}

const char* ReplyWord(int32_t status)
{
    switch (status) {
    case kReplyNone: return "no reply";
    case kReplyNotConnected: return "not connected";
    case kReplyIdle: return "idle";
    case kReplyReleased: return "released";
    case kReplySaved: return "saved";
    case kReplyBusy: return "busy";
    case kReplyDone: return "done";
    case kReplyRefused: return "refused";
    default: return "unknown reply";
    }
}

}  // namespace remote
