#include "display/Overlays.h"

#include "imaging/ImageInfo.h"

#include <QPainter>
#include <QPoint>

#include <algorithm>
#include <cctype>

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

QPen SolidPen(QColor colour)
{
    QPen pen(colour);
    pen.setWidth(1);
    pen.setStyle(Qt::SolidLine);
    return pen;
}

void Outline(QPainter& painter, int X, int Y, int w, int h)
{
    const QPoint corners[5] = {QPoint(X, Y), QPoint(X + w, Y), QPoint(X + w, Y + h),
                               QPoint(X, Y + h), QPoint(X, Y)};
    painter.drawPolyline(corners, 5);
}

bool Contains(const std::string& text, const char* word)
{
    return text.find(word) != std::string::npos;
}

struct Pens {
    QPen activeOuter = SolidPen(QColor(180, 0, 0));
    QPen activeInner = SolidPen(QColor(255, 0, 0));
    QPen inactiveOuter = SolidPen(QColor(0, 0, 0));
    QPen inactiveInner = SolidPen(QColor(80, 80, 80));
    QPen circle = SolidPen(QColor(80, 80, 80));
};

} // namespace

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
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(SolidPen(colour));
    ForEachDivision(W, horizontalDivisions,
                    [&](int x) { painter.drawLine(QPoint(x, 0), QPoint(x, H)); });
    ForEachDivision(H, verticalDivisions,
                    [&](int y) { painter.drawLine(QPoint(0, y), QPoint(W, y)); });
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

void DrawFocusBox(QPainter& painter, int W, int H, int rotation, int x, int y,
                  int frameWidth, int frameHeight, const QPen& outerPen, const QPen& innerPen)
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
    painter.setPen(outerPen);
    Outline(painter, X, Y, w, h);
    painter.setPen(innerPen);
    Outline(painter, X + 1, Y + 1, w - 2, h - 2);
}

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

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const Pens pens;
    auto box = [&](int x, int y, int fw, int fh, bool active) {
        DrawFocusBox(painter, W, H, rotation, x, y, fw, fh,
                     active ? pens.activeOuter : pens.inactiveOuter,
                     active ? pens.activeInner : pens.inactiveInner);
    };
    auto circle = [&](int radius) {
        painter.setPen(pens.circle);
        painter.setBrush(Qt::NoBrush);
        const QPoint centre = turned ? QPoint(cy, cx) : QPoint(cx, cy);
        painter.drawEllipse(centre, radius, radius);
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
