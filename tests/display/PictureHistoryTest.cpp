// The run's picture history: browsing with its wrap-arounds, deletion with its question,
// RAW thumbnail and failure paths, loading a saved picture for display, and the texts
// that describe the picture on show.
#include "display/PictureHistory.h"
#include "imaging/ExifBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace display;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// A JPEG whose Exif says 1/125 s at f/5.6; `tag` makes each picture's bytes distinct.
Bytes ExifJpeg(uint8_t tag)
{
    using namespace exiftest;
    return Jpeg({ExifApp1(TypicalTiff(true, 1)), Segment(0xFE, Bytes(8, tag))});
}

void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// A CRW in miniature: "II", the heap start (26) at offset 2, the given blocks in the heap,
// a directory of (tag, block) entries after them, and the directory's offset (relative to
// the heap) in the last four bytes.
Bytes Crw(const std::vector<std::pair<uint16_t, Bytes>>& blocks)
{
    const uint32_t heap = 26;
    Bytes out(heap, 0);
    out[0] = 'I';
    out[1] = 'I';
    Put32(out, 2, heap);
    std::vector<std::pair<uint32_t, uint32_t>> places;
    for (const auto& [tag, data] : blocks) {
        places.emplace_back(uint32_t(out.size() - heap), uint32_t(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }
    const uint32_t dir = uint32_t(out.size() - heap);
    out.push_back(uint8_t(blocks.size()));
    out.push_back(0);
    for (size_t i = 0; i < blocks.size(); ++i) {
        Bytes e(10, 0);
        e[0] = uint8_t(blocks[i].first);
        e[1] = uint8_t(blocks[i].first >> 8);
        Put32(e, 2, places[i].second);
        Put32(e, 6, places[i].first);
        out.insert(out.end(), e.begin(), e.end());
    }
    Bytes tail(4, 0);
    Put32(tail, 0, dir);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// Everything the history asks of the view, recorded.
struct FakeView {
    bool answer = true;
    std::vector<std::string> questions;
    std::vector<std::string> errors;  // "caption|text"
    std::vector<std::string> statuses;
    std::vector<Bytes> shownBytes;
    std::vector<std::string> shownPaths;
    std::vector<int> indexWhenShown;
    int clears = 0;
    int menuRefreshes = 0;
    std::function<void()> duringQuestion;
    PictureHistory* history = nullptr;

    HistoryView Hooks()
    {
        HistoryView v;
        v.askYesNo = [this](const std::string& text) {
            questions.push_back(text);
            if (duringQuestion)
                duringQuestion();
            return answer;
        };
        v.showError = [this](const std::string& text, const std::string& caption) {
            errors.push_back(caption + "|" + text);
        };
        v.setStatusText = [this](const std::string& text) { statuses.push_back(text); };
        v.showPicture = [this](Bytes bytes, ImageInfo info) {
            shownBytes.push_back(std::move(bytes));
            shownPaths.push_back(info.Path());
            indexWhenShown.push_back(history ? history->CurrentIndex() : -2);
        };
        v.clearDisplay = [this] { ++clears; };
        v.refreshMenuChecks = [this] { ++menuRefreshes; };
        return v;
    }
    std::string LastStatus() const { return statuses.empty() ? "" : statuses.back(); }
};

class HistoryTest : public ::testing::Test {
protected:
    std::string Save(const std::string& name, const Bytes& bytes)
    {
        const std::string path = (dir.Path() / name).string();
        testsupport::WriteFileBytes(path, bytes);
        history.AddToHistory(path);
        return path;
    }
    // Saves IMG_0001.JPG .. IMG_000n.JPG, each with distinct bytes.
    std::vector<std::string> SaveJpegs(int n)
    {
        std::vector<std::string> paths;
        for (int i = 1; i <= n; ++i)
            paths.push_back(Save("IMG_000" + std::to_string(i) + ".JPG", ExifJpeg(uint8_t(i))));
        return paths;
    }
    std::string Status(int index, int count, const std::string& path) const
    {
        return "Image " + std::to_string(index) + " of " + std::to_string(count) + ": " + path +
               " - 1/125sec, F5.6";
    }

    testsupport::TempDir dir;
    PictureHistory history;
    FakeView view;
    void SetUp() override { view.history = &history; }
};

} // namespace

TEST(FileSizeText, RoundsToTheNearestKilobyteAndPicksTheUnit)
{
    EXPECT_EQ(FormatFileSize(0), "0KB");
    EXPECT_EQ(FormatFileSize(512), "0KB");
    EXPECT_EQ(FormatFileSize(513), "1KB");
    EXPECT_EQ(FormatFileSize(1000 * 1024), "1000KB");
    EXPECT_EQ(FormatFileSize(1023 * 1024), "1023KB");  // no separator below 1024 KB
    EXPECT_EQ(FormatFileSize(1048576), "1,024KB");
    EXPECT_EQ(FormatFileSize(2458 * 1024), "2,458KB");
    EXPECT_EQ(FormatFileSize(2005 * 1024), "2,005KB");  // the thousands keep their zeros
    EXPECT_EQ(FormatFileSize(10239 * 1024), "10,239KB");
    EXPECT_EQ(FormatFileSize(10240 * 1024), "10.0MB");
    EXPECT_EQ(FormatFileSize(16384 * 1024), "16.0MB");
    EXPECT_EQ(FormatFileSize(20000000), "19.1MB");
    EXPECT_EQ(FormatFileSize(102399ull * 1024), "100.0MB");
    EXPECT_EQ(FormatFileSize(102400ull * 1024), "100MB");
    EXPECT_EQ(FormatFileSize(999ull * 1024 * 1024), "999MB");
    EXPECT_EQ(FormatFileSize(1000ull * 1024 * 1024), "1,000MB");
    EXPECT_EQ(FormatFileSize(1234567ull * 1024 * 1024), "1234,567MB");
    EXPECT_FALSE(FormatFileSize(UINT64_MAX).empty());
}

TEST(StatusTexts, SavedTextCarriesSizeAndExposureOnlyWithAnAperture)
{
    const ImageInfo exif = ImageInfo::ReadImageInfoFromMemory(ExifJpeg(1).data(), ExifJpeg(1).size());
    ASSERT_EQ(exif.ApertureText(), "5.6");
    EXPECT_EQ(SavedStatusText("/p/IMG_0001.JPG", 2458 * 1024, &exif),
              "Saved: /p/IMG_0001.JPG (2,458KB) - 1/125sec, F5.6");
    const ImageInfo plain;
    EXPECT_EQ(SavedStatusText("/p/IMG_0001.JPG", 513, &plain), "Saved: /p/IMG_0001.JPG (1KB)");
    EXPECT_EQ(SavedStatusText("/p/IMG_0001.JPG", 513, nullptr), "Saved: /p/IMG_0001.JPG (1KB)");
}

TEST(LoadDisplayData, JpegIsTheWholeFileAndOtherKindsGiveNothing)
{
    testsupport::TempDir dir;
    const Bytes jpeg = ExifJpeg(7);
    for (const char* name : {"a.jpg", "b.JPG", "c.JpG"}) {
        testsupport::WriteFileBytes(dir.Path() / name, jpeg);
        EXPECT_EQ(LoadDisplayData((dir.Path() / name).string()), jpeg) << name;
    }
    for (const char* name : {"d.thm", "e.png", "f.jpeg", "jpg"}) {
        testsupport::WriteFileBytes(dir.Path() / name, jpeg);
        EXPECT_FALSE(LoadDisplayData((dir.Path() / name).string())) << name;
    }
    EXPECT_FALSE(LoadDisplayData((dir.Path() / "missing.jpg").string()));
    EXPECT_FALSE(LoadDisplayData(std::string()));
    testsupport::WriteFileBytes(dir.Path() / "empty.jpg", {});
    EXPECT_FALSE(LoadDisplayData((dir.Path() / "empty.jpg").string()));
    fs::create_directory(dir.Path() / "folder.jpg");
    EXPECT_FALSE(LoadDisplayData((dir.Path() / "folder.jpg").string()));
}

TEST(LoadDisplayData, CrwGivesItsFirstEmbeddedPreview)
{
    testsupport::TempDir dir;
    const Bytes preview = ExifJpeg(1);
    const Bytes other = ExifJpeg(2);
    const auto path = (dir.Path() / "IMG_0005.CRW").string();

    testsupport::WriteFileBytes(path, Crw({{0x300a, Bytes(40, 9)}, {0x2007, preview}, {0x2007, other}}));
    EXPECT_EQ(LoadDisplayData(path), preview);

    testsupport::WriteFileBytes(path, Crw({{0x300a, Bytes(40, 9)}}));
    EXPECT_FALSE(LoadDisplayData(path)) << "no preview entry";

    Bytes truncated = Crw({{0x2007, preview}});
    truncated.erase(truncated.begin() + 40, truncated.begin() + 400);
    testsupport::WriteFileBytes(path, truncated);
    EXPECT_FALSE(LoadDisplayData(path)) << "directory and preview no longer where they claim";

    testsupport::WriteFileBytes(path, Bytes{'I', 'I', 0xFF});
    EXPECT_FALSE(LoadDisplayData(path));
}

TEST(LoadDisplayData, TiffPrefersItsJpegCompanionElseItsHead)
{
    testsupport::TempDir dir;
    const auto tif = (dir.Path() / "IMG_0003.TIF").string();
    Bytes big(kTiffDisplayBytes + 5000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7);
    testsupport::WriteFileBytes(tif, big);
    EXPECT_EQ(LoadDisplayData(tif), Bytes(big.begin(), big.begin() + kTiffDisplayBytes));

    const Bytes small(300, 4);
    testsupport::WriteFileBytes(tif, small);
    EXPECT_EQ(LoadDisplayData(tif), small);

    // The camera writes IMG_0003.JPG beside IMG_0003.TIF.
    const Bytes jpeg = ExifJpeg(3);
    testsupport::WriteFileBytes(dir.Path() / "IMG_0003.JPG", jpeg);
    EXPECT_EQ(LoadDisplayData(tif), jpeg);

    const auto lower = (dir.Path() / "shot.tif").string();
    testsupport::WriteFileBytes(lower, small);
    testsupport::WriteFileBytes(dir.Path() / "shot.jpg", jpeg);
    EXPECT_EQ(LoadDisplayData(lower), jpeg);

    // A companion without its TIFF is not shown.
    fs::remove(tif);
    EXPECT_FALSE(LoadDisplayData(tif));
}

TEST(LoadDisplayData, SharedPicturesAndHostileFilesNeverCrash)
{
    REQUIRE_SHARED_TESTDATA(shared);
    // This camera file keeps only its small thumbnail (0x2008), not the JPEG preview.
    const fs::path crw = shared / "real" / "exiv2-canon-powershot-s40.crw";
    if (fs::exists(crw)) {
        EXPECT_FALSE(LoadDisplayData(crw.string()));
    }
    // The .tiff name is not one of the program's own extensions; the reads must simply
    // be safe.
    for (const char* folder : {"real", "hostile"}) {
        for (const auto& entry : fs::directory_iterator(shared / folder))
            (void)LoadDisplayData(entry.path().string());
    }
}

TEST_F(HistoryTest, AddMakesTheNewPictureCurrentAndReadsItsRecord)
{
    EXPECT_EQ(history.CurrentIndex(), -1);
    EXPECT_EQ(history.Current(), nullptr);
    const auto paths = SaveJpegs(2);
    EXPECT_EQ(history.Count(), 2u);
    EXPECT_EQ(history.CurrentIndex(), 1);
    ASSERT_NE(history.Current(), nullptr);
    EXPECT_EQ(history.Current()->Path(), paths[1]);
    EXPECT_EQ(history.Current()->ApertureText(), "5.6");
    history.ForgetCurrent();
    EXPECT_EQ(history.Current(), nullptr);
}

TEST_F(HistoryTest, PrevAndNextWrapAroundThreePictures)
{
    const auto p = SaveJpegs(3);
    const auto h = view.Hooks();
    ASSERT_TRUE(history.ShowPreviousPicture(h));
    ASSERT_TRUE(history.ShowPreviousPicture(h));
    ASSERT_TRUE(history.ShowPreviousPicture(h));
    EXPECT_EQ(view.shownPaths, (std::vector<std::string>{p[1], p[0], p[2]}));
    EXPECT_EQ(view.indexWhenShown, (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(view.shownBytes[1], ExifJpeg(1));
    EXPECT_EQ(view.statuses, (std::vector<std::string>{Status(2, 3, p[1]), Status(1, 3, p[0]), Status(3, 3, p[2])}));

    ASSERT_TRUE(history.ShowNextPicture(h));
    EXPECT_EQ(view.shownPaths.back(), p[0]);
    EXPECT_EQ(view.LastStatus(), Status(1, 3, p[0]));
    ASSERT_TRUE(history.ShowNextPicture(h));
    EXPECT_EQ(view.shownPaths.back(), p[1]);
}

TEST_F(HistoryTest, OnePictureOnShowPrevDoesNothingNextShowsItAgain)
{
    const auto p = SaveJpegs(1);
    const auto h = view.Hooks();
    EXPECT_FALSE(history.ShowPreviousPicture(h));
    EXPECT_TRUE(view.shownPaths.empty());
    EXPECT_TRUE(view.statuses.empty());
    EXPECT_TRUE(history.ShowNextPicture(h));
    EXPECT_EQ(view.shownPaths, std::vector<std::string>{p[0]});
    EXPECT_EQ(view.LastStatus(), Status(1, 1, p[0]));
    EXPECT_EQ(history.CurrentIndex(), 0);

    // After a preview picture the single picture is reachable both ways.
    history.ForgetCurrent();
    EXPECT_TRUE(history.ShowPreviousPicture(h));
    EXPECT_EQ(history.CurrentIndex(), 0);
}

TEST_F(HistoryTest, FromAPreviewNextGoesToTheOldestAndPrevToTheNewest)
{
    const auto p = SaveJpegs(3);
    const auto h = view.Hooks();
    history.ForgetCurrent();
    ASSERT_TRUE(history.ShowNextPicture(h));
    EXPECT_EQ(view.shownPaths.back(), p[0]);
    history.ForgetCurrent();
    ASSERT_TRUE(history.ShowPreviousPicture(h));
    EXPECT_EQ(view.shownPaths.back(), p[2]);
}

TEST_F(HistoryTest, EmptyHistoryBrowsesNowhere)
{
    const auto h = view.Hooks();
    EXPECT_FALSE(history.ShowPreviousPicture(h));
    EXPECT_FALSE(history.ShowNextPicture(h));
    EXPECT_EQ(history.CurrentIndex(), -1);
    EXPECT_TRUE(view.statuses.empty());
}

// Stepping onto a picture deleted outside the program (or one without a picture to show)
// leaves nothing of the previous picture on show and says why; Delete then asks about
// that entry and takes it out of the list.
TEST_F(HistoryTest, APictureThatCannotBeShownEmptiesTheDisplayAndSaysWhy)
{
    const auto p = SaveJpegs(3);
    const std::string noPreview = Save("IMG_0004.CRW", Crw({{0x2005, Bytes(64, 1)}}));
    fs::remove(p[1]);
    const auto h = view.Hooks();
    EXPECT_TRUE(history.ShowNextPicture(h));  // from the CRW round to A
    EXPECT_EQ(view.shownPaths.back(), p[0]);
    EXPECT_FALSE(history.ShowNextPicture(h));
    EXPECT_EQ(history.CurrentIndex(), 1);
    EXPECT_EQ(view.shownPaths.size(), 1u);
    EXPECT_EQ(view.clears, 1);
    EXPECT_EQ(view.LastStatus(), "Image 2 of 4: " + p[1] + " - the file is gone");
    EXPECT_TRUE(history.ShowNextPicture(h));  // the next step goes on past it
    EXPECT_EQ(view.shownPaths.back(), p[2]);
    EXPECT_FALSE(history.ShowNextPicture(h));
    EXPECT_EQ(view.LastStatus(), "Image 4 of 4: " + noPreview + " - this picture cannot be shown");
    EXPECT_EQ(view.clears, 2);

    // Delete acts on the entry the status names: asked, gone from the list.
    ASSERT_TRUE(history.ShowPreviousPicture(h));  // C
    EXPECT_FALSE(history.ShowPreviousPicture(h));  // B, gone
    history.DeleteCurrentPicture(h);
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0], "Are you sure you wish to delete:\n" + p[1]);
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(history.Count(), 3u);
    EXPECT_EQ(view.shownPaths.back(), p[2]);  // the picture that followed it
    EXPECT_TRUE(fs::exists(p[2]));
}

TEST_F(HistoryTest, BrowsingReadsThePictureInformationAfresh)
{
    const std::string path = Save("IMG_0001.JPG", exiftest::Jpeg({}));
    Save("IMG_0002.JPG", exiftest::Jpeg({}));
    EXPECT_TRUE(history.Entries()[0].ApertureText().empty());
    testsupport::WriteFileBytes(path, ExifJpeg(1));  // stamped after it was listed
    ASSERT_TRUE(history.ShowPreviousPicture(view.Hooks()));
    EXPECT_EQ(view.LastStatus(), Status(1, 2, path));
}

TEST_F(HistoryTest, DeletingTheMiddlePictureShowsTheOneAfterIt)
{
    const auto p = SaveJpegs(3);
    const auto h = view.Hooks();
    ASSERT_TRUE(history.ShowPreviousPicture(h));  // B
    view.statuses.clear();
    history.DeleteCurrentPicture(h);

    EXPECT_EQ(view.questions, std::vector<std::string>{"Are you sure you wish to delete:\n" + p[1]});
    EXPECT_FALSE(fs::exists(p[1]));
    EXPECT_TRUE(fs::exists(p[0]) && fs::exists(p[2]));
    ASSERT_EQ(history.Count(), 2u);
    EXPECT_EQ(history.CurrentIndex(), 1);
    EXPECT_EQ(view.shownPaths.back(), p[2]);
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Deleted " + p[1], Status(2, 2, p[2])}));
    EXPECT_EQ(view.clears, 0);
    EXPECT_GE(view.menuRefreshes, 1);
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(HistoryTest, DeletingTheNewestPictureShowsTheOldest)
{
    const auto p = SaveJpegs(3);
    const auto h = view.Hooks();
    history.DeleteCurrentPicture(h);
    EXPECT_FALSE(fs::exists(p[2]));
    EXPECT_EQ(history.CurrentIndex(), 0);
    EXPECT_EQ(view.shownPaths.back(), p[0]);
    EXPECT_EQ(view.LastStatus(), Status(1, 2, p[0]));
}

TEST_F(HistoryTest, DeletingTheOnlyPictureClearsTheDisplay)
{
    const auto p = SaveJpegs(1);
    history.DeleteCurrentPicture(view.Hooks());
    EXPECT_FALSE(fs::exists(p[0]));
    EXPECT_TRUE(history.Empty());
    EXPECT_EQ(history.CurrentIndex(), -1);
    EXPECT_EQ(view.clears, 1);
    EXPECT_EQ(view.LastStatus(), "Deleted " + p[0]);
    EXPECT_GE(view.menuRefreshes, 1);
}

TEST_F(HistoryTest, AnsweringNoOrHavingNoQuestionChangesNothing)
{
    const auto p = SaveJpegs(2);
    view.answer = false;
    history.DeleteCurrentPicture(view.Hooks());
    HistoryView silent = view.Hooks();
    silent.askYesNo = nullptr;
    history.DeleteCurrentPicture(silent);

    EXPECT_EQ(view.questions.size(), 1u);
    EXPECT_TRUE(fs::exists(p[1]));
    EXPECT_EQ(history.Count(), 2u);
    EXPECT_EQ(history.CurrentIndex(), 1);
    EXPECT_EQ(view.clears, 0);
    EXPECT_TRUE(view.statuses.empty());
}

TEST_F(HistoryTest, DeletingARawPictureTakesItsThumbnailAlong)
{
    const Bytes crw = Crw({{0x2007, ExifJpeg(1)}});
    const std::string raw = Save("IMG_0005.CRW", crw);
    testsupport::WriteFileBytes(dir.Path() / "IMG_0005.THM", ExifJpeg(1));
    const std::string lowerRaw = Save("img_0006.crw", crw);
    testsupport::WriteFileBytes(dir.Path() / "img_0006.thm", ExifJpeg(1));
    const std::string bare = Save("IMG_0007.CRW", crw);  // its thumbnail is already gone
    const auto h = view.Hooks();

    history.DeleteCurrentPicture(h);
    EXPECT_FALSE(fs::exists(bare));
    history.DeleteCurrentPicture(h);  // IMG_0005.CRW, now shown after the deletion wrapped round
    EXPECT_FALSE(fs::exists(raw));
    EXPECT_FALSE(fs::exists(dir.Path() / "IMG_0005.THM"));
    history.DeleteCurrentPicture(h);
    EXPECT_FALSE(fs::exists(lowerRaw));
    EXPECT_FALSE(fs::exists(dir.Path() / "img_0006.thm"));
    EXPECT_TRUE(history.Empty());
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(HistoryTest, APictureAlreadyGoneIsAskedAboutThenDroppedFromTheList)
{
    const auto p = SaveJpegs(2);
    fs::remove(p[1]);
    view.answer = false;
    history.DeleteCurrentPicture(view.Hooks());
    EXPECT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(history.Count(), 2u) << "No: the entry stays";
    view.answer = true;
    history.DeleteCurrentPicture(view.Hooks());
    EXPECT_EQ(history.Count(), 1u);
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(view.shownPaths.back(), p[0]);

    // With a preview on show there is nothing to delete: the display is only cleared.
    history.ForgetCurrent();
    history.DeleteCurrentPicture(view.Hooks());
    EXPECT_EQ(view.questions.size(), 2u);
    EXPECT_EQ(view.clears, 1);
    EXPECT_EQ(history.Count(), 1u);
}

TEST_F(HistoryTest, AFailedDeletionIsReportedKeepsTheEntryAndClearsTheDisplay)
{
    SaveJpegs(1);
    const std::string stuck = (dir.Path() / "IMG_0002.JPG").string();
    fs::create_directory(stuck);  // exists, but unlink cannot remove it
    history.AddToHistory(stuck);
    history.DeleteCurrentPicture(view.Hooks());
    EXPECT_EQ(view.errors, std::vector<std::string>{"Error|Error deleting file: " + stuck});
    EXPECT_TRUE(fs::exists(stuck));
    EXPECT_EQ(history.Count(), 2u);
    EXPECT_EQ(history.CurrentIndex(), -1);
    EXPECT_EQ(view.clears, 1);
}

TEST_F(HistoryTest, WhenTheFollowingPictureCannotBeLoadedTheDeletedOneIsNotLeftOnShow)
{
    const auto p = SaveJpegs(3);
    const auto h = view.Hooks();
    ASSERT_TRUE(history.ShowPreviousPicture(h));  // B
    fs::remove(p[2]);
    history.DeleteCurrentPicture(h);
    EXPECT_FALSE(fs::exists(p[1]));
    EXPECT_EQ(history.Count(), 2u);
    EXPECT_EQ(view.clears, 1);
    EXPECT_EQ(history.CurrentIndex(), 1);  // on C, which is gone: the status says so
    EXPECT_EQ(view.LastStatus(), "Image 2 of 2: " + p[2] + " - the file is gone");
}

TEST_F(HistoryTest, APictureSavedWhileTheQuestionIsUpStaysOnShow)
{
    const auto p = SaveJpegs(3);
    const auto h = view.Hooks();
    ASSERT_TRUE(history.ShowPreviousPicture(h));  // B
    const std::string d = (dir.Path() / "IMG_0004.JPG").string();
    testsupport::WriteFileBytes(d, ExifJpeg(4));
    view.duringQuestion = [&] { history.AddToHistory(d); };
    const size_t shownBefore = view.shownPaths.size();

    history.DeleteCurrentPicture(h);
    EXPECT_FALSE(fs::exists(p[1]));
    ASSERT_EQ(history.Count(), 3u);
    EXPECT_EQ(history.Entries()[0].Path(), p[0]);
    EXPECT_EQ(history.Entries()[1].Path(), p[2]);
    EXPECT_EQ(history.Entries()[2].Path(), d);
    ASSERT_NE(history.Current(), nullptr);
    EXPECT_EQ(history.Current()->Path(), d);
    EXPECT_EQ(view.shownPaths.size(), shownBefore);
    EXPECT_EQ(view.clears, 0);
}

TEST_F(HistoryTest, CaptionNamesThePictureOnShow)
{
    EXPECT_EQ(history.HistoryCaption(false), "Tethrocam");
    EXPECT_EQ(history.HistoryCaption(true), "Preview");
    SaveJpegs(3);
    ASSERT_TRUE(history.ShowPreviousPicture(view.Hooks()));
    EXPECT_EQ(history.HistoryCaption(true), "[2 of 3]: IMG_0002.JPG");
    EXPECT_EQ(history.HistoryCaption(false), "Tethrocam");
    history.ForgetCurrent();
    EXPECT_EQ(history.HistoryCaption(true), "Preview");
}
