#include "backends/gphoto2/Gphoto2Mapping.h"

#include "camera/CameraLibrary.h"
#include "mainview/ValueLists.h"

#include <gphoto2/gphoto2-port-result.h>
#include <gphoto2/gphoto2-result.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace gphoto2 {

namespace {

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool Contains(const std::string& haystack, std::string_view needle)
{
    return haystack.find(needle) != std::string::npos;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// Reads an unsigned decimal number ("12", "2.5", ".5") at the front of s and advances s.
std::optional<double> TakeNumber(std::string_view& s)
{
    size_t i = 0;
    bool digits = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        ++i;
        digits = true;
    }
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            ++i;
            digits = true;
        }
    }
    if (!digits)
        return std::nullopt;
    std::string text(s.substr(0, i));
    std::replace(text.begin(), text.end(), ',', '.');
    s.remove_prefix(i);
    if (text.front() == '.')
        text.insert(text.begin(), '0');
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);  // the same on every desktop
    return value;
}

// "a", "a/b" or "a b/c" (a mixed number) at the front of s.
std::optional<double> TakeMixedNumber(std::string_view& s)
{
    auto whole = TakeNumber(s);
    if (!whole)
        return std::nullopt;
    if (!s.empty() && s.front() == '/') {
        std::string_view rest = s.substr(1);
        auto den = TakeNumber(rest);
        if (!den || *den == 0)
            return std::nullopt;
        s = rest;
        return *whole / *den;
    }
    if (s.size() >= 2 && s.front() == ' ' && std::isdigit(static_cast<unsigned char>(s[1]))) {
        std::string_view rest = s.substr(1);
        auto num = TakeNumber(rest);
        if (num && !rest.empty() && rest.front() == '/') {
            rest.remove_prefix(1);
            auto den = TakeNumber(rest);
            if (den && *den != 0) {
                s = rest;
                return *whole + *num / *den;
            }
        }
    }
    return whole;
}

// The stops a value stands for, on each setting's own scale (bigger = darker picture for
// Tv and Av, brighter for ISO; exposure compensation counts as the camera shows it).
double StopsOf(NumericSetting setting, double value)
{
    switch (setting) {
    case NumericSetting::Tv: return std::log2(1.0 / value);
    case NumericSetting::Av: return 2.0 * std::log2(value);
    case NumericSetting::ExposureComp: return value;
    case NumericSetting::Iso: return std::log2(value / 100.0);
    }
    return 0;
}

std::optional<double> ParseValue(NumericSetting setting, std::string_view text)
{
    switch (setting) {
    case NumericSetting::Tv: return ParseShutterSeconds(text);
    case NumericSetting::Av: return ParseFNumber(text);
    case NumericSetting::ExposureComp: return ParseExposureStops(text);
    case NumericSetting::Iso: return ParseIso(text);
    }
    return std::nullopt;
}

uint16_t CodeOfStops(NumericSetting setting, double stops)
{
    int code = 0;
    switch (setting) {
    case NumericSetting::Tv: code = 0x38 + StopOffset(stops); break;
    case NumericSetting::Av: code = 0x08 + StopOffset(stops); break;
    case NumericSetting::ExposureComp: code = 0x18 - StopOffset(stops); break;
    case NumericSetting::Iso: code = 0x48 + StopOffset(stops); break;
    }
    return static_cast<uint16_t>(std::clamp(code, 0, 0xFFFE));
}

// The program's own list entries for a setting, fine list first.
std::array<panel::ValueList, 2> ListsOf(NumericSetting setting)
{
    switch (setting) {
    case NumericSetting::Tv: return {panel::TvFine(), panel::TvCoarse()};
    case NumericSetting::Av: return {panel::AvFine(), panel::AvCoarse()};
    case NumericSetting::ExposureComp: return {panel::CompensationFine(), panel::CompensationCoarse()};
    case NumericSetting::Iso: return {panel::Iso3200(), panel::Iso1000()};
    }
    return {};
}

