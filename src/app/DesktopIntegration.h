// What makes the program a citizen of the desktop, as the user's commands see it: the help
// page (F1, Help > "Contents...", command 177), registration for camera events (commands
// 143 and 144) with their messages, and the application icon shown by every window, the
// About box and the desktop entry.
//
// The help page is opened with the desktop's default action (QDesktopServices::openUrl);
// tests replace that through SetOpener. UI thread only; message boxes are modal, the
// registration commands block on small file I/O.
#pragma once

#include <QIcon>

#include <functional>
#include <string>

class QWidget;

namespace desktop {

// Opens a local file with the desktop's default action; false when nothing could open it.
using Opener = std::function<bool(const std::string& path)>;
// Replaces the opener (tests); an empty function restores the desktop's.
void SetOpener(Opener opener);

// The help command: finds Tethrocam.htm for the executable (beside it, then the installed
// documentation folder) and opens it; when it is missing, the error box lists every path
// tried. `executablePath` empty: the running program's.
void ShowHelp(QWidget* owner, const std::string& executablePath = {});

// Commands 143 and 144: register or unregister for camera events in the user's folders
// ($XDG_DATA_HOME, $XDG_CONFIG_HOME) and say how it went.
void RegisterForCameraEvents(QWidget* owner);
void UnregisterForCameraEvents(QWidget* owner);

// The application icon (the SVG resource drawn at the usual sizes).
QIcon ApplicationIcon();

}  // namespace desktop
