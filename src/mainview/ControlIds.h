// Control ids of the main form and command numbers of the menus, accelerators, buttons
// and mouse actions. Tests and the remote-control channel address controls and commands
// by these numbers. Plain constants; any thread.
#pragma once

namespace ids {

// Form controls.
enum Control : int {
    IDC_TV = 1000,
    IDC_AV = 1002,
    IDC_RELEASE = 1003,
    IDC_PROGRESS = 1004,
    IDC_EXPOSURE_COMP = 1005,
    IDC_PICTURE = 1006,
    IDC_MODE_LINE = 1007,
    IDC_LENS_LINE = 1008,
    IDC_FLASH_COMP = 1009,
    IDC_SIZE_QUALITY = 1010,
    IDC_WHITE_BALANCE = 1011,
    IDC_COLOUR_TEMP = 1012,
    IDC_PARAMETER_SET = 1013,
    IDC_METERING = 1014,
    IDC_DRIVE = 1015,
    IDC_ISO = 1016,
    IDC_AF_MODE = 1017,
    IDC_SHUTTER_BUTTON_LINE = 1018,
    IDC_AE_LOCK_LINE = 1019,
    IDC_FP_TOP = 1020,
    IDC_FP_CENTRE = 1021,
    IDC_FP_BOTTOM = 1022,
    IDC_FP_LEFT = 1023,
    IDC_FP_FAR_LEFT = 1024,
    IDC_FP_RIGHT = 1025,
    IDC_FP_FAR_RIGHT = 1026,
    IDC_FP_SELECT_ALL = 1027,
    IDC_PREVIEW = 1028,
    IDC_MIRROR_LOCKUP_LINE = 1029,
    IDC_DISPLAY_OVERLAY = 1031,
    IDC_HISTOGRAM = 1033,
    IDC_COMMENT = 1048,
    IDC_PREVIOUS = 1053,
    IDC_NEXT = 1054,
    IDC_RGB_READOUT = 1073,
};

// Menu, accelerator and popup commands.
enum Command : int {
    ID_DISPLAY_GRID = 131,
    ID_FOCUS_POINTS = 132,
    ID_FULL_SCREEN = 133,
    ID_VIEW_IMAGE = 137,
    ID_PREFERENCES = 139,
    ID_GRID_SETTINGS = 142,
    ID_REGISTER_EVENTS = 143,
    ID_UNREGISTER_EVENTS = 144,
    ID_REFRESH = 145,
    ID_BLANK_SCREEN = 146,
    ID_SAVE_PC_ONLY = 149,
    ID_SAVE_CAMERA_AND_PC = 150,
    ID_SAVE_CAMERA_ONLY = 151,
    ID_EDITOR_SETUP = 153,
    ID_EDIT_IMAGE = 154,
    ID_TIME_LAPSE = 156,
    ID_DELETE_IMAGE = 157,
    ID_SAVE_UNSAVED = 158,
    ID_HISTOGRAM_INTENSITY = 162,
    ID_HISTOGRAM_RED = 163,
    ID_HISTOGRAM_GREEN = 164,
    ID_HISTOGRAM_BLUE = 165,
    ID_BLACK_AND_WHITE = 166,
    ID_CONNECT = 167,
    ID_HIGHLIGHTS = 168,
    ID_HIGHLIGHT_SETTINGS = 169,
    ID_ORIENT_LANDSCAPE = 172,
    ID_ORIENT_PORTRAIT_CCW = 173,
    ID_ORIENT_PORTRAIT_CW = 174,
    ID_ORIENT_INVERTED = 175,
    ID_ORIENT_SENSOR = 176,
    ID_HELP_CONTENTS = 177,
    ID_SEQUENCE = 178,  // Camera > Bracket / Focus Stack...
    // Live view and focus.
    ID_LIVE_VIEW = 210,
    ID_FOCUS_PEAKING = 211,
    ID_PEAKING_COLOUR = 212,
    ID_AUTOFOCUS = 213,
    ID_FOCUS_NEAR_3 = 214,  // nearer, coarse .. fine
    ID_FOCUS_NEAR_2 = 215,
    ID_FOCUS_NEAR_1 = 216,
    ID_FOCUS_FAR_1 = 217,   // farther, fine .. coarse
    ID_FOCUS_FAR_2 = 218,
    ID_FOCUS_FAR_3 = 219,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
};

}  // namespace ids