// Nominal value of a code: the value of the list entry that carries it, else the exact
// value of the eighth-stop scale.
double ValueOfCode(NumericSetting setting, uint16_t code)
{
    for (panel::ValueList list : ListsOf(setting)) {
        for (const panel::ValueEntry& e : list) {
            if (e.code == code) {
                if (auto v = ParseValue(setting, e.label))
                    return *v;
            }
        }
    }
    auto stopsOfOffset = [](int offset) {
        const int whole = static_cast<int>(std::floor(offset / 8.0));
        const int frac = offset - whole * 8;
        double f = frac == 3 ? 1.0 / 3 : frac == 5 ? 2.0 / 3 : frac / 8.0;
        return whole + f;
    };
    switch (setting) {
    case NumericSetting::Tv: return std::exp2(-stopsOfOffset(code - 0x38));
    case NumericSetting::Av: return std::exp2(stopsOfOffset(code - 0x08) / 2.0);
    case NumericSetting::ExposureComp: return -stopsOfOffset(code - 0x18);
    case NumericSetting::Iso: return 100.0 * std::exp2(stopsOfOffset(code - 0x48));
    }
    return 0;
}

struct Keyword {
    const char* word;
    uint16_t code;
};

// First keyword found in the lower-cased text wins; more specific words come first.
constexpr Keyword kWhiteBalance[] = {
    {"auto", 0},        {"daylight", 1},     {"sunny", 1},      {"fine weather", 1}, {"shade", 8},
    {"shadow", 8},      {"cloud", 2},        {"tungsten", 3},   {"incandescent", 3}, {"fluorescent", 4},
    {"flash", 5},       {"custom", 6},       {"manual", 6},     {"preset", 6},       {"temperature", 9},
    {"kelvin", 9},
};
constexpr Keyword kMetering[] = {
    {"evaluative", 3}, {"matrix", 3}, {"multi", 3}, {"partial", 4},
    {"center", 5},     {"centre", 5}, {"average", 5},
};
constexpr Keyword kDrive[] = {
    {"timer", 0x10}, {"continuous", 1}, {"burst", 1}, {"single", 0},
};
constexpr Keyword kAfMode[] = {
    {"one-shot", 0}, {"one shot", 0}, {"af-s", 0}, {"single", 0},   {"servo", 1},  {"af-c", 1},
    {"continuous", 1}, {"ai focus", 2}, {"af-a", 2}, {"manual", 3}, {"mf", 3},
};
// Exposure programs; matched on the whole text first (short names such as "M" and "A"),
// then by keyword.
struct Exact {
    const char* text;
    uint16_t code;
};
constexpr Exact kShootingExact[] = {
    {"p", 1},     {"tv", 2},     {"s", 2},   {"av", 3},    {"a", 3},  {"m", 4},
    {"a_dep", 5}, {"a-dep", 5},  {"dep", 6}, {"m-dep", 6}, {"auto", 0}, {"green", 0},
    {"fv", panel::kModeFlexiblePriority},    {"c1", panel::kModeCustom1}, {"c2", panel::kModeCustom2},
    {"c3", panel::kModeCustom3},             {"u1", panel::kModeUser1},   {"u2", panel::kModeUser2},
    {"u3", panel::kModeUser3},
};
constexpr Keyword kShooting[] = {
    {"program", 1},   {"shutter", 2},   {"aperture", 3},   {"manual 2", 101}, {"manual", 4},
    {"bulb", 7},      {"landscape", 102}, {"far scene", 102}, {"sport", 103},  {"fast shutter", 103},
    {"slow shutter", 104}, {"night", 105}, {"gray", 106},   {"b&w", 106},      {"sepia", 107},
    {"portrait", 108}, {"close", 110},  {"macro", 110},    {"pan", 112},      {"vivid", 113},
    {"neutral", 114}, {"flexible", panel::kModeFlexiblePriority}, {"custom", panel::kModeCustom1},
    {"auto", 0},
};

template <size_t N>
std::optional<uint16_t> FindKeyword(const Keyword (&table)[N], const std::string& lower)
{
    for (const Keyword& k : table) {
        if (Contains(lower, k.word))
            return k.code;
    }
    return std::nullopt;
}

std::optional<std::pair<int, int>> Dimensions(std::string_view text)
{
    std::string_view s = Trim(text);
    auto w = TakeNumber(s);
    if (!w || s.empty() || (s.front() != 'x' && s.front() != 'X'))
        return std::nullopt;
    s.remove_prefix(1);
    auto h = TakeNumber(s);
    constexpr double kLargest = 1e6;  // pixels a side; more is not a picture size
    if (!h || *w > kLargest || *h > kLargest)
        return std::nullopt;
    return std::make_pair(static_cast<int>(*w), static_cast<int>(*h));
}

}  // namespace

