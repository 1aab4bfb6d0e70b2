#include "liveview/FocusPeaking.h"

#include <algorithm>

namespace liveview {

namespace {

struct Region {
    int x0, y0, x1, y1;  // inclusive start, exclusive end
};

Region Clip(int pictureWidth, int pictureHeight, int left, int top, int width, int height)
{
    Region r{std::max(left, 0), std::max(top, 0), std::min(left + std::max(width, 0), pictureWidth),
             std::min(top + std::max(height, 0), pictureHeight)};
    if (r.x1 < r.x0)
        r.x1 = r.x0;
    if (r.y1 < r.y0)
        r.y1 = r.y0;
    return r;
}

// Luma of the region's rows y0 - 1 .. y1 and columns x0 - 1 .. x1 (clamped to the picture),
// one byte per pixel, rows `width` apart; the loops are plain so that the compiler can
// vectorise them.
struct LumaPlane {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> luma;
    const uint8_t* Row(int y) const { return luma.data() + static_cast<size_t>(y - top) * static_cast<size_t>(width); }
};

template <int kBytes>
void LumaOfRow(const uint8_t* p, int n, uint8_t* out)
{
    for (int x = 0; x < n; ++x)
        out[x] = Luma(p + static_cast<size_t>(x) * kBytes);
}

void MakeLuma(const uint8_t* bgr, int stride, int pictureWidth, int pictureHeight, const Region& r, LumaPlane& plane,
              int bytesPerPixel)
{
    plane.left = std::max(r.x0 - 1, 0);
    plane.top = std::max(r.y0 - 1, 0);
    const int right = std::min(r.x1 + 1, pictureWidth), bottom = std::min(r.y1 + 1, pictureHeight);
    plane.width = right - plane.left;
    plane.height = bottom - plane.top;
    plane.luma.resize(static_cast<size_t>(plane.width) * static_cast<size_t>(plane.height));
    for (int y = plane.top; y < bottom; ++y) {
        const uint8_t* p = bgr + static_cast<size_t>(y) * static_cast<size_t>(stride) +
                           static_cast<size_t>(plane.left) * static_cast<size_t>(bytesPerPixel);
        uint8_t* out = plane.luma.data() + static_cast<size_t>(y - plane.top) * static_cast<size_t>(plane.width);
        if (bytesPerPixel == 4)
            LumaOfRow<4>(p, plane.width, out);
        else
            LumaOfRow<3>(p, plane.width, out);
    }
}

// Calls f(y, x0, x1, dxdy) for every row of the region's pixels that have four neighbours,
// with dxdy[x - x0] = (L(x+1) - L(x-1))^2 + (L(y+1) - L(y-1))^2.
template <typename F>
void ForEachContrastRow(const uint8_t* bgr, int stride, int pictureWidth, int pictureHeight, const Region& r,
                        int bytesPerPixel, F&& f)
{
    if (r.x1 <= r.x0 || r.y1 <= r.y0 || pictureWidth < 3 || pictureHeight < 3)
        return;
    const int yStart = std::max(r.y0, 1), yEnd = std::min(r.y1, pictureHeight - 1);
    const int xStart = std::max(r.x0, 1), xEnd = std::min(r.x1, pictureWidth - 1);
    if (yStart >= yEnd || xStart >= xEnd)
        return;
    LumaPlane plane;
    MakeLuma(bgr, stride, pictureWidth, pictureHeight, r, plane, bytesPerPixel);
    std::vector<int32_t> contrast(static_cast<size_t>(xEnd - xStart));
    const int n = xEnd - xStart;
    for (int y = yStart; y < yEnd; ++y) {
        const uint8_t* above = plane.Row(y - 1) + (xStart - plane.left);
        const uint8_t* here = plane.Row(y) + (xStart - plane.left);
        const uint8_t* below = plane.Row(y + 1) + (xStart - plane.left);
        int32_t* c = contrast.data();
        for (int i = 0; i < n; ++i) {
            const int32_t dx = static_cast<int32_t>(here[i + 1]) - static_cast<int32_t>(here[i - 1]);
            const int32_t dy = static_cast<int32_t>(below[i]) - static_cast<int32_t>(above[i]);
            c[i] = dx * dx + dy * dy;
        }
        f(y, xStart, xEnd, c);
    }
}

}  // namespace

size_t PeakingMask::Count() const
{
    return static_cast<size_t>(std::count(marks.begin(), marks.end(), uint8_t{1}));
}

size_t ComputePeaking(const uint8_t* bgr, int stride, int pictureWidth, int pictureHeight, int left, int top,
                      int width, int height, int threshold, PeakingMask& mask, int bytesPerPixel)
{
    const Region r = Clip(pictureWidth, pictureHeight, left, top, width, height);
    mask.left = r.x0;
    mask.top = r.y0;
    mask.width = r.x1 - r.x0;
    mask.height = r.y1 - r.y0;
    mask.marks.assign(static_cast<size_t>(mask.width) * static_cast<size_t>(mask.height), 0);
    const int32_t limit = threshold * threshold;
    size_t count = 0;
    ForEachContrastRow(bgr, stride, pictureWidth, pictureHeight, r, bytesPerPixel,
                       [&](int y, int x0, int x1, const int32_t* c) {
        uint8_t* marks = mask.marks.data() + static_cast<size_t>(y - r.y0) * static_cast<size_t>(mask.width) +
                         static_cast<size_t>(x0 - r.x0);
        const int n = x1 - x0;
        size_t rowCount = 0;
        for (int i = 0; i < n; ++i) {
            const uint8_t m = c[i] >= limit;
            marks[i] = m;
            rowCount += m;
        }
        count += rowCount;
    });
    return count;
}

double FocusMeasure(const uint8_t* bgr, int stride, int pictureWidth, int pictureHeight, int left, int top,
                    int width, int height, int bytesPerPixel)
{
    const Region r = Clip(pictureWidth, pictureHeight, left, top, width, height);
    double sum = 0;
    size_t n = 0;
    ForEachContrastRow(bgr, stride, pictureWidth, pictureHeight, r, bytesPerPixel,
                       [&](int, int x0, int x1, const int32_t* c) {
        int64_t rowSum = 0;
        for (int i = 0; i < x1 - x0; ++i)
            rowSum += c[i];
        sum += static_cast<double>(rowSum);
        n += static_cast<size_t>(x1 - x0);
    });
    return n ? sum / static_cast<double>(n) : 0.0;
}

}  // namespace liveview
