// Registration for camera events in throw-away XDG folders: what the desktop reads
// (mimeapps.list, our desktop entry) and that other programs' settings survive byte for
// byte; and where the help page is looked for.
#include "platform/DesktopRegistration.h"
#include "platform/HelpFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace platform;

namespace {

std::string ReadText(const fs::path& p)
{
    const auto bytes = testsupport::ReadFileBytes(p);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const fs::path& p, const std::string& text)
{
    fs::create_directories(p.parent_path());
    testsupport::WriteFileBytes(p, std::vector<uint8_t>(text.begin(), text.end()));
}

struct Desk {
    testsupport::TempDir dir;
    XdgFolders folders{(dir.Path() / "data").string(), (dir.Path() / "config").string()};
    fs::path List() const { return fs::path(folders.configHome) / "mimeapps.list"; }
    fs::path Entry() const { return fs::path(folders.dataHome) / "applications" / kCameraEventsEntryName; }
};

// Another program's settings, with comments, odd spacing, CRLF and no final line feed.
const std::string kOthers =
    "# kept by hand\n"
    "[Default Applications]\n"
    "text/html=firefox-esr.desktop\n"
    "x-content/image-dcf=org.gnome.Shotwell.desktop;\n"
    "\n"
    "[Added Associations]\n"
    "image/jpeg = org.gnome.eog.desktop;gimp.desktop;\r\n"
    "\n"
    "[Removed Associations]\n"
    "video/mp4=totem.desktop;";

TEST(CameraEvents, RegisterThenUnregisterGivesBackTheFileByteForByte)
{
    Desk d;
    WriteText(d.List(), kOthers);
    const std::string exe = "/opt/tethrocam/bin/tethrocam";

    const RegistrationResult r = RegisterForCameraEvents(d.folders, exe);
    ASSERT_EQ(r.outcome, RegistrationResult::Outcome::Done) << r.reason;

    MimeAppsList list;
    ASSERT_TRUE(list.Parse(ReadText(d.List())));
    // We come first, the other program stays behind us; nothing else changed.
    EXPECT_EQ(list.Items("Default Applications", kCameraContentType),
              (std::vector<std::string>{kCameraEventsEntryName, "org.gnome.Shotwell.desktop"}));
    EXPECT_EQ(list.Items("Added Associations", kCameraContentType),
              std::vector<std::string>{kCameraEventsEntryName});
    EXPECT_EQ(list.Items("Added Associations", "image/jpeg"),
              (std::vector<std::string>{"org.gnome.eog.desktop", "gimp.desktop"}));
    const std::string entry = ReadText(d.Entry());
    EXPECT_NE(entry.find("\nExec=/opt/tethrocam/bin/tethrocam\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nMimeType=x-content/image-dcf;\n"), std::string::npos) << entry;

    // Registering twice changes nothing more.
    const std::string once = ReadText(d.List());
    ASSERT_EQ(RegisterForCameraEvents(d.folders, exe).outcome, RegistrationResult::Outcome::Done);
    EXPECT_EQ(ReadText(d.List()), once);

    ASSERT_EQ(UnregisterForCameraEvents(d.folders).outcome, RegistrationResult::Outcome::Done);
    EXPECT_EQ(ReadText(d.List()), kOthers);
    EXPECT_FALSE(fs::exists(d.Entry()));
}

TEST(CameraEvents, RoundTripOnAMissingOrSparseListLeavesNothingBehind)
{
    {
        Desk d;  // no file at all: created, then removed again
        ASSERT_EQ(RegisterForCameraEvents(d.folders, "/usr/bin/tethrocam").outcome, RegistrationResult::Outcome::Done);
        EXPECT_EQ(ReadText(d.List()),
                  "[Default Applications]\nx-content/image-dcf=com.larkspurworks.Tethrocam.CameraEvents.desktop;\n\n"
                  "[Added Associations]\nx-content/image-dcf=com.larkspurworks.Tethrocam.CameraEvents.desktop;\n");
        ASSERT_EQ(UnregisterForCameraEvents(d.folders).outcome, RegistrationResult::Outcome::Done);
        EXPECT_FALSE(fs::exists(d.List()));
    }
    for (const std::string& before : {std::string("[Default Applications]\ntext/plain=gedit.desktop"),
                                      std::string("[Added Associations]\n\n[Other]\nk=v\n"),
                                      std::string("\n\n# only a comment\n")}) {
        Desk d;
        WriteText(d.List(), before);
        ASSERT_EQ(RegisterForCameraEvents(d.folders, "/usr/bin/tethrocam").outcome, RegistrationResult::Outcome::Done);
        ASSERT_EQ(UnregisterForCameraEvents(d.folders).outcome, RegistrationResult::Outcome::Done);
        EXPECT_EQ(ReadText(d.List()), before);
    }
}

TEST(CameraEvents, UnregisterTakesOutOnlyWhatIsOurs)
{
    Desk d;
    const std::string before =
        "[Default Applications]\nx-content/image-dcf=shotwell.desktop;com.larkspurworks.Tethrocam.CameraEvents.desktop;"
        "darktable.desktop;\n";
    WriteText(d.List(), before);
    ASSERT_EQ(UnregisterForCameraEvents(d.folders).outcome, RegistrationResult::Outcome::Done);
    EXPECT_EQ(ReadText(d.List()), "[Default Applications]\nx-content/image-dcf=shotwell.desktop;darktable.desktop;\n");

    // Not registered: the file is not even rewritten.
    const std::string others = "[Default Applications]\nx-content/image-dcf=shotwell.desktop;\n";
    WriteText(d.List(), others);
    const auto stamp = fs::last_write_time(d.List());
    ASSERT_EQ(UnregisterForCameraEvents(d.folders).outcome, RegistrationResult::Outcome::Done);
    EXPECT_EQ(ReadText(d.List()), others);
    EXPECT_EQ(fs::last_write_time(d.List()), stamp);
}

TEST(CameraEvents, ADamagedListIsRefusedAndLeftUntouched)
{
    for (const std::string& damaged : {std::string("[Default Applications]\nthis line has no equals sign\n"),
                                      std::string("x-content/image-dcf=before.desktop;\n[Default Applications]\n"),
                                      std::string("[Default Applications\nk=v\n"),
                                      std::string("[Default Applications]\nk=\xff\xfe\n"),
                                      std::string("[A]\nk=v\0w\n", 10)}) {
        Desk d;
        WriteText(d.List(), damaged);
        for (bool registering : {true, false}) {
            const RegistrationResult r = registering ? RegisterForCameraEvents(d.folders, "/usr/bin/tethrocam")
                                                     : UnregisterForCameraEvents(d.folders);
            EXPECT_EQ(r.outcome, RegistrationResult::Outcome::Failed);
            EXPECT_EQ(ReadText(d.List()), damaged);
            const std::string message = RegistrationMessage(registering, r);
            EXPECT_EQ(message.rfind(registering ? "Error registering Tethrocam for camera events\n"
                                                : "Error unregistering Tethrocam for camera events\n",
                                    0),
                      0u)
                << message;
            EXPECT_NE(message.find(d.List().string() + " is damaged (line "), std::string::npos) << message;
        }
        // Nothing half done: no desktop entry was written either.
        EXPECT_FALSE(fs::exists(d.Entry()));
    }
}

TEST(CameraEvents, AListThatIsALinkStaysALinkAndKeepsItsPermissions)
{
    Desk d;
    const fs::path real = d.dir.Path() / "dotfiles" / "mimeapps.list";
    WriteText(real, kOthers);
    ::chmod(real.c_str(), 0640);
    fs::create_directories(d.List().parent_path());
    fs::create_symlink(real, d.List());
    ASSERT_EQ(RegisterForCameraEvents(d.folders, "/usr/bin/tethrocam").outcome, RegistrationResult::Outcome::Done);
    EXPECT_TRUE(fs::is_symlink(d.List()));
    EXPECT_NE(ReadText(real).find(kCameraEventsEntryName), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(CameraEvents, NoHomeFolderOrUnwritableFolderIsReportedWithTheReason)
{
    const RegistrationResult none = RegisterForCameraEvents(XdgFolders{}, "/usr/bin/tethrocam");
    EXPECT_EQ(none.outcome, RegistrationResult::Outcome::NoAccess);
    EXPECT_EQ(RegistrationMessage(true, none).rfind("Error accessing the desktop's application settings\n", 0), 0u);

    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    Desk d;
    fs::create_directories(d.folders.configHome);
    ::chmod(d.folders.configHome.c_str(), 0500);
    const RegistrationResult r = RegisterForCameraEvents(d.folders, "/usr/bin/tethrocam");
    ::chmod(d.folders.configHome.c_str(), 0700);
    EXPECT_EQ(r.outcome, RegistrationResult::Outcome::Failed);
    EXPECT_NE(r.reason.find("Permission denied"), std::string::npos) << r.reason;
    // Nothing half done: the desktop entry written first is taken back.
    EXPECT_FALSE(fs::exists(d.Entry()));
}

TEST(CameraEvents, ExecPathsWithSpacesAndSpecialCharactersAreQuoted)
{
    EXPECT_EQ(DesktopExecQuote("/usr/bin/tethrocam"), "/usr/bin/tethrocam");
    // "/home/ann/My Apps/te$t%"  ->  "\"/home/ann/My Apps/te\\$t%%\"" with the backslash doubled once more.
    EXPECT_EQ(DesktopExecQuote("/home/ann/My Apps/te$t%"), "\"/home/ann/My Apps/te\\\\$t%%\"");

    // The real validator accepts what registering writes, also for such a path.
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "desktop-file-validate is not installed (Debian package desktop-file-utils)";
    Desk d;
    ASSERT_EQ(RegisterForCameraEvents(d.folders, "/home/ann/My Apps/tethrocam").outcome,
              RegistrationResult::Outcome::Done);
    const std::string command = "desktop-file-validate '" + d.Entry().string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadText(d.Entry());
}

TEST(CameraEvents, AProgramPathCannotAddLinesOrKeysToTheEntry)
{
    Desk d;
    const std::string path = "/opt/odd\nExec=/bin/evil\tname\r/tethrocam";
    ASSERT_EQ(RegisterForCameraEvents(d.folders, path).outcome, RegistrationResult::Outcome::Done);
    const std::string entry = ReadText(d.Entry());
    std::vector<std::string> keys;
    std::istringstream lines(entry);
    for (std::string line; std::getline(lines, line);)
        if (line.find('=') != std::string::npos)
            keys.push_back(line.substr(0, line.find('=')));
    EXPECT_EQ(keys, (std::vector<std::string>{"Type", "Name", "GenericName", "Comment", "Exec", "Icon", "Terminal",
                                              "NoDisplay", "MimeType", "Categories"}));
    EXPECT_NE(entry.find("Exec=\"/opt/odd\\nExec=/bin/evil\\tname\\r/tethrocam\"\n"), std::string::npos) << entry;
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
        const std::string command = "desktop-file-validate '" + d.Entry().string() + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << entry;
    }
}

TEST(CameraEvents, APathThatCannotBeWrittenOrLeadsNowhereIsRefusedWithAClearMessage)
{
    Desk d;
    const std::string before = "[Default Applications]\nimage/jpeg=viewer.desktop\n";
    WriteText(d.List(), before);
    struct Case {
        std::string path, says;
    } cases[] = {
        {"/opt/\xFF\xFE/tethrocam", "not valid UTF-8"},
        {"/opt/bell\x07/tethrocam", "control character"},
        {"/opt/tethrocam/bin/tethrocam (deleted)", "was removed or replaced"},
    };
    for (const Case& c : cases) {
        const RegistrationResult r = RegisterForCameraEvents(d.folders, c.path);
        EXPECT_EQ(r.outcome, RegistrationResult::Outcome::Failed) << c.path;
        EXPECT_NE(r.reason.find(c.says), std::string::npos) << r.reason;
        EXPECT_FALSE(fs::exists(d.Entry()));
        EXPECT_EQ(ReadText(d.List()), before);
    }
    // A program whose name really ends so, and is there, is registered.
    const fs::path odd = d.dir.Path() / "bin" / "tethrocam (deleted)";
    WriteText(odd, "#!/bin/sh\n");
    EXPECT_EQ(RegisterForCameraEvents(d.folders, odd.string()).outcome, RegistrationResult::Outcome::Done);
}

TEST(CameraEvents, AListThatIsNotARegularFileIsRefusedWithoutWaitingOnIt)
{
    Desk d;
    fs::create_directories(d.List().parent_path());
    ASSERT_EQ(mkfifo(d.List().c_str(), 0600), 0);
    auto result = std::async(std::launch::async, [&] { return RegisterForCameraEvents(d.folders, "/usr/bin/tethrocam"); });
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        std::ofstream unblock(d.List());
        FAIL() << "a FIFO as mimeapps.list hangs registering";
    }
    const RegistrationResult r = result.get();
    EXPECT_EQ(r.outcome, RegistrationResult::Outcome::Failed);
    EXPECT_NE(r.reason.find("it is not a regular file"), std::string::npos) << r.reason;
    EXPECT_FALSE(fs::exists(d.Entry()));
}

TEST(HelpPage, FoundBesideTheProgramThenInTheInstalledDocumentation)
{
    testsupport::TempDir dir;
    const fs::path prefix = dir.Path() / "prefix";
    const std::string exe = (prefix / "bin" / "tethrocam").string();
    fs::create_directories(prefix / "bin");

    HelpLookup missing = FindHelpFile(exe);
    EXPECT_FALSE(missing.found);
    ASSERT_EQ(missing.tried.size(), 2u);
    EXPECT_EQ(missing.tried[0], (prefix / "bin" / "Tethrocam.htm").string());
    EXPECT_EQ(missing.tried[1], (prefix / "share" / "doc" / "tethrocam" / "Tethrocam.htm").string());
    const std::string text = HelpMissingText(missing.tried);
    EXPECT_EQ(text, "Unable to find HTML help file:\n" + missing.tried[0] + "\n" + missing.tried[1]);

    WriteText(prefix / "share" / "doc" / "tethrocam" / "Tethrocam.htm", "<html></html>");
    EXPECT_EQ(FindHelpFile(exe).found, (prefix / "share" / "doc" / "tethrocam" / "Tethrocam.htm").string());
    WriteText(prefix / "bin" / "Tethrocam.htm", "<html></html>");
    EXPECT_EQ(FindHelpFile(exe).found, (prefix / "bin" / "Tethrocam.htm").string());
}

}  // namespace