// ---------------------------------------------------------------- numbers

std::optional<double> ParseShutterSeconds(std::string_view text)
{
    std::string_view s = Trim(text);
    if (s.empty())
        return std::nullopt;
    // "1\"3" is how some bodies write 1.3 seconds.
    std::string_view rest = s;
    auto value = TakeMixedNumber(rest);
    if (!value || *value <= 0)
        return std::nullopt;
    if (!rest.empty() && rest.front() == '"' && rest.size() > 1 && std::isdigit(static_cast<unsigned char>(rest[1]))) {
        std::string_view tenths = rest.substr(1);
        auto t = TakeNumber(tenths);
        if (t && tenths.empty())
            return *value + *t / std::pow(10.0, std::floor(std::log10(std::max(*t, 1.0))) + 1);
    }
    rest = Trim(rest);
    if (!rest.empty() && (rest == "s" || rest == "sec" || rest == "\"" || rest == "''" || rest == "seconds"))
        rest = {};
    if (!rest.empty())
        return std::nullopt;
    return value;
}

std::optional<double> ParseFNumber(std::string_view text)
{
    std::string_view s = Trim(text);
    if (!s.empty() && (s.front() == 'f' || s.front() == 'F'))
        s.remove_prefix(1);
    if (!s.empty() && s.front() == '/')
        s.remove_prefix(1);
    auto v = TakeNumber(s);
    if (!v || *v <= 0 || !Trim(s).empty())
        return std::nullopt;
    return v;
}

std::optional<double> ParseExposureStops(std::string_view text)
{
    std::string_view s = Trim(text);
    const std::string lower = Lower(s);
    if (lower == "none" || lower == "0" || lower == "+0" || lower == "-0" || lower == "±0")
        return 0.0;
    double sign = 1;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        sign = s.front() == '-' ? -1 : 1;
        s.remove_prefix(1);
    }
    s = Trim(s);
    auto v = TakeMixedNumber(s);
    if (!v)
        return std::nullopt;
    s = Trim(s);
    if (!s.empty() && Lower(s) != "ev")
        return std::nullopt;
    return sign * *v;
}

std::optional<double> ParseIso(std::string_view text)
{
    std::string_view s = Trim(text);
    const std::string lower = Lower(s);
    if (lower.rfind("iso", 0) == 0) {
        s.remove_prefix(3);
        s = Trim(s);
    }
    auto v = TakeNumber(s);
    if (!v || *v <= 0 || !Trim(s).empty())
        return std::nullopt;
    return v;
}

// ---------------------------------------------------------------- codes

int StopOffset(double stops)
{
    // A device's nonsense (an exposure of 1e57 s) stays within what an int holds; every code
    // is kept within 16 bits afterwards anyway.
    if (!std::isfinite(stops))
        return 0;
    stops = std::clamp(stops, -10000.0, 10000.0);
    const double whole = std::floor(stops + 1e-9);
    const double frac = stops - whole;
    static constexpr std::pair<double, int> kSteps[] = {
        {0.0, 0}, {1.0 / 3, 3}, {0.5, 4}, {2.0 / 3, 5}, {1.0, 8},
    };
    int best = 0;
    double bestDistance = 10;
    for (const auto& [position, offset] : kSteps) {
        const double d = std::fabs(frac - position);
        if (d < bestDistance - 1e-9) {
            bestDistance = d;
            best = offset;
        }
    }
    return static_cast<int>(whole) * 8 + best;
}

std::optional<uint16_t> CodeFromText(NumericSetting setting, std::string_view text)
{
    const std::string lower = Lower(Trim(text));
    if (setting == NumericSetting::Tv && Contains(lower, "bulb"))
        return kTvBulb;
    if (setting != NumericSetting::ExposureComp && Contains(lower, "auto"))
        return kAuto;  // "Auto" ISO is the common setting of EOS and Sony bodies
    auto value = ParseValue(setting, text);
    if (!value)
        return std::nullopt;
    const double stops = StopsOf(setting, *value);
    // An entry of the program's own lists within a sixteenth of a stop is that entry.
    for (panel::ValueList list : ListsOf(setting)) {
        for (const panel::ValueEntry& e : list) {
            auto v = ParseValue(setting, e.label);
            if (v && std::fabs(StopsOf(setting, *v) - stops) < 1.0 / 16)
                return static_cast<uint16_t>(e.code);
        }
    }
    return CodeOfStops(setting, stops);
}

