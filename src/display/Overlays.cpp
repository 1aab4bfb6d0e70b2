#include "display/Overlays.h"

#include "imaging/ImageInfo.h"

#include <QPainter>
#include <QPoint>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <utility>

namespace display {

namespace {

// Calls draw(position) for every distinct line position i * extent / divisions,
// i = 1 .. divisions - 1. Positions that coincide (more divisions than pixels) are
// visited once, so an absurd division count costs no more than one line per pixel.
template <typename Draw>
void ForEachDivision(int extent, int divisions, Draw draw)
{
    if (divisions <= 1 || extent <= 0)
        return;
    const int64_t n = divisions;
    const int64_t e = extent;
    int64_t i = 1;
    while (i < n) {
        const int64_t pos = i * e / n;
        draw(static_cast<int>(pos));
        // The first i whose line lies past this one.
        const int64_t next = ((pos + 1) * n + e - 1) / e;
        i = std::max(i + 1, next);
    }
}

bool Contains(const std::string& text, const char* word)
{
    return text.find(word) != std::string::npos;
}

// Solid 1-pixel lines into an image. Every line of the overlays is horizontal or
// vertical; on the display bitmap's own 24-bit format they are written straight into the
// rows (a QPainter pen on that format costs a millisecond per grid, more than the rest
// of the review aids together); other formats and the metering circle go through
// QPainter. Both ends of a line are painted, exactly as a 1-pixel aliased pen does.
class OverlayCanvas {
public:
    explicit OverlayCanvas(QImage& image)
        : image_(image),
          direct_(image.format() == QImage::Format_BGR888),
          bits_(direct_ ? image.bits() : nullptr),  // detaches now, before any painter
          stride_(image.bytesPerLine()),
          width_(image.width()),
          height_(image.height())
    {
    }

    void SetColour(QColor colour)
    {
        colour_ = colour;
        bgr_[0] = static_cast<uint8_t>(colour.blue());
        bgr_[1] = static_cast<uint8_t>(colour.green());
        bgr_[2] = static_cast<uint8_t>(colour.red());
    }

    void HorizontalLine(int x0, int x1, int y)
    {
        if (x0 > x1)
            std::swap(x0, x1);
        if (y < 0 || y >= height_ || x1 < 0 || x0 >= width_)
            return;
        x0 = std::max(x0, 0);
        x1 = std::min(x1, width_ - 1);
        if (!direct_)
            return PainterLine(QPoint(x0, y), QPoint(x1, y));
        uint8_t* p = bits_ + static_cast<ptrdiff_t>(y) * stride_ + static_cast<ptrdiff_t>(x0) * 3;
        for (int x = x0; x <= x1; ++x, p += 3)
            p[0] = bgr_[0], p[1] = bgr_[1], p[2] = bgr_[2];
    }

    void VerticalLine(int x, int y0, int y1)
    {
        if (y0 > y1)
            std::swap(y0, y1);
        if (x < 0 || x >= width_ || y1 < 0 || y0 >= height_)
            return;
        y0 = std::max(y0, 0);
        y1 = std::min(y1, height_ - 1);
        if (!direct_)
            return PainterLine(QPoint(x, y0), QPoint(x, y1));
        uint8_t* p = bits_ + static_cast<ptrdiff_t>(y0) * stride_ + static_cast<ptrdiff_t>(x) * 3;
        for (int y = y0; y <= y1; ++y, p += stride_)
            p[0] = bgr_[0], p[1] = bgr_[1], p[2] = bgr_[2];
    }

    // The closed outline (X, Y), (X + w, Y), (X + w, Y + h), (X, Y + h).
    void Outline(int X, int Y, int w, int h)
    {
        HorizontalLine(X, X + w, Y);
        VerticalLine(X + w, Y, Y + h);
        HorizontalLine(X, X + w, Y + h);
        VerticalLine(X, Y, Y + h);
    }

