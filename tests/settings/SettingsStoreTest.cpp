// The registry key as a text file, and the settings record and the frame's placement
// loaded from and saved to it.
#include "settings/RegistryStore.h"
#include "settings/Settings.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kHeader = "[HKEY_CURRENT_USER\\SOFTWARE\\LarkspurWorks\\Tethrocam\\100]";

std::string ReadText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const fs::path& p, const std::string& text)
{
    std::ofstream(p, std::ios::binary) << text;
}

std::string KeyFile(const std::string& valueLines)
{
    return "Windows Registry Editor Version 5.00\n\n" + kHeader + "\n" + valueLines;
}

using testsupport::ScopedEnv;

// Every test gets a home of its own, so the default folder is predictable.
class SettingsStore : public ::testing::Test {
protected:
    testsupport::TempDir tmp;
    ScopedEnv home {"HOME", tmp.Str().c_str()};
    ScopedEnv xdg {"XDG_CONFIG_HOME", nullptr};
    fs::path file = tmp.Path() / "config" / "tethrocam" / "settings.reg";

    std::optional<uint32_t> Dword(const std::string& name)
    {
        RegistryStore store(file.string());
        uint32_t v = 0;
        if (!store.Open() || store.QueryDword(name, &v) != RegistryQuery::Ok)
            return std::nullopt;
        return v;
    }
    std::optional<std::string> Text(const std::string& name)
    {
        RegistryStore store(file.string());
        std::string v;
        if (!store.Open() || store.QueryString(name, &v) != RegistryQuery::Ok)
            return std::nullopt;
        return v;
    }
    void WriteKey(const std::string& valueLines)
    {
        fs::create_directories(file.parent_path());
        WriteText(file, KeyFile(valueLines));
    }
};

} // namespace

// ---------------------------------------------------------------------------------------
// The key file

TEST(RegistryFileText, ReadsNumbersAndTextsWithEscapes)
{
    RegistryFile f(RegistryStore::FullKeyName());
    f.Parse(KeyFile("\"Year\"=dword:00000001\n"
                    "\"GridColour\"=dword:0000FF00\n"
                    "\"Directory\"=\"C:\\\\Pictures\\\\Tethrocam\"\n"
                    "\"LaunchEditorCmd\"=\"\\\"C:\\\\Program Files\\\\ed.exe\\\" -x\"\n"
                    "\"Empty\"=\"\"\n"
                    "\"Short\"=dword:7\n"));
    EXPECT_EQ(f.Find("Year")->dword, 1u);
    EXPECT_EQ(f.Find("GridColour")->dword, 0xFF00u);
    EXPECT_EQ(f.Find("Short")->dword, 7u);
    EXPECT_EQ(f.Find("Directory")->text, "C:\\Pictures\\Tethrocam");
    EXPECT_EQ(f.Find("LaunchEditorCmd")->text, "\"C:\\Program Files\\ed.exe\" -x");
    EXPECT_EQ(f.Find("Empty")->type, RegistryValueType::Sz);
    EXPECT_EQ(f.Find("Empty")->text, "");
    // Value names compare without regard to letter case, as the registry's do.
    EXPECT_EQ(f.Find("year")->dword, 1u);
    EXPECT_FALSE(f.Find("Month"));
}

TEST(RegistryFileText, DamagedLinesReadAsMissing)
{
    RegistryFile f(RegistryStore::FullKeyName());
    f.Parse(KeyFile("\"BadHex\"=dword:0000000g\n"
                    "\"TooLong\"=dword:123456789\n"
                    "\"NoDigits\"=dword:\n"
                    "\"Binary\"=hex:01,00,00,00\n"
                    "\"Expand\"=hex(2):41,00\n"
                    "\"Deleted\"=-\n"
                    "\"Open\"=\"no closing quote\n"
                    "\"BadEscape\"=\"a\\qb\"\n"
                    "\"Trailing\"=\"text\" junk\n"
                    "\"NoEquals\" dword:00000001\n"
                    "\"Unterminated name=dword:00000001\n"
                    "garbage line without quotes\n"
                    "@=\"default value\"\n"
                    "\"Good\"=dword:00000002\n"));
    for (const char* name : {"BadHex", "TooLong", "NoDigits", "Binary", "Expand", "Deleted", "Open",
                             "BadEscape", "Trailing", "NoEquals", "Unterminated name"})
        EXPECT_FALSE(f.Find(name)) << name;
    EXPECT_EQ(f.Find("Good")->dword, 2u);
}