std::optional<uint16_t> TvCodeFromText(std::string_view text) { return CodeFromText(NumericSetting::Tv, text); }
std::optional<uint16_t> AvCodeFromText(std::string_view text) { return CodeFromText(NumericSetting::Av, text); }
std::optional<uint16_t> ExposureCompCodeFromText(std::string_view text)
{
    return CodeFromText(NumericSetting::ExposureComp, text);
}
std::optional<uint16_t> IsoCodeFromText(std::string_view text) { return CodeFromText(NumericSetting::Iso, text); }

double TvSecondsOfCode(uint16_t code) { return ValueOfCode(NumericSetting::Tv, code); }
double FNumberOfCode(uint16_t code) { return ValueOfCode(NumericSetting::Av, code); }
double ExposureStopsOfCode(uint16_t code) { return ValueOfCode(NumericSetting::ExposureComp, code); }
double IsoOfCode(uint16_t code) { return ValueOfCode(NumericSetting::Iso, code); }

int ChoiceForCode(NumericSetting setting, const std::vector<std::string>& choices, uint16_t code)
{
    for (size_t i = 0; i < choices.size(); ++i) {
        auto c = CodeFromText(setting, choices[i]);
        if (c && *c == code)
            return static_cast<int>(i);
    }
    return -1;
}

std::string NumberText(double value)
{
    char buf[400];  // the longest a double can be written without an exponent
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
}

std::string FixedText(double value, int decimals)
{
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("0");
}

std::string TextForCode(NumericSetting setting, uint16_t code)
{
    const double v = ValueOfCode(setting, code);
    switch (setting) {
    case NumericSetting::Tv:
        if (code == kTvBulb)
            return "bulb";
        if (v < 0.3)
            return "1/" + FixedText(1.0 / v, 0);
        return NumberText(std::round(v * 10) / 10);
    case NumericSetting::Av: return NumberText(std::round(v * 10) / 10);
    case NumericSetting::ExposureComp: {
        const std::string t = FixedText(std::round(v * 10) / 10, 1);
        return t == "0.0" || t == "-0.0" ? "0" : (v > 0 ? "+" : "") + t;
    }
    case NumericSetting::Iso: return FixedText(v, 0);
    }
    return {};
}

// ---------------------------------------------------------------- tables

std::optional<uint16_t> EnumCodeFromText(EnumSetting setting, std::string_view text)
{
    const std::string lower = Lower(Trim(text));
    if (lower.empty())
        return std::nullopt;
    switch (setting) {
    case EnumSetting::WhiteBalance:
        // "Auto" alone; "Color Temperature" must not read as anything else first.
        if (Contains(lower, "temperature") || Contains(lower, "kelvin"))
            return 9;
        return FindKeyword(kWhiteBalance, lower);
    case EnumSetting::Metering: return FindKeyword(kMetering, lower);
    case EnumSetting::Drive: return FindKeyword(kDrive, lower);
    case EnumSetting::AfMode: return FindKeyword(kAfMode, lower);
    case EnumSetting::ShootingMode:
        for (const Exact& e : kShootingExact) {
            if (lower == e.text)
                return e.code;
        }
        return FindKeyword(kShooting, lower);
    }
    return std::nullopt;
}

int ChoiceForEnumCode(EnumSetting setting, const std::vector<std::string>& choices, uint16_t code)
{
    for (size_t i = 0; i < choices.size(); ++i) {
        auto c = EnumCodeFromText(setting, choices[i]);
        if (c && *c == code)
            return static_cast<int>(i);
    }
    return -1;
}

ImageFormat ImageFormatFromText(std::string_view text)
{
    const std::string lower = Lower(Trim(text));
    ImageFormat f;
    if (Contains(lower, "raw") || Contains(lower, "nef") || Contains(lower, "crw") || Contains(lower, "cr2") ||
        Contains(lower, "arw") || Contains(lower, "dng"))
        f.quality = 4;
    else if (Contains(lower, "fine"))
        f.quality = 3;
    else if (Contains(lower, "normal") || Contains(lower, "basic") || Contains(lower, "standard"))
        f.quality = 2;  // Sony calls its normal JPEG quality "Standard"
    if (Contains(lower, "large"))
        f.size = 0;
    else if (Contains(lower, "medium") || Contains(lower, "middle"))
        f.size = 1;
    else if (Contains(lower, "small"))
        f.size = 2;
    else if (f.quality == 4)
        f.size = 0;  // a RAW picture is always full size
    return f;
}

