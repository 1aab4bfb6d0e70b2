// A tiny writer of synthetic Exif data for the reader's tests and fuzz seeds: TIFF
// directories with tags, nested directories (Exif sub-directory, maker note) and the JPEG
// wrapping of an APP1 Exif segment. Test threads only; nothing blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace exiftest {

using Bytes = std::vector<uint8_t>;

struct Ifd;

struct Tag {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    Bytes valueField = Bytes(4, 0); // the 4 bytes of the value field, used when nothing else is
    Bytes external;                 // written after the directory; the value field points at it
    bool hasExternal = false;
    std::shared_ptr<Ifd> child;     // a directory written after this one; the value field points at it
};

struct Ifd {
    std::vector<Tag> tags;
};

class ExifBuilder {
public:
    explicit ExifBuilder(bool little) : little_(little) {}

    bool Little() const { return little_; }

    Bytes U16(uint16_t v) const
    {
        return little_ ? Bytes{uint8_t(v), uint8_t(v >> 8)} : Bytes{uint8_t(v >> 8), uint8_t(v)};
    }
    Bytes U32(uint32_t v) const
    {
        return little_ ? Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}
                       : Bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    }

    // ASCII with its terminating zero (count includes it); short texts lie in the value field.
    Tag Ascii(uint16_t tag, const std::string& text) const
    {
        Bytes b(text.begin(), text.end());
        b.push_back(0);
        return Raw(tag, 2, uint32_t(b.size()), b);
    }
    // One SHORT: its value in the first two bytes of the value field.
    Tag Short(uint16_t tag, uint16_t v) const
    {
        Tag t = Make(tag, 3, 1);
        t.valueField = U16(v);
        t.valueField.resize(4, 0);
        return t;
    }
    Tag Shorts(uint16_t tag, const std::vector<uint16_t>& values) const
    {
        Bytes b;
        for (uint16_t v : values)
            Append(b, U16(v));
        return Raw(tag, 3, uint32_t(values.size()), b);
    }
    Tag Rational(uint16_t tag, uint32_t num, uint32_t den, uint16_t type = 5) const
    {
        Bytes b = U32(num);
        Append(b, U32(den));
        return Raw(tag, type, 1, b);
    }
    Tag Undefined(uint16_t tag, const Bytes& bytes) const
    {
        return Raw(tag, 7, uint32_t(bytes.size()), bytes);
    }
    // A tag whose value field holds exactly these four bytes.
    Tag ValueField(uint16_t tag, uint16_t type, uint32_t count, const Bytes& field) const
    {
        Tag t = Make(tag, type, count);
        t.valueField = field;
        return t;
    }
    Tag Pointer(uint16_t tag, const Ifd& child) const
    {
        Tag t = Make(tag, 4, 1);
        t.child = std::make_shared<Ifd>(child);
        return t;
    }
    // Values longer than 4 bytes go after the directory; shorter ones in the value field.
    Tag Raw(uint16_t tag, uint16_t type, uint32_t count, const Bytes& data) const
    {
        Tag t = Make(tag, type, count);
        if (data.size() <= 4) {
            t.valueField = data;
            t.valueField.resize(4, 0);
        } else {
            t.external = data;
            t.hasExternal = true;
        }
        return t;
    }

    // A whole TIFF block: header, then the first directory at offset 8.
    Bytes Tiff(const Ifd& first) const
    {
        Bytes out = little_ ? Bytes{'I', 'I'} : Bytes{'M', 'M'};
        Append(out, U16(42));
        Append(out, U32(8));
        WriteIfd(out, first);
        return out;
    }

    static void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

private:
    static Tag Make(uint16_t tag, uint16_t type, uint32_t count)
    {
        Tag t;
        t.tag = tag;
        t.type = type;
        t.count = count;
        return t;
    }

    void Put(Bytes& out, size_t pos, const Bytes& b) const
    {
        for (size_t i = 0; i < b.size(); ++i)
            out[pos + i] = b[i];
    }

    void WriteIfd(Bytes& out, const Ifd& ifd) const
    {
        const size_t start = out.size();
        Append(out, U16(uint16_t(ifd.tags.size())));
        for (const Tag& t : ifd.tags) {
            Append(out, U16(t.tag));
            Append(out, U16(t.type));
            Append(out, U32(t.count));
            Append(out, t.valueField);
        }
        Append(out, U32(0)); // no next directory
        for (size_t i = 0; i < ifd.tags.size(); ++i) {
            const Tag& t = ifd.tags[i];
            const size_t valuePos = start + 2 + 12 * i + 8;
            if (out.size() % 2)
                out.push_back(0);
            if (t.child) {
                Put(out, valuePos, U32(uint32_t(out.size())));
                WriteIfd(out, *t.child);
            } else if (t.hasExternal) {
                Put(out, valuePos, U32(uint32_t(out.size())));
                Append(out, t.external);
            }
        }
    }

    bool little_;
};

// A JPEG: start of image, the given segments in order, a small quantisation-table
// segment and end of image.
inline Bytes Segment(uint8_t marker, const Bytes& body)
{
    Bytes s{0xFF, marker, uint8_t((body.size() + 2) >> 8), uint8_t(body.size() + 2)};
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

inline Bytes ExifApp1(const Bytes& tiff)
{
    Bytes body{'E', 'x', 'i', 'f', 0, 0};
    body.insert(body.end(), tiff.begin(), tiff.end());
    return Segment(0xE1, body);
}

inline Bytes Jpeg(const std::vector<Bytes>& segments)
{
    Bytes out{0xFF, 0xD8};
    for (const Bytes& s : segments)
        out.insert(out.end(), s.begin(), s.end());
    const Bytes dqt = Segment(0xDB, Bytes(65, 1));
    out.insert(out.end(), dqt.begin(), dqt.end());
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

// Maker-note tag numbers and the main tag numbers the reader looks at.
constexpr uint16_t kModel = 272;
constexpr uint16_t kOrientation = 274;
constexpr uint16_t kExifIfd = 34665;
constexpr uint16_t kExposureTime = 33434;
constexpr uint16_t kFNumber = 33437;
constexpr uint16_t kMakerNote = 37500;
constexpr uint16_t kCameraSettings = 4;
constexpr uint16_t kAfInfo = 18;
constexpr uint16_t kAf45 = 148;

// A picture as a camera of the family writes it: model, orientation, exposure 1/125,
// f/5.6 and a maker note with all three focus-point fields.
inline Bytes TypicalTiff(bool little, uint16_t orientation = 6)
{
    ExifBuilder b(little);
    std::vector<uint16_t> settings(40, 0);
    settings[14] = 0x3003;
    std::vector<uint16_t> afInfo(30, 0);
    afInfo[22] = 0x0041;
    Ifd maker{{b.Shorts(kCameraSettings, settings), b.Shorts(kAfInfo, afInfo),
               b.Undefined(kAf45, {1, 2, 3, 4, 5, 6, 7, 0x80})}};
    Tag makerNote = b.Pointer(kMakerNote, maker);
    makerNote.type = 7; // the maker note is an UNDEFINED block holding a bare directory
    Ifd exif{{b.Rational(kExposureTime, 1, 125), b.Rational(kFNumber, 56, 10), makerNote}};
    Ifd first{{b.Ascii(kModel, "Canon EOS 10D"), b.Short(kOrientation, orientation), b.Pointer(kExifIfd, exif)}};
    return b.Tiff(first);
}

} // namespace exiftest