TEST(RegistryFileText, OnlyThisKeyCountsAndOtherLinesAreKeptVerbatim)
{
    const std::string text = "Windows Registry Editor Version 5.00\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n"
                             "\"Year\"=dword:00000009\n"
                             "; a comment someone wrote\n"
                             "\n"
                             + kHeader + "\n"
                             "\"Year\"=dword:00000000\n"
                             "\"Odd\"=hex:00\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\SOFTWARE\\LarkspurWorks\\Tethrocam\\200]\n"
                             "\"Month\"=dword:00000005\n";
    RegistryFile f(RegistryStore::FullKeyName());
    f.Parse(text);
    EXPECT_EQ(f.Find("Year")->dword, 0u);
    EXPECT_FALSE(f.Find("Month"));
    EXPECT_EQ(f.Serialize(), text);

    // A new value goes to the end of this key, before the next key's header.
    ASSERT_TRUE(f.Set("Day", {RegistryValueType::Dword, 1, {}}));
    ASSERT_TRUE(f.Set("Year", {RegistryValueType::Dword, 1, {}}));
    const std::string expected = "Windows Registry Editor Version 5.00\n"
                                 "\n"
                                 "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n"
                                 "\"Year\"=dword:00000009\n"
                                 "; a comment someone wrote\n"
                                 "\n"
                                 + kHeader + "\n"
                                 "\"Year\"=dword:00000001\n"
                                 "\"Odd\"=hex:00\n"
                                 "\"Day\"=dword:00000001\n"
                                 "\n"
                                 "[HKEY_CURRENT_USER\\SOFTWARE\\LarkspurWorks\\Tethrocam\\200]\n"
                                 "\"Month\"=dword:00000005\n";
    EXPECT_EQ(f.Serialize(), expected);
}

TEST(RegistryFileText, RepeatedNamesCrlfAndByteOrderMark)
{
    RegistryFile f(RegistryStore::FullKeyName());
    f.Parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
            "[hkey_current_user\\software\\larkspurworks\\tethrocam\\100]\r\n"
            "\"Year\"=dword:00000003\r\n"
            "\"YEAR\"=dword:00000004\r\n"
            "\"Day\"=dword:00000001\r\n"
            "\"Day\"=hex:01\r\n");
    EXPECT_EQ(f.Find("Year")->dword, 4u); // the later line wins, as on import
    EXPECT_FALSE(f.Find("Day"));           // ... also when it cannot be read
    ASSERT_TRUE(f.Set("Day", {RegistryValueType::Dword, 8, {}}));
    EXPECT_EQ(f.Find("Day")->dword, 8u);
}

TEST(RegistryFileText, TextsSurviveWritingAndReadingBack)
{
    const std::vector<std::string> texts = {"", "plain", "back\\slash", "\"quoted\"", "\\\"", "trailing\\",
                                            "ünïcödé 写真", std::string(2000, 'x')};
    RegistryFile f(RegistryStore::FullKeyName());
    for (size_t i = 0; i < texts.size(); ++i)
        ASSERT_TRUE(f.Set(std::string("T").append(std::to_string(i)), {RegistryValueType::Sz, 0, texts[i]}));
    ASSERT_TRUE(f.Set("Name \"with\" \\ quotes", {RegistryValueType::Dword, 0xFFFFFFFFu, {}}));

    RegistryFile back(RegistryStore::FullKeyName());
    back.Parse(f.Serialize());
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(back.Find(std::string("T").append(std::to_string(i)))->text, texts[i]) << i;
    EXPECT_EQ(back.Find("Name \"with\" \\ quotes")->dword, 0xFFFFFFFFu);
    EXPECT_EQ(back.Serialize(), f.Serialize());

    // Line breaks and NUL cannot be held on one line: refused, nothing changes.
    EXPECT_FALSE(f.Set("T1", {RegistryValueType::Sz, 0, "two\nlines"}));
    EXPECT_FALSE(f.Set("T1", {RegistryValueType::Sz, 0, std::string("nul\0inside", 10)}));
    EXPECT_FALSE(f.Set("bad\rname", {RegistryValueType::Dword, 1, {}}));
    EXPECT_EQ(f.Find("T1")->text, "plain");
}

// ---------------------------------------------------------------------------------------
// The store

