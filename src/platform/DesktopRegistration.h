// Registration for camera events on a freedesktop desktop: the program asks to be offered
// (or started) when a camera's picture card appears, and can take that back.
//
// Registering writes a desktop entry of our own into $XDG_DATA_HOME/applications/ (Exec =
// the absolute path of the running program, MimeType=x-content/image-dcf;, hidden from the
// application menu, which has the installed entry) and puts it first in the lists of
// x-content/image-dcf in the [Default Applications] and [Added Associations] groups of
// $XDG_CONFIG_HOME/mimeapps.list. Unregistering takes our entry out of those lists (a line
// or group that only held it goes) and deletes our desktop entry. Every other byte of
// mimeapps.list is kept as it was, so registering and then unregistering gives back the
// file exactly; the file is replaced atomically (temporary file, fsync, rename). A
// mimeapps.list that does not read as a desktop key file is refused and left untouched.
//
// The text editing (MimeAppsList) is pure. Threads: any; the commands run on the UI
// thread. RegisterForCameraEvents and UnregisterForCameraEvents block on small file I/O.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The application's desktop id (installed entry, icon name, AppStream id).
inline constexpr const char* kApplicationId = "com.larkspurworks.Tethrocam";
// The file name of the entry written by registering.
inline constexpr const char* kCameraEventsEntryName = "com.larkspurworks.Tethrocam.CameraEvents.desktop";
// The content type of a camera's picture card (Design rule for Camera File system).
inline constexpr const char* kCameraContentType = "x-content/image-dcf";

// The absolute path of the running program (/proc/self/exe); empty when unknown.
std::string ExecutablePath();

struct XdgFolders {
    std::string dataHome;    // $XDG_DATA_HOME, else ~/.local/share
    std::string configHome;  // $XDG_CONFIG_HOME, else ~/.config
};
// The user's folders; a variable that is not an absolute path counts as unset (as the
// base-directory rules say). Empty strings when no home folder is known.
XdgFolders UserXdgFolders();

// A mimeapps.list text, edited line by line with every other byte kept.
class MimeAppsList {
public:
    // Reads the text. False (and the line number, from 1, in `badLine`) when it is not a
    // key file: a line that is not blank, a comment, a [group] header or a key=value pair
    // inside a group; a NUL byte; text that is not UTF-8.
    bool Parse(std::string_view text, int* badLine = nullptr);
    std::string Text() const;

    // Puts `desktopId` first in the list of `key` in `group` (adding the line, and the
    // group at the end, when missing). An entry already in the list is moved to the front.
    void Prepend(const std::string& group, const std::string& key, const std::string& desktopId);
    // Takes `desktopId` out of the list of `key` in every `group`: the line goes when
    // nothing else is left in it, the group when nothing else is left in it (with the
    // blank line that separated it). True when something changed.
    bool Remove(const std::string& group, const std::string& key, const std::string& desktopId);

    // The items of `key` in the first `group` (for tests and diagnostics).
    std::vector<std::string> Items(const std::string& group, const std::string& key) const;

private:
    struct Line {
        std::string text;  // without the line feed
        bool newline = true;
    };
    int GroupHeader(const std::string& group, int from = 0) const;
    int GroupEnd(int header) const;  // index of the next header, or the line count
    int FindKey(int header, const std::string& key) const;
    void Insert(int at, const std::string& text);
    void Erase(int at);
    std::vector<Line> lines_;
};

// Quotes a path for the Exec key of a desktop entry (the freedesktop quoting and escaping
// rules for Exec arguments, then the string escaping of the key file: \\, and \n, \t,
// \r for a line feed, tab and carriage return, so that no path can add a line or key).
std::string DesktopExecQuote(const std::string& path);
// Why a program path cannot be written into a desktop entry (empty when it can): not
// valid UTF-8, a control character other than line feed, tab and carriage return, or the
// path of a program file that was removed or replaced since it started (" (deleted)").
std::string ExecPathProblem(const std::string& path);
// The text of the entry written by registering.
std::string CameraEventsDesktopEntry(const std::string& executablePath);

struct RegistrationResult {
    enum class Outcome { Done, NoAccess, Failed };
    Outcome outcome = Outcome::Done;
    std::string reason;  // for NoAccess and Failed: what went wrong, for the user
};

RegistrationResult RegisterForCameraEvents(const XdgFolders& folders, const std::string& executablePath);
RegistrationResult UnregisterForCameraEvents(const XdgFolders& folders);

// The message shown after each command (success: no icon; otherwise the error icon).
std::string RegistrationMessage(bool registering, const RegistrationResult& result);

// Reads a whole small file. False with errno in `error` (ENOENT when it is missing).
bool ReadSmallFile(const std::string& path, std::string& text, int* error);
// Replaces (or creates) the file with `text`: temporary file in the same folder, fsync,
// rename, folder fsync. A link is followed, so the file it points to is replaced; an
// existing file keeps its permissions, a new one gets `newMode`. False with errno.
bool ReplaceFileAtomically(const std::string& path, const std::string& text, int* error,
                           unsigned newMode = 0644);
// Creates every missing folder of an absolute path. False with errno.
bool MakeFolders(const std::string& path, int* error);

} // namespace platform
