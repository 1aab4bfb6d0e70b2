// The remote-control channel against the main window on the simulated camera, offscreen:
// requests are written into the mapped block and announced on the real socket, as a
// client does, and the replies are read back from the block's bytes.
#include "app/CMainFrame.h"
#include "app/MessageBox.h"
#include "backends/sim/SimCamera.h"
#include "mainview/CMyTethrocamView.h"
#include "settings/RegistryStore.h"
#include "mainview/ControlIds.h"
#include "remote/RemoteClient.h"
#include "remote/RemoteControl.h"
#include "remote/RemoteProtocol.h"
#include "settings/Settings.h"
#include "remote/RemoteTransport.h"
#include "support/MainWindowFixture.h"
#include "support/ProgramSupport.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

#include "support/MappedBlock.h"

#include <QComboBox>
#include <QProgressBar>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <set>
#include <thread>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::WaitUntil;
namespace fs = std::filesystem;
using namespace remote;

namespace {

struct Remote : testsupport::MainWindow {
    explicit Remote(int cameras = 1, double linkSpeed = 0)
        : MainWindow(Config(cameras, linkSpeed), {}, Channel(cameras)), runtime(dir.Path() / "runtime")
    {
        std::string error;
        platform::SharedBlock made;  // made as a client makes it, then mapped as a test client reads it
        EXPECT_TRUE(made.Open(runtime.string(), error)) << error;
        EXPECT_TRUE(block.Open((runtime / kBlockName).string()));
    }
    ~Remote() { Close(); }
    // The channel gets a private runtime folder and is started before the window shows.
    static Options Channel(int cameras)
    {
        Options o;
        o.connectWaitMs = cameras ? 5000 : 300;
        o.beforeShow = [](MainWindow& w) {
            const fs::path folder = w.dir.Path() / "runtime";
            fs::create_directory(folder);
            chmod(folder.c_str(), 0700);
            w.view->StartRemoteControl(folder.string());
        };
        return o;
    }
    static sim::SimConfig Config(int cameras, double linkSpeed)
    {
        sim::SimConfig c;
        c.cameraCount = cameras;
        // Several chunks per picture on a slow link, so that progress can be watched.
        c.pictureWidth = linkSpeed > 0 ? 2400 : 960;
        c.pictureHeight = linkSpeed > 0 ? 1600 : 640;
        c.exposureMs = 5;
        c.linkBytesPerSecond = linkSpeed;
        return c;
    }
    uint8_t* B() { return block.Data(); }
    int32_t Status() { return ReadInt(B(), kStatusOffset); }
    // As a client: request, cleared status, wake-up; then the event loop runs until the
    // status changes (or, for requests that write nothing, a while).
    int32_t Ask(int32_t command, int32_t parameter = 0, const std::string& text = {})
    {
        EXPECT_TRUE(WriteRequest(B(), command, parameter, text));
        Wake();
        WaitUntil([&] { return Status() != kReplyNone; }, 3000);
        return Status();
    }
    void Wake()
    {
        std::string error;
        EXPECT_EQ(platform::SendWakeUp(runtime.string(), error), platform::WakeUpResult::Sent) << error;
    }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(pictures, ec))
            if (e.is_regular_file())
                names.push_back(e.path().string());
        return names;
    }

    fs::path runtime;
    MappedBlock block;
};

