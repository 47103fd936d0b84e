// Header angles are degrees; the rotation and the projection library work
// in radians.
#pragma once

constexpr double kDegreesToRadians = 0.017453292519943295;   // pi / 180
