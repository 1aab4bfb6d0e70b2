// The camera library boundary: every camera operation the program performs goes through
// CameraLibrary, one virtual call per library function. Implementations: the simulated
// camera (backends/sim) and real cameras through libgphoto2 (backends/gphoto2). Code above
// this boundary never knows which one it talks to. Every implementation passes the one
// conformance suite (tests/camera/CameraLibraryConformanceTest.cpp).
//
// Contract kept by every implementation:
//  - every call returns a 32-bit result code, 0 (cdOK) for success;
//  - handles are 32-bit opaque values, 0 meaning "none";
//  - the records below keep their exact sizes and layouts (checked at compile time);
//  - callbacks receive their context pointer exactly as it was registered, with the
//    argument orders declared here. Event and release-event callbacks may be called on a
//    library thread; the progress and stream callbacks are called on the thread that
//    called CDGetReleasedData. A callback never calls back into the library.
//
// Threads: any thread may call; an implementation serialises what it must.
//
// Calls that may block, and for how long:
//  - CDStartSDK, CDEnumDevice*, CDOpenSource: as long as the bus and device take;
//  - CDRelease: either returns once the shutter is released and announces the items
//    later (events 28 then 29 on a library thread), or blocks through the exposure and
//    delivers events 28 and 29 (or 10) before it returns. Callers handle both: they
//    record whatever the shot needs before calling CDRelease. The release data kind of a
//    shot is the one selected when CDRelease is called; selecting another kind afterwards
//    does not change the shot. Event 29 announces at most 16 items: a shot with more is
//    announced in parts, each opened by its own event 28;
//  - CDGetReleasedData: until the whole item has streamed through the stream callbacks
//    (seconds for a picture over USB 1.1);
//  - CDSelectReleaseDataKind: where the body must be told where its pictures go (a
//    capture target), until the body has taken it; a body that refuses answers non-zero
//    and keeps its previous target;
//  - CDExitReleaseControl, CDCloseSource: until a callback in flight has returned;
//  - CDFlashImageItemProperty: for the file I/O of rewriting the picture.
//  Every other call returns promptly.
//
// Ending a connection:
//  - once CDExitReleaseControl has returned, the release-event callback registered on
//    that source never runs again; once CDCloseSource has returned, no callback
//    registered on that source runs again;
//  - CDCloseSource, called from any thread, ends a blocking CDGetReleasedData and a
//    blocking CDRelease on that source promptly, with a non-zero result;
//  - the program leaves release control before it closes the source, and finishes the
//    library (CDFinishSDK) only after every thread that used a source has ended.
//
// After a release:
//  - CDGetTransferPause gives how long the caller lets the camera rest between an
//    announcement (event 29) and its first CDGetReleasedData. A library whose announced
//    items are already on the PC answers 0; one that still has to fetch them from a body
//    that needs a moment after the shutter answers its own pause (the simulated bodies:
//    100 ms). Answered promptly, the same for the whole life of the source;
//  - CDReleasedItemSaved(source) says that the item the last successful
//    CDGetReleasedData on that source delivered is now safely on disk (written and synced,
//    in the picture folder or a rescue folder). When that item's shot was fired with a kind
//    that keeps no copy on the card (no cdREL_KIND_PICT_TO_CAM), the library may delete
//    the copy the camera held for the transfer, so that a body whose memory fills up keeps
//    shooting; with a kind that keeps a copy on the card it deletes nothing. It returns
//    promptly (any deletion happens later on the library's own thread); a deletion that
//    fails is reported once through CDGetProblemReport, not at every shot. Calling it for
//    an item twice, or with nothing delivered, does nothing.
//
// Problems: CDGetProblemReport gives the library's own account of its last failure (a
// device enumeration, an open, a release, a download or a deletion): what went wrong and
// what the user can do about it, in UTF-8, for showing under the program's own message.
// Source 0 asks about the library as a whole (the failures of connecting). *size is the
// buffer's size in bytes on entry and the length of the text written (without its
// terminating zero, which is always written) on return; 0 means there is nothing to report.
// A text longer than the buffer is cut at a character boundary. Reading a report forgets
// it, so an old reason never explains a later failure. Answered promptly.
//
// Bodies the program's own tables do not describe (newer bodies of a real camera):
//  - CDGetOfferedSettings answers cdNOT_SUPPORTED for a body the program's built-in tables
//    describe (the settings panel then works from those tables, as for the seed bodies).
//    Otherwise it gives two sets of cdOFFERS_* bits: the settings the body has (present)
//    and those it takes a new value for now (settable, a subset of present). Answered from
//    what the library already knows, promptly;
//  - CDGetSettingChoices gives the body's own choices for cdOFFERS_TV, cdOFFERS_AV,
//    cdOFFERS_ISO or cdOFFERS_EXPOSURE_COMP, in the body's order, each with the code the
//    setting's get and set calls use and a label in the program's style ("1/125", "2\"",
//    "5.6", "+1/3", "400", "Auto"); no two choices share a code. *count is the array's
//    capacity on entry and the number of choices on return; when the array is too small the
//    call answers cdINVALID_PARAMETER with the number needed. cdNOT_SUPPORTED where
//    CDGetOfferedSettings does, or for a setting the body lacks.
//
// Live view and focus (bodies that have them; CDGetLiveViewCapabilities says which):
//  - CDGetLiveViewCapabilities answers from what the body was probed to do when the source
//    was opened, never from a flag alone; a body without live view answers 0 and every
//    other live-view call then answers cdNOT_SUPPORTED;
//  - CDStartLiveView and CDEndLiveView switch the body's viewfinder output on and off;
//    starting a running live view and ending an ended one succeed. CDStartLiveView may
//    block while the body raises its mirror (about a second on a real body);
//  - CDGetLiveViewFrame writes one JPEG frame through the stream callbacks (open for
//    writing, writes, close), on the calling thread. It blocks at most one frame time of the
//    body; when no new frame came within it, it answers cdLIVE_VIEW_NO_FRAME (ask again).
//    While a release or a download runs it answers cdDEVICE_BUSY at once (a release is
//    allowed during live view: the picture's road comes first). When live view is not
//    running, or the body ended it by itself (mode dial, battery, a release that needs the
//    mirror down for good), it answers cdLIVE_VIEW_ENDED. CDCloseSource ends a blocked frame
//    call promptly, and any frame call on a closed source answers an error other than
//    cdLIVE_VIEW_NO_FRAME and cdDEVICE_BUSY. Nothing is written through the stream unless
//    the call answers cdOK;
//  - CDDriveFocus moves the lens one step: negative towards the nearest distance,
//    positive towards infinity; 1 is the body's finest step, 2 a medium and 3 its coarsest
//    (0 and anything beyond 3 answer cdINVALID_PARAMETER). It returns once the body has
//    taken the step (or, where the body does not say, once the step was sent: callers that
//    need the lens at rest wait a settle time). A step that meets the end of the lens's
//    travel stops there and answers cdFOCUS_AT_LIMIT. Bodies with
//    cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW drive focus only while live view runs (otherwise the
//    call fails); with cdLV_CAP_FOCUS_COUNTS_STEPS, n steps of one size back undo n steps
//    forward (away from the ends), so a focus position can be returned to;
//  - CDSetLiveViewZoom magnifies the body's own frames (cdLV_CAP_CAMERA_ZOOM): 1 (whole
//    frame), 5 or 10 (anything else answers cdINVALID_PARAMETER), centred on (x, y) in the
//    pixels of the whole frame; the body keeps the magnified area inside the frame;
//  - CDStartAutoFocus runs the body's autofocus once and returns when the body has
//    finished it (or, where the body does not say, once it was started); a failure to
//    find focus answers cdAF_FAILED;
//  - CDDriveFocus, CDSetLiveViewZoom and CDStartAutoFocus may answer cdDEVICE_BUSY while a
//    release or a download runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cdsdk {

