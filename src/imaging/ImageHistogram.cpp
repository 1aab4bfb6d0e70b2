#include "imaging/ImageHistogram.h"

#include <algorithm>

void ImageHistogram::Clear()
{
    finalized_ = false;
    samples_ = 0;
    for (auto& channel : bins_)
        channel.fill(0);
    maxima_.fill(0);
}

void ImageHistogram::Finalize()
{
    if (finalized_)
        return;
    const uint32_t cap = samples_ / 50;
    for (int i = 0; i < 256; ++i) {
        bins_[Intensity][i] /= 4;
        for (int c = 0; c < 4; ++c) {
            bins_[c][i] = std::min(bins_[c][i], cap);
            maxima_[c] = std::max(maxima_[c], bins_[c][i]);
        }
    }
    finalized_ = true;
}

uint32_t ImageHistogram::Bin(Channel channel, int value)
{
    Finalize();
    if (value < 0 || value > 255 || maxima_[Intensity] == 0)
        return 0;
    return bins_[channel][static_cast<unsigned>(value)];
}

uint32_t ImageHistogram::Maximum(Channel channel)
{
    Finalize();
    return maxima_[channel];
}
