#include "backends/sim/SimLiveView.h"

#include "backends/sim/SimJpegWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>

namespace sim {

namespace {

uint32_t Hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

struct Rgb {
    int r, g, b;
};

constexpr double kPi = 3.14159265358979323846;
constexpr int kSpokePairs = 12;       // the star has 24 spokes, black and white
constexpr double kBlockPeriod = 150;  // drifting blocks repeat every 150 pixels
constexpr size_t kGrainSize = 1 << 16;

// The scene, rendered one row at a time: for each output pixel the point of the whole
// frame (width x height, frame pixels) it shows is left + (u + 0.5) / zoom across and
// y down.
class Scene {
public:
    Scene(int width, int height, int phase, uint32_t seed) : w_(width), h_(height)
    {
        const double t = static_cast<double>(phase % kLiveViewCycle) / kLiveViewCycle;
        starX_ = w_ * 0.33;
        starY_ = h_ * 0.5;
        starR_ = h_ * 0.3;
        // One spoke pair per cycle: the star turns seamlessly. The spoke under a point is
        // the sign of Im((dx + i dy)^24 * e^(i 24 turn)): no angle needs computing.
        const double turn = t * (2 * kPi / kSpokePairs);
        rotRe_ = std::cos(turn * kSpokePairs * 2);
        rotIm_ = std::sin(turn * kSpokePairs * 2);
        shift_ = t * kBlockPeriod;
        const uint32_t r = Hash(seed * 2654435761U + 17);
        tint_ = {40 + static_cast<int>(r % 40), 50 + static_cast<int>((r >> 8) % 40), 60 + static_cast<int>((r >> 16) % 40)};
        band1_ = {200 + static_cast<int>((r >> 4) % 50), 60, 40};
        band2_ = {40, 90 + static_cast<int>((r >> 12) % 60), 200};
        grain_.resize(kGrainSize);
        for (size_t i = 0; i < kGrainSize; ++i)
            grain_[i] = static_cast<int8_t>(static_cast<int>(Hash(static_cast<uint32_t>(i) ^ seed) % 13) - 6);
    }