std::optional<uint16_t> SizeCodeOfDimensions(const std::vector<std::string>& choices, std::string_view text)
{
    auto own = Dimensions(text);
    if (!own)
        return std::nullopt;
    const long area = static_cast<long>(own->first) * own->second;
    long largest = 0, smallest = 0;
    for (const std::string& c : choices) {
        if (auto d = Dimensions(c)) {
            const long a = static_cast<long>(d->first) * d->second;
            largest = std::max(largest, a);
            smallest = smallest == 0 ? a : std::min(smallest, a);
        }
    }
    if (area >= largest)
        return 0;
    if (area <= smallest)
        return 2;
    return 1;
}

int ChoiceForImageFormat(const std::vector<std::string>& choices, uint16_t quality, uint16_t size)
{
    int withJpeg = -1;
    for (size_t i = 0; i < choices.size(); ++i) {
        ImageFormat f = ImageFormatFromText(choices[i]);
        if (f.quality != quality)
            continue;
        // The panel's qualities are JPEG ones: a HEIF choice of the same quality is not one.
        const std::string lower = Lower(choices[i]);
        if (Contains(lower, "heif") || Contains(lower, "hif"))
            continue;
        if (quality == 4) {
            const std::string lower = Lower(choices[i]);
            const bool plusJpeg = Contains(lower, "jpeg") || Contains(lower, "jpg") || Contains(lower, "+");
            if (!plusJpeg)
                return static_cast<int>(i);
            if (withJpeg < 0)
                withJpeg = static_cast<int>(i);
            continue;
        }
        if (f.size.value_or(0) == size)
            return static_cast<int>(i);
    }
    return withJpeg;
}

// ---------------------------------------------------------------- files

FileKind ClassifyFileName(std::string_view name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    const std::string ext = Lower(name.substr(dot + 1));
    FileKind k;
    if (ext == "jpg" || ext == "jpeg") {
        k.dataType = cdsdk::cdDATA_TYPE_PICTURE;
        k.format = cdsdk::cdFORMAT_JPEG;
        k.known = true;
        return k;
    }
    if (ext == "hif" || ext == "heif" || ext == "heic") {
        k.dataType = cdsdk::cdDATA_TYPE_PICTURE;
        k.format = cdsdk::cdFORMAT_RAW;
        k.known = true;
        return k;
    }
    if (ext == "thm") {
        k.dataType = cdsdk::cdDATA_TYPE_THUMBNAIL;
        k.format = cdsdk::cdFORMAT_JPEG;
        k.known = true;
        return k;
    }
    static constexpr const char* kRaw[] = {"crw", "cr2", "cr3", "nef", "nrw", "arw", "sr2", "dng", "orf", "rw2",
                                           "pef", "raf", "srw", "3fr", "iiq", "rwl", "x3f", "kdc", "dcr", "mrw",
                                           "erf", "tif", "tiff"};
    for (const char* r : kRaw) {
        if (ext == r) {
            k.dataType = cdsdk::cdDATA_TYPE_PICTURE;
            k.format = cdsdk::cdFORMAT_RAW;
            k.known = true;
            return k;
        }
    }
    return {};
}

// ---------------------------------------------------------------- errors

