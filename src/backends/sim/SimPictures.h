// SimPictures: the picture files the simulated camera hands over, generated on the fly:
// JPEG pictures and their 160 x 120 THM thumbnails with Canon-style Exif data, RAW
// pictures in the CRW (CIFF heap) form with a JPEG preview inside, and uncompressed
// big-endian RGB TIFF pictures.
//
// Every picture shows the same recognisable scene (colour bars with a clipped pure-white
// bar, a grey ramp, a few shapes including a clipped white disc, and the frame number in
// big blocky digits). The output is a pure function of the parameters: the same
// SimPictureParams give the same bytes (the capture time is a parameter, converted to
// the Exif date with local time).
//
// Threads: any thread; the functions share no state. Calls block only for the encoding
// work (a 3072 x 2048 JPEG takes a few tens of milliseconds). A size outside
// 1..kMaxSimPictureSide throws std::invalid_argument; nothing else throws except
// std::bad_alloc.
//
// Picture sizes by model (size codes 0 large, 1 medium, 2 small; the CRW preview is the
// JPEG kept inside a RAW file):
//
//   | Model text contains                   | Large     | Medium    | Small     | CRW preview |
//   |---------------------------------------|-----------|-----------|-----------|-------------|
//   | "eos-1ds"                             | 4064x2704 | 2032x1352 | 1536x1024 | 1536x1024   |
//   | "eos-1d"                              | 2464x1648 | 1232x824  | 1232x824  | 1232x824    |
//   | "eos 10d"                             | 3072x2048 | 2048x1360 | 1536x1024 | 1536x1024   |
//   | "eos 300d", "digital rebel", "kiss"   | 3072x2048 | 2048x1360 | 1536x1024 | 1536x1024   |
//   | "eos d60"                             | 3072x2048 | 2048x1360 | 1536x1024 | 1536x1024   |
//   | "eos d30" (no medium size: as small)  | 2160x1440 | 1080x720  | 1080x720  | 1080x720    |
//   | anything else                         | as the EOS 10D                                  |
//
// Matching is on the lower-cased model text, first matching row wins. Quality codes 2 (normal) and 3 (fine) encode at JPEG
// quality 75 and 92 (JpegQualityForCode).
//
// Exif block (APP1, directly after SOI; little-endian "II" TIFF data like Canon bodies):
//   IFD0:     Make "Canon", Model, Orientation, X/YResolution 180/1, ResolutionUnit 2,
//             DateTime, Exif IFD pointer.
//   Exif IFD: ExposureTime, FNumber (nominal values of the Tv/Av codes, see below),
//             ExifVersion "0220", DateTimeOriginal, ExposureBiasValue (of the exposure
//             compensation code: ExposureBiasForCode), SubjectDistance (only when the lens's
//             focus position is given: SubjectDistanceForFocus), MakerNote, ColorSpace 1,
//             PixelXDimension, PixelYDimension. An Adobe RGB picture (adobeRgb) has
//             ColorSpace 0xFFFF and an interoperability directory after the maker note:
//             InteroperabilityIndex "R03", InteroperabilityVersion "0100"; its pixels are
//             the scene's sRGB colours in Adobe RGB values. The same holds for its
//             thumbnail, its CRW preview and its TIFF (whose Exif IFD then adds
//             ColorSpace and the interoperability directory).
//   MakerNote: a bare IFD (no header), offsets relative to the TIFF header start:
//             tag 4  SHORT[34]  shot information; element 14 = the three-point AF value
//             tag 6  ASCII      image type ("IMG:" model " JPEG")
//             tag 8  LONG       file number (100 * 10000 + frame number)
//             tag 18 SHORT[48]  AF information; element 22 = the seven-point AF mask
//             tag 148 UNDEFINED[8] 45-point AF bytes (only when hasFortyFivePointAf)
//
// TIFF layout (MakeSimTiff, big-endian "MM\0*"):
//   0        header, first directory at offset 8
//   8        IFD0: ImageWidth, ImageLength, BitsPerSample (8,8,8), Compression 1,
//            Photometric 2, Make, Model, StripOffsets, Orientation, SamplesPerPixel 3,
//            RowsPerStrip, StripByteCounts, X/YResolution, PlanarConfiguration 1,
//            ResolutionUnit 2, Exif IFD pointer; then its out-of-line values
//   ...      Exif IFD: ExposureTime, FNumber, DateTimeOriginal; then its values
//   < 512    the single strip: width * height * 3 bytes, RGB, rows top first, unpadded.
// The strip therefore lies within the first 204800 bytes whenever
// width * height * 3 <= 204288 (for example the 160 x 106 preview size).
//
// CRW layout (MakeSimCrw; all numbers little-endian):
//   0   "II", 32-bit heap start H = 26, "HEAPCCDR", version 0x00010002, 8 zero bytes
//   26  heap: raw-data entry 0x2005 (rawDataBytes pseudo-random bytes), JPEG preview
//       entry 0x2007, image-properties subdirectory 0x300a holding a camera subdirectory
//       0x2807 with the make/model record 0x080a ("Canon\0" model "\0"), then the root
//       directory: 16-bit count, 10-byte entries (16-bit tag, 32-bit length, 32-bit offset
//       relative to H); the last 4 bytes of the file give the directory's offset from H.
//   Subdirectories are heaps of the same form, their offsets relative to their own start.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr int kMaxSimPictureSide = 8192;

