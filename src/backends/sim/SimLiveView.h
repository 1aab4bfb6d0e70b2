// SimLiveView: the frames of the simulated body's live view. A moving scene (a turning
// spoked star, drifting coloured blocks over a fine texture; it repeats every
// kLiveViewCycle frames) rendered at kLiveViewWidth x kLiveViewHeight and encoded as a
// baseline JPEG of about 100 KB. Its sharpness follows the simulated lens: a box blur whose
// radius grows by one pixel per focus step away from the position where the scene is
// sharp, so focus drive, autofocus and focus peaking can be checked on pixels. The body's
// own magnification (5x, 10x) renders the scene's detail, not an enlarged frame.
//
// Focus positions run from 0 (nearest distance) to kFocusTravel (infinity); the three step
// sizes of CDDriveFocus move kFocusStepSizes[0..2] positions.
//
// Threads: MakeLiveViewFrame is a pure function, any thread. LiveViewFrames is one cache
// for one caller at a time (the simulator guards it). Calls block for the rendering and
// encoding (about 15 ms for a frame not yet in the cache).
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace sim {

constexpr int kLiveViewWidth = 1024;
constexpr int kLiveViewHeight = 680;
constexpr int kLiveViewCycle = 60;    // frames until the scene repeats (2 s at 30 fps)
constexpr int kFocusTravel = 120;     // focus positions 0 (nearest) .. kFocusTravel (infinity)
constexpr int kFocusStepSizes[3] = {1, 5, 20};  // positions moved by steps of size 1, 2, 3
constexpr int kMaxBlurRadius = 24;

// The focus position at which a body with this seed sees its scene sharp (40..80).
int SharpestFocusPosition(uint32_t seed);
// Blur radius in frame pixels for the lens at `focusPosition`: one per step away from
// `sharpest`, at most kMaxBlurRadius.
int BlurRadiusForFocus(int focusPosition, int sharpest);

struct LiveViewFrameParams {
    int width = kLiveViewWidth;
    int height = kLiveViewHeight;
    int phase = 0;          // frame of the cycle, 0 .. kLiveViewCycle - 1
    int blurRadius = 0;     // in whole-frame pixels
    int zoom = 1;           // 1, 5 or 10: the body's magnification
    int zoomX = 0;          // centre of the magnified area, whole-frame pixels
    int zoomY = 0;
    int quality = 80;       // JPEG quality
    uint32_t seed = 1;      // varies the colours

    bool operator<(const LiveViewFrameParams& o) const
    {
        return std::tie(phase, blurRadius, zoom, zoomX, zoomY, width, height, quality, seed) <
               std::tie(o.phase, o.blurRadius, o.zoom, o.zoomX, o.zoomY, o.width, o.height, o.quality, o.seed);
    }
};

// One live-view frame as the body sends it: a JPEG (no Exif block).
std::vector<uint8_t> MakeLiveViewFrame(const LiveViewFrameParams& params);

// The left edge and top of the magnified area of a zoom centred on (x, y), kept inside
// the frame (whole-frame pixels).
void ZoomOrigin(int width, int height, int zoom, int x, int y, int* left, int* top);

// The frames made so far, the most recently used kept up to `capacity` (a still lens
// makes every frame of the cycle once and then streams from here).
class LiveViewFrames {
public:
    explicit LiveViewFrames(size_t capacity = kLiveViewCycle) : capacity_(capacity) {}
    std::shared_ptr<const std::vector<uint8_t>> Frame(const LiveViewFrameParams& params);
    size_t Size() const { return frames_.size(); }

private:
    using Entry = std::pair<std::shared_ptr<const std::vector<uint8_t>>, std::list<LiveViewFrameParams>::iterator>;
    size_t capacity_;
    std::map<LiveViewFrameParams, Entry> frames_;
    std::list<LiveViewFrameParams> order_;  // most recently used first
};

}  // namespace sim
