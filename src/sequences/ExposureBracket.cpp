#include "sequences/ExposureBracket.h"

#include "mainview/ValueLists.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sequences {

namespace {

constexpr uint16_t kNoCompensation = 0x18;
const char* const kMinus = "\u2212";

bool IsBulbOrAuto(uint32_t code) { return code == panel::kBulbCode || code == panel::kAutoCode; }

struct Usable {
    uint16_t code;
    std::string label;
    int sixths;
};

// The values a bracket may choose from a list: on the scale, neither bulb nor "Auto".
std::vector<Usable> UsableValues(const std::vector<ListEntry>& list)
{
    std::vector<Usable> out;
    for (const ListEntry& e : list) {
        if (IsBulbOrAuto(e.code) || e.code > 0xFFFF)
            continue;
        if (auto s = CodeSixths(e.code))
            out.push_back({static_cast<uint16_t>(e.code), e.label, *s});
    }
    return out;
}

std::string Magnitude(int sixths)
{
    const int whole = sixths / kSixthsPerStop;
    const int rest = sixths % kSixthsPerStop;
    static const char* const fractions[] = {"", "1/6", "1/3", "1/2", "2/3", "5/6"};
    if (rest == 0)
        return std::to_string(whole);
    if (whole == 0)
        return fractions[rest];
    return std::to_string(whole) + " " + fractions[rest];
}

std::string Hex(uint32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", code);
    return text;
}

std::string ModeName(uint16_t mode)
{
    std::string line = panel::ModeLine(mode);
    const std::string prefix = "Mode: ";
    return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : line;
}

std::string Choices(const std::vector<int>& steps)
{
    std::string text;
    for (size_t i = 0; i < steps.size(); ++i) {
        if (i > 0)
            text += i + 1 == steps.size() ? " or " : ", ";
        text += Magnitude(steps[i]);
    }
    return text + " EV";
}

const char* const kRemedy = " Choose fewer frames or a smaller step, or start from a value nearer the middle of the range.";

}  // namespace

std::optional<int> CodeSixths(uint32_t code)
{
    if (code > 0xFFFF)
        return std::nullopt;
    const int whole = static_cast<int>(code >> 3);
    switch (code & 7) {
    case 0: return whole * kSixthsPerStop;
    case 3: return whole * kSixthsPerStop + 2;
    case 4: return whole * kSixthsPerStop + 3;
    case 5: return whole * kSixthsPerStop + 4;
    default: return std::nullopt;
    }
}

std::vector<int> BracketOffsets(int frames, BracketOrder order)
{
    std::vector<int> out;
    if (frames < 1)
        return out;
    const int darkest = -(frames / 2);
    for (int i = 0; i < frames; ++i)
        out.push_back(darkest + i);
    if (order == BracketOrder::ZeroMinusPlus) {
        out.erase(std::find(out.begin(), out.end(), 0));
        out.insert(out.begin(), 0);
    }
    return out;
}

std::vector<int> StepChoices(const std::vector<ListEntry>& list)
{
    bool thirds = false, halves = false;
    const std::vector<Usable> values = UsableValues(list);
    for (const Usable& u : values) {
        const int rest = u.sixths % kSixthsPerStop;
        thirds = thirds || rest == 2 || rest == 4;
        halves = halves || rest == 3;
    }
    if (values.empty())
        thirds = halves = true;  // nothing known yet: every step a body may offer
    std::vector<int> out;
    for (int s = kMinStepSixths; s <= kMaxStepSixths; ++s) {
        const bool whole = s % kSixthsPerStop == 0;
        if (whole || (thirds && s % 2 == 0) || (halves && s % 3 == 0))
            out.push_back(s);
    }
    return out;
}

std::string EvText(int sixths)
{
    if (sixths == 0)
        return "0 EV";
    return std::string(sixths < 0 ? kMinus : "+") + Magnitude(std::abs(sixths)) + " EV";
}

std::string StepText(int sixths) { return Magnitude(std::abs(sixths)) + " EV"; }

std::string BracketComment(int set, int frame, int frames, int offsetSixths)
{
    return "Bracket " + std::to_string(set) + ", " + std::to_string(frame) + "/" + std::to_string(frames) + ", " +
           EvText(offsetSixths);
}

