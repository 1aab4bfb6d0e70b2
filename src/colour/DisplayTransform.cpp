#include "colour/DisplayTransform.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace colour {

namespace {

// Linear light is carried as a float scaled to kLinearScale; its integer part indexes the
// tables back to the monitor's curve: below kFineSize directly (the darks, where a curve
// like gamma 2.2 is steepest), above it in steps of 1 << kCoarseShift.
constexpr int kLinearBits = 20;
constexpr float kLinearScale = static_cast<float>(1 << kLinearBits);
constexpr int kLinearMax = (1 << kLinearBits) - 1;
constexpr int kFineSize = 1 << 14;
constexpr int kCoarseShift = kLinearBits - 14;

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

// Columns: the red, green and blue primaries in the profile connection space.
bool ColorantMatrix(cmsHPROFILE h, double m[9])
{
    for (int c = 0; c < 3; ++c) {
        const cmsCIEXYZ* xyz = Colorant(h, c);
        if (!xyz)
            return false;
        m[0 * 3 + c] = xyz->X;
        m[1 * 3 + c] = xyz->Y;
        m[2 * 3 + c] = xyz->Z;
    }
    return true;
}

bool Invert(const double a[9], double out[9])
{
    const double det = a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6]) +
                       a[2] * (a[3] * a[7] - a[4] * a[6]);
    if (!std::isfinite(det) || std::fabs(det) < 1e-9)
        return false;
    out[0] = (a[4] * a[8] - a[5] * a[7]) / det;
    out[1] = (a[2] * a[7] - a[1] * a[8]) / det;
    out[2] = (a[1] * a[5] - a[2] * a[4]) / det;
    out[3] = (a[5] * a[6] - a[3] * a[8]) / det;
    out[4] = (a[0] * a[8] - a[2] * a[6]) / det;
    out[5] = (a[2] * a[3] - a[0] * a[5]) / det;
    out[6] = (a[3] * a[7] - a[4] * a[6]) / det;
    out[7] = (a[1] * a[6] - a[0] * a[7]) / det;
    out[8] = (a[0] * a[4] - a[1] * a[3]) / det;
    return true;
}

bool IsVersion4(cmsHPROFILE h)
{
    return cmsGetEncodedICCversion(h) >= 0x4000000;
}

} // namespace

struct DisplayTransform::Matrix {
    float linear[3][256];           // red, green, blue code -> linear light * kLinearScale
    float m[9];                     // picture's linear RGB -> monitor's linear RGB
    uint8_t fine[3][kFineSize];     // monitor code for linear light i (i < kFineSize)
    uint8_t coarse[3][kFineSize];   // monitor code for linear light i >> kCoarseShift
    int red = 2, green = 1, blue = 0;  // byte positions within a pixel
    int step = 3;                      // bytes a pixel

    uint8_t Encode(int channel, float x) const
    {
        const int i = static_cast<int>(std::clamp(x, 0.0f, static_cast<float>(kLinearMax)));
        return i < kFineSize ? fine[channel][i] : coarse[channel][i >> kCoarseShift];
    }

    void Row(uint8_t* p, int width) const
    {
        const float m0 = m[0], m1 = m[1], m2 = m[2], m3 = m[3], m4 = m[4], m5 = m[5], m6 = m[6], m7 = m[7],
                    m8 = m[8];
        const int ri = red, gi = green, bi = blue, n = step;
        for (int i = 0; i < width; ++i, p += n) {
            const float r = linear[0][p[ri]], g = linear[1][p[gi]], b = linear[2][p[bi]];
            const float x = m0 * r + m1 * g + m2 * b;
            const float y = m3 * r + m4 * g + m5 * b;
            const float z = m6 * r + m7 * g + m8 * b;
            p[ri] = Encode(0, x);
            p[gi] = Encode(1, y);
            p[bi] = Encode(2, z);
        }
    }
};

std::unique_ptr<DisplayTransform::Matrix> DisplayTransform::MakeMatrix(const Profile& from, const Profile& to,
                                                                       PixelOrder order)
{
    auto in = static_cast<cmsHPROFILE>(from.Handle());
    auto out = static_cast<cmsHPROFILE>(to.Handle());
    double a[9], b[9], bInverse[9];
    if (!ColorantMatrix(in, a) || !ColorantMatrix(out, b) || !Invert(b, bInverse))
        return nullptr;
    auto matrix = std::make_unique<Matrix>();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double s = 0;
            for (int k = 0; k < 3; ++k)
                s += bInverse[i * 3 + k] * a[k * 3 + j];
            if (!std::isfinite(s) || std::fabs(s) > 1000.0)
                return nullptr;  // no two real sets of primaries are this far apart
            matrix->m[i * 3 + j] = static_cast<float>(s);
        }
    }
    for (int c = 0; c < 3; ++c) {
        const cmsToneCurve* curve = Curve(in, c);
        if (!curve)
            return nullptr;
        for (int v = 0; v < 256; ++v) {
            const float lin = cmsEvalToneCurveFloat(curve, static_cast<float>(v) / 255.0f);
            matrix->linear[c][v] = std::isfinite(lin) ? std::clamp(lin, 0.0f, 1.0f) * kLinearScale : 0.0f;
        }
    }
    for (int c = 0; c < 3; ++c) {
        const cmsToneCurve* curve = Curve(out, c);
        if (!curve)
            return nullptr;
        // Code k takes the linear light above the middle between k - 1 and k, up to the
        // middle between k and k + 1: rounding in the monitor's own code values.
        std::array<double, 255> edge{};
        for (int k = 0; k < 255; ++k) {
            edge[k] = cmsEvalToneCurveFloat(curve, (static_cast<float>(k) + 0.5f) / 255.0f) * kLinearScale;
            if (!std::isfinite(edge[k]) || (k > 0 && edge[k] < edge[k - 1]))
                return nullptr;  // a curve that turns back has no inverse: Little CMS decides
        }
        int k = 0;
        for (int i = 0; i < kFineSize; ++i) {
            const double x = i + 0.5;
            while (k < 255 && x > edge[k])
                ++k;
            matrix->fine[c][i] = static_cast<uint8_t>(k);
        }
        k = 0;
        for (int i = 0; i < kFineSize; ++i) {
            const double x = (static_cast<double>(i) + 0.5) * (1 << kCoarseShift);
            while (k < 255 && x > edge[k])
                ++k;
            matrix->coarse[c][i] = static_cast<uint8_t>(k);
        }
    }
    if (order == PixelOrder::Rgb) {
        matrix->red = 0;
        matrix->blue = 2;
    }
    if (order == PixelOrder::Bgrx)
        matrix->step = 4;
    return matrix;
}

