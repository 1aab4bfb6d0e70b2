#include "platform/HelpFile.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Resolves "." and ".." by name; the path is absolute.
std::string Normalise(const std::string& path)
{
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        const size_t slash = path.find('/', pos);
        const std::string part = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string::npos)
            break;
        pos = slash + 1;
    }
    std::string out;
    for (const std::string& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> HelpFileCandidates(const std::string& executablePath)
{
    std::vector<std::string> candidates;
    auto add = [&](const std::string& path) {
        const std::string p = Normalise(path);
        if (std::find(candidates.begin(), candidates.end(), p) == candidates.end())
            candidates.push_back(p);
    };
    if (!executablePath.empty() && executablePath[0] == '/') {
        const std::string bin = FolderOf(executablePath);
        add(bin + "/" + kHelpFileName);
        add(bin + "/../share/doc/tethrocam/" + kHelpFileName);
    }
    return candidates;
}

HelpLookup FindHelpFile(const std::string& executablePath)
{
    HelpLookup lookup;
    lookup.tried = HelpFileCandidates(executablePath);
    for (const std::string& path : lookup.tried) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0) {
            lookup.found = path;
            break;
        }
    }
    return lookup;
}

std::string HelpMissingText(const std::vector<std::string>& tried)
{
    std::string text = "Unable to find HTML help file:\n";
    for (size_t i = 0; i < tried.size(); ++i) {
        if (i)
            text += "\n";
        text += tried[i];
    }
    return text;
}

} // namespace platform
