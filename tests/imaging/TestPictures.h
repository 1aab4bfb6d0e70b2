// Pictures made on the spot for the decoding tests and benchmarks: JPEGs written with
// libjpeg's own compressor, and small TIFF files laid out byte by byte.
// Test threads only; nothing here blocks beyond the encoding work itself.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace testpictures {

// Red, green, blue pixels, rows top first, no padding.
struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    Rgb() = default;
    Rgb(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 3) {}
    uint8_t* At(int x, int y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * 3; }
    const uint8_t* At(int x, int y) const { return pixels.data() + (static_cast<size_t>(y) * width + x) * 3; }
    void Set(int x, int y, uint8_t r, uint8_t g, uint8_t b)
    {
        uint8_t* p = At(x, y);
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
};

// A scene with gradients, soft shapes and fine texture, so that a JPEG of it costs
// roughly what a photograph does to decode.
inline Rgb PhotoLikeScene(int w, int h)
{
    Rgb img(w, h);
    uint32_t noise = 12345;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
            const double sky = 1.0 - fy;
            const double hill = 0.5 + 0.5 * std::sin(fx * 9.0 + std::cos(fy * 7.0) * 2.0);
            const double leaves = 0.5 + 0.5 * std::sin(x * 0.37 + std::sin(y * 0.11) * 5.0) * std::cos(y * 0.23);
            const int grain = static_cast<int>(noise >> 27) - 16;
            auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
            img.Set(x, y, clamp(90 * sky + 120 * hill * fy + 40 * leaves + grain),
                    clamp(110 * sky + 100 * leaves * fy + 30 * hill + grain),
                    clamp(200 * sky + 30 * hill + grain));
        }
    }
    return img;
}

struct JpegOptions {
    int quality = 90;
    int hSampling = 2;  // luminance sampling factors: 2x1 is 4:2:2, 2x2 is 4:2:0, 1x1 is 4:4:4
    int vSampling = 1;
    bool grey = false;  // store the red channel as a one-component picture
};

