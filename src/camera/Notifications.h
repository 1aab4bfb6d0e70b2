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
    WM_SAVED_FILE = 2030,              // text: saved path or a status text (absent is treated as empty)
    WM_AUTO_CONNECT = 2031,            // the view's own connect request
    WM_CAMERA_SETTINGS_CHANGED = 2032, // re-read the camera settings
    WM_LIVE_VIEW_FRAME = 2033,         // a live-view frame waits in the loop's slot (no payload)
    WM_LIVE_VIEW_EVENT = 2034,         // wParam liveview::LoopEvent, lParam the library's code
};

struct Notification {
    uint32_t message = 0;
    int64_t wParam = 0;
    int64_t lParam = 0;
    std::vector<uint8_t> bytes;          // WM_DISPLAY_JPEG
    std::unique_ptr<ImageInfo> info;     // WM_EXIF
    std::optional<std::string> text;     // WM_SAVED_FILE
};

class NotificationSink {
public:
    virtual ~NotificationSink() = default;
    // Hands the notification to the receiver; thread-safe, never blocks, never calls
    // back into the sender.
    virtual void Post(Notification n) = 0;
};
