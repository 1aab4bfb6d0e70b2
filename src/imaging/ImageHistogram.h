// ImageHistogram: 256-bin red, green, blue and intensity counts of the picture on show,
// counted by the decoder while it fits the picture, read by the histogram display.
// A plain value object: copying copies everything. Not synchronised; one thread at a
// time (the user-interface thread in practice). No call blocks.
//
// Reading a bin or a maximum finalizes the counts once: the intensity bins are divided
// by 4 and every bin is capped at a fiftieth of the sample count; adding samples after
// that is not meaningful until Clear().
#pragma once

#include <array>
#include <cstdint>

class ImageHistogram {
public:
    enum Channel { Intensity = 0, Red = 1, Green = 2, Blue = 3 };

    // Every bin, the maxima and the sample count become 0; the counts are open again.
    void Clear();

    // One pixel of the fitted picture, in colour.
    void Add(unsigned r, unsigned g, unsigned b)
    {
        ++samples_;
        ++bins_[Red][r & 255];
        ++bins_[Green][g & 255];
        ++bins_[Blue][b & 255];
        auto& in = bins_[Intensity];
        ++in[r & 255];
        ++in[g & 255];
        ++in[b & 255];
        ++in[((r & 255) + (g & 255) + (b & 255)) / 3];
    }

    // Finalizes if needed. 0 for a value outside 0..255, and for every channel while the
    // intensity maximum is 0.
    uint32_t Bin(Channel channel, int value);
    // Finalizes if needed.
    uint32_t Maximum(Channel channel);

    uint32_t SampleCount() const { return samples_; }
    bool Finalized() const { return finalized_; }
    // The counts as added, before finalizing (for tests and diagnostics).
    uint32_t RawBin(Channel channel, int value) const
    {
        return value < 0 || value > 255 ? 0 : bins_[channel][static_cast<unsigned>(value)];
    }

private:
    void Finalize();

    bool finalized_ = false;
    uint32_t samples_ = 0;
    std::array<std::array<uint32_t, 256>, 4> bins_{};  // indexed by Channel
    std::array<uint32_t, 4> maxima_{};                 // indexed by Channel
};
