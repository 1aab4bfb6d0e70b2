// FocusPeaking: marks the sharp edges of a live-view frame so that the photographer sees
// what is in focus. A pixel is marked where the brightness changes steeply across it, in
// whatever direction: the length of (L(x+1) - L(x-1), L(y+1) - L(y-1)) at or above a
// threshold, L being the pixel's luma.
// The threshold is absolute (kPeakingThreshold suits camera live view): a frame with
// nothing in focus shows no marks at all, however hard its softest edges are looked at.
// FocusMeasure averages the squared length over a region: the larger, the sharper (what a
// contrast autofocus climbs).
//
// Plain functions over pixels in memory; any thread, no call blocks, nothing is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace liveview {

constexpr int kPeakingThreshold = 96;

// Luma of a blue-green-red pixel: (29 B + 150 G + 77 R) / 256, 0..255.
inline uint8_t Luma(const uint8_t* bgr)
{
    return static_cast<uint8_t>((29u * bgr[0] + 150u * bgr[1] + 77u * bgr[2]) >> 8);
}

// The marks of a region of a picture, one byte per pixel (1 marked, 0 not).
struct PeakingMask {
    int left = 0, top = 0;      // where the region starts in the picture
    int width = 0, height = 0;
    std::vector<uint8_t> marks;  // width * height, row by row

    bool Marked(int x, int y) const
    {
        return x >= left && y >= top && x < left + width && y < top + height &&
               marks[static_cast<size_t>(y - top) * static_cast<size_t>(width) + static_cast<size_t>(x - left)] != 0;
    }
    size_t Count() const;
};

// Marks the region (left, top, width x height, clipped to the picture) of a picture
// `pictureWidth` x `pictureHeight` whose rows are `stride` bytes apart and whose pixels are
// blue, green, red (`bytesPerPixel` 3) or blue, green, red and one unused byte (4). Pixels
// on the picture's border are never marked (they lack a neighbour). `mask` is reused.
// Returns the number of pixels marked.
size_t ComputePeaking(const uint8_t* pixels, int stride, int pictureWidth, int pictureHeight, int left, int top,
                      int width, int height, int threshold, PeakingMask& mask, int bytesPerPixel = 3);

// Mean over the region (clipped) of (L(x+1) - L(x-1))^2 + (L(y+1) - L(y-1))^2: the
// region's sharpness. Pixels as for ComputePeaking.
double FocusMeasure(const uint8_t* pixels, int stride, int pictureWidth, int pictureHeight, int left, int top,
                    int width, int height, int bytesPerPixel = 3);

}  // namespace liveview
