#pragma once

#include "sensor/tilt_estimator.h"

namespace orvane {

// The view rotation for a view angle in degrees: a turn by that angle about the c1 (tower) axis,
// (cos h, 0, sin h, 0) with h = angle * pi / 360 in double precision.
Quaternion viewRotationForAngle(float viewAngle);

} // namespace orvane