TEST(RemoteChannel, WhichCameraWithAndWithoutACamera)
{
    {
        Remote r;
        ASSERT_NE(r.view->Camera(), nullptr);
        EXPECT_EQ(r.Ask(kCmdCamera), kReplyIdle);
        EXPECT_EQ(ReadText(r.B()), "Canon EOS 10D");
        EXPECT_EQ(ReadInt(r.B(), kHandleOffset), getpid());
        EXPECT_EQ(r.Ask(kCmdNone), kReplyRefused);
    }
    Remote none(0);
    ASSERT_EQ(none.view->Camera(), nullptr);
    std::memcpy(none.B() + kTextOffset, "stale", 6);
    EXPECT_EQ(none.Ask(kCmdCamera), kReplyNotConnected);
    EXPECT_EQ(ReadText(none.B()), "");
    EXPECT_EQ(none.Ask(kCmdRelease), kReplyNotConnected);
    EXPECT_EQ(none.Ask(kCmdTv, 0), kReplyNotConnected);
    EXPECT_EQ(none.Ask(kCmdNone), kReplyNotConnected);
    EXPECT_TRUE(none.boxes.shown.empty());  // no reconnect prompt for a client
}

TEST(RemoteChannel, ReleaseRepliesThreeThenFourWithTheSavedPathAndProgress)
{
    Remote r(1, 2e6);
    WriteInt(r.B(), kProgressOffset, 77);
    ASSERT_EQ(r.Ask(kCmdRelease), kReplyReleased);
    EXPECT_EQ(ReadInt(r.B(), kProgressOffset), 0);
    EXPECT_TRUE(r.view->Shooting());

    // A second release while the first picture is on its way is refused as busy, and
    // so is a folder change; neither touches the camera.
    // The release itself runs on the camera's worker thread: wait until it reached the camera.
    ASSERT_TRUE(WaitUntil([&] { return r.lib.State().releases == 1; }, 10000));
    const int releases = r.lib.State().releases;
    EXPECT_EQ(r.Ask(kCmdRelease), kReplyBusy);
    EXPECT_EQ(r.Ask(kCmdFolder, 0, (r.dir.Path() / "elsewhere").string()), kReplyBusy);
    EXPECT_EQ(r.Ask(kCmdCamera), kReplyBusy);
    EXPECT_EQ(ReadText(r.B()), "Canon EOS 10D");
    EXPECT_EQ(r.Ask(kCmdTv, 0), kReplyBusy);
    EXPECT_FALSE(fs::exists(r.dir.Path() / "elsewhere"));

    std::vector<int32_t> seen;
    // The block holds the last busy reply: the picture's reply 4 takes its place.
    ASSERT_TRUE(WaitUntil([&] {
        const int32_t p = ReadInt(r.B(), kProgressOffset);
        if (seen.empty() || seen.back() != p)
            seen.push_back(p);
        return r.Status() == kReplySaved;
    }, 30000));
    EXPECT_EQ(r.lib.State().releases, releases);
    const std::string path = ReadText(r.B());
    EXPECT_EQ(path, (r.pictures / "IMG_0001.JPG").string());
    EXPECT_EQ(r.Files(), std::vector<std::string>{path});
    EXPECT_EQ(ReadInt(r.B(), kHandleOffset), getpid());
    // Progress went through the download and reached 100.
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](int32_t p) { return p > 0 && p < 100; }))
        << ::testing::PrintToString(seen);
    EXPECT_NE(std::find(seen.begin(), seen.end(), 100), seen.end()) << ::testing::PrintToString(seen);
}

// A download cut off halfway: the progress field does not stay at the half it reached.
TEST(RemoteChannel, ProgressFallsBackToZeroWhenADownloadIsCutOff)
{
    Remote r(1, 2e6);
    r.lib.StopNextDownloadHalfway();
    ASSERT_EQ(r.Ask(kCmdRelease), kReplyReleased);
    ASSERT_TRUE(WaitUntil([&] { return ReadInt(r.B(), kProgressOffset) > 0; }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return !r.view->Shooting(); }, 20000));
    testsupport::Pump(100);
    EXPECT_EQ(ReadInt(r.B(), kProgressOffset), 0);
    EXPECT_TRUE(r.Files().empty());
}

