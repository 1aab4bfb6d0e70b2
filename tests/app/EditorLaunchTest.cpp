// Handing the picture to the external editor: the command-line splitting rules under both
// process models, the error texts, the choice between the desktop's open action and the
// command line, and real launches that check the arguments as they arrive and that the
// finished child does not linger as a zombie.
#include "app/EditorLaunch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

using namespace editor;
namespace fs = std::filesystem;
using Args = std::vector<std::string>;

namespace {

const std::string kPicture = "D:\\Photos\\2003\\IMG_0001.JPG";

EditorCommand Split(const std::string& line, ProcessModel model, const std::string& picture = kPicture)
{
    auto command = SplitEditorCommandLine(line, picture, model);
    EXPECT_TRUE(command) << line;
    return command.value_or(EditorCommand{});
}

// Waits (up to a few seconds) for a condition that a started process brings about.
template <typename Condition>
bool Eventually(Condition condition)
{
    for (int i = 0; i < 500; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

} // namespace

TEST(SplitCommandLine, QuotedProgramWithSpacesAndAnArgument)
{
    const std::string line = "\"C:\\Program Files\\Editor\\edit.exe\" -n";
    const EditorCommand win = Split(line, ProcessModel::Windows);
    EXPECT_EQ(win.program, "c:\\program files\\editor\\edit.exe");
    EXPECT_EQ(win.arguments, (Args{"\"c:\\program files\\editor\\edit.exe\"", "-n", kPicture}));

    const EditorCommand posix = Split(line, ProcessModel::Posix);
    EXPECT_EQ(posix.program, "C:\\Program Files\\Editor\\edit.exe");
    EXPECT_EQ(posix.arguments, (Args{"C:\\Program Files\\Editor\\edit.exe", "-n", kPicture}));
}

TEST(SplitCommandLine, UnquotedExeWithStraySpacesAroundTheWords)
{
    const std::string line = "   C:\\Tools\\Ed.EXE    /x   /y   ";
    EXPECT_EQ(Split(line, ProcessModel::Windows).arguments, (Args{"c:\\tools\\ed.exe", "/x", "/y", kPicture}));
    const EditorCommand posix = Split(line, ProcessModel::Posix);
    EXPECT_EQ(posix.program, "C:\\Tools\\Ed.EXE");
    EXPECT_EQ(posix.arguments, (Args{"C:\\Tools\\Ed.EXE", "/x", "/y", kPicture}));

    // An unquoted path with spaces works as long as it holds ".exe".
    EXPECT_EQ(Split("C:\\Program Files\\Ed\\ed.exe -a", ProcessModel::Windows).arguments,
              (Args{"\"c:\\program files\\ed\\ed.exe\"", "-a", kPicture}));
    // Only the first ".exe" counts; the rest follows it directly.
    EXPECT_EQ(Split("C:\\a.exe.exe b", ProcessModel::Posix).arguments, (Args{"C:\\a.exe", ".exe", "b", kPicture}));
}

TEST(SplitCommandLine, QuotedProgramAlone)
{
    const EditorCommand win = Split("\"C:\\My Editor\\ed.exe\"", ProcessModel::Windows);
    EXPECT_EQ(win.program, "c:\\my editor\\ed.exe");
    EXPECT_EQ(win.arguments, (Args{"\"c:\\my editor\\ed.exe\"", kPicture}));
    EXPECT_EQ(Split("\"/usr/bin/gimp\" --new-instance", ProcessModel::Posix).arguments,
              (Args{"/usr/bin/gimp", "--new-instance", kPicture}));
    // Spaces inside the quotes are trimmed off the program.
    EXPECT_EQ(Split("\" /usr/bin/ed \"", ProcessModel::Posix).program, "/usr/bin/ed");
}

TEST(SplitCommandLine, OpeningQuoteWithoutAClosingOne)
{
    for (const ProcessModel model : {ProcessModel::Windows, ProcessModel::Posix}) {
        EXPECT_FALSE(SplitEditorCommandLine("\"C:\\My Editor\\ed.exe", kPicture, model));
        EXPECT_FALSE(SplitEditorCommandLine("  \"C:\\My Editor\\ed.exe -x  ", kPicture, model));
        EXPECT_FALSE(SplitEditorCommandLine("\"", kPicture, model));
        EXPECT_FALSE(SplitEditorCommandLine("\"\"", kPicture, model));
        // The closing quote is looked for from the third character: one character
        // between the quotes is not enough.
        EXPECT_FALSE(SplitEditorCommandLine("\"a\" x", kPicture, model));
    }
    EXPECT_EQ(Split("\"ab\" x", ProcessModel::Posix).arguments, (Args{"ab", "x", kPicture}));
}

TEST(SplitCommandLine, PicturePathWithASpace)
{
    const std::string picture = "D:\\My Photos\\IMG_0001.JPG";
    EXPECT_EQ(Split("C:\\ed.exe", ProcessModel::Windows, picture).arguments,
              (Args{"c:\\ed.exe", "\"D:\\My Photos\\IMG_0001.JPG\""}));
    EXPECT_EQ(Split("/usr/bin/ed.exe", ProcessModel::Posix, "/home/u/My Photos/IMG 1.JPG").arguments,
              (Args{"/usr/bin/ed.exe", "/home/u/My Photos/IMG 1.JPG"}));
}

TEST(SplitCommandLine, RestIsSplitAtSpacesOnlyAndQuotesMeanNothingThere)
{
    EXPECT_EQ(Split("\"/bin/ed\" \"a b\" c", ProcessModel::Posix).arguments,
              (Args{"/bin/ed", "\"a", "b\"", "c", kPicture}));
    // A tab is not a split point, but white space after a split is dropped.
    EXPECT_EQ(Split("\"/bin/ed\" a\tb \t c", ProcessModel::Posix).arguments,
              (Args{"/bin/ed", "a\tb", "c", kPicture}));
    // On Windows an argument that came out with a space is quoted again.
    EXPECT_EQ(Split("\"C:\\ed.exe\" \"a b\"", ProcessModel::Windows).arguments,
              (Args{"c:\\ed.exe", "\"a", "b\"", kPicture}));
}

TEST(SplitCommandLine, NeitherQuotedNorExeUnderWindowsIsOneProgramPath)
{
    EXPECT_EQ(Split("  gimp -n  ", ProcessModel::Windows).arguments, (Args{"\"gimp -n\"", kPicture}));
    EXPECT_EQ(Split("Display", ProcessModel::Windows).program, "display");
    // ".exe" at the very start does not count as the end of a program path.
    EXPECT_EQ(Split(".exe x", ProcessModel::Windows).arguments, (Args{"\".exe x\"", kPicture}));
}

TEST(SplitCommandLine, PosixLineThatNamesAProgramAsAWholeIsThatProgram)
{
    const std::set<std::string> programs = {"/opt/My Editor/edit"};
    const ExecutableTest exists = [&](const std::string& p) { return programs.count(p) > 0; };
    auto split = [&](const std::string& line) {
        return SplitEditorCommandLine(line, kPicture, ProcessModel::Posix, exists).value_or(EditorCommand{});
    };
    EXPECT_EQ(split("  /opt/My Editor/edit ").arguments, (Args{"/opt/My Editor/edit", kPicture}));
    EXPECT_EQ(split("  /opt/My Editor/edit ").program, "/opt/My Editor/edit");
    EXPECT_EQ(split("").arguments, (Args{"", kPicture}));
}

TEST(SplitCommandLine, OtherPosixLinesAreSplitAsAShellWould)
{
    const ExecutableTest none = [](const std::string&) { return false; };
    auto split = [&](const std::string& line) { return SplitEditorCommandLine(line, kPicture, ProcessModel::Posix, none); };

    ASSERT_TRUE(split("  gimp   -n  "));
    EXPECT_EQ(split("  gimp   -n  ")->program, "gimp");
    EXPECT_EQ(split("  gimp   -n  ")->arguments, (Args{"gimp", "-n", kPicture}));
    EXPECT_EQ(split("display -geometry '+0+0' -title \"My \\\"shot\\\"\"")->arguments,
              (Args{"display", "-geometry", "+0+0", "-title", "My \"shot\"", kPicture}));
    // Backslashes quote outside quotes; adjacent quoted parts make one word.
    EXPECT_EQ(split("/opt/My\\ Editor/edit --x='a b'c")->arguments,
              (Args{"/opt/My Editor/edit", "--x=a bc", kPicture}));
    EXPECT_EQ(split("'' x")->arguments, (Args{"", "x", kPicture}));
    // A tab separates words too.
    EXPECT_EQ(split("ed\t-n")->arguments, (Args{"ed", "-n", kPicture}));
    // ".exe" at the very start does not end a program path: the line is split.
    EXPECT_EQ(split(".exe x")->arguments, (Args{".exe", "x", kPicture}));

    // Quotes left open are refused, as an unclosed leading double quote is.
    EXPECT_FALSE(split("gimp 'a b"));
    EXPECT_FALSE(split("gimp \"a b"));
    EXPECT_FALSE(split("gimp a\\"));
}

TEST(SplitCommandLine, ProgramsAreFoundOnThePathOrByTheirOwnPath)
{
    EXPECT_TRUE(IsExecutableProgram("sh"));
    EXPECT_TRUE(IsExecutableProgram("/bin/sh"));
    EXPECT_FALSE(IsExecutableProgram("sh -c"));
    EXPECT_FALSE(IsExecutableProgram("/bin"));  // a folder is not a program
    testsupport::TempDir dir;
    const fs::path plain = dir.Path() / "notes";
    std::ofstream(plain) << "not a program\n";
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(IsExecutableProgram(plain.string()));
    fs::permissions(plain, fs::perms::owner_all);
    EXPECT_TRUE(IsExecutableProgram(plain.string()));
    EXPECT_FALSE(IsExecutableProgram(""));
    // With the real test, "sh -c" is split and "/bin/sh" is used whole.
    EXPECT_EQ(Split("sh -c", ProcessModel::Posix).arguments, (Args{"sh", "-c", kPicture}));
    EXPECT_EQ(Split("/bin/sh", ProcessModel::Posix).arguments, (Args{"/bin/sh", kPicture}));
}

TEST(EditorMessages, TextsOfTheFailures)
{
    EXPECT_EQ(NoClosingQuotesText("  \"C:\\My Editor\\ed.exe "),
              "Invalid command line - no closing quotes:\n  \"C:\\My Editor\\ed.exe ");

    const EditorCommand c{"/x/ed", {"/x/ed", "-n", "/p/IMG_0001.JPG"}};
    const std::string tail = "cmd: /x/ed\narg 0: /x/ed\narg 1: -n\narg 2: /p/IMG_0001.JPG\n";
    EXPECT_EQ(StartFailureText(ENOENT, c), "Error trying to edit file:\nENOENT: File or path not found\n" + tail);
    EXPECT_EQ(StartFailureText(E2BIG, c), "Error trying to edit file:\nE2BIG: Argument list exceeds 1024 bytes\n" + tail);
    EXPECT_EQ(StartFailureText(ENOEXEC, c),
              "Error trying to edit file:\nENOEXEC: Specified file is not executable or has invalid "
              "executable-file format\n" + tail);
    EXPECT_EQ(StartFailureText(ENOMEM, c),
              "Error trying to edit file:\nENOMEM: Not enough memory is available to execute new process\n" + tail);
    EXPECT_EQ(StartFailureText(EACCES, c), "Error trying to edit file:\n" + tail);
}

TEST(EditImage, ChoosesBetweenTheDesktopAndTheCommandLine)
{
    std::vector<std::string> opened, errors;
    std::vector<EditorCommand> started;
    int startResult = 0;
    const MessageSink showError = [&](const std::string& t) { errors.push_back(t); };
    const DesktopOpener open = [&](const std::string& p) {
        opened.push_back(p);
        return true;
    };
    const ProcessStarter start = [&](const EditorCommand& c) {
        started.push_back(c);
        return startResult;
    };
    const std::string picture = "/photos/IMG_0001.JPG";
    const std::string empty;

    EditorSettings settings;  // the desktop's open action by default
    EXPECT_EQ(EditImage(settings, nullptr, showError, open, start), EditOutcome::NothingToEdit);
    EXPECT_EQ(EditImage(settings, &empty, showError, open, start), EditOutcome::NothingToEdit);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(EditImage(settings, &picture, showError, open, start), EditOutcome::OpenedOnDesktop);
    EXPECT_EQ(opened, Args{picture});

    settings.shellExecute = false;
    settings.launchEditorCmd = "\"/usr/bin/ed -x";
    EXPECT_EQ(EditImage(settings, &picture, showError, open, start), EditOutcome::InvalidCommand);
    EXPECT_EQ(errors, Args{"Invalid command line - no closing quotes:\n\"/usr/bin/ed -x"});
    EXPECT_TRUE(started.empty());

    settings.launchEditorCmd = "\"/usr/bin/ed\" -x";
    EXPECT_EQ(EditImage(settings, &picture, showError, open, start), EditOutcome::Started);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].arguments, (Args{"/usr/bin/ed", "-x", picture}));

