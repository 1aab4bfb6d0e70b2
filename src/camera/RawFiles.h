// RawFiles: what the release thread needs to know about a RAW item it received: which form
// it is in (the CRW heap, the uncompressed big-endian TIFF some Canon bodies send, or the
// RAW of a newer body) and, for a newer body's RAW, its file extension and the largest JPEG
// preview embedded in it (read with Exiv2), which is what the program displays and
// describes for such a picture.
//
// Threads: any thread; no shared state. Calls block only for parsing the bytes in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class RawForm {
    Crw,        // CIFF heap ("HEAPCCDR"): saved as CRW, previews walked by CrwPreviews
    CanonTiff,  // big-endian uncompressed TIFF of the older professional bodies: saved as TIF
    Other,      // a newer body's RAW: saved under RawExtension, shown from its JPEG preview
};

struct RawKind {
    RawForm form = RawForm::Other;
    std::string extension;  // upper case, no dot: "CRW", "TIF", "CR2", "NEF", "ARW", "DNG", ...
};

// By the bytes' signature and, for TIFF-based files, the camera make and the DNG version
// tag. A RAW this cannot place is "Other" with the extension "DNG" when it carries a DNG
// version, else "TIF".
RawKind ClassifyRaw(const std::vector<uint8_t>& bytes);

// The largest JPEG preview embedded in the file (by pixel count); empty when there is none
// or the file cannot be read.
std::vector<uint8_t> LargestJpegPreview(const std::vector<uint8_t>& bytes);

// The largest JPEG preview, carrying the RAW file's own description (make, model,
// orientation, date, exposure: the Exif image and photo tags) when the preview has no Exif
// block of its own, as the big previews of CR2 and NEF files do not. So the program's
// reader describes the picture and the display turns it as the camera was held. The
// preview's values are in the RAW's colour space, so it always carries the RAW's colour
// space marks (ColorSpace, interoperability index) when the RAW has them, also over an
// Exif block of its own. Empty when there is no preview; the bare preview when the
// description cannot be added.
std::vector<uint8_t> DescribedJpegPreview(const std::vector<uint8_t>& bytes);
