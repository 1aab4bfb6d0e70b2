#include "display/HistogramView.h"

#include <QPainter>
#include <QPoint>

#include <algorithm>
#include <vector>

namespace display {

namespace {

QPen Pen(QColor colour)
{
    QPen pen(colour);
    pen.setWidth(1);
    return pen;
}

} // namespace

QImage MakeHistogramImage(int width)
{
    return QImage(std::max(width, 1), kHistogramHeight, QImage::Format_RGB32);
}

int HistogramColumn(int width, int value)
{
    return static_cast<int>(int64_t{width - 3} * value / 255 + 1);
}

int HistogramRow(int height, uint32_t value, uint32_t maximum)
{
    return static_cast<int>(int64_t{height} - 1 - static_cast<int64_t>(uint64_t{value} * 100 / maximum));
}

void DrawHistogram(QImage& image, const ImageHistogram& source, const HistogramCurves& curves)
{
    if (image.isNull())
        return;
    ImageHistogram h = source;  // Bin() and Maximum() finalize the counts they read
    const int W = image.width();
    const int H = image.height();

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(0, 0, W, H, QColor(0, 160, 185));

    painter.setPen(Pen(Qt::black));
    const QPoint border[5] = {QPoint(0, 0), QPoint(W - 1, 0), QPoint(W - 1, H - 1),
                              QPoint(0, H - 1), QPoint(0, 0)};
    painter.drawPolyline(border, 5);

    // Zone lines stop short of the bottom border, as a line never paints its end point.
    painter.setPen(Pen(QColor(0, 120, 150)));
    for (int k = 1; k <= 4; ++k) {
        const int x = k * W / 5;
        if (H - 2 >= 1)
            painter.drawLine(QPoint(x, 1), QPoint(x, H - 2));
    }

    const uint32_t intensityMax = h.Maximum(ImageHistogram::Intensity);
    const uint32_t m = std::max({h.Maximum(ImageHistogram::Red), h.Maximum(ImageHistogram::Green),
                                 h.Maximum(ImageHistogram::Blue)});

    if (curves.intensity && intensityMax > 0) {
        painter.setPen(Pen(QColor(90, 90, 90)));
        for (int i = 0; i < 256; ++i) {
            const int x = HistogramColumn(W, i);
            const int y = HistogramRow(H, h.Bin(ImageHistogram::Intensity, i), intensityMax);
            if (y <= H - 2)  // an empty bin paints nothing
                painter.drawLine(QPoint(x, y), QPoint(x, H - 2));
        }
    }

    auto curve = [&](bool on, ImageHistogram::Channel channel, QColor colour) {
        if (!on || m == 0)
            return;
        std::vector<QPoint> points;
        points.reserve(257);
        points.emplace_back(0, H);
        for (int i = 0; i < 256; ++i)
            points.emplace_back(HistogramColumn(W, i), HistogramRow(H, h.Bin(channel, i), m));
        painter.setPen(Pen(colour));
        painter.drawPolyline(points.data(), static_cast<int>(points.size()));
    };
    curve(curves.red, ImageHistogram::Red, QColor(255, 0, 0));
    curve(curves.green, ImageHistogram::Green, QColor(20, 255, 20));
    curve(curves.blue, ImageHistogram::Blue, QColor(0, 0, 255));
}

} // namespace display
