// Where the help page "Tethrocam.htm" is looked for: beside the program's executable (a
// build tree, or a folder the program was unpacked into), then in the documentation
// folder of the prefix the program is installed under (<prefix>/share/doc/tethrocam/,
// found from the executable's own bin/ folder, so an installed tree can be moved).
// Pure path work plus one stat per candidate; any thread; never blocks for long.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

inline constexpr const char* kHelpFileName = "Tethrocam.htm";

// The candidate paths for an executable path, in the order they are tried, without
// repeats ("." and ".." resolved by name).
std::vector<std::string> HelpFileCandidates(const std::string& executablePath);

struct HelpLookup {
    std::optional<std::string> found;  // the first candidate that is a readable file
    std::vector<std::string> tried;    // every candidate, in order
};
HelpLookup FindHelpFile(const std::string& executablePath);

// "Unable to find HTML help file:\n" followed by every path tried, one a line.
std::string HelpMissingText(const std::vector<std::string>& tried);

} // namespace platform