TEST_F(SettingsStore, OpeningCreatesTheFileWithTheKey)
{
    RegistryStore store(file.string());
    ASSERT_TRUE(store.Open());
    EXPECT_EQ(ReadText(file), "Windows Registry Editor Version 5.00\n\n" + kHeader + "\n");
    uint32_t v = 0;
    EXPECT_EQ(store.QueryDword("Year", &v), RegistryQuery::NotFound);
    EXPECT_TRUE(store.Close());
    EXPECT_FALSE(store.IsOpen());
    EXPECT_EQ(store.QueryDword("Year", &v), RegistryQuery::NotOpen);
    EXPECT_FALSE(store.SetDword("Year", 1));
}

TEST_F(SettingsStore, QueriesReportTypeAndTextBound)
{
    WriteKey("\"Number\"=dword:0000002a\n"
             "\"Text\"=\"abc\"\n"
             "\"Fits\"=\"" + std::string(1023, 'd') + "\"\n"
             "\"TooLong\"=\"" + std::string(1024, 'd') + "\"\n");
    RegistryStore store(file.string());
    ASSERT_TRUE(store.Open());
    uint32_t n = 0;
    std::string t;
    EXPECT_EQ(store.QueryDword("Number", &n), RegistryQuery::Ok);
    EXPECT_EQ(n, 42u);
    EXPECT_EQ(store.QueryDword("Text", &n), RegistryQuery::WrongType);
    EXPECT_EQ(store.QueryString("Number", &t), RegistryQuery::WrongType);
    EXPECT_EQ(store.QueryString("Fits", &t), RegistryQuery::Ok);
    EXPECT_EQ(t.size(), 1023u);
    t = "unchanged";
    EXPECT_EQ(store.QueryString("TooLong", &t), RegistryQuery::MoreData);
    EXPECT_EQ(t, "unchanged");
    EXPECT_EQ(store.QueryString("Text", &t, 4), RegistryQuery::Ok);
    EXPECT_EQ(store.QueryString("Text", &t, 3), RegistryQuery::MoreData);
    EXPECT_EQ(store.QueryType("Text"), RegistryValueType::Sz);
    EXPECT_EQ(store.QueryType("Number"), RegistryValueType::Dword);
    EXPECT_EQ(store.QueryType("Nothing"), std::nullopt);
}

TEST_F(SettingsStore, KeyThatCannotBeOpened)
{
    // The file's place is taken by a folder; the folder's place by a regular file.
    fs::create_directories(tmp.Path() / "dir.reg");
    RegistryStore onFolder((tmp.Path() / "dir.reg").string());
    EXPECT_FALSE(onFolder.Open());
    testsupport::WriteFileBytes(tmp.Path() / "plainfile", {1});
    RegistryStore underFile((tmp.Path() / "plainfile" / "settings.reg").string());
    EXPECT_FALSE(underFile.Open());
    EXPECT_FALSE(underFile.Close());
}

TEST_F(SettingsStore, ValuesWrittenMeanwhileByAnotherStoreAreKept)
{
    RegistryStore view(file.string());
    RegistryStore frame(file.string());
    ASSERT_TRUE(view.Open());
    ASSERT_TRUE(frame.Open());
    ASSERT_TRUE(frame.SetDword("WindowLeft", 10));
    ASSERT_TRUE(frame.Close());
    ASSERT_TRUE(view.SetDword("Year", 0));
    ASSERT_TRUE(view.Close());
    EXPECT_EQ(Dword("WindowLeft"), 10u);
    EXPECT_EQ(Dword("Year"), 0u);
}

