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
#include "JpegHeaderPixels.h"
#include "imaging/JpegSupport.h"

namespace {

using fuzzing::HeaderPixels;

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
