// Overlays: the grid and the camera's autofocus frames, drawn straight into the image of
// a display bitmap (and again into its flashing-highlight companion, so the
// overlays never blink). Plain functions over an image; nothing is kept between calls.
// User-interface thread only; no call blocks.
#pragma once

#include <QColor>
#include <QImage>

#include <array>
#include <cstdint>
#include <string>

class ImageInfo;

namespace display {

// A settings colour, 0x00BBGGRR (red in the low byte), as a Qt colour.
QColor ColorFromColorRef(uint32_t colorRef);

// Draws a grid of `horizontalDivisions` cells across and `verticalDivisions` cells down
// over the whole image, 1-pixel lines in `colour`. A count of 1 or less draws no lines
// in that direction; a count larger than the image draws each distinct line once.
void DrawGrid(QImage& image, QColor colour, int horizontalDivisions, int verticalDivisions);

// The focus-point layout a camera model uses. The model text is compared in lower case.
enum class FocusLayout {
    None,                    // unknown model: nothing is drawn
    FortyFivePoint,          // EOS-1D, EOS-1Ds
    SevenPointWithCircle,    // EOS 10D
    SevenPoint,              // EOS 300D / Digital Rebel / Kiss Digital
    ThreePointWithCircle,    // EOS D30, EOS D60
};
FocusLayout FocusLayoutForModel(const std::string& model);

// What the focus-point overlay needs to know of a picture.
struct FocusPointInfo {
    std::string model;                    // camera model text, any case
    uint32_t sevenPointMask = 0;          // 10D / 300D: bit per point
    uint32_t threePointValue = 0;         // D30 / D60
    std::array<uint8_t, 8> fortyFiveBits{};  // 1D / 1Ds; byte 0 is not used
};
FocusPointInfo FocusPointInfoFrom(const ImageInfo& info);

// Draws the focus points of one picture into `image`, which already shows the picture
// turned by `rotation`. Active points are red, the others black and grey; the 10D, D30
// and D60 layouts add the grey metering circle. Unknown models draw nothing.
void DrawFocusPoints(QImage& image, const FocusPointInfo& info, int rotation);
void DrawFocusPoints(QImage& image, const ImageInfo& info, int rotation);

} // namespace display