    // A full circle outline of the given radius, as an arc whose ends meet.
    void Circle(QPoint centre, int radius)
    {
        QPainter painter(&image_);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(colour_, 0));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, radius, radius);
    }

private:
    void PainterLine(QPoint a, QPoint b)
    {
        QPainter painter(&image_);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(colour_, 0));
        painter.drawLine(a, b);
    }

    QImage& image_;
    bool direct_;
    uint8_t* bits_;
    ptrdiff_t stride_;
    int width_;
    int height_;
    QColor colour_;
    uint8_t bgr_[3] = {0, 0, 0};
};

} // namespace

const QColor kActiveOuter(180, 0, 0);
const QColor kActiveInner(255, 0, 0);
const QColor kInactiveOuter(0, 0, 0);
const QColor kInactiveInner(80, 80, 80);
const QColor kMeteringCircle(80, 80, 80);

QColor ColorFromColorRef(uint32_t colorRef)
{
    return QColor(static_cast<int>(colorRef & 0xFF), static_cast<int>((colorRef >> 8) & 0xFF),
                  static_cast<int>((colorRef >> 16) & 0xFF));
}

void DrawGrid(QImage& image, QColor colour, int horizontalDivisions, int verticalDivisions)
{
    if (image.isNull())
        return;
    const int W = image.width();
    const int H = image.height();
    OverlayCanvas canvas(image);
    canvas.SetColour(colour);
    ForEachDivision(W, horizontalDivisions, [&](int x) { canvas.VerticalLine(x, 0, H); });
    ForEachDivision(H, verticalDivisions, [&](int y) { canvas.HorizontalLine(0, W, y); });
}