TEST(RemoteChannel, ReleaseOnBulbIsRefusedAndNoPictureFollows)
{
    Remote r;
    r.view->Form().tv->addItem("bulb", 4u);
    r.view->Form().tv->setCurrentIndex(r.view->Form().tv->count() - 1);
    EXPECT_EQ(r.Ask(kCmdRelease), kReplyRefused);
    EXPECT_EQ(ReadText(r.B()), "Bulb mode is only available when using the camera's shutter release");
    ASSERT_TRUE(WaitUntil([&] { return !r.boxes.shown.empty(); }, 2000));
    EXPECT_EQ(r.boxes.LastText(), "Bulb mode is only available when using the camera's shutter release");
    testsupport::Pump(400);
    EXPECT_EQ(r.Status(), kReplyRefused);  // no reply 4 comes
    EXPECT_TRUE(r.Files().empty());
    EXPECT_EQ(r.lib.State().releases, 0);
}

TEST(RemoteChannel, ListEntriesReachTheCameraAndOutOfRangeIndexesAreRefused)
{
    Remote r;
    const auto src = r.view->Camera()->Source();
    struct Case {
        int32_t command;
        QComboBox* combo;
        std::function<uint16_t()> cameraValue;
    };
    const Case cases[] = {
        {kCmdTv, r.view->Form().tv, [&] { uint16_t v = 0; r.lib.CDGetTvValue(src, &v); return v; }},
        {kCmdAv, r.view->Form().av, [&] { uint16_t v = 0; r.lib.CDGetAvValue(src, &v); return v; }},
        {kCmdExposureComp, r.view->Form().exposureComp, [&] { uint16_t v = 0; r.lib.CDGetExposureComp(src, &v); return v; }},
        {kCmdIso, r.view->Form().iso, [&] {
             uint16_t v = 0;
             uint32_t size = 2;
             r.lib.CDGetRelCamSettingData(src, 0x0800000C, &size, &v);
             return v;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        if (c.command == kCmdExposureComp) {
            // Manual exposure takes no compensation: the camera keeps its value, reply 7.
            EXPECT_EQ(r.Ask(kCmdExposureComp, 0), kReplyRefused);
            r.lib.TurnModeDial(1);  // program AE
            testsupport::Pump(300);
        }
        const int count = c.combo->count();
        ASSERT_GT(count, 2);
        const int before = c.combo->currentIndex();
        const uint16_t cameraBefore = c.cameraValue();
        EXPECT_EQ(r.Ask(c.command, count), kReplyRefused);
        EXPECT_EQ(r.Ask(c.command, -1), kReplyRefused);
        EXPECT_EQ(c.combo->currentIndex(), before);  // the list was not touched
        EXPECT_EQ(c.cameraValue(), cameraBefore);

        // Reply 6 exactly when the camera took the entry; either way the list shows what
        // the camera holds.
        int accepted = 0;
        for (int target = 0; target < count; ++target) {
            if (target == c.combo->currentIndex())
                continue;
            const int32_t reply = r.Ask(c.command, target);
            EXPECT_EQ(reply == kReplyDone, c.combo->currentIndex() == target) << target;
            EXPECT_TRUE(reply == kReplyDone || reply == kReplyRefused);
            EXPECT_EQ(c.cameraValue(), c.combo->currentData().toUInt() & 0xFFFF);
            accepted += reply == kReplyDone;
        }
        EXPECT_GT(accepted, 0);
    }
}

TEST(RemoteChannel, FolderRequests)
{
    Remote r;
    const fs::path shots = r.dir.Path() / "srv" / "shots";
    EXPECT_EQ(r.Ask(kCmdFolder, 0, shots.string() + "//"), kReplyDone);  // a missing tree is created
    EXPECT_TRUE(fs::is_directory(shots));
    EXPECT_EQ(r.view->Prefs().Directory, shots.string());
    EXPECT_EQ(r.view->TakeSaveSnapshot().folders.Directory, shots.string());  // the release thread sees it

    EXPECT_EQ(r.Ask(kCmdFolder, 0, "/"), kReplyDone);
    EXPECT_EQ(r.view->Prefs().Directory, "/");

    const fs::path file = r.dir.Path() / "a-file";
    testsupport::WriteFileBytes(file, {1, 2, 3});
    EXPECT_EQ(r.Ask(kCmdFolder, 0, file.string()), kReplyRefused);
    EXPECT_EQ(r.Ask(kCmdFolder, 0, (file / "below").string()), kReplyRefused);
    EXPECT_EQ(r.Ask(kCmdFolder, 0, "relative/shots"), kReplyRefused);
    EXPECT_EQ(r.Ask(kCmdFolder, 0, ""), kReplyRefused);
    EXPECT_EQ(r.view->Prefs().Directory, "/");
    EXPECT_FALSE(fs::exists("relative"));

    // The next picture goes to the folder a client chose.
    EXPECT_EQ(r.Ask(kCmdFolder, 0, shots.string()), kReplyDone);
    ASSERT_EQ(r.Ask(kCmdRelease), kReplyReleased);
    ASSERT_TRUE(WaitUntil([&] { return r.Status() == kReplySaved; }));
    EXPECT_EQ(ReadText(r.B()).rfind(shots.string() + "/IMG_0001.JPG", 0), 0u) << ReadText(r.B());
    EXPECT_TRUE(fs::exists(ReadText(r.B())));
}

TEST(RemoteChannel, TodaysFolderFollowsTheDateLevels)
{
    Remote r(0);  // works without a camera
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char y[16], m[16], d[16];
    std::snprintf(y, sizeof y, "%04d", tm.tm_year + 1900);
    std::snprintf(m, sizeof m, "%02d", tm.tm_mon + 1);
    std::snprintf(d, sizeof d, "%02d", tm.tm_mday);
    const std::string base = r.pictures.string();
    struct Case {
        bool year, month, day, flatten;
        std::string expected;
    } cases[] = {
        {true, true, true, true, base + "/" + y + "-" + m + "-" + d + "/"},
        {true, true, true, false, base + "/" + y + "/" + m + "/" + d + "/"},
        {true, false, true, true, base + "/" + y + "-" + d + "/"},
        {false, true, false, false, base + "/" + m + "/"},
        {false, false, false, true, base + "/"},
    };
    for (const Case& c : cases) {
        Settings& s = r.view->Prefs();
        s.Year = c.year, s.Month = c.month, s.Day = c.day, s.FlattenDate = c.flatten;
        EXPECT_EQ(r.Ask(kCmdToday), kReplyDone);
        EXPECT_EQ(ReadText(r.B()), c.expected);
    }
}

TEST(RemoteChannel, CommentUpTo255CharactersWithoutACamera)
{
    Remote r(0);
    const std::string ok(255, 'c');
    EXPECT_EQ(r.Ask(kCmdComment, 0, ok), kReplyDone);
    EXPECT_EQ(r.view->Form().comment->text().toStdString(), ok);
    EXPECT_EQ(r.view->TakeSaveSnapshot().comment, ok);

    EXPECT_EQ(r.Ask(kCmdComment, 0, std::string(256, 'x')), kReplyRefused);
    EXPECT_EQ(r.Ask(kCmdComment, 0, "bad \xC3("), kReplyRefused);  // not UTF-8
    EXPECT_EQ(r.view->Form().comment->text().toStdString(), ok);

    // Characters, not bytes: 255 two-byte letters fit.
    std::string umlauts;
    for (int i = 0; i < 255; ++i)
        umlauts += "\xC3\xA4";
    EXPECT_EQ(r.Ask(kCmdComment, 0, umlauts), kReplyDone);
    EXPECT_EQ(r.view->TakeSaveSnapshot().comment, umlauts);

    // A text filling the whole field without a terminating zero ends at the field's end.
    std::memset(r.B() + kTextOffset, 'z', kTextSize);
    WriteInt(r.B(), kCommandOffset, kCmdComment);
    WriteInt(r.B(), kStatusOffset, 0);
    r.Wake();
    ASSERT_TRUE(WaitUntil([&] { return r.Status() != 0; }, 3000));
    EXPECT_EQ(r.Status(), kReplyRefused);
    EXPECT_EQ(r.view->TakeSaveSnapshot().comment, umlauts);
}

TEST(RemoteChannel, UnknownCommandsLeaveTheBlockUnchanged)
{
    Remote r;
    std::mt19937 random(7);
    for (int32_t command : {0, 11, -1, 1000}) {
        for (size_t i = 0; i < kBlockSize; ++i)
            r.B()[i] = static_cast<uint8_t>(random());
        WriteInt(r.B(), kCommandOffset, command);
        const std::vector<uint8_t> before(r.B(), r.B() + kBlockSize);
        r.Wake();
        testsupport::Pump(150);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), r.B())) << "command " << command;
    }
    EXPECT_TRUE(r.view->Remote()->ChannelExists());
}