    startResult = ENOENT;
    EXPECT_EQ(EditImage(settings, &picture, showError, open, start), EditOutcome::StartFailed);
    EXPECT_EQ(errors.back(), StartFailureText(ENOENT, started.back()));
    EXPECT_EQ(opened.size(), 1u);
}

TEST(EditImage, AnInstalledRecorderStandsInForTheDesktopAndTheProcess)
{
    const std::string picture = "/photos/IMG_0001.JPG";
    std::vector<std::string> errors;
    const MessageSink showError = [&](const std::string& t) { errors.push_back(t); };
    {
        LaunchRecorder recorder;
        EditorSettings settings;
        EXPECT_EQ(EditImage(settings, &picture, showError), EditOutcome::OpenedOnDesktop);
        EXPECT_EQ(recorder.opened, Args{picture});
        // Nothing on the desktop opens pictures: said, not only left on standard error.
        recorder.openResult = false;
        EXPECT_EQ(EditImage(settings, &picture, showError), EditOutcome::OpenFailed);
        EXPECT_EQ(errors, Args{"Unable to open the picture:\n/photos/IMG_0001.JPG\nThe desktop has no program to open "
                               "pictures with. Choose an editor in File > Setup Image Editor."});
        errors.clear();

        settings.shellExecute = false;
        settings.launchEditorCmd = "/nonexistent/editor -n";
        recorder.startResult = ENOEXEC;
        EXPECT_EQ(EditImage(settings, &picture, showError), EditOutcome::StartFailed);
        ASSERT_EQ(recorder.started.size(), 1u);
        EXPECT_EQ(recorder.started[0].arguments, (Args{"/nonexistent/editor", "-n", picture}));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], StartFailureText(ENOEXEC, recorder.started[0]));
    }
    // Gone with the recorder: the real start reports the missing program.
    EditorSettings settings;
    settings.shellExecute = false;
    settings.launchEditorCmd = "/nonexistent/editor -n";
    EXPECT_EQ(EditImage(settings, &picture, showError), EditOutcome::StartFailed);
    EXPECT_EQ(errors.back().rfind("Error trying to edit file:\nENOENT:", 0), 0u) << errors.back();
}

