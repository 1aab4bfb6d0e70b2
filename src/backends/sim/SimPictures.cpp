#include "backends/sim/SimPictures.h"

#include "backends/sim/SimJpegWriter.h"
#include "colour/DisplayTransform.h"

#include <jpeglib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numeric>
#include <memory>
#include <stdexcept>

namespace sim {

namespace {

// ---------------------------------------------------------------------------------------
// Byte output with a fixed byte order and patching of earlier fields.

class ByteSink {
public:
    // Starting with some room also keeps GCC's -O3 bounds analysis from misreading the
    // first small appends to an empty vector.
    explicit ByteSink(bool littleEndian) : le_(littleEndian) { buf_.reserve(4096); }

    size_t Size() const { return buf_.size(); }
    std::vector<uint8_t>& Data() { return buf_; }

    void U8(uint8_t v) { buf_.push_back(v); }
    void U16(uint16_t v)
    {
        size_t p = buf_.size();
        buf_.resize(p + 2);
        PatchU16(p, v);
    }
    void U32(uint32_t v)
    {
        size_t p = buf_.size();
        buf_.resize(p + 4);
        PatchU32(p, v);
    }
    void Bytes(const void* data, size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(data);
        buf_.insert(buf_.end(), b, b + n);
    }
    void Bytes(const std::vector<uint8_t>& v) { buf_.insert(buf_.end(), v.begin(), v.end()); }
    void Text(const char* s) { Bytes(s, std::strlen(s)); }
    void Zeros(size_t n) { buf_.resize(buf_.size() + n, 0); }
    void Align2()
    {
        if (buf_.size() & 1)
            buf_.push_back(0);
    }
    void PatchU16(size_t pos, uint16_t v)
    {
        if (le_) {
            buf_[pos] = static_cast<uint8_t>(v);
            buf_[pos + 1] = static_cast<uint8_t>(v >> 8);
        } else {
            buf_[pos] = static_cast<uint8_t>(v >> 8);
            buf_[pos + 1] = static_cast<uint8_t>(v);
        }
    }
    void PatchU32(size_t pos, uint32_t v)
    {
        for (int i = 0; i < 4; ++i) {
            int shift = le_ ? 8 * i : 8 * (3 - i);
            buf_[pos + i] = static_cast<uint8_t>(v >> shift);
        }
    }

private:
    bool le_;
    std::vector<uint8_t> buf_;
};

// ---------------------------------------------------------------------------------------
// TIFF directories.

constexpr uint16_t kAscii = 2;
constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kRational = 5;
constexpr uint16_t kUndefined = 7;
constexpr uint16_t kSignedRational = 10;

struct IfdEntry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint8_t> value;  // already in the file's byte order
};

// Builds entries whose values are encoded in one byte order.
class EntryMaker {
public:
    explicit EntryMaker(bool littleEndian) : le_(littleEndian) {}

    IfdEntry Ascii(uint16_t tag, const std::string& s) const
    {
        IfdEntry e{tag, kAscii, static_cast<uint32_t>(s.size() + 1), {}};
        e.value.assign(s.begin(), s.end());
        e.value.push_back(0);
        return e;
    }
    IfdEntry Shorts(uint16_t tag, const std::vector<uint16_t>& v) const
    {
        ByteSink b(le_);
        for (uint16_t x : v)
            b.U16(x);
        return {tag, kShort, static_cast<uint32_t>(v.size()), std::move(b.Data())};
    }
    IfdEntry Short(uint16_t tag, uint16_t v) const { return Shorts(tag, {v}); }
    IfdEntry Long(uint16_t tag, uint32_t v) const
    {
        ByteSink b(le_);
        b.U32(v);
        return {tag, kLong, 1, std::move(b.Data())};
    }
    IfdEntry Rational(uint16_t tag, ExifRational r) const
    {
        ByteSink b(le_);
        b.U32(r.numerator);
        b.U32(r.denominator);
        return {tag, kRational, 1, std::move(b.Data())};
    }
    IfdEntry SignedRational(uint16_t tag, int32_t numerator, int32_t denominator) const
    {
        ByteSink b(le_);
        b.U32(static_cast<uint32_t>(numerator));
        b.U32(static_cast<uint32_t>(denominator));
        return {tag, kSignedRational, 1, std::move(b.Data())};
    }
    IfdEntry Undefined(uint16_t tag, const void* data, size_t n) const
    {
        IfdEntry e{tag, kUndefined, static_cast<uint32_t>(n), {}};
        const auto* p = static_cast<const uint8_t*>(data);
        e.value.assign(p, p + n);
        return e;
    }

private:
    bool le_;
};

// Writes one directory (entries in the given order, next-directory offset 0) followed by
// the values that do not fit the 4-byte value field, each at an even offset. Offsets are
// positions in `out`, whose start is the TIFF header. Returns the position of each
// entry's value field, so that pointers can be patched once their target is written.
std::vector<size_t> WriteIfd(ByteSink& out, const std::vector<IfdEntry>& entries)
{
    std::vector<size_t> valuePos;
    out.U16(static_cast<uint16_t>(entries.size()));
    for (const IfdEntry& e : entries) {
        out.U16(e.tag);
        out.U16(e.type);
        out.U32(e.count);
        valuePos.push_back(out.Size());
        if (e.value.size() <= 4) {
            out.Bytes(e.value);
            out.Zeros(4 - e.value.size());
        } else {
            out.U32(0);
        }
    }
    out.U32(0);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].value.size() > 4) {
            out.Align2();
            out.PatchU32(valuePos[i], static_cast<uint32_t>(out.Size()));
            out.Bytes(entries[i].value);
        }
    }
    out.Align2();
    return valuePos;
}

