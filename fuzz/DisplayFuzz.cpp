// The main view's display pipeline on arbitrary picture bytes and arbitrary settings:
// decode, highlight companion, grid, focus points (the picture's own Exif record and
// every camera layout), histogram display and pixel readout. Nothing may read or write
// outside a bitmap, whatever the box, rotation or settings.
// The settings come from the input's last 12 bytes, so real pictures replay intact.
#include "display/BitmapImage.h"
#include "display/DisplayPipeline.h"
#include "display/HistogramView.h"
#include "display/Overlays.h"
#include "display/PixelReadout.h"
#include "imaging/ImageInfo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 12)
        return 0;
    const uint8_t* p = data + size - 12;

    display::DisplaySettings s;
    const int boxWidth = p[0] | ((p[1] & 1) << 8);          // 0..511
    const int boxHeight = p[2] | ((p[1] & 2) << 7);         // 0..511
    s.orientationSetting = static_cast<int8_t>(p[3]);
    s.blackAndWhite = p[4] & 1;
    s.displayGrid = p[4] & 2;
    s.displayFocusPoints = p[4] & 4;
    const bool wantHighlight = p[4] & 8;
    s.highlightMethod = (p[4] >> 4) & 3;
    s.highlightThreshold = static_cast<int8_t>(p[5]) * 3;  // -384..381
    s.horizontalDivisions = static_cast<int8_t>(p[6]);
    s.verticalDivisions = p[7] == 0xFF ? 2000000000 : static_cast<int8_t>(p[7]);
    s.gridColour = p[8] | (p[9] << 8);

    const ImageInfo info = ImageInfo::ReadImageInfoFromMemory(data, size);
    ImageInfo history = info;
    history.SetRotation(p[10] * 45);  // also rotations that are no quarter turn

    display::DisplaySource source;
    source.data = data;
    source.length = size;
    source.currentInfo = (p[11] & 1) ? &info : nullptr;
    source.historyPicture = (p[11] & 2) ? &history : nullptr;

    ImageHistogram histogram;
    display::DisplayResult r = display::MakeDisplayBitmap(source, s, boxWidth, boxHeight, histogram,
                                                          wantHighlight, [](const std::string&) {});
    if (!r.display)
        return 0;

    // Every layout, in the chosen rotation and in one that is no quarter turn.
    QImage image = display::WrapBitmap(*r.display);
    static const char* const kModels[] = {"Canon EOS 10D", "Canon EOS 300D", "Canon EOS D60",
                                          "Canon EOS-1D"};
    display::FocusPointInfo focus;
    focus.model = kModels[p[11] >> 6];
    focus.sevenPointMask = p[8];
    focus.threePointValue = static_cast<uint32_t>(p[9] << 8 | p[8]);
    for (int i = 0; i < 8; ++i)
        focus.fortyFiveBits[i] = p[i];
    display::DrawFocusPoints(image, focus, r.rotation.value_or(0));
    display::DrawFocusPoints(image, focus, p[10]);

    QImage histogramImage = display::MakeHistogramImage(1 + p[0] % 64);
    display::DrawHistogram(histogramImage, histogram, display::HistogramCurves{true, true, true, true});

    const Bitmap* shown = r.highlight ? &*r.highlight : &*r.display;
    display::ReadPixelUnderPointer(shown, p[6] - 20, p[7] - 20, shown->width + 5, shown->height + 5);
    return 0;
}
