#include "mainview/ValueLists.h"

#include <array>
#include <cstdio>

namespace panel {

namespace {

// Times of 0.3 s and longer carry the inch sign; shorter ones are written 1/n.
constexpr ValueEntry kTvFine[] = {
    {"bulb", 0x04},   {"30\"", 0x10},   {"25\"", 0x13},   {"20\"", 0x15},    {"15\"", 0x18},
    {"13\"", 0x1B},   {"10\"", 0x1D},   {"8\"", 0x20},    {"6\"", 0x23},     {"5\"", 0x25},
    {"4\"", 0x28},    {"3.2\"", 0x2B},  {"2.5\"", 0x2D},  {"2\"", 0x30},     {"1.6\"", 0x33},
    {"1.3\"", 0x35},  {"1\"", 0x38},    {"0.8\"", 0x3B},  {"0.6\"", 0x3D},   {"0.5\"", 0x40},
    {"0.4\"", 0x43},  {"0.3\"", 0x45},  {"1/4", 0x48},    {"1/5", 0x4B},     {"1/6", 0x4D},
    {"1/8", 0x50},    {"1/10", 0x53},   {"1/13", 0x55},   {"1/15", 0x58},    {"1/20", 0x5B},
    {"1/25", 0x5D},   {"1/30", 0x60},   {"1/40", 0x63},   {"1/50", 0x65},    {"1/60", 0x68},
    {"1/80", 0x6B},   {"1/100", 0x6D},  {"1/125", 0x70},  {"1/160", 0x73},   {"1/200", 0x75},
    {"1/250", 0x78},  {"1/320", 0x7B},  {"1/400", 0x7D},  {"1/500", 0x80},   {"1/640", 0x83},
    {"1/800", 0x85},  {"1/1000", 0x88}, {"1/1250", 0x8B}, {"1/1600", 0x8D},  {"1/2000", 0x90},
    {"1/2500", 0x93}, {"1/3200", 0x95}, {"1/4000", 0x98}, {"Auto", 0xFFFF},
};

constexpr ValueEntry kTvCoarse[] = {
    {"bulb", 0x04},   {"30\"", 0x10},   {"20\"", 0x14},  {"15\"", 0x18},   {"10\"", 0x1C},
    {"8\"", 0x20},    {"6\"", 0x24},    {"4\"", 0x28},   {"3\"", 0x2C},    {"2\"", 0x30},
    {"1.5\"", 0x34},  {"1\"", 0x38},    {"0.7\"", 0x3C}, {"0.5\"", 0x40},  {"0.3\"", 0x44},
    {"1/4", 0x48},    {"1/6", 0x4C},    {"1/8", 0x50},   {"1/10", 0x54},   {"1/15", 0x58},
    {"1/20", 0x5C},   {"1/30", 0x60},   {"1/45", 0x64},  {"1/60", 0x68},   {"1/90", 0x6C},
    {"1/125", 0x70},  {"1/180", 0x74},  {"1/250", 0x78}, {"1/350", 0x7C},  {"1/500", 0x80},
    {"1/750", 0x84},  {"1/1000", 0x88}, {"1/1500", 0x8C}, {"1/2000", 0x90}, {"1/3000", 0x94},
    {"1/4000", 0x98}, {"Auto", 0xFFFF},
};

constexpr ValueEntry kAvFine[] = {
    {"1.0", 0x08}, {"1.1", 0x0B}, {"1.2", 0x0D}, {"1.4", 0x10}, {"1.6", 0x13}, {"1.8", 0x15},
    {"2", 0x18},   {"2.2", 0x1B}, {"2.5", 0x1D}, {"2.8", 0x20}, {"3.2", 0x23}, {"3.5", 0x25},
    {"4", 0x28},   {"4.5", 0x2B}, {"5.0", 0x2D}, {"5.6", 0x30}, {"6.3", 0x33}, {"7.1", 0x35},
    {"8.0", 0x38}, {"9.0", 0x3B}, {"10", 0x3D},  {"11", 0x40},  {"12", 0x43},  {"14", 0x45},
    {"16", 0x48},  {"18", 0x4B},  {"20", 0x4D},  {"22", 0x50},  {"25", 0x53},  {"29", 0x55},
    {"32", 0x58},  {"36", 0x5B},  {"40", 0x5D},  {"45", 0x60},  {"51", 0x63},  {"57", 0x65},
    {"64", 0x68},  {"72", 0x6B},  {"81", 0x6D},  {"91", 0x70},  {"Auto", 0xFFFF},
};

constexpr ValueEntry kAvCoarse[] = {
    {"1.0", 0x08}, {"1.2", 0x0C}, {"1.4", 0x10}, {"1.8", 0x14}, {"2", 0x18},  {"2.5", 0x1C},
    {"2.8", 0x20}, {"3.5", 0x24}, {"4", 0x28},   {"4.5", 0x2C}, {"5.6", 0x30}, {"6.7", 0x34},
    {"8", 0x38},   {"9.5", 0x3C}, {"11", 0x40},  {"13", 0x44},  {"16", 0x48},  {"19", 0x4C},
    {"22", 0x50},  {"27", 0x54},  {"32", 0x58},  {"38", 0x5C},  {"45", 0x60},  {"54", 0x64},
    {"64", 0x68},  {"76", 0x6C},  {"91", 0x70},  {"Auto", 0xFFFF},
};

constexpr ValueEntry kCompFine[] = {
    {"+2", 0x08},  {"+1 2/3", 0x0B}, {"+1 1/3", 0x0D}, {"+1", 0x10},     {"+2/3", 0x13},
    {"+1/3", 0x15}, {"None", 0x18},  {"-1/3", 0x1B},   {"-2/3", 0x1D},   {"-1", 0x20},
    {"-1 1/3", 0x23}, {"-1 2/3", 0x25}, {"-2", 0x28},
};

constexpr ValueEntry kCompCoarse[] = {
    {"+2", 0x08},   {"+1 1/2", 0x0C}, {"+1", 0x10}, {"+1/2", 0x14},  {"None", 0x18},
    {"-1/2", 0x1C}, {"-1", 0x20},     {"-1 1/2", 0x24}, {"-2", 0x28},
};

constexpr ValueEntry kSizeQuality[] = {
    {"Raw", 0x4},           {"Large/fine", 0x3},      {"Large/normal", 0x2}, {"Medium/fine", 0x10003},
    {"Medium/normal", 0x10002}, {"Small/fine", 0x20003}, {"Small/normal", 0x20002},
};

constexpr ValueEntry kWhiteBalance[] = {
    {"Auto", 0},       {"Daylight", 1}, {"Shade", 8},  {"Cloudy", 2},  {"Tungsten", 3},
    {"Fluorescent", 4}, {"Flash", 5},   {"Custom", 6}, {"Kelvin", 9},
};

constexpr ValueEntry kMetering[] = {{"Evaluative", 3}, {"Partial", 4}, {"Center-weighted", 5}};
constexpr ValueEntry kDrive[] = {{"Single shot", 0}, {"Continuous", 1}, {"Self-timer", 0x10}};
constexpr ValueEntry kAfMode[] = {
    {"One-Shot AF", 0}, {"AI Servo AF", 1}, {"AI Focus AF", 2}, {"Manual Focus", 3}};

constexpr ValueEntry kIso3200[] = {{"100", 0x48}, {"200", 0x50},  {"400", 0x58},
                                   {"800", 0x60}, {"1600", 0x68}, {"3200", 0x70}};
constexpr ValueEntry kIso1000[] = {{"100", 0x48}, {"200", 0x50}, {"400", 0x58}, {"800", 0x60}, {"1000", 0x63}};

static_assert(std::size(kTvFine) == 54 && std::size(kTvCoarse) == 37);
static_assert(std::size(kAvFine) == 41 && std::size(kAvCoarse) == 28);
static_assert(std::size(kCompFine) == 13 && std::size(kCompCoarse) == 9);

constexpr FocusPointButton kFocusPoints[] = {
    {1020, 7},  // top
    {1024, 6},  // far left
    {1023, 4},  // left
    {1021, 3},  // centre
    {1025, 2},  // right
    {1026, 5},  // far right
    {1022, 8},  // bottom
};

std::string Format(const char* fmt, int a, int b = 0, int c = 0)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return buf;
}

}  // namespace

