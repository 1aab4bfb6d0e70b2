// For the fuzz targets that decode JPEGs: how many pixels a JPEG's header claims, so that
// inputs claiming huge pictures can be passed over (slow to decode, nothing new learned).
// Any thread; reads the header only.
#pragma once

#include "imaging/JpegSupport.h"

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzzing {

namespace detail {

struct HeaderReader {
    jpeg_decompress_struct cinfo;
    JpegErrorHandler handler;
};

// Leaves by longjmp on failure; only trivially destructible locals here.
inline bool ReadHeader(HeaderReader& r, const uint8_t* data, size_t size)
{
    if (setjmp(r.handler.jump))
        return false;
    jpeg_create_decompress(&r.cinfo);
    InstallMemorySource(&r.cinfo, data, size);
    jpeg_read_header(&r.cinfo, TRUE);
    return true;
}

}  // namespace detail

// Header pixels of a JPEG, or 0 when libjpeg cannot read the header.
inline uint64_t HeaderPixels(const uint8_t* data, size_t size)
{
    detail::HeaderReader r;
    std::memset(&r.cinfo, 0, sizeof r.cinfo);
    r.cinfo.err = InstallJpegErrorHandler(r.handler);
    const uint64_t pixels =
        detail::ReadHeader(r, data, size) ? uint64_t{r.cinfo.image_width} * r.cinfo.image_height : 0;
    jpeg_destroy_decompress(&r.cinfo);
    return pixels;
}

}  // namespace fuzzing