// Picture sizes of one model, indexed by size code (0 large, 1 medium, 2 small).
struct SimModelSizes {
    std::array<int, 3> width{};
    std::array<int, 3> height{};
    int crwPreviewWidth = 0;
    int crwPreviewHeight = 0;
};

SimModelSizes SizesForModel(const std::string& model);

// JPEG quality for an image-quality code: 3 (fine) gives 92, anything else 75.
int JpegQualityForCode(int qualityCode);

struct SimPictureParams {
    std::string model = "Canon EOS 10D";  // as the camera reports it; written as Exif Model
    int width = 3072;
    int height = 2048;
    int jpegQuality = 92;                 // 1..100
    uint16_t tvCode = 0x70;               // 1/125 s
    uint16_t avCode = 0x30;               // f/5.6
    int exifOrientation = 1;              // 1..8 written as is; anything else writes 1
    uint16_t threePointAf = 0;            // maker note tag 4, element 14
    uint16_t sevenPointAfMask = 0;        // maker note tag 18, element 22
    bool hasFortyFivePointAf = false;     // writes maker note tag 148
    std::array<uint8_t, 8> fortyFivePointAf{};
    int64_t captureTime = 0;              // seconds since 1970; local time in the Exif dates
    uint32_t seed = 1;                    // varies shapes and tints
    uint32_t frameNumber = 1;             // drawn into the picture; maker-note file number
    int focusPosition = -1;               // the lens's focus position (0 nearest); -1: none written
    uint16_t expCompCode = 0x18;          // exposure compensation code (0x18 none)
    bool adobeRgb = false;                // recorded in Adobe RGB (see the Exif block above)
};

// The full picture: a baseline JPEG of width x height with the Exif block.
std::vector<uint8_t> MakeSimJpeg(const SimPictureParams& params);

// The THM thumbnail: a 160 x 120 JPEG (the scene letterboxed to 160 x 106 between black
// bands) with the same Exif block as the full picture.
std::vector<uint8_t> MakeSimThumbnail(const SimPictureParams& params);

// A RAW picture in CRW form. Its 0x2007 entry holds a JPEG with the same Exif block, of
// the model's CRW preview size, or of params.width x params.height when that is smaller
// in both directions; the 0x2005 entry holds rawDataBytes pseudo-random bytes (a real
// body writes about 6 MB there).
std::vector<uint8_t> MakeSimCrw(const SimPictureParams& params, size_t rawDataBytes = 256 * 1024);

// An uncompressed 8-bit RGB TIFF of width x height in big-endian byte order; Model,
// Orientation, ExposureTime and FNumber as in the JPEG. Layout: see the table above.
std::vector<uint8_t> MakeSimTiff(const SimPictureParams& params, int width, int height);

// Exposure values of the camera's Tv and Av codes, as the labels of the shutter-speed and
// aperture lists name them (0x70 -> 1/125 s, 0x38 -> 1 s, 0x45 -> 0.3 s; 0x30 -> f/5.6).
// Codes of the fine and the coarse lists are exact; any other code takes the value of the
// nearest listed code (the lower one on a tie), so bulb (0x04) and codes below 0x10 give
// 30 s and codes above 0x98 give 1/4000 s; Av codes below 0x08 give f/1.0 and above 0x70
// f/91. "Auto" (0xFFFF) gives 1/125 s and f/5.6, the simulated program line.
struct ExifRational {
    uint32_t numerator = 0;
    uint32_t denominator = 1;
    double Value() const { return denominator == 0 ? 0.0 : static_cast<double>(numerator) / denominator; }
};
ExifRational TvCodeToExposureRational(uint16_t code);
// Exif SubjectDistance for a focus position of the simulated lens: 0.45 m at the nearest
// position and 50 mm more for every position towards infinity, in millimetres over 1000
// (equal focus steps give equally spaced distances; a negative position counts as 0).
ExifRational SubjectDistanceForFocus(int focusPosition);
// Exif ExposureBiasValue of an exposure compensation code, in lowest terms: 0x18 is 0/1,
// 0x1D (-2/3) is -2/3, 0x10 (+1) is 1/1; thirds and halves exact, other codes in eighths.
struct ExposureBias {
    int32_t numerator = 0;
    int32_t denominator = 1;
};
ExposureBias ExposureBiasForCode(uint16_t code);
ExifRational AvCodeToFNumberRational(uint16_t code);
double TvCodeToSeconds(uint16_t code);
double AvCodeToFNumber(uint16_t code);

// Focus points used, from the focus-point selection setting (low 4 bits: 1 automatic,
// 7 top, 6 far left, 4 left, 3 centre, 2 right, 5 far right, 8 bottom). Automatic
// selection picks one point from the seed. Seven-point bodies: the mask of maker-note
// tag 18 (0x40 far left, 0x20 left, 0x08 centre, 0x02 right, 0x01 far right, 0x10 top,
// 0x04 bottom); an unknown code gives the centre. Three-point bodies: the value of
// maker-note tag 4 (0x3000 plus 4 left, 2 centre, 1 right); codes of points these bodies
// lack give the centre.
uint16_t SevenPointAfMaskFor(uint16_t afPointSetting, uint32_t seed);
uint16_t ThreePointAfValueFor(uint16_t afPointSetting, uint32_t seed);
// The 45-point AF bytes naming the centre point alone.
std::array<uint8_t, 8> FortyFivePointAfCentre();

} // namespace sim