std::string ExifDate(int64_t captureTime)
{
    std::time_t t = static_cast<std::time_t>(captureTime);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr)
        return "1970:01:01 00:00:00";
    char text[80];
    std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

uint16_t OrientationValue(int exifOrientation)
{
    return (exifOrientation >= 1 && exifOrientation <= 8) ? static_cast<uint16_t>(exifOrientation) : 1;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The Canon maker note: a bare directory whose offsets count from the TIFF header.
std::vector<IfdEntry> MakerNoteEntries(const SimPictureParams& p, const EntryMaker& m)
{
    std::vector<IfdEntry> e;
    std::vector<uint16_t> shotInfo(34, 0);
    shotInfo[0] = static_cast<uint16_t>(shotInfo.size() * 2);  // record length in bytes
    // Target and actual aperture and shutter speed in Canon's units (APEX x 32); the
    // eighth-stop codes count from f/1.0 (0x08) and from 1 s (0x38).
    if (p.avCode != 0xFFFF) {
        shotInfo[4] = static_cast<uint16_t>((static_cast<int>(p.avCode) - 0x08) * 4);
        shotInfo[21] = shotInfo[4];
    }
    if (p.tvCode != 0xFFFF) {
        shotInfo[5] = static_cast<uint16_t>((static_cast<int>(p.tvCode) - 0x38) * 4);
        shotInfo[22] = shotInfo[5];
    }
    shotInfo[14] = p.threePointAf;
    e.push_back(m.Shorts(4, shotInfo));

    std::string model = p.model;
    if (model.rfind("Canon ", 0) == 0)
        model = model.substr(6);
    e.push_back(m.Ascii(6, "IMG:" + model + " JPEG"));
    e.push_back(m.Long(8, 100 * 10000 + p.frameNumber % 10000));

    std::vector<uint16_t> afInfo(48, 0);
    afInfo[22] = p.sevenPointAfMask;
    e.push_back(m.Shorts(18, afInfo));

    if (p.hasFortyFivePointAf)
        e.push_back(m.Undefined(148, p.fortyFivePointAf.data(), p.fortyFivePointAf.size()));
    return e;
}

// The interoperability directory of the DCF option file ("R03"): how the EOS bodies mark
// an Adobe RGB picture, next to ColorSpace 0xFFFF ("uncalibrated"). Written at the end of
// `out`; `pointerPos` is the value field of the Exif directory's pointer to it.
void WriteAdobeRgbInterop(ByteSink& out, const EntryMaker& m, size_t pointerPos)
{
    out.Align2();
    out.PatchU32(pointerPos, static_cast<uint32_t>(out.Size()));
    const char version[4] = {'0', '1', '0', '0'};
    WriteIfd(out, {m.Ascii(0x0001, "R03"), m.Undefined(0x0002, version, 4)});
}

// The little-endian TIFF data of the Exif block (what follows "Exif\0\0" in APP1).
std::vector<uint8_t> BuildExifTiff(const SimPictureParams& p, int pixelWidth, int pixelHeight)
{
    ByteSink out(true);
    EntryMaker m(true);
    const std::string date = ExifDate(p.captureTime);
    out.Text("II");
    out.U16(42);
    out.U32(8);

    std::vector<IfdEntry> ifd0{
        m.Ascii(0x010F, "Canon"),
        m.Ascii(0x0110, p.model),
        m.Short(0x0112, OrientationValue(p.exifOrientation)),
        m.Rational(0x011A, {180, 1}),
        m.Rational(0x011B, {180, 1}),
        m.Short(0x0128, 2),
        m.Ascii(0x0132, date),
        m.Short(0x0213, 2),  // YCbCr positioning: co-sited
        m.Long(0x8769, 0),   // Exif directory, patched below
    };
    std::vector<size_t> ifd0Pos = WriteIfd(out, ifd0);
    out.PatchU32(ifd0Pos.back(), static_cast<uint32_t>(out.Size()));

    const char version[4] = {'0', '2', '2', '0'};
    std::vector<IfdEntry> exif{
        m.Rational(0x829A, TvCodeToExposureRational(p.tvCode)),
        m.Rational(0x829D, AvCodeToFNumberRational(p.avCode)),
        m.Undefined(0x9000, version, 4),
        m.Ascii(0x9003, date),
    };
    const ExposureBias bias = ExposureBiasForCode(p.expCompCode);
    exif.push_back(m.SignedRational(0x9204, bias.numerator, bias.denominator));
    if (p.focusPosition >= 0)
        exif.push_back(m.Rational(0x9206, SubjectDistanceForFocus(p.focusPosition)));
    const size_t makerNoteIndex = exif.size();
    exif.push_back(m.Undefined(0x927C, nullptr, 0));  // maker note, patched below
    exif.push_back(m.Short(0xA001, p.adobeRgb ? 0xFFFF : 1));
    exif.push_back(m.Long(0xA002, static_cast<uint32_t>(pixelWidth)));
    exif.push_back(m.Long(0xA003, static_cast<uint32_t>(pixelHeight)));
    if (p.adobeRgb)
        exif.push_back(m.Long(0xA005, 0));  // interoperability directory, patched below
    std::vector<size_t> exifPos = WriteIfd(out, exif);

    const size_t makerStart = out.Size();
    WriteIfd(out, MakerNoteEntries(p, m));
    const size_t makerNotePos = exifPos[makerNoteIndex];
    out.PatchU32(makerNotePos - 4, static_cast<uint32_t>(out.Size() - makerStart));
    out.PatchU32(makerNotePos, static_cast<uint32_t>(makerStart));
    if (p.adobeRgb)
        WriteAdobeRgbInterop(out, m, exifPos.back());
    return std::move(out.Data());
}

// The APP1 segment body: "Exif\0\0" then the TIFF data.
std::vector<uint8_t> BuildExifApp1(const SimPictureParams& p, int pixelWidth, int pixelHeight)
{
    std::vector<uint8_t> body{'E', 'x', 'i', 'f', 0, 0};
    std::vector<uint8_t> tiff = BuildExifTiff(p, pixelWidth, pixelHeight);
    body.insert(body.end(), tiff.begin(), tiff.end());
    return body;
}

// The scene is made in sRGB; a body set to Adobe RGB records the same colours in Adobe
// RGB values (so an Adobe RGB picture shown without colour management looks flat).
std::shared_ptr<const colour::DisplayTransform> PictureTransform(const SimPictureParams& p)
{
    if (!p.adobeRgb)
        return nullptr;
    static const std::shared_ptr<const colour::DisplayTransform> toAdobe = [] {
        return colour::DisplayTransform::Make(colour::Profile::Srgb(), colour::Profile::AdobeRgb(),
                                              colour::RenderingIntent::RelativeColorimetricBpc,
                                              colour::PixelOrder::Rgb);
    }();
    return toAdobe;
}

void CheckSize(int width, int height)
{
    if (width < 1 || height < 1 || width > kMaxSimPictureSide || height > kMaxSimPictureSide)
        throw std::invalid_argument("simulated picture size out of range");
}

// ---------------------------------------------------------------------------------------
// The test scene, rendered one RGB row at a time from span fills: colour bars (one pure
// white), a grey ramp, then a tinted lower half with a rectangle, a disc, a clipped white
// disc and the frame number as blocky digits; then grain on every sample and fine detail
// in the lower half (one table lookup and add per sample), so that the JPEG weighs what a
// camera's does (about 2.7 MB for a 10D's Large/Fine).

constexpr uint8_t kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

struct Rgb {
    uint8_t r, g, b;
};

uint32_t Mix(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

class Scene {
public:
    Scene(int width, int height, uint32_t seed, uint32_t frameNumber) : w_(width), h_(height)
    {
        static const Rgb bars[8] = {{255, 255, 255}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                                    {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {16, 16, 16}};
        barRow_.resize(static_cast<size_t>(w_) * 3);
        rampRow_.resize(static_cast<size_t>(w_) * 3);
        for (int x = 0; x < w_; ++x) {
            const Rgb& c = bars[static_cast<size_t>(x) * 8 / static_cast<size_t>(w_)];
            uint8_t* px = &barRow_[static_cast<size_t>(x) * 3];
            px[0] = c.r;
            px[1] = c.g;
            px[2] = c.b;
            auto v = static_cast<uint8_t>(static_cast<size_t>(x) * 256 / static_cast<size_t>(w_));
            std::memset(&rampRow_[static_cast<size_t>(x) * 3], v, 3);
        }
        barsEnd_ = h_ * 3 / 8;
        rampEnd_ = h_ / 2;

        const uint32_t r0 = Mix(seed), r1 = Mix(seed + 0x9e3779b9U), r2 = Mix(seed ^ 0x5bd1e995U);
        tint_ = {static_cast<uint8_t>(24 + r0 % 48), static_cast<uint8_t>(24 + (r0 >> 8) % 48),
                 static_cast<uint8_t>(24 + (r0 >> 16) % 48)};
        const int lower = h_ - rampEnd_;
        // Rectangle in the right half of the lower part.
        rect_ = {w_ / 2 + static_cast<int>(r1 % static_cast<uint32_t>(std::max(1, w_ / 8))),
                 rampEnd_ + lower / 8 + static_cast<int>((r1 >> 8) % static_cast<uint32_t>(std::max(1, lower / 8))),
                 w_ / 6, lower / 3};
        rectColour_ = {static_cast<uint8_t>(64 + (r1 >> 16) % 160), static_cast<uint8_t>(40 + (r1 >> 20) % 120),
                       static_cast<uint8_t>(200 - (r1 >> 24) % 120)};
        disc_ = {w_ * 3 / 4 + static_cast<int>(r2 % static_cast<uint32_t>(std::max(1, w_ / 10))),
                 rampEnd_ + lower * 2 / 3, std::max(1, lower / 5)};
        sun_ = {w_ * 9 / 10, rampEnd_ + lower / 4, std::max(1, lower / 8)};

        // Frame number in big digits, the seed in small ones beneath.
        frameText_ = std::to_string(frameNumber);
        seedText_ = std::to_string(seed);
        bigBlock_ = std::max(1, lower / 14);
        smallBlock_ = std::max(1, bigBlock_ / 3);
        textX_ = std::max(1, w_ / 24);
        bigY_ = rampEnd_ + lower / 8;
        smallY_ = bigY_ + 9 * bigBlock_;

        // Sensor grain and fine detail, as a camera picture has everywhere: without them
        // the flat scene compresses to a fraction of a real picture's size. Two tables of
        // small offsets, read at a different place on every row, keep this to one add per
        // sample.
        grain_.resize(kGrainSize);
        detail_.resize(kGrainSize);
        for (size_t i = 0; i < kGrainSize; ++i) {
            const uint32_t r = Mix(static_cast<uint32_t>(i) * 2654435761U ^ seed);
            // The sum of two uniform values: most offsets small, a few large.
            grain_[i] = static_cast<int8_t>(static_cast<int>(r % 21) + static_cast<int>((r >> 5) % 21) - 20);
            detail_[i] = static_cast<int8_t>(static_cast<int>((r >> 8) & 31) + static_cast<int>((r >> 13) & 31) - 31);
        }
        seedMix_ = Mix(seed ^ 0x68e31da4U);
    }

    int Width() const { return w_; }
    int Height() const { return h_; }

    void RenderRow(int y, uint8_t* row) const
    {
        RenderPlainRow(y, row);
        AddGrain(y, row);
    }

private:
    static constexpr size_t kGrainSize = 1 << 16;

    // Grain on every sample; fine detail (texture a quarter as fine as the grain's, so it
    // survives the chroma subsampling as luminance) below the ramp. Clipped whites stay
    // clipped, as they do in a camera picture.
    void AddGrain(int y, uint8_t* row) const
    {
        const size_t bytes = static_cast<size_t>(w_) * 3;
        const uint32_t r = Mix(static_cast<uint32_t>(y) ^ seedMix_);
        const size_t g0 = r & (kGrainSize - 1);
        const size_t d0 = (Mix(static_cast<uint32_t>(y / 2) ^ ~seedMix_)) & (kGrainSize - 1);
        const bool detailed = y >= rampEnd_;
        for (size_t i = 0; i < bytes; i += 3) {
            int offset = 0;
            if (detailed)
                offset = detail_[(d0 + i / 6) & (kGrainSize - 1)];
            for (size_t c = 0; c < 3; ++c) {
                const int v = row[i + c];
                if (v == 255)
                    continue;
                const int n = v + offset + grain_[(g0 + i + c) & (kGrainSize - 1)];
                row[i + c] = static_cast<uint8_t>(n < 0 ? 0 : n > 254 ? 254 : n);
            }
        }
    }

    void RenderPlainRow(int y, uint8_t* row) const
    {
        const size_t bytes = static_cast<size_t>(w_) * 3;
        if (y < barsEnd_) {
            std::memcpy(row, barRow_.data(), bytes);
            return;
        }
        if (y < rampEnd_) {
            std::memcpy(row, rampRow_.data(), bytes);
            return;
        }
        // Background: the tint brightening towards the bottom.
        const int lift = (y - rampEnd_) * 64 / std::max(1, h_ - rampEnd_);
        Fill(row, 0, w_, {static_cast<uint8_t>(tint_.r + lift), static_cast<uint8_t>(tint_.g + lift),
                          static_cast<uint8_t>(tint_.b + lift)});
        if (y >= rect_.y && y < rect_.y + rect_.h)
            Fill(row, rect_.x, rect_.x + rect_.w, rectColour_);
        FillDiscRow(row, y, disc_, {230, 120, 20});
        FillDiscRow(row, y, sun_, {255, 255, 255});
        DrawTextRow(row, y, frameText_, textX_, bigY_, bigBlock_, {250, 250, 250});
        DrawTextRow(row, y, seedText_, textX_, smallY_, smallBlock_, {200, 200, 60});
    }

    struct Box {
        int x, y, w, h;
    };
    struct Disc {
        int cx, cy, r;
    };

    void Fill(uint8_t* row, int x0, int x1, Rgb c) const
    {
        x0 = std::max(x0, 0);
        x1 = std::min(x1, w_);
        for (int x = x0; x < x1; ++x) {
            uint8_t* px = row + static_cast<size_t>(x) * 3;
            px[0] = c.r;
            px[1] = c.g;
            px[2] = c.b;
        }
    }

    void FillDiscRow(uint8_t* row, int y, const Disc& d, Rgb c) const
    {
        const int dy = y - d.cy;
        if (dy < -d.r || dy > d.r)
            return;
        const int half = static_cast<int>(std::sqrt(static_cast<double>(d.r) * d.r - static_cast<double>(dy) * dy));
        Fill(row, d.cx - half, d.cx + half + 1, c);
    }

    void DrawTextRow(uint8_t* row, int y, const std::string& text, int x, int top, int block, Rgb c) const
    {
        if (y < top || y >= top + 7 * block)
            return;
        const int glyphRow = (y - top) / block;
        for (char ch : text) {
            const uint8_t bits = kDigits[ch - '0'][glyphRow];
            for (int col = 0; col < 5; ++col) {
                if (bits & (0x10 >> col))
                    Fill(row, x + col * block, x + (col + 1) * block, c);
            }
            x += 6 * block;
        }
    }

    int w_, h_;
    int barsEnd_ = 0, rampEnd_ = 0;
    std::vector<uint8_t> barRow_, rampRow_;
    Rgb tint_{}, rectColour_{};
    Box rect_{};
    Disc disc_{}, sun_{};
    std::string frameText_, seedText_;
    int bigBlock_ = 1, smallBlock_ = 1, textX_ = 0, bigY_ = 0, smallY_ = 0;
    std::vector<int8_t> grain_, detail_;
    uint32_t seedMix_ = 0;
};

// Renders rows of a picture whose scene may be letterboxed between black bands.
class Canvas {
public:
    // The scene has the canvas's width and at most its height.
    Canvas(int width, int height, const Scene& scene) : w_(width), top_((height - scene.Height()) / 2), scene_(scene)
    {
    }
    void RenderRow(int y, uint8_t* row) const
    {
        const int sy = y - top_;
        if (sy >= 0 && sy < scene_.Height())
            scene_.RenderRow(sy, row);
        else
            std::memset(row, 0, static_cast<size_t>(w_) * 3);
    }

private:
    int w_, top_;
    const Scene& scene_;
};

// ---------------------------------------------------------------------------------------
// JPEG encoding straight into a byte vector.

std::vector<uint8_t> EncodeJpeg(const Canvas& canvas, int width, int height, int quality,
                                const std::vector<uint8_t>& app1, const colour::DisplayTransform* toPicture)
{
    jpeg_compress_struct cinfo{};
    std::vector<uint8_t> out;
    JpegWriter writer(cinfo, out, std::max<size_t>(16384, static_cast<size_t>(width) * height / 4));

    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    cinfo.write_JFIF_header = FALSE;  // the Exif segment follows SOI directly
    cinfo.dct_method = JDCT_ISLOW;
    // 4:2:2 chroma, as the EOS bodies write.
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1.data(), static_cast<unsigned>(app1.size()));

    constexpr int kBatch = 16;
    std::vector<uint8_t> rows(static_cast<size_t>(width) * 3 * kBatch);
    JSAMPROW pointers[kBatch];
    for (int i = 0; i < kBatch; ++i)
        pointers[i] = rows.data() + static_cast<size_t>(i) * width * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y0 = static_cast<int>(cinfo.next_scanline);
        const int n = std::min(kBatch, height - y0);
        for (int i = 0; i < n; ++i)
            canvas.RenderRow(y0 + i, pointers[i]);
        if (toPicture)
            toPicture->Apply(rows.data(), width, n, static_cast<size_t>(width) * 3);
        jpeg_write_scanlines(&cinfo, pointers, static_cast<JDIMENSION>(n));
    }
    jpeg_finish_compress(&cinfo);
    return out;
}

std::vector<uint8_t> MakeJpeg(const SimPictureParams& p, int width, int height, int sceneHeight)
{
    CheckSize(width, height);
    Scene scene(width, sceneHeight, p.seed, p.frameNumber);
    Canvas canvas(width, height, scene);
    const auto toPicture = PictureTransform(p);
    return EncodeJpeg(canvas, width, height, p.jpegQuality, BuildExifApp1(p, width, height), toPicture.get());
}

// ---------------------------------------------------------------------------------------
// Exposure tables: every code of the fine and the coarse lists with its nominal value.

struct TvEntry {
    uint16_t code;
    uint32_t num, den;  // seconds
};
constexpr TvEntry kTv[] = {
    {0x10, 30, 1},   {0x13, 25, 1},   {0x14, 20, 1},   {0x15, 20, 1},   {0x18, 15, 1},    {0x1B, 13, 1},
    {0x1C, 10, 1},   {0x1D, 10, 1},   {0x20, 8, 1},    {0x23, 6, 1},    {0x24, 6, 1},     {0x25, 5, 1},
    {0x28, 4, 1},    {0x2B, 32, 10},  {0x2C, 3, 1},    {0x2D, 25, 10},  {0x30, 2, 1},     {0x33, 16, 10},
    {0x34, 15, 10},  {0x35, 13, 10},  {0x38, 1, 1},    {0x3B, 8, 10},   {0x3C, 7, 10},    {0x3D, 6, 10},
    {0x40, 5, 10},   {0x43, 4, 10},   {0x44, 3, 10},   {0x45, 3, 10},   {0x48, 1, 4},     {0x4B, 1, 5},
    {0x4C, 1, 6},    {0x4D, 1, 6},    {0x50, 1, 8},    {0x53, 1, 10},   {0x54, 1, 10},    {0x55, 1, 13},
    {0x58, 1, 15},   {0x5B, 1, 20},   {0x5C, 1, 20},   {0x5D, 1, 25},   {0x60, 1, 30},    {0x63, 1, 40},
    {0x64, 1, 45},   {0x65, 1, 50},   {0x68, 1, 60},   {0x6B, 1, 80},   {0x6C, 1, 90},    {0x6D, 1, 100},
    {0x70, 1, 125},  {0x73, 1, 160},  {0x74, 1, 180},  {0x75, 1, 200},  {0x78, 1, 250},   {0x7B, 1, 320},
    {0x7C, 1, 350},  {0x7D, 1, 400},  {0x80, 1, 500},  {0x83, 1, 640},  {0x84, 1, 750},   {0x85, 1, 800},
    {0x88, 1, 1000}, {0x8B, 1, 1250}, {0x8C, 1, 1500}, {0x8D, 1, 1600}, {0x90, 1, 2000},  {0x93, 1, 2500},
    {0x94, 1, 3000}, {0x95, 1, 3200}, {0x98, 1, 4000},
};

struct AvEntry {
    uint16_t code;
    uint32_t tenths;  // f-number x 10
};
constexpr AvEntry kAv[] = {
    {0x08, 10},  {0x0B, 11},  {0x0C, 12},  {0x0D, 12},  {0x10, 14},  {0x13, 16},  {0x14, 18},  {0x15, 18},
    {0x18, 20},  {0x1B, 22},  {0x1C, 25},  {0x1D, 25},  {0x20, 28},  {0x23, 32},  {0x24, 35},  {0x25, 35},
    {0x28, 40},  {0x2B, 45},  {0x2C, 45},  {0x2D, 50},  {0x30, 56},  {0x33, 63},  {0x34, 67},  {0x35, 71},
    {0x38, 80},  {0x3B, 90},  {0x3C, 95},  {0x3D, 100}, {0x40, 110}, {0x43, 120}, {0x44, 130}, {0x45, 140},
    {0x48, 160}, {0x4B, 180}, {0x4C, 190}, {0x4D, 200}, {0x50, 220}, {0x53, 250}, {0x54, 270}, {0x55, 290},
    {0x58, 320}, {0x5B, 360}, {0x5C, 380}, {0x5D, 400}, {0x60, 450}, {0x63, 510}, {0x64, 540}, {0x65, 570},
    {0x68, 640}, {0x6B, 720}, {0x6C, 760}, {0x6D, 810}, {0x70, 910},
};

constexpr uint16_t kAutoCode = 0xFFFF;

// The entry with the nearest code; the lower code wins a tie (the tables are sorted).
template <typename Entry, size_t N>
const Entry& Nearest(const Entry (&table)[N], uint16_t code)
{
    const Entry* best = &table[0];
    for (const Entry& e : table) {
        if (std::abs(static_cast<int>(e.code) - code) < std::abs(static_cast<int>(best->code) - code))
            best = &e;
    }
    return *best;
}

} // namespace

