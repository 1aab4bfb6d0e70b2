// Fuzz target: the fitted decode (and, for small pictures, the full-size decode) on
// arbitrary bytes. libjpeg's refusals arrive as JpegError and are fine; anything else
// (a crash, a sanitizer report, a malformed bitmap) is a finding.
// Pictures whose header claims more than a few million pixels are passed over: the
// decoder accepts them (up to its own limit), but decoding them is slow without
// teaching the fuzzer anything new.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "imaging/JpegDecoder.h"
#include "imaging/JpegSupport.h"

namespace {

struct HeaderReader {
    jpeg_decompress_struct cinfo;
    JpegErrorHandler handler;
};

// Leaves by longjmp on failure; only trivially destructible locals here.
bool ReadHeader(HeaderReader& r, const uint8_t* data, size_t size)
{
    if (setjmp(r.handler.jump))
        return false;
    jpeg_create_decompress(&r.cinfo);
    InstallMemorySource(&r.cinfo, data, size);
    jpeg_read_header(&r.cinfo, TRUE);
    return true;
}

// Header pixels of a JPEG, or 0 when libjpeg cannot read the header.
uint64_t HeaderPixels(const uint8_t* data, size_t size)
{
    HeaderReader r;
    std::memset(&r.cinfo, 0, sizeof r.cinfo);
    r.cinfo.err = InstallJpegErrorHandler(r.handler);
    const uint64_t pixels = ReadHeader(r, data, size) ? uint64_t{r.cinfo.image_width} * r.cinfo.image_height : 0;
    jpeg_destroy_decompress(&r.cinfo);
    return pixels;
}

void CheckBitmap(const Bitmap& b)
{
    if (b.Empty())
        return;
    if (b.stride != Bitmap::StrideFor(b.width) ||
        b.pixels.size() != static_cast<size_t>(b.stride) * static_cast<size_t>(b.height))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const bool tiff = size > 4 && data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42;
    const uint64_t pixels = tiff ? 0 : HeaderPixels(data, size);
    if (pixels > (uint64_t{1} << 22))
        return 0;
    const int rotation = static_cast<int>(size % 4) * 90;
    ImageHistogram histogram;
    try {
        const auto bitmap = DecodeToBitmap(data, size, histogram, rotation, 64, 48, (size & 4) != 0);
        if (bitmap) {
            CheckBitmap(*bitmap);
            if (histogram.SampleCount() != static_cast<uint32_t>(bitmap->width) * static_cast<uint32_t>(bitmap->height))
                std::abort();
        }
    } catch (const JpegError&) {
    }
    if (!tiff && pixels > 0 && pixels <= (uint64_t{1} << 20)) {
        try {
            CheckBitmap(DecodeFullSize(data, size, rotation));
        } catch (const JpegError&) {
        }
    }
    return 0;
}
