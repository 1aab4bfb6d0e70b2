#include "display/DisplayPipeline.h"

#include "display/BitmapImage.h"
#include "colour/DisplayTransform.h"
#include "display/Highlights.h"
#include "imaging/ImageInfo.h"
#include "imaging/JpegDecoder.h"

namespace display {

int RotationForSetting(int orientationSetting, const ImageInfo* currentInfo)
{
    switch (orientationSetting) {
    case 0: return 0;     // "Landscape"
    case 1: return 270;   // "Portrait (90 degrees CCW)"
    case 2: return 90;    // "Portrait (90 degrees CW)"
    case 3: return 180;   // "Inverted"
    case 4: return currentInfo ? NormalizeRotation(currentInfo->Rotation()) : 0;  // sensor
    default: return 0;
    }
}

int ChooseDisplayRotation(const ImageInfo* historyPicture, int orientationSetting,
                          const ImageInfo* currentInfo)
{
    if (historyPicture)
        return NormalizeRotation(historyPicture->Rotation());
    return RotationForSetting(orientationSetting, currentInfo);
}

FreeBox FreeDisplayBox(int clientRight, int clientBottom, int panelRight)
{
    FreeBox box;
    box.width = clientRight - panelRight - 3;
    box.height = clientBottom;
    if (box.width < 0)
        box.width = 1;
    if (box.height < 0)
        box.height = 1;
    return box;
}

PicturePlacement PlacePicture(int clientRight, int newWidth, std::optional<int> previousWidth)
{
    PicturePlacement p;
    p.x = clientRight - newWidth;
    p.y = 0;
    p.clearFirst = previousWidth.has_value() && clientRight - *previousWidth != p.x;
    return p;
}

DisplayResult MakeDisplayBitmap(const DisplaySource& source, const DisplaySettings& settings,
                                int boxWidth, int boxHeight, ImageHistogram& histogram,
                                bool wantHighlight, const ErrorSink& showError,
                                const DecodeFunction& decode)
{
    DisplayResult result;
    if (!source.data || source.length == 0)
        return result;

    const int rotation = ChooseDisplayRotation(source.historyPicture, settings.orientationSetting,
                                               source.currentInfo);
    result.rotation = rotation;

    auto report = [&](const std::string& message) {
        if (showError)
            showError(message);
    };
    try {
        result.display = decode(source.data, source.length, histogram, rotation, boxWidth,
                                boxHeight, settings.blackAndWhite);
    } catch (const JpegError& e) {
        report(std::string("Error reading JPEG:\n") + e.what());
        result.display.reset();
        return result;
    } catch (...) {
        report("Error reading JPEG");
        result.display.reset();
        return result;
    }
    if (!result.display)
        return result;  // an unreadable TIFF: no picture and no message

    if (source.toMonitor && !result.display->Empty()) {
        result.shown = *result.display;
        source.toMonitor->Apply(*result.shown);
    }
    // The companion starts as the plain picture as shown, before any overlay; what
    // blinks is judged on the picture's own values.
    if (wantHighlight)
        result.highlight = MakeHighlightBitmap(*result.display, *result.Shown(), settings.highlightMethod,
                                               settings.highlightThreshold);

    // The overlays are the program's own marks, drawn in their own colours on every bitmap.
    QImage images[] = {WrapBitmap(*result.display), result.shown ? WrapBitmap(*result.shown) : QImage(),
                       result.highlight ? WrapBitmap(*result.highlight) : QImage()};
    if (settings.displayGrid) {
        const QColor colour = ColorFromColorRef(settings.gridColour);
        for (QImage& image : images)
            DrawGrid(image, colour, settings.horizontalDivisions, settings.verticalDivisions);
    }
    if (settings.displayFocusPoints && source.currentInfo) {
        const FocusPointInfo focus = FocusPointInfoFrom(*source.currentInfo);
        for (QImage& image : images)
            DrawFocusPoints(image, focus, rotation);
    }
    return result;
}

DisplayResult MakeDisplayBitmap(const DisplaySource& source, const DisplaySettings& settings,
                                int boxWidth, int boxHeight, ImageHistogram& histogram,
                                bool wantHighlight, const ErrorSink& showError)
{
    return MakeDisplayBitmap(source, settings, boxWidth, boxHeight, histogram, wantHighlight,
                             showError, &DecodeToBitmap);
}

} // namespace display