TEST_F(SettingsStore, SavingLeavesNoTemporaryFilesAndKeepsPermissions)
{
    WriteKey("");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    RegistryStore store(file.string());
    ASSERT_TRUE(store.Open());
    store.SetDword("Year", 1);
    ASSERT_TRUE(store.Close());
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(file.parent_path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string> {"settings.reg"});
    EXPECT_EQ(fs::status(file).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SettingsStore, SettingsFileKeptAsALinkStaysALink)
{
    const fs::path real = tmp.Path() / "dotfiles" / "tethrocam.reg";
    fs::create_directories(real.parent_path());
    WriteText(real, KeyFile("\"Day\"=dword:00000000\n"));
    fs::create_directories(file.parent_path());
    fs::create_symlink(real, file);

    RegistryStore store(file.string());
    Settings s;
    ASSERT_TRUE(LoadSettings(s, store));
    EXPECT_FALSE(s.Day);
    s.Red = true;
    ASSERT_TRUE(SaveSettings(s, store));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_NE(ReadText(real).find("\"Red\"=dword:00000001"), std::string::npos);
}

TEST_F(SettingsStore, DefaultLocationFollowsXdgConfigHome)
{
    EXPECT_EQ(RegistryStore::DefaultFilePath(), tmp.Str() + "/.config/tethrocam/settings.reg");
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/somewhere/config");
        EXPECT_EQ(RegistryStore::DefaultFilePath(), "/somewhere/config/tethrocam/settings.reg");
    }
    {
        ScopedEnv relative("XDG_CONFIG_HOME", "relative/config"); // invalid: ignored
        EXPECT_EQ(RegistryStore::DefaultFilePath(), tmp.Str() + "/.config/tethrocam/settings.reg");
    }
    RegistryStore store;
    EXPECT_EQ(store.FilePath(), tmp.Str() + "/.config/tethrocam/settings.reg");
}

// ---------------------------------------------------------------------------------------
// The settings record

TEST_F(SettingsStore, FirstRunGivesDefaultsAndClosingWritesEveryValue)
{
    RegistryStore store(file.string());
    Settings s;
    s.Red = true; // loading starts from the defaults
    ASSERT_TRUE(LoadSettings(s, store));
    EXPECT_FALSE(s.Red);
    EXPECT_FALSE(s.DisplayFocusPoints);
    EXPECT_EQ(s.GridColour, 65280u);
    EXPECT_EQ(s.NumberOfHorizontalGridDivisions, 9);
    EXPECT_EQ(s.NumberOfVerticalGridDivisions, 9);
    EXPECT_EQ(s.HighlightBlinkThreshold, 250);
    EXPECT_EQ(s.FilenamePrefix, "IMG_");
    EXPECT_EQ(s.Directory, tmp.Str() + "/Pictures/Tethrocam");
    EXPECT_TRUE(s.Year && s.Month && s.Day && s.FlattenDate);
    EXPECT_EQ(s.StoreImage, 1);
    EXPECT_EQ(s.ShellExecute, 1);
    EXPECT_EQ(s.AutoEdit, 0);
    EXPECT_TRUE(s.Intensity);
    EXPECT_EQ(s.LaunchEditorCmd, "");
    EXPECT_EQ(s.OrientationSetting, 0);
    EXPECT_EQ(s.MonitorProfile, 0);
    EXPECT_EQ(s.MonitorProfileFile, "");
    EXPECT_EQ(s.RenderingIntent, 0);
    EXPECT_FALSE(s.FocusPeaking);
    EXPECT_EQ(s.FocusPeakingColour, 0x000000FFu);  // red
    EXPECT_EQ(s.LiveViewReviewTime, 2);

    ASSERT_TRUE(SaveSettings(s, store));
    RegistryFile written(RegistryStore::FullKeyName());
    written.Parse(ReadText(file));
    std::vector<std::string> names;
    for (const auto& [name, readable] : written.ValueNames()) {
        EXPECT_TRUE(readable) << name;
        names.push_back(name);
    }
    const std::vector<std::string> saveOrder = {
        "DisplayFocusPoints", "DisplayGrid", "GridColour", "NumberOfHorizontalGridDivisions",
        "NumberOfVerticalGridDivisions", "HighlightBlink", "HighlightBlinkMethod", "HighlightBlinkThreshold",
        "FullscreenCaption", "FilenamePrefix", "Directory", "Year", "Month", "Day", "FlattenDate",
        "MiddleBtnAction", "RightBtnAction", "BlankScreenWhenTakingPhoto", "StoreImage", "LaunchEditorCmd",
        "AutoEdit", "ShellExecute", "Intensity", "Red", "Green", "Blue", "OrientationSetting",
        "SequenceKind", "BracketFrames", "BracketStep", "BracketOrder", "StackFrames", "StackStepSize",
        "StackStepCount", "StackFromNearest", "FocusSettleMs", "MonitorProfile", "MonitorProfileFile",
        "RenderingIntent", "FocusPeaking", "FocusPeakingColour", "LiveViewReviewTime"};
    EXPECT_EQ(names, saveOrder);
    EXPECT_NE(ReadText(file).find("\"GridColour\"=dword:0000ff00\n"), std::string::npos);
    EXPECT_NE(ReadText(file).find("\"Directory\"=\"" + tmp.Str() + "/Pictures/Tethrocam\"\n"), std::string::npos);
}

