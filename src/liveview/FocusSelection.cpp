#include "liveview/FocusSelection.h"

namespace liveview {

SelectedFocusPoints FocusPointsForSelection(uint16_t afPointSetting)
{
    SelectedFocusPoints p;
    switch (afPointSetting & 0xF) {
    case 1: p.sevenPointMask = 0x7F; p.threePointValue = 0x3007; break;
    case 7: p.sevenPointMask = 0x10; break;
    case 6: p.sevenPointMask = 0x40; break;
    case 4: p.sevenPointMask = 0x20; p.threePointValue = 0x3004; break;
    case 3: break;
    case 2: p.sevenPointMask = 0x02; p.threePointValue = 0x3001; break;
    case 5: p.sevenPointMask = 0x01; break;
    case 8: p.sevenPointMask = 0x04; break;
    default: break;
    }
    return p;
}

}  // namespace liveview
