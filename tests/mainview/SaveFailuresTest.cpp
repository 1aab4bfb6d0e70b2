// What the user sees when a picture cannot go where it should: a rescued picture in the
// history with where and why, a picture no folder takes kept in memory and offered on the
// File menu (and at close), a full disk refusing a PC-only release, the room left, and
// an interrupted download that is never called a save error.
#include "app/SettingsDialogs.h"
#include "mainview/ControlIds.h"
#include "support/MainWindowFixture.h"
#include "support/ProgramSupport.h"
#include "support/QtTestSupport.h"
#include "support/TestSupport.h"

#include <QAction>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace ids;
using testsupport::WaitUntil;
namespace fs = std::filesystem;

namespace {

struct Window : testsupport::MainWindow {
    explicit Window(const std::function<void(Settings&)>& prefs = {}) : MainWindow(Small(), prefs) {}
    // Shoots with F8 and waits until the shot is over.
    void Shoot()
    {
        frame->Command(IDC_RELEASE);
        ASSERT_TRUE(WaitUntil([&] { return !view->Shooting(); }, 20000));
        testsupport::Pump(50);  // the boxes shown after the notification
    }
    // A file stands where the folder should be: it cannot be made or written.
    static void Block(const fs::path& folder) { std::ofstream(folder.string()) << "not a folder"; }
    QString Status() const { return frame->StatusText(0); }
};

TEST(SaveFailures, ARescuedPictureEntersTheHistoryAndSaysWhereAndWhy)
{
    Window w;
    Window::Block(w.pictures);
    w.Shoot();
    const fs::path kept = w.rescue / "IMG_0001.JPG";
    ASSERT_TRUE(fs::exists(kept));
    ASSERT_EQ(w.view->History().Count(), 1u);
    EXPECT_EQ(w.view->History().Current()->Path(), kept.string());
    EXPECT_EQ(w.Status().toStdString(),
              "Not saved in " + w.pictures.string() + " (Not a directory): the picture is kept as " + kept.string());
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].text.toStdString(), "The picture could not be saved in " + w.pictures.string());
    EXPECT_EQ(w.boxes.shown[0].detail.toStdString(),
              "Not a directory.\n\nIt was saved as " + kept.string() +
                  " instead. Make room on that disk or choose another folder in Preferences.");

    // The next one says so in the status bar, without another box.
    w.Shoot();
    EXPECT_TRUE(fs::exists(w.rescue / "IMG_0002.JPG"));
    EXPECT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.view->History().Count(), 2u);
}

TEST(SaveFailures, APictureNoFolderTakesIsKeptAndOfferedOnTheFileMenu)
{
    Window w;
    Window::Block(w.pictures);
    Window::Block(w.rescue);
    w.view->SetComment("Set 12");
    QAction* save = w.frame->Action(ID_SAVE_UNSAVED);
    ASSERT_NE(save, nullptr);
    EXPECT_FALSE(save->isEnabled());
    w.Shoot();
    EXPECT_EQ(w.view->UnsavedPictureCount(), 1u);
    EXPECT_TRUE(save->isEnabled());
    EXPECT_EQ(w.view->History().Count(), 0u);
    EXPECT_TRUE(w.Status().startsWith("Error saving image: Not a directory - the picture is kept in memory"))
        << w.Status().toStdString();
    ASSERT_EQ(w.boxes.shown.size(), 1u);
    EXPECT_EQ(w.boxes.shown[0].text, "The picture could not be saved");

    testsupport::TempDir elsewhere;
    dialogs::SetFolderChooser([&](QWidget*, const QString&, const QString&) { return QString::fromStdString(elsewhere.Str()); });
    w.frame->Command(ID_SAVE_UNSAVED);
    dialogs::SetFolderChooser({});
    const fs::path saved = elsewhere.Path() / "IMG_0001.JPG";
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_NE(testsupport::UserComment(saved.string()).find("Set 12"), std::string::npos);  // stamped as it came
    EXPECT_EQ(w.view->UnsavedPictureCount(), 0u);
    EXPECT_FALSE(save->isEnabled());
    EXPECT_EQ(w.view->History().Count(), 1u);
}

