#include "liveview/LiveFrameRenderer.h"

#include "imaging/JpegDecoder.h"
#include "imaging/JpegSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace liveview {

namespace {

#ifdef JCS_EXTENSIONS
constexpr J_COLOR_SPACE kBgr = JCS_EXT_BGR;
constexpr bool kNeedsSwap = false;
#else
constexpr J_COLOR_SPACE kBgr = JCS_RGB;
constexpr bool kNeedsSwap = true;
#endif

constexpr uint64_t kMaxFramePixels = uint64_t{1} << 26;  // larger than any live view

struct Decompress {
    jpeg_decompress_struct cinfo;
    JpegErrorHandler handler;
    bool created = false;
    Decompress()
    {
        std::memset(&cinfo, 0, sizeof cinfo);
        cinfo.err = InstallJpegErrorHandler(handler);
    }
    ~Decompress()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
};

// Each step arms the handler's jump around libjpeg and holds only trivially destructible
// locals, so a longjmp out of libjpeg skips nothing; the caller throws outside.
bool GuardedHeader(Decompress& d, const uint8_t* data, size_t length)
{
    if (setjmp(d.handler.jump))
        return false;
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    InstallMemorySource(&d.cinfo, data, length);
    jpeg_read_header(&d.cinfo, TRUE);
    return true;
}

bool GuardedStart(Decompress& d)
{
    if (setjmp(d.handler.jump))
        return false;
    // Live view favours speed: the fast integer transform, plain chroma upsampling.
    d.cinfo.dct_method = JDCT_IFAST;
    d.cinfo.do_fancy_upsampling = FALSE;
    d.cinfo.out_color_space = d.cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : kBgr;
    jpeg_start_decompress(&d.cinfo);
    return true;
}

bool GuardedRows(Decompress& d, uint8_t* base, size_t rowBytes)
{
    if (setjmp(d.handler.jump))
        return false;
    const bool grey = d.cinfo.output_components == 1;
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        uint8_t* row = base + size_t{d.cinfo.output_scanline} * rowBytes;
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(&d.cinfo, rows, 1) != 1) {
            std::strcpy(d.handler.message, "No rows from the JPEG decoder");
            return false;
        }
        const unsigned w = d.cinfo.output_width;
        if (grey) {
            for (unsigned i = w; i-- > 0;)
                row[3 * i] = row[3 * i + 1] = row[3 * i + 2] = row[i];
        } else if (kNeedsSwap) {
            for (unsigned i = 0; i < w; ++i)
                std::swap(row[3 * i], row[3 * i + 2]);
        }
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

// One output column's (or row's) two source neighbours and the weight of the second, in
// 1/256.
struct Tap {
    int a, b;
    int wb;
};

std::vector<Tap> Taps(double start, double extent, int count, int limit)
{
    std::vector<Tap> taps(static_cast<size_t>(count));
    const double step = extent / count;
    for (int i = 0; i < count; ++i) {
        double s = start + (i + 0.5) * step - 0.5;
        s = std::clamp(s, 0.0, static_cast<double>(limit - 1));
        const int a = static_cast<int>(s);
        const int b = std::min(a + 1, limit - 1);
        taps[static_cast<size_t>(i)] = {a, b, static_cast<int>((s - a) * 256 + 0.5)};
    }
    return taps;
}

}  // namespace

SizeI FitArea(double areaWidth, double areaHeight, int boxWidth, int boxHeight)
{
    if (boxWidth <= 0 || boxHeight <= 0 || areaWidth <= 0 || areaHeight <= 0)
        return {};
    const double scale = std::min(boxWidth / areaWidth, boxHeight / areaHeight);
    return {std::clamp(static_cast<int>(std::lround(areaWidth * scale)), 1, boxWidth),
            std::clamp(static_cast<int>(std::lround(areaHeight * scale)), 1, boxHeight)};
}

void LiveFrameRenderer::Decode(const uint8_t* jpeg, size_t length, int* width, int* height)
{
    Decompress d;
    if (!GuardedHeader(d, jpeg, length))
        throw JpegError(d.handler.message);
    if (uint64_t{d.cinfo.image_width} * d.cinfo.image_height > kMaxFramePixels)
        throw JpegError("Live view frame too large: " + std::to_string(d.cinfo.image_width) + " x " +
                        std::to_string(d.cinfo.image_height) + " pixels");
    if (!GuardedStart(d))
        throw JpegError(d.handler.message);
    if (d.cinfo.output_components != 1 && d.cinfo.output_components != 3)
        throw JpegError("Unsupported color conversion request");
    *width = static_cast<int>(d.cinfo.output_width);
    *height = static_cast<int>(d.cinfo.output_height);
    const size_t rowBytes = static_cast<size_t>(*width) * 3;
    decoded_.resize(rowBytes * static_cast<size_t>(*height));
    if (!GuardedRows(d, decoded_.data(), rowBytes))
        throw JpegError(d.handler.message);
}