// ---------------------------------------------------------------------------------------

SimModelSizes SizesForModel(const std::string& model)
{
    const std::string m = Lower(model);
    auto has = [&m](const char* s) { return m.find(s) != std::string::npos; };
    if (has("eos-1ds"))
        return {{4064, 2032, 1536}, {2704, 1352, 1024}, 1536, 1024};
    if (has("eos-1d"))
        return {{2464, 1232, 1232}, {1648, 824, 824}, 1232, 824};
    if (has("eos d30"))
        return {{2160, 1080, 1080}, {1440, 720, 720}, 1080, 720};
    // EOS 10D, EOS 300D (Digital Rebel, Kiss Digital), EOS D60 and anything else.
    return {{3072, 2048, 1536}, {2048, 1360, 1024}, 1536, 1024};
}

int JpegQualityForCode(int qualityCode)
{
    return qualityCode == 3 ? 92 : 75;
}

ExifRational TvCodeToExposureRational(uint16_t code)
{
    if (code == kAutoCode)
        return {1, 125};
    const TvEntry& e = Nearest(kTv, code);
    return {e.num, e.den};
}

ExifRational AvCodeToFNumberRational(uint16_t code)
{
    if (code == kAutoCode)
        return {56, 10};
    return {Nearest(kAv, code).tenths, 10};
}

