// The live frame's road to the screen, on the simulated body's frames: fitted (reduced and
// enlarged) keeping the frame's shape, the magnified area enlarged, grey, the peaking marks
// in their colour on a sharp frame and none on a blurred one, the histogram, and the refusal
// of a broken frame.
#include "backends/sim/SimLiveView.h"
#include "imaging/JpegDecoder.h"
#include "liveview/LiveFrameRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace liveview;

namespace {

constexpr uint32_t kMagenta = 0x00FF00FF;  // 0x00BBGGRR: red and blue, a colour the scene lacks

std::vector<uint8_t> Frame(int blur, int phase = 0)
{
    sim::LiveViewFrameParams p;
    p.blurRadius = blur;
    p.phase = phase;
    return sim::MakeLiveViewFrame(p);
}

// Red, green and blue of a pixel of the rendered picture.
struct Rgb {
    int r, g, b;
};
Rgb At(const LiveImage& image, int x, int y)
{
    const uint32_t p = image.At(x, y);
    return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF)};
}

size_t PixelsOf(const LiveImage& image, uint32_t colour)
{
    size_t n = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const Rgb c = At(image, x, y);
            n += c.r == static_cast<int>(colour & 0xFF) && c.g == static_cast<int>((colour >> 8) & 0xFF) &&
                 c.b == static_cast<int>((colour >> 16) & 0xFF);
        }
    return n;
}

// The decoded frame's pixel (blue, green, red, unused) nearest to a point of the frame.
const uint8_t* DecodedAt(const LiveFrameRenderer& r, int frameWidth, double x, double y)
{
    return r.Decoded() + (static_cast<size_t>(y) * frameWidth + static_cast<size_t>(x)) * 4;
}

TEST(LiveFrameRenderer, AFrameFitsTheBoxKeepingItsShapeReducedOrEnlarged)
{
    const auto jpeg = Frame(0);
    LiveFrameRenderer r;
    RenderOptions o;
    o.boxWidth = 700;
    o.boxHeight = 500;
    RenderedFrame f = r.Render(jpeg.data(), jpeg.size(), o);
    EXPECT_EQ(f.frameWidth, 1024);
    EXPECT_EQ(f.frameHeight, 680);
    EXPECT_EQ(f.image.width, 700);
    EXPECT_EQ(f.image.height, 465);
    EXPECT_EQ(f.image.pixels.size(), 700u * 465u);
    EXPECT_EQ(f.image.At(350, 200) >> 24, 0xFFu) << "opaque, as the screen wants it";
    // Live view fills a large screen: enlarged, as high as the box allows.
    o.boxWidth = 3000;
    o.boxHeight = 1000;
    f = r.Render(jpeg.data(), jpeg.size(), o);
    EXPECT_EQ(f.image.height, 1000);
    EXPECT_EQ(f.image.width, 1506);
    o.boxWidth = 0;
    EXPECT_TRUE(r.Render(jpeg.data(), jpeg.size(), o).image.Empty());
}

TEST(LiveFrameRenderer, TheMagnifiedAreaIsThatPartOfTheFrameEnlarged)
{
    const auto jpeg = Frame(0);
    LiveFrameRenderer r;
    Magnifier m;
    m.SetFrameSize(1024, 680);
    m.Set(10, {700, 150});  // the drifting blocks, ruled with lines
    RenderOptions o;
    o.boxWidth = 1024;
    o.boxHeight = 680;
    o.area = m.Area();
    const RenderedFrame f = r.Render(jpeg.data(), jpeg.size(), o);
    ASSERT_EQ(f.image.width, 1024);
    ASSERT_EQ(f.image.height, 680);
    // Every shown pixel lies between the frame's pixels around the point it shows.
    const AreaF a = m.Area();
    int outside = 0, samples = 0;
    for (int y = 5; y < 680; y += 37)
        for (int x = 5; x < 1024; x += 41) {
            const double sx = std::clamp(a.left + (x + 0.5) * a.width / 1024 - 0.5, 0.0, 1022.0);
            const double sy = std::clamp(a.top + (y + 0.5) * a.height / 680 - 0.5, 0.0, 678.0);
            const uint32_t pixel = f.image.At(x, y);
            for (int c = 0; c < 3; ++c) {
                const int got = static_cast<int>((pixel >> (8 * c)) & 0xFF);
                int lo = 255, hi = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) {
                        const int v = DecodedAt(r, 1024, sx + dx, sy + dy)[c];
                        lo = std::min(lo, v);
                        hi = std::max(hi, v);
                    }
                outside += got + 1 < lo || got > hi + 1;
                ++samples;
            }
        }
    EXPECT_EQ(outside, 0) << "of " << samples;
}

