// Fuzz target: live-view frames as a camera might send them, through the renderer every
// live frame takes to the screen, with options drawn from the input's length (box, the
// magnified area, peaking, grey). libjpeg's refusals arrive as JpegError and are fine;
// anything else (a crash, a sanitizer report, a picture of the wrong size or not opaque)
// is a finding. Frames whose header claims more than a few million pixels are passed over.
#include "imaging/JpegDecoder.h"
#include "JpegHeaderPixels.h"
#include "imaging/JpegSupport.h"
#include "liveview/LiveFrameRenderer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using fuzzing::HeaderPixels;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (HeaderPixels(data, size) > (uint64_t{1} << 22))
        return 0;
    liveview::LiveFrameRenderer renderer;
    liveview::RenderOptions o;
    o.boxWidth = 16 + static_cast<int>(size % 97);
    o.boxHeight = 16 + static_cast<int>(size % 61);
    o.peaking = (size & 1) != 0;
    o.blackAndWhite = (size & 2) != 0;
    if (size & 4)  // a magnified area, partly outside the frame
        o.area = liveview::AreaF{static_cast<double>(size % 13) - 3, static_cast<double>(size % 7) - 2, 5.5, 3.25};
    try {
        const liveview::RenderedFrame f = renderer.Render(data, size, o);
        const liveview::LiveImage& image = f.image;
        if (image.Empty())
            return 0;
        if (image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height) ||
            image.width > o.boxWidth || image.height > o.boxHeight)
            std::abort();
        for (uint32_t p : image.pixels)
            if ((p >> 24) != 0xFF)
                std::abort();
        if (f.peakingMarks > static_cast<size_t>(f.frameWidth) * static_cast<size_t>(f.frameHeight))
            std::abort();
    } catch (const JpegError&) {
    }
    return 0;
}
