// The editor command-line splitter on arbitrary lines: the first byte picks the process
// model, the text up to the first newline is the stored command line and the rest is the
// picture's path. Besides never crashing, every split keeps its shape: the program leads
// the vector, the picture ends it, and nothing in between is empty, holds a space (POSIX)
// or starts with white space.
#include "app/EditorLaunch.h"

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

    const auto command = editor::SplitEditorCommandLine(line, picture, model);
    if (!command)
        return 0;
    const auto& args = command->arguments;
    if (args.size() < 2)
        std::abort();
    if (model == editor::ProcessModel::Posix) {
        if (args.front() != command->program || args.back() != picture)
            std::abort();
        for (size_t i = 1; i + 1 < args.size(); ++i) {
            const std::string& a = args[i];
            if (a.empty() || a.find(' ') != std::string::npos || a[0] == '\t' || a[0] == '\n')
                std::abort();
        }
    }
    (void)editor::StartFailureText(2, *command);
    return 0;
}
