// Rotations: clockwise degrees, one of 0, 90, 180, 270. The one rule that turns any other
// stored value into 0, and the rotation the user's OrientationSetting asks for.
// Pure functions; any thread.
#pragma once

#include <optional>

// 90, 180 and 270 stay; anything else (a damaged or unknown value) is 0.
constexpr int NormalizeRotation(int degrees)
{
    return degrees == 90 || degrees == 180 || degrees == 270 ? degrees : 0;
}

// The rotation stamped into a saved picture for OrientationSetting 0..3 ("Landscape" 0,
// "Portrait (90 degrees CCW)" 270, "Portrait (90 degrees CW)" 90, "Inverted" 180); none
// for 4 ("Use Orientation Sensor") and for values outside the menu.
constexpr std::optional<int> RotationForOrientationSetting(int orientationSetting)
{
    switch (orientationSetting) {
    case 0: return 0;
    case 1: return 270;
    case 2: return 90;
    case 3: return 180;
    default: return std::nullopt;
    }
}
