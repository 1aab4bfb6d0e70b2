// PictureHistory: the pictures saved to the computer in this run, in the order they were
// saved, with the index of the one on show (-1 when the picture on show is not one of
// them: a preview picture, a picture kept only on the camera, or nothing at all). It
// browses back and forth through them, deletes the one on show with its RAW thumbnail,
// loads a saved picture's bytes for display, and builds the texts that describe it.
//
// User-interface thread only (the main view and the full-screen window acting for it).
// Calls block only on file reads and deletions of the pictures concerned. Nothing here
// draws or asks anything itself: what the view must do (show a picture, clear the display,
// put up a question or an error, set the status text) goes through HistoryView.
#pragma once

#include "imaging/ImageInfo.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace display {

// What browsing and deleting need from the window that owns the picture on show. A hook
// left empty does nothing; an empty `askYesNo` counts as "No", so nothing is ever deleted
// without a Yes.
struct HistoryView {
    // Question box (question icon, Yes and No, caption "Tethrocam") over the view's
    // current message owner window. Returns true for Yes. It may run a nested event loop:
    // the history copes with pictures added while the question is up.
    std::function<bool(const std::string& text)> askYesNo;
    // Error box (error icon) over the view with the given caption.
    std::function<void(const std::string& text, const std::string& caption)> showError;
    // Pane 0 of the main frame's status bar.
    std::function<void(const std::string& text)> setStatusText;
    // Makes `bytes` the current bytes and `info` the current ImageInfo, hands the picture
    // to an open full-screen window, and refreshes the display. Called after the index
    // has moved, so the display takes its rotation from PictureHistory::Current().
    std::function<void(std::vector<uint8_t> bytes, ImageInfo info)> showPicture;
    // Empties the picture control, deletes the display and highlight bitmaps, frees the
    // current bytes, blanks an open preview or full-screen window and resets and redraws
    // the histogram. The history has set its index to -1 before this is called, or has
    // moved it onto a picture that cannot be shown (then the status text says why).
    std::function<void()> clearDisplay;
    // Refreshes the menu check marks.
    std::function<void()> refreshMenuChecks;
};

class PictureHistory {
public:
    // Appends the record read from the saved file (ImageInfo::ReadImageInfoFromFile) and
    // makes it current. The picture itself is shown by the picture-ready notification.
    void AddToHistory(const std::string& path);

    size_t Count() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    const std::vector<ImageInfo>& Entries() const { return entries_; }
    int CurrentIndex() const { return current_; }
    // The record of the picture on show, or null when the index is -1 (or out of range).
    const ImageInfo* Current() const;
    // The picture on show is not one of the history's (a saved-file notification without
    // a usable path).
    void ForgetCurrent() { current_ = -1; }

    // "<- Prev Image" (command 1053, Left arrow): one back, wrapping from the oldest (and
    // from -1) to the newest. With one picture already current it does nothing.
    // Returns true when a picture was handed to view.showPicture.
    bool ShowPreviousPicture(const HistoryView& view);
    // "Next Image ->" (command 1054, Right arrow): one on, wrapping from the newest to
    // the oldest; from -1 to the oldest. Returns true when a picture was shown.
    // On a picture whose bytes cannot be loaded (deleted outside the program, no preview)
    // the index stays, the display is cleared and the status text says "the file is gone"
    // or "this picture cannot be shown"; both browse commands then return false.
    bool ShowNextPicture(const HistoryView& view);
    // "Delete Image" (command 157, Delete key): asks, deletes the file of the current
    // entry (and a RAW picture's thumbnail; an entry whose file is already gone only
    // leaves the list), then shows the picture that followed it, or clears the display
    // when none is left. With no current entry it only clears the display.
    void DeleteCurrentPicture(const HistoryView& view);

    // The full-screen window's caption: "Tethrocam" with nothing on show, "Preview" when
    // the picture on show is not a history picture, else "[3 of 10]: IMG_0003.JPG".
    std::string HistoryCaption(bool haveCurrentBytes) const;

private:
    // The common browse steps after the index has moved.
    bool ShowCurrent(const HistoryView& view);
    void ClearDisplay(const HistoryView& view);

    std::vector<ImageInfo> entries_;
    int current_ = -1;
};

// The bytes to display for a saved picture: a .jpg whole; a .crw's embedded JPEG preview;
// a .tif's companion .jpg when there is one, else the .tif's first 204800 bytes. None for a
// file that is missing, unreadable or empty, a .crw without a readable preview, and every
// other extension. The extension is taken without regard to case.
std::optional<std::vector<uint8_t>> LoadDisplayData(const ImageInfo& record);
std::optional<std::vector<uint8_t>> LoadDisplayData(const std::string& path);

// The most of a .tif file that is handed to the TIFF reader.
inline constexpr size_t kTiffDisplayBytes = 204800;

// File-size text in KB or MB: 512 bytes "0KB", 513 bytes "1KB", 1048576 bytes "1,024KB",
// 20000000 bytes "19.1MB".
std::string FormatFileSize(uint64_t byteCount);

// " - 1/125sec, F5.6" when the record has an aperture text; empty otherwise (also for
// no record).
std::string ExposureSuffix(const ImageInfo* info);

// "Saved: " + path + " (" + FormatFileSize(size) + ")" + ExposureSuffix(info).
std::string SavedStatusText(const std::string& path, uint64_t fileSize, const ImageInfo* info);

} // namespace display
