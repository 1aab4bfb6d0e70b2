// The program's own Exif reader. Every number is read through Read16/Read32, which
// check the position against the length of the TIFF data being walked; a read that would
// pass the end ends the whole parse of the picture, keeping whatever was stored before.
#include "imaging/ImageInfo.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/types.h>

namespace {

constexpr uint16_t kTypeAscii = 2;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeRational = 5;
constexpr uint16_t kTypeUndefined = 7;
constexpr uint16_t kTypeSRational = 10;

constexpr uint16_t kTagModel = 272;
constexpr uint16_t kTagOrientation = 274;
constexpr uint16_t kTagExifIfd = 34665;
constexpr uint16_t kTagExposureTime = 33434;
constexpr uint16_t kTagFNumber = 33437;
constexpr uint16_t kTagMakerNote = 37500;

constexpr uint16_t kMakerCameraSettings = 4;
constexpr uint16_t kMakerAfInfo = 18;
constexpr uint16_t kMakerAf45 = 148;

constexpr size_t kEntrySize = 12;
constexpr uint32_t kMakerArrayMax = 1000;

// A saved TIFF is looked at through its first 30 KB only; shorter files give nothing.
constexpr size_t kTiffFileProbe = 30720;

// Directories may point at each other in any number, so a hostile picture could make the
// walk visit the same bytes billions of times. No real picture comes near this many
// entries in all its directories together; reaching it ends the parse.
constexpr uint32_t kEntryBudget = 65536;

// Exposure time num/den as the status bar shows it: "%g" from 0.3 s up, "1/N" below.
// A time of exactly 1/3 s is also shown as "1/3". Zero, negative or missing times
// have no sensible text and give an empty one.
std::string FormatExposure(int64_t num, int64_t den)
{
    if (num == 0 || den == 0 || (num < 0) != (den < 0))
        return {};
    if (num < 0) {
        num = -num;
        den = -den;
    }
    const double t = static_cast<double>(num) / static_cast<double>(den);
    const bool wholeReciprocal = den % num == 0 && den / num >= 3;
    char text[64];
    if (t >= 0.3 && !wholeReciprocal) {
        std::snprintf(text, sizeof text, "%g", t);
    } else {
        // den/num is at most 2^32, so the whole part always fits in 64 bits.
        const double reciprocal = static_cast<double>(den) / static_cast<double>(num);
        if (!(reciprocal >= 1.0 && reciprocal < 9.0e18))
            return {};
        std::snprintf(text, sizeof text, "1/%lld", static_cast<long long>(reciprocal));
    }
    return text;
}

std::string FormatAperture(double f)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", f);
    return text;
}

