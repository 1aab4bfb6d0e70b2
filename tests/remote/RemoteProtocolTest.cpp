// The remote protocol on its own, against a scripted target: the byte layout a client
// sees, texts that do not fit, comments counted in the Comment box's characters, and
// folder texts.
#include "remote/RemoteProtocol.h"

#include <gtest/gtest.h>

#include <array>

using namespace remote;

namespace {

struct Scripted : RemoteTarget {
    bool connected = true, busy = false, releaseStarts = true;
    std::string today = "/srv/shots/2026-12-08/";
    std::vector<std::string> comments, folders;
    bool Connected() override { return connected; }
    bool Busy() override { return busy; }
    std::string ModelName() override { return "Canon EOS 300D"; }
    bool Release() override { return releaseStarts; }
    int ListCount(SettingList) override { return 3; }
    bool SelectListEntry(SettingList, int) override { return true; }
    bool SetSaveFolder(const std::string& f) override
    {
        folders.push_back(f);
        return true;
    }
    std::string TodayFolder() override { return today; }
    void SetComment(const std::string& c) override { comments.push_back(c); }
};

TEST(RemoteProtocol, RepliesAreLittleEndianAtTheirOffsets)
{
    std::array<uint8_t, kBlockSize> b {};
    Scripted t;
    b[0] = 1;  // command 1, little-endian
    HandleRequest(b.data(), t, 0x01020304);
    EXPECT_EQ(b[8], 2);  // status 2: idle
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[12])), "Canon EOS 300D");
    EXPECT_EQ(b[780], 0x04);
    EXPECT_EQ(b[783], 0x01);

    // A release that the view refuses (bulb, locked body) is not reported as started.
    b.fill(0);
    b[0] = 2;
    t.releaseStarts = false;
    HandleRequest(b.data(), t, 1);
    EXPECT_EQ(ReadInt(b.data(), kStatusOffset), kReplyRefused);
    t.releaseStarts = true;
    WriteInt(b.data(), kProgressOffset, 55);
    HandleRequest(b.data(), t, 1);
    EXPECT_EQ(ReadInt(b.data(), kStatusOffset), kReplyReleased);
    EXPECT_EQ(ReadInt(b.data(), kProgressOffset), 0);

    WriteProgress(b.data(), 101);
    WriteProgress(b.data(), -1);
    EXPECT_EQ(ReadInt(b.data(), kProgressOffset), 0);
}

TEST(RemoteProtocol, ATextThatDoesNotFitIsNeverCutShort)
{
    std::array<uint8_t, kBlockSize> b {};
    b.fill(0xEE);
    Scripted t;
    t.today = "/" + std::string(767, 'd');  // 768 bytes: no room for the zero
    WriteInt(b.data(), kCommandOffset, kCmdToday);
    HandleRequest(b.data(), t, 1);
    EXPECT_EQ(ReadInt(b.data(), kStatusOffset), kReplyRefused);
    EXPECT_EQ(ReadText(b.data()), "");
    EXPECT_EQ(b[kTextOffset + 1], 0xEE);  // nothing written past the emptied first byte
    t.today.pop_back();  // 767 bytes and the zero fill the field exactly
    HandleRequest(b.data(), t, 1);
    EXPECT_EQ(ReadInt(b.data(), kStatusOffset), kReplyDone);
    EXPECT_EQ(ReadText(b.data()), t.today);
    EXPECT_EQ(b[kHandleOffset], 1);

    EXPECT_FALSE(WriteRequest(b.data(), kCmdComment, 0, std::string(768, 'x')));
    EXPECT_EQ(ReadInt(b.data(), kCommandOffset), kCmdToday);  // the refused request wrote nothing
}

TEST(RemoteProtocol, CommentsCountTheCommentBoxsCharacters)
{
    std::array<uint8_t, kBlockSize> b {};
    Scripted t;
    t.connected = false;
    auto ask = [&](const std::string& text) {
        WriteRequest(b.data(), kCmdComment, 0, text);
        HandleRequest(b.data(), t, 1);
        return ReadInt(b.data(), kStatusOffset);
    };
    const std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E: two UTF-16 units
    std::string fits;
    for (int i = 0; i < 127; ++i)
        fits += clef;
    EXPECT_EQ(ask(fits + "a"), kReplyDone);  // 255 units
    EXPECT_EQ(ask(fits + clef), kReplyRefused);  // 256 units
    EXPECT_EQ(ask("\xC0\xAF"), kReplyRefused);  // overlong "/"
    EXPECT_EQ(ask("\xED\xA0\x80"), kReplyRefused);  // a lone surrogate
    EXPECT_EQ(ask("cut \xE2\x82"), kReplyRefused);
    EXPECT_EQ(ask(""), kReplyDone);  // clearing the comment is allowed
    EXPECT_EQ(t.comments, (std::vector<std::string>{fits + "a", ""}));
}

TEST(RemoteProtocol, FolderTexts)
{
    EXPECT_EQ(NormaliseFolder("/"), "/");
    EXPECT_EQ(NormaliseFolder("///"), "/");
    EXPECT_EQ(NormaliseFolder("/srv/shots/"), "/srv/shots");
    EXPECT_EQ(NormaliseFolder("/srv/shots"), "/srv/shots");
    EXPECT_EQ(NormaliseFolder("srv/shots"), std::nullopt);
    EXPECT_EQ(NormaliseFolder(""), std::nullopt);

    std::array<uint8_t, kBlockSize> b {};
    Scripted t;
    t.busy = true;
    WriteRequest(b.data(), kCmdFolder, 0, "/srv/x/");
    HandleRequest(b.data(), t, 1);
    EXPECT_EQ(ReadInt(b.data(), kStatusOffset), kReplyBusy);
    t.connected = false;  // busy counts only with a camera
    WriteRequest(b.data(), kCmdFolder, 0, "/srv/x/");  // the reply emptied the text
    HandleRequest(b.data(), t, 1);
    EXPECT_EQ(ReadInt(b.data(), kStatusOffset), kReplyDone);
    EXPECT_EQ(t.folders, std::vector<std::string>{"/srv/x"});
}

}  // namespace
