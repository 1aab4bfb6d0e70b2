// Bitmap: pixels ready for the screen, in the program's own format: 24-bit
// blue-green-red, rows from the top, each row padded to a multiple of 4 bytes.
// A plain value type; any thread may own one, one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct Bitmap {
    int width = 0;
    int height = 0;
    int stride = 0;               // bytes per row: (width * 3) rounded up to a multiple of 4
    std::vector<uint8_t> pixels;  // stride * height bytes

    bool Empty() const { return width <= 0 || height <= 0; }
    static int StrideFor(int width) { return (width * 3 + 3) & ~3; }
    const uint8_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * stride; }
    uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * stride; }
};
