#include "tools/InfoJson.h"

#include "colour/PictureColourSpace.h"
#include "imaging/ImageInfo.h"

#include <cstdint>
#include <cstdio>

namespace infotool {

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 if there is none
// (overlong forms, surrogates and code points above U+10FFFF are not valid).
size_t Utf8SequenceLength(const std::string& s, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t b0 = byte(i);
    size_t n = 0;
    uint32_t cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < n)
        return 0;
    for (size_t k = 1; k < n; ++k) {
        const uint8_t b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (b & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

void AppendEscapedByte(std::string& out, uint8_t b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", b);
    out += buf;
}

} // namespace

std::string JsonString(const std::string& bytes)
{
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size();) {
        const uint8_t b = static_cast<uint8_t>(bytes[i]);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
            ++i;
        } else if (b < 0x20 || b == 0x7F) {
            AppendEscapedByte(out, b);
            ++i;
        } else if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
        } else if (const size_t n = Utf8SequenceLength(bytes, i)) {
            out.append(bytes, i, n);
            i += n;
        } else {
            AppendEscapedByte(out, b);
            ++i;
        }
    }
    out += '"';
    return out;
}

std::string ImageInfoJson(const ImageInfo& info, const colour::PictureColourSpace* space)
{
    std::string af45;
    for (uint8_t b : info.FortyFivePointAfBits()) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", b);
        af45 += buf;
    }
    std::string out = "{\"path\":" + JsonString(info.Path());
    out += ",\"model\":" + JsonString(info.Model());
    out += ",\"exposure\":" + JsonString(info.ExposureText());
    out += ",\"aperture\":" + JsonString(info.ApertureText());
    out += ",\"sevenPointAfMask\":" + std::to_string(info.SevenPointAfMask());
    out += ",\"threePointAfValue\":" + std::to_string(info.ThreePointAfValue());
    out += ",\"fortyFivePointAf\":\"" + af45 + "\"";
    out += ",\"rotation\":" + std::to_string(info.Rotation());
    if (space) {
        out += ",\"colourSpace\":" + JsonString(space->Name());
        out += ",\"colourSpaceSource\":" + JsonString(space->SourceText());
    }
    out += "}";
    return out;
}

} // namespace infotool
