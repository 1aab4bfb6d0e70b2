// The remote channel's block file and wake-up socket on a multi-user machine: what is
// created is private, anything planted in the channel's place (a symbolic link, a file of
// the wrong size or mode, another user's file) is refused and left as it was, a stale
// socket is replaced, and a second program cannot take a live one.
#include "remote/RemoteProtocol.h"
#include "remote/RemoteTransport.h"
#include "support/TestSupport.h"

#include "support/MappedBlock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::SharedBlock;
using platform::WakeUpSocket;

namespace {

struct Folder {
    Folder()
    {
        path = dir.Path() / "run";
        fs::create_directory(path);
        chmod(path.c_str(), 0700);
    }
    std::string Str() const { return path.string(); }
    fs::path Block() const { return path / "EOSTethrocam"; }
    fs::path Socket() const { return path / "EOSTethrocam.sock"; }
    testsupport::TempDir dir;
    fs::path path;
};

mode_t ModeOf(const fs::path& p)
{
    struct stat st {};
    lstat(p.c_str(), &st);
    return st.st_mode;
}

using Env = testsupport::ScopedEnv;

bool WaitForDatagram(WakeUpSocket& socket)
{
    for (int i = 0; i < 500; ++i) {
        if (socket.Drain() > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

TEST(RemoteBlock, IsCreatedPrivateAndFullSizedAndSharedBetweenBothSides)
{
    Folder f;
    SharedBlock program, client;
    std::string error;
    ASSERT_TRUE(client.Open(f.Str(), error)) << error;
    EXPECT_EQ(fs::file_size(f.Block()), 1024u);
    EXPECT_EQ(ModeOf(f.Block()) & 0777, 0600u);
    ASSERT_TRUE(program.Open(f.Str(), error)) << error;
    uint8_t b[remote::kBlockSize] = {};
    remote::WriteInt(b, remote::kCommandOffset, 7);
    ASSERT_TRUE(client.Write(remote::kCommandOffset, b, 4));
    ASSERT_TRUE(program.Read(b));
    EXPECT_EQ(remote::ReadInt(b, remote::kCommandOffset), 7);
    remote::WriteReply(b, remote::kReplyDone, 42, "/srv/shots/");
    ASSERT_TRUE(program.Write(0, b, sizeof b));
    uint8_t c[remote::kBlockSize] = {};
    ASSERT_TRUE(client.Read(c));
    EXPECT_EQ(remote::ReadText(c), "/srv/shots/");
    // Nothing else is left in the folder (the block is made without a temporary name).
    EXPECT_EQ(std::distance(fs::directory_iterator(f.path), fs::directory_iterator()), 1);

    // A block cut short by a careless client is noticed and never touched: no read of
    // what is gone, no write that would make the file grow again.
    EXPECT_TRUE(program.Intact());
    ASSERT_EQ(truncate(f.Block().c_str(), 100), 0);
    EXPECT_FALSE(program.Intact());
    EXPECT_FALSE(program.Read(b));
    EXPECT_FALSE(program.Write(remote::kStatusOffset, b, 4));
    EXPECT_EQ(fs::file_size(f.Block()), 100u);
}

TEST(RemoteBlock, TwoSidesOpeningTogetherBothGetTheOneBlock)
{
    // The first open makes the block; a second side opening at that moment must neither
    // see it short nor with two names.
    for (int round = 0; round < 200; ++round) {
        Folder f;
        SharedBlock a, b;
        std::string errorA, errorB;
        bool okA = false, okB = false;
        std::thread other([&] { okB = b.Open(f.Str(), errorB); });
        okA = a.Open(f.Str(), errorA);
        other.join();
        ASSERT_TRUE(okA) << errorA;
        ASSERT_TRUE(okB) << errorB;
        const uint8_t mark[4] = {1, 2, 3, 4};
        ASSERT_TRUE(a.Write(remote::kCommandOffset, mark, 4));
        uint8_t seen[remote::kBlockSize];
        ASSERT_TRUE(b.Read(seen));
        ASSERT_EQ(remote::ReadInt(seen, remote::kCommandOffset), 0x04030201);
    }
}

TEST(RemoteBlock, ClientsTakeTurnsAndAReplacedBlockIsNoticed)
{
    Folder f;
    SharedBlock first, second;
    std::string error;
    ASSERT_TRUE(first.Open(f.Str(), error)) << error;
    ASSERT_TRUE(second.Open(f.Str(), error)) << error;
    ASSERT_TRUE(first.Lock(100));
    EXPECT_FALSE(second.TryLock());
    EXPECT_FALSE(second.Lock(50));  // waits its turn, then gives up
    first.Unlock();
    EXPECT_TRUE(second.Lock(100));
    second.Unlock();

    EXPECT_TRUE(first.StillAtPath());
    ASSERT_EQ(unlink(f.Block().c_str()), 0);
    EXPECT_FALSE(first.StillAtPath());
    SharedBlock fresh;
    ASSERT_TRUE(fresh.Open(f.Str(), error)) << error;  // made anew
    EXPECT_FALSE(first.StillAtPath());                 // another file at the path now
    EXPECT_TRUE(fresh.StillAtPath());
}

TEST(RemoteBlock, AnythingButAPrivateRegularFileOfTheRightSizeIsRefused)
{
    Folder f;
    std::string error;
    SharedBlock block;

    // A symbolic link, even to a proper-looking file: refused, the file untouched.
    const fs::path elsewhere = f.dir.Path() / "elsewhere";
    testsupport::WriteFileBytes(elsewhere, std::vector<uint8_t>(1024, 0xAB));
    chmod(elsewhere.c_str(), 0600);
    fs::create_symlink(elsewhere, f.Block());
    EXPECT_FALSE(block.Open(f.Str(), error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    EXPECT_EQ(testsupport::ReadFileBytes(elsewhere), std::vector<uint8_t>(1024, 0xAB));
    fs::remove(f.Block());

    // A private block of ours cut short: a fresh, empty one takes its place (no hole
    // left in the old one, which a client may still hold).
    testsupport::WriteFileBytes(f.Block(), std::vector<uint8_t>(1000, 1));
    chmod(f.Block().c_str(), 0600);
    {
        MappedBlock old;
        ASSERT_TRUE(old.Open(f.Block().string()));
        // Young, it may be one the other side is still sizing: refused for now.
        EXPECT_FALSE(block.Open(f.Str(), error));
        EXPECT_NE(error.find("1000 bytes"), std::string::npos) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        EXPECT_TRUE(block.Open(f.Str(), error)) << error;
        EXPECT_EQ(testsupport::ReadFileBytes(f.Block()), std::vector<uint8_t>(1024, 0));
        struct stat held {};
        fstat(old.Fd(), &held);
        EXPECT_EQ(held.st_size, 1000);
        block.Close();
    }
    // The same cut short but open to others: refused and left alone.
    ASSERT_EQ(truncate(f.Block().c_str(), 1000), 0);
    chmod(f.Block().c_str(), 0644);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_FALSE(block.Open(f.Str(), error));
    EXPECT_EQ(fs::file_size(f.Block()), 1000u);
    fs::remove(f.Block());

    // Readable by others.
    testsupport::WriteFileBytes(f.Block(), std::vector<uint8_t>(1024, 1));
    chmod(f.Block().c_str(), 0644);
    EXPECT_FALSE(block.Open(f.Str(), error));
    EXPECT_NE(error.find("other users"), std::string::npos) << error;

    // A second name for it elsewhere.
    chmod(f.Block().c_str(), 0600);
    fs::create_hard_link(f.Block(), f.dir.Path() / "second-name");
    EXPECT_FALSE(block.Open(f.Str(), error));
    fs::remove(f.dir.Path() / "second-name");
    EXPECT_TRUE(block.Open(f.Str(), error)) << error;
    block.Close();
    fs::remove(f.Block());

    // Not a file at all.
    ASSERT_EQ(mkfifo(f.Block().c_str(), 0600), 0);
    EXPECT_FALSE(block.Open(f.Str(), error));
    EXPECT_FALSE(block.IsOpen());
}

TEST(RemoteBlock, AnotherUsersBlockOrFolderIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    Folder f;
    std::string error;
    testsupport::WriteFileBytes(f.Block(), std::vector<uint8_t>(1024, 0));
    chmod(f.Block().c_str(), 0600);
    ASSERT_EQ(chown(f.Block().c_str(), 4321, 4321), 0);
    SharedBlock block;
    EXPECT_FALSE(block.Open(f.Str(), error));
    EXPECT_NE(error.find("another user"), std::string::npos) << error;

    // The socket and the runtime folder likewise.
    fs::remove(f.Block());
    {
        WakeUpSocket other;
        ASSERT_EQ(other.Bind(f.Str(), error), WakeUpSocket::BindResult::Bound) << error;
        ASSERT_EQ(lchown(f.Socket().c_str(), 4321, 4321), 0);
        WakeUpSocket mine;
        EXPECT_EQ(mine.Bind(f.Str(), error), WakeUpSocket::BindResult::Refused);
        EXPECT_EQ(platform::SendWakeUp(f.Str(), error), platform::WakeUpResult::Refused);
    }
    ASSERT_EQ(chown(f.path.c_str(), 4321, 4321), 0);
    Env runtime("XDG_RUNTIME_DIR", f.Str().c_str());
    EXPECT_EQ(platform::RemoteRuntimeFolder(error), "");
    EXPECT_NE(error.find("another user"), std::string::npos) << error;
}

TEST(RemoteFolder, RuntimeFolderMustBePrivateAndTheFallbackIsMadeSo)
{
    testsupport::TempDir dir;
    std::string error;
    {
        const fs::path open = dir.Path() / "open";
        fs::create_directory(open);
        chmod(open.c_str(), 0755);
        Env runtime("XDG_RUNTIME_DIR", open.c_str());
        EXPECT_EQ(platform::RemoteRuntimeFolder(error), "");
        EXPECT_NE(error.find("other users"), std::string::npos) << error;
    }
    Env runtime("XDG_RUNTIME_DIR", nullptr);
    Env tmp("TMPDIR", dir.Str().c_str());
    const std::string expected = dir.Str() + "/tethrocam-" + std::to_string(geteuid());
    EXPECT_EQ(platform::RemoteRuntimeFolder(error), expected) << error;
    EXPECT_EQ(ModeOf(expected) & 0777, 0700u);
    EXPECT_TRUE(S_ISDIR(ModeOf(expected)));

    // Someone planted a link in the fallback's place: refused, not followed.
    fs::remove(expected);
    const fs::path planted = dir.Path() / "planted";
    fs::create_directory(planted);
    chmod(planted.c_str(), 0700);
    fs::create_directory_symlink(planted, expected);
    EXPECT_EQ(platform::RemoteRuntimeFolder(error), "");
    EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
}

TEST(RemoteSocket, BindsPrivatelyWakesAndCannotBeTakenTwice)
{
    Folder f;
    std::string error;
    WakeUpSocket program;
    ASSERT_EQ(program.Bind(f.Str(), error), WakeUpSocket::BindResult::Bound) << error;
    EXPECT_TRUE(S_ISSOCK(ModeOf(f.Socket())));
    EXPECT_EQ(ModeOf(f.Socket()) & 0777, 0600u);

    EXPECT_EQ(program.Drain(), 0);
    EXPECT_EQ(platform::SendWakeUp(f.Str(), error), platform::WakeUpResult::Sent) << error;
    EXPECT_EQ(platform::SendWakeUp(f.Str(), error), platform::WakeUpResult::Sent) << error;
    EXPECT_EQ(program.Drain(), 2);

    WakeUpSocket second;
    EXPECT_EQ(second.Bind(f.Str(), error), WakeUpSocket::BindResult::InUse);
    EXPECT_NE(error.find("another running Tethrocam"), std::string::npos) << error;
    // The first keeps its socket.
    EXPECT_EQ(platform::SendWakeUp(f.Str(), error), platform::WakeUpResult::Sent);
    EXPECT_EQ(program.Drain(), 1);
}

TEST(RemoteSocket, AStaleSocketIsReplacedAndTheSocketGoesWithTheProgram)
{
    Folder f;
    std::string error;
    {
        // A crashed run: bound, never removed.
        const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, f.Socket().c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
    }
    EXPECT_EQ(platform::SendWakeUp(f.Str(), error), platform::WakeUpResult::NoProgram);
    {
        WakeUpSocket program;
        ASSERT_EQ(program.Bind(f.Str(), error), WakeUpSocket::BindResult::Bound) << error;
        EXPECT_EQ(platform::SendWakeUp(f.Str(), error), platform::WakeUpResult::Sent) << error;
        EXPECT_EQ(program.Drain(), 1);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(f.Socket())));
    EXPECT_EQ(platform::SendWakeUp(f.Str(), error), platform::WakeUpResult::NoProgram);
}

// Two programs starting together both find a stale socket: only one may replace it and
// bind; the other must find the first one there, never take the name from under it.
TEST(RemoteSocket, TwoProgramsStartingTogetherOverAStaleSocketBindOnce)
{
    for (int round = 0; round < 100; ++round) {
        Folder f;
        std::string error;
        {
            const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
            sockaddr_un addr {};
            addr.sun_family = AF_UNIX;
            std::strcpy(addr.sun_path, f.Socket().c_str());
            ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
            close(fd);
        }
        WakeUpSocket a, b;
        std::string errorA, errorB;
        WakeUpSocket::BindResult ra {}, rb {};
        std::thread other([&] { rb = b.Bind(f.Str(), errorB); });
        ra = a.Bind(f.Str(), errorA);
        other.join();
        const int bound = (ra == WakeUpSocket::BindResult::Bound) + (rb == WakeUpSocket::BindResult::Bound);
        ASSERT_EQ(bound, 1) << errorA << " / " << errorB;
        ASSERT_TRUE(ra == WakeUpSocket::BindResult::InUse || rb == WakeUpSocket::BindResult::InUse);
        // The one that bound is the one a client reaches.
        ASSERT_EQ(platform::SendWakeUp(f.Str(), error), platform::WakeUpResult::Sent) << error;
        WakeUpSocket& winner = ra == WakeUpSocket::BindResult::Bound ? a : b;
        ASSERT_TRUE(WaitForDatagram(winner));
    }
}

TEST(RemoteSocket, PlantedLinksAndFilesAreRefusedAndLeftAlone)
{
    Folder f;
    std::string error;
    // A link to a live socket elsewhere: neither side follows it.
    testsupport::TempDir other;
    chmod(other.Path().c_str(), 0700);
    WakeUpSocket elsewhere;
    ASSERT_EQ(elsewhere.Bind(other.Str(), error), WakeUpSocket::BindResult::Bound) << error;
    fs::create_symlink(other.Path() / "EOSTethrocam.sock", f.Socket());
    WakeUpSocket program;
    EXPECT_EQ(program.Bind(f.Str(), error), WakeUpSocket::BindResult::Refused);
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    EXPECT_EQ(platform::SendWakeUp(f.Str(), error), platform::WakeUpResult::Refused);
    EXPECT_EQ(elsewhere.Drain(), 0);
    EXPECT_TRUE(fs::is_symlink(f.Socket()));
    fs::remove(f.Socket());

    testsupport::WriteFileBytes(f.Socket(), {1, 2, 3});
    EXPECT_EQ(program.Bind(f.Str(), error), WakeUpSocket::BindResult::Refused);
    EXPECT_EQ(testsupport::ReadFileBytes(f.Socket()), (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
