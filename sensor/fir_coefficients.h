#pragma once

namespace orvane {

inline constexpr int kFirTaps = 119;

// Taps of the tilt low-pass filter. Tap 0 is applied to the oldest sample of the window.
extern const double firCoefficients[kFirTaps];

} // namespace orvane
