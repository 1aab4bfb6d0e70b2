#include "liveview/LiveFrameRenderer.h"

#include "imaging/JpegDecoder.h"
#include "imaging/JpegSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace liveview {

namespace {

// Frames are decoded to four bytes a pixel (blue, green, red, unused): every loop below then
// moves whole 32-bit pixels, which the compiler can vectorise and blend two channels at a
// time. libjpeg without the colour-space extensions gives red, green, blue, widened here.
#ifdef JCS_EXTENSIONS
constexpr J_COLOR_SPACE kBgrx = JCS_EXT_BGRX;
constexpr bool kWiden = false;
#else
constexpr J_COLOR_SPACE kBgrx = JCS_RGB;
constexpr bool kWiden = true;
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
    d.cinfo.out_color_space = d.cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : kBgrx;
    jpeg_start_decompress(&d.cinfo);
    return true;
}

// A decoded row widened in place to four bytes a pixel (blue, green, red, 0xFF) where the
// decoder could not write that layout itself; from the right, so no byte is overwritten
// before it is read.
void WidenRow(uint8_t* row, unsigned w, bool grey)
{
    if (grey) {
        for (unsigned i = w; i-- > 0;) {
            const uint8_t v = row[i];
            row[4 * i] = row[4 * i + 1] = row[4 * i + 2] = v;
            row[4 * i + 3] = 0xFF;
        }
    } else if (kWiden) {
        for (unsigned i = w; i-- > 0;) {
            const uint8_t r = row[3 * i], g = row[3 * i + 1], b = row[3 * i + 2];
            row[4 * i] = b;
            row[4 * i + 1] = g;
            row[4 * i + 2] = r;
            row[4 * i + 3] = 0xFF;
        }
    }
}

bool GuardedRows(Decompress& d, uint8_t* base, size_t rowBytes)
{
    if (setjmp(d.handler.jump))
        return false;
    const bool grey = d.cinfo.output_components == 1;
    // As many rows a call as the decoder makes at once (two for 4:2:0 chroma), so that it
    // writes them in place rather than through a spare row.
    const unsigned batch = std::clamp(d.cinfo.rec_outbuf_height, 1, 4);
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        const unsigned first = d.cinfo.output_scanline;
        const unsigned want = std::min(batch, d.cinfo.output_height - first);
        JSAMPROW rows[4];
        for (unsigned i = 0; i < want; ++i)
            rows[i] = base + size_t{first + i} * rowBytes;
        const unsigned got = jpeg_read_scanlines(&d.cinfo, rows, want);
        if (got == 0) {
            std::strcpy(d.handler.message, "No rows from the JPEG decoder");
            return false;
        }
        for (unsigned k = 0; k < got; ++k)
            WidenRow(rows[k], d.cinfo.output_width, grey);
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

// Two pixels of four bytes blended, `wb` of 256 from the second: each channel pair moves in
// 16-bit lanes (at most 255 * 256 + 128, no carry into the next lane).
inline uint32_t Blend(uint32_t p, uint32_t q, uint32_t wb)
{
    const uint32_t wa = 256 - wb;
    const uint32_t lo = ((p & 0x00FF00FFu) * wa + (q & 0x00FF00FFu) * wb + 0x00800080u) >> 8;
    const uint32_t hi = (((p >> 8) & 0x00FF00FFu) * wa + ((q >> 8) & 0x00FF00FFu) * wb + 0x00800080u);
    return (lo & 0x00FF00FFu) | (hi & 0xFF00FF00u);
}

// Rows a and b blended down over columns [from, to).
void BlendRows(const uint32_t* a, const uint32_t* b, uint32_t wb, int from, int to, uint32_t* out)
{
    int x = from;
#if defined(__SSE2__)
    // Four pixels at a time, each channel in a 16-bit lane.
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(128);
    const __m128i wbv = _mm_set1_epi16(static_cast<short>(wb));
    const __m128i wav = _mm_set1_epi16(static_cast<short>(256 - wb));
    for (; x + 4 <= to; x += 4) {
        const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(pa, zero), wav),
                                         _mm_mullo_epi16(_mm_unpacklo_epi8(pb, zero), wbv));
        const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(pa, zero), wav),
                                         _mm_mullo_epi16(_mm_unpackhi_epi8(pb, zero), wbv));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(lo, half), 8),
                                          _mm_srli_epi16(_mm_add_epi16(hi, half), 8)));
    }
#endif
    for (; x < to; ++x)
        out[x] = Blend(a[x], b[x], wb);
}

// The marks of two source rows joined.
void JoinMarks(const uint8_t* __restrict a, const uint8_t* __restrict b, int n, uint8_t* __restrict out)
{
    for (int i = 0; i < n; ++i)
        out[i] = a[i] | b[i];
}