TEST(StartDetachedProcess, AHarmlessProgramStartsAndIsReaped)
{
    long pid = 0;
    ASSERT_EQ(StartDetachedProcess({"/bin/true", {"/bin/true"}}, &pid), 0);
    ASSERT_GT(pid, 0);
    const fs::path proc = "/proc/" + std::to_string(pid);
    EXPECT_TRUE(Eventually([&] { return !fs::exists(proc); })) << "the finished child is still there (zombie)";

    // A bare name is looked up on PATH.
    EXPECT_EQ(StartDetachedProcess({"true", {"true"}}), 0);
}

TEST(StartDetachedProcess, ArgumentsArriveUnquotedAndUnsplit)
{
    testsupport::TempDir dir;
    fs::create_directory(dir.Path() / "my tools");
    const fs::path script = dir.Path() / "my tools" / "dump args";
    const fs::path out = dir.Path() / "args.txt";
    {
        std::ofstream s(script);
        s << "#!/bin/sh\n"
             "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << out.string() << ".part'\n"
             "mv '" << out.string() << ".part' '" << out.string() << "'\n";
    }
    fs::permissions(script, fs::perms::owner_all);

    const fs::path picture = dir.Path() / "My Photos" / "IMG 0001.JPG";
    EditorSettings settings;
    settings.shellExecute = false;
    settings.launchEditorCmd = "  \"" + script.string() + "\"  -n   \"q\"  ";
    std::vector<std::string> errors;
    const std::string path = picture.string();
    ASSERT_EQ(EditImage(settings, &path, [&](const std::string& t) { errors.push_back(t); }),
              EditOutcome::Started)
        << (errors.empty() ? "" : errors.back());

    ASSERT_TRUE(Eventually([&] { return fs::exists(out); }));
    std::ifstream in(out);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), "-n\n\"q\"\n" + path + "\n");
}

