// The user's preferences, one record owned by the main view, named as the registry values
// they are stored under; and the main frame's remembered placement under the same key.
// LoadSettings fills the record with defaults and reads what the key holds; SaveSettings
// writes every value back. No failure is ever reported to the user: a missing key, a
// missing value, a value of the other type or an over-long text leaves the default (on
// load) or the old stored value (on save). Stored numbers are taken as they are, without
// validation; the Parts that use them must cope with any value.
//
// Threads: the UI thread loads, saves and changes the record. The release thread reads
// the save-folder fields and OrientationSetting while saving a picture. Load and save
// block on the store's file I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "settings/RegistryStore.h"
#include "storage/SaveFolders.h"

struct Settings {
    bool DisplayFocusPoints = false;
    bool DisplayGrid = false;
    uint32_t GridColour = 0x0000FF00; // 0x00BBGGRR: pure green
    int32_t NumberOfHorizontalGridDivisions = 9;
    int32_t NumberOfVerticalGridDivisions = 9;
    bool HighlightBlink = false;
    int32_t HighlightBlinkMethod = 0; // 0 "Luminosity", 1 "RGB value"
    int32_t HighlightBlinkThreshold = 250;
    bool FullscreenCaption = false;
    std::string FilenamePrefix = "IMG_";
    std::string Directory = DefaultDirectory();
    bool Year = true;
    bool Month = true;
    bool Day = true;
    bool FlattenDate = true;
    int32_t MiddleBtnAction = 0; // 0 "None", 1 "Release", 2 "Preview", 3 "Edit image"
    int32_t RightBtnAction = 0;
    bool BlankScreenWhenTakingPhoto = false;
    int32_t StoreImage = 1; // 1 PC only, 2 camera only, 3 camera and PC
    std::string LaunchEditorCmd;
    int32_t AutoEdit = 0;
    int32_t ShellExecute = 1;
    bool Intensity = true;
    bool Red = false;
    bool Green = false;
    bool Blue = false;
    int32_t OrientationSetting = 0; // 0 landscape .. 4 use the orientation sensor
    // The sequence dialog's choices (any stored value is brought into range where used).
    int32_t SequenceKind = 1;       // what "Bracket / Focus Stack..." opens with: 1 bracket, 2 focus stack
    int32_t BracketFrames = 3;      // 2..15
    int32_t BracketStep = 4;        // in sixths of a stop: 2 is 1/3 EV, 3 is 1/2 EV
    int32_t BracketOrder = 0;       // 0 "0, -, +", 1 "-, 0, +"
    int32_t StackFrames = 10;       // 2..500
    int32_t StackStepSize = 2;      // 1 fine, 2 medium, 3 coarse
    int32_t StackStepCount = 1;     // steps of that size between frames, 1..99
    int32_t StackFromNearest = 0;   // 1: start at the nearest distance
    int32_t FocusSettleMs = 200;    // wait after each focus move before the next frame
    int32_t MonitorProfile = 0;     // 0 the system's, 1 sRGB, 2 the file MonitorProfileFile
    std::string MonitorProfileFile;
    int32_t RenderingIntent = 0;    // 0 perceptual, 1 relative colorimetric with black-point compensation
    bool FocusPeaking = false;               // live view marks sharp edges
    uint32_t FocusPeakingColour = 0x000000FF; // 0x00BBGGRR: pure red
    int32_t LiveViewReviewTime = 2;          // seconds a picture shows before live view returns; 0 none

    // Default root folder for saved pictures: "C:\Tethrocam" on Windows; elsewhere the
    // user's pictures folder (XDG_PICTURES_DIR of user-dirs.dirs, else ~/Pictures) with
    // "/Tethrocam" appended.
    static std::string DefaultDirectory();

    // The fields that decide where pictures go and how they are named.
    storage::FolderSettings Folders() const;
};

// The pictures folder named by the text of a user-dirs.dirs file
// (XDG_PICTURES_DIR="$HOME/Pictures" or an absolute path); empty when it names none.
std::string PicturesFolderFromUserDirs(const std::string& userDirsText, const std::string& home);

// Whether a file-name prefix can be used: it names no other folder (no "/"). The
// Preferences dialog holds to this rule, and so does loading.
bool ValidFilenamePrefix(const std::string& prefix);

// Sets every field to its default, then reads the values the key holds. False when the
// key could not be opened (every field then keeps its default). A prefix the
// Preferences dialog would refuse keeps its default.
bool LoadSettings(Settings& settings, RegistryStore& store);
// Writes every field (flags as 0 or 1). False when the key could not be opened or the
// values could not be written; the stored values then stay as they were.
bool SaveSettings(const Settings& settings, RegistryStore& store);

// The main frame's restored (not maximised) rectangle and whether it was maximised.
struct WindowPlacement {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool zoomed = false;
};

// The placement values as found: each one only if it is stored as a number.
struct StoredWindowPlacement {
    std::optional<int32_t> left;   // WindowLeft
    std::optional<int32_t> top;    // WindowTop
    std::optional<int32_t> right;  // WindowRight
    std::optional<int32_t> bottom; // WindowBottom
    std::optional<bool> zoomed;    // WindowZoomed, non-zero = maximised
};

// Reads the five placement values. False when the key could not be opened.
bool LoadWindowPlacement(StoredWindowPlacement& placement, RegistryStore& store);
// Writes all five placement values together. False when nothing could be written.
bool SaveWindowPlacement(const WindowPlacement& placement, RegistryStore& store);