TEST_F(SettingsStore, EveryFieldSurvivesARoundTrip)
{
    Settings s;
    s.DisplayFocusPoints = true;
    s.DisplayGrid = true;
    s.GridColour = 0x00123456;
    s.NumberOfHorizontalGridDivisions = 3;
    s.NumberOfVerticalGridDivisions = -4;
    s.HighlightBlink = true;
    s.HighlightBlinkMethod = 1;
    s.HighlightBlinkThreshold = 200;
    s.FullscreenCaption = true;
    s.FilenamePrefix = "D60_";
    s.Directory = "/data/\"shots\"\\raw";
    s.Year = false;
    s.Month = false;
    s.Day = false;
    s.FlattenDate = false;
    s.MiddleBtnAction = 2;
    s.RightBtnAction = 3;
    s.BlankScreenWhenTakingPhoto = true;
    s.StoreImage = 3;
    s.LaunchEditorCmd = "gimp --new-instance";
    s.AutoEdit = 1;
    s.ShellExecute = 0;
    s.Intensity = false;
    s.Red = true;
    s.Green = true;
    s.Blue = true;
    s.OrientationSetting = 4;
    s.SequenceKind = 2;
    s.BracketFrames = 7;
    s.BracketStep = 3;
    s.BracketOrder = 1;
    s.StackFrames = 120;
    s.StackStepSize = 1;
    s.StackStepCount = 4;
    s.StackFromNearest = 1;
    s.FocusSettleMs = 750;
    s.MonitorProfile = 2;
    s.MonitorProfileFile = "/home/ann/.local/share/icc/monitor.icc";
    s.RenderingIntent = 1;
    s.FocusPeaking = true;
    s.FocusPeakingColour = 0x00FF00FF;
    s.LiveViewReviewTime = 0;

    RegistryStore store(file.string());
    ASSERT_TRUE(SaveSettings(s, store));
    Settings back;
    ASSERT_TRUE(LoadSettings(back, store));
    EXPECT_EQ(back.DisplayFocusPoints, s.DisplayFocusPoints);
    EXPECT_EQ(back.DisplayGrid, s.DisplayGrid);
    EXPECT_EQ(back.GridColour, s.GridColour);
    EXPECT_EQ(back.NumberOfHorizontalGridDivisions, s.NumberOfHorizontalGridDivisions);
    EXPECT_EQ(back.NumberOfVerticalGridDivisions, s.NumberOfVerticalGridDivisions);
    EXPECT_EQ(back.HighlightBlink, s.HighlightBlink);
    EXPECT_EQ(back.HighlightBlinkMethod, s.HighlightBlinkMethod);
    EXPECT_EQ(back.HighlightBlinkThreshold, s.HighlightBlinkThreshold);
    EXPECT_EQ(back.FullscreenCaption, s.FullscreenCaption);
    EXPECT_EQ(back.FilenamePrefix, s.FilenamePrefix);
    EXPECT_EQ(back.Directory, s.Directory);
    EXPECT_EQ(back.Year, s.Year);
    EXPECT_EQ(back.Month, s.Month);
    EXPECT_EQ(back.Day, s.Day);
    EXPECT_EQ(back.FlattenDate, s.FlattenDate);
    EXPECT_EQ(back.MiddleBtnAction, s.MiddleBtnAction);
    EXPECT_EQ(back.RightBtnAction, s.RightBtnAction);
    EXPECT_EQ(back.BlankScreenWhenTakingPhoto, s.BlankScreenWhenTakingPhoto);
    EXPECT_EQ(back.StoreImage, s.StoreImage);
    EXPECT_EQ(back.LaunchEditorCmd, s.LaunchEditorCmd);
    EXPECT_EQ(back.AutoEdit, s.AutoEdit);
    EXPECT_EQ(back.ShellExecute, s.ShellExecute);
    EXPECT_EQ(back.Intensity, s.Intensity);
    EXPECT_EQ(back.Red, s.Red);
    EXPECT_EQ(back.Green, s.Green);
    EXPECT_EQ(back.Blue, s.Blue);
    EXPECT_EQ(back.OrientationSetting, s.OrientationSetting);
    EXPECT_EQ(back.SequenceKind, s.SequenceKind);
    EXPECT_EQ(back.BracketFrames, s.BracketFrames);
    EXPECT_EQ(back.BracketStep, s.BracketStep);
    EXPECT_EQ(back.BracketOrder, s.BracketOrder);
    EXPECT_EQ(back.StackFrames, s.StackFrames);
    EXPECT_EQ(back.StackStepSize, s.StackStepSize);
    EXPECT_EQ(back.StackStepCount, s.StackStepCount);
    EXPECT_EQ(back.StackFromNearest, s.StackFromNearest);
    EXPECT_EQ(back.FocusSettleMs, s.FocusSettleMs);
    EXPECT_EQ(back.MonitorProfile, s.MonitorProfile);
    EXPECT_EQ(back.MonitorProfileFile, s.MonitorProfileFile);
    EXPECT_EQ(back.RenderingIntent, s.RenderingIntent);
    EXPECT_EQ(back.FocusPeaking, s.FocusPeaking);
    EXPECT_EQ(back.FocusPeakingColour, s.FocusPeakingColour);
    EXPECT_EQ(back.LiveViewReviewTime, s.LiveViewReviewTime);
}