bool EndsWithNoCase(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = s[s.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

// Walks one block of TIFF data for one record. Each step returns false when the parse
// of the picture must end.
class ExifParser {
public:
    ExifParser(ImageInfo& info, const uint8_t* tiff, size_t length)
        : info_(info), tiff_(tiff), length_(tiff ? length : 0)
    {
    }

    bool TiffSteps();
    bool SubIfd(uint32_t offset);
    bool MakerNote(uint32_t offset);

private:
    struct Entry {
        uint16_t tag = 0;
        uint16_t type = 0;
        uint32_t count = 0;
        uint32_t value = 0;   // the value field, or its first SHORT for one SHORT
        uint64_t valuePos = 0; // where the value field itself lies
    };

    bool Inside(uint64_t pos, uint64_t size) const { return pos <= length_ && size <= length_ - pos; }
    bool Read16(uint64_t pos, uint16_t& out) const;
    bool Read32(uint64_t pos, uint32_t& out) const;
    bool ReadEntry(uint64_t pos, Entry& e);
    bool ReadRational(const Entry& e, int64_t& num, int64_t& den) const;
    bool ReadModel(const Entry& e);

    ImageInfo& info_;
    const uint8_t* tiff_;
    uint64_t length_;
    uint32_t budget_ = kEntryBudget;
};

bool ExifParser::Read16(uint64_t pos, uint16_t& out) const
{
    if (!Inside(pos, 2))
        return false;
    const uint8_t* p = tiff_ + pos;
    out = info_.littleEndian_ ? static_cast<uint16_t>(p[0] | (p[1] << 8))
                              : static_cast<uint16_t>((p[0] << 8) | p[1]);
    return true;
}

bool ExifParser::Read32(uint64_t pos, uint32_t& out) const
{
    if (!Inside(pos, 4))
        return false;
    const uint8_t* p = tiff_ + pos;
    if (info_.littleEndian_)
        out = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    else
        out = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    return true;
}

bool ExifParser::ReadEntry(uint64_t pos, Entry& e)
{
    if (budget_ == 0)
        return false;
    --budget_;
    if (!Read16(pos, e.tag) || !Read16(pos + 2, e.type) || !Read32(pos + 4, e.count) ||
        !Read32(pos + 8, e.value))
        return false;
    e.valuePos = pos + 8;
    if (e.type == kTypeShort && e.count == 1) {
        uint16_t first = 0;
        if (!Read16(pos + 8, first))
            return false;
        e.value = first;
    }
    return true;
}

// Numerator and denominator of a single RATIONAL or SRATIONAL; 0/0 for any other type
// or count. Returns false (end of parse) when the 8 bytes lie outside the data.
bool ExifParser::ReadRational(const Entry& e, int64_t& num, int64_t& den) const
{
    num = 0;
    den = 0;
    if (e.count != 1 || (e.type != kTypeRational && e.type != kTypeSRational))
        return true;
    uint32_t n = 0;
    uint32_t d = 0;
    if (!Read32(e.value, n) || !Read32(uint64_t(e.value) + 4, d))
        return false;
    if (e.type == kTypeSRational) {
        num = static_cast<int32_t>(n);
        den = static_cast<int32_t>(d);
    } else {
        num = n;
        den = d;
    }
    return true;
}

bool ExifParser::ReadModel(const Entry& e)
{
    // Up to four bytes live in the value field itself; longer texts lie at its offset.
    const uint64_t pos = e.count <= 4 ? e.valuePos : e.value;
    if (!Inside(pos, e.count))
        return false;
    const char* text = reinterpret_cast<const char*>(tiff_ + pos);
    const void* zero = std::memchr(text, 0, e.count);
    const size_t len = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : e.count;
    info_.model_.assign(text, len);
    return true;
}

bool ExifParser::TiffSteps()
{
    if (length_ < 2)
        return false;
    if (tiff_[0] == 'I' && tiff_[1] == 'I')
        info_.littleEndian_ = true;
    else if (tiff_[0] == 'M' && tiff_[1] == 'M')
        info_.littleEndian_ = false;
    else
        return false;

    uint16_t magic = 0;
    if (!Read16(2, magic) || magic != 42)
        return false;
    uint32_t first = 0;
    if (!Read32(4, first) || uint64_t(first) + 2 >= length_)
        return false;
    uint16_t count = 0;
    if (!Read16(first, count) || uint64_t(first) + 2 + kEntrySize * count >= length_)
        return false;

    for (uint32_t i = 0; i < count; ++i) {
        Entry e;
        if (!ReadEntry(uint64_t(first) + 2 + kEntrySize * i, e))
            return false;
        switch (e.tag) {
        case kTagModel:
            if (e.type == kTypeAscii && !ReadModel(e))
                return false;
            break;
        case kTagOrientation:
            switch (e.value) {
            case 1: info_.rotation_ = 0; break;
            case 3: info_.rotation_ = 180; break;
            case 6: info_.rotation_ = 90; break;
            case 8: info_.rotation_ = 270; break;
            default: break; // mirrored or unknown: keep what was there
            }
            break;
        case kTagExifIfd:
            if (!SubIfd(e.value))
                return false;
            break;
        default:
            break;
        }
    }
    return true;
}

bool ExifParser::SubIfd(uint32_t offset)
{
    uint16_t count = 0;
    if (!Read16(offset, count))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        Entry e;
        if (!ReadEntry(uint64_t(offset) + 2 + kEntrySize * i, e))
            return false;
        int64_t num = 0;
        int64_t den = 0;
        switch (e.tag) {
        case kTagMakerNote:
            if (!MakerNote(e.value))
                return false;
            break;
        case kTagExposureTime:
            if (!ReadRational(e, num, den))
                return false;
            info_.exposure_ = FormatExposure(num, den);
            break;
        case kTagFNumber:
            if (!ReadRational(e, num, den))
                return false;
            info_.aperture_ = FormatAperture(den == 0 ? 0.0 : double(num) / double(den));
            break;
        default:
            break;
        }
    }
    return true;
}

bool ExifParser::MakerNote(uint32_t offset)
{
    uint16_t count = 0;
    if (!Read16(offset, count))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        Entry e;
        if (!ReadEntry(uint64_t(offset) + 2 + kEntrySize * i, e))
            return false;
        if (e.type == kTypeShort && e.count > 2) {
            const uint32_t used = e.count < kMakerArrayMax ? e.count : kMakerArrayMax;
            if (!Inside(e.value, uint64_t(used) * 2))
                return false;
            uint16_t element = 0;
            if (e.tag == kMakerCameraSettings && e.count > 14) {
                if (!Read16(uint64_t(e.value) + 2 * 14, element))
                    return false;
                info_.threePointAf_ = element;
            } else if (e.tag == kMakerAfInfo && e.count > 23) {
                if (!Read16(uint64_t(e.value) + 2 * 22, element))
                    return false;
                info_.sevenPointAf_ = element;
            }
        } else if (e.type == kTypeUndefined && e.tag == kMakerAf45 && e.count == 8) {
            if (!Inside(e.value, 8))
                return false;
            std::memcpy(info_.fortyFivePointAf_.data(), tiff_ + e.value, 8);
        }
    }
    return true;
}

