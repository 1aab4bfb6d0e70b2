#include "colour/ColourProfile.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace colour {

namespace {

void CloseProfile(void* h)
{
    if (h)
        cmsCloseProfile(static_cast<cmsHPROFILE>(h));
}

std::shared_ptr<void> Own(cmsHPROFILE h)
{
    return std::shared_ptr<void>(h, CloseProfile);
}

void SetDescription(cmsHPROFILE h, const char* text)
{
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    if (!mlu)
        return;
    cmsMLUsetASCII(mlu, "en", "US", text);
    cmsWriteTag(h, cmsSigProfileDescriptionTag, mlu);
    cmsMLUfree(mlu);
}

// The named profiles are version 2 matrix/curve profiles, as most display profiles are:
// Little CMS then treats the black point alike on both sides for every intent.
cmsHPROFILE MakeSrgb()
{
    cmsHPROFILE h = cmsCreate_sRGBProfile();
    if (h) {
        cmsSetProfileVersion(h, 2.1);
        SetDescription(h, "sRGB");
    }
    return h;
}

cmsHPROFILE MakeAdobeRgb()
{
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
    if (!gamma)
        return nullptr;
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE h = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(gamma);
    if (h) {
        cmsSetProfileVersion(h, 2.1);
        SetDescription(h, "Adobe RGB (1998)");
    }
    return h;
}

std::string Description(cmsHPROFILE h)
{
    char text[256] = {};
    const cmsUInt32Number n = cmsGetProfileInfoASCII(h, cmsInfoDescription, "en", "US", text, sizeof text);
    std::string s = n > 0 ? std::string(text) : std::string();
    // Control characters from a profile never reach a caption or a JSON line raw.
    std::replace_if(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s.empty() ? "profile" : s;
}

std::string HashKey(const uint8_t* data, size_t size)
{
    uint64_t h = 1469598103934665603ull;  // FNV-1a, 64 bits
    for (size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 1099511628211ull;
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "icc:%016llx:%zu", static_cast<unsigned long long>(h), size);
    return buf;
}

bool HasTables(cmsHPROFILE h)
{
    static const cmsTagSignature kTables[] = {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag, cmsSigBToA0Tag,
                                              cmsSigBToA1Tag, cmsSigBToA2Tag, cmsSigDToB0Tag, cmsSigBToD0Tag};
    for (cmsTagSignature t : kTables) {
        if (cmsIsTag(h, t))
            return true;
    }
    return false;
}

// A profile is usable when Little CMS can join it to sRGB both ways: that reads every tag
// a display transform needs, so damaged curves or tables show here, not later.
bool JoinsWithSrgb(cmsHPROFILE h)
{
    cmsHPROFILE srgb = MakeSrgb();
    if (!srgb)
        return false;
    bool ok = true;
    for (int direction = 0; direction < 2 && ok; ++direction) {
        cmsHTRANSFORM t = direction == 0
                              ? cmsCreateTransform(h, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE)
                              : cmsCreateTransform(srgb, TYPE_RGB_8, h, TYPE_RGB_8, INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
        ok = t != nullptr;
        if (t)
            cmsDeleteTransform(t);
    }
    cmsCloseProfile(srgb);
    return ok;
}

const cmsCIEXYZ* Colorant(cmsHPROFILE h, int c)
{
    static const cmsTagSignature kTags[] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    return static_cast<const cmsCIEXYZ*>(cmsReadTag(h, kTags[c]));
}

const cmsToneCurve* Curve(cmsHPROFILE h, int c)
{
    static const cmsTagSignature kTags[] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    return static_cast<const cmsToneCurve*>(cmsReadTag(h, kTags[c]));
}

} // namespace

Profile::Profile() : Profile(Srgb()) {}

Profile::Profile(std::shared_ptr<void> handle, std::string key, std::string name, std::vector<uint8_t> icc)
    : handle_(std::move(handle)), key_(std::move(key)), name_(std::move(name)), icc_(std::move(icc))
{
}

Profile Profile::Srgb()
{
    return Profile(Own(MakeSrgb()), "sRGB", "sRGB", {});
}

Profile Profile::AdobeRgb()
{
    return Profile(Own(MakeAdobeRgb()), "Adobe RGB (1998)", "Adobe RGB (1998)", {});
}

std::optional<Profile> Profile::FromIcc(const uint8_t* data, size_t size, std::string* reason)
{
    auto refuse = [&](const char* why) -> std::optional<Profile> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    if (!data || size < 132)
        return refuse("it is too short to be a colour profile");
    if (size > kMaxIccBytes)
        return refuse("it is too large to be a colour profile");
    // The header's signatures, read from the bytes (big-endian): the device class at 12,
    // the colour space at 16, the connection space at 20. Any 32-bit value may stand there.
    auto signature = [&](size_t at) {
        return uint32_t{data[at]} << 24 | uint32_t{data[at + 1]} << 16 | uint32_t{data[at + 2]} << 8 | data[at + 3];
    };
    const uint32_t cls = signature(12), space = signature(16), pcs = signature(20);
    if (signature(36) != static_cast<uint32_t>(cmsMagicNumber))  // "acsp": an ICC profile at all
        return refuse("it is not a colour profile that can be read");
    if (space != static_cast<uint32_t>(cmsSigRgbData) ||
        (pcs != static_cast<uint32_t>(cmsSigXYZData) && pcs != static_cast<uint32_t>(cmsSigLabData)))
        return refuse("it does not describe RGB colours");
    if (cls != static_cast<uint32_t>(cmsSigDisplayClass) && cls != static_cast<uint32_t>(cmsSigInputClass) &&
        cls != static_cast<uint32_t>(cmsSigOutputClass) && cls != static_cast<uint32_t>(cmsSigColorSpaceClass))
        return refuse("it is not a display, input or colour-space profile");
    cmsHPROFILE h = cmsOpenProfileFromMem(data, static_cast<cmsUInt32Number>(size));
    if (!h)
        return refuse("it is not a colour profile that can be read");
    std::shared_ptr<void> owned = Own(h);
    if (!JoinsWithSrgb(h))
        return refuse("it is damaged");
    return Profile(std::move(owned), HashKey(data, size), Description(h), std::vector<uint8_t>(data, data + size));
}

std::optional<Profile> Profile::FromFile(const std::string& path, std::string* reason)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (reason)
            *reason = "the file cannot be opened";
        return std::nullopt;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < 0 || static_cast<uint64_t>(length) > kMaxIccBytes) {
        if (reason)
            *reason = length < 0 ? "the file cannot be read" : "it is too large to be a colour profile";
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    in.seekg(0, std::ios::beg);
    if (!bytes.empty() && !in.read(reinterpret_cast<char*>(bytes.data()), length)) {
        if (reason)
            *reason = "the file cannot be read";
        return std::nullopt;
    }
    return FromIcc(bytes, reason);
}

bool Profile::IsMatrixShaper() const
{
    auto h = static_cast<cmsHPROFILE>(Handle());
    return h && cmsIsMatrixShaper(h) && !HasTables(h);
}

bool Profile::SameColoursAs(const Profile& other) const
{
    if (key_ == other.key_)
        return true;
    if (!IsMatrixShaper() || !other.IsMatrixShaper())
        return false;
    auto a = static_cast<cmsHPROFILE>(Handle());
    auto b = static_cast<cmsHPROFILE>(other.Handle());
    for (int c = 0; c < 3; ++c) {
        const cmsCIEXYZ* ca = Colorant(a, c);
        const cmsCIEXYZ* cb = Colorant(b, c);
        const cmsToneCurve* ta = Curve(a, c);
        const cmsToneCurve* tb = Curve(b, c);
        if (!ca || !cb || !ta || !tb)
            return false;
        // Profiles written by different tools round the primaries differently.
        if (std::fabs(ca->X - cb->X) > 0.002 || std::fabs(ca->Y - cb->Y) > 0.002 || std::fabs(ca->Z - cb->Z) > 0.002)
            return false;
        // Half a step of an 8-bit value anywhere along the curve.
        for (int i = 0; i <= 255; ++i) {
            const float x = static_cast<float>(i) / 255.0f;
            if (std::fabs(cmsEvalToneCurveFloat(ta, x) - cmsEvalToneCurveFloat(tb, x)) > 0.5f / 255.0f)
                return false;
        }
    }
    return true;
}

std::vector<uint8_t> Profile::IccBytes() const
{
    if (!icc_.empty())
        return icc_;
    auto h = static_cast<cmsHPROFILE>(Handle());
    cmsUInt32Number size = 0;
    if (!h || !cmsSaveProfileToMem(h, nullptr, &size) || size == 0)
        return {};
    std::vector<uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(h, bytes.data(), &size))
        return {};
    bytes.resize(size);
    return bytes;
}

} // namespace colour