// One row blended across by the column taps (first neighbours `ia`, second `ib`, weights of
// the second `wb`, in 1/256).
void BlendAcross(const uint32_t* line, const int* ia, const int* ib, const uint16_t* wb, int n, uint32_t* out)
{
    int x = 0;
#if defined(__SSE2__)
    // Four pixels at a time: each channel in a 16-bit lane, a * (256 - w) + b * w.
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(256);
    const __m128i half = _mm_set1_epi16(128);
    for (; x + 4 <= n; x += 4) {
        const __m128i a = _mm_set_epi32(static_cast<int>(line[ia[x + 3]]), static_cast<int>(line[ia[x + 2]]),
                                        static_cast<int>(line[ia[x + 1]]), static_cast<int>(line[ia[x]]));
        const __m128i b = _mm_set_epi32(static_cast<int>(line[ib[x + 3]]), static_cast<int>(line[ib[x + 2]]),
                                        static_cast<int>(line[ib[x + 1]]), static_cast<int>(line[ib[x]]));
        // Weights for pixels 0, 1 (low half) and 2, 3 (high half), each repeated four times.
        const __m128i w01 = _mm_set_epi16(static_cast<short>(wb[x + 1]), static_cast<short>(wb[x + 1]),
                                          static_cast<short>(wb[x + 1]), static_cast<short>(wb[x + 1]),
                                          static_cast<short>(wb[x]), static_cast<short>(wb[x]),
                                          static_cast<short>(wb[x]), static_cast<short>(wb[x]));
        const __m128i w23 = _mm_set_epi16(static_cast<short>(wb[x + 3]), static_cast<short>(wb[x + 3]),
                                          static_cast<short>(wb[x + 3]), static_cast<short>(wb[x + 3]),
                                          static_cast<short>(wb[x + 2]), static_cast<short>(wb[x + 2]),
                                          static_cast<short>(wb[x + 2]), static_cast<short>(wb[x + 2]));
        const __m128i aLo = _mm_unpacklo_epi8(a, zero), aHi = _mm_unpackhi_epi8(a, zero);
        const __m128i bLo = _mm_unpacklo_epi8(b, zero), bHi = _mm_unpackhi_epi8(b, zero);
        // a * (256 - w) + b * w is at most 255 * 256: it fits a 16-bit lane.
        const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(aLo, _mm_sub_epi16(full, w01)), _mm_mullo_epi16(bLo, w01));
        const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(aHi, _mm_sub_epi16(full, w23)), _mm_mullo_epi16(bHi, w23));
        const __m128i loR = _mm_srli_epi16(_mm_add_epi16(lo, half), 8);
        const __m128i hiR = _mm_srli_epi16(_mm_add_epi16(hi, half), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(loR, hiR));
    }