TEST(RemoteChannel, ProgressAndSavedRepliesWaitForTheFirstRequest)
{
    Remote r;
    // No client has spoken yet: a picture taken with F8 writes nothing into the block.
    const std::vector<uint8_t> before(r.B(), r.B() + kBlockSize);
    r.view->TakePicture();
    ASSERT_TRUE(WaitUntil([&] { return !r.Files().empty() && !r.view->Shooting(); }));
    testsupport::Pump(100);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), r.B()));
    EXPECT_FALSE(r.view->Remote()->ChannelExists());
}

TEST(RemoteChannel, ABlockCutShortOrDeletedNeverFaultsAndTheProgramAnswersOn)
{
    Remote r;
    ASSERT_EQ(r.Ask(kCmdCamera), kReplyIdle);
    const fs::path file = r.runtime / kBlockName;
    // A careless client truncates the file while the program holds it, and asks: a mapped
    // block would fault now; the program reads nothing that is gone and puts a fresh block
    // in place.
    r.block.Close();
    ASSERT_EQ(truncate(file.c_str(), 100), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // not one being made just now
    r.Wake();
    testsupport::Pump(200);
    r.view->Remote()->DownloadProgress(50);
    EXPECT_NE(r.view->Remote()->LastError().find("was cut short"), std::string::npos)
        << r.view->Remote()->LastError();
    EXPECT_EQ(fs::file_size(file), 1024u);
    ASSERT_TRUE(r.block.Open(file.string()));
    EXPECT_EQ(r.Ask(kCmdCamera), kReplyIdle);
    EXPECT_EQ(ReadText(r.B()), "Canon EOS 10D");

    // Deleted, then made anew by the next client: the program follows the path.
    r.block.Close();
    ASSERT_EQ(unlink(file.c_str()), 0);
    std::string error;
    platform::SharedBlock made;
    ASSERT_TRUE(made.Open(r.runtime.string(), error)) << error;
    ASSERT_TRUE(r.block.Open(file.string()));
    EXPECT_EQ(r.Ask(kCmdToday), kReplyDone);
    EXPECT_EQ(ReadText(r.B()), r.pictures.string() + "/");

    // Replaced by another file under the same name (a client that recreated it).
    r.block.Close();
    const fs::path other = r.runtime / "replacement";
    testsupport::WriteFileBytes(other, std::vector<uint8_t>(kBlockSize, 0));
    chmod(other.c_str(), 0600);
    fs::rename(other, file);
    ASSERT_TRUE(r.block.Open(file.string()));
    EXPECT_EQ(r.Ask(kCmdCamera), kReplyIdle);
}

}  // namespace

