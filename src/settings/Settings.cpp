#include "settings/Settings.h"

#include "platform/UserFolders.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

void ReadFlag(const RegistryStore& store, const char* name, bool& field)
{
    uint32_t value = 0;
    if (store.QueryDword(name, &value) == RegistryQuery::Ok)
        field = value != 0;
}

void ReadNumber(const RegistryStore& store, const char* name, int32_t& field)
{
    uint32_t value = 0;
    if (store.QueryDword(name, &value) == RegistryQuery::Ok)
        field = static_cast<int32_t>(value);
}

void ReadNumber(const RegistryStore& store, const char* name, uint32_t& field)
{
    uint32_t value = 0;
    if (store.QueryDword(name, &value) == RegistryQuery::Ok)
        field = value;
}

void ReadText(const RegistryStore& store, const char* name, std::string& field)
{
    std::string value;
    if (store.QueryString(name, &value, RegistryStore::kTextBufferBytes) == RegistryQuery::Ok)
        field = value;
}

void WriteFlag(RegistryStore& store, const char* name, bool value)
{
    store.SetDword(name, value ? 1u : 0u);
}

void WriteNumber(RegistryStore& store, const char* name, int32_t value)
{
    store.SetDword(name, static_cast<uint32_t>(value));
}

} // namespace

std::string Settings::DefaultDirectory()
{
#ifdef _WIN32
    return "C:\\Tethrocam";
#else
    const std::string home = platform::HomeFolder();
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        config = xdg;
    else if (!home.empty())
        config = home + "/.config";

    std::string pictures;
    if (!config.empty()) {
        std::ifstream in(config + "/user-dirs.dirs");
        if (in) {
            std::ostringstream text;
            text << in.rdbuf();
            pictures = PicturesFolderFromUserDirs(text.str(), home);
        }
    }
    if (pictures.empty())
        pictures = home.empty() ? std::string("/tmp") : home + "/Pictures";
    while (pictures.size() > 1 && pictures.back() == '/')
        pictures.pop_back();
    if (pictures == "/")
        pictures.clear();
    return pictures + "/Tethrocam";
#endif
}

storage::FolderSettings Settings::Folders() const
{
    storage::FolderSettings f;
    f.Directory = Directory;
    f.FilenamePrefix = FilenamePrefix;
    f.Year = Year;
    f.Month = Month;
    f.Day = Day;
    f.FlattenDate = FlattenDate;
    return f;
}

std::string PicturesFolderFromUserDirs(const std::string& userDirsText, const std::string& home)
{
    std::istringstream lines(userDirsText);
    std::string line;
    std::string found;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#')
            continue;
        static const std::string kKey = "XDG_PICTURES_DIR";
        if (line.compare(i, kKey.size(), kKey) != 0)
            continue;
        i = line.find_first_not_of(" \t", i + kKey.size());
        if (i == std::string::npos || line[i] != '=')
            continue;
        i = line.find_first_not_of(" \t", i + 1);
        if (i == std::string::npos || line[i] != '"')
            continue;
        const size_t close = line.find('"', i + 1);
        if (close == std::string::npos)
            continue;
        std::string value = line.substr(i + 1, close - i - 1);
        // Only "$HOME/..." and absolute paths are valid; "$HOME/" alone means none.
        if (value.rfind("$HOME", 0) == 0) {
            if (home.empty())
                continue;
            std::string rest = value.substr(5);
            if (!rest.empty() && rest[0] != '/')
                continue;
            while (!rest.empty() && rest.back() == '/')
                rest.pop_back();
            if (rest.empty())
                continue;
            found = home + rest;
        } else if (!value.empty() && value[0] == '/') {
            found = value;
        }
    }
    return found;
}

bool ValidFilenamePrefix(const std::string& prefix)
{
    return prefix.find('/') == std::string::npos && prefix.find('\0') == std::string::npos;
}

