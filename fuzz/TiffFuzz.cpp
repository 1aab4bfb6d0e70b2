// Fuzz target: the TIFF reader on arbitrary bytes. Whatever it accepts must come back
// as exactly width x height red-green-blue pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/TiffReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TiffImage image = ReadTiffImage(data, size);
    if (image.Ok()) {
        if (image.width <= 0 || image.height <= 0 ||
            image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3)
            std::abort();
    }
    return 0;
}
