// Numbered notifications: the only way the camera link reaches the user interface.
// A notification carries a message number, two numbers and an owned payload; posting
// moves the payload to the receiver, and a receiver that has gone away simply lets it
// be destroyed. Posting never blocks and may happen on any thread.
#pragma once

#include "imaging/ImageInfo.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum NotificationMessage : uint32_t {
    WM_DOWNLOAD_PROGRESS = 2024,       // wParam progress in percent, lParam pending count
    WM_DISPLAY_JPEG = 2025,            // wParam length, bytes: what to display
    WM_EXIF = 2026,                    // info: the picture's ImageInfo (absent when none could be built)
    WM_CAMERA_SHUTDOWN = 2027,         // wParam shutdown cause
    WM_RELEASE_ERROR = 2028,           // wParam error code
    WM_FULLSCREEN_DISPLAY = 2029,      // used by the full-screen window
    WM_SAVED_FILE = 2030,              // text: saved path or a status text (absent is treated as empty);
                                       // wParam kItemNotReceived when the download was cut off
    WM_AUTO_CONNECT = 2031,            // the view's own connect request
    WM_CAMERA_SETTINGS_CHANGED = 2032, // re-read the camera settings
    WM_LIVE_VIEW_FRAME = 2033,         // a live-view frame waits in the loop's slot (no payload)
    WM_LIVE_VIEW_EVENT = 2034,         // wParam liveview::LoopEvent, lParam the library's code
};

// WM_SAVED_FILE's wParam for an item that never arrived whole (its download was cut off or
// failed), as opposed to one that arrived and was saved, or could not be saved.
constexpr int64_t kItemNotReceived = 1;
// The status texts of WM_SAVED_FILE besides a saved file's path.
inline constexpr const char* kTextImageDownloaded = "Image downloaded";
inline constexpr const char* kTextErrorSaving = "Error saving image";
inline constexpr const char* kTextSavedToCard = "Image saved to CF card";
inline constexpr const char* kTextStoredOnCard = "Image stored on CF card";
inline constexpr const char* kTextPictureNotReceived = "Download interrupted: picture not received";

// What became of the item a WM_SAVED_FILE reports, beyond its text. The text stays what it
// always was (the saved file's path or a status text), so a reader of the text alone is
// never told of a save that did not happen.
struct SaveReport {
    enum class Outcome {
        Saved,        // text: the path in the picture folder
        Rescued,      // the picture folder refused it; text: the path in a rescue folder
        Unsaved,      // no folder took it; text "Error saving image"; the picture is in
                      // Notification::bytes and must be kept until it is on disk
        NotReceived,  // the download was cut off; text kTextPictureNotReceived or a pair's
                      // own wording (`missing`); nothing of the item was saved
        OnCard,       // saved to the camera's card only (text kTextSavedToCard / kTextStoredOnCard)
        Preview,      // a preview: shown, never saved (text kTextImageDownloaded)
    };
    Outcome outcome = Outcome::Saved;
    std::string folder;         // the picture folder meant (Rescued, Unsaved)
    std::string reason;         // the system's reason it refused the picture (Rescued, Unsaved)
    std::string rescueReason;   // why the rescue folders refused it too (Unsaved)
    std::string suggestedName;  // Unsaved: the file name the picture would have had
    // Which part of the shot this is about: "picture", "thumbnail", "RAW picture", "preview",
    // "JPEG picture" (the JPEG of a RAW pair).
    std::string part = "picture";
    // The other half of a RAW pair when it was not received (empty when whole): "thumbnail"
    // or "RAW picture"; with NotReceived of the picture itself, the half that was saved
    // is named in `companionPath`.
    std::string missingCompanion;
    std::string companionPath;
    // The camera's card keeps its own copy of the picture (save to camera and PC).
    bool cardKeepsCopy = false;
    // A report on a thumbnail or the JPEG of a RAW pair rather than on the shot's picture:
    // it ends no shot and answers no remote release.
    bool companion = false;
    // Pictures of this size that still fit where it went (Saved, Rescued); none when unknown.
    std::optional<uint64_t> picturesThatFit;
    uint64_t pictureBytes = 0;
};

struct Notification {
    uint32_t message = 0;
    int64_t wParam = 0;
    int64_t lParam = 0;
    std::vector<uint8_t> bytes;          // WM_DISPLAY_JPEG; WM_SAVED_FILE: an unsaved picture
    std::unique_ptr<ImageInfo> info;     // WM_EXIF
    std::optional<std::string> text;     // WM_SAVED_FILE
    std::optional<SaveReport> report;    // WM_SAVED_FILE from the release thread
};

class NotificationSink {
public:
    virtual ~NotificationSink() = default;
    // Hands the notification to the receiver; thread-safe, never blocks, never calls
    // back into the sender.
    virtual void Post(Notification n) = 0;
};