ValueList TvFine() { return kTvFine; }
ValueList TvCoarse() { return kTvCoarse; }
ValueList AvFine() { return kAvFine; }
ValueList AvCoarse() { return kAvCoarse; }
ValueList CompensationFine() { return kCompFine; }
ValueList CompensationCoarse() { return kCompCoarse; }
ValueList SizeQuality() { return kSizeQuality; }
ValueList WhiteBalance8() { return ValueList(kWhiteBalance).first(8); }
ValueList WhiteBalance9() { return kWhiteBalance; }
ValueList Metering() { return kMetering; }
ValueList Drive() { return kDrive; }
ValueList AfMode() { return kAfMode; }
ValueList Iso3200() { return kIso3200; }
ValueList Iso1600() { return ValueList(kIso3200).first(5); }
ValueList Iso1000() { return kIso1000; }

Model ModelFromFlags(bool is10D, bool is300D, bool isD30, bool isD60)
{
    if (is300D)
        return Model::Eos300D;
    if (is10D)
        return Model::Eos10D;
    if (isD30)
        return Model::D30;
    if (isD60)
        return Model::D60;
    return Model::Other;
}

bool HasThreeFocusPoints(Model m) { return m == Model::D30 || m == Model::D60; }

ValueList WhiteBalanceListFor(Model m)
{
    return (m == Model::Eos300D || HasThreeFocusPoints(m)) ? WhiteBalance8() : WhiteBalance9();
}

