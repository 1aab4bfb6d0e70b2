// Gphoto2Mapping: how the libgphoto2 backend translates between the camera library's codes
// and libgphoto2's configuration values, files and errors. Pure functions over strings and
// numbers, so that every rule is tested without a camera.
//
// Numbers are read and written the same whatever the desktop's language.
//
// Numeric settings are matched by value, never by label: a driver's text ("1/125",
// "0.0080s", "30", "f/5.6", "5.6", "+0.3", "-1/3", "ISO 400") is read as a number, turned
// into stops and then into the library's eighth-stop code (thirds at 3 and 5, halves at 4).
// A value that is one of the program's own list entries maps to that entry's code (so
// "6" seconds is the third-stop 0x23 and "1.5" seconds the half-stop 0x34); any other value
// gets the nearest third or half stop. Writing picks the driver choice whose code equals
// the code asked for.
//
// Threads: any thread; no state. Nothing blocks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gphoto2 {

// --- Numbers in driver texts ---
// Exposure time in seconds: "1/8000", "1/125s", "30", "2.5", "0.3\"", "0.0100s", "1\"3"
// (1.3 s). "bulb", "auto" and texts without a number give nothing.
std::optional<double> ParseShutterSeconds(std::string_view text);
// Aperture f-number: "f/5.6", "5.6", "F5.6", "f5".
std::optional<double> ParseFNumber(std::string_view text);
// Exposure compensation in stops: "+0.3", "-1/3", "+1 1/3", "1.7", "0", "None".
std::optional<double> ParseExposureStops(std::string_view text);
// ISO speed: "400", "ISO 400", "Iso 1600". "Auto" gives nothing.
std::optional<double> ParseIso(std::string_view text);

// Numbers written the same on every desktop, never with a decimal comma: the shortest
// exact form ("2.8", "45", "0.0125"), or with a fixed number of decimals.
std::string NumberText(double value);
std::string FixedText(double value, int decimals);

// --- Codes of the camera library ---
constexpr uint16_t kTvBulb = 0x04;
constexpr uint16_t kAuto = 0xFFFF;

// Eighth-stop offset of a signed number of stops: whole stops are 8, thirds 3 and 5,
// halves 4, rounded to the nearest of those.
int StopOffset(double stops);

std::optional<uint16_t> TvCodeFromText(std::string_view text);   // "bulb" 0x04, "auto" 0xFFFF
std::optional<uint16_t> AvCodeFromText(std::string_view text);   // "auto"/"implicit auto" 0xFFFF
std::optional<uint16_t> ExposureCompCodeFromText(std::string_view text);
std::optional<uint16_t> IsoCodeFromText(std::string_view text);

// The nominal value of a code, for drivers that take free text or a number range.
double TvSecondsOfCode(uint16_t code);
double FNumberOfCode(uint16_t code);
double ExposureStopsOfCode(uint16_t code);
double IsoOfCode(uint16_t code);

enum class NumericSetting { Tv, Av, ExposureComp, Iso };
std::optional<uint16_t> CodeFromText(NumericSetting setting, std::string_view text);
// Index of the first choice whose code equals `code`; -1 when no choice has it.
int ChoiceForCode(NumericSetting setting, const std::vector<std::string>& choices, uint16_t code);
// Text for a driver that takes free text: "1/125", "2.5", "5.6", "+0.3", "400".
std::string TextForCode(NumericSetting setting, uint16_t code);

// The panel's label for a driver value, in the program's style: the label of the program's
// own list entry with the value's code where there is one ("1/800" for "0.0012s"), else
// the value written as the lists write theirs ("1/10000", "45\"", "5.6", "+0.7", "64");
// "Auto" and "bulb" as such. Empty when the text does not read as a value.
std::string PanelLabel(NumericSetting setting, std::string_view text);

// --- Settings chosen from a table (keywords of the drivers' labels, any letter case) ---
enum class EnumSetting { WhiteBalance, Metering, Drive, AfMode, ShootingMode };
std::optional<uint16_t> EnumCodeFromText(EnumSetting setting, std::string_view text);
int ChoiceForEnumCode(EnumSetting setting, const std::vector<std::string>& choices, uint16_t code);

// Picture quality (2 normal, 3 fine, 4 RAW) and size (0 large, 1 medium, 2 small) of an
// image-format choice such as "Large Fine JPEG", "RAW + Large Fine JPEG", "NEF (Raw)",
// "JPEG Fine" or "cRAW". Missing parts are nullopt.
struct ImageFormat {
    std::optional<uint16_t> quality;
    std::optional<uint16_t> size;
};
ImageFormat ImageFormatFromText(std::string_view text);
// Size code of a pixel-size choice ("6000x4000") among all the choices: the largest is
// large (0), the smallest small (2), anything between medium (1).
std::optional<uint16_t> SizeCodeOfDimensions(const std::vector<std::string>& choices, std::string_view text);
// Choice of an image-format widget for quality and size: the one whose text reads as
// exactly that quality and size (a RAW quality matches a choice that is RAW alone first,
// then RAW + JPEG). -1 when none.
int ChoiceForImageFormat(const std::vector<std::string>& choices, uint16_t quality, uint16_t size);

