// LiveFrameRenderer: turns one live-view frame (a JPEG from the body) into the picture the
// screen shows: decoded, the area on show (the whole frame, or the magnified part of it)
// scaled to fit the box (enlarged when the box is larger, as live view fills the screen),
// optionally grey, with the focus-peaking marks painted in their colour, and the live
// histogram counted. The one path every live frame takes to the screen; the grid and the
// focus points are drawn over the result by the window (display/Overlays).
//
// Live frames come thirty times a second, so the picture is 32-bit (LiveImage: blue, green,
// red, 0xFF in each little-endian word, the screen's own layout, painted without a
// conversion) rather than the program's 24-bit Bitmap, and the loops move whole pixels.
//
// One renderer per window, one thread at a time (the UI thread); Render blocks for the
// decode (a few milliseconds for a 1024 x 680 frame). It keeps its work buffers between
// frames. A frame libjpeg refuses ends the call with JpegError (imaging/JpegDecoder.h).
#pragma once

#include "imaging/ImageHistogram.h"
#include "liveview/FocusPeaking.h"
#include "liveview/Magnifier.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace liveview {

struct RenderOptions {
    int boxWidth = 0;                   // the area on screen
    int boxHeight = 0;
    std::optional<AreaF> area;          // part of the frame on show, frame pixels; none: all of it
    bool blackAndWhite = false;
    bool peaking = false;
    uint32_t peakingColour = 0x000000FF;  // 0x00BBGGRR
    int peakingThreshold = kPeakingThreshold;
    bool countHistogram = true;         // every fourth pixel of every second row, in colour
};

// A picture of width x height 32-bit pixels 0xFFRRGGBB, rows without padding.
struct LiveImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    bool Empty() const { return width <= 0 || height <= 0; }
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

struct RenderedFrame {
    LiveImage image;                    // what the screen shows; empty when the box is
    int frameWidth = 0;                 // size of the frame as decoded
    int frameHeight = 0;
    size_t peakingMarks = 0;            // frame pixels marked in the area on show
    ImageHistogram histogram;
};

// The size of an area w x h fitted into the box, enlarged or reduced, never below 1 x 1;
// 0 x 0 for an empty box or area.
struct SizeI {
    int width = 0, height = 0;
};
SizeI FitArea(double areaWidth, double areaHeight, int boxWidth, int boxHeight);

class LiveFrameRenderer {
public:
    // Decodes `jpeg` and renders it. Throws JpegError when the frame cannot be decoded.
    RenderedFrame Render(const uint8_t* jpeg, size_t length, const RenderOptions& options);

    // The last frame as decoded: four bytes a pixel (blue, green, red, unused), rows of
    // frameWidth * 4 bytes; for tests.
    const uint8_t* Decoded() const { return reinterpret_cast<const uint8_t*>(decoded_.data()); }
    static constexpr int kDecodedBytesPerPixel = 4;

private:
    void Decode(const uint8_t* jpeg, size_t length, int* width, int* height);

    std::vector<uint32_t> decoded_;
    PeakingMask mask_;
    std::vector<uint32_t> blended_;  // two source rows blended down
    std::vector<uint8_t> rowMarked_;  // per row of the marks: any mark on it
};

}  // namespace liveview
