#include "app/EditorLaunch.h"

#include <QDesktopServices>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace editor {
namespace {

bool IsWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& s)
{
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && IsWhite(s[begin]))
        ++begin;
    while (end > begin && IsWhite(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

std::string TrimLeft(const std::string& s)
{
    size_t begin = 0;
    while (begin < s.size() && IsWhite(s[begin]))
        ++begin;
    return s.substr(begin);
}

// ASCII lower case only, so that every index in the lower-case copy is the same
// character's index in the line.
std::string LowerAscii(std::string s)
{
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// The child is reaped by a thread that waits for it alone; it never touches anything else.
void ReapWhenDone(pid_t pid)
{
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the finished editor stays a zombie until the program ends.
    }
}

} // namespace

bool IsExecutableProgram(const std::string& program)
{
    auto runnable = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
    };
    if (program.empty())
        return false;
    if (program.find('/') != std::string::npos)
        return runnable(program);
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= folders.size()) {
        size_t end = folders.find(':', begin);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = end > begin ? folders.substr(begin, end - begin) : std::string(".");
        if (runnable(folder + "/" + program))
            return true;
        begin = end + 1;
    }
    return false;
}

std::optional<std::vector<std::string>> ShellWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\') {
            if (i + 1 >= line.size())
                return std::nullopt;
            word += line[++i];
            inWord = true;
        } else if (c == '\'') {
            const size_t close = line.find('\'', i + 1);
            if (close == std::string::npos)
                return std::nullopt;
            word += line.substr(i + 1, close - i - 1);
            i = close;
            inWord = true;
        } else if (c == '"') {
            size_t j = i + 1;
            for (; j < line.size() && line[j] != '"'; ++j) {
                // Inside double quotes a backslash quotes only these characters.
                if (line[j] == '\\' && j + 1 < line.size() &&
                    (line[j + 1] == '"' || line[j + 1] == '\\' || line[j + 1] == '$' || line[j + 1] == '`'))
                    ++j;
                word += line[j];
            }
            if (j >= line.size())
                return std::nullopt;
            i = j;
            inWord = true;
        } else if (IsWhite(c)) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::optional<EditorCommand> SplitEditorCommandLine(const std::string& commandLine,
                                                    const std::string& picturePath,
                                                    ProcessModel model,
                                                    const ExecutableTest& isExecutable)
{
    const bool windows = model == ProcessModel::Windows;
    const std::string line = Trim(commandLine);
    const std::string lower = LowerAscii(line);
    // Windows starts the lower-case path; elsewhere the path keeps its case.
    const std::string& source = windows ? lower : line;

    EditorCommand command;
    std::string program;
    std::string rest;
    std::vector<std::string> words;  // arguments already split the shell's way
    if (!lower.empty() && lower[0] == '"') {
        const size_t close = lower.size() > 2 ? lower.find('"', 2) : std::string::npos;
        if (close == std::string::npos || close == 2)
            return std::nullopt;
        program = source.substr(1, close - 1);
        rest = line.substr(close + 1);
    } else if (const size_t exe = lower.find(".exe"); exe != std::string::npos && exe > 0) {
        program = source.substr(0, exe + 4);
        rest = line.substr(exe + 4);
    } else if (!windows && !line.empty() && !(isExecutable && isExecutable(line))) {
        auto split = ShellWords(line);
        if (!split)
            return std::nullopt;
        if (!split->empty()) {
            program = split->front();
            words.assign(split->begin() + 1, split->end());
        }
    } else {
        program = source;
    }
    program = Trim(program);
    rest = Trim(rest);

    command.program = program;
    command.arguments.push_back(program);
    for (std::string& word : words)
        command.arguments.push_back(std::move(word));
    for (size_t space = rest.find(' '); space != std::string::npos && space > 0; space = rest.find(' ')) {
        command.arguments.push_back(rest.substr(0, space));
        rest = TrimLeft(rest.substr(space));
    }
    if (!rest.empty())
        command.arguments.push_back(rest);
    command.arguments.push_back(picturePath);

    if (windows) {
        for (std::string& argument : command.arguments) {
            if (argument.find(' ') != std::string::npos)
                argument = '"' + argument + '"';
        }
    }
    return command;
}

std::string NoClosingQuotesText(const std::string& commandLine)
{
    return "Invalid command line - no closing quotes:\n" + commandLine;
}

