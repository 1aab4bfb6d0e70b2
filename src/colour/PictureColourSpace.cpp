#include "colour/PictureColourSpace.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

namespace colour {

namespace {

constexpr uint16_t kTagIccProfile = 0x8773;     // InterColorProfile (TIFF)
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagColorSpace = 0xA001;
constexpr uint16_t kTagInteropIfd = 0xA005;
constexpr uint16_t kTagInteropIndex = 0x0001;
constexpr size_t kMaxEntries = 1000;            // more entries than any real directory holds

// What the Exif and TIFF tags say.
struct ExifMarks {
    std::optional<uint16_t> colorSpace;
    bool r03 = false;
    std::vector<uint8_t> icc;  // TIFF tag 34675
};

// Bounded reads of one TIFF block in its byte order.
class TiffBlock {
public:
    TiffBlock(const uint8_t* data, size_t length) : data_(data), length_(length) {}

    bool ReadHeader(uint32_t& firstIfd)
    {
        if (length_ < 8)
            return false;
        if (data_[0] == 'I' && data_[1] == 'I')
            little_ = true;
        else if (data_[0] == 'M' && data_[1] == 'M')
            little_ = false;
        else
            return false;
        uint16_t magic = 0;
        return U16(2, magic) && magic == 42 && U32(4, firstIfd);
    }

    bool U16(size_t at, uint16_t& v) const
    {
        if (at > length_ || length_ - at < 2)
            return false;
        const uint8_t* p = data_ + at;
        v = little_ ? static_cast<uint16_t>(p[0] | p[1] << 8) : static_cast<uint16_t>(p[0] << 8 | p[1]);
        return true;
    }
    bool U32(size_t at, uint32_t& v) const
    {
        if (at > length_ || length_ - at < 4)
            return false;
        const uint8_t* p = data_ + at;
        v = little_ ? (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24)
                    : (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]});
        return true;
    }
    bool Inside(size_t at, size_t count) const { return at <= length_ && count <= length_ - at; }
    const uint8_t* At(size_t at) const { return data_ + at; }

    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        size_t valueField;  // position of the 4-byte value field
    };
    // Calls visit(entry) for each entry of the directory at `offset` that lies inside.
    template <typename Visit>
    void ForEachEntry(uint32_t offset, Visit visit) const
    {
        uint16_t n = 0;
        if (!U16(offset, n))
            return;
        const size_t count = std::min<size_t>(n, kMaxEntries);
        for (size_t i = 0; i < count; ++i) {
            const size_t at = size_t{offset} + 2 + i * 12;
            Entry e{};
            if (!U16(at, e.tag) || !U16(at + 2, e.type) || !U32(at + 4, e.count) || !Inside(at + 8, 4))
                return;
            e.valueField = at + 8;
            visit(e);
        }
    }
    // A SHORT or LONG value of count 1.
    std::optional<uint32_t> Number(const Entry& e) const
    {
        if (e.count != 1)
            return std::nullopt;
        if (e.type == 3) {
            uint16_t v = 0;
            return U16(e.valueField, v) ? std::optional<uint32_t>(v) : std::nullopt;
        }
        if (e.type == 4 || e.type == 13) {
            uint32_t v = 0;
            return U32(e.valueField, v) ? std::optional<uint32_t>(v) : std::nullopt;
        }
        return std::nullopt;
    }
    // The bytes of an entry's value: in the value field up to 4 bytes, else at its offset.
    std::optional<std::pair<size_t, size_t>> Bytes(const Entry& e) const
    {
        size_t unit = 0;
        switch (e.type) {
        case 1: case 2: case 6: case 7: unit = 1; break;
        default: return std::nullopt;
        }
        const size_t size = size_t{e.count} * unit;
        if (size <= 4)
            return std::make_pair(e.valueField, size);
        uint32_t offset = 0;
        if (!U32(e.valueField, offset) || !Inside(offset, size))
            return std::nullopt;
        return std::make_pair(size_t{offset}, size);
    }

private:
    const uint8_t* data_;
    size_t length_;
    bool little_ = false;
};

void ReadTiffMarks(const uint8_t* data, size_t length, ExifMarks& marks, bool wantIcc)
{
    TiffBlock t(data, length);
    uint32_t ifd0 = 0;
    if (!t.ReadHeader(ifd0))
        return;
    std::optional<uint32_t> exifIfd;
    t.ForEachEntry(ifd0, [&](const TiffBlock::Entry& e) {
        if (e.tag == kTagExifIfd) {
            exifIfd = t.Number(e);
        } else if (e.tag == kTagIccProfile && wantIcc && marks.icc.empty()) {
            if (auto bytes = t.Bytes(e); bytes && bytes->second <= Profile::kMaxIccBytes)
                marks.icc.assign(t.At(bytes->first), t.At(bytes->first) + bytes->second);
        }
    });
    if (!exifIfd)
        return;
    std::optional<uint32_t> interopIfd;
    t.ForEachEntry(*exifIfd, [&](const TiffBlock::Entry& e) {
        if (e.tag == kTagColorSpace) {
            if (auto v = t.Number(e); v && *v <= 0xFFFF)
                marks.colorSpace = static_cast<uint16_t>(*v);
        } else if (e.tag == kTagInteropIfd) {
            interopIfd = t.Number(e);
        }
    });
    if (!interopIfd || *interopIfd == *exifIfd)
        return;
    t.ForEachEntry(*interopIfd, [&](const TiffBlock::Entry& e) {
        if (e.tag != kTagInteropIndex)
            return;
        if (auto bytes = t.Bytes(e); bytes && bytes->second >= 3)
            marks.r03 = std::memcmp(t.At(bytes->first), "R03", 3) == 0;
    });
}