double TvCodeToSeconds(uint16_t code)
{
    return TvCodeToExposureRational(code).Value();
}

double AvCodeToFNumber(uint16_t code)
{
    return AvCodeToFNumberRational(code).Value();
}

ExposureBias ExposureBiasForCode(uint16_t code)
{
    // Thirds and halves of a stop in sixths, anything else in eighths; then reduced.
    const int whole = code >> 3;
    const int frac = code & 7;
    int numerator = 0, denominator = 6;
    switch (frac) {
    case 0: numerator = whole * 6; break;
    case 3: numerator = whole * 6 + 2; break;
    case 4: numerator = whole * 6 + 3; break;
    case 5: numerator = whole * 6 + 4; break;
    default: numerator = static_cast<int>(code); denominator = 8; break;
    }
    numerator = (denominator == 6 ? 18 : 0x18) - numerator;  // no compensation is code 0x18
    const int g = std::gcd(std::abs(numerator), denominator);
    return {numerator / g, denominator / g};
}

ExifRational SubjectDistanceForFocus(int focusPosition)
{
    return {static_cast<uint32_t>(450 + 50 * std::max(focusPosition, 0)), 1000};
}

uint16_t SevenPointAfMaskFor(uint16_t afPointSetting, uint32_t seed)
{
    static const uint16_t byPosition[7] = {0x40, 0x20, 0x08, 0x02, 0x01, 0x10, 0x04};
    switch (afPointSetting & 0xF) {
    case 1: return byPosition[Mix(seed) % 7];
    case 7: return 0x10;
    case 6: return 0x40;
    case 4: return 0x20;
    case 3: return 0x08;
    case 2: return 0x02;
    case 5: return 0x01;
    case 8: return 0x04;
    default: return 0x08;
    }
}