using cdError = uint32_t;
using cdHandle = uint32_t;
using cdHSource = cdHandle;
using cdHEnum = cdHandle;
using cdHItem = cdHandle;
using cdContext = void*;

constexpr cdError cdOK = 0;
// Failure codes an implementation may return. Callers only test for non-zero unless a
// caller documents otherwise.
constexpr cdError cdERROR = 0x00000002;
constexpr cdError cdNOT_SUPPORTED = 0x00000007;
constexpr cdError cdINVALID_PARAMETER = 0x00000080;
constexpr cdError cdINVALID_HANDLE = 0x00000081;
constexpr cdError cdENUM_NA = 0x00000086;          // enumeration has no more entries
constexpr cdError cdDEVICE_NOT_FOUND = 0x00000090;
constexpr cdError cdDEVICE_BUSY = 0x00000091;
constexpr cdError cdINCOMPATIBLE_VERSION = 0x00000096;
constexpr cdError cdCAMERA_BUSY_LCD = 0x00000092;   // controls cannot be locked: the LCD is on
constexpr cdError cdSTREAM_ERROR = 0x000000A0;
constexpr cdError cdCOMM_ERROR = 0x000000B0;
constexpr cdError cdLIVE_VIEW_NO_FRAME = 0x000000C0;  // no new frame within one frame time
constexpr cdError cdLIVE_VIEW_ENDED = 0x000000C1;     // the body ended live view by itself
constexpr cdError cdFOCUS_AT_LIMIT = 0x000000C2;      // the lens is at the end of its travel
constexpr cdError cdAF_FAILED = 0x000000C3;           // autofocus could not find focus

