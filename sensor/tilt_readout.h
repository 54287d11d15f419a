#pragma once

#include <cstdint>

namespace orvane {

// Marker colours as 0x00RRGGBB pixels: on an axis (green) or off it (yellow).
inline constexpr std::uint32_t kLiveGreen = 0x10D010;
inline constexpr std::uint32_t kLiveYellow = 0xE0FF40;

// What the view shows for one tilt vector (c0, c1, c2), c1 along the tower.
struct TiltReadout {
    float markerX;   // -c0, g
    float markerY;   // c2, g
    float angleX;    // atan2(c0, c1), degrees
    float angleY;    // atan2(c2, c1), degrees
    float u;         // c1 / |tilt|, the cosine of the total tilt
    float totalTilt; // angle between the tilt vector and the tower axis, degrees
    std::uint32_t markerColour;
};

// Angles in double precision, each result stored as float; colour green below 0.02.
TiltReadout readTilt(const float tilt[3], float offAxisMeasure);

} // namespace orvane
