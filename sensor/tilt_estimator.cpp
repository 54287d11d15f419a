#include "sensor/tilt_estimator.h"

#include "sensor/frame_decoder.h"

#include <cmath>
#include <cstring>

namespace orvane {
namespace {

// Counts are thousandths of g; the factor is the single-precision 0.001 (0.0010000000474974513),
// multiplied in double precision.
constexpr float kCountScale = 0.001f;
// Squared magnitudes accepted as gravity, both bounds inclusive.
constexpr double kGateLow = 0.8;
constexpr double kGateHigh = 1.2;
// A vector this close to (0, 1, 0) needs no rotation.
constexpr float kOnAxis1 = 0.999999f;
// Below this c1 a vector counts as near the opposite of (0, 1, 0), where the shortest rotation
// is checked for having kept its unit length (within kUnitTolerance of its square).
constexpr float kNearlyOpposite = -0.99f;
constexpr double kUnitTolerance = 1e-3;
// View rotations closer than this to the identity are not applied.
constexpr double kViewIdentityW = 0.999;
// Off-axis components up to this size count as none at all.
constexpr double kOffAxisFloor = 0.001;

double countToG(const std::uint8_t* bytes) {
    const auto raw =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]));
    return static_cast<double>(raw) * static_cast<double>(kCountScale);
}

// a * conjugate(b), in double precision, stored as float.
Quaternion multiplyByConjugate(const Quaternion& a, const Quaternion& b) {
    const double aw = a.w, ax = a.x, ay = a.y, az = a.z;
    const double bw = b.w, bx = -static_cast<double>(b.x), by = -static_cast<double>(b.y),
                 bz = -static_cast<double>(b.z);
    return {static_cast<float>(aw * bw - ax * bx - ay * by - az * bz),
            static_cast<float>(aw * bx + ax * bw + ay * bz - az * by),
            static_cast<float>(aw * by - ax * bz + ay * bw + az * bx),
            static_cast<float>(aw * bz + ax * by - ay * bx + az * bw)};
}

} // namespace

TiltEstimator::TiltEstimator()
    : ringBegin(ring), ringEnd(ring + kFirTaps), ringCursor(ring), coefficients(firCoefficients) {}

void TiltEstimator::put(const ByteBuffer& block) {
    if (block.length == 0)
        return;
    const std::uint8_t* b = block.data;
    if (b[0] == kReplyE) {
        eFrameSeen = true;
        signalDone(1);
        return;
    }
    // The decoder never hands down anything else, but a short block must not be read past its end.
    if (block.length < static_cast<std::uint32_t>(kFrameSize))
        return;

    const double c1Wide = countToG(b + 3);
    const AccelSample sample{static_cast<float>(countToG(b + 1)), static_cast<float>(c1Wide),
                             static_cast<float>(countToG(b + 5))};

    if (!referenceTaken && b[0] == kReferenceType) {
        referenceTaken = true;
        const double v0 = sample.c0, v1 = sample.c1, v2 = sample.c2;
        const double n = std::sqrt(v0 * v0 + v1 * v1 + v2 * v2);
        if (n != 0.0) {
            referenceVector[0] = static_cast<float>(v0 / n);
            referenceVector[1] = static_cast<float>(v1 / n);
            referenceVector[2] = static_cast<float>(v2 / n);
        } else {
            referenceVector[0] = sample.c0;
            referenceVector[1] = sample.c1;
            referenceVector[2] = sample.c2;
        }
        referenceRotation = rotationToAxis1(referenceVector);
        signalDone(1);
        return;
    }

    // c1 enters the gate unrounded, c0 and c2 as stored.
    const double c0 = sample.c0, c2 = sample.c2;
    const double m = c2 * c2 + c1Wide * c1Wide + c0 * c0;
    if (!(m >= kGateLow && m <= kGateHigh))
        return;

    *ringCursor = sample;
    const FilterSlot slot{{sample.c0, sample.c1, sample.c2, 0.0}};
    filterWindow_[ringCursor - ringBegin] = slot;
    filterWindow_[ringCursor - ringBegin + kFirTaps] = slot;
    if (++ringCursor == ringEnd)
        ringCursor = ringBegin;

    if (referenceTaken) {
        correctFilteredVector();
    } else {
        filter(tiltVector);
    }
    offAxisMeasure = measureOffAxis(tiltVector);
    ++sampleCount;
    signalDone(1);
}

void TiltEstimator::signalDone(std::int32_t value) {
    if (upstream)
        upstream->signalDone(value);
}

#if defined(__GNUC__)
// Two double lanes, written out rather than left to the auto-vectoriser (which is switched off
// for this library, see its CMakeLists.txt). Each lane is one component summed in tap order.
using DoublePair = double __attribute__((vector_size(16)));

void TiltEstimator::filter(float out[3]) const {
    // Oldest sample first: tap 0 meets the slot at the cursor.
    const FilterSlot* window = filterWindow_ + (ringCursor - ringBegin);
    DoublePair s01 = {0.0, 0.0}, s2 = {0.0, 0.0};
    for (int i = 0; i < kFirTaps; ++i) {
        DoublePair c01, c2;
        std::memcpy(&c01, &window[i].c[0], sizeof c01);
        std::memcpy(&c2, &window[i].c[2], sizeof c2);
        const double tap = coefficients[i];
        s01 += tap * c01;
        s2 += tap * c2;
    }
    out[0] = static_cast<float>(s01[0]);
    out[1] = static_cast<float>(s01[1]);
    out[2] = static_cast<float>(s2[0]);
}
#else
void TiltEstimator::filter(float out[3]) const {
    const FilterSlot* window = filterWindow_ + (ringCursor - ringBegin);
    double s[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < kFirTaps; ++i) {
        for (int j = 0; j < 3; ++j)
            s[j] += coefficients[i] * window[i].c[j];
    }
    for (int j = 0; j < 3; ++j)
        out[j] = static_cast<float>(s[j]);
}
#endif