Problem ProblemOf(int gpResult, bool atOpen, std::string_view driverText)
{
    const std::string lower = Lower(driverText);
    const bool cardLocked = Contains(lower, "read-only") || Contains(lower, "read only") ||
                            Contains(lower, "write protect") || Contains(lower, "write-protect");
    switch (gpResult) {
    case GP_OK: return Problem::None;
    case GP_ERROR_CAMERA_BUSY:
        // "Canon EOS Full-Press failed (0x2019: PTP Device Busy)": the previous frame is
        // still being processed.
        return atOpen ? Problem::CameraBusy : Problem::Busy;
    case GP_ERROR_IO_USB_CLAIM:
    case GP_ERROR_IO_LOCK:
        return atOpen ? Problem::CameraBusy : Problem::CannotCapture;
    case GP_ERROR_MODEL_NOT_FOUND:
    case GP_ERROR_UNKNOWN_PORT:
        return Problem::NoCamera;
    case GP_ERROR_NO_SPACE: return Problem::CardFull;
    case GP_ERROR_NO_MEMORY:
        // EOS bodies answer a full card ("Perhaps no more memory on card?") and a locked one
        // ("Card read-only?") with libgphoto2's "no memory".
        if (!atOpen)
            return cardLocked ? Problem::CardLocked : Problem::CardFull;
        break;
    case GP_ERROR_NOT_SUPPORTED: return atOpen ? Problem::Other : Problem::DriverCannotCapture;
    case GP_ERROR_IO_USB_FIND: return atOpen ? Problem::NoCamera : Problem::Disconnected;
    case GP_ERROR_IO:
    case GP_ERROR_IO_INIT:
    case GP_ERROR_IO_READ:
    case GP_ERROR_IO_WRITE:
        if (atOpen)
            return Contains(lower, "claim") ? Problem::CameraBusy : Problem::NoPermission;
        return Problem::Disconnected;
    default: break;
    }
    if (Contains(lower, "store full") || Contains(lower, "storefull") || Contains(lower, "no space") ||
        Contains(lower, "card full") || Contains(lower, "no more memory"))
        return Problem::CardFull;
    if (atOpen)
        return Problem::Other;
    if (cardLocked)
        return Problem::CardLocked;
    // "Canon EOS Auto-Focus failed, could not capture.", "... failed to release: Perhaps no
    // focus?", "Canon EOS M Capture failed: Perhaps no focus?"
    if (Contains(lower, "focus"))
        return Problem::AutofocusFailed;
    if (Contains(lower, "busy"))
        return Problem::Busy;
    return Problem::CannotCapture;
}

std::string ProblemMessage(Problem problem, std::string_view model, std::string_view port, std::string_view detail)
{
    const std::string camera = model.empty() ? std::string("the camera") : std::string(model);
    const std::string at = port.empty() ? std::string() : " at " + std::string(port);
    std::string text;
    switch (problem) {
    case Problem::None: return {};
    case Problem::NoCamera:
        text = "No camera found" + at +
               ". Connect the camera with its USB cable, switch it on (in PTP or PC-connection mode, not mass "
               "storage), and check that 'tethrocam --list-cameras' lists it.";
        break;
    case Problem::CameraBusy:
        text = camera + at +
               " is in use by another program. The desktop's photo importer usually holds it: eject the camera "
               "in the file manager (or 'gio mount -u' with the gphoto2:// location 'gio mount -l' shows), close any "
               "other photo program, then connect again.";
        break;
    case Problem::NoPermission:
        text = "No permission to use the USB device of " + camera + at +
               ". Install libgphoto2's udev rules (Debian package libgphoto2-6: "
               "/lib/udev/rules.d/60-libgphoto2-6.rules), add your user to the plugdev group "
               "('sudo adduser $USER plugdev'), log in again, then unplug and reconnect the camera.";
        break;
    case Problem::CannotCapture:
        text = camera +
               " refused to take the picture. Turn the mode dial to a shooting mode (P, Tv, Av or M), leave "
               "playback and the menus, check that the lens can focus (or switch it to MF) and that a card is in "
               "the camera, then try again.";
        break;
    case Problem::AutofocusFailed:
        text = camera +
               " could not focus. Point it at something with contrast and enough light, or switch the lens to "
               "MF and focus by hand, then try again.";
        break;
    case Problem::Busy:
        text = camera + " is still busy with the previous picture. Wait a moment, then try again.";
        break;
    case Problem::CardFull:
        text = "The card in " + camera +
               " is full. Download or delete pictures on the camera, or insert another card, then try again.";
        break;
    case Problem::CardLocked:
        text = "The card in " + camera +
               " is write-protected. Slide the lock switch on the card's side up, or insert another card, then "
               "try again.";
        break;
    case Problem::StillClosing:
        text = "Tethrocam is still letting go of " + camera + at +
               " from the last connection. Wait a few seconds, then connect again (F2).";
        break;
    case Problem::DownloadFailed:
        text = camera +
               " did not hand over a picture. It stays on the camera where the camera keeps a copy on its card. "
               "Check the USB cable, then take the picture again.";
        break;
    case Problem::DeleteFailed:
        text = camera +
               " did not let Tethrocam delete a picture already saved on the PC, so the camera's memory may fill "
               "up. Delete the pictures on the camera (or format its card) when it reports that it is full.";
        break;
    case Problem::Disconnected:
        text = camera + at +
               " was disconnected. Check the USB cable and that the camera is switched on and its battery "
               "charged, then connect again (F2).";
        break;
    case Problem::DriverCannotCapture:
        text = "libgphoto2's driver for " + camera +
               " cannot take pictures remotely. Pictures taken with the camera's own shutter button are "
               "downloaded where the driver reports them.";
        break;
    case Problem::Other:
        text = camera + at + " did not answer as expected.";
        break;
    }
    if (!detail.empty())
        text += " (libgphoto2: " + std::string(detail) + ")";
    return text;
}