FocusLayout FocusLayoutForModel(const std::string& model)
{
    std::string m(model);
    std::transform(m.begin(), m.end(), m.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (Contains(m, "eos-1d") || Contains(m, "eos-1ds"))
        return FocusLayout::FortyFivePoint;
    if (Contains(m, "eos 10d"))
        return FocusLayout::SevenPointWithCircle;
    if (Contains(m, "eos 300d") || Contains(m, "eos kiss digital") || Contains(m, "eos digital rebel"))
        return FocusLayout::SevenPoint;
    if (Contains(m, "eos d30") || Contains(m, "eos d60"))
        return FocusLayout::ThreePointWithCircle;
    return FocusLayout::None;
}

namespace {

// Draws one AF frame. (x, y) is the frame's centre and (frameWidth, frameHeight) its size
// in the picture as the camera took it (W x H, before rotation); the frame is turned
// onto the bitmap by `rotation` (clockwise 0, 90, 180, 270; any other value draws
// nothing). The outer colour draws the frame, the inner colour a frame 1 pixel inside.
void DrawFocusBox(OverlayCanvas& canvas, int W, int H, int rotation, int x, int y,
                  int frameWidth, int frameHeight, QColor outer, QColor inner)
{
    const int left = x - frameWidth / 2;
    const int top = y - frameHeight / 2;
    int X, Y, w, h;
    switch (rotation) {
    case 0:
        X = left, Y = top, w = frameWidth, h = frameHeight;
        break;
    case 90:
        X = H - y - frameHeight / 2, Y = left, w = frameHeight, h = frameWidth;
        break;
    case 180:
        X = W - x - frameWidth / 2, Y = H - y - frameHeight / 2, w = frameWidth, h = frameHeight;
        break;
    case 270:
        X = top, Y = W - x - frameWidth / 2, w = frameHeight, h = frameWidth;
        break;
    default:
        return;
    }
    canvas.SetColour(outer);
    canvas.Outline(X, Y, w, h);
    canvas.SetColour(inner);
    canvas.Outline(X + 1, Y + 1, w - 2, h - 2);
}

} // namespace

FocusPointInfo FocusPointInfoFrom(const ImageInfo& info)
{
    FocusPointInfo f;
    f.model = info.Model();
    f.sevenPointMask = info.SevenPointAfMask();
    f.threePointValue = info.ThreePointAfValue();
    f.fortyFiveBits = info.FortyFivePointAfBits();
    return f;
}

void DrawFocusPoints(QImage& image, const ImageInfo& info, int rotation)
{
    DrawFocusPoints(image, FocusPointInfoFrom(info), rotation);
}

void DrawFocusPoints(QImage& image, const FocusPointInfo& info, int rotation)
{
    if (image.isNull())
        return;
    const FocusLayout layout = FocusLayoutForModel(info.model);
    if (layout == FocusLayout::None)
        return;

    // Geometry in the picture as the camera took it.
    const bool turned = rotation == 90 || rotation == 270;
    const int W = turned ? image.height() : image.width();
    const int H = turned ? image.width() : image.height();
    const int cx = W / 2;
    const int cy = H / 2;
    const int bw = static_cast<int>((int64_t{W} * 82 + 41) / 2464);
    const int bh = static_cast<int>((int64_t{H} * 116 + 58) / 1648);

    OverlayCanvas canvas(image);
    auto box = [&](int x, int y, int fw, int fh, bool active) {
        DrawFocusBox(canvas, W, H, rotation, x, y, fw, fh,
                     active ? kActiveOuter : kInactiveOuter, active ? kActiveInner : kInactiveInner);
    };
    auto circle = [&](int radius) {
        canvas.SetColour(kMeteringCircle);
        canvas.Circle(turned ? QPoint(cy, cx) : QPoint(cx, cy), radius);
    };

    switch (layout) {
    case FocusLayout::SevenPointWithCircle:
    case FocusLayout::SevenPoint: {
        if (layout == FocusLayout::SevenPointWithCircle)
            circle(static_cast<int>(int64_t{W} * 11 / 100));
        const uint32_t mask = info.sevenPointMask;
        box(W / 6, cy, bw, bh, mask & 0x40);
        box(cx - W / 5, cy, bw, bh, mask & 0x20);
        box(cx, cy, bh, bh, mask & 0x08);
        box(cx + W / 5, cy, bw, bh, mask & 0x02);
        box(static_cast<int>(int64_t{W} * 5 / 6), cy, bw, bh, mask & 0x01);
        box(cx, H / 4, bh, bw, mask & 0x10);
        box(cx, static_cast<int>(int64_t{H} * 3 / 4), bh, bw, mask & 0x04);
        break;
    }
    case FocusLayout::ThreePointWithCircle: {
        circle(static_cast<int>(int64_t{W} * 10 / 75));
        const uint32_t v = info.threePointValue;
        bool left = false, centre = false, right = false;
        if ((v & 0xF000) == 0x1000) {
            centre = true;
        } else if ((v & 0xF000) == 0x3000) {
            left = v & 4;
            centre = v & 2;
            right = v & 1;
        }
        box(W / 3, cy, bw, bh, left);
        box(cx, cy, bw, bh, centre);
        box(static_cast<int>(int64_t{W} * 2 / 3), cy, bw, bh, right);
        break;
    }
    case FocusLayout::FortyFivePoint: {
        static constexpr int kRow1[] = {839, 975, 1110, 1232, 1354, 1489, 1625};
        static constexpr int kRow2[] = {660, 789, 917, 1046, 1175, 1289, 1418, 1547, 1675, 1804};
        static constexpr int kRow3[] = {596, 724, 853, 982, 1110, 1232, 1354, 1482, 1611, 1740, 1868};
        const auto& b = info.fortyFiveBits;
        auto word = [&](int high, int low) { return (uint32_t{b[high]} << 8) + b[low]; };
        const int dy1 = static_cast<int>(int64_t{H} * 349 / 1648);
        const int dy2 = static_cast<int>(int64_t{H} * 172 / 1648);
        auto row = [&](const int* positions, int count, int y, uint32_t bits) {
            for (int i = 0; i < count; ++i)
                box(static_cast<int>(int64_t{positions[i]} * W / 2464), y, bw, bh, (bits >> i) & 1);
        };
        row(kRow1, 7, cy - dy1, word(2, 1) >> 2);
        row(kRow2, 10, cy - dy2, word(3, 2) >> 3);
        row(kRow3, 11, cy, word(4, 3) >> 5);
        row(kRow2, 10, cy + dy2, word(6, 5));
        row(kRow1, 7, cy + dy1, word(7, 6) >> 4);
        break;
    }
    case FocusLayout::None:
        break;
    }
}

} // namespace display