void TiltEstimator::correctFilteredVector() {
    float f[3];
    filter(f);
    const double f0 = f[0], f1 = f[1], f2 = f[2];
    const double norm = std::sqrt(f0 * f0 + f1 * f1 + f2 * f2);
    float u[3] = {f[0], f[1], f[2]};
    if (norm != 0.0) {
        const auto reciprocal = static_cast<double>(static_cast<float>(1.0 / norm));
        for (int j = 0; j < 3; ++j)
            u[j] = static_cast<float>(static_cast<double>(f[j]) * reciprocal);
    }

    Quaternion q = multiplyByConjugate(rotationToAxis1(u), referenceRotation);
    const Quaternion view = viewRotation();
    if (static_cast<double>(view.w) < kViewIdentityW)
        q = multiplyByConjugate(q, view);

    const double q0 = q.w, q1 = q.x, q2 = q.y, q3 = q.z;
    tiltVector[0] = static_cast<float>(2.0 * (q1 * q2 + q0 * q3));
    tiltVector[1] = static_cast<float>(1.0 - 2.0 * (q1 * q1 + q3 * q3));
    tiltVector[2] = static_cast<float>(2.0 * (q2 * q3 - q0 * q1));
}

Quaternion TiltEstimator::rotationToAxis1(const float v[3]) {
    const float d = v[1];
    if (d > kOnAxis1)
        return {1.0f, 0.0f, 0.0f, 0.0f};
    const double s = std::sqrt((static_cast<double>(d) + 1.0) * 0.5);
    if (s > 1e-8) {
        const double k = 1.0 / (2.0 * s);
        const Quaternion q{static_cast<float>(s),
                           static_cast<float>(-static_cast<double>(v[2]) * k), 0.0f,
                           static_cast<float>(static_cast<double>(v[0]) * k)};
        // Far from the opposite direction this is a unit quaternion for every unit v. Within a
        // hair of it the normal is lost in rounding, and the result no longer is one.
        const double norm2 = static_cast<double>(q.w) * q.w + static_cast<double>(q.x) * q.x +
                             static_cast<double>(q.z) * q.z;
        if (d > kNearlyOpposite || std::fabs(norm2 - 1.0) <= kUnitTolerance)
            return q;
    }
    // Opposite to the axis: a half turn about any axis across it carries v onto it. The zero
    // quaternion that k = 1 would give here reads as "level" whatever the tilt.
    const double h = std::sqrt(static_cast<double>(v[0]) * v[0] + static_cast<double>(v[2]) * v[2]);
    if (h > 0.0)
        return {0.0f, static_cast<float>(-static_cast<double>(v[2]) / h), 0.0f,
                static_cast<float>(static_cast<double>(v[0]) / h)};
    return {0.0f, 1.0f, 0.0f, 0.0f};
}

float TiltEstimator::measureOffAxis(const float t[3]) {
    const float a0 = std::fabs(t[0]);
    const float a1 = std::fabs(t[1]);
    const float a2 = std::fabs(t[2]);
    // Ties go to the later axis: c0 must be strictly largest, c1 strictly larger than c2.
    float p, q;
    if (a0 > a1 && a0 > a2) {
        p = a1;
        q = a2;
    } else if (a1 > a2) {
        p = a2;
        q = a0;
    } else {
        p = a1;
        q = a0;
    }
    const double dp = p, dq = q;
    if (dq > kOffAxisFloor || dp > kOffAxisFloor)
        return static_cast<float>((dp * dp + dq * dq) * 1000.0);
    return 0.0f;
}

void TiltEstimator::setViewRotation(const Quaternion& rotation) {
    const std::lock_guard<std::mutex> lock(viewWriters_);
    const std::uint32_t sequence = viewSequence_.load(std::memory_order_relaxed);
    viewSequence_.store(sequence + 1, std::memory_order_relaxed);
    // Release stores: a reader that sees any new component also sees the odd sequence.
    viewW_.store(rotation.w, std::memory_order_release);
    viewX_.store(rotation.x, std::memory_order_release);
    viewY_.store(rotation.y, std::memory_order_release);
    viewZ_.store(rotation.z, std::memory_order_release);
    viewSequence_.store(sequence + 2, std::memory_order_release);
}

Quaternion TiltEstimator::viewRotation() const {
    for (;;) {
        const std::uint32_t before = viewSequence_.load(std::memory_order_acquire);
        // Acquire loads keep the second sequence load after them.
        const Quaternion q{
            viewW_.load(std::memory_order_acquire), viewX_.load(std::memory_order_acquire),
            viewY_.load(std::memory_order_acquire), viewZ_.load(std::memory_order_acquire)};
        const std::uint32_t after = viewSequence_.load(std::memory_order_relaxed);
        if (before == after && (before & 1u) == 0)
            return q;
    }
}

} // namespace orvane