inline std::vector<uint8_t> EncodeJpeg(const Rgb& img, const JpegOptions& o = {})
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = static_cast<JDIMENSION>(img.width);
    c.image_height = static_cast<JDIMENSION>(img.height);
    c.input_components = o.grey ? 1 : 3;
    c.in_color_space = o.grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, o.quality, TRUE);
    if (!o.grey) {
        c.comp_info[0].h_samp_factor = o.hSampling;
        c.comp_info[0].v_samp_factor = o.vSampling;
    }
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(img.width) * 3);
    while (c.next_scanline < c.image_height) {
        const uint8_t* src = img.At(0, static_cast<int>(c.next_scanline));
        if (o.grey) {
            for (int x = 0; x < img.width; ++x)
                row[static_cast<size_t>(x)] = src[3 * x];
        } else {
            std::memcpy(row.data(), src, row.size());
        }
        JSAMPROW rp = row.data();
        jpeg_write_scanlines(&c, &rp, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> bytes(out, out + outSize);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// A four-component (CMYK) JPEG of the given size, all samples v.
inline std::vector<uint8_t> EncodeCmykJpeg(int w, int h, uint8_t v)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 4, v);
    while (c.next_scanline < c.image_height) {
        JSAMPROW rp = row.data();
        jpeg_write_scanlines(&c, &rp, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> bytes(out, out + outSize);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// Layout of a test TIFF: one directory at offset 8, its out-of-line values after it,
// then the pixel data in the given number of strips.
struct TiffOptions {
    bool bigEndian = true;
    uint16_t bits[3] = {8, 8, 8};
    uint16_t bitsType = 3;       // SHORT
    uint32_t bitsCount = 3;
    uint16_t samplesPerPixel = 3;
    int compression = 1;         // < 0: no Compression entry
    int strips = 1;
    uint32_t stripOffsetShift = 0;  // added to every strip offset (to point past the data)
    bool omitWidth = false;
    bool bitsBeforeCompression = true;  // entry order (258 then 259, or 259 then 258)
};

class TiffWriter {
public:
    explicit TiffWriter(bool big) : big_(big) {}
    void U16(uint16_t v)
    {
        if (big_) {
            b.push_back(static_cast<uint8_t>(v >> 8));
            b.push_back(static_cast<uint8_t>(v));
        } else {
            b.push_back(static_cast<uint8_t>(v));
            b.push_back(static_cast<uint8_t>(v >> 8));
        }
    }
    void U32(uint32_t v)
    {
        if (big_) {
            U16(static_cast<uint16_t>(v >> 16));
            U16(static_cast<uint16_t>(v));
        } else {
            U16(static_cast<uint16_t>(v));
            U16(static_cast<uint16_t>(v >> 16));
        }
    }
    void PutU32(size_t at, uint32_t v)
    {
        TiffWriter t(big_);
        t.U32(v);
        std::memcpy(b.data() + at, t.b.data(), 4);
    }
    std::vector<uint8_t> b;

private:
    bool big_;
};

// `samples` holds the pixel bytes exactly as they go into the file (already in file
// byte order for 16-bit samples).
inline std::vector<uint8_t> BuildTiff(int width, int height, const std::vector<uint8_t>& samples,
                                      const TiffOptions& o = {})
{
    TiffWriter w(o.bigEndian);
    w.b.push_back(o.bigEndian ? 'M' : 'I');
    w.b.push_back(o.bigEndian ? 'M' : 'I');
    w.U16(42);
    w.U32(8);

    struct E {
        uint16_t tag, type;
        uint32_t count, value;
    };
    std::vector<E> entries;
    const int strips = o.strips;
    if (!o.omitWidth)
        entries.push_back({256, 4, 1, static_cast<uint32_t>(width)});
    entries.push_back({257, 4, 1, static_cast<uint32_t>(height)});
    E bits{258, o.bitsType, o.bitsCount, 0};  // value patched below
    if (o.bitsBeforeCompression) entries.push_back(bits);
    if (o.compression >= 0) entries.push_back({259, 3, 1, static_cast<uint32_t>(o.compression)});
    if (!o.bitsBeforeCompression) entries.push_back(bits);
    entries.push_back({262, 3, 1, 2});
    entries.push_back({273, 4, static_cast<uint32_t>(strips), 0});
    entries.push_back({277, 3, 1, o.samplesPerPixel});
    entries.push_back({279, 4, static_cast<uint32_t>(strips), 0});

    w.U16(static_cast<uint16_t>(entries.size()));
    std::vector<size_t> fieldAt;
    for (const E& e : entries) {
        w.U16(e.tag);
        w.U16(e.type);
        w.U32(e.count);
        fieldAt.push_back(w.b.size());
        if (e.type == 3 && e.count == 1) {
            w.U16(static_cast<uint16_t>(e.value));
            w.U16(0);
        } else {
            w.U32(e.value);
        }
    }
    w.U32(0);  // no next directory

    const size_t bitsAt = w.b.size();
    for (uint16_t v : o.bits)
        w.U16(v);
    const size_t offsetsAt = w.b.size();
    for (int i = 0; i < strips; ++i)
        w.U32(0);
    const size_t countsAt = w.b.size();
    for (int i = 0; i < strips; ++i)
        w.U32(0);

    // Strips split the rows as evenly as they go.
    std::vector<uint32_t> offs, sizes;
    const size_t rowBytes = height > 0 ? samples.size() / static_cast<size_t>(height) : 0;
    const int rowsPerStrip = (height + strips - 1) / strips;
    for (int s = 0; s < strips; ++s) {
        const int first = s * rowsPerStrip;
        const int last = std::min(height, first + rowsPerStrip);
        offs.push_back(static_cast<uint32_t>(w.b.size()) + o.stripOffsetShift);
        const size_t n = static_cast<size_t>(std::max(0, last - first)) * rowBytes;
        w.b.insert(w.b.end(), samples.begin() + static_cast<long>(first * rowBytes),
                   samples.begin() + static_cast<long>(first * rowBytes + n));
        sizes.push_back(static_cast<uint32_t>(n));
    }

    for (size_t i = 0; i < entries.size(); ++i) {
        switch (entries[i].tag) {
        case 258: w.PutU32(fieldAt[i], static_cast<uint32_t>(bitsAt)); break;
        case 273: w.PutU32(fieldAt[i], strips == 1 ? offs[0] : static_cast<uint32_t>(offsetsAt)); break;
        case 279: w.PutU32(fieldAt[i], strips == 1 ? sizes[0] : static_cast<uint32_t>(countsAt)); break;
        default: break;
        }
    }
    for (int s = 0; s < strips; ++s) {
        w.PutU32(offsetsAt + 4 * static_cast<size_t>(s), offs[static_cast<size_t>(s)]);
        w.PutU32(countsAt + 4 * static_cast<size_t>(s), sizes[static_cast<size_t>(s)]);
    }
    return w.b;
}

inline std::vector<uint8_t> BuildTiff(const Rgb& img, const TiffOptions& o = {})
{
    return BuildTiff(img.width, img.height, img.pixels, o);
}

} // namespace testpictures
