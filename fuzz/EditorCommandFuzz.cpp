// The editor command-line splitter on arbitrary lines: the first byte picks the process
// model, the text up to the first newline is the stored command line and the rest is the
// picture's path. Besides never crashing, every split keeps its shape: the program leads
// the vector and the picture ends it; under POSIX a line split at single spaces (quoted
// program or ".exe") has nothing in between that is empty, holds a space or starts with
// white space, and the words of a line split the shell's way come back unchanged when
// they are quoted again and split once more.
#include "app/EditorLaunch.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const auto model = (data[0] & 1) ? editor::ProcessModel::Windows : editor::ProcessModel::Posix;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t newline = text.find('\n');
    const std::string line = text.substr(0, newline);
    const std::string picture = newline == std::string::npos ? std::string() : text.substr(newline + 1);

    // No line names a program here, so every POSIX line that is neither quoted nor holds
    // ".exe" is split the shell's way, whatever the machine has installed.
    const editor::ExecutableTest none = [](const std::string&) { return false; };
    const auto command = editor::SplitEditorCommandLine(line, picture, model, none);

    if (const auto words = editor::ShellWords(line)) {
        std::string quoted;
        for (const std::string& word : *words) {
            quoted += '\'';
            for (char c : word)
                quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            quoted += "' ";
        }
        if (editor::ShellWords(quoted) != words)
            std::abort();
    }

    if (!command)
        return 0;
    const auto& args = command->arguments;
    if (args.size() < 2)
        std::abort();
    if (model == editor::ProcessModel::Posix) {
        if (args.front() != command->program || args.back() != picture)
            std::abort();
        std::string lower = line;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        const size_t start = lower.find_first_not_of(" \t\n\r\v\f");
        const size_t exe = lower.find(".exe");
        const bool splitAtSpaces = (start != std::string::npos && lower[start] == '"') ||
                                   (exe != std::string::npos && exe > start);
        for (size_t i = 1; splitAtSpaces && i + 1 < args.size(); ++i) {
            const std::string& a = args[i];
            if (a.empty() || a.find(' ') != std::string::npos || a[0] == '\t' || a[0] == '\n')
                std::abort();
        }
    }
    (void)editor::StartFailureText(2, *command);
    return 0;
}
