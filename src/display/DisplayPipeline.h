// DisplayPipeline: how the main view turns the bytes of the picture on show into what
// the picture control shows: the rotation choice, the free box beside the camera panel,
// the fitted decode, the flashing-highlight companion and the overlays, and where the
// result is placed. Plain functions over the values the view passes in; the view keeps
// the results. User-interface thread only; MakeDisplayBitmap decodes synchronously.
#pragma once

#include "display/Overlays.h"
#include "imaging/Bitmap.h"
#include "imaging/ImageHistogram.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class ImageInfo;
namespace colour {
class DisplayTransform;
}

namespace display {

// Rotation (clockwise degrees) chosen by `OrientationSetting` 0..4 alone: 0, 270, 90,
// 180, and for 4 ("Use Orientation Sensor") the picture's own rotation, 0 without an
// ImageInfo. A setting outside 0..4 gives 0. Every result is 0, 90, 180 or 270: a
// stored rotation of any other value counts as 0, as it does for the decoder.
int RotationForSetting(int orientationSetting, const ImageInfo* currentInfo);

// The rotation for the picture on show: a picture of this run's history (its record is
// `historyPicture`, null when the current index is -1 or out of range) keeps its stored
// rotation; any other picture follows the orientation setting.
int ChooseDisplayRotation(const ImageInfo* historyPicture, int orientationSetting,
                          const ImageInfo* currentInfo);

// The history record at `index`, or null when the index is outside the list.
template <typename List>
const ImageInfo* HistoryPictureAt(const List& history, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= history.size())
        return nullptr;
    return &history[static_cast<size_t>(index)];
}

struct FreeBox {
    int width = 0;
    int height = 0;
};
// The area right of the camera panel: client right - panel's right edge - 3 across,
// client bottom down; a negative size becomes 1.
FreeBox FreeDisplayBox(int clientRight, int clientBottom, int panelRight);

// Where the picture control goes: flush with the client area's right edge, at the top.
// `clearFirst` asks the view to take the old picture out of the control before moving
// it, so the old picture is never painted at the new place.
struct PicturePlacement {
    int x = 0;
    int y = 0;
    bool clearFirst = false;
};
PicturePlacement PlacePicture(int clientRight, int newWidth, std::optional<int> previousWidth);

// The settings that shape the display bitmap.
struct DisplaySettings {
    int orientationSetting = 0;           // `OrientationSetting`
    bool blackAndWhite = false;           // menu item 166
    bool displayGrid = false;             // `DisplayGrid`
    uint32_t gridColour = 0x0000FF00;     // `GridColour`, 0x00BBGGRR
    int horizontalDivisions = 9;          // `NumberOfHorizontalGridDivisions`
    int verticalDivisions = 9;            // `NumberOfVerticalGridDivisions`
    bool displayFocusPoints = false;      // `DisplayFocusPoints`
    int highlightMethod = 0;              // `HighlightBlinkMethod`
    int highlightThreshold = 250;         // `HighlightBlinkThreshold`
};

// The picture on show, as the view holds it.
struct DisplaySource {
    const uint8_t* data = nullptr;             // current bytes; null or 0 length: nothing on show
    size_t length = 0;
    const ImageInfo* currentInfo = nullptr;    // null when the picture has no record
    const ImageInfo* historyPicture = nullptr; // see ChooseDisplayRotation
    // From the picture's colour space to the monitor's; null: shown as decoded.
    const colour::DisplayTransform* toMonitor = nullptr;
};

struct DisplayResult {
    std::optional<Bitmap> display;     // none: keep the previous picture. The picture's own
                                       // values with the overlays: what the readout reads
    std::optional<Bitmap> shown;       // `display` in the monitor's colours, with the
                                       // overlays; none when no transform applies
    std::optional<Bitmap> highlight;   // only when asked for and a display bitmap exists;
                                       // in the monitor's colours
    std::optional<int> rotation;       // the view's new current rotation; none when
                                       // there were no bytes (keep the old one)

    // What goes on the screen: `shown`, else `display` (null when there is neither).
    const Bitmap* Shown() const { return shown ? &*shown : display ? &*display : nullptr; }
};

// The fitted decode: the decoder's DecodeToBitmap, or a stand-in with the same contract
// (throws JpegError with libjpeg's text; nullopt for an unreadable TIFF).
using DecodeFunction = std::function<std::optional<Bitmap>(
    const uint8_t* data, size_t length, ImageHistogram& histogram, int rotation,
    int boxWidth, int boxHeight, bool blackAndWhite)>;
// Shows one error message over the owner window (caption "Tethrocam", error icon).
using ErrorSink = std::function<void(const std::string& message)>;

// Builds the display bitmap (and, with `wantHighlight`, its flashing companion) for a
// box of boxWidth x boxHeight pixels of the screen (device pixels): decodes with the
// chosen rotation, counting `histogram` on the picture's own values, turns a copy into
// the monitor's colours when the source has a transform, builds the companion from it
// (over-exposure judged on the picture's own values), then draws the grid and the focus
// points into every bitmap. A decode failure is reported through `showError` ("Error reading
// JPEG:\n" + libjpeg's message, or "Error reading JPEG") and gives no bitmap; an
// unreadable TIFF gives no bitmap and no message.
DisplayResult MakeDisplayBitmap(const DisplaySource& source, const DisplaySettings& settings,
                                int boxWidth, int boxHeight, ImageHistogram& histogram,
                                bool wantHighlight, const ErrorSink& showError,
                                const DecodeFunction& decode);

// The same with the program's JPEG/TIFF decoder.
DisplayResult MakeDisplayBitmap(const DisplaySource& source, const DisplaySettings& settings,
                                int boxWidth, int boxHeight, ImageHistogram& histogram,
                                bool wantHighlight, const ErrorSink& showError);

} // namespace display