std::string CommentWithPiece(const std::string& userComment, const std::string& piece)
{
    if (piece.empty())
        return userComment;
    if (userComment.empty())
        return piece;
    return userComment + "; " + piece;
}

std::optional<int> ParseStepEv(std::string_view text)
{
    std::string t(text);
    while (!t.empty() && t.front() == ' ')
        t.erase(t.begin());
    while (!t.empty() && t.back() == ' ')
        t.pop_back();
    if (t.empty() || t.size() > 16 || t.find_first_not_of("0123456789./ ") != std::string::npos)
        return std::nullopt;
    auto whole = [](const std::string& s, long& out) {
        if (s.empty() || s.size() > 4 || s.find_first_not_of("0123456789") != std::string::npos)
            return false;
        out = std::strtol(s.c_str(), nullptr, 10);
        return true;
    };
    double value = 0;
    bool exact = false;  // a fraction or a whole number: must land on a sixth exactly
    const size_t slash = t.find('/');
    if (slash != std::string::npos) {
        long wholePart = 0, num = 0, den = 0;
        std::string left = t.substr(0, slash);
        const size_t space = left.find(' ');
        if (space != std::string::npos) {
            if (!whole(left.substr(0, space), wholePart))
                return std::nullopt;
            left = left.substr(space + 1);
        }
        if (!whole(left, num) || !whole(t.substr(slash + 1), den) || den == 0)
            return std::nullopt;
        if ((wholePart * den + num) * kSixthsPerStop % den != 0)
            return std::nullopt;
        value = static_cast<double>(wholePart) + static_cast<double>(num) / static_cast<double>(den);
        exact = true;
    } else {
        if (t.find(' ') != std::string::npos || t.front() == '.' || std::count(t.begin(), t.end(), '.') > 1)
            return std::nullopt;
        value = std::strtod(t.c_str(), nullptr);
        exact = t.find('.') == std::string::npos;
    }
    const double sixths = value * kSixthsPerStop;
    const long rounded = std::lround(sixths);
    if (!exact && std::abs(sixths - static_cast<double>(rounded)) > 0.05 * kSixthsPerStop)
        return std::nullopt;
    if (rounded < kMinStepSixths || rounded > kMaxStepSixths || (rounded % 2 != 0 && rounded % 3 != 0))
        return std::nullopt;
    return static_cast<int>(rounded);
}

std::optional<ExposureSetting> BracketSettingFor(const ExposureSituation& s)
{
    if (s.mode) {
        if (*s.mode == 4)
            return ExposureSetting::ShutterSpeed;
        if (*s.mode == 1 || *s.mode == 2 || *s.mode == 3 || *s.mode == 5)
            return ExposureSetting::Compensation;
        return std::nullopt;
    }
    if (s.tv && !IsBulbOrAuto(*s.tv) && CodeSixths(*s.tv) && !UsableValues(s.tvList).empty())
        return ExposureSetting::ShutterSpeed;
    if (s.compensation && CodeSixths(*s.compensation))
        return ExposureSetting::Compensation;
    return std::nullopt;
}