std::string StartFailureText(int error, const EditorCommand& command)
{
    std::string text = "Error trying to edit file:\n";
    switch (error) {
    case ENOENT:
        text += "ENOENT: File or path not found\n";
        break;
    case E2BIG:
        text += "E2BIG: Argument list exceeds 1024 bytes\n";
        break;
    case ENOEXEC:
        text += "ENOEXEC: Specified file is not executable or has invalid executable-file format\n";
        break;
    case ENOMEM:
        text += "ENOMEM: Not enough memory is available to execute new process\n";
        break;
    default:
        break;
    }
    text += "cmd: " + command.program + "\n";
    for (size_t i = 0; i < command.arguments.size(); ++i) {
        char index[32];
        std::snprintf(index, sizeof index, "arg %d: ", static_cast<int>(i));
        text += index + command.arguments[i] + "\n";
    }
    return text;
}

int StartDetachedProcess(const EditorCommand& command, long* pidOut)
{
    if (command.program.empty() || command.arguments.empty())
        return ENOENT;
    std::vector<char*> argv;
    argv.reserve(command.arguments.size() + 1);
    for (const std::string& argument : command.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // The editor starts with no signals blocked and SIGPIPE at its default, whatever the
    // launching thread had.
    posix_spawnattr_t attributes;
    if (int rc = ::posix_spawnattr_init(&attributes); rc != 0)
        return rc;
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // It gets standard input, output and error and nothing else of ours: no camera
    // device, socket, pipe or picture file that was opened without close-on-exec (by a
    // library, or inherited when the program was started).
    posix_spawn_file_actions_t actions;
    if (int rc = ::posix_spawn_file_actions_init(&actions); rc != 0) {
        ::posix_spawnattr_destroy(&attributes);
        return rc;
    }
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, command.program.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (rc != 0)
        return rc;
    if (pidOut)
        *pidOut = static_cast<long>(pid);
    ReapWhenDone(pid);
    return 0;
}

bool OpenWithDesktop(const std::string& path)
{
    // The desktop's own opener, started like the editor with only descriptors 0 to 2;
    // where there is none, Qt's way.
    if (IsExecutableProgram("xdg-open") && StartDetachedProcess({"xdg-open", {"xdg-open", path}}) == 0)
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))));
}

std::string OpenFailureText(const std::string& path)
{
    return "Unable to open the picture:\n" + path +
           "\nThe desktop has no program to open pictures with. Choose an editor in "
           "File > Setup Image Editor.";
}

namespace {

struct Launchers {
    DesktopOpener open;
    ProcessStarter start;
};

Launchers& InstalledLaunchers()
{
    static Launchers launchers;
    return launchers;
}

} // namespace

void SetLaunchers(DesktopOpener open, ProcessStarter start)
{
    InstalledLaunchers() = {std::move(open), std::move(start)};
}

LaunchRecorder::LaunchRecorder()
{
    SetLaunchers([this](const std::string& path) {
                     opened.push_back(path);
                     return openResult;
                 },
                 [this](const EditorCommand& command) {
                     started.push_back(command);
                     return startResult;
                 });
}

LaunchRecorder::~LaunchRecorder()
{
    SetLaunchers({}, {});
}

EditOutcome EditImage(const EditorSettings& settings, const std::string* picturePath,
                      const MessageSink& showError, const DesktopOpener& open,
                      const ProcessStarter& start)
{
    if (!picturePath || picturePath->empty())
        return EditOutcome::NothingToEdit;
    const std::string& file = *picturePath;
    const Launchers& installed = InstalledLaunchers();
    if (settings.shellExecute) {
        const bool opened = open ? open(file) : installed.open ? installed.open(file) : OpenWithDesktop(file);
        if (opened)
            return EditOutcome::OpenedOnDesktop;
        // The desktop only told standard error; the user is told here, as for the help page.
        if (showError)
            showError(OpenFailureText(file));
        return EditOutcome::OpenFailed;
    }
    const auto command = SplitEditorCommandLine(settings.launchEditorCmd, file);
    if (!command) {
        if (showError)
            showError(NoClosingQuotesText(settings.launchEditorCmd));
        return EditOutcome::InvalidCommand;
    }
    const int error = start ? start(*command)
                            : installed.start ? installed.start(*command) : StartDetachedProcess(*command);
    if (error != 0) {
        if (showError)
            showError(StartFailureText(error, *command));
        return EditOutcome::StartFailed;
    }
    return EditOutcome::Started;
}

} // namespace editor