    // Writes output row v (width pixels, RGB) of a view that starts at (left, top).
    void RenderRow(uint8_t* out, int width, double left, double y, int zoom) const
    {
        const double step = 1.0 / zoom;
        const int lift = static_cast<int>(y * 50 / h_);
        const auto cy = static_cast<uint32_t>(static_cast<int64_t>(std::floor(y * 2)));
        const uint32_t rowSalt = Hash(cy * 0x9E3779B1U);
        // Background with grain in cells of half a frame pixel: grain at 1x, texture when
        // magnified.
        double x = left + step / 2;
        for (int u = 0; u < width; ++u, x += step) {
            const auto cx = static_cast<uint32_t>(static_cast<int64_t>(x * 2));
            const int g = grain_[(cx * 0x85EBCA6BU + rowSalt) & (kGrainSize - 1)];
            uint8_t* px = out + static_cast<size_t>(u) * 3;
            px[0] = Clip(tint_.r + lift + g);
            px[1] = Clip(tint_.g + lift + g);
            px[2] = Clip(tint_.b + lift + g);
        }
        auto span = [&](double x0, double x1, auto&& paint) {
            const int u0 = std::max(0, static_cast<int>(std::ceil((x0 - left) * zoom - 0.5)));
            const int u1 = std::min(width, static_cast<int>(std::ceil((x1 - left) * zoom - 0.5)));
            for (int u = u0; u < u1; ++u)
                paint(u, left + (u + 0.5) * step, out + static_cast<size_t>(u) * 3);
        };
        // The star.
        const double dy = y - starY_;
        if (std::abs(dy) < starR_) {
            const double half = std::sqrt(starR_ * starR_ - dy * dy);
            span(starX_ - half, starX_ + half, [&](int, double px, uint8_t* o) {
                const double dx = px - starX_;
                int v;
                if (dx * dx + dy * dy < 9) {
                    v = 128;
                } else {
                    double re = dx, im = dy;
                    auto mul = [](double& a, double& b, double c, double d) {
                        const double r = a * c - b * d;
                        b = a * d + b * c;
                        a = r;
                    };
                    double r2 = re, i2 = im;
                    mul(r2, i2, re, im);        // ^2
                    double r8 = r2, i8 = i2;
                    mul(r8, i8, r2, i2);        // ^4
                    const double r4 = r8, i4 = i8;
                    mul(r8, i8, r4, i4);        // ^8
                    mul(r8, i8, r4, i4);        // ^12
                    mul(r8, i8, r8, i8);        // ^24
                    mul(r8, i8, rotRe_, rotIm_);
                    v = i8 >= 0 ? 235 : 20;
                }
                const int g = o[0] - tint_.r - lift;
                o[0] = o[1] = o[2] = Clip(v + g);
            });
        }
        // Two bands of blocks drifting in opposite directions, each block ruled with lines.
        const bool band1 = y >= h_ * 0.12 && y < h_ * 0.30;
        const bool band2 = y >= h_ * 0.70 && y < h_ * 0.86;
        if (band1 || band2) {
            const double shift = band1 ? shift_ : -shift_;
            const Rgb c = band1 ? band1_ : band2_;
            span(w_ * 0.58, w_, [&](int, double px, uint8_t* o) {
                double uu = px - shift;
                uu -= std::floor(uu / kBlockPeriod) * kBlockPeriod;
                if (uu < 20 || uu >= 110)
                    return;
                if (uu < 22 || uu >= 108) {
                    o[0] = o[1] = o[2] = 10;
                    return;
                }
                const bool line = static_cast<long>(uu) % 6 < 2;
                o[0] = Clip(line ? c.r / 3 : c.r);
                o[1] = Clip(line ? c.g / 3 : c.g);
                o[2] = Clip(line ? c.b / 3 : c.b);
            });
        }
        // A resolution chart: vertical bars 1, 2, 3 and 4 pixels wide.
        if (y >= h_ * 0.88 && y < h_ * 0.96) {
            const double x0 = w_ * 0.08, group = w_ * 0.11;
            span(x0, x0 + 4 * group, [&](int, double px, uint8_t* o) {
                const double uu = px - x0;
                const int barWidth = 1 + static_cast<int>(uu / group);
                const long bar = static_cast<long>(uu / barWidth);
                o[0] = o[1] = o[2] = (bar & 1) ? 230 : 25;
            });
        }
    }

private:
    static uint8_t Clip(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

    int w_, h_;
    double starX_ = 0, starY_ = 0, starR_ = 0, rotRe_ = 1, rotIm_ = 0, shift_ = 0;
    Rgb tint_{}, band1_{}, band2_{};
    std::vector<int8_t> grain_;
};

// A box blur of radius r over the rows, then over the columns (edges repeat), with
// running sums: the cost does not grow with the radius. Division by the window is a
// multiplication by its reciprocal in 16-bit fixed point.
void BoxBlur(std::vector<uint8_t>& px, int width, int height, int r)
{
    const uint32_t inverse = (65536U + static_cast<uint32_t>(r)) / static_cast<uint32_t>(2 * r + 1);
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    // Rows: each channel through a padded copy of the row.
    std::vector<int> padded(static_cast<size_t>(width + 2 * r + 1));
    for (int y = 0; y < height; ++y) {
        uint8_t* row = px.data() + static_cast<size_t>(y) * rowBytes;
        for (int c = 0; c < 3; ++c) {
            for (int i = -r; i <= width + r; ++i)
                padded[static_cast<size_t>(i + r)] = row[static_cast<size_t>(std::clamp(i, 0, width - 1)) * 3 + c];
            uint32_t sum = 0;
            for (int i = 0; i < 2 * r + 1; ++i)
                sum += static_cast<uint32_t>(padded[static_cast<size_t>(i)]);
            for (int i = 0; i < width; ++i) {
                row[static_cast<size_t>(i) * 3 + c] = static_cast<uint8_t>((sum * inverse) >> 16);
                sum += static_cast<uint32_t>(padded[static_cast<size_t>(i + 2 * r + 1)] - padded[static_cast<size_t>(i)]);
            }
        }
    }
    // Columns: a running sum per byte of the row, moved down one row at a time.
    std::vector<uint8_t> source(px);
    std::vector<uint32_t> sums(rowBytes, 0);
    auto rowAt = [&](int y) { return source.data() + static_cast<size_t>(std::clamp(y, 0, height - 1)) * rowBytes; };
    for (int i = -r; i <= r; ++i) {
        const uint8_t* s = rowAt(i);
        for (size_t k = 0; k < rowBytes; ++k)
            sums[k] += s[k];
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* row = px.data() + static_cast<size_t>(y) * rowBytes;
        const uint8_t* add = rowAt(y + r + 1);
        const uint8_t* sub = rowAt(y - r);
        for (size_t k = 0; k < rowBytes; ++k) {
            row[k] = static_cast<uint8_t>((sums[k] * inverse) >> 16);
            sums[k] += static_cast<uint32_t>(add[k]) - static_cast<uint32_t>(sub[k]);
        }
    }
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& rgb, int width, int height, int quality)
{
    jpeg_compress_struct cinfo{};
    std::vector<uint8_t> out;
    JpegWriter writer(cinfo, out, static_cast<size_t>(width) * height / 4 + 16384);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    cinfo.dct_method = JDCT_IFAST;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(rgb.data()) + static_cast<size_t>(cinfo.next_scanline) * width * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return out;
}

}  // namespace

int SharpestFocusPosition(uint32_t seed)
{
    return 40 + static_cast<int>(Hash(seed ^ 0xF0C05EEDU) % 41);
}

int BlurRadiusForFocus(int focusPosition, int sharpest)
{
    return std::min(std::abs(focusPosition - sharpest), kMaxBlurRadius);
}

void ZoomOrigin(int width, int height, int zoom, int x, int y, int* left, int* top)
{
    zoom = std::max(zoom, 1);
    const int w = width / zoom, h = height / zoom;
    *left = std::clamp(x - w / 2, 0, width - w);
    *top = std::clamp(y - h / 2, 0, height - h);
}

std::vector<uint8_t> MakeLiveViewFrame(const LiveViewFrameParams& p)
{
    if (p.width < 16 || p.height < 16 || p.width > 4096 || p.height > 4096)
        throw std::invalid_argument("live view frame size out of range");
    const Scene scene(p.width, p.height, p.phase, p.seed);
    const int zoom = std::max(p.zoom, 1);
    int left = 0, top = 0;
    ZoomOrigin(p.width, p.height, zoom, p.zoomX, p.zoomY, &left, &top);
    std::vector<uint8_t> rgb(static_cast<size_t>(p.width) * p.height * 3);
    for (int v = 0; v < p.height; ++v)
        scene.RenderRow(rgb.data() + static_cast<size_t>(v) * p.width * 3, p.width, left, top + (v + 0.5) / zoom, zoom);
    const int radius = std::min(p.blurRadius * zoom, 60);
    if (radius > 0)
        BoxBlur(rgb, p.width, p.height, radius);
    return Encode(rgb, p.width, p.height, p.quality);
}

std::shared_ptr<const std::vector<uint8_t>> LiveViewFrames::Frame(const LiveViewFrameParams& params)
{
    auto it = frames_.find(params);
    if (it != frames_.end()) {
        order_.splice(order_.begin(), order_, it->second.second);
        return it->second.first;
    }
    auto frame = std::make_shared<const std::vector<uint8_t>>(MakeLiveViewFrame(params));
    if (capacity_ == 0)
        return frame;
    while (frames_.size() >= capacity_) {
        frames_.erase(order_.back());
        order_.pop_back();
    }
    order_.push_front(params);
    frames_.emplace(params, Entry{frame, order_.begin()});
    return frame;
}

}  // namespace sim
