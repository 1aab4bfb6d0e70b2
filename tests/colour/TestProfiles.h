// Colour profiles made on the spot with Little CMS's own API for the colour tests and
// benchmarks: the two named spaces defined from their published primaries, a wide-gamut
// matrix/curve monitor, a table-based monitor of the kind calibration tools write, and
// damaged profiles. Also the JPEG segments that mark a picture's colour space, and a
// reference transform computed by Little CMS in double precision.
// Test threads only; nothing blocks beyond the profile work.
#pragma once

#include <lcms2.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ExifBuilder.h"  // tests/imaging

namespace testprofiles {

using Bytes = std::vector<uint8_t>;

inline Bytes Save(cmsHPROFILE h)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(h, nullptr, &size);
    Bytes b(size);
    cmsSaveProfileToMem(h, b.data(), &size);
    cmsCloseProfile(h);
    return b;
}

inline void Describe(cmsHPROFILE h, const char* text)
{
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(mlu, "en", "US", text);
    cmsWriteTag(h, cmsSigProfileDescriptionTag, mlu);
    cmsMLUfree(mlu);
}

// A version 2 matrix/curve profile from a white point, three primaries and one gamma.
inline Bytes MatrixProfile(cmsCIExyY white, cmsCIExyYTRIPLE primaries, double gamma, const char* name)
{
    cmsToneCurve* g = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve* curves[3] = {g, g, g};
    cmsHPROFILE h = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(g);
    cmsSetProfileVersion(h, 2.1);
    Describe(h, name);
    return Save(h);
}

// Adobe RGB (1998) from its published definition.
inline Bytes AdobeRgb()
{
    return MatrixProfile({0.3127, 0.3290, 1.0}, {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}},
                         563.0 / 256.0, "Adobe RGB (1998)");
}

// sRGB as Little CMS builds it, saved as a file from another tool would be.
inline Bytes Srgb()
{
    cmsHPROFILE h = cmsCreate_sRGBProfile();
    cmsSetProfileVersion(h, 2.1);
    Describe(h, "sRGB IEC61966-2.1");
    return Save(h);
}

// A wide-gamut monitor: primaries close to the spectral locus, D65, gamma 2.2.
inline Bytes WideGamutMonitor()
{
    return MatrixProfile({0.3127, 0.3290, 1.0}, {{0.7347, 0.2653, 1.0}, {0.1152, 0.8264, 1.0}, {0.1566, 0.0177, 1.0}},
                         2.2, "Wide gamut monitor");
}