TEST_F(SettingsStore, WrongTypesOverlongTextsAndDamagedLinesLeaveDefaults)
{
    WriteKey("\"StoreImage\"=\"2\"\n"                                  // text where a number belongs
             "\"FilenamePrefix\"=dword:00000001\n"                     // number where a text belongs
             "\"Directory\"=\"" + std::string(1024, 'x') + "\"\n"      // 1024 characters: too long
             "\"LaunchEditorCmd\"=\"" + std::string(1023, 'e') + "\"\n" // 1023: fits
             "\"GridColour\"=dword:zz\n"
             "\"Year\"=hex:00\n"
             "\"Month\"=dword:00000000\n");
    RegistryStore store(file.string());
    Settings s;
    ASSERT_TRUE(LoadSettings(s, store));
    EXPECT_EQ(s.StoreImage, 1);
    EXPECT_EQ(s.FilenamePrefix, "IMG_");
    EXPECT_EQ(s.Directory, tmp.Str() + "/Pictures/Tethrocam");
    EXPECT_EQ(s.LaunchEditorCmd, std::string(1023, 'e'));
    EXPECT_EQ(s.GridColour, 65280u);
    EXPECT_TRUE(s.Year);
    EXPECT_FALSE(s.Month);
}

TEST_F(SettingsStore, NumbersLoadUnvalidatedAndFlagsNormalise)
{
    WriteKey("\"DisplayGrid\"=dword:00000007\n"
             "\"Blue\"=dword:80000000\n"
             "\"StoreImage\"=dword:00000000\n"
             "\"OrientationSetting\"=dword:00000007\n"
             "\"NumberOfHorizontalGridDivisions\"=dword:00000000\n"
             "\"NumberOfVerticalGridDivisions\"=dword:ffffffff\n"
             "\"HighlightBlinkThreshold\"=dword:00001000\n");
    RegistryStore store(file.string());
    Settings s;
    ASSERT_TRUE(LoadSettings(s, store));
    EXPECT_TRUE(s.DisplayGrid);
    EXPECT_TRUE(s.Blue);
    EXPECT_EQ(s.StoreImage, 0);
    EXPECT_EQ(s.OrientationSetting, 7);
    EXPECT_EQ(s.NumberOfHorizontalGridDivisions, 0);
    EXPECT_EQ(s.NumberOfVerticalGridDivisions, -1);
    EXPECT_EQ(s.HighlightBlinkThreshold, 4096);

    ASSERT_TRUE(SaveSettings(s, store));
    EXPECT_EQ(Dword("DisplayGrid"), 1u); // a flag stored as 7 is written back as 1
    EXPECT_EQ(Dword("Blue"), 1u);
    EXPECT_EQ(Dword("StoreImage"), 0u);
    EXPECT_EQ(Dword("NumberOfVerticalGridDivisions"), 0xFFFFFFFFu);
}

