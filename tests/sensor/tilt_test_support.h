#pragma once

// Small helpers shared by the tilt estimator tests: frames on the wire, a stage that records
// done reports, and an independent double-precision model of the rotations.

#include "link/stage.h"
#include "tests/support/wire_frame.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace orvane::testing_support {

using Frame = test_support::WireFrame;

// A frame as the sensor sends it, counts in thousandths of g, with its check byte.
inline Frame makeFrame(std::uint8_t type, int c0, int c1, int c2) {
    return test_support::makeWireFrame(type, c0, c1, c2);
}

// Upstream neighbour that keeps every done report.
class DoneRecorder : public LinkedStage {
public:
    void put(const ByteBuffer&) override {}
    bool deleteOnDetach() override { return false; }
    void signalDone(std::int32_t value) override { reports.push_back(value); }
    std::vector<std::int32_t> reports;
};

struct Vec3 {
    double x, y, z;
};

inline double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Vec3 scaled(const Vec3& a, double k) {
    return {a.x * k, a.y * k, a.z * k};
}
inline Vec3 normalised(const Vec3& a) {
    return scaled(a, 1.0 / std::sqrt(dot(a, a)));
}

// Rodrigues: turns v by the shortest rotation that carries the unit vector from onto (0, 1, 0).
inline Vec3 turnOntoAxis1(const Vec3& from, const Vec3& v) {
    const Vec3 axis = cross(from, {0, 1, 0});
    const double sinAngle = std::sqrt(dot(axis, axis));
    if (sinAngle < 1e-12)
        return v;
    const Vec3 k = scaled(axis, 1.0 / sinAngle);
    const double cosAngle = from.y;
    const Vec3 kv = cross(k, v);
    const double kDotV = dot(k, v);
    return {v.x * cosAngle + kv.x * sinAngle + k.x * kDotV * (1 - cosAngle),
            v.y * cosAngle + kv.y * sinAngle + k.y * kDotV * (1 - cosAngle),
            v.z * cosAngle + kv.z * sinAngle + k.z * kDotV * (1 - cosAngle)};
}

// Right-handed turn by degrees about the c1 axis.
inline Vec3 turnAboutAxis1(const Vec3& v, double degrees) {
    const double a = degrees * std::numbers::pi / 180.0;
    return {v.x * std::cos(a) + v.z * std::sin(a), v.y, -v.x * std::sin(a) + v.z * std::cos(a)};
}

} // namespace orvane::testing_support
