// One line of JSON describing an ImageInfo record, for the tethrocam-info tool.
// Pure functions: any thread may call them; nothing blocks.
#pragma once

#include <string>

class ImageInfo;
namespace colour {
struct PictureColourSpace;
}

namespace infotool {

// A JSON string literal (with its quotes) for bytes that may not be UTF-8: valid UTF-8
// passes through, quote and backslash are escaped, and control bytes and bytes that are
// not part of a valid UTF-8 sequence become \u00XX.
std::string JsonString(const std::string& bytes);

// {"path":...,"model":...,"exposure":...,"aperture":...,"sevenPointAfMask":N,
//  "threePointAfValue":N,"fortyFivePointAf":"<16 hex digits>","rotation":N}
// and, when the colour space is given, before the closing brace:
//  ,"colourSpace":"sRGB"|"Adobe RGB (1998)"|<the embedded profile's description>,
//  "colourSpaceSource":"default"|"exif"|"interoperability"|"embedded profile"
std::string ImageInfoJson(const ImageInfo& info, const colour::PictureColourSpace* space = nullptr);

} // namespace infotool