bool LoadSettings(Settings& s, RegistryStore& store)
{
    s = Settings {};
    if (!store.Open())
        return false;

    ReadFlag(store, "DisplayFocusPoints", s.DisplayFocusPoints);
    ReadFlag(store, "DisplayGrid", s.DisplayGrid);
    ReadNumber(store, "GridColour", s.GridColour);
    ReadNumber(store, "NumberOfHorizontalGridDivisions", s.NumberOfHorizontalGridDivisions);
    ReadNumber(store, "NumberOfVerticalGridDivisions", s.NumberOfVerticalGridDivisions);
    ReadFlag(store, "HighlightBlink", s.HighlightBlink);
    ReadNumber(store, "HighlightBlinkMethod", s.HighlightBlinkMethod);
    ReadNumber(store, "HighlightBlinkThreshold", s.HighlightBlinkThreshold);
    ReadFlag(store, "FullscreenCaption", s.FullscreenCaption);
    ReadFlag(store, "Year", s.Year);
    ReadFlag(store, "Month", s.Month);
    ReadFlag(store, "Day", s.Day);
    ReadFlag(store, "FlattenDate", s.FlattenDate);
    ReadNumber(store, "MiddleBtnAction", s.MiddleBtnAction);
    ReadNumber(store, "RightBtnAction", s.RightBtnAction);
    ReadFlag(store, "DisplayFocusPoints", s.DisplayFocusPoints);
    ReadFlag(store, "BlankScreenWhenTakingPhoto", s.BlankScreenWhenTakingPhoto);
    ReadNumber(store, "StoreImage", s.StoreImage);
    ReadNumber(store, "AutoEdit", s.AutoEdit);
    ReadNumber(store, "ShellExecute", s.ShellExecute);
    ReadFlag(store, "Intensity", s.Intensity);
    ReadFlag(store, "Red", s.Red);
    ReadFlag(store, "Green", s.Green);
    ReadFlag(store, "Blue", s.Blue);
    ReadNumber(store, "OrientationSetting", s.OrientationSetting);
    ReadNumber(store, "SequenceKind", s.SequenceKind);
    ReadNumber(store, "BracketFrames", s.BracketFrames);
    ReadNumber(store, "BracketStep", s.BracketStep);
    ReadNumber(store, "BracketOrder", s.BracketOrder);
    ReadNumber(store, "StackFrames", s.StackFrames);
    ReadNumber(store, "StackStepSize", s.StackStepSize);
    ReadNumber(store, "StackStepCount", s.StackStepCount);
    ReadNumber(store, "StackFromNearest", s.StackFromNearest);
    ReadNumber(store, "FocusSettleMs", s.FocusSettleMs);
    ReadFlag(store, "FocusPeaking", s.FocusPeaking);
    ReadNumber(store, "FocusPeakingColour", s.FocusPeakingColour);
    ReadNumber(store, "LiveViewReviewTime", s.LiveViewReviewTime);

    ReadText(store, "FilenamePrefix", s.FilenamePrefix);
    if (!ValidFilenamePrefix(s.FilenamePrefix))
        s.FilenamePrefix = Settings {}.FilenamePrefix;  // "../../x_" would save outside the folder
    ReadText(store, "Directory", s.Directory);
    ReadText(store, "LaunchEditorCmd", s.LaunchEditorCmd);
    ReadNumber(store, "MonitorProfile", s.MonitorProfile);
    ReadText(store, "MonitorProfileFile", s.MonitorProfileFile);
    ReadNumber(store, "RenderingIntent", s.RenderingIntent);

    store.Close();
    return true;
}

