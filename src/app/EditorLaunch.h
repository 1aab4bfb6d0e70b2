// EditorLaunch: hands the picture on show to the user's image editor ("&Edit Image",
// command 154, and automatic editing after each saved picture). Either the desktop's own
// "open" action for the file, or the user's command line, split into a program and its
// arguments here, with the picture's path appended as the last argument.
//
// User-interface thread (the desktop open action needs the Qt application). Nothing here
// waits for the editor: the process is started and left to run. A started child is reaped
// by a small detached thread blocked in waitpid on that one child, so no zombie remains
// when the editor exits and no SIGCHLD handler is installed or relied on.
//
// Settings edited by the Editor Setup dialog (command 153), persisted with the view's
// other settings under these registry value names:
//   `ShellExecute`    (int used as bool, default 1) use the desktop's "open" action;
//   `LaunchEditorCmd` (string, default empty)       the editor command line;
//   `AutoEdit`        (int used as bool, default 0) edit every newly saved picture.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace editor {

struct EditorSettings {
    bool shellExecute = true;      // `ShellExecute`
    std::string launchEditorCmd;   // `LaunchEditorCmd`
    bool autoEdit = false;         // `AutoEdit`
};

// How a process receives its arguments. Windows joins the vector into one command line,
// so there the program path is lower-cased and arguments containing a space are wrapped in
// double quotes; POSIX passes the vector as it is, so case and spaces are kept.
enum class ProcessModel { Windows, Posix };
#ifdef _WIN32
inline constexpr ProcessModel kNativeProcessModel = ProcessModel::Windows;
#else
inline constexpr ProcessModel kNativeProcessModel = ProcessModel::Posix;
#endif

struct EditorCommand {
    std::string program;                 // the file started (searched on PATH when it has no slash)
    std::vector<std::string> arguments;  // the argument vector: [0] program, ..., last the picture
};

// Whether `program` names a program that can be started: with a slash, an executable
// regular file; without one, such a file in a folder of PATH.
bool IsExecutableProgram(const std::string& program);
using ExecutableTest = std::function<bool(const std::string& program)>;

// Splits the stored command line:
//  - a line opening with a double quote: the program is what lies between it and the next
//    double quote (searched from the third character on); the rest follows it;
//  - otherwise up to and including the first ".exe" (any case) when it is not at the start;
//  - otherwise, under Windows, the whole trimmed line is the program. Under POSIX the whole
//    line is the program only when it names one (`isExecutable`, so "/opt/My Editor/edit"
//    works unquoted); any other line is split into words as a shell would (blanks
//    separate; single quotes, double quotes and backslashes quote), so "gimp -n" and
//    "display -geometry '+0+0'" work, and the first word is the program.
// In the first two cases the rest is split at single spaces (quotes there mean nothing).
// The picture path is appended last. Returns nullopt when a quote is not closed (for the
// opening double quote also when it closes at once).
std::optional<EditorCommand> SplitEditorCommandLine(const std::string& commandLine,
                                                    const std::string& picturePath,
                                                    ProcessModel model = kNativeProcessModel,
                                                    const ExecutableTest& isExecutable = IsExecutableProgram);

// The words of a POSIX shell command line (no expansions); nullopt when a quote is left
// open or the line ends in a lone backslash.
std::optional<std::vector<std::string>> ShellWords(const std::string& line);

// "Invalid command line - no closing quotes:\n" + the line as stored.
std::string NoClosingQuotesText(const std::string& commandLine);
// The message for a process that could not be started: "Error trying to edit file:\n",
// the error's line for ENOENT, E2BIG, ENOEXEC and ENOMEM (nothing for other codes),
// "cmd: " + program, then one "arg N: text" line per argument.
std::string StartFailureText(int error, const EditorCommand& command);

// Starts the program with the argument vector and the inherited environment, without
// waiting; the child is reaped when it ends. It starts with standard input, output and
// error open and no other descriptor of this process. Returns 0, or the errno value of
// the failure.
// `pidOut`, when given, receives the child's process id.
int StartDetachedProcess(const EditorCommand& command, long* pidOut = nullptr);

// The desktop's "open" action on a local file: xdg-open, started as StartDetachedProcess
// starts a program (only descriptors 0 to 2), else QDesktopServices::openUrl. False when the
// desktop has nothing to open it with (no launcher found).
bool OpenWithDesktop(const std::string& path);

// "Unable to open the picture:\n" + path + why, and what to do instead.
std::string OpenFailureText(const std::string& path);

// An error message box (error icon, caption "Tethrocam") over the main window.
using MessageSink = std::function<void(const std::string& text)>;
// Opens the file with the desktop's action; false when nothing could open it.
using DesktopOpener = std::function<bool(const std::string& path)>;
using ProcessStarter = std::function<int(const EditorCommand& command)>;

enum class EditOutcome {
    NothingToEdit,    // no current history picture: nothing done, nothing said
    OpenedOnDesktop,  // handed to the desktop's "open" action
    OpenFailed,       // the desktop had nothing to open it with: reported with OpenFailureText
    Started,          // the editor process was started
    InvalidCommand,   // unclosed quote: reported, nothing started
    StartFailed,      // reported with StartFailureText
};

// Edit Image. `picturePath` is the full path of the current history picture, or null (or
// empty) when the picture on show is not one (a preview) or nothing has been saved.
// Empty `open` and `start` mean the launchers in force (see SetLaunchers): the desktop's
// open action and StartDetachedProcess unless a test has replaced them.
EditOutcome EditImage(const EditorSettings& settings, const std::string* picturePath,
                      const MessageSink& showError, const DesktopOpener& open = {},
                      const ProcessStarter& start = {});

// Replaces the launchers EditImage uses by default (tests: nothing is opened or started
// for real); empty functions restore the real ones.
void SetLaunchers(DesktopOpener open, ProcessStarter start);

// For tests: while alive, records every desktop open and every process start instead of
// performing them; an open reports `openResult`, a start `startResult`.
class LaunchRecorder {
public:
    LaunchRecorder();
    ~LaunchRecorder();
    LaunchRecorder(const LaunchRecorder&) = delete;
    LaunchRecorder& operator=(const LaunchRecorder&) = delete;
    std::vector<std::string> opened;
    std::vector<EditorCommand> started;
    bool openResult = true;
    int startResult = 0;
};

} // namespace editor
