#include "imaging/TiffReader.h"

#include <algorithm>
#include <cstring>

namespace {

enum : uint16_t { kByte = 1, kShort = 3, kLong = 4 };

// Bounds-checked reader in the byte order the header names.
class TiffBytes {
public:
    TiffBytes(const uint8_t* data, size_t length, bool bigEndian)
        : data_(data), length_(length), big_(bigEndian) {}

    // True when [offset, offset + size) lies inside the buffer.
    bool Holds(uint64_t offset, uint64_t size) const
    {
        return offset <= length_ && size <= length_ - offset;
    }
    uint16_t U16(size_t at) const
    {
        return big_ ? static_cast<uint16_t>(data_[at] << 8 | data_[at + 1])
                    : static_cast<uint16_t>(data_[at + 1] << 8 | data_[at]);
    }
    uint32_t U32(size_t at) const
    {
        return big_ ? (uint32_t{data_[at]} << 24 | uint32_t{data_[at + 1]} << 16 | uint32_t{data_[at + 2]} << 8 | data_[at + 3])
                    : (uint32_t{data_[at + 3]} << 24 | uint32_t{data_[at + 2]} << 16 | uint32_t{data_[at + 1]} << 8 | data_[at]);
    }
    bool BigEndian() const { return big_; }
    const uint8_t* At(size_t at) const { return data_ + at; }

private:
    const uint8_t* data_;
    size_t length_;
    bool big_;
};

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    size_t field;  // position of the 4-byte value field
};

// The single value stored in an entry's value field: a SHORT is its first two bytes,
// a BYTE its first byte, anything else the 32-bit field.
uint32_t FieldValue(const TiffBytes& in, const Entry& e)
{
    switch (e.type) {
    case kByte: return *in.At(e.field);
    case kShort: return in.U16(e.field);
    default: return in.U32(e.field);
    }
}

// Value number i of an array entry (SHORT or LONG), wherever it is stored.
// False when it lies outside the buffer or the type cannot hold an offset or a count.
bool ArrayValue(const TiffBytes& in, const Entry& e, uint32_t i, uint32_t& out)
{
    if (e.type != kShort && e.type != kLong)
        return false;
    const uint64_t size = e.type == kShort ? 2 : 4;
    const uint64_t total = size * e.count;
    uint64_t at = total <= 4 ? e.field : in.U32(e.field);
    at += size * i;
    if (i >= e.count || !in.Holds(at, size))
        return false;
    out = size == 2 ? in.U16(static_cast<size_t>(at)) : in.U32(static_cast<size_t>(at));
    return true;
}

TiffImage Fail(const char* reason)
{
    TiffImage r;
    r.reason = reason;
    return r;
}

} // namespace

TiffImage ReadTiffImage(const uint8_t* data, size_t length)
{
    if (data == nullptr || length < 8)
        return Fail(kTiffInvalid);
    bool big;
    if (data[0] == 'I' && data[1] == 'I')
        big = false;
    else if (data[0] == 'M' && data[1] == 'M')
        big = true;
    else
        return Fail(kTiffInvalid);
    const TiffBytes in(data, length, big);
    if (in.U16(2) != 42)
        return Fail(kTiffInvalid);

    const uint32_t dirOffset = in.U32(4);
    if (!in.Holds(dirOffset, 2))
        return Fail("Directory outside the data");
    const uint16_t entryCount = in.U16(dirOffset);
    if (!in.Holds(uint64_t{dirOffset} + 2, uint64_t{entryCount} * 12))
        return Fail("Directory outside the data");

    uint32_t width = 0, height = 0, samplesPerPixel = 0, bytesPerSample = 0;
    bool haveWidth = false, haveHeight = false, haveOffsets = false, haveCounts = false;
    Entry offsets{}, counts{};

    for (uint32_t i = 0; i < entryCount; ++i) {
        const size_t at = dirOffset + 2 + size_t{i} * 12;
        const Entry e{in.U16(at), in.U16(at + 2), in.U32(at + 4), at + 8};
        switch (e.tag) {
        case 256:
            width = FieldValue(in, e);
            haveWidth = true;
            break;
        case 257:
            height = FieldValue(in, e);
            haveHeight = true;
            break;
        case 258: {
            if (e.type != kShort || e.count != 3)
                return Fail(kTiffBadBitsPerSample);
            const uint32_t valuesAt = in.U32(e.field);
            if (!in.Holds(valuesAt, 6))
                return Fail("BitsPerSample outside the data");
            const uint16_t a = in.U16(valuesAt), b = in.U16(valuesAt + 2), c = in.U16(valuesAt + 4);
            if (a != b || b != c || (a != 8 && a != 16))
                return Fail(kTiffBadBitsPerSample);
            bytesPerSample = a / 8u;
            break;
        }
        case 259:
            if (FieldValue(in, e) != 1)
                return Fail(kTiffOnlyUncompressed);
            break;
        case 273:
            offsets = e;
            haveOffsets = true;
            break;
        case 277:
            samplesPerPixel = FieldValue(in, e);
            break;
        case 279:
            counts = e;
            haveCounts = true;
            break;
        default:
            break;
        }
    }

    if (!haveWidth || !haveHeight || !haveOffsets || !haveCounts || samplesPerPixel != 3 ||
        (bytesPerSample != 1 && bytesPerSample != 2) || offsets.count != counts.count || offsets.count == 0)
        return Fail("No picture");
    if (width == 0 || height == 0)
        return Fail("No picture");

    // The file's pixel bytes must all come from inside the buffer, so their total is
    // bounded by its length; this also keeps the allocation below in proportion. The
    // pixel count is compared by division: width x height x 6 can pass 2^64 and wrap.
    if (width > 0x7fffffffu || height > 0x7fffffffu)
        return Fail("Strip outside the data");
    const uint64_t pixelCount = uint64_t{width} * height;  // below 2^62
    if (pixelCount > length / (3 * bytesPerSample))
        return Fail("Strip outside the data");
    const uint64_t needed = pixelCount * 3 * bytesPerSample;

    std::vector<uint8_t> raw(static_cast<size_t>(needed));
    uint64_t filled = 0;
    for (uint32_t s = 0; s < offsets.count && filled < needed; ++s) {
        uint32_t stripAt = 0, stripSize = 0;
        if (!ArrayValue(in, offsets, s, stripAt) || !ArrayValue(in, counts, s, stripSize))
            return Fail("Strip outside the data");
        const uint64_t take = std::min<uint64_t>(stripSize, needed - filled);
        if (!in.Holds(stripAt, take))
            return Fail("Strip outside the data");
        std::memcpy(raw.data() + filled, in.At(stripAt), static_cast<size_t>(take));
        filled += take;
    }
    if (filled < needed)
        return Fail("Strip too short");

    TiffImage img;
    img.width = static_cast<int>(width);
    img.height = static_cast<int>(height);
    if (bytesPerSample == 1) {
        img.pixels = std::move(raw);
    } else {
        // Keep the most significant byte of every sample.
        const size_t samples = raw.size() / 2;
        img.pixels.resize(samples);
        const size_t high = in.BigEndian() ? 0 : 1;
        for (size_t i = 0; i < samples; ++i)
            img.pixels[i] = raw[2 * i + high];
    }
    return img;
}