uint16_t ThreePointAfValueFor(uint16_t afPointSetting, uint32_t seed)
{
    static const uint16_t byPosition[3] = {4, 2, 1};
    switch (afPointSetting & 0xF) {
    case 1: return static_cast<uint16_t>(0x3000 | byPosition[Mix(seed) % 3]);
    case 4: return 0x3004;
    case 2: return 0x3001;
    default: return 0x3002;
    }
}

std::array<uint8_t, 8> FortyFivePointAfCentre()
{
    // The centre is the sixth of the eleven points of the middle row, whose bits are
    // ((b[4] << 8) | b[3]) >> 5: bit 5 there is bit 2 of b[4].
    return {0, 0, 0, 0, 0x04, 0, 0, 0};
}

std::vector<uint8_t> MakeSimJpeg(const SimPictureParams& params)
{
    return MakeJpeg(params, params.width, params.height, params.height);
}

std::vector<uint8_t> MakeSimThumbnail(const SimPictureParams& params)
{
    return MakeJpeg(params, 160, 120, 106);
}

std::vector<uint8_t> MakeSimCrw(const SimPictureParams& params, size_t rawDataBytes)
{
    CheckSize(params.width, params.height);
    const SimModelSizes sizes = SizesForModel(params.model);
    int previewWidth = params.width, previewHeight = params.height;
    if (previewWidth > sizes.crwPreviewWidth || previewHeight > sizes.crwPreviewHeight) {
        previewWidth = sizes.crwPreviewWidth;
        previewHeight = sizes.crwPreviewHeight;
    }
    const std::vector<uint8_t> preview = MakeJpeg(params, previewWidth, previewHeight, previewHeight);
    ByteSink out(true);
    constexpr uint32_t kHeap = 26;
    out.Text("II");
    out.U32(kHeap);
    out.Text("HEAPCCDR");
    out.U32(0x00010002);
    out.Zeros(8);

    struct DirEntry {
        uint16_t tag;
        uint32_t length, offset;
    };
    auto writeDir = [&out](size_t heapStart, const std::vector<DirEntry>& entries) {
        const size_t dir = out.Size();
        out.U16(static_cast<uint16_t>(entries.size()));
        for (const DirEntry& e : entries) {
            out.U16(e.tag);
            out.U32(e.length);
            out.U32(e.offset);
        }
        out.U32(static_cast<uint32_t>(dir - heapStart));
    };

    // Raw sensor data stand-in: pseudo-random bytes from the seed.
    const size_t rawStart = out.Size();
    out.Zeros(rawDataBytes);
    uint64_t state = 0x9E3779B97F4A7C15ULL ^ (static_cast<uint64_t>(params.seed) << 17) ^ params.frameNumber;
    for (size_t i = 0; i < rawDataBytes; i += 8) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        const uint64_t v = state * 0x2545F4914F6CDD1DULL;
        std::memcpy(out.Data().data() + rawStart + i, &v, std::min<size_t>(8, rawDataBytes - i));
    }
    out.Align2();

    const size_t jpegStart = out.Size();
    out.Bytes(preview);
    out.Align2();

    // Image properties: a subdirectory heap holding the camera subdirectory with the
    // make/model record.
    const size_t propsStart = out.Size();
    const size_t cameraStart = out.Size();
    std::vector<uint8_t> makeModel{'C', 'a', 'n', 'o', 'n', 0};
    makeModel.insert(makeModel.end(), params.model.begin(), params.model.end());
    makeModel.push_back(0);
    out.Bytes(makeModel);
    out.Align2();
    writeDir(cameraStart, {{0x080A, static_cast<uint32_t>(makeModel.size()), 0}});
    const size_t cameraEnd = out.Size();
    writeDir(propsStart, {{0x2807, static_cast<uint32_t>(cameraEnd - cameraStart),
                           static_cast<uint32_t>(cameraStart - propsStart)}});
    const size_t propsEnd = out.Size();

    writeDir(kHeap, {
                        {0x2005, static_cast<uint32_t>(rawDataBytes), static_cast<uint32_t>(rawStart - kHeap)},
                        {0x2007, static_cast<uint32_t>(preview.size()), static_cast<uint32_t>(jpegStart - kHeap)},
                        {0x300A, static_cast<uint32_t>(propsEnd - propsStart),
                         static_cast<uint32_t>(propsStart - kHeap)},
                    });
    return std::move(out.Data());
}

