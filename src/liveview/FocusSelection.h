// FocusSelection: the focus points a body's AF-point selection (the cdREL_SET_AF_POINT
// setting, low 4 bits: 1 automatic, 7 top, 6 far left, 4 left, 3 centre, 2 right,
// 5 far right, 8 bottom) names, in the form the focus-point overlay draws them: the
// seven-point mask (0x40 far left, 0x20 left, 0x08 centre, 0x02 right, 0x01 far right,
// 0x10 top, 0x04 bottom) and the three-point value (0x3000 plus 4 left, 2 centre, 1 right).
// Automatic selection marks every point; an unknown code, or a point a three-point body
// lacks, the centre. Plain functions; any thread.
#pragma once

#include <cstdint>

namespace liveview {

struct SelectedFocusPoints {
    uint32_t sevenPointMask = 0x08;
    uint32_t threePointValue = 0x3002;
};

SelectedFocusPoints FocusPointsForSelection(uint16_t afPointSetting);

}  // namespace liveview