#pragma pack(push, 1)
// Version record handed to CDStartSDK: 16-bit size (40), major, minor, rest zero.
struct cdVersionInfo {
    uint16_t Size;
    uint16_t MajorVersion;
    uint16_t MinorVersion;
    uint8_t Reserved[34];
};

// One attached device, as returned by the device enumeration. The model name,
// zero-terminated, starts at byte 8.
struct cdSourceInfo {
    uint32_t SurceType;
    uint32_t Reserved;
    char Name[256];
    uint8_t PortData[136];
};

// Describes one released item; packed, no padding.
struct cdReleaseImageInfo {
    uint32_t SequenceID;
    uint32_t DataType;
    uint8_t Format;
    uint32_t DataSize;
};
#pragma pack(pop)

static_assert(sizeof(cdVersionInfo) == 40);
static_assert(sizeof(cdSourceInfo) == 400);
static_assert(offsetof(cdSourceInfo, Name) == 8);
static_assert(sizeof(cdReleaseImageInfo) == 13);

// Data types and formats of released items.
constexpr uint32_t cdDATA_TYPE_THUMBNAIL = 16;
constexpr uint32_t cdDATA_TYPE_PICTURE = 32;
constexpr uint32_t cdDATA_TYPE_PLUS_JPEG = 80;
constexpr uint8_t cdFORMAT_JPEG = 1;
constexpr uint8_t cdFORMAT_RAW = 2;

// Release data kind: bits of what goes where.
constexpr uint16_t cdREL_KIND_THUMB_TO_PC = 1;
constexpr uint16_t cdREL_KIND_PICT_TO_PC = 2;
constexpr uint16_t cdREL_KIND_THUMB_TO_CAM = 4;
constexpr uint16_t cdREL_KIND_PICT_TO_CAM = 8;

// Release events.
constexpr uint32_t cdRELEASE_EVENT_RESET_HW_ERROR = 10;
constexpr uint32_t cdRELEASE_EVENT_CHANGED_BY_UI = 27;
constexpr uint32_t cdRELEASE_EVENT_RELEASE_START = 28;
constexpr uint32_t cdRELEASE_EVENT_RELEASE_COMPLETE = 29;

// Camera event codes: class in bits 16..19, number in the low 16 bits; bit 27 marks
// an event the program ignores.
constexpr uint32_t cdEVENT_IGNORE_BIT = 0x8000000;
constexpr uint32_t cdEVENT_CLASS_MASK = 0xF0000;
constexpr uint32_t cdEVENT_NUMBER_MASK = 0xFFFF;
constexpr uint32_t cdEVENT_CLASS_OPERATION = 0x20000;
constexpr uint32_t cdEVENT_CLASS_SHUTDOWN = 0x40000;

// Hardware errors reported with release event 10.
constexpr uint32_t cdHW_ERROR_AF_FAILED = 1;
constexpr uint32_t cdHW_ERROR_NO_CF_CARD = 135;