std::vector<uint8_t> MakeSimTiff(const SimPictureParams& params, int width, int height)
{
    CheckSize(width, height);
    ByteSink out(false);
    EntryMaker m(false);
    const uint32_t stripBytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3;
    out.Text("MM");
    out.U16(42);
    out.U32(8);

    std::vector<IfdEntry> ifd0{
        m.Long(256, static_cast<uint32_t>(width)),
        m.Long(257, static_cast<uint32_t>(height)),
        m.Shorts(258, {8, 8, 8}),
        m.Short(259, 1),
        m.Short(262, 2),
        m.Ascii(271, "Canon"),
        m.Ascii(272, params.model),
        m.Long(273, 0),  // strip offset, patched below
        m.Short(274, OrientationValue(params.exifOrientation)),
        m.Short(277, 3),
        m.Long(278, static_cast<uint32_t>(height)),
        m.Long(279, stripBytes),
        m.Rational(282, {180, 1}),
        m.Rational(283, {180, 1}),
        m.Short(284, 1),
        m.Short(296, 2),
        m.Long(34665, 0),  // Exif directory, patched below
    };
    std::vector<size_t> pos = WriteIfd(out, ifd0);
    out.PatchU32(pos.back(), static_cast<uint32_t>(out.Size()));

    std::vector<IfdEntry> exif{
        m.Rational(0x829A, TvCodeToExposureRational(params.tvCode)),
        m.Rational(0x829D, AvCodeToFNumberRational(params.avCode)),
        m.Ascii(0x9003, ExifDate(params.captureTime)),
    };
    if (params.adobeRgb) {
        exif.push_back(m.Short(0xA001, 0xFFFF));
        exif.push_back(m.Long(0xA005, 0));  // interoperability directory, patched below
    }
    const std::vector<size_t> exifPos = WriteIfd(out, exif);
    if (params.adobeRgb)
        WriteAdobeRgbInterop(out, m, exifPos.back());
    out.Align2();
    out.PatchU32(pos[7], static_cast<uint32_t>(out.Size()));

    const size_t stripStart = out.Size();
    out.Zeros(stripBytes);
    Scene scene(width, height, params.seed, params.frameNumber);
    const auto toPicture = PictureTransform(params);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = out.Data().data() + stripStart + static_cast<size_t>(y) * width * 3;
        scene.RenderRow(y, row);
        if (toPicture)
            toPicture->Apply(row, width, 1, static_cast<size_t>(width) * 3);
    }
    return std::move(out.Data());
}

} // namespace sim