TEST(LiveFrameRenderer, PeakingMarksASharpFrameInItsColourAndABlurredOneNot)
{
    LiveFrameRenderer r;
    RenderOptions o;
    o.boxWidth = 700;
    o.boxHeight = 500;
    o.peaking = true;
    o.peakingColour = kMagenta;
    const auto sharp = Frame(0);
    RenderedFrame f = r.Render(sharp.data(), sharp.size(), o);
    EXPECT_GT(f.peakingMarks, 5000u);
    EXPECT_GT(PixelsOf(f.image, kMagenta), 5000u);
    for (int blur : {3, 8}) {
        const auto soft = Frame(blur);
        f = r.Render(soft.data(), soft.size(), o);
        EXPECT_EQ(f.peakingMarks, 0u) << "blur " << blur;
        EXPECT_EQ(PixelsOf(f.image, kMagenta), 0u) << "blur " << blur;
    }
    // One step from focus still shows the sharpest edges, fewer of them.
    const auto near = Frame(1);
    const RenderedFrame oneOff = r.Render(near.data(), near.size(), o);
    const RenderedFrame inFocus = r.Render(sharp.data(), sharp.size(), o);
    EXPECT_LT(oneOff.peakingMarks, inFocus.peakingMarks);
}

TEST(LiveFrameRenderer, BlackAndWhiteTurnsThePictureGreyButNotThePeakingMarks)
{
    const auto jpeg = Frame(0);
    LiveFrameRenderer r;
    RenderOptions o;
    o.boxWidth = 512;
    o.boxHeight = 340;
    o.blackAndWhite = true;
    o.peaking = true;
    o.peakingColour = kMagenta;
    const RenderedFrame f = r.Render(jpeg.data(), jpeg.size(), o);
    size_t coloured = 0;
    for (int y = 0; y < f.image.height; ++y)
        for (int x = 0; x < f.image.width; ++x) {
            const Rgb c = At(f.image, x, y);
            coloured += !(c.r == c.g && c.g == c.b);
        }
    EXPECT_GT(coloured, 0u);
    EXPECT_EQ(coloured, PixelsOf(f.image, kMagenta));
    // The histogram counts every fourth pixel of every second row, in colour.
    ImageHistogram h = f.histogram;
    EXPECT_EQ(h.SampleCount(), 128u * 170u);
    uint32_t redOnly = 0;
    for (int v = 0; v < 256; ++v)
        redOnly += h.RawBin(ImageHistogram::Red, v) != h.RawBin(ImageHistogram::Blue, v);
    EXPECT_GT(redOnly, 0u);
}

TEST(LiveFrameRenderer, ABrokenFrameIsRefusedWithLibjpegsText)
{
    auto jpeg = Frame(0);
    jpeg.resize(jpeg.size() / 3);
    LiveFrameRenderer r;
    RenderOptions o;
    o.boxWidth = 700;
    o.boxHeight = 500;
    try {
        r.Render(jpeg.data(), jpeg.size(), o);
        FAIL() << "a third of a frame rendered";
    } catch (const JpegError& e) {
        EXPECT_NE(std::string(e.what()).find("Premature end"), std::string::npos) << e.what();
    }
    const uint8_t junk[] = {1, 2, 3, 4};
    EXPECT_THROW(r.Render(junk, sizeof junk, o), JpegError);
}

}  // namespace