// --- Where pictures go ---
// The capture-target choice for a release data kind: "picture to PC only" takes the
// camera's internal RAM ("Internal RAM", "sdram"); the kinds that keep a copy on the card
// take the card and RAM together where the body offers it ("card+sdram": the PC gets the
// file too), else the card. -1 when no choice fits.
int CaptureTargetChoice(const std::vector<std::string>& choices, uint16_t kind);

// --- Shots ---
// Files one shot gives for an image-format choice: 2 for RAW + JPEG (or HEIF), 1 for one
// picture, nothing when the text does not say.
std::optional<int> FilesPerShot(std::string_view formatText);
// The same from the driver's summary of the body: a body whose only capture format is
// JPEG ("Capture Formats: JPEG") gives one file per shot.
std::optional<int> FilesPerShotFromSummary(std::string_view summary);
// The name without its extension, upper case ("capt0001.nef" -> "CAPT0001"): the files of
// a RAW + JPEG shot share it.
std::string BaseName(std::string_view fileName);
// How long a capture may take before it has failed: 40 s, or for an exposure of t seconds
// 2 t + 40 s (long-exposure noise reduction takes as long again as the exposure). A bulb
// or unknown time gives the 40 s.
int CaptureTimeLimitMs(std::optional<double> exposureSeconds);

// --- Events the driver passes on as text ---
// "PTP Property 5007 changed, \"f-number\" to \"f/2.8\"": the setting's name and value
// (named); "PTP Property d1a2 changed" (not named). Nothing for other texts.
struct PropertyChange {
    bool named = false;
    std::string name, value;
};
std::optional<PropertyChange> ParsePropertyChange(std::string_view text);
// The PTP "store full" event ("PTP Event 400a, ...").
bool IsStoreFullEvent(std::string_view text);

// --- How the driver hears the camera ---
enum class EventPath {
    Interrupt,  // the body signals events on the USB interrupt pipe: a wait costs nothing
    Polling,    // the driver asks the body for its events, one transaction per look
};
// libgphoto2's ptp2 driver polls Canon EOS, Nikon, Sony and Fujifilm bodies that speak their
// maker's extension (seen as vendor properties among the driver's settings: names of four
// hex digits from d000 up); every other body, and every other driver, uses the interrupt pipe.
EventPath EventPathOf(bool ptp2Driver, int usbVendor, const std::vector<std::string>& settingNames);
// One look for events: the timeout handed to libgphoto2, and how long a look that found
// nothing lasts at least (the rest is waited out where a queued call ends it at once).
struct PollTiming {
    int waitMs = 0;
    int cycleMs = 0;
};
PollTiming PollTimingOf(EventPath path, bool shotInProgress);

// --- Files the camera produced ---
struct FileKind {
    uint32_t dataType = 0;  // cdDATA_TYPE_PICTURE or cdDATA_TYPE_THUMBNAIL
    uint8_t format = 0;     // cdFORMAT_JPEG or cdFORMAT_RAW
    bool known = false;     // false: a file the program does not download (movies, sidecars)
};
// By the file name's extension, any letter case: JPG/JPEG pictures, THM thumbnails, CRW
// and the newer RAW formats (CR2, CR3, NEF, NRW, ARW, SR2, DNG, ORF, RW2, PEF, RAF, SRW,
// 3FR, IIQ, RWL, X3F, KDC, DCR, MRW, ERF), TIF/TIFF as RAW, and HEIF pictures (HIF, HEIF,
// HEIC), which come as RAW too: kept byte for byte under their own extension.
FileKind ClassifyFileName(std::string_view name);
bool IsJpegName(std::string_view name);

// --- Errors, with what to do about them ---
enum class Problem {
    None,
    NoCamera,             // nothing found at the chosen port
    CameraBusy,           // another program holds the camera
    NoPermission,         // the USB device cannot be opened
    CannotCapture,        // the body refused to take the picture (mode, lens, card door)
    AutofocusFailed,      // the lens could not find focus
    Busy,                 // the body is still busy with the previous picture
    CardFull,             // no room on the card
    CardLocked,           // the card is write-protected
    Disconnected,         // the cable came out or the body switched off
    DriverCannotCapture,  // the driver has no remote capture
    StillClosing,         // this program is still letting go of the camera
    DownloadFailed,       // the body would not hand over a picture
    DeleteFailed,         // a picture saved on the PC could not be deleted on the camera
    Other,
};
// Which problem a libgphoto2 result stands for; `atOpen` is true for the results of
// opening the camera (where an I/O error means the device could not be opened). The
// driver's own text (in English: the backend runs libgphoto2 in the C locale) tells a
// full or write-protected card, a failed autofocus and a busy body apart.
Problem ProblemOf(int gpResult, bool atOpen, std::string_view driverText = {});
// The message shown on standard error (and in the debug trace): what happened and what to
// do. `model` and `port` name the camera; `detail` is libgphoto2's own text.
std::string ProblemMessage(Problem problem, std::string_view model, std::string_view port,
                           std::string_view detail);
// Several cameras attached and none chosen: names them ("MODEL at PORT") and says how to
// choose one.
std::string SeveralCamerasMessage(const std::vector<std::string>& modelsAtPorts);
// The hardware error code reported with release event 10 for a failed capture: 1 for a
// failed autofocus, 135 (no card) for a full, locked or missing card, otherwise 0x8000
// plus libgphoto2's error number.
uint32_t HardwareErrorOf(Problem problem, int gpResult);

}  // namespace gphoto2
