// Fuzz target for the Exif reader: received bytes (JPEG or big-endian TIFF), the same
// bytes as an APP1 segment and as a TIFF block of either byte order.
#include "imaging/ImageInfo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)ImageInfo::ReadImageInfoFromMemory(data, size);
    ImageInfo segment;
    segment.ParseExifSegment(data, size);
    ImageInfo tiff;
    tiff.ParseTiffHeaderInfo(data, size);
    return 0;
}
