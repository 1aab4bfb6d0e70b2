// The remote-control handler on arbitrary blocks: the first 1024 bytes of the input are
// the block as a client (or anyone) left it, the bytes after it script the program's
// side (camera connected, busy, list lengths, what the camera takes). The block lives
// in a heap buffer of exactly 1024 bytes, so a sanitizer build catches any access past
// it. Whatever the input, the handler writes nothing outside the status, text, process-id
// and progress fields, writes nothing at all for unknown commands, and hands the target
// only comments the Comment box can hold and absolute folder paths.
#include "remote/RemoteProtocol.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace remote;

namespace {

struct ScriptedTarget : RemoteTarget {
    const uint8_t* script = nullptr;
    size_t size = 0;
    size_t next = 0;
    uint8_t Byte() { return next < size ? script[next++] : 0; }

    bool Connected() override { return Byte() & 1; }
    bool Busy() override { return Byte() & 1; }
    std::string ModelName() override { return std::string(Byte() * 4u, 'M'); }
    bool Release() override { return Byte() & 1; }
    int ListCount(SettingList) override { return Byte() % 64; }
    bool SelectListEntry(SettingList, int index) override
    {
        if (index < 0)
            std::abort();  // an index outside the list must never reach the list
        return Byte() & 1;
    }
    bool SetSaveFolder(const std::string& folder) override
    {
        if (folder.empty() || folder[0] != '/' || (folder.size() > 1 && folder.back() == '/') ||
            folder.size() > kTextSize)
            std::abort();
        return Byte() & 1;
    }
    std::string TodayFolder() override { return std::string(Byte() * 4u, 'T'); }
    void SetComment(const std::string& comment) override
    {
        const auto units = Utf16Length(comment);
        if (!units || *units > kMaxCommentLength || comment.size() > kTextSize)
            std::abort();
    }
};

bool Writable(size_t offset)
{
    return (offset >= kStatusOffset && offset < kStatusOffset + 4) ||
           (offset >= kTextOffset && offset < kTextOffset + kTextSize) ||
           (offset >= kHandleOffset && offset < kHandleOffset + 4) ||
           (offset >= kProgressOffset && offset < kProgressOffset + 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto block = std::make_unique<uint8_t[]>(kBlockSize);
    std::memset(block.get(), 0, kBlockSize);
    std::memcpy(block.get(), data, size < kBlockSize ? size : kBlockSize);
    const auto before = std::make_unique<uint8_t[]>(kBlockSize);
    std::memcpy(before.get(), block.get(), kBlockSize);

    ScriptedTarget target;
    if (size > kBlockSize) {
        target.script = data + kBlockSize;
        target.size = size - kBlockSize;
    }
    HandleRequest(block.get(), target, 0x7E57);

    const int32_t command = ReadInt(before.get(), kCommandOffset);
    const bool known = command >= kCmdCamera && command <= kCmdIso;
    for (size_t i = 0; i < kBlockSize; ++i) {
        if (block[i] != before[i] && (!known || !Writable(i)))
            std::abort();
    }
    if (known) {
        const int32_t status = ReadInt(block.get(), kStatusOffset);
        if (status < kReplyNotConnected || status > kReplyRefused || status == kReplySaved)
            std::abort();
        if (ReadInt(block.get(), kHandleOffset) != 0x7E57)
            std::abort();
        if (!std::memchr(block.get() + kTextOffset, 0, kTextSize))
            std::abort();  // every reply's text ends inside the field
    }
    return 0;
}