#endif
    for (; x < n; ++x)
        out[x] = Blend(line[ia[x]], line[ib[x]], wb[x]);
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
    if (d.cinfo.output_components != 1 && d.cinfo.output_components != (kWiden ? 3 : 4))
        throw JpegError("Unsupported color conversion request");
    *width = static_cast<int>(d.cinfo.output_width);
    *height = static_cast<int>(d.cinfo.output_height);
    const size_t rowBytes = static_cast<size_t>(*width) * 4;
    decoded_.resize(static_cast<size_t>(*width) * static_cast<size_t>(*height));
    if (!GuardedRows(d, reinterpret_cast<uint8_t*>(decoded_.data()), rowBytes))
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

    const int stride = fw * 4;
    const std::vector<Tap> cols = Taps(area.left, area.width, size.width, fw);
    const std::vector<Tap> rows = Taps(area.top, area.height, size.height, fh);
    // The marks cover every source pixel a tap can reach: the area and one pixel around it.
    const bool peaking = o.peaking;
    if (peaking) {
        const int x0 = static_cast<int>(std::floor(area.left)) - 1, y0 = static_cast<int>(std::floor(area.top)) - 1;
        const int x1 = static_cast<int>(std::ceil(area.left + area.width)) + 1;
        const int y1 = static_cast<int>(std::ceil(area.top + area.height)) + 1;
        ComputePeaking(Decoded(), stride, fw, fh, x0, y0, x1 - x0, y1 - y0, o.peakingThreshold, mask_, 4);
        rowMarked_.assign(static_cast<size_t>(std::max(mask_.height, 1)), 0);
        for (int y = 0; y < mask_.height; ++y) {
            const uint8_t* m = mask_.marks.data() + static_cast<size_t>(y) * static_cast<size_t>(mask_.width);
            unsigned any = 0;
            for (int x = 0; x < mask_.width; ++x)
                any |= m[x];
            rowMarked_[static_cast<size_t>(y)] = static_cast<uint8_t>(any);
        }
        // Marks on the area itself, without its border.
        const int ax0 = static_cast<int>(std::floor(area.left)), ay0 = static_cast<int>(std::floor(area.top));
        const int ax1 = static_cast<int>(std::ceil(area.left + area.width));
        const int ay1 = static_cast<int>(std::ceil(area.top + area.height));
        size_t marks = 0;
        const int cx0 = std::max(ax0, mask_.left), cx1 = std::min(ax1, mask_.left + mask_.width);
        for (int y = std::max(ay0, mask_.top); y < std::min(ay1, mask_.top + mask_.height); ++y) {
            const uint8_t* m = mask_.marks.data() + static_cast<size_t>(y - mask_.top) * static_cast<size_t>(mask_.width);
            unsigned rowMarks = 0;
            for (int x = cx0; x < cx1; ++x)
                rowMarks += m[x - mask_.left];
            marks += rowMarks;
        }
        out.peakingMarks = marks;
    }

    LiveImage& image = out.image;
    image.width = size.width;
    image.height = size.height;
    image.pixels.resize(static_cast<size_t>(size.width) * static_cast<size_t>(size.height));
    const uint32_t colour = 0xFF000000u | ((o.peakingColour & 0xFFu) << 16) | (o.peakingColour & 0xFF00u) |
                            ((o.peakingColour >> 16) & 0xFFu);
    // Enlarged, a mark covers the pixels nearest to it; reduced, a pixel shows any mark
    // among its four sources, so thin edges survive the reduction.
    const bool enlarged = size.width > area.width;
    const size_t n = cols.size();
    std::vector<int> ia(n), ib(n);
    std::vector<uint16_t> wb(n);
    // For each column of the marks, the run of output columns that show it.
    std::vector<std::pair<int, int>> shownBy(peaking ? static_cast<size_t>(mask_.width) : 0, {1, 0});
    for (size_t x = 0; x < n; ++x) {
        const Tap& c = cols[x];
        ia[x] = c.a;
        ib[x] = c.b;
        wb[x] = static_cast<uint16_t>(c.wb);
        if (peaking) {
            const int nearest = c.wb >= 128 ? c.b : c.a;
            for (const int source : {enlarged ? nearest : c.a, enlarged ? nearest : c.b}) {
                auto& run = shownBy[static_cast<size_t>(std::clamp(source - mask_.left, 0, mask_.width - 1))];
                const int xi = static_cast<int>(x);
                if (run.first > run.second)
                    run = {xi, xi};
                run.first = std::min(run.first, xi);
                run.second = std::max(run.second, xi);
            }
        }
    }
    auto maskRow = [&](int y) {
        return mask_.marks.data() + static_cast<size_t>(std::clamp(y - mask_.top, 0, mask_.height - 1)) *
                                        static_cast<size_t>(mask_.width);
    };
    std::vector<uint8_t> marksDown(peaking ? static_cast<size_t>(mask_.width) : 0);

    // Down first (whole pixels, over the columns the taps read), then across.
    const int from = cols.front().a, to = cols.back().b + 1;
    blended_.resize(static_cast<size_t>(fw));
    const uint32_t* source = decoded_.data();
    out.histogram.Clear();
    for (int y = 0; y < size.height; ++y) {
        const Tap& r = rows[static_cast<size_t>(y)];
        BlendRows(source + static_cast<size_t>(r.a) * static_cast<size_t>(fw),
                  source + static_cast<size_t>(r.b) * static_cast<size_t>(fw), static_cast<uint32_t>(r.wb), from, to,
                  blended_.data());
        uint32_t* dst = image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(size.width);
        BlendAcross(blended_.data(), ia.data(), ib.data(), wb.data(), static_cast<int>(n), dst);
        if (o.countHistogram && (y & 1) == 0) {
            for (size_t x = 0; x < n; x += 4) {
                const uint32_t p = dst[x];
                out.histogram.Add((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
            }
        }
        if (o.blackAndWhite) {
            for (size_t x = 0; x < n; ++x) {
                const uint32_t p = dst[x];
                const uint32_t g = ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF)) / 3;
                dst[x] = 0xFF000000u | (g << 16) | (g << 8) | g;
            }
        }
        if (peaking) {
            // The marks of the one or two source rows this row shows, joined.
            const int ya = enlarged ? (r.wb >= 128 ? r.b : r.a) : r.a;
            const int yb = enlarged ? ya : r.b;
            if (!rowMarked_[static_cast<size_t>(std::clamp(ya - mask_.top, 0, mask_.height - 1))] &&
                !rowMarked_[static_cast<size_t>(std::clamp(yb - mask_.top, 0, mask_.height - 1))])
                continue;  // nothing sharp on this row
            JoinMarks(maskRow(ya), maskRow(yb), mask_.width, marksDown.data());
            // The marks are few: skip eight unmarked columns at a time.
            const uint8_t* m = marksDown.data();
            const int w = mask_.width;
            for (int i = 0; i < w; ++i) {
                if ((i & 7) == 0 && i + 8 <= w) {
                    uint64_t eight;
                    std::memcpy(&eight, m + i, 8);
                    if (eight == 0) {
                        i += 7;
                        continue;
                    }
                }
                if (!m[i])
                    continue;
                const auto& run = shownBy[static_cast<size_t>(i)];
                for (int x = run.first; x <= run.second; ++x)
                    dst[x] = colour;
            }
        }
    }
    return out;
}

}  // namespace liveview
