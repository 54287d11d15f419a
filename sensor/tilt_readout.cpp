#include "sensor/tilt_readout.h"

#include <cmath>

namespace orvane {
namespace {

// Radians to degrees with the single-precision factor (0x42652EE1) the readouts have always used.
constexpr float kDegreesPerRadian = 57.29578f;
// offAxisMeasure below this means within about a quarter of a degree of an axis.
constexpr double kOnAxisMeasure = 0.02;

} // namespace

TiltReadout readTilt(const float tilt[3], float offAxisMeasure) {
    const double c0 = tilt[0], c1 = tilt[1], c2 = tilt[2];
    const double toDegrees = kDegreesPerRadian;
    TiltReadout r{};
    r.markerX = -tilt[0];
    r.markerY = tilt[2];
    r.angleX = static_cast<float>(std::atan2(c0, c1) * toDegrees);
    r.angleY = static_cast<float>(std::atan2(c2, c1) * toDegrees);
    const double m = std::sqrt((c2 * c2 + c1 * c1) + c0 * c0);
    r.u = m == 0.0 ? tilt[1] : static_cast<float>(c1 * (1.0 / m));
    r.totalTilt = static_cast<float>(std::acos(static_cast<double>(r.u)) * toDegrees);
    r.markerColour =
        static_cast<double>(offAxisMeasure) < kOnAxisMeasure ? kLiveGreen : kLiveYellow;
    return r;
}

} // namespace orvane