TEST(StartDetachedProcess, TheEditorGetsOnlyStandardInputOutputAndError)
{
    testsupport::TempDir dir;
    const fs::path out = dir.Path() / "fds.txt";
    // Descriptors a library or the program's own parent left without close-on-exec.
    const int leakedFile = ::open("/dev/null", O_RDONLY);
    int leakedPipe[2];
    ASSERT_EQ(::pipe(leakedPipe), 0);
    ASSERT_GE(leakedFile, 3);
    const std::string list = "exec 1>'" + out.string() + ".part'; ls /proc/$$/fd; mv '" + out.string() + ".part' '" +
                             out.string() + "'";
    ASSERT_EQ(StartDetachedProcess({"/bin/sh", {"/bin/sh", "-c", list}}), 0);
    ASSERT_TRUE(Eventually([&] { return fs::exists(out); }));
    ::close(leakedFile);
    ::close(leakedPipe[0]);
    ::close(leakedPipe[1]);
    std::ifstream in(out);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), "0\n1\n2\n");
}

TEST(StartDetachedProcess, MissingOrUnrunnableProgramsAreReported)
{
    std::vector<std::string> errors;
    const MessageSink showError = [&](const std::string& t) { errors.push_back(t); };
    const std::string picture = "/photos/IMG_0001.JPG";
    EditorSettings settings;
    settings.shellExecute = false;

    settings.launchEditorCmd = "/nonexistent/editor -x";
    EXPECT_EQ(EditImage(settings, &picture, showError), EditOutcome::StartFailed);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Error trying to edit file:\nENOENT: File or path not found\n"
                         "cmd: /nonexistent/editor\narg 0: /nonexistent/editor\narg 1: -x\narg 2: " + picture + "\n");

    settings.launchEditorCmd = "\"tethrocam-no-such-editor\" -x";
    EXPECT_EQ(EditImage(settings, &picture, showError), EditOutcome::StartFailed);
    EXPECT_EQ(errors.back().rfind("Error trying to edit file:\nENOENT: File or path not found\n"
                                  "cmd: tethrocam-no-such-editor\narg 0: tethrocam-no-such-editor\narg 1: -x\n", 0),
              0u)
        << errors.back();

    // A file without execute permission: the process cannot start; the message has no
    // code line for this error.
    testsupport::TempDir dir;
    const fs::path plain = dir.Path() / "notes";
    std::ofstream(plain) << "not a program\n";
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
    settings.launchEditorCmd = "\"" + plain.string() + "\"";
    EXPECT_EQ(EditImage(settings, &picture, showError), EditOutcome::StartFailed);
    EXPECT_EQ(errors.back().rfind("Error trying to edit file:\ncmd: " + plain.string() + "\n", 0), 0u) << errors.back();
}