// --- parse routines ---------------------------------------------------------------------

void ImageInfo::ParseExifSegment(const uint8_t* segment, size_t length)
{
    if (!segment || length < 8)
        return;
    static const uint8_t kExifId[5] = {'E', 'x', 'i', 'f', 0};
    if (std::memcmp(segment + 2, kExifId, sizeof kExifId) != 0)
        return;
    const size_t tiffLength = length - 8;
    if (tiffLength <= 2)
        return;
    ExifParser(*this, segment + 8, tiffLength).TiffSteps();
}

void ImageInfo::ParseTiffHeaderInfo(const uint8_t* data, size_t length)
{
    if (!data || length < 8)
        return;
    ExifParser(*this, data, length).TiffSteps();
}

void ImageInfo::ParseExifSubIfd(const uint8_t* tiff, size_t length, uint32_t offset)
{
    ExifParser(*this, tiff, length).SubIfd(offset);
}

void ImageInfo::ParseMakerNote(const uint8_t* tiff, size_t length, uint32_t offset)
{
    ExifParser(*this, tiff, length).MakerNote(offset);
}

// --- constructors -----------------------------------------------------------------------

namespace {

// Scans the markers of a JPEG file up to its first APP1 segment and parses that one.
// Returns false only when the file cannot be opened.
bool ScanJpegFile(ImageInfo& info, const std::string& path)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;
    std::FILE* f = file.get();
    for (;;) {
        if (std::fgetc(f) != 0xFF)
            return true;
        const int marker = std::fgetc(f);
        if (marker == EOF)
            return true;
        if (marker == 0xD8 || marker == 0xD9)
            continue;
        const off_t lengthPos = ftello(f);
        if (lengthPos < 0)
            return true;
        const int hi = std::fgetc(f);
        const int lo = std::fgetc(f);
        if (hi == EOF || lo == EOF)
            return true;
        const size_t segmentLength = size_t(hi) << 8 | size_t(lo);
        if (marker == 0xE1) {
            if (fseeko(f, lengthPos, SEEK_SET) != 0)
                return true;
            std::vector<uint8_t> segment(segmentLength);
            if (std::fread(segment.data(), 1, segmentLength, f) == segmentLength)
                info.ParseExifSegment(segment.data(), segmentLength);
            return true;
        }
        if (fseeko(f, lengthPos + off_t(segmentLength), SEEK_SET) != 0)
            return true;
    }
}

void ReadTiffFile(ImageInfo& info, const std::string& path)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return;
    std::vector<uint8_t> head(kTiffFileProbe);
    if (std::fread(head.data(), 1, head.size(), file.get()) == head.size())
        info.ParseTiffHeaderInfo(head.data(), head.size());
}

} // namespace

ImageInfo ImageInfo::ReadImageInfoFromFile(const std::string& path)
{
    ImageInfo info;
    info.path_ = path;
    if (EndsWithNoCase(path, ".tif")) {
        ReadTiffFile(info, path);
    } else if (EndsWithNoCase(path, ".crw")) {
        // The camera writes a small JPEG with the Exif data beside each RAW file. Its
        // extension follows the RAW file's case first (IMG_0001.CRW -> IMG_0001.THM).
        const std::string stem = path.substr(0, path.size() - 3);
        const bool upper = path.back() == 'W';
        if (!ScanJpegFile(info, stem + (upper ? "THM" : "thm")))
            ScanJpegFile(info, stem + (upper ? "thm" : "THM"));
    } else if (EndsWithNoCase(path, ".jpg") || EndsWithNoCase(path, ".thm")) {
        ScanJpegFile(info, path);
    }
    return info;
}

ImageInfo ImageInfo::ReadImageInfoFromMemory(const uint8_t* data, size_t length)
{
    ImageInfo info;
    if (!data)
        return info;
    if (length >= 5 && data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42) {
        info.ParseTiffHeaderInfo(data, length);
        return info;
    }
    size_t i = 0;
    for (;;) {
        if (i >= length || data[i] != 0xFF || length - i < 2)
            return info;
        const uint8_t marker = data[i + 1];
        if (marker == 0xD8 || marker == 0xD9) {
            i += 2;
            continue;
        }
        const size_t p = i + 2;
        if (length - p < 2)
            return info;
        const size_t segmentLength = size_t(data[p]) << 8 | size_t(data[p + 1]);
        if (marker == 0xE1) {
            // The segment must end at least one byte before the buffer does.
            if (p + 2 + segmentLength < length)
                info.ParseExifSegment(data + p, segmentLength);
            return info;
        }
        i = p + segmentLength;
    }
}