// Shutdown causes (number of a shutdown-class camera event).
constexpr uint32_t cdSHUTDOWN_BATTERY_LOW = 1;
constexpr uint32_t cdSHUTDOWN_DIAL_CHANGED = 2;
constexpr uint32_t cdSHUTDOWN_CF_GATE_OPEN = 3;
constexpr uint32_t cdSHUTDOWN_BATT_COVER_OPEN = 4;
constexpr uint32_t cdSHUTDOWN_TIMEOUT = 5;

// Stream of one download: the library writes the item through these callbacks.
// Each receives the context first and an error output last (0 success, 1 failure).
using cdSOpen = void (*)(cdContext ctx, uint32_t mode, cdError* err);
using cdSClose = void (*)(cdContext ctx, cdError* err);
using cdSRead = void (*)(cdContext ctx, void* dst, uint32_t* count, cdError* err);
using cdSWrite = void (*)(cdContext ctx, const void* src, uint32_t* count, cdError* err);
using cdSSeek = void (*)(cdContext ctx, uint32_t origin, int32_t offset, cdError* err);
using cdSTell = int32_t (*)(cdContext ctx, cdError* err);

constexpr uint32_t cdSTREAM_OPEN_READ = 1;
constexpr uint32_t cdSTREAM_OPEN_WRITE = 2;
constexpr uint32_t cdSTREAM_SEEK_SET = 1;
constexpr uint32_t cdSTREAM_SEEK_CUR = 2;
constexpr uint32_t cdSTREAM_SEEK_END = 3;

struct cdStream {
    cdContext contextH;
    cdSOpen open;
    cdSClose close;
    cdSRead read;
    cdSWrite write;
    cdSSeek seek;
    cdSTell tell;
};

constexpr uint32_t cdMEMTYPE_STREAM = 1;
struct cdStgMedium {
    uint32_t Type;
    cdStream* pStream;
};

// Callbacks (context last, as the library calls them).
using cdEventCallbackFunction = uint32_t (*)(uint32_t eventCode, const uint8_t* data, uint32_t size,
                                             cdContext ctx);
using cdReleaseEventCallbackFunction = cdError (*)(uint32_t eventNumber, const uint8_t* data, uint32_t size,
                                                   cdContext ctx);
using cdProgressCallbackFunction = cdError (*)(uint32_t progress, uint32_t status, cdContext ctx);

// Settings read and written through CDGetRelCamSettingData / CDSetRelCamSettingData.
constexpr uint32_t cdREL_SET_AV_LIMIT_GATE = 0x600;
constexpr uint32_t cdREL_SET_AV_OPEN = 0x20;       // lowest Av code the lens allows
constexpr uint32_t cdREL_SET_AV_MAX = 0x21;        // highest Av code the lens allows
constexpr uint32_t cdREL_SET_FOCAL_CURRENT = 0x22;
constexpr uint32_t cdREL_SET_FOCAL_SHORT = 0x23;
constexpr uint32_t cdREL_SET_FOCAL_LONG = 0x24;
constexpr uint32_t cdREL_SET_FOCAL_DIVISOR = 0x25;
constexpr uint32_t cdREL_SET_AF_MODE = 7;
constexpr uint32_t cdREL_SET_PARAMETER_SET = 11;
constexpr uint32_t cdREL_SET_COLOR_TEMP = 0x1100;
constexpr uint32_t cdREL_SET_METERING = 0x08000004;
constexpr uint32_t cdREL_SET_AF_POINT = 0x08000005;
constexpr uint32_t cdREL_SET_ISO = 0x0800000C;
constexpr uint32_t cdREL_SET_FLASH_COMP = 0x0800000D;

// What a body can do in live view (CDGetLiveViewCapabilities), bits.
constexpr uint32_t cdLV_CAP_LIVE_VIEW = 1;              // frames through CDGetLiveViewFrame
constexpr uint32_t cdLV_CAP_CAMERA_ZOOM = 2;            // the body magnifies its own frames
constexpr uint32_t cdLV_CAP_FOCUS_DRIVE = 4;            // CDDriveFocus moves the lens
constexpr uint32_t cdLV_CAP_AUTOFOCUS = 8;              // CDStartAutoFocus
constexpr uint32_t cdLV_CAP_FOCUS_COUNTS_STEPS = 16;    // n steps back undo n steps: focus can be put back
constexpr uint32_t cdLV_CAP_FOCUS_NEEDS_LIVE_VIEW = 32; // focus drives only while live view runs

