// The remote-control protocol: the layout of the 1024-byte block another program shares
// with Tethrocam, the command and reply codes, and the handling of one request against
// whatever carries it out (a RemoteTarget: the main view in the program, a fake in tests).
//
// The block holds 32-bit little-endian signed integers and one 768-byte text field:
//   0 command (client), 4 parameter (client), 8 status = reply code (program),
//   12..779 text, zero-terminated (input of commands 6 and 8, output of replies),
//   780 the program's process id, written with every reply, 784 download progress 0..100.
// Every read and write stays inside the block; a text without a terminating zero inside
// the field ends at the field's end. Nothing outside the status, text, process-id and
// progress fields is ever written by the program.
//
// Threads: any, but one block must only be touched by one thread of a process at a time
// (the program uses it on the UI thread only). Nothing here blocks, except through the
// target's own calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace remote {

constexpr size_t kBlockSize = 1024;
constexpr size_t kCommandOffset = 0;
constexpr size_t kParameterOffset = 4;
constexpr size_t kStatusOffset = 8;
constexpr size_t kTextOffset = 12;
constexpr size_t kTextSize = 768;
constexpr size_t kHandleOffset = 780;
constexpr size_t kProgressOffset = 784;

// Names of the channel in the runtime folder.
constexpr const char* kBlockName = "EOSTethrocam";
constexpr const char* kSocketName = "EOSTethrocam.sock";

enum Command : int32_t {
    kCmdCamera = 1,
    kCmdRelease = 2,
    kCmdNone = 3,
    kCmdTv = 4,
    kCmdAv = 5,
    kCmdFolder = 6,
    kCmdToday = 7,
    kCmdComment = 8,
    kCmdExposureComp = 9,
    kCmdIso = 10,
};

enum Reply : int32_t {
    kReplyNone = 0,          // no reply yet (the client clears the status before asking)
    kReplyNotConnected = 1,
    kReplyIdle = 2,
    kReplyReleased = 3,
    kReplySaved = 4,
    kReplyBusy = 5,
    kReplyDone = 6,
    kReplyRefused = 7,
};

// The four camera settings lists a client may choose an entry of.
enum class SettingList { Tv, Av, ExposureComp, Iso };

// Longest comment, in the Comment box's characters (UTF-16 units), the channel accepts.
constexpr size_t kMaxCommentLength = 255;

// Field access, bounded to the block.
int32_t ReadInt(const uint8_t* block, size_t offset);
void WriteInt(uint8_t* block, size_t offset, int32_t value);
// The text field up to its first zero byte, or the whole field without one.
std::string ReadText(const uint8_t* block);
// Stores `text` with its terminating zero; false (and only the first byte zeroed) when it
// does not fit the field with its zero.
bool WriteText(uint8_t* block, std::string_view text);

// Writes a reply: status, process id, text (empty: first text byte zero). A text that
// does not fit is never cut short: the reply becomes "refused" with an empty text.
void WriteReply(uint8_t* block, int32_t status, int32_t handle, std::string_view text = {});

// What a request acts on. UI-thread calls in the program.
class RemoteTarget {
public:
    virtual ~RemoteTarget() = default;
    virtual bool Connected() = 0;   // a camera object exists
    virtual bool Busy() = 0;        // a picture is on its way
    virtual std::string ModelName() = 0;
    // Fires the shutter as the Release button does; true when a release started.
    virtual bool Release() = 0;
    // Why the last Release or SetSaveFolder was refused (empty when unknown), for the
    // reply's text.
    virtual std::string RefusalReason() { return {}; }
    virtual int ListCount(SettingList list) = 0;
    // Selects entry `index` (0 <= index < ListCount) and runs the list's change handler,
    // which sends the value to the camera and shows what the camera took; true when the
    // list's selection is then `index`.
    virtual bool SelectListEntry(SettingList list, int index) = 0;
    // Makes `folder` (absolute, normalised) the save folder, creating it and its missing
    // parents; false when it is not a folder and cannot be made one, or when the program
    // cannot write into it.
    virtual bool SetSaveFolder(const std::string& folder) = 0;
    // The folder the next picture would be saved in.
    virtual std::string TodayFolder() = 0;
    // Puts `comment` (valid UTF-8, at most kMaxCommentLength characters) into the Comment box.
    virtual void SetComment(const std::string& comment) = 0;
};

// The save folder a client's text names: trailing slashes removed except for the root
// "/"; none for an empty or relative path.
std::optional<std::string> NormaliseFolder(const std::string& text);

// Length of a UTF-8 text in UTF-16 units (what the Comment box counts); none when the
// text is not valid UTF-8.
std::optional<size_t> Utf16Length(std::string_view utf8);

// Handles the request in `block` (command, parameter and text as the client left them)
// and writes the reply with `handle` as the process id. Unknown commands (0, 11, ...)
// write nothing. A list index outside the list is refused (7) before the list is touched.
void HandleRequest(uint8_t* block, RemoteTarget& target, int32_t handle);

// The progress field: values 0 to 100 are stored, anything else is ignored.
void WriteProgress(uint8_t* block, int64_t progress);

// For clients: the request fields (command, parameter, text) and a cleared status. A
// request with any other status is taken as answered already and not handled again (a
// repeated wake-up never fires the shutter twice).
// False when the text does not fit the field (nothing is written then).
bool WriteRequest(uint8_t* block, int32_t command, int32_t parameter, std::string_view text);

// Whether the request in `now` is still the one in `handled`: the same command, parameter
// and text, and still unanswered (status 0). The program replies only then; a request
// written over it meanwhile has its own wake-up and its own reply.
bool SameRequest(const uint8_t* handled, const uint8_t* now);

// A short word for a reply code ("not connected", "busy", ...), for people reading replies.
const char* ReplyWord(int32_t status);

}  // namespace remote