ValueList IsoListFor(Model m)
{
    switch (m) {
    case Model::D60: return Iso1000();
    case Model::D30:
    case Model::Eos300D: return Iso1600();
    default: return Iso3200();
    }
}

int IndexOfCode(ValueList list, uint32_t code)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].code == code)
            return static_cast<int>(i);
    return -1;
}

std::span<const FocusPointButton> FocusPointButtons() { return kFocusPoints; }

uint16_t FocusPointCode(int controlId)
{
    for (const auto& b : kFocusPoints)
        if (b.controlId == controlId)
            return b.code;
    return 0;
}

uint16_t FocusPointWriteValue(uint16_t code, Model m)
{
    uint16_t v = static_cast<uint16_t>(0x7000 + code);
    if (HasThreeFocusPoints(m))
        v &= 0x3FFF;  // these bodies take only 14 bits: 0x3000 plus the code
    return v;
}

bool FocusPointChecked(uint16_t afPointSetting, uint16_t code)
{
    const uint16_t selected = afPointSetting & 0xF;
    return selected == kSelectAllCode || selected == code;
}

bool FocusPointShown(int controlId, Model m)
{
    if (!HasThreeFocusPoints(m))
        return true;
    const uint16_t code = FocusPointCode(controlId);
    return code == 4 || code == 3 || code == 2;
}

uint32_t SizeQualityCode(uint16_t quality, uint16_t size)
{
    return (static_cast<uint32_t>(size & 0xFF) << 16) | (quality & 0xFFu);
}
uint16_t QualityOf(uint32_t code) { return static_cast<uint16_t>(code & 0xFFFF); }
uint16_t SizeOf(uint32_t code) { return static_cast<uint16_t>(code >> 16); }

ButtonLines ButtonFunctionLines(Model m, const CustomFunctionReader& cf)
{
    if (m == Model::Eos300D)
        return {};
    const uint16_t v = HasThreeFocusPoints(m) ? cf(2) : cf(4);
    switch (v) {
    case 0: return {"Shutter release: AF", "AE lock button: AE lock"};
    case 1: return {"Shutter release: AE lock", "AE lock button: AF"};
    case 2: return {"Shutter release: AF", "AE lock button: AF lock, no AE lock"};
    case 3: return {"Shutter release: AE", "AE lock button: AF, no AE lock"};
    default: return {};
    }
}