TEST_F(SettingsStore, SavingKeepsOtherValuesLinesAndKeys)
{
    fs::create_directories(file.parent_path());
    WriteText(file, "Windows Registry Editor Version 5.00\n\n" + kHeader + "\n"
                    "\"WindowLeft\"=dword:00000064\n"
                    "\"Year\"=hex:00\n"
                    "; kept\n"
                    "\"SomethingElse\"=\"x\"\n"
                    "\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n\"Directory\"=\"elsewhere\"\n");
    RegistryStore store(file.string());
    Settings s;
    ASSERT_TRUE(LoadSettings(s, store));
    ASSERT_TRUE(SaveSettings(s, store));
    const std::string text = ReadText(file);
    EXPECT_EQ(Dword("WindowLeft"), 100u);
    EXPECT_EQ(Dword("Year"), 1u); // the damaged line is replaced in its place
    EXPECT_EQ(Text("SomethingElse"), "x");
    EXPECT_NE(text.find("\"WindowLeft\"=dword:00000064\n\"Year\"=dword:00000001\n; kept\n"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n\"Directory\"=\"elsewhere\"\n"), std::string::npos);
}

TEST_F(SettingsStore, UnopenableKeyMeansDefaultsAndNothingWritten)
{
    fs::create_directories(tmp.Path() / "taken.reg");
    RegistryStore store((tmp.Path() / "taken.reg").string());
    Settings s;
    s.StoreImage = 3;
    EXPECT_FALSE(LoadSettings(s, store));
    EXPECT_EQ(s.StoreImage, 1);
    EXPECT_FALSE(SaveSettings(s, store));
    EXPECT_TRUE(fs::is_empty(tmp.Path() / "taken.reg"));
}

TEST_F(SettingsStore, TextThatCannotBeStoredKeepsTheOldValue)
{
    RegistryStore store(file.string());
    Settings s;
    s.LaunchEditorCmd = "editor";
    ASSERT_TRUE(SaveSettings(s, store));
    s.LaunchEditorCmd = "two\nlines";
    EXPECT_TRUE(SaveSettings(s, store)); // the other values are written
    EXPECT_EQ(Text("LaunchEditorCmd"), "editor");
}

TEST_F(SettingsStore, FolderFieldsForNaming)
{
    Settings s;
    s.Directory = "/p";
    s.FilenamePrefix = "X_";
    s.Month = false;
    const storage::FolderSettings f = s.Folders();
    EXPECT_EQ(f.Directory, "/p");
    EXPECT_EQ(f.FilenamePrefix, "X_");
    EXPECT_TRUE(f.Year && !f.Month && f.Day && f.FlattenDate);
}

// ---------------------------------------------------------------------------------------
// Default pictures folder

TEST(PicturesFolder, ReadFromUserDirs)
{
    const std::string home = "/home/x";
    EXPECT_EQ(PicturesFolderFromUserDirs("XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", home), "/home/x/Bilder");
    EXPECT_EQ(PicturesFolderFromUserDirs("# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\r\n"
                                         "  XDG_PICTURES_DIR = \"/srv/photos/\"\r\n",
                                         home),
              "/srv/photos/");
    EXPECT_EQ(PicturesFolderFromUserDirs("XDG_PICTURES_DIR=\"$HOME/\"\n", home), "");   // none
    EXPECT_EQ(PicturesFolderFromUserDirs("XDG_PICTURES_DIR=\"$HOMEx\"\n", home), "");
    EXPECT_EQ(PicturesFolderFromUserDirs("XDG_PICTURES_DIR=\"relative\"\n", home), "");
    EXPECT_EQ(PicturesFolderFromUserDirs("XDG_PICTURES_DIR=\"$HOME/unterminated\n", home), "");
    EXPECT_EQ(PicturesFolderFromUserDirs("XDG_PICTURES_DIRX=\"/a\"\n", home), "");
    EXPECT_EQ(PicturesFolderFromUserDirs("", home), "");
}

TEST_F(SettingsStore, DefaultDirectoryUsesThePicturesFolder)
{
    EXPECT_EQ(Settings::DefaultDirectory(), tmp.Str() + "/Pictures/Tethrocam");
    fs::create_directories(tmp.Path() / ".config");
    WriteText(tmp.Path() / ".config" / "user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Fotos/\"\n");
    EXPECT_EQ(Settings::DefaultDirectory(), tmp.Str() + "/Fotos/Tethrocam");
    ScopedEnv config("XDG_CONFIG_HOME", (tmp.Str() + "/cfg").c_str());
    fs::create_directories(tmp.Path() / "cfg");
    WriteText(tmp.Path() / "cfg" / "user-dirs.dirs", "XDG_PICTURES_DIR=\"/\"\n");
    EXPECT_EQ(Settings::DefaultDirectory(), "/Tethrocam");
}

