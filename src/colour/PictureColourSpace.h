// PictureColourSpace: what the values of a picture's pixels mean, read from the picture
// itself, in this order:
//   1. an embedded ICC profile (JPEG APP2 "ICC_PROFILE" chunks, all present and in
//      order; the TIFF tag 34675), when Little CMS can use it as an RGB profile;
//   2. the Exif ColorSpace tag: 1 is sRGB; 0xFFFF ("uncalibrated") with the
//      interoperability index "R03" (the DCF option file, how Canon and Nikon bodies mark
//      Adobe RGB) is Adobe RGB, as is the value 2 some bodies write;
//   3. otherwise sRGB.
// A damaged or hostile profile counts as no profile: the Exif marks, then sRGB, decide.
// A RAW's embedded preview carries the RAW's own Exif marks (see camera/RawFiles), so it
// is read like any JPEG.
//
// Threads: any thread; no shared state. Every read is bounded by the buffer it is given;
// nothing is ever read past its end. Calls block only for parsing (and, for the file
// reader, reading the file).
#pragma once

#include "colour/ColourProfile.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace colour {

enum class ColourSpaceSource {
    Default,           // nothing in the picture said: sRGB
    ExifColorSpace,    // ColorSpace 1 (sRGB) or 2 (Adobe RGB)
    Interoperability,  // ColorSpace 0xFFFF with the interoperability index "R03"
    EmbeddedProfile,   // the picture's own ICC profile
};

struct PictureColourSpace {
    Profile profile;  // sRGB unless the picture says otherwise
    ColourSpaceSource source = ColourSpaceSource::Default;

    // "sRGB", "Adobe RGB (1998)" or the embedded profile's description.
    const std::string& Name() const { return profile.Name(); }
    // "default", "exif", "interoperability" or "embedded profile".
    const char* SourceText() const;
};

// The colour space of received bytes: a JPEG, or a TIFF of either byte order.
PictureColourSpace ReadPictureColourSpace(const uint8_t* data, size_t length);

// The colour space of a picture file: .jpg, .jpeg, .thm and TIFF-based files (.tif and
// the RAW files built on TIFF: .cr2, .nef, .dng, ...) are read from their own bytes, a
// .crw through its .thm companion. Anything unreadable is sRGB by default.
PictureColourSpace ReadPictureColourSpaceFromFile(const std::string& path);

} // namespace colour
