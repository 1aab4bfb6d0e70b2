#include "liveview/Magnifier.h"

#include <algorithm>
#include <cmath>

namespace liveview {

void Magnifier::SetFrameSize(int width, int height)
{
    frameWidth_ = std::max(width, 0);
    frameHeight_ = std::max(height, 0);
    Set(level_, centre_);
}

void Magnifier::Set(int level, PointI centre)
{
    level_ = level == 5 || level == 10 ? level : 1;
    centre_.x = std::clamp(centre.x, 0, std::max(frameWidth_ - 1, 0));
    centre_.y = std::clamp(centre.y, 0, std::max(frameHeight_ - 1, 0));
}

AreaF Magnifier::Area() const
{
    AreaF a;
    a.width = static_cast<double>(frameWidth_) / level_;
    a.height = static_cast<double>(frameHeight_) / level_;
    a.left = std::clamp(centre_.x - a.width / 2, 0.0, frameWidth_ - a.width);
    a.top = std::clamp(centre_.y - a.height / 2, 0.0, frameHeight_ - a.height);
    return a;
}

PointI Magnifier::FrameAt(int x, int y, int shownWidth, int shownHeight) const
{
    const AreaF a = Area();
    const double fx = a.left + (std::clamp(x, 0, std::max(shownWidth - 1, 0)) + 0.5) * a.width / std::max(shownWidth, 1);
    const double fy = a.top + (std::clamp(y, 0, std::max(shownHeight - 1, 0)) + 0.5) * a.height / std::max(shownHeight, 1);
    return {std::clamp(static_cast<int>(std::floor(fx)), 0, std::max(frameWidth_ - 1, 0)),
            std::clamp(static_cast<int>(std::floor(fy)), 0, std::max(frameHeight_ - 1, 0))};
}

void Magnifier::Click(int x, int y, int shownWidth, int shownHeight)
{
    const PointI at = FrameAt(x, y, shownWidth, shownHeight);
    const int next = NextLevel(level_);
    Set(next, next == 1 ? PointI{frameWidth_ / 2, frameHeight_ / 2} : at);
}

}  // namespace liveview
