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

// Luma of rows y - 1 .. y + 1 of the region's columns x0 - 1 .. x1 (clamped at the border).
void LumaRow(const uint8_t* bgr, int stride, int pictureWidth, int y, int x0, int x1, std::vector<uint8_t>& out)
{
    const int from = std::max(x0 - 1, 0), to = std::min(x1 + 1, pictureWidth);
    out.resize(static_cast<size_t>(to - from));
    const uint8_t* p = bgr + static_cast<size_t>(y) * static_cast<size_t>(stride) + static_cast<size_t>(from) * 3;
    for (int x = from; x < to; ++x, p += 3)
        out[static_cast<size_t>(x - from)] = Luma(p);
}

// Calls f(x, y, dx, dy) for every pixel of the region that has four neighbours, with the
// luma differences of its neighbours across and down.
template <typename F>
void ForEachContrast(const uint8_t* bgr, int stride, int pictureWidth, int pictureHeight, const Region& r, F&& f)
{
    if (r.x1 <= r.x0 || r.y1 <= r.y0 || pictureWidth < 3 || pictureHeight < 3)
        return;
    const int from = std::max(r.x0 - 1, 0);
    std::vector<uint8_t> above, here, below;
    const int yStart = std::max(r.y0, 1), yEnd = std::min(r.y1, pictureHeight - 1);
    const int xStart = std::max(r.x0, 1), xEnd = std::min(r.x1, pictureWidth - 1);
    if (yStart >= yEnd || xStart >= xEnd)
        return;
    LumaRow(bgr, stride, pictureWidth, yStart - 1, r.x0, r.x1, above);
    LumaRow(bgr, stride, pictureWidth, yStart, r.x0, r.x1, here);
    for (int y = yStart; y < yEnd; ++y) {
        LumaRow(bgr, stride, pictureWidth, y + 1, r.x0, r.x1, below);
        for (int x = xStart; x < xEnd; ++x) {
            const size_t i = static_cast<size_t>(x - from);
            f(x, y, here[i + 1] - here[i - 1], below[i] - above[i]);
        }
        std::swap(above, here);
        std::swap(here, below);
    }
}

}  // namespace

size_t PeakingMask::Count() const
{
    return static_cast<size_t>(std::count(marks.begin(), marks.end(), uint8_t{1}));
}

void ComputePeaking(const uint8_t* bgr, int stride, int pictureWidth, int pictureHeight, int left, int top,
                    int width, int height, int threshold, PeakingMask& mask)
{
    const Region r = Clip(pictureWidth, pictureHeight, left, top, width, height);
    mask.left = r.x0;
    mask.top = r.y0;
    mask.width = r.x1 - r.x0;
    mask.height = r.y1 - r.y0;
    mask.marks.assign(static_cast<size_t>(mask.width) * static_cast<size_t>(mask.height), 0);
    uint8_t* marks = mask.marks.data();
    const size_t w = static_cast<size_t>(mask.width);
    const int limit = threshold * threshold;
    ForEachContrast(bgr, stride, pictureWidth, pictureHeight, r, [&](int x, int y, int dx, int dy) {
        if (dx * dx + dy * dy >= limit)
            marks[static_cast<size_t>(y - r.y0) * w + static_cast<size_t>(x - r.x0)] = 1;
    });
}

double FocusMeasure(const uint8_t* bgr, int stride, int pictureWidth, int pictureHeight, int left, int top,
                    int width, int height)
{
    const Region r = Clip(pictureWidth, pictureHeight, left, top, width, height);
    double sum = 0;
    size_t n = 0;
    ForEachContrast(bgr, stride, pictureWidth, pictureHeight, r, [&](int, int, int dx, int dy) {
        sum += static_cast<double>(dx * dx + dy * dy);
        ++n;
    });
    return n ? sum / static_cast<double>(n) : 0.0;
}

}  // namespace liveview
