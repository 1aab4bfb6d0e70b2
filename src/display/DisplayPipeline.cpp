#include "display/DisplayPipeline.h"

#include "display/BitmapImage.h"
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

    // The companion starts as the plain picture, before any overlay.
    if (wantHighlight)
        result.highlight = MakeHighlightBitmap(*result.display, settings.highlightMethod,
                                               settings.highlightThreshold);

    QImage displayImage = WrapBitmap(*result.display);
    QImage highlightImage = result.highlight ? WrapBitmap(*result.highlight) : QImage();

    if (settings.displayGrid) {
        const QColor colour = ColorFromColorRef(settings.gridColour);
        DrawGrid(displayImage, colour, settings.horizontalDivisions, settings.verticalDivisions);
        DrawGrid(highlightImage, colour, settings.horizontalDivisions, settings.verticalDivisions);
    }
    if (settings.displayFocusPoints && source.currentInfo) {
        const FocusPointInfo focus = FocusPointInfoFrom(*source.currentInfo);
        DrawFocusPoints(displayImage, focus, rotation);
        DrawFocusPoints(highlightImage, focus, rotation);
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