namespace {

// ---------------------------------------------------------------- the truth of the replies

TEST(RemoteChannel, APictureThatIsNotSavedAfterReplyThreeIsAnsweredSevenWithTheReason)
{
    Remote r;
    // Neither the picture folder nor the rescue folder can be written.
    std::ofstream(r.pictures.string()) << "not a folder";
    std::ofstream(r.rescue.string()) << "not a folder";
    ASSERT_EQ(r.Ask(kCmdRelease), kReplyReleased);
    ASSERT_TRUE(WaitUntil([&] { return r.Status() != kReplyReleased; }, 20000));
    EXPECT_EQ(r.Status(), kReplyRefused);
    EXPECT_EQ(ReadText(r.B()), "Not saved in " + r.pictures.string() +
                                   ": Not a directory; no rescue folder took it either (Not a directory); it is kept "
                                   "in the program's memory");

    // A download cut off: 7, never a saved reply or a save error.
    fs::remove(r.pictures);
    fs::remove(r.rescue);
    r.lib.StopNextDownloadHalfway();
    ASSERT_EQ(r.Ask(kCmdRelease), kReplyReleased);
    ASSERT_TRUE(WaitUntil([&] { return r.Status() != kReplyReleased; }, 20000));
    EXPECT_EQ(r.Status(), kReplyRefused);
    EXPECT_EQ(ReadText(r.B()), "Download interrupted: picture not received");

    // Saved to the card only: 4 with an empty text stays what it means.
    r.frame->Command(ids::ID_SAVE_CAMERA_ONLY);
    ASSERT_EQ(r.Ask(kCmdRelease), kReplyReleased);
    ASSERT_TRUE(WaitUntil([&] { return r.Status() != kReplyReleased; }, 20000));
    EXPECT_EQ(r.Status(), kReplySaved);
    EXPECT_EQ(ReadText(r.B()), "");
}

TEST(RemoteChannel, AfterAShutdownRequestsAreAnsweredNotConnectedWhileItsBoxIsOpen)
{
    Remote r(1, 20000);  // a slow download
    ASSERT_EQ(r.Ask(kCmdRelease), kReplyReleased);
    ASSERT_TRUE(WaitUntil([&] { return r.view->Form().progress->isVisible(); }, 20000));
    int32_t waitingReleaseGot = 0, releaseDuringBox = 0;
    std::string reason;
    // The box's own event loop goes on dispatching: a client is served while it is open.
    msgbox::SetHandler([&](const msgbox::Shown& shown) {
        if (shown.text.startsWith("Camera shutdown")) {
            waitingReleaseGot = r.Status();
            reason = ReadText(r.B());
            releaseDuringBox = r.Ask(kCmdRelease);
        }
        return msgbox::Answer::Ok;
    });
    r.lib.OpenCardDoor();
    ASSERT_TRUE(WaitUntil([&] { return releaseDuringBox != 0; }, 10000));
    msgbox::SetHandler({});
    EXPECT_EQ(waitingReleaseGot, kReplyRefused);  // the release that waited is told at once
    EXPECT_EQ(reason, "Camera shutdown: CF card door opened");
    EXPECT_EQ(releaseDuringBox, kReplyNotConnected);
    EXPECT_EQ(r.lib.State().releases, 1);
}

TEST(RemoteChannel, ARefusalIsAnsweredBeforeItsBoxAndRequestsAreServedWhileTheBoxIsOpen)
{
    Remote r;
    r.view->Form().tv->addItem("bulb", 4u);
    r.view->Form().tv->setCurrentIndex(r.view->Form().tv->count() - 1);
    int32_t statusWhenShown = -1, servedWhileOpen = 0;
    std::string textWhenShown;
    msgbox::SetHandler([&](const msgbox::Shown&) {
        if (statusWhenShown == -1) {
            statusWhenShown = r.Status();
            textWhenShown = ReadText(r.B());
            servedWhileOpen = r.Ask(kCmdCamera);
        }
        return msgbox::Answer::Ok;
    });
    r.Ask(kCmdRelease);  // (the box may open, and the next request be served, while this one waits)
    ASSERT_TRUE(WaitUntil([&] { return servedWhileOpen != 0; }, 3000));
    msgbox::SetHandler({});
    EXPECT_EQ(statusWhenShown, kReplyRefused);
    EXPECT_EQ(textWhenShown, "Bulb mode is only available when using the camera's shutter release");
    EXPECT_EQ(servedWhileOpen, kReplyIdle);
}

TEST(RemoteChannel, ARepeatedWakeUpNeverRunsARequestTwice)
{
    Remote r;
    ASSERT_EQ(r.Ask(kCmdRelease), kReplyReleased);
    ASSERT_TRUE(WaitUntil([&] { return r.Status() == kReplySaved; }, 20000));
    r.Wake();
    r.Wake();
    testsupport::Pump(300);
    EXPECT_EQ(r.lib.State().releases, 1);
    EXPECT_EQ(r.Files().size(), 1u);
}

TEST(RemoteChannel, AFolderTheProgramCannotWriteIsRefusedWithTheReason)
{
    testsupport::SmallFileSystem readOnly(1 << 20, true);
    if (!readOnly.Mounted())
        GTEST_SKIP() << readOnly.SkipReason();
    Remote r;
    const std::string before = r.view->Prefs().Directory;
    EXPECT_EQ(r.Ask(kCmdFolder, 0, readOnly.Path().string()), kReplyRefused);
    EXPECT_EQ(ReadText(r.B()), readOnly.Path().string() + ": Read-only file system");
    EXPECT_EQ(r.view->Prefs().Directory, before);
}

// The documented use: one script releases and waits for each picture while another sets
// the comment as fast as it can. Every request is answered once, to the client that
// asked, and no picture goes missing.
TEST(RemoteChannel, TwoClientsAtOnceEachGetTheirOwnReplies)
{
    Remote r;
    testsupport::ScopedEnv env("XDG_RUNTIME_DIR", r.runtime.c_str());
    constexpr int kReleases = 8;
    r.view->SetComment("Set start");
    std::vector<remote::ClientReply> pictures;
    std::vector<int32_t> comments;
    std::atomic<bool> releasesDone{false}, commentsDone{false};
    std::thread releaser([&] {
        remote::RemoteClient client;
        std::string error;
        if (client.Open(error))
            for (int i = 0; i < kReleases; ++i)
                pictures.push_back(client.Ask(kCmdRelease, 0, {}, std::chrono::seconds(10), std::chrono::seconds(30)));
        releasesDone = true;
    });
    std::thread commenter([&] {
        remote::RemoteClient client;
        std::string error;
        if (client.Open(error))
            for (int i = 0; !releasesDone; ++i)
                comments.push_back(client.Ask(kCmdComment, 0, "Set " + std::to_string(i), std::chrono::seconds(10)).status);
        commentsDone = true;
    });
    const bool finished = WaitUntil([&] { return releasesDone && commentsDone; }, 180000);
    releaser.join();
    commenter.join();
    ASSERT_TRUE(finished);
    ASSERT_EQ(pictures.size(), static_cast<size_t>(kReleases));
    std::set<std::string> paths;
    for (const auto& p : pictures) {
        EXPECT_EQ(p.outcome, remote::ClientReply::Outcome::Answered);
        EXPECT_TRUE(p.released);
        EXPECT_EQ(p.status, kReplySaved) << p.text;
        EXPECT_TRUE(fs::exists(p.text)) << p.text;
        EXPECT_NE(testsupport::UserComment(p.text).find("Set "), std::string::npos)
            << p.text << ": " << testsupport::UserComment(p.text);
        paths.insert(p.text);
    }
    EXPECT_EQ(paths.size(), static_cast<size_t>(kReleases));
    EXPECT_EQ(r.Files().size(), static_cast<size_t>(kReleases));
    EXPECT_GT(comments.size(), 0u);
    EXPECT_EQ(std::count(comments.begin(), comments.end(), kReplyDone), static_cast<long>(comments.size()));
}

}  // namespace