TEST(SaveFailures, ClosingWithAPictureOnlyInMemoryAsksFirst)
{
    Window w;
    Window::Block(w.pictures);
    Window::Block(w.rescue);
    w.Shoot();
    ASSERT_EQ(w.view->UnsavedPictureCount(), 1u);
    // Yes, then Cancel in the folder chooser: the window stays open.
    dialogs::SetFolderChooser([](QWidget*, const QString&, const QString&) { return QString(); });
    w.boxes.answers = {msgbox::Answer::Yes, msgbox::Answer::No};
    EXPECT_FALSE(w.frame->close());
    EXPECT_EQ(w.boxes.LastText(), "One picture is only in memory. Save it before quitting?");
    EXPECT_TRUE(w.frame->isVisible());
    // No: the user chose to let it go.
    EXPECT_TRUE(w.frame->close());
    dialogs::SetFolderChooser({});
}

TEST(SaveFailures, QuittingOnASignalPutsPicturesOnlyInMemoryIntoTheRescueFolder)
{
    Window w;
    Window::Block(w.pictures);
    Window::Block(w.rescue);
    w.Shoot();
    ASSERT_EQ(w.view->UnsavedPictureCount(), 1u);
    fs::remove(w.rescue);  // room again, and nobody there to be asked
    fs::create_directories(w.rescue);
    testsupport::WriteFileBytes(w.rescue / "IMG_0001.JPG", {1, 2, 3});  // the name is taken meanwhile
    bool quit = false;
    w.view->FinishDownloadsThenQuit(25000, [&] { quit = true; });
    ASSERT_TRUE(WaitUntil([&] { return quit; }, 5000));
    EXPECT_EQ(w.view->UnsavedPictureCount(), 0u);
    EXPECT_EQ(testsupport::ReadFileBytes(w.rescue / "IMG_0001.JPG"), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_GT(fs::file_size(w.rescue / "IMG_0001-2.JPG"), 1000u);
}

TEST(SaveFailures, AnInterruptedDownloadIsNeverCalledASaveError)
{
    Window w;
    w.Shoot();
    ASSERT_EQ(w.view->History().Count(), 1u);
    w.lib.StopNextDownloadHalfway();
    w.Shoot();
    // Neither "Error saving image" nor the previous picture's exposure.
    EXPECT_EQ(w.Status(), "Download interrupted: picture not received");
    EXPECT_EQ(w.view->History().Count(), 1u);
    EXPECT_TRUE(w.boxes.shown.empty());
}

TEST(SaveFailures, APcOnlyReleaseIsRefusedWhenTheDiskHasNoRoomAndTheRoomLeftIsShown)
{
    testsupport::SmallFileSystem disk(1 << 20);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.SkipReason();
    Window w([&](Settings& s) { s.Directory = disk.Path().string(); });
    w.Shoot();
    ASSERT_TRUE(fs::exists(disk.Path() / "IMG_0001.JPG"));
    const auto size = fs::file_size(disk.Path() / "IMG_0001.JPG");
    ASSERT_GT(size, 100000u);  // fewer than ten more fit into a mebibyte
    EXPECT_TRUE(w.Status().contains("- the disk has room for only ")) << w.Status().toStdString();

    disk.Fill(size / 2);
    const int releases = w.lib.State().releases;
    w.frame->Command(IDC_RELEASE);
    EXPECT_FALSE(w.view->Shooting());
    EXPECT_EQ(w.lib.State().releases, releases);
    ASSERT_FALSE(w.boxes.shown.empty());
    EXPECT_EQ(w.boxes.LastText(), "There is no room on the disk for another picture");
    EXPECT_TRUE(w.boxes.shown.back().detail.contains("Make room on the disk")) << w.boxes.shown.back().detail.toStdString();

    // Saving to the camera as well needs no room on this disk to shoot.
    w.frame->Command(ID_SAVE_CAMERA_AND_PC);
    w.frame->Command(IDC_RELEASE);
    EXPECT_TRUE(w.view->Shooting());
    ASSERT_TRUE(WaitUntil([&] { return !w.view->Shooting(); }, 20000));
}

}  // namespace
