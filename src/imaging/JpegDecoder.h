// JpegDecoder: turns the bytes of a picture file held in memory (a JPEG, or a
// big-endian uncompressed TIFF) into a Bitmap ready for the screen: fitted to a box,
// turned to the wanted orientation, optionally grey, with its histogram counted on the
// way; or decoded at full size for the 1:1 preview.
// Called on the user-interface thread; a call blocks for the whole decode (tens of
// milliseconds for a camera picture). The input buffer is only read, never kept, and
// must stay alive for the duration of the call. Calls on different threads with
// different buffers do not interfere.
//
// A JPEG that libjpeg refuses, or that draws a libjpeg warning, ends the decode with
// JpegError carrying libjpeg's own text ("Not a JPEG file: starts with 0x49 0x49",
// "Premature end of JPEG file", ...). Pictures above kMaxJpegPixels are refused the
// same way before anything is decoded, so a few bytes claiming a gigantic picture
// cannot exhaust memory. Greyscale JPEGs come out grey.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "imaging/Bitmap.h"
#include "imaging/ImageHistogram.h"
#include "imaging/Rotation.h"

class JpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The largest picture, in header pixels, that either entry point agrees to decode.
inline constexpr uint64_t kMaxJpegPixels = uint64_t{1} << 27;  // 134 million pixels

// Fitted decode. rotation is clockwise degrees (0, 90, 180, 270; anything else is 0);
// boxWidth x boxHeight is the area on screen, after rotation (negative counts as 0).
// Returns an empty Bitmap when either box dimension is 0, std::nullopt when a
// big-endian TIFF cannot be read (no message), and throws JpegError for a JPEG failure.
// The histogram is cleared, then counts every pixel of the fitted picture in colour
// (also in black-and-white mode).
std::optional<Bitmap> DecodeToBitmap(const uint8_t* data, size_t length, ImageHistogram& histogram,
                                     int rotation, int boxWidth, int boxHeight, bool blackAndWhite);

// Unscaled decode of a JPEG, turned by rotation; no histogram, no grey, no fitting.
// The Bitmap carries the final width and height. Throws JpegError on failure.
Bitmap DecodeFullSize(const uint8_t* data, size_t length, int rotation);

// The pieces of the fitted decode's arithmetic, exposed for the tests.
// Scale denominator (1, 2, 4 or 8) for a picture of imageWidth x imageHeight in the box
// (both in the picture's own frame): halve while the width stays at least twice the
// box width and the height at least the box height.
unsigned ChooseScaleDenominator(unsigned imageWidth, unsigned imageHeight, int boxWidth, int boxHeight);

struct FittedSize {
    int width = 0;
    int height = 0;
};
// Size of a decoded picture width x height fitted to the box: never enlarged, 0 x 0 when
// either box dimension is 0, never thinner than 1 pixel otherwise.
FittedSize FitToBox(int width, int height, int boxWidth, int boxHeight);