RenderedFrame LiveFrameRenderer::Render(const uint8_t* jpeg, size_t length, const RenderOptions& o)
{
    RenderedFrame out;
    int fw = 0, fh = 0;
    Decode(jpeg, length, &fw, &fh);
    out.frameWidth = fw;
    out.frameHeight = fh;
    AreaF area = o.area.value_or(AreaF{0, 0, static_cast<double>(fw), static_cast<double>(fh)});
    area.width = std::clamp(area.width, 1.0, static_cast<double>(fw));
    area.height = std::clamp(area.height, 1.0, static_cast<double>(fh));
    area.left = std::clamp(area.left, 0.0, fw - area.width);
    area.top = std::clamp(area.top, 0.0, fh - area.height);
    const SizeI size = FitArea(area.width, area.height, o.boxWidth, o.boxHeight);
    if (size.width == 0 || size.height == 0)
        return out;

    const int stride = fw * 3;
    if (o.peaking) {
        const int x0 = static_cast<int>(std::floor(area.left)), y0 = static_cast<int>(std::floor(area.top));
        const int x1 = static_cast<int>(std::ceil(area.left + area.width));
        const int y1 = static_cast<int>(std::ceil(area.top + area.height));
        ComputePeaking(decoded_.data(), stride, fw, fh, x0, y0, x1 - x0, y1 - y0, o.peakingThreshold, mask_);
        out.peakingMarks = mask_.Count();
    }

    Bitmap& bmp = out.bitmap;
    bmp.width = size.width;
    bmp.height = size.height;
    bmp.stride = Bitmap::StrideFor(size.width);
    bmp.pixels.assign(static_cast<size_t>(bmp.stride) * static_cast<size_t>(bmp.height), 0);
    const std::vector<Tap> cols = Taps(area.left, area.width, size.width, fw);
    const std::vector<Tap> rows = Taps(area.top, area.height, size.height, fh);
    const uint8_t colour[3] = {static_cast<uint8_t>(o.peakingColour >> 16), static_cast<uint8_t>(o.peakingColour >> 8),
                               static_cast<uint8_t>(o.peakingColour)};
    const bool peaking = o.peaking && !mask_.marks.empty();
    auto marked = [&](int x, int y) {
        const int mx = x - mask_.left, my = y - mask_.top;
        return mx >= 0 && my >= 0 && mx < mask_.width && my < mask_.height &&
               mask_.marks[static_cast<size_t>(my) * static_cast<size_t>(mask_.width) + static_cast<size_t>(mx)] != 0;
    };
    const bool enlarged = size.width > area.width;
    out.histogram.Clear();
    for (int y = 0; y < size.height; ++y) {
        const Tap& r = rows[static_cast<size_t>(y)];
        const uint8_t* top = decoded_.data() + static_cast<size_t>(r.a) * static_cast<size_t>(stride);
        const uint8_t* bottom = decoded_.data() + static_cast<size_t>(r.b) * static_cast<size_t>(stride);
        const int wy = r.wb, wyTop = 256 - r.wb;
        uint8_t* dst = bmp.Row(y);
        const bool sampleRow = o.countHistogram && (y & 1) == 0;
        for (int x = 0; x < size.width; ++x, dst += 3) {
            const Tap& c = cols[static_cast<size_t>(x)];
            const uint8_t* a = top + static_cast<size_t>(c.a) * 3;
            const uint8_t* b = top + static_cast<size_t>(c.b) * 3;
            const uint8_t* d = bottom + static_cast<size_t>(c.a) * 3;
            const uint8_t* e = bottom + static_cast<size_t>(c.b) * 3;
            const int wx = c.wb, wxLeft = 256 - c.wb;
            for (int k = 0; k < 3; ++k) {
                const int upper = a[k] * wxLeft + b[k] * wx;
                const int lower = d[k] * wxLeft + e[k] * wx;
                dst[k] = static_cast<uint8_t>((upper * wyTop + lower * wy + 32768) >> 16);
            }
            if (sampleRow && (x & 1) == 0)
                out.histogram.Add(dst[2], dst[1], dst[0]);
            if (o.blackAndWhite) {
                const auto g = static_cast<uint8_t>((dst[0] + dst[1] + dst[2]) / 3);
                dst[0] = dst[1] = dst[2] = g;
            }
            // Enlarged, a mark covers the pixels nearest to it; reduced, a pixel shows any mark
            // among its four sources, so thin edges survive the reduction.
            const bool mark = peaking && (enlarged ? marked(c.wb >= 128 ? c.b : c.a, r.wb >= 128 ? r.b : r.a)
                                                   : (marked(c.a, r.a) || marked(c.b, r.a) || marked(c.a, r.b) ||
                                                      marked(c.b, r.b)));
            if (mark) {
                dst[0] = colour[0];
                dst[1] = colour[1];
                dst[2] = colour[2];
            }
        }
    }
    return out;
}

}  // namespace liveview