bool SaveSettings(const Settings& s, RegistryStore& store)
{
    if (!store.Open())
        return false;

    WriteFlag(store, "DisplayFocusPoints", s.DisplayFocusPoints);
    WriteFlag(store, "DisplayGrid", s.DisplayGrid);
    store.SetDword("GridColour", s.GridColour);
    WriteNumber(store, "NumberOfHorizontalGridDivisions", s.NumberOfHorizontalGridDivisions);
    WriteNumber(store, "NumberOfVerticalGridDivisions", s.NumberOfVerticalGridDivisions);
    WriteFlag(store, "HighlightBlink", s.HighlightBlink);
    WriteNumber(store, "HighlightBlinkMethod", s.HighlightBlinkMethod);
    WriteNumber(store, "HighlightBlinkThreshold", s.HighlightBlinkThreshold);
    WriteFlag(store, "FullscreenCaption", s.FullscreenCaption);
    store.SetString("FilenamePrefix", s.FilenamePrefix);
    store.SetString("Directory", s.Directory);
    WriteFlag(store, "Year", s.Year);
    WriteFlag(store, "Month", s.Month);
    WriteFlag(store, "Day", s.Day);
    WriteFlag(store, "FlattenDate", s.FlattenDate);
    WriteNumber(store, "MiddleBtnAction", s.MiddleBtnAction);
    WriteNumber(store, "RightBtnAction", s.RightBtnAction);
    WriteFlag(store, "BlankScreenWhenTakingPhoto", s.BlankScreenWhenTakingPhoto);
    WriteNumber(store, "StoreImage", s.StoreImage);
    store.SetString("LaunchEditorCmd", s.LaunchEditorCmd);
    WriteNumber(store, "AutoEdit", s.AutoEdit);
    WriteNumber(store, "ShellExecute", s.ShellExecute);
    WriteFlag(store, "Intensity", s.Intensity);
    WriteFlag(store, "Red", s.Red);
    WriteFlag(store, "Green", s.Green);
    WriteFlag(store, "Blue", s.Blue);
    WriteNumber(store, "OrientationSetting", s.OrientationSetting);
    WriteNumber(store, "SequenceKind", s.SequenceKind);
    WriteNumber(store, "BracketFrames", s.BracketFrames);
    WriteNumber(store, "BracketStep", s.BracketStep);
    WriteNumber(store, "BracketOrder", s.BracketOrder);
    WriteNumber(store, "StackFrames", s.StackFrames);
    WriteNumber(store, "StackStepSize", s.StackStepSize);
    WriteNumber(store, "StackStepCount", s.StackStepCount);
    WriteNumber(store, "StackFromNearest", s.StackFromNearest);
    WriteNumber(store, "FocusSettleMs", s.FocusSettleMs);
    WriteNumber(store, "MonitorProfile", s.MonitorProfile);
    store.SetString("MonitorProfileFile", s.MonitorProfileFile);
    WriteNumber(store, "RenderingIntent", s.RenderingIntent);
    WriteFlag(store, "FocusPeaking", s.FocusPeaking);
    store.SetDword("FocusPeakingColour", s.FocusPeakingColour);
    WriteNumber(store, "LiveViewReviewTime", s.LiveViewReviewTime);

    return store.Close();
}

bool LoadWindowPlacement(StoredWindowPlacement& p, RegistryStore& store)
{
    p = StoredWindowPlacement {};
    if (!store.Open())
        return false;
    const auto read = [&store](const char* name) -> std::optional<int32_t> {
        uint32_t value = 0;
        if (store.QueryDword(name, &value) != RegistryQuery::Ok)
            return std::nullopt;
        return static_cast<int32_t>(value);
    };
    p.left = read("WindowLeft");
    p.top = read("WindowTop");
    p.right = read("WindowRight");
    p.bottom = read("WindowBottom");
    if (const auto zoomed = read("WindowZoomed"))
        p.zoomed = *zoomed != 0;
    store.Close();
    return true;
}

bool SaveWindowPlacement(const WindowPlacement& p, RegistryStore& store)
{
    if (!store.Open())
        return false;
    WriteNumber(store, "WindowLeft", p.left);
    WriteNumber(store, "WindowRight", p.right);
    WriteNumber(store, "WindowTop", p.top);
    WriteNumber(store, "WindowBottom", p.bottom);
    WriteFlag(store, "WindowZoomed", p.zoomed);
    return store.Close();
}
