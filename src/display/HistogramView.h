// HistogramView: paints the small histogram display under the camera controls from the
// histogram of the picture on show: a filled intensity profile and optional red, green
// and blue curves on one common scale, over five zones.
// User-interface thread only (QPainter); no call blocks.
#pragma once

#include "imaging/ImageHistogram.h"

#include <QImage>

namespace display {

// Which curves are drawn (`Intensity`, `Red`, `Green`, `Blue` settings).
struct HistogramCurves {
    bool intensity = true;
    bool red = false;
    bool green = false;
    bool blue = false;
};

// The histogram display's height in pixels; its width is the form's "Focus Points" box.
constexpr int kHistogramHeight = 102;

// A histogram picture of the given width (at least 1) and kHistogramHeight, not yet
// painted.
QImage MakeHistogramImage(int width);

// Column of value i (0..255) in a picture `width` wide: (width - 3) * i / 255 + 1.
int HistogramColumn(int width, int value);
// Row reached by bin value v against maximum m (> 0): height - 1 - v * 100 / m.
int HistogramRow(int height, uint32_t value, uint32_t maximum);

// Paints the whole picture (any size) from `histogram` (read through a copy, so the
// caller's record is left as it is). An empty histogram paints only the background,
// border and zone lines.
void DrawHistogram(QImage& image, const ImageHistogram& histogram, const HistogramCurves& curves);

} // namespace display
