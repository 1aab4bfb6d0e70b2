#include "backends/sim/SimFaults.h"

#include <array>
#include <cstdlib>

namespace sim {

namespace {

constexpr std::array<SimFault, 6> kAll = {SimFault::Autofocus, SimFault::DownloadHalfway,
                                          SimFault::UnplugDuringDownload, SimFault::CardDoor,
                                          SimFault::Battery, SimFault::Cable};

std::optional<ArmedFault> ParseOne(const std::string& part)
{
    const size_t at = part.find('@');
    const std::string name = part.substr(0, at);
    ArmedFault armed;
    bool known = false;
    for (SimFault f : kAll) {
        if (name == FaultName(f)) {
            armed.fault = f;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;
    if (at != std::string::npos) {
        const std::string count = part.substr(at + 1);
        if (count.empty() || count.size() > 6 || count.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        armed.atShot = std::atoi(count.c_str());
        if (armed.atShot < 1 || armed.atShot > 100000)
            return std::nullopt;
    }
    return armed;
}

}  // namespace

const char* FaultName(SimFault fault)
{
    switch (fault) {
    case SimFault::Autofocus: return "autofocus";
    case SimFault::DownloadHalfway: return "download-halfway";
    case SimFault::UnplugDuringDownload: return "unplug-download";
    case SimFault::CardDoor: return "card-door";
    case SimFault::Battery: return "battery";
    case SimFault::Cable: return "cable";
    }
    return "";
}

std::string FaultNames()
{
    std::string names;
    for (SimFault f : kAll)
        names += (names.empty() ? "" : ", ") + std::string(FaultName(f));
    return names;
}

std::optional<std::vector<ArmedFault>> ParseArmedFaults(const std::string& text)
{
    std::vector<ArmedFault> out;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        auto one = ParseOne(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!one)
            return std::nullopt;
        out.push_back(*one);
        if (comma == std::string::npos)
            return out;
        start = comma + 1;
    }
}

}  // namespace sim