std::string SeveralCamerasMessage(const std::vector<std::string>& modelsAtPorts)
{
    std::string text = "Several cameras are attached (";
    for (size_t i = 0; i < modelsAtPorts.size(); ++i)
        text += (i ? ", " : "") + modelsAtPorts[i];
    return text + "). Start the program with --camera=PORT to choose one, or unplug the others.";
}

uint32_t HardwareErrorOf(Problem problem, int gpResult)
{
    if (problem == Problem::AutofocusFailed)
        return cdsdk::cdHW_ERROR_AF_FAILED;
    if (problem == Problem::CardFull || problem == Problem::CardLocked)
        return cdsdk::cdHW_ERROR_NO_CF_CARD;
    return 0x8000u + static_cast<uint32_t>(gpResult < 0 ? -gpResult : gpResult);
}

// ---------------------------------------------------------------- labels

namespace {

// The label of the program's list entry with this code whose value is the body's own
// (within a sixteenth of a stop): 1/833 s shows as "1/800", 11 s not as "10".
std::string ListLabelOfCode(NumericSetting setting, uint16_t code, double value)
{
    for (panel::ValueList list : ListsOf(setting)) {
        for (const panel::ValueEntry& e : list) {
            if (e.code != code)
                continue;
            const auto v = ParseValue(setting, e.label);
            if (v && std::fabs(StopsOf(setting, *v) - StopsOf(setting, value)) < 1.0 / 16)
                return e.label;
        }
    }
    return {};
}

}  // namespace

std::string PanelLabel(NumericSetting setting, std::string_view text)
{
    const auto code = CodeFromText(setting, text);
    if (!code)
        return {};
    if (*code == kAuto)
        return "Auto";
    if (setting == NumericSetting::Tv && *code == kTvBulb)
        return "bulb";
    const auto value = ParseValue(setting, text);
    if (!value)
        return {};
    if (std::string label = ListLabelOfCode(setting, *code, *value); !label.empty())
        return label;
    std::string label;
    switch (setting) {
    case NumericSetting::Tv:
        label = *value >= 0.3 ? NumberText(std::round(*value * 10) / 10) + "\"" : "1/" + FixedText(1.0 / *value, 0);
        break;
    case NumericSetting::Av: label = NumberText(std::round(*value * 10) / 10); break;
    case NumericSetting::ExposureComp:
        label = (*value > 0 ? "+" : "") + FixedText(std::round(*value * 10) / 10, 1);
        break;
    case NumericSetting::Iso: label = FixedText(*value, 0); break;
    }
    // A value the rounding would move to another code keeps all its digits.
    if (CodeFromText(setting, label) != code) {
        label = NumberText(*value);
        if (setting == NumericSetting::Tv)
            label += "s";
        else if (setting == NumericSetting::ExposureComp && *value > 0)
            label = "+" + label;
    }
    return label;
}

// ---------------------------------------------------------------- where pictures go

int CaptureTargetChoice(const std::vector<std::string>& choices, uint16_t kind)
{
    const bool toCard = (kind & (cdsdk::cdREL_KIND_PICT_TO_CAM | cdsdk::cdREL_KIND_THUMB_TO_CAM)) != 0;
    int cardOnly = -1;
    for (size_t i = 0; i < choices.size(); ++i) {
        const std::string lower = Lower(choices[i]);
        const bool card = Contains(lower, "card");
        const bool ram = Contains(lower, "sdram") || Contains(lower, " ram") || lower.rfind("ram", 0) == 0;
        if (!toCard && ram && !card)
            return static_cast<int>(i);
        if (toCard && card && ram)
            return static_cast<int>(i);
        if (toCard && card && cardOnly < 0)
            cardOnly = static_cast<int>(i);
    }
    return toCard ? cardOnly : -1;
}

// ---------------------------------------------------------------- shots