// The APP2 "ICC_PROFILE" chunks of a JPEG, put together: every chunk from 1 to the
// announced count exactly once, all announcing the same count. Anything else is no
// profile.
class IccChunks {
public:
    void Add(const uint8_t* body, size_t size)
    {
        static const char kId[] = "ICC_PROFILE";  // with its terminating zero: 12 bytes
        if (size < 14 || std::memcmp(body, kId, sizeof kId) != 0)
            return;
        const uint8_t sequence = body[12], count = body[13];
        if (sequence == 0 || count == 0 || sequence > count || (count_ != 0 && count != count_) ||
            chunks_.count(sequence)) {
            broken_ = true;
            return;
        }
        count_ = count;
        total_ += size - 14;
        if (total_ > Profile::kMaxIccBytes) {
            broken_ = true;
            return;
        }
        chunks_[sequence].assign(body + 14, body + size);
    }
    std::vector<uint8_t> Assemble() const
    {
        std::vector<uint8_t> icc;
        if (broken_ || count_ == 0 || chunks_.size() != count_)
            return icc;
        icc.reserve(total_);
        for (const auto& [sequence, bytes] : chunks_)
            icc.insert(icc.end(), bytes.begin(), bytes.end());
        return icc;
    }

private:
    std::map<uint8_t, std::vector<uint8_t>> chunks_;
    uint8_t count_ = 0;
    size_t total_ = 0;
    bool broken_ = false;
};

// Walks the segments before the picture data: the first Exif APP1 and every ICC APP2.
void ReadJpegMarks(const uint8_t* data, size_t length, ExifMarks& marks)
{
    if (length < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return;
    IccChunks icc;
    bool exifSeen = false;
    size_t i = 2;
    while (i + 4 <= length) {
        if (data[i] != 0xFF)
            break;
        const uint8_t marker = data[i + 1];
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)  // the picture data starts: no metadata after it
            break;
        const size_t segment = size_t{data[i + 2]} << 8 | data[i + 3];
        if (segment < 2 || segment > length - i - 2)
            break;
        const uint8_t* body = data + i + 4;
        const size_t bodySize = segment - 2;
        if (marker == 0xE1 && !exifSeen && bodySize >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0) {
            exifSeen = true;
            ReadTiffMarks(body + 6, bodySize - 6, marks, false);
        } else if (marker == 0xE2) {
            icc.Add(body, bodySize);
        }
        i += 2 + segment;
    }
    marks.icc = icc.Assemble();
}

PictureColourSpace Decide(const ExifMarks& marks)
{
    if (!marks.icc.empty()) {
        if (auto profile = Profile::FromIcc(marks.icc))
            return PictureColourSpace{std::move(*profile), ColourSpaceSource::EmbeddedProfile};
    }
    if (marks.colorSpace == 1)
        return PictureColourSpace{Profile::Srgb(), ColourSpaceSource::ExifColorSpace};
    if (marks.colorSpace == 2)
        return PictureColourSpace{Profile::AdobeRgb(), ColourSpaceSource::ExifColorSpace};
    if (marks.colorSpace == 0xFFFF && marks.r03)
        return PictureColourSpace{Profile::AdobeRgb(), ColourSpaceSource::Interoperability};
    return PictureColourSpace{Profile::Srgb(), ColourSpaceSource::Default};
}

bool EndsWithNoCase(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = s[s.size() - n + i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != suffix[i])
            return false;
    }
    return true;
}

// The first `limit` bytes of a file (metadata sits at the start of every format read here).
std::optional<std::vector<uint8_t>> ReadHead(const std::string& path, size_t limit)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    char buf[65536];
    while (bytes.size() < limit && in.read(buf, static_cast<std::streamsize>(std::min(sizeof buf, limit - bytes.size()))),
           in.gcount() > 0)
        bytes.insert(bytes.end(), buf, buf + in.gcount());
    return bytes;
}

} // namespace

const char* PictureColourSpace::SourceText() const
{
    switch (source) {
    case ColourSpaceSource::ExifColorSpace: return "exif";
    case ColourSpaceSource::Interoperability: return "interoperability";
    case ColourSpaceSource::EmbeddedProfile: return "embedded profile";
    case ColourSpaceSource::Default: break;
    }
    return "default";
}

PictureColourSpace ReadPictureColourSpace(const uint8_t* data, size_t length)
{
    ExifMarks marks;
    if (data && length >= 8 &&
        ((data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0) ||
         (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42)))
        ReadTiffMarks(data, length, marks, true);
    else if (data)
        ReadJpegMarks(data, length, marks);
    return Decide(marks);
}

PictureColourSpace ReadPictureColourSpaceFromFile(const std::string& path)
{
    constexpr size_t kHead = 64u << 20;
    std::string file = path;
    if (EndsWithNoCase(path, ".crw")) {
        // The RAW's description is in its JPEG companion, named like the RAW file.
        const std::string stem = path.substr(0, path.size() - 3);
        const bool upper = path.back() == 'W';
        file = stem + (upper ? "THM" : "thm");
        if (!std::ifstream(file))
            file = stem + (upper ? "thm" : "THM");
    }
    const auto bytes = ReadHead(file, kHead);
    if (!bytes)
        return PictureColourSpace{};
    return ReadPictureColourSpace(bytes->data(), bytes->size());
}

} // namespace colour