// ---------------------------------------------------------------------------------------
// The frame's placement

TEST_F(SettingsStore, PlacementReadsOnlyWhatIsStored)
{
    RegistryStore store(file.string());
    StoredWindowPlacement p;
    ASSERT_TRUE(LoadWindowPlacement(p, store));
    EXPECT_FALSE(p.left || p.top || p.right || p.bottom || p.zoomed);

    WriteKey("\"WindowLeft\"=dword:fffffff6\n\"WindowTop\"=\"20\"\n\"WindowZoomed\"=dword:00000002\n");
    ASSERT_TRUE(LoadWindowPlacement(p, store));
    EXPECT_EQ(p.left, -10);
    EXPECT_EQ(p.top, std::nullopt);
    EXPECT_EQ(p.right, std::nullopt);
    EXPECT_EQ(p.zoomed, true);
}

TEST_F(SettingsStore, PlacementAndSettingsShareTheKeyWithoutLosingEachOther)
{
    RegistryStore store(file.string());
    Settings s;
    s.StoreImage = 2;
    ASSERT_TRUE(SaveSettings(s, store));
    ASSERT_TRUE(SaveWindowPlacement({-8, 30, 1208, 930, true}, store));
    ASSERT_TRUE(SaveSettings(s, store));

    StoredWindowPlacement p;
    ASSERT_TRUE(LoadWindowPlacement(p, store));
    EXPECT_EQ(p.left, -8);
    EXPECT_EQ(p.top, 30);
    EXPECT_EQ(p.right, 1208);
    EXPECT_EQ(p.bottom, 930);
    EXPECT_EQ(p.zoomed, true);
    Settings back;
    ASSERT_TRUE(LoadSettings(back, store));
    EXPECT_EQ(back.StoreImage, 2);
    EXPECT_EQ(Dword("WindowZoomed"), 1u);
}

// ---------------------------------------------------------------------------------------
// What is not a settings file of this program

TEST_F(SettingsStore, OnlyARegularFileOfAtMostOneMebibyteIsReadAndOtherwiseKept)
{
    fs::create_directories(file.parent_path());
    // A FIFO in the file's place: refused at once (reading it would wait for a writer forever).
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    auto opened = std::async(std::launch::async, [&] {
        RegistryStore store(file.string());
        return std::make_pair(store.Open(), store.LastError());
    });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        std::ofstream unblock(file);  // let the stuck reader go before failing
        FAIL() << "opening a FIFO as the settings file hangs";
    }
    const auto [ok, why] = opened.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(why, file.string() + ": it is not a regular file");
    fs::remove(file);

    // Larger than 1 MiB: refused with a reason, and a save writes nothing over it.
    const std::string big = KeyFile("\"Year\"=dword:00000000\n") + std::string((1 << 20) + 1, '#');
    WriteText(file, big);
    RegistryStore store(file.string());
    Settings s;
    EXPECT_FALSE(LoadSettings(s, store));
    EXPECT_TRUE(s.Year);  // defaults
    EXPECT_EQ(store.LastError(), file.string() + ": it is larger than 1 MiB, too large to be a settings file of this program");
    EXPECT_FALSE(SaveSettings(s, store));
    EXPECT_EQ(ReadText(file), big);

    // Exactly 1 MiB is still read.
    WriteText(file, KeyFile("\"Year\"=dword:00000000\n") + std::string((1 << 20) - KeyFile("\"Year\"=dword:00000000\n").size(), '\n'));
    EXPECT_TRUE(LoadSettings(s, store));
    EXPECT_FALSE(s.Year);
}

TEST_F(SettingsStore, APrefixThatNamesAnotherFolderIsRefusedOnLoad)
{
    WriteKey("\"FilenamePrefix\"=\"../../esc_\"\n");
    RegistryStore store(file.string());
    Settings s;
    ASSERT_TRUE(LoadSettings(s, store));
    EXPECT_EQ(s.FilenamePrefix, "IMG_");
    WriteKey("\"FilenamePrefix\"=\"..esc_\"\n");  // dots alone name no folder
    ASSERT_TRUE(LoadSettings(s, store));
    EXPECT_EQ(s.FilenamePrefix, "..esc_");
}
