// DisplayTransform: turns 8-bit RGB pixels from a picture's colour space into a monitor's,
// in place, with Little CMS.
//
// Two ways, chosen when the transform is made, giving the same values to within one step
// of 8 bits:
//  - two matrix/curve profiles (sRGB, Adobe RGB, most display profiles): the program's
//    own fast path, from the two profiles' primaries and curves: a table to linear light,
//    a 3 x 3 matrix, and a fine table back to the monitor's curve. Rendering intents and
//    black-point compensation make no difference between such profiles;
//  - anything with tables (the profiles calibration tools make, a v4 profile under the
//    perceptual intent): Little CMS's own 8-bit transform.
// Profiles that describe the same colours make no transform at all (Make returns null):
// an sRGB picture on an sRGB monitor costs nothing.
//
// Threads: Make and TransformCache on one thread at a time (the UI thread); a made
// transform never changes, so any thread may Apply it, also several at once. Apply blocks
// for the work only (about a hundred million pixels a second on the fast path).
#pragma once

#include "colour/ColourProfile.h"
#include "imaging/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>

namespace colour {

enum class RenderingIntent {
    Perceptual = 0,                 // the default
    RelativeColorimetricBpc = 1,    // relative colorimetric with black-point compensation
};

// Byte order of the pixels: the program's bitmaps are blue, green, red; live-view frames
// are blue, green, red and a fourth byte left as it is (the screen's 32-bit layout).
enum class PixelOrder { Bgr, Rgb, Bgrx };

class DisplayTransform {
public:
    // Null when the two profiles describe the same colours, or when Little CMS cannot
    // join them (the pixels are then shown as they are).
    static std::shared_ptr<const DisplayTransform> Make(const Profile& from, const Profile& to,
                                                        RenderingIntent intent,
                                                        PixelOrder order = PixelOrder::Bgr);
    ~DisplayTransform();
    DisplayTransform(const DisplayTransform&) = delete;
    DisplayTransform& operator=(const DisplayTransform&) = delete;

    // `height` rows of `width` pixels, 3 bytes each (4 for PixelOrder::Bgrx), `stride` bytes
    // apart, in place.
    void Apply(uint8_t* pixels, int width, int height, size_t stride) const;
    // A whole bitmap, or the part of it inside the rectangle (clipped to the bitmap).
    void Apply(Bitmap& bitmap) const;
    void Apply(Bitmap& bitmap, int x, int y, int width, int height) const;

    // True on the program's own matrix/curve path.
    bool FastPath() const { return matrix_ != nullptr; }

private:
    struct Matrix;
    DisplayTransform() = default;
    static std::unique_ptr<Matrix> MakeMatrix(const Profile& from, const Profile& to, PixelOrder order);

    std::unique_ptr<Matrix> matrix_;
    void* lcms_ = nullptr;  // cmsHTRANSFORM when not on the fast path
};

// The few transforms in use, kept by what they join: making one costs up to a few
// milliseconds (tens for a large table-based profile), applying one much less.
class TransformCache {
public:
    // The transform from `picture` to `monitor`, made on first use; null as Make gives.
    std::shared_ptr<const DisplayTransform> Get(const Profile& picture, const Profile& monitor,
                                                RenderingIntent intent, PixelOrder order = PixelOrder::Bgr);
    void Clear() { entries_.clear(); }
    size_t Size() const { return entries_.size(); }

private:
    struct Entry {
        std::string key;
        std::shared_ptr<const DisplayTransform> transform;
    };
    std::deque<Entry> entries_;  // most recently used first
    static constexpr size_t kKept = 6;
};

} // namespace colour