// Settings a body may offer (CDGetOfferedSettings), bits; the first four also name the
// lists of CDGetSettingChoices.
constexpr uint32_t cdOFFERS_TV = 1u << 0;
constexpr uint32_t cdOFFERS_AV = 1u << 1;
constexpr uint32_t cdOFFERS_ISO = 1u << 2;
constexpr uint32_t cdOFFERS_EXPOSURE_COMP = 1u << 3;
constexpr uint32_t cdOFFERS_FLASH_COMP = 1u << 4;
constexpr uint32_t cdOFFERS_SIZE_QUALITY = 1u << 5;
constexpr uint32_t cdOFFERS_WHITE_BALANCE = 1u << 6;
constexpr uint32_t cdOFFERS_COLOUR_TEMP = 1u << 7;
constexpr uint32_t cdOFFERS_METERING = 1u << 8;
constexpr uint32_t cdOFFERS_DRIVE = 1u << 9;
constexpr uint32_t cdOFFERS_AF_MODE = 1u << 10;
constexpr uint32_t cdOFFERS_AF_POINT = 1u << 11;         // the focus-point buttons
constexpr uint32_t cdOFFERS_SHOOTING_MODE = 1u << 12;    // the exposure program (mode line)
constexpr uint32_t cdOFFERS_LENS = 1u << 13;             // the lens line
constexpr uint32_t cdOFFERS_PARAMETER_SET = 1u << 14;    // the parameter set line
constexpr uint32_t cdOFFERS_CUSTOM_FUNCTIONS = 1u << 15; // shutter, AE lock and mirror lockup lines

// One of a body's own choices (CDGetSettingChoices): the code and a zero-terminated label.
struct cdSettingChoice {
    uint32_t code;
    char label[28];
};
static_assert(sizeof(cdSettingChoice) == 32);

// Properties of image items.
constexpr uint32_t cdITEM_PROP_COMMENT = 0x8000C00;
constexpr uint32_t cdITEM_PROP_ROTATION = 0x8001800;
constexpr uint32_t cdITEM_COMMENT_SIZE = 256;

class CameraLibrary {
public:
    virtual ~CameraLibrary() = default;

    // Library lifetime.
    virtual cdError CDStartSDK(const cdVersionInfo* version, uint32_t option) = 0;
    virtual cdError CDFinishSDK() = 0;

    // Devices.
    virtual cdError CDEnumDeviceReset(uint32_t kind, cdHEnum* enumOut) = 0;
    virtual cdError CDEnumDeviceNext(cdHEnum hEnum, cdSourceInfo* info) = 0;
    virtual cdError CDEnumDeviceRelease(cdHEnum hEnum) = 0;
    virtual cdError CDOpenSource(const cdSourceInfo* info, cdHSource* sourceOut) = 0;
    virtual cdError CDCloseSource(cdHSource source) = 0;

    // Callbacks and release control.
    virtual cdError CDRegisterEventCallbackFunction(cdHSource source, cdEventCallbackFunction fn, cdContext ctx,
                                                    cdHandle* cookieOut) = 0;
    virtual cdError CDEnterReleaseControl(cdHSource source, cdReleaseEventCallbackFunction fn, cdContext ctx) = 0;
    virtual cdError CDExitReleaseControl(cdHSource source) = 0;
    virtual cdError CDSelectReleaseDataKind(cdHSource source, uint16_t kind) = 0;
    virtual cdError CDRelease(cdHSource source, uint32_t sync, cdProgressCallbackFunction fn, cdContext ctx,
                              uint32_t progressOption, uint32_t* countOut) = 0;
    virtual cdError CDGetReleasedData(cdHSource source, cdProgressCallbackFunction fn, cdContext ctx,
                                      uint32_t progressOption, cdReleaseImageInfo* info, cdStgMedium* medium) = 0;
    virtual cdError CDLockUI(cdHSource source) = 0;
    virtual cdError CDUnlockUI(cdHSource source) = 0;
    virtual cdError CDGetTransferPause(cdHSource source, uint32_t* milliseconds) = 0;
    virtual cdError CDReleasedItemSaved(cdHSource source) = 0;