std::shared_ptr<const DisplayTransform> DisplayTransform::Make(const Profile& from, const Profile& to,
                                                               RenderingIntent intent, PixelOrder order)
{
    if (from.SameColoursAs(to))
        return nullptr;
    auto in = static_cast<cmsHPROFILE>(from.Handle());
    auto out = static_cast<cmsHPROFILE>(to.Handle());
    if (!in || !out)
        return nullptr;
    std::shared_ptr<DisplayTransform> t(new DisplayTransform);
    // Between two matrix/curve profiles every intent is the colorimetric one and both
    // black points are zero, except that Little CMS gives a version 4 profile its own
    // perceptual black point: those go the general way.
    const bool v4Perceptual = intent == RenderingIntent::Perceptual && (IsVersion4(in) || IsVersion4(out));
    if (from.IsMatrixShaper() && to.IsMatrixShaper() && !v4Perceptual)
        t->matrix_ = MakeMatrix(from, to, order);
    if (!t->matrix_) {
        const cmsUInt32Number format = order == PixelOrder::Bgr    ? TYPE_BGR_8
                                       : order == PixelOrder::Bgrx ? TYPE_BGRA_8
                                                                   : TYPE_RGB_8;
        const cmsUInt32Number lcmsIntent =
            intent == RenderingIntent::Perceptual ? INTENT_PERCEPTUAL : INTENT_RELATIVE_COLORIMETRIC;
        // Little CMS precalculates 8-bit transforms as a table; 65 points along each axis
        // instead of its usual 33 keep table-based profiles within a few steps of the
        // exact result near the edges of the monitor's gamut.
        cmsUInt32Number flags = cmsFLAGS_NOCACHE | cmsFLAGS_GRIDPOINTS(65);
        if (intent == RenderingIntent::RelativeColorimetricBpc)
            flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
        if (order == PixelOrder::Bgrx)
            flags |= cmsFLAGS_COPY_ALPHA;  // the fourth byte stays as it is
        t->lcms_ = cmsCreateTransform(in, format, out, format, lcmsIntent, flags);
        if (!t->lcms_)
            return nullptr;
    }
    return t;
}

DisplayTransform::~DisplayTransform()
{
    if (lcms_)
        cmsDeleteTransform(static_cast<cmsHTRANSFORM>(lcms_));
}

void DisplayTransform::Apply(uint8_t* pixels, int width, int height, size_t stride) const
{
    if (!pixels || width <= 0 || height <= 0)
        return;
    if (matrix_) {
        for (int y = 0; y < height; ++y)
            matrix_->Row(pixels + static_cast<size_t>(y) * stride, width);
        return;
    }
    cmsDoTransformLineStride(static_cast<cmsHTRANSFORM>(lcms_), pixels, pixels, static_cast<cmsUInt32Number>(width),
                             static_cast<cmsUInt32Number>(height), static_cast<cmsUInt32Number>(stride),
                             static_cast<cmsUInt32Number>(stride), 0, 0);
}

void DisplayTransform::Apply(Bitmap& bitmap) const
{
    Apply(bitmap, 0, 0, bitmap.width, bitmap.height);
}

void DisplayTransform::Apply(Bitmap& bitmap, int x, int y, int width, int height) const
{
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min<int64_t>(int64_t{x} + width, bitmap.width);
    const int y1 = std::min<int64_t>(int64_t{y} + height, bitmap.height);
    if (x1 <= x0 || y1 <= y0 || bitmap.stride < bitmap.width * 3 ||
        bitmap.pixels.size() < static_cast<size_t>(bitmap.stride) * static_cast<size_t>(bitmap.height))
        return;
    Apply(bitmap.Row(y0) + static_cast<size_t>(x0) * 3, x1 - x0, y1 - y0, static_cast<size_t>(bitmap.stride));
}

std::shared_ptr<const DisplayTransform> TransformCache::Get(const Profile& picture, const Profile& monitor,
                                                            RenderingIntent intent, PixelOrder order)
{
    const std::string key = picture.Key() + "\n" + monitor.Key() + "\n" + std::to_string(static_cast<int>(intent)) +
                            "\n" + std::to_string(static_cast<int>(order));
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->key == key) {
            Entry e = std::move(*it);
            entries_.erase(it);
            entries_.push_front(std::move(e));
            return entries_.front().transform;
        }
    }
    entries_.push_front(Entry{key, DisplayTransform::Make(picture, monitor, intent, order)});
    if (entries_.size() > kKept)
        entries_.pop_back();
    return entries_.front().transform;
}

} // namespace colour
