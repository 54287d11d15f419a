#include "sensor/view_rotation.h"

#include <cmath>

namespace orvane {

Quaternion viewRotationForAngle(float viewAngle) {
    // pi / 360: half the angle, in radians.
    const double h = static_cast<double>(viewAngle) * 0.008726646259971648;
    return {static_cast<float>(std::cos(h)), 0.0f, static_cast<float>(std::sin(h)), 0.0f};
}

} // namespace orvane
