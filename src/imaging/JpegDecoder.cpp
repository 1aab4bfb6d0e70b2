#include "imaging/JpegDecoder.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <string>
#include <utility>
#include <vector>

#include "imaging/JpegSupport.h"
#include "imaging/Rotation.h"
#include "imaging/TiffReader.h"

namespace {

#ifdef JCS_EXTENSIONS
constexpr J_COLOR_SPACE kBgrOutput = JCS_EXT_BGR;
#else
constexpr J_COLOR_SPACE kBgrOutput = JCS_RGB;
#endif

// Pixels between the decode and the bitmap: 3 bytes per pixel (blue, green, red once
// reordered), rows of exactly width * 3 bytes.
struct WorkPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// One decompression object with its error handler. The object is destroyed with the
// Decompressor, whichever way the decode ends.
class Decompressor {
public:
    Decompressor()
    {
        std::memset(&cinfo, 0, sizeof cinfo);
        cinfo.err = InstallJpegErrorHandler(handler);
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    [[noreturn]] void Raise() const { throw JpegError(handler.message); }

    jpeg_decompress_struct cinfo;
    JpegErrorHandler handler;
};

// The guarded steps below arm the handler's jump and call libjpeg. They hold only
// trivially destructible locals, so leaving them by longjmp skips nothing; each returns
// false when libjpeg failed, and the caller raises JpegError outside libjpeg's frames.

bool GuardedReadHeader(Decompressor& d, const uint8_t* data, size_t length)
{
    if (setjmp(d.handler.jump))
        return false;
    jpeg_create_decompress(&d.cinfo);
    InstallMemorySource(&d.cinfo, data, length);
    jpeg_read_header(&d.cinfo, TRUE);
    return true;
}

bool GuardedStart(Decompressor& d, unsigned denominator)
{
    if (setjmp(d.handler.jump))
        return false;
    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = denominator;
    // Colour pictures come out as blue, green, red straight from libjpeg-turbo's colour
    // conversion (plain libjpeg gives red, green, blue, reordered below); greyscale ones
    // as grey, widened below. Anything else (CMYK) draws libjpeg's "Unsupported color
    // conversion request".
    d.cinfo.out_color_space = d.cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : kBgrOutput;
    jpeg_start_decompress(&d.cinfo);
    return true;
}

// Reorders one decoded row in place into blue, green, red where libjpeg gave red, green,
// blue; a grey row (one byte per pixel at the start of the row) is widened to three
// equal bytes, from the right.
void FinishRow(uint8_t* row, unsigned width, bool grey)
{
    if (grey) {
        for (unsigned i = width; i-- > 0;) {
            const uint8_t v = row[i];
            row[3 * i] = v;
            row[3 * i + 1] = v;
            row[3 * i + 2] = v;
        }
        return;
    }
    if constexpr (kBgrOutput == JCS_RGB) {
        for (unsigned i = 0; i < width; ++i, row += 3)
            std::swap(row[0], row[2]);
    }
}

bool GuardedReadRows(Decompressor& d, uint8_t* base, size_t rowBytes)
{
    if (setjmp(d.handler.jump))
        return false;
    const bool grey = d.cinfo.output_components == 1;
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        uint8_t* target = base + size_t{d.cinfo.output_scanline} * rowBytes;
        JSAMPROW row = target;
        if (jpeg_read_scanlines(&d.cinfo, &row, 1) != 1) {
            std::strcpy(d.handler.message, "No rows from the JPEG decoder");
            return false;
        }
        FinishRow(target, d.cinfo.output_width, grey);
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

// Bytes of a bitmap of this size with rows padded to 4 bytes.
size_t PaddedBytes(int width, int height)
{
    return static_cast<size_t>(Bitmap::StrideFor(width)) * static_cast<size_t>(height);
}

enum class Fit { Full, Fitted };

// Decodes a JPEG into a work picture in blue, green, red order. For a fitted decode
// the scale denominator is chosen against the box (boxWidth x boxHeight, in the
// picture's own frame). For `rotation` 0 the block is reserved large enough for the rows
// to be padded in place later, without a second block.
WorkPicture DecodeJpeg(const uint8_t* data, size_t length, Fit fit, int boxWidth, int boxHeight, int rotation)
{
    Decompressor d;
    if (!GuardedReadHeader(d, data, length))
        d.Raise();
    const uint64_t pixels = uint64_t{d.cinfo.image_width} * d.cinfo.image_height;
    if (pixels > kMaxJpegPixels) {
        throw JpegError("Picture too large to show: " + std::to_string(d.cinfo.image_width) + " x " +
                        std::to_string(d.cinfo.image_height) + " pixels");
    }
    const unsigned denominator =
        fit == Fit::Fitted ? ChooseScaleDenominator(d.cinfo.image_width, d.cinfo.image_height, boxWidth, boxHeight) : 1;
    if (!GuardedStart(d, denominator))
        d.Raise();
    if (d.cinfo.output_components != 1 && d.cinfo.output_components != 3)
        throw JpegError("Unsupported color conversion request");

    WorkPicture w;
    w.width = static_cast<int>(d.cinfo.output_width);
    w.height = static_cast<int>(d.cinfo.output_height);
    const size_t rowBytes = size_t{d.cinfo.output_width} * 3;
    const size_t bytes = rowBytes * d.cinfo.output_height;
    // A picture shown unscaled and unturned is padded in place at the end, so make room
    // for that now and avoid a second block.
    if (rotation == 0)
        w.pixels.reserve(std::max(bytes, PaddedBytes(w.width, w.height)));
    w.pixels.resize(bytes);
    if (!GuardedReadRows(d, w.pixels.data(), rowBytes))
        d.Raise();
    return w;
}

// Bilinear reduction of a blue-green-red picture W x H to fw x fh, written over the start
// of the same buffer (every read is at or ahead of every write), counting the histogram.
void ReduceInPlace(WorkPicture& w, int fw, int fh, ImageHistogram& histogram)
{
    const int W = w.width, H = w.height;
    const double sx = static_cast<double>(W) / fw;
    const double sy = static_cast<double>(H) / fh;

    // The column coordinates are the same on every row: work them out once.
    struct Column {
        size_t left, right;  // byte offsets of the two neighbours in a row
        double fx;
    };
    std::vector<Column> columns(static_cast<size_t>(fw));
    double x = sx / 2;
    for (auto& col : columns) {
        int ix = static_cast<int>(x);
        double fx = x - ix;
        if (ix >= W - 1) {  // the last column has no right-hand neighbour
            fx = ix > W - 1 ? 0.0 : fx;
            ix = W - 1;
        }
        col.left = static_cast<size_t>(ix) * 3;
        col.right = static_cast<size_t>(std::min(ix + 1, W - 1)) * 3;
        col.fx = fx;
        x += sx;
    }

    uint8_t* const base = w.pixels.data();
    const size_t rowBytes = static_cast<size_t>(W) * 3;
    uint8_t* out = base;
    double y = sy / 2;
    for (int r = 0; r < fh; ++r, y += sy) {
        int iy = static_cast<int>(y);
        double fy = y - iy;
        if (iy >= H - 1) {
            fy = iy > H - 1 ? 0.0 : fy;
            iy = H - 1;
        }
        const uint8_t* top = base + static_cast<size_t>(iy) * rowBytes;
        const uint8_t* bottom = base + static_cast<size_t>(std::min(iy + 1, H - 1)) * rowBytes;
        const double gy = 1.0 - fy;
        for (const Column& col : columns) {
            const double gx = 1.0 - col.fx;
            const double w00 = gx * gy, w10 = col.fx * gy, w01 = gx * fy, w11 = col.fx * fy;
            const uint8_t* a = top + col.left;
            const uint8_t* b = top + col.right;
            const uint8_t* c = bottom + col.left;
            const uint8_t* e = bottom + col.right;
            const auto blue = static_cast<uint8_t>(static_cast<int>(a[0] * w00 + b[0] * w10 + c[0] * w01 + e[0] * w11));
            const auto green = static_cast<uint8_t>(static_cast<int>(a[1] * w00 + b[1] * w10 + c[1] * w01 + e[1] * w11));
            const auto red = static_cast<uint8_t>(static_cast<int>(a[2] * w00 + b[2] * w10 + c[2] * w01 + e[2] * w11));
            out[0] = blue;
            out[1] = green;
            out[2] = red;
            out += 3;
            histogram.Add(red, green, blue);
        }
    }
    w.width = fw;
    w.height = fh;
    w.pixels.resize(static_cast<size_t>(fw) * fh * 3);
}

void CountHistogram(const WorkPicture& w, ImageHistogram& histogram)
{
    const uint8_t* p = w.pixels.data();
    const size_t n = static_cast<size_t>(w.width) * w.height;
    for (size_t i = 0; i < n; ++i, p += 3)
        histogram.Add(p[2], p[1], p[0]);
}

void MakeGrey(WorkPicture& w)
{
    uint8_t* p = w.pixels.data();
    const size_t n = static_cast<size_t>(w.width) * w.height;
    for (size_t i = 0; i < n; ++i, p += 3) {
        const auto g = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
        p[0] = p[1] = p[2] = g;
    }
}

// Copies the work picture into a new padded bitmap, turned clockwise by rotation.
Bitmap CopyTurned(const WorkPicture& w, int rotation)
{
    const int sw = w.width, sh = w.height;
    const bool quarter = rotation == 90 || rotation == 270;
    Bitmap bmp;
    bmp.width = quarter ? sh : sw;
    bmp.height = quarter ? sw : sh;
    bmp.stride = Bitmap::StrideFor(bmp.width);
    bmp.pixels.assign(PaddedBytes(bmp.width, bmp.height), 0);
    const uint8_t* src = w.pixels.data();
    const size_t srcRow = static_cast<size_t>(sw) * 3;
    auto at = [&](int x, int y) { return src + static_cast<size_t>(y) * srcRow + static_cast<size_t>(x) * 3; };

    if (!quarter) {
        for (int r = 0; r < bmp.height; ++r) {
            uint8_t* out = bmp.Row(r);
            if (rotation == 180) {  // result (c, r) = S(w - 1 - c, h - 1 - r)
                const uint8_t* in = at(sw - 1, sh - 1 - r);
                for (int c = 0; c < bmp.width; ++c, out += 3, in -= 3)
                    std::memcpy(out, in, 3);
            } else {
                std::memcpy(out, at(0, r), srcRow);
            }
        }
        return bmp;
    }
    // Quarter turns read the source down its columns; going through it in square tiles
    // keeps both sides in the cache for a full-size picture.
    constexpr int kTile = 32;
    for (int r0 = 0; r0 < bmp.height; r0 += kTile) {
        const int r1 = std::min(bmp.height, r0 + kTile);
        for (int c0 = 0; c0 < bmp.width; c0 += kTile) {
            const int c1 = std::min(bmp.width, c0 + kTile);
            for (int r = r0; r < r1; ++r) {
                uint8_t* out = bmp.Row(r) + static_cast<size_t>(c0) * 3;
                // 90: result (c, r) = S(r, h - 1 - c), walking up the source column;
                // 270: result (c, r) = S(w - 1 - r, c), walking down it.
                const uint8_t* in = rotation == 90 ? at(r, sh - 1 - c0) : at(sw - 1 - r, c0);
                const ptrdiff_t step = rotation == 90 ? -static_cast<ptrdiff_t>(srcRow) : static_cast<ptrdiff_t>(srcRow);
                for (int c = c0; c < c1; ++c, out += 3, in += step) {
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                }
            }
        }
    }
    return bmp;
}

// Turns the work picture itself into the bitmap: rows are moved apart in place, from
// the last one up, so that each starts on a 4-byte boundary.
Bitmap PadInPlace(WorkPicture&& w)
{
    Bitmap bmp;
    bmp.width = w.width;
    bmp.height = w.height;
    bmp.stride = Bitmap::StrideFor(w.width);
    const size_t rowBytes = static_cast<size_t>(w.width) * 3;
    const size_t stride = static_cast<size_t>(bmp.stride);
    if (stride != rowBytes) {
        w.pixels.resize(stride * static_cast<size_t>(w.height));
        uint8_t* base = w.pixels.data();
        for (size_t r = static_cast<size_t>(w.height); r-- > 0;) {
            std::memmove(base + r * stride, base + r * rowBytes, rowBytes);
            std::memset(base + r * stride + rowBytes, 0, stride - rowBytes);
        }
    }
    bmp.pixels = std::move(w.pixels);
    return bmp;
}

// ---- full-size decode

// A new bitmap of the given size. A camera picture is tens of megabytes of fresh memory:
// asking for huge pages first turns thousands of page faults (and TLB misses while a
// quarter turn writes down its columns) into a handful.
Bitmap NewBitmap(int width, int height)
{
    Bitmap bmp;
    bmp.width = width;
    bmp.height = height;
    bmp.stride = Bitmap::StrideFor(width);
    const size_t bytes = PaddedBytes(width, height);
    bmp.pixels.reserve(bytes);
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<uintptr_t>(bmp.pixels.data());
    const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t last = (begin + bytes) & ~(kHuge - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // a hint; failure costs only speed
#endif
    bmp.pixels.resize(bytes);
    return bmp;
}

// Rows decoded per strip before they are turned into the bitmap: enough for whole cache
// lines of output per bitmap row, few enough for the strip to stay in the cache.
constexpr int kStripRows = 32;

// A strip row's stride: the row rounded up to whole cache lines plus one more, so that the
// strip's rows, read down a column, fall into different cache sets.
size_t StripStride(size_t rowBytes)
{
    return ((rowBytes + 63) & ~size_t{63}) + 64;
}

// Copies the pixel at `in` to `out` as one 4-byte move; the fourth byte lands on the next
// pixel, which the caller writes afterwards (the strip's rows have spare bytes to read).
inline void CopyPixelOver(uint8_t* out, const uint8_t* in)
{
    uint32_t v;
    std::memcpy(&v, in, 4);
    std::memcpy(out, &v, 4);
}

// Copies the n decoded rows y0 .. y0 + n - 1 (width sw, in the strip) into the bitmap,
// turned clockwise by rotation (90, 180 or 270); sh is the decoded height.
void TurnStrip(const uint8_t* strip, size_t stripStride, int n, int y0, int sw, int sh, int rotation, Bitmap& bmp)
{
    if (rotation == 180) {  // result (c, r) = S(w - 1 - c, h - 1 - r)
        for (int j = 0; j < n; ++j) {
            const uint8_t* in = strip + static_cast<size_t>(j) * stripStride + static_cast<size_t>(sw - 1) * 3;
            uint8_t* out = bmp.Row(sh - 1 - (y0 + j));
            for (int c = 0; c < sw - 1; ++c, out += 3, in -= 3)
                CopyPixelOver(out, in);
            std::memcpy(out, in, 3);
        }
        return;
    }
    // Quarter turns: bitmap row r takes one source column, n pixels long; the strip's rows
    // land side by side in it. 90: result (c, r) = S(r, h - 1 - c), so the strip fills
    // columns h - y0 - n .. h - y0 - 1 from its last row to its first; 270: result
    // (c, r) = S(w - 1 - r, c), columns y0 .. y0 + n - 1 from its first row on.
    const bool clockwise = rotation == 90;
    const size_t firstColumn = static_cast<size_t>(clockwise ? sh - y0 - n : y0) * 3;
    const ptrdiff_t down = clockwise ? -static_cast<ptrdiff_t>(stripStride) : static_cast<ptrdiff_t>(stripStride);
    const uint8_t* firstRow = clockwise ? strip + static_cast<size_t>(n - 1) * stripStride : strip;
    for (int r = 0; r < bmp.height; ++r) {
        const int x = clockwise ? r : sw - 1 - r;
        const uint8_t* in = firstRow + static_cast<size_t>(x) * 3;
        uint8_t* out = bmp.Row(r) + firstColumn;
        // Left to right along the row, so each 4-byte move's spare byte is overwritten by
        // the next pixel; the span's last pixel is moved as 3 bytes, leaving its neighbour
        // (another strip's, or the padding) alone.
        for (int j = 0; j < n - 1; ++j, out += 3, in += down)
            CopyPixelOver(out, in);
        std::memcpy(out, in, 3);
    }
}

// Decodes every row of a started decompression into the bitmap, turned by rotation.
// Unturned rows go straight into their bitmap row; turned ones pass through `strip`
// (kStripRows rows of stripStride bytes). Holds only trivially destructible locals (see
// the guarded steps above).
bool GuardedReadFullSize(Decompressor& d, Bitmap& bmp, int rotation, uint8_t* strip, size_t stripStride)
{
    if (setjmp(d.handler.jump))
        return false;
    const bool grey = d.cinfo.output_components == 1;
    const unsigned sw = d.cinfo.output_width;
    const int sh = static_cast<int>(d.cinfo.output_height);
    JSAMPROW rows[kStripRows];
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        const int y0 = static_cast<int>(d.cinfo.output_scanline);
        const int n = std::min(kStripRows, sh - y0);
        for (int j = 0; j < n; ++j)
            rows[j] = rotation == 0 ? bmp.Row(y0 + j) : strip + static_cast<size_t>(j) * stripStride;
        int got = 0;
        while (got < n) {
            const JDIMENSION lines = jpeg_read_scanlines(&d.cinfo, rows + got, static_cast<JDIMENSION>(n - got));
            if (lines == 0) {
                std::strcpy(d.handler.message, "No rows from the JPEG decoder");
                return false;
            }
            got += static_cast<int>(lines);
        }
        if (grey || kBgrOutput == JCS_RGB) {
            for (int j = 0; j < n; ++j)
                FinishRow(rows[j], sw, grey);
        }
        if (rotation != 0)
            TurnStrip(strip, stripStride, n, y0, static_cast<int>(sw), sh, rotation, bmp);
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

WorkPicture FromTiff(TiffImage&& t)
{
    WorkPicture w;
    w.width = t.width;
    w.height = t.height;
    w.pixels = std::move(t.pixels);
    uint8_t* p = w.pixels.data();
    const size_t n = static_cast<size_t>(w.width) * w.height;
    for (size_t i = 0; i < n; ++i, p += 3)
        std::swap(p[0], p[2]);
    return w;
}

} // namespace

unsigned ChooseScaleDenominator(unsigned imageWidth, unsigned imageHeight, int boxWidth, int boxHeight)
{
    const int64_t bw = std::max(boxWidth, 0), bh = std::max(boxHeight, 0);
    unsigned denominator = 1;
    int64_t w = imageWidth, h = imageHeight;
    while (w >= 2 * bw && h >= bh && denominator < 8) {
        denominator *= 2;
        w = imageWidth / denominator;
        h = imageHeight / denominator;
    }
    return denominator;
}

FittedSize FitToBox(int width, int height, int boxWidth, int boxHeight)
{
    if (boxWidth <= 0 || boxHeight <= 0 || width <= 0 || height <= 0)
        return {};
    int64_t fw = boxWidth;
    int64_t fh = int64_t{height} * boxWidth / width;
    if (fh > boxHeight) {
        fh = boxHeight;
        fw = int64_t{width} * boxHeight / height;
    }
    if (fw >= width)
        return {width, height};
    // A very wide or very tall picture would round its short side to nothing.
    return {static_cast<int>(std::max<int64_t>(fw, 1)), static_cast<int>(std::max<int64_t>(fh, 1))};
}

std::optional<Bitmap> DecodeToBitmap(const uint8_t* data, size_t length, ImageHistogram& histogram, int rotation,
                                     int boxWidth, int boxHeight, bool blackAndWhite)
{
    rotation = NormalizeRotation(rotation);
    if (rotation == 90 || rotation == 270)
        std::swap(boxWidth, boxHeight);
    boxWidth = std::max(boxWidth, 0);
    boxHeight = std::max(boxHeight, 0);
    histogram.Clear();

    WorkPicture w;
    if (length > 4 && data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42) {
        TiffImage t = ReadTiffImage(data, length);
        if (!t.Ok() || t.pixels.size() != static_cast<size_t>(t.width) * static_cast<size_t>(t.height) * 3)
            return std::nullopt;
        w = FromTiff(std::move(t));
    } else {
        // Reserving room for padding pays only when the picture is not reduced; the
        // decoder does it for rotation 0, which is harmless when it is.
        w = DecodeJpeg(data, length, Fit::Fitted, boxWidth, boxHeight, rotation);
    }

    const FittedSize fit = FitToBox(w.width, w.height, boxWidth, boxHeight);
    if (fit.width == 0 || fit.height == 0)
        return Bitmap{};
    // Either side may be the one that needs the reduction (a 1-pixel-wide tall picture).
    const bool reduced = fit.width < w.width || fit.height < w.height;
    if (reduced)
        ReduceInPlace(w, fit.width, fit.height, histogram);
    else
        CountHistogram(w, histogram);
    if (blackAndWhite)
        MakeGrey(w);

    // One fitted-size copy at most: a turned picture is copied once while turning; a
    // reduced one once into a block of its own size, which lets the decode-sized block go.
    if (rotation != 0 || reduced)
        return CopyTurned(w, rotation);
    return PadInPlace(std::move(w));
}

// The rows go from libjpeg straight into the bitmap (through a small strip when turned),
// so there is no picture-sized work buffer to fill, fault in and read back.
Bitmap DecodeFullSize(const uint8_t* data, size_t length, int rotation)
{
    rotation = NormalizeRotation(rotation);
    Decompressor d;
    if (!GuardedReadHeader(d, data, length))
        d.Raise();
    const uint64_t pixels = uint64_t{d.cinfo.image_width} * d.cinfo.image_height;
    if (pixels > kMaxJpegPixels) {
        throw JpegError("Picture too large to show: " + std::to_string(d.cinfo.image_width) + " x " +
                        std::to_string(d.cinfo.image_height) + " pixels");
    }
    if (!GuardedStart(d, 1))
        d.Raise();
    if (d.cinfo.output_components != 1 && d.cinfo.output_components != 3)
        throw JpegError("Unsupported color conversion request");
    const int sw = static_cast<int>(d.cinfo.output_width), sh = static_cast<int>(d.cinfo.output_height);
    const bool quarter = rotation == 90 || rotation == 270;
    Bitmap bmp = NewBitmap(quarter ? sh : sw, quarter ? sw : sh);
    std::vector<uint8_t> strip;
    const size_t stripStride = StripStride(static_cast<size_t>(sw) * 3);
    if (rotation != 0)
        strip.resize(stripStride * kStripRows);
    if (!GuardedReadFullSize(d, bmp, rotation, strip.data(), stripStride))
        d.Raise();
    return bmp;
}
