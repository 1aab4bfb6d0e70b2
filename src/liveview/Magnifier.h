// Magnifier: the arithmetic of live view's magnification. Three levels: the whole frame
// fitted to the screen, 5x and 10x. A click on the picture on show moves to the next level
// (fit, 5x, 10x, back to fit) centred on the point of the whole frame under the pointer.
// At 5x and 10x the area shown is a fifth or a tenth of the whole frame across and down,
// kept inside the frame.
//
// The same area is shown whichever way it is magnified: where the body magnifies its own
// frames (cdLV_CAP_CAMERA_ZOOM) it is told the level and centre and its frames are the
// area itself; otherwise the program crops the area out of the whole frame and enlarges
// it. A plain value type; one thread at a time; nothing blocks.
#pragma once

namespace liveview {

struct AreaF {
    double left = 0, top = 0, width = 0, height = 0;
};

struct PointI {
    int x = 0, y = 0;
};

class Magnifier {
public:
    // Size of the whole frame (what the body sends unmagnified).
    void SetFrameSize(int width, int height);
    int FrameWidth() const { return frameWidth_; }
    int FrameHeight() const { return frameHeight_; }

    int Level() const { return level_; }  // 1, 5 or 10
    PointI Centre() const { return centre_; }
    // Sets a level (1, 5, 10; anything else counts as 1) centred on a point of the whole
    // frame; the centre is clamped into the frame.
    void Set(int level, PointI centre);
    // Back to the whole frame.
    void Reset() { Set(1, {frameWidth_ / 2, frameHeight_ / 2}); }

    // The part of the whole frame on show, in whole-frame pixels (inside the frame).
    AreaF Area() const;
    // The point of the whole frame under (x, y) of the picture on show, which is
    // shownWidth x shownHeight and shows Area() (clamped into the frame).
    PointI FrameAt(int x, int y, int shownWidth, int shownHeight) const;
    // A click at (x, y) of the picture on show: the next level, centred there.
    void Click(int x, int y, int shownWidth, int shownHeight);

    static int NextLevel(int level) { return level == 1 ? 5 : level == 5 ? 10 : 1; }

private:
    int frameWidth_ = 0, frameHeight_ = 0;
    int level_ = 1;
    PointI centre_;
};

}  // namespace liveview