std::optional<int> FilesPerShot(std::string_view formatText)
{
    const std::string lower = Lower(Trim(formatText));
    static constexpr const char* kRawWords[] = {"raw", "nef", "crw", "cr2", "cr3", "arw", "dng",
                                                "orf", "rw2", "raf", "pef", "srw"};
    static constexpr const char* kPictureWords[] = {"jpeg", "jpg", "fine", "normal", "basic", "standard",
                                                    "heif", "hif", "large", "medium", "small"};
    bool raw = false, picture = false;
    for (const char* w : kRawWords)
        raw = raw || Contains(lower, w);
    for (const char* w : kPictureWords)
        picture = picture || Contains(lower, w);
    if (raw && (picture || Contains(lower, "+") || Contains(lower, "&")))
        return 2;
    if (raw || picture)
        return 1;
    return std::nullopt;
}

std::optional<int> FilesPerShotFromSummary(std::string_view summary)
{
    constexpr std::string_view kLabel = "Capture Formats:";
    const size_t at = summary.find(kLabel);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = summary.substr(at + kLabel.size());
    rest = rest.substr(0, rest.find('\n'));
    if (Lower(Trim(rest)) == "jpeg")
        return 1;
    return std::nullopt;
}

std::string BaseName(std::string_view fileName)
{
    const size_t slash = fileName.rfind('/');
    if (slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    const size_t dot = fileName.rfind('.');
    std::string base(fileName.substr(0, dot));
    for (char& c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return base;
}

int CaptureTimeLimitMs(std::optional<double> exposureSeconds)
{
    constexpr int kMarginMs = 40000;
    constexpr double kLongestSeconds = 3600;
    if (!exposureSeconds || !std::isfinite(*exposureSeconds) || *exposureSeconds <= 0)
        return kMarginMs;
    return kMarginMs + static_cast<int>(2000.0 * std::min(*exposureSeconds, kLongestSeconds));
}

// ---------------------------------------------------------------- events

std::optional<PropertyChange> ParsePropertyChange(std::string_view text)
{
    if (text.rfind("PTP Property ", 0) != 0)
        return std::nullopt;
    const size_t changed = text.find(" changed");
    if (changed == std::string_view::npos)
        return std::nullopt;
    PropertyChange c;
    const size_t q1 = text.find('"', changed);
    const size_t q2 = q1 == std::string_view::npos ? q1 : text.find('"', q1 + 1);
    const size_t q3 = q2 == std::string_view::npos ? q2 : text.find('"', q2 + 1);
    const size_t q4 = q3 == std::string_view::npos ? q3 : text.rfind('"');
    if (q4 == std::string_view::npos || q4 <= q3)
        return c;  // the driver did not say which setting
    c.named = true;
    c.name = std::string(text.substr(q1 + 1, q2 - q1 - 1));
    c.value = std::string(text.substr(q3 + 1, q4 - q3 - 1));
    return c;
}

bool IsStoreFullEvent(std::string_view text) { return Lower(text).rfind("ptp event 400a", 0) == 0; }

// ---------------------------------------------------------------- event paths

EventPath EventPathOf(bool ptp2Driver, int usbVendor, const std::vector<std::string>& settingNames)
{
    constexpr int kCanon = 0x04a9, kNikon = 0x04b0, kSony = 0x054c, kFujifilm = 0x04cb;
    if (!ptp2Driver || (usbVendor != kCanon && usbVendor != kNikon && usbVendor != kSony && usbVendor != kFujifilm))
        return EventPath::Interrupt;
    for (const std::string& name : settingNames) {
        const bool hex = std::all_of(name.begin(), name.end(),
                                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
        if (name.size() != 4 || !hex)
            continue;
        const long property = std::strtol(name.c_str(), nullptr, 16);
        if (property >= 0xD000 && property <= 0xDFFF)
            return EventPath::Polling;
    }
    return EventPath::Interrupt;
}

PollTiming PollTimingOf(EventPath path, bool shotInProgress)
{
    if (path == EventPath::Interrupt)
        return shotInProgress ? PollTiming{250, 250} : PollTiming{1, 100};
    return shotInProgress ? PollTiming{1, 30} : PollTiming{1, 200};
}

bool IsJpegName(std::string_view name)
{
    const FileKind k = ClassifyFileName(name);
    return k.known && k.dataType == cdsdk::cdDATA_TYPE_PICTURE && k.format == cdsdk::cdFORMAT_JPEG;
}

}  // namespace gphoto2
