// ValueLists: what the camera settings panel shows and sends, without any widgets. Every
// value list of the panel (labels with the camera library's codes, in the order the lists
// are filled), the focus-point codes, the camera settings the panel reads and writes with
// their sizes, and the text rules of the read-only lines (exposure mode, lens, parameter
// set, shutter and AE lock buttons, mirror lockup) and of the colour temperature box.
//
// Pure functions and constant tables: any thread, never blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace panel {

struct ValueEntry {
    const char* label;
    uint32_t code;
};
using ValueList = std::span<const ValueEntry>;

constexpr uint32_t kBulbCode = 0x04;
constexpr uint32_t kAutoCode = 0xFFFF;  // the camera chooses the value itself
constexpr uint32_t kNoFlashCode = 255;  // flash compensation of a body without flash control
constexpr uint16_t kManualFocus = 3;    // AF mode code of manual focus
constexpr uint16_t kKelvinWhiteBalance = 9;

// Shutter speeds (Tv): "bulb" first, "Auto" last.
ValueList TvFine();    // 54 entries, third stops
ValueList TvCoarse();  // 37 entries, half stops
// Apertures (Av): "Auto" last.
ValueList AvFine();    // 41 entries
ValueList AvCoarse();  // 28 entries
// Exposure compensation, also used for flash compensation.
ValueList CompensationFine();    // 13 entries
ValueList CompensationCoarse();  // 9 entries
// Size in the upper 16 bits, quality in the lower 16 bits.
ValueList SizeQuality();
ValueList WhiteBalance8();  // without "Kelvin"
ValueList WhiteBalance9();  // with "Kelvin" (9) last
ValueList Metering();
ValueList Drive();
ValueList AfMode();
ValueList Iso3200();
ValueList Iso1600();
ValueList Iso1000();

// The bodies the panel tells apart. Anything not named (e.g. a body recognised only to be
// refused) is Other and gets the lists of the newest bodies.
enum class Model { Eos10D, Eos300D, D30, D60, Other };
Model ModelFromFlags(bool is10D, bool is300D, bool isD30, bool isD60);
// The D30 and D60 have only three focus points (left, centre, right).
bool HasThreeFocusPoints(Model m);

ValueList WhiteBalanceListFor(Model m);
ValueList IsoListFor(Model m);

// Index of the first entry whose code equals `code`, or -1.
int IndexOfCode(ValueList list, uint32_t code);

// Focus points: the panel's buttons by control id with the codes the camera uses for them
// (low 4 bits of the AF point setting), in the order top, far left, left, centre, right,
// far right, bottom.
struct FocusPointButton {
    int controlId;
    uint16_t code;
};
std::span<const FocusPointButton> FocusPointButtons();
constexpr uint16_t kSelectAllCode = 1;
// Code of the button with this control id, 0 for an unknown id.
uint16_t FocusPointCode(int controlId);
// Value written to the AF point setting when a button (or "Select All") is clicked.
uint16_t FocusPointWriteValue(uint16_t code, Model m);
// Whether the button with `code` is checked for the AF point setting read from the camera.
bool FocusPointChecked(uint16_t afPointSetting, uint16_t code);
// The body's focus-point buttons are hidden on three-point bodies except left, centre, right.
bool FocusPointShown(int controlId, Model m);

// Settings read and written through the generic setting calls, with their sizes in bytes.
struct SettingSpec {
    uint32_t id;
    uint32_t size;
};
namespace setting {
constexpr SettingSpec kAvLimitGate{0x600, 2};
constexpr SettingSpec kAvMax{0x21, 2};
constexpr SettingSpec kAvOpen{0x20, 2};
constexpr SettingSpec kFlashComp{0x0800000D, 1};
constexpr SettingSpec kColourTemp{0x1100, 2};
constexpr SettingSpec kMetering{0x08000004, 1};
constexpr SettingSpec kIso{0x0800000C, 2};
constexpr SettingSpec kAfMode{7, 1};
constexpr SettingSpec kAfPoint{0x08000005, 2};
constexpr SettingSpec kParameterSet{11, 2};
constexpr SettingSpec kFocalDivisor{0x25, 2};
constexpr SettingSpec kFocalCurrent{0x22, 2};
constexpr SettingSpec kFocalShort{0x23, 2};
constexpr SettingSpec kFocalLong{0x24, 2};
}  // namespace setting

// Size/quality list code from the camera's picture format, and back.
uint32_t SizeQualityCode(uint16_t quality, uint16_t size);
uint16_t QualityOf(uint32_t sizeQualityCode);
uint16_t SizeOf(uint32_t sizeQualityCode);

// Custom functions as the camera object holds them (number -> setting, 0 above 29).
using CustomFunctionReader = std::function<uint16_t(int number)>;

struct ButtonLines {
    std::string shutter;  // "Shutter release: ..." or empty
    std::string aeLock;   // "AE lock button: ..." or empty
};

// The shutter-button and AE-lock-button lines for the body's custom function.
ButtonLines ButtonFunctionLines(Model m, const CustomFunctionReader& cf);
// "Mirror lockup: ENABLED" or empty.
std::string MirrorLockupLine(Model m, const CustomFunctionReader& cf);
// Whether the body counts exposure in third stops (fine lists) rather than half stops.
bool UsesFineLists(Model m, const CustomFunctionReader& cf);

// Modes of newer bodies (read through libgphoto2): Canon's flexible priority (Fv) and
// custom modes (C1 to C3), Nikon's user settings (U1 to U3). They hold modes the user
// chose the exposure in, so they count as creative.
constexpr uint16_t kModeFlexiblePriority = 120;
constexpr uint16_t kModeCustom1 = 121;
constexpr uint16_t kModeCustom2 = 122;
constexpr uint16_t kModeCustom3 = 123;
constexpr uint16_t kModeUser1 = 124;
constexpr uint16_t kModeUser2 = 125;
constexpr uint16_t kModeUser3 = 126;

// Modes where the user chooses the exposure: Program, Tv, Av, Manual, A-DEP, Bulb, and
// the newer bodies' Fv, C1 to C3 and U1 to U3.
bool IsCreativeMode(uint16_t mode);
// "Mode: Program" etc.; an unnamed mode reads "Mode: 0x00c8".
std::string ModeLine(uint16_t mode);
// The picture parameter set line; empty for the D30 and D60, which have none.
std::string ParameterSetLine(Model m, uint16_t value);
// "Lens: 135-28 @ 50mm" (long end, short end, current) or "Lens: 50mm" for a prime; "Lens: " alone for a divisor of 0 or 0xFFFF.
std::string LensLine(uint16_t divisor, uint16_t current, uint16_t shortEnd, uint16_t longEnd);

// Colour temperature typed by the user, as sent to the camera: leading number of the
// trimmed text (0 without one), kept within 2800..10000 K and rounded to 200 K.
uint16_t ColourTemperatureFromText(std::string_view text);

}  // namespace panel