std::string MirrorLockupLine(Model m, const CustomFunctionReader& cf)
{
    if (m == Model::Eos300D)
        return {};
    const uint16_t v = HasThreeFocusPoints(m) ? cf(3) : cf(12);
    return v != 0 ? "Mirror lockup: ENABLED" : "";
}

bool UsesFineLists(Model m, const CustomFunctionReader& cf)
{
    switch (m) {
    case Model::Eos10D: return cf(6) != 0;
    case Model::D30:
    case Model::D60: return cf(4) != 0;
    default: return true;
    }
}

bool IsCreativeMode(uint16_t mode)
{
    return mode == 1 || mode == 2 || mode == 3 || mode == 4 || mode == 5 || mode == 7 ||
           (mode >= kModeFlexiblePriority && mode <= kModeUser3);
}

std::string ModeLine(uint16_t mode)
{
    const char* name = nullptr;
    switch (mode) {
    case 0: name = "Auto"; break;
    case 1: name = "Program"; break;
    case 2: name = "Tv"; break;
    case 3: name = "Av"; break;
    case 4: name = "Manual"; break;
    case 5: name = "A-DEP"; break;
    case 6: name = "M-DEP"; break;
    case 7: name = "BULB"; break;
    case 101: name = "Manual 2"; break;
    case 102: name = "Landscape"; break;
    case 103: name = "Sport"; break;
    case 104: name = "Slow shutter"; break;
    case 105: name = "Night scene"; break;
    case 106: name = "B&W"; break;
    case 107: name = "Sepia"; break;
    case 108: name = "Portrait"; break;
    case 109: name = "Sport"; break;
    case 110: name = "Close up"; break;
    case 111: name = "B&W"; break;
    case 112: name = "Pan focus"; break;
    case 113: name = "Vivid"; break;
    case 114: name = "Neutral"; break;
    case kModeFlexiblePriority: name = "Fv"; break;
    case kModeCustom1: name = "C1"; break;
    case kModeCustom2: name = "C2"; break;
    case kModeCustom3: name = "C3"; break;
    case kModeUser1: name = "U1"; break;
    case kModeUser2: name = "U2"; break;
    case kModeUser3: name = "U3"; break;
    case 0xFFFF: name = "Unknown"; break;
    default: break;
    }
    if (name)
        return std::string("Mode: ") + name;
    return "Mode: " + Format("0x%04x", mode);
}

std::string ParameterSetLine(Model m, uint16_t value)
{
    if (HasThreeFocusPoints(m))
        return {};
    const bool is300D = m == Model::Eos300D;
    switch (value) {
    case 0: return is300D ? "Parameter Set: Parameter 1, sRGB" : "Parameter Set: Standard, sRGB";
    case 1: return "Parameter Set: Set 1, sRGB";
    case 2: return "Parameter Set: Set 2, sRGB";
    case 3: return "Parameter Set: Set 3, sRGB";
    case 4: return "Parameter Set: Adobe RGB";
    case 5: return is300D ? "Parameter Set: Parameter 2, sRGB" : "Parameter Set: Undefined (5)";
    default: return "Parameter Set: Undefined";
    }
}

std::string LensLine(uint16_t divisor, uint16_t current, uint16_t shortEnd, uint16_t longEnd)
{
    std::string line = "Lens: ";
    if (divisor == 0 || divisor == 0xFFFF)
        return line;
    const int d = divisor;
    if (shortEnd == longEnd)
        return line + Format("%dmm", current / d);
    return line + Format("%d-%d @ %dmm", longEnd / d, shortEnd / d, current / d);
}

uint16_t ColourTemperatureFromText(std::string_view text)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);

    // The leading number, held within a range wide enough for the clamp below, so that a
    // long or negative entry lands on the nearer limit instead of wrapping around.
    bool negative = false;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 1000000)
            value = 1000000;
    }
    if (negative)
        value = -value;

    if (value < 2800)
        value = 2800;
    if (value > 10000)
        value = 10000;
    return static_cast<uint16_t>((value + 100) / 200 * 200);
}

}  // namespace panel