// A table-based display profile like those calibration tools write: RGB to Lab and back
// as sampled tables only (no primaries, no curves), made from a monitor whose red is a
// little weak. Version 4.
inline Bytes TableMonitor()
{
    cmsToneCurve* g = cmsBuildGamma(nullptr, 2.4);
    cmsToneCurve* curves[3] = {g, g, g};
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.68, 0.31, 1.0}, {0.20, 0.72, 1.0}, {0.15, 0.05, 1.0}};
    cmsHPROFILE device = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(g);
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(device, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC,
                                             cmsFLAGS_NOOPTIMIZE);
    cmsHTRANSFORM fromLab = cmsCreateTransform(lab, TYPE_Lab_16, device, TYPE_RGB_16, INTENT_RELATIVE_COLORIMETRIC,
                                               cmsFLAGS_NOOPTIMIZE);
    auto sample = [](const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) -> cmsInt32Number {
        cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), in, out, 1);
        return TRUE;
    };
    cmsPipeline* a2b = cmsPipelineAlloc(nullptr, 3, 3);
    cmsStage* a2bTable = cmsStageAllocCLut16bit(nullptr, 17, 3, 3, nullptr);
    cmsStageSampleCLut16bit(a2bTable, sample, toLab, 0);
    // Version 4 tables are written as curves, table, curves: identity curves around them.
    cmsPipelineInsertStage(a2b, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipelineInsertStage(a2b, cmsAT_END, a2bTable);
    cmsPipelineInsertStage(a2b, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipeline* b2a = cmsPipelineAlloc(nullptr, 3, 3);
    cmsStage* b2aTable = cmsStageAllocCLut16bit(nullptr, 33, 3, 3, nullptr);
    cmsStageSampleCLut16bit(b2aTable, sample, fromLab, 0);
    cmsPipelineInsertStage(b2a, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipelineInsertStage(b2a, cmsAT_END, b2aTable);
    cmsPipelineInsertStage(b2a, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));

    cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(h, 4.3);
    cmsSetDeviceClass(h, cmsSigDisplayClass);
    cmsSetColorSpace(h, cmsSigRgbData);
    cmsSetPCS(h, cmsSigLabData);
    Describe(h, "Calibrated table monitor");
    cmsWriteTag(h, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsWriteTag(h, cmsSigAToB0Tag, a2b);
    cmsWriteTag(h, cmsSigBToA0Tag, b2a);
    cmsPipelineFree(a2b);
    cmsPipelineFree(b2a);
    cmsDeleteTransform(toLab);
    cmsDeleteTransform(fromLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(device);
    return Save(h);
}

// Damaged profiles: cut short, and whole but with a curve tag's type overwritten.
inline Bytes TruncatedProfile()
{
    Bytes b = WideGamutMonitor();
    b.resize(b.size() / 2);
    return b;
}

inline Bytes ProfileWithBrokenCurve()
{
    Bytes b = WideGamutMonitor();
    // The tag table: count at 128, then 12-byte entries (signature, offset, size).
    const uint32_t count = uint32_t{b[128]} << 24 | uint32_t{b[129]} << 16 | uint32_t{b[130]} << 8 | b[131];
    for (uint32_t i = 0; i < count; ++i) {
        const size_t e = 132 + size_t{i} * 12;
        if (std::memcmp(&b[e], "rTRC", 4) == 0 || std::memcmp(&b[e], "gTRC", 4) == 0 ||
            std::memcmp(&b[e], "bTRC", 4) == 0) {
            const uint32_t offset = uint32_t{b[e + 4]} << 24 | uint32_t{b[e + 5]} << 16 | uint32_t{b[e + 6]} << 8 | b[e + 7];
            std::memcpy(&b[offset], "junk", 4);
        }
    }
    return b;
}

// The 8-bit result of `from` -> `to` computed by Little CMS in double precision, rounded.
class Reference {
public:
    Reference(const Bytes& from, const Bytes& to, bool relativeBpc)
    {
        in_ = cmsOpenProfileFromMem(from.data(), static_cast<cmsUInt32Number>(from.size()));
        out_ = cmsOpenProfileFromMem(to.data(), static_cast<cmsUInt32Number>(to.size()));
        t_ = cmsCreateTransform(in_, TYPE_RGB_DBL, out_, TYPE_RGB_DBL,
                                relativeBpc ? INTENT_RELATIVE_COLORIMETRIC : INTENT_PERCEPTUAL,
                                cmsFLAGS_NOOPTIMIZE | (relativeBpc ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0));
    }
    ~Reference()
    {
        if (t_)
            cmsDeleteTransform(t_);
        if (in_)
            cmsCloseProfile(in_);
        if (out_)
            cmsCloseProfile(out_);
    }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    bool Ok() const { return t_ != nullptr; }
    // Red, green, blue in; red, green, blue out.
    void Map(const uint8_t rgb[3], uint8_t out[3]) const
    {
        double in[3] = {rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0}, o[3];
        cmsDoTransform(t_, in, o, 1);
        for (int c = 0; c < 3; ++c) {
            const double v = o[c] < 0 ? 0 : o[c] > 1 ? 1 : o[c];
            out[c] = static_cast<uint8_t>(std::lround(v * 255.0));
        }
    }

private:
    cmsHPROFILE in_ = nullptr;
    cmsHPROFILE out_ = nullptr;
    cmsHTRANSFORM t_ = nullptr;
};

// ---- JPEG segments that mark the colour space

// Exif with ColorSpace (0 leaves the tag out) and, when `interop` is not empty, an
// interoperability directory with that index ("R03", "R98").
inline Bytes ExifColourMarks(uint16_t colorSpace, const std::string& interop, bool little = true)
{
    exiftest::ExifBuilder b(little);
    exiftest::Ifd exif;
    if (colorSpace != 0)
        exif.tags.push_back(b.Short(0xA001, colorSpace));
    if (!interop.empty()) {
        exiftest::Ifd iop;
        iop.tags.push_back(b.Ascii(0x0001, interop));
        iop.tags.push_back(b.Raw(0x0002, 7, 4, {'0', '1', '0', '0'}));
        exif.tags.push_back(b.Pointer(0xA005, iop));
    }
    exiftest::Ifd ifd0;
    ifd0.tags.push_back(b.Ascii(exiftest::kModel, "Canon EOS 10D"));
    ifd0.tags.push_back(b.Pointer(exiftest::kExifIfd, exif));
    return exiftest::ExifApp1(b.Tiff(ifd0));
}

// APP2 segments carrying `icc` in `chunks` pieces, numbered as `order` lists them
// (1-based; empty: in order).
inline std::vector<Bytes> IccSegments(const Bytes& icc, int chunks, std::vector<int> order = {})
{
    if (order.empty())
        for (int i = 1; i <= chunks; ++i)
            order.push_back(i);
    const size_t piece = (icc.size() + static_cast<size_t>(chunks) - 1) / static_cast<size_t>(chunks);
    std::vector<Bytes> out;
    for (int seq : order) {
        Bytes body = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, static_cast<uint8_t>(seq),
                      static_cast<uint8_t>(chunks)};
        const size_t begin = std::min(icc.size(), piece * static_cast<size_t>(seq - 1));
        const size_t end = std::min(icc.size(), begin + piece);
        body.insert(body.end(), icc.begin() + static_cast<std::ptrdiff_t>(begin),
                    icc.begin() + static_cast<std::ptrdiff_t>(end));
        out.push_back(exiftest::Segment(0xE2, body));
    }
    return out;
}

// `jpeg` (a whole JPEG file) with `segments` inserted right after its start-of-image.
inline Bytes WithSegments(const Bytes& jpeg, const std::vector<Bytes>& segments)
{
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    for (const Bytes& s : segments)
        out.insert(out.end(), s.begin(), s.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

} // namespace testprofiles