    // Problems: the library's own reason and remedy for its last failure.
    virtual cdError CDGetProblemReport(cdHSource source, char* buffer, uint32_t* size) = 0;

    // Custom functions: Next gives (record size, function number, setting).
    virtual cdError CDEnumCustomFunctionSettingReset(cdHSource source, uint32_t option, cdHEnum* enumOut) = 0;
    virtual cdError CDEnumCustomFunctionSettingNext(cdHEnum hEnum, uint32_t* sizeOut, uint16_t* functionOut,
                                                    uint16_t* settingOut) = 0;
    virtual cdError CDEnumCustomFunctionSettingRelease(cdHEnum hEnum) = 0;

    // Generic settings: size is in/out for reads (bytes wanted / bytes given).
    virtual cdError CDGetRelCamSettingData(cdHSource source, uint32_t setting, uint32_t* size, void* buffer) = 0;
    virtual cdError CDSetRelCamSettingData(cdHSource source, uint32_t setting, uint32_t size,
                                           const void* buffer) = 0;

    // Settings with calls of their own.
    virtual cdError CDGetTvValue(cdHSource source, uint16_t* value) = 0;
    virtual cdError CDSetTvValue(cdHSource source, uint16_t value) = 0;
    virtual cdError CDGetAvValue(cdHSource source, uint16_t* value) = 0;
    virtual cdError CDSetAvValue(cdHSource source, uint16_t value) = 0;
    virtual cdError CDGetExposureComp(cdHSource source, uint16_t* value) = 0;
    virtual cdError CDSetExposureComp(cdHSource source, uint16_t value) = 0;
    virtual cdError CDGetFlashSetting(cdHSource source, uint16_t* mode, uint16_t* compensation) = 0;
    virtual cdError CDGetImageFormatAttribute(cdHSource source, uint16_t* quality, uint16_t* size) = 0;
    virtual cdError CDSetImageFormatAttribute(cdHSource source, uint16_t quality, uint16_t size) = 0;
    virtual cdError CDGetWBSetting(cdHSource source, uint16_t* value) = 0;
    virtual cdError CDSetWBSetting(cdHSource source, uint16_t value) = 0;
    virtual cdError CDGetDriveMode(cdHSource source, uint16_t* value) = 0;
    virtual cdError CDSetDriveMode(cdHSource source, uint16_t value) = 0;
    virtual cdError CDGetShootingMode(cdHSource source, uint16_t* value) = 0;

    // Bodies the program's tables do not describe: what they offer and their own choices.
    virtual cdError CDGetOfferedSettings(cdHSource source, uint32_t* present, uint32_t* settable) = 0;
    virtual cdError CDGetSettingChoices(cdHSource source, uint32_t setting, cdSettingChoice* choices,
                                        uint32_t* count) = 0;

    // Live view and focus.
    virtual cdError CDGetLiveViewCapabilities(cdHSource source, uint32_t* capabilities) = 0;
    virtual cdError CDStartLiveView(cdHSource source) = 0;
    virtual cdError CDEndLiveView(cdHSource source) = 0;
    virtual cdError CDGetLiveViewFrame(cdHSource source, cdStgMedium* medium) = 0;
    virtual cdError CDDriveFocus(cdHSource source, int32_t step) = 0;
    virtual cdError CDSetLiveViewZoom(cdHSource source, uint32_t magnification, int32_t x, int32_t y) = 0;
    virtual cdError CDStartAutoFocus(cdHSource source) = 0;

    // Image items: properties stamped into a saved file.
    virtual cdError CDMakeImageItem(uint32_t option, const char* path, uint32_t value, cdHItem* itemOut) = 0;
    virtual cdError CDOpenImage(cdHItem item) = 0;
    virtual cdError CDEnumImageItemPropertyReset(cdHItem item, cdHEnum* enumOut) = 0;
    virtual cdError CDEnumImageItemPropertyRelease(cdHEnum hEnum) = 0;
    virtual cdError CDSetImageItemProperty(cdHItem item, uint32_t property, uint32_t* size, const void* value) = 0;
    virtual cdError CDFlashImageItemProperty(cdHItem item) = 0;
    virtual cdError CDCloseImage(cdHItem item) = 0;
    virtual cdError CDFreeImageItem(cdHItem item) = 0;
};

} // namespace cdsdk