BracketPlan PlanBracket(const ExposureSituation& s, const BracketRequest& request)
{
    BracketPlan plan;
    auto refuse = [&plan](std::string why) {
        plan.refusal = std::move(why);
        plan.frames.clear();
        return plan;
    };
    if (request.frames < kMinBracketFrames || request.frames > kMaxBracketFrames)
        return refuse("A bracket has 2 to 15 frames.");
    if (request.stepSixths < kMinStepSixths || request.stepSixths > kMaxStepSixths ||
        (request.stepSixths % 2 != 0 && request.stepSixths % 3 != 0))
        return refuse("A bracket steps by thirds or halves of a stop, from 1/3 to 3 EV.");

    plan.modeUnknown = !s.mode;
    const std::optional<ExposureSetting> setting = BracketSettingFor(s);
    if (!setting) {
        if (!s.mode)
            return refuse("The camera does not say its exposure mode, and neither a shutter speed nor an exposure "
                          "compensation can be read from it to bracket.");
        if (*s.mode == 7)
            return refuse("The camera is in bulb mode. Turn the mode dial to M, Av, Tv or P to bracket.");
        return refuse("The camera sets the whole exposure itself in this mode (" + ModeName(*s.mode) +
                      "). Turn the mode dial to M, Av, Tv or P to bracket.");
    }
    plan.setting = *setting;

    const bool tv = plan.setting == ExposureSetting::ShutterSpeed;
    const std::optional<uint16_t> current = tv ? s.tv : s.compensation;
    const char* const what = tv ? "shutter speed" : "exposure compensation";
    if (!current)
        return refuse(std::string("The camera's ") + what + " cannot be read.");
    if (tv && *current == panel::kBulbCode)
        return refuse("The shutter speed is set to bulb. Choose a time in the Tv list to bracket.");
    if (*current == panel::kAutoCode)
        return refuse(std::string("The camera sets the ") + what + " itself. Choose a value in the " +
                      (tv ? "Tv" : "Exposure compensation") + " list to bracket.");
    const std::optional<int> userSixths = CodeSixths(*current);
    if (!userSixths)
        return refuse(std::string("The camera's ") + what + " (code " + Hex(*current) +
                      ") is not on the scale the program steps.");
    const std::vector<Usable> values = UsableValues(tv ? s.tvList : s.compensationList);
    if (values.empty())
        return refuse(std::string("The camera offers no ") + what + " values to step through.");

    plan.userCode = *current;
    const auto userEntry = std::find_if(values.begin(), values.end(), [&](const Usable& u) { return u.code == *current; });
    plan.userLabel = userEntry != values.end() ? userEntry->label : Hex(*current);
    const int lowest = std::min_element(values.begin(), values.end(), [](auto& a, auto& b) { return a.sixths < b.sixths; })->sixths;
    const int highest = std::max_element(values.begin(), values.end(), [](auto& a, auto& b) { return a.sixths < b.sixths; })->sixths;
    const auto at = [&values](int sixths) {
        return std::find_if(values.begin(), values.end(), [sixths](const Usable& u) { return u.sixths == sixths; });
    };
    const int zeroCompensation = *CodeSixths(kNoCompensation);
    if (!tv)
        plan.userLabel = EvText(zeroCompensation - *userSixths);  // "None" says less than "0 EV"
    const std::vector<int> steps = StepChoices(tv ? s.tvList : s.compensationList);
    const auto noSuchStep = [&](int sixths) {
        return refuse(std::string("The camera's ") + what + " list has no value " + StepText(sixths) + " away from " +
                      plan.userLabel + ". Choose a step of " + Choices(steps) + ".");
    };
    if (std::find(steps.begin(), steps.end(), request.stepSixths) == steps.end())
        return noSuchStep(request.stepSixths);

    for (int offset : BracketOffsets(request.frames, request.order)) {
        const int offsetSixths = offset * request.stepSixths;
        const int target = *userSixths - offsetSixths;
        const auto found = at(target);
        if (found != values.end()) {
            plan.frames.push_back({found->code, found->label, offsetSixths});
            continue;
        }
        if (target > highest || target < lowest) {
            const bool darker = target > highest;
            const int edge = darker ? highest : lowest;
            const std::string edgeLabel = at(edge)->label;
            if (tv)
                return refuse("The bracket needs a shutter speed " + StepText(target - edge) +
                              (darker ? " shorter than " : " longer than ") + edgeLabel + ", the camera's " +
                              (darker ? "shortest." : "longest.") + kRemedy);
            return refuse("The bracket needs an exposure compensation of " + EvText(zeroCompensation - target) +
                          "; the camera goes " + (darker ? "down to " : "up to ") + EvText(zeroCompensation - edge) +
                          "." + kRemedy);
        }
        // A list with gaps: offer only the steps whose every frame the camera has.
        std::vector<int> fitting;
        for (int step : steps) {
            const auto offsets = BracketOffsets(request.frames, request.order);
            if (std::all_of(offsets.begin(), offsets.end(),
                            [&](int o) { return at(*userSixths - o * step) != values.end(); }))
                fitting.push_back(step);
        }
        std::string text = std::string("The camera's ") + what + " list has no value " + StepText(offsetSixths) +
                           " away from " + plan.userLabel + ". ";
        text += fitting.empty() ? std::string("Choose fewer frames.") : "Choose a step of " + Choices(fitting) + ".";
        return refuse(text);
    }
    return plan;
}

}  // namespace sequences
