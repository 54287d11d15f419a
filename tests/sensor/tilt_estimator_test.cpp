#include "sensor/tilt_estimator.h"

#include "sensor/fir_coefficients.h"
#include "sensor/frame_decoder.h"
#include "sensor/tilt_readout.h"
#include "sensor/view_rotation.h"
#include "tilt_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace orvane {
namespace {

using namespace testing_support;

constexpr std::uint8_t kColon = kSampleType;
constexpr std::uint8_t kSemicolon = kReferenceType;

class TiltEstimatorTest : public ::testing::Test {
protected:
    void SetUp() override { estimator.setUpstream(&upstream); }

    void putBytes(const std::uint8_t* data, std::uint32_t length) {
        estimator.put(ByteBuffer(data, length));
    }
    void putFrame(std::uint8_t type, int c0, int c1, int c2) {
        const Frame f = makeFrame(type, c0, c1, c2);
        putBytes(f.data(), static_cast<std::uint32_t>(f.size()));
    }
    void putSamples(int count, int c0, int c1, int c2) {
        for (int i = 0; i < count; ++i)
            putFrame(kColon, c0, c1, c2);
    }
    Vec3 tilt() const {
        return {estimator.tiltVector[0], estimator.tiltVector[1], estimator.tiltVector[2]};
    }

    TiltEstimator estimator;
    DoneRecorder upstream;
};

// The float a count becomes: the single-precision 0.001 times the count, rounded once.
float countToG(int count) {
    return static_cast<float>(count * static_cast<double>(0.001f));
}

// Plain filter over the last 119 samples (zeros before the first), tap 0 on the oldest,
// accumulated in double in tap order.
Vec3 referenceFilter(const std::vector<AccelSample>& history) {
    AccelSample window[kFirTaps] = {};
    const std::size_t n = std::min<std::size_t>(history.size(), kFirTaps);
    for (std::size_t i = 0; i < n; ++i)
        window[kFirTaps - n + i] = history[history.size() - n + i];
    double s[3] = {0, 0, 0};
    for (int i = 0; i < kFirTaps; ++i) {
        s[0] += firCoefficients[i] * static_cast<double>(window[i].c0);
        s[1] += firCoefficients[i] * static_cast<double>(window[i].c1);
        s[2] += firCoefficients[i] * static_cast<double>(window[i].c2);
    }
    return {static_cast<float>(s[0]), static_cast<float>(s[1]), static_cast<float>(s[2])};
}

TEST_F(TiltEstimatorTest, EReplyRaisesTheFlagAndSignalsDoneOnly) {
    const Frame eFrame = makeFrame(kReplyE, 0, 1000, 0);
    for (const std::uint32_t length : {1u, 8u}) {
        SCOPED_TRACE(length);
        TiltEstimator fresh;
        DoneRecorder up;
        fresh.setUpstream(&up);
        fresh.put(ByteBuffer(eFrame.data(), length));
        EXPECT_TRUE(fresh.eFrameSeen);
        EXPECT_EQ(up.reports, std::vector<std::int32_t>{1});
        EXPECT_FALSE(fresh.referenceTaken);
        EXPECT_EQ(fresh.sampleCount, 0u);
        EXPECT_EQ(fresh.ringCursor, fresh.ringBegin);
        EXPECT_EQ(fresh.tiltVector[1], 0.0f);
    }
}

// A block that is not the "e" reply and shorter than a frame is ignored, and never read past its
// end (each block lives in an allocation of exactly its length, for the address sanitizer).
TEST_F(TiltEstimatorTest, ShortBlocksAreIgnoredWithoutOverread) {
    const Frame reference = makeFrame(kSemicolon, 0, 1000, 0);
    const Frame sample = makeFrame(kColon, 0, 1000, 0);
    for (const Frame* f : {&reference, &sample}) {
        for (std::uint32_t length = 0; length < 8; ++length) {
            SCOPED_TRACE(length);
            auto exact = std::make_unique<std::uint8_t[]>(length);
            std::memcpy(exact.get(), f->data(), length);
            putBytes(length ? exact.get() : nullptr, length);
        }
    }
    EXPECT_FALSE(estimator.referenceTaken);
    EXPECT_EQ(estimator.sampleCount, 0u);
    EXPECT_TRUE(upstream.reports.empty());
    // Bytes beyond the eighth are not part of the frame.
    std::vector<std::uint8_t> longer(sample.begin(), sample.end());
    longer.insert(longer.end(), {0x3B, 0x7F, 0x7F});
    putBytes(longer.data(), static_cast<std::uint32_t>(longer.size()));
    EXPECT_EQ(estimator.sampleCount, 1u);
}

TEST_F(TiltEstimatorTest, FirstReferenceFrameIsTakenWithoutTheGate) {
    const float h = std::sqrt(0.5f);
    struct Case {
        int c0, c1, c2;
        float vector[3];
        Quaternion rotation;
    };
    const Case cases[] = {
        {0, 1000, 0, {0, 1, 0}, {1, 0, 0, 0}},
        {3000, 0, 0, {1, 0, 0}, {h, 0, 0, h}},  // 3 g: far outside the gate
        {0, 0, -500, {0, 0, -1}, {h, h, 0, 0}}, // 0.5 g, quarter turn about c0
        {0, 0, 0, {0, 0, 0}, {h, 0, 0, 0}},     // zero: left unnormalised
        {0, 2000, 0, {0, 1, 0}, {1, 0, 0, 0}},
        {0, -1000, 0, {0, -1, 0}, {0, 1, 0, 0}}, // opposite: a half turn, not the zero rotation
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.c0 << ' ' << c.c1 << ' ' << c.c2);
        TiltEstimator fresh;
        DoneRecorder up;
        fresh.setUpstream(&up);
        const Frame f = makeFrame(kSemicolon, c.c0, c.c1, c.c2);
        fresh.put(ByteBuffer(f.data(), 8));
        EXPECT_TRUE(fresh.referenceTaken);
        EXPECT_EQ(fresh.sampleCount, 0u);
        EXPECT_EQ(fresh.ringCursor, fresh.ringBegin);
        EXPECT_EQ(up.reports, std::vector<std::int32_t>{1});
        for (int j = 0; j < 3; ++j)
            EXPECT_FLOAT_EQ(fresh.referenceVector[j], c.vector[j]) << j;
        EXPECT_FLOAT_EQ(fresh.referenceRotation.w, c.rotation.w);
        EXPECT_FLOAT_EQ(fresh.referenceRotation.x, c.rotation.x);
        EXPECT_FLOAT_EQ(fresh.referenceRotation.y, c.rotation.y);
        EXPECT_FLOAT_EQ(fresh.referenceRotation.z, c.rotation.z);
    }
}

TEST_F(TiltEstimatorTest, LaterReferenceFramesAreSamples) {
    putFrame(kSemicolon, 0, 1000, 0);
    putFrame(kSemicolon, 1000, 0, 0);
    EXPECT_FLOAT_EQ(estimator.referenceVector[0], 0.0f);
    EXPECT_FLOAT_EQ(estimator.referenceVector[1], 1.0f);
    EXPECT_EQ(estimator.sampleCount, 1u);
    putFrame(kSemicolon, 3000, 0, 0); // and now they meet the gate
    EXPECT_EQ(estimator.sampleCount, 1u);
}

// The gate sums c2^2 + c1^2 + c0^2 in double, with c1 before its rounding to float; the
// single-precision scale is a little above 0.001.
TEST_F(TiltEstimatorTest, MagnitudeGateBounds) {
    struct Case {
        int c0, c1, c2;
        bool accepted;
    };
    const Case cases[] = {
        {0, 1095, 0, true},
        {0, 1096, 0, false},
        {0, 895, 0, true},
        {0, 894, 0, false},
        {200, 1000, 400, false}, // squares sum to exactly 1.2e6: 1.2000001
        {0, 800, 400, true},     // 0.80000007
        {1095, 0, 0, true},
        {0, 0, -1096, false},
        {0, -1000, 0, true},
        {-600, 600, -600, true},
        {0, 0, 0, false},
        {32767, 32767, 32767, false},
        // Squares summing to exactly 1.2e6 that a single-precision sum would let through.
        {56, 920, 592, false},
        {-80, 1000, 440, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.c0 << ' ' << c.c1 << ' ' << c.c2);
        TiltEstimator fresh;
        DoneRecorder up;
        fresh.setUpstream(&up);
        const Frame f = makeFrame(kColon, c.c0, c.c1, c.c2);
        fresh.put(ByteBuffer(f.data(), 8));
        EXPECT_EQ(fresh.sampleCount, c.accepted ? 1u : 0u);
        EXPECT_EQ(up.reports.size(), c.accepted ? 1u : 0u);
        EXPECT_EQ(fresh.ringCursor, fresh.ringBegin + (c.accepted ? 1 : 0));
    }
}

TEST_F(TiltEstimatorTest, RejectedSampleChangesNothing) {
    putSamples(5, 30, 998, -20);
    const AccelSample* cursor = estimator.ringCursor;
    const Vec3 before = tilt();
    const float offAxis = estimator.offAxisMeasure;
    upstream.reports.clear();
    putFrame(kColon, 0, 1200, 0);
    putFrame(kColon, 0, 300, 0);
    EXPECT_EQ(estimator.ringCursor, cursor);
    EXPECT_EQ(estimator.sampleCount, 5u);
    EXPECT_EQ(estimator.tiltVector[0], before.x);
    EXPECT_EQ(estimator.tiltVector[1], before.y);
    EXPECT_EQ(estimator.tiltVector[2], before.z);
    EXPECT_EQ(estimator.offAxisMeasure, offAxis);
    EXPECT_TRUE(upstream.reports.empty());
}

TEST_F(TiltEstimatorTest, FilterRisesTowardsTheInputBeforeTheReference) {
    putFrame(kColon, 0, 1000, 0);
    // Only the newest slot is non-zero, and it meets tap 118.
    EXPECT_EQ(estimator.tiltVector[0], 0.0f);
    EXPECT_FLOAT_EQ(estimator.tiltVector[1], -0.001386929009f);
    EXPECT_EQ(estimator.sampleCount, 1u);
    putSamples(118, 0, 1000, 0);
    EXPECT_NEAR(estimator.tiltVector[1], 1.0000128f, 2e-7);
    putSamples(300, 0, 1000, 0);
    EXPECT_NEAR(estimator.tiltVector[1], 1.0000128f, 2e-7);
    EXPECT_EQ(estimator.sampleCount, 419u);
}

// Bit for bit against a plain tap-order filter, over several trips round the ring, with rejected
// samples in between (they must not move the window).
TEST_F(TiltEstimatorTest, FilterMatchesPlainTapOrderSum) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> noise(-60, 60);
    std::uniform_int_distribution<int> pick(0, 9);
    std::vector<AccelSample> history;
    for (int n = 0; n < 500; ++n) {
        if (pick(random) == 0) {
            putFrame(kColon, 0, 1300, 0);
            continue;
        }
        const int c0 = 150 + noise(random), c1 = 980 + noise(random), c2 = -90 + noise(random);
        putFrame(kColon, c0, c1, c2);
        history.push_back({countToG(c0), countToG(c1), countToG(c2)});
        const Vec3 expected = referenceFilter(history);
        ASSERT_EQ(estimator.tiltVector[0], static_cast<float>(expected.x)) << n;
        ASSERT_EQ(estimator.tiltVector[1], static_cast<float>(expected.y)) << n;
        ASSERT_EQ(estimator.tiltVector[2], static_cast<float>(expected.z)) << n;
    }
    EXPECT_EQ(estimator.sampleCount, history.size());
}

TEST(TiltEstimatorRotation, RotationToAxis1) {
    const float h = std::sqrt(0.5f);
    const float justAbove = std::nextafter(0.999999f, 1.0f);
    struct Case {
        float v[3];
        Quaternion expected;
    };
    const Case cases[] = {
        {{0, 1, 0}, {1, 0, 0, 0}},
        {{0, justAbove, 0}, {1, 0, 0, 0}},
        {{1, 0, 0}, {h, 0, 0, h}},
        {{0, 0, 1}, {h, -h, 0, 0}},
        // Opposite: a half turn about an axis across the tower axis (the zero quaternion would
        // read every tilt as level).
        {{0, -1, 0}, {0, 1, 0, 0}},
        {{0.6f, -1, 0.8f}, {0, -0.8f, 0, 0.6f}}, // about the normal of v and the axis
        // Nearly opposite with the normal lost in rounding: still a half turn, not (s, 0, 0, 0).
        {{0, std::nextafter(-1.0f, 0.0f), 0}, {0, 1, 0, 0}},
        {{0, 0, 0}, {h, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.v[0] << ' ' << c.v[1] << ' ' << c.v[2]);
        const Quaternion q = TiltEstimator::rotationToAxis1(c.v);
        EXPECT_FLOAT_EQ(q.w, c.expected.w);
        EXPECT_FLOAT_EQ(q.x, c.expected.x);
        EXPECT_FLOAT_EQ(q.y, c.expected.y);
        EXPECT_FLOAT_EQ(q.z, c.expected.z);
    }
    // 0.999999 itself is not close enough to skip the rotation.
    const float atBound[3] = {0, 0.999999f, 0};
    EXPECT_LT(TiltEstimator::rotationToAxis1(atBound).w, 1.0f);

    // Unit vectors all round: the quaternion carries v onto (0, 1, 0).
    std::mt19937 random(7);
    std::normal_distribution<double> normal;
    for (int n = 0; n < 200; ++n) {
        const Vec3 v = normalised({normal(random), normal(random), normal(random)});
        if (v.y < -0.5)
            continue; // near the opposite direction float rounding of v is amplified
        const float vf[3] = {static_cast<float>(v.x), static_cast<float>(v.y),
                             static_cast<float>(v.z)};
        const Quaternion q = TiltEstimator::rotationToAxis1(vf);
        const Vec3 qv = {q.x, q.y, q.z};
        // q v q-conjugate = v + 2w (qv x v) + 2 qv x (qv x v)
        const Vec3 t = scaled(cross(qv, v), 2.0);
        const Vec3 tt = cross(qv, t);
        const Vec3 turned = {v.x + q.w * t.x + tt.x, v.y + q.w * t.y + tt.y,
                             v.z + q.w * t.z + tt.z};
        EXPECT_NEAR(turned.x, 0.0, 1e-6);
        EXPECT_NEAR(turned.y, 1.0, 1e-6);
        EXPECT_NEAR(turned.z, 0.0, 1e-6);
    }

    // Within a degree of the opposite direction: always a unit quaternion (so a unit tilt
    // vector) that carries v up.
    for (int n = 0; n < 200; ++n) {
        const double off = 1e-7 * std::pow(1e5, n / 200.0); // 1e-7 to 1e-2 rad from straight down
        const double around = 0.37 * n;
        const float vf[3] = {static_cast<float>(std::sin(off) * std::cos(around)),
                             static_cast<float>(-std::cos(off)),
                             static_cast<float>(std::sin(off) * std::sin(around))};
        const Quaternion q = TiltEstimator::rotationToAxis1(vf);
        const double norm = std::sqrt(double{q.w} * q.w + double{q.x} * q.x + double{q.y} * q.y +
                                      double{q.z} * q.z);
        EXPECT_NEAR(norm, 1.0, 1e-3) << off;
        const Vec3 v = {vf[0], vf[1], vf[2]};
        const Vec3 qv = {q.x, q.y, q.z};
        const Vec3 t = scaled(cross(qv, v), 2.0);
        const Vec3 tt = cross(qv, t);
        // Up, if not exactly: float rounding of v is amplified this close to the opposite.
        EXPECT_GT(v.y + q.w * t.y + tt.y, 0.99) << off;
    }
}

TEST(TiltEstimatorOffAxis, DominantAxisAndTies) {
    const float f001 = 0.001f; // 0.0010000000475: above the double 0.001
    struct Case {
        float t[3];
        float expected;
    };
    const Case cases[] = {
        {{0.1f, 0.99f, 0}, 10.0f},
        {{0.5f, -0.5f, 0.5f}, 500.0f}, // all tied: c2 wins, P = Q = 0.5
        {{0.6f, 0.6f, 0.1f}, 370.0f},  // c0 ties c1: c1 wins
        {{0.6f, 0.1f, 0.6f}, 370.0f},  // c0 ties c2: c2 wins
        {{0.1f, 0.6f, 0.6f}, 370.0f},  // c1 ties c2: c2 wins
        {{-0.9f, 0.3f, -0.2f}, 130.0f},
        {{0.0f, 0.0f, 1.0f}, 0.0f},
        {{0.0009f, 1.0f, -0.00099999f}, 0.0f}, // both at or below 0.001
        {{f001, 1.0f, 0.0f}, static_cast<float>(static_cast<double>(f001) * f001 * 1000.0)},
        {{0.0f, 0.0f, 0.0f}, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.t[0] << ' ' << c.t[1] << ' ' << c.t[2]);
        EXPECT_FLOAT_EQ(TiltEstimator::measureOffAxis(c.t), c.expected);
    }
}

// References and samples at known angles: the estimator's vector is the sample direction turned
// by the shortest rotation of the reference onto the tower axis, then by the view angle.
TEST(TiltEstimatorCorrection, KnownTiltsGiveExpectedReadouts) {
    struct Case {
        Vec3 reference; // counts
        Vec3 sample;    // counts
        double viewDegrees;
    };
    const Case cases[] = {
        {{0, 1000, 0}, {0, 1000, 0}, 0},
        {{0, 1000, 0}, {87, 996, 0}, 0},   // ~5 degrees about c2
        {{0, 1000, 0}, {0, 940, 342}, 0},  // ~20 degrees about c0
        {{500, 866, 0}, {500, 866, 0}, 0}, // tilted reference, same sample: on axis
        {{500, 866, 0}, {707, 707, 0}, 0}, // 30 then 45 degrees
        {{-174, 985, 100}, {100, 950, -296}, 0},
        {{0, 1000, 0}, {174, 985, 0}, 22.5},
        {{300, 900, -316}, {-200, 960, 190}, -67.5},
        {{0, 1000, 0}, {0, 1000, 0}, 90},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.sample.x << ' ' << c.sample.y << ' ' << c.sample.z
                                          << " view " << c.viewDegrees);
        TiltEstimator est;
        est.setViewRotation(viewRotationForAngle(static_cast<float>(c.viewDegrees)));
        const Frame ref =
            makeFrame(kSemicolon, static_cast<int>(c.reference.x), static_cast<int>(c.reference.y),
                      static_cast<int>(c.reference.z));
        est.put(ByteBuffer(ref.data(), 8));
        const Frame s = makeFrame(kColon, static_cast<int>(c.sample.x),
                                  static_cast<int>(c.sample.y), static_cast<int>(c.sample.z));
        for (int i = 0; i < 2 * kFirTaps; ++i)
            est.put(ByteBuffer(s.data(), 8));

        const Vec3 expected = turnAboutAxis1(
            turnOntoAxis1(normalised(c.reference), normalised(c.sample)), c.viewDegrees);
        EXPECT_NEAR(est.tiltVector[0], expected.x, 2e-6);
        EXPECT_NEAR(est.tiltVector[1], expected.y, 2e-6);
        EXPECT_NEAR(est.tiltVector[2], expected.z, 2e-6);

        const TiltReadout r = readTilt(est.tiltVector, est.offAxisMeasure);
        const double tiltDegrees =
            std::acos(dot(normalised(c.reference), normalised(c.sample))) * 180 / std::numbers::pi;
        EXPECT_NEAR(r.totalTilt, tiltDegrees, tiltDegrees < 1 ? 0.05 : 2e-4);
        EXPECT_NEAR(r.angleX, std::atan2(expected.x, expected.y) * 180 / std::numbers::pi, 2e-4);
        EXPECT_NEAR(r.angleY, std::atan2(expected.z, expected.y) * 180 / std::numbers::pi, 2e-4);
        if (tiltDegrees == 0.0) {
            EXPECT_EQ(est.offAxisMeasure, 0.0f);
            EXPECT_EQ(r.markerColour, kLiveGreen);
        }
    }
}

// Whole streams against values computed independently, with float32 rounding of every stored
// value (samples, filter output, unit vector and its reciprocal, quaternions, results) and double
// arithmetic in between. Near the reference the small components are sensitive to every one of
// those roundings.
TEST(TiltEstimatorCorrection, StreamsMatchIndependentlyComputedValues) {
    struct Case {
        float viewDegrees;
        int reference[3];
        float tilt[3];
        float offAxis;
    };
    const Case cases[] = {
        {0.0f, {130, 990, -40}, {0.00106057874f, 0.999999404f, 0.000129118023f}, 0.00114149868f},
        {0.0f, {0, 1000, 0}, {0.131142929f, 0.990560353f, -0.0398962125f}, 18.7901764f},
        {0.0f, {-300, 940, 150}, {0.421862036f, 0.887531817f, -0.185255766f}, 212.287277f},
        {22.5f, {130, 990, -40}, {0.00102925824f, 0.999999404f, -0.000286576396f}, 0.00114149856f},
        {22.5f, {0, 1000, 0}, {0.105892643f, 0.990560353f, -0.0870455205f}, 18.7901745f},
        {22.5f, {-300, 940, 150}, {0.318855375f, 0.887531817f, -0.33259362f}, 212.287262f},
        {-67.5f, {130, 990, -40}, {0.000286576309f, 0.999999404f, 0.00102925824f}, 0.00114149856f},
        {-67.5f, {0, 1000, 0}, {0.0870455205f, 0.990560353f, 0.105892651f}, 18.7901764f},
        {-67.5f, {-300, 940, 150}, {0.33259362f, 0.887531817f, 0.318855405f}, 212.287292f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "view " << c.viewDegrees << " reference " << c.reference[0] << ' '
                     << c.reference[1] << ' ' << c.reference[2]);
        TiltEstimator est;
        est.setViewRotation(viewRotationForAngle(c.viewDegrees));
        const Frame ref = makeFrame(kSemicolon, c.reference[0], c.reference[1], c.reference[2]);
        est.put(ByteBuffer(ref.data(), 8));
        for (int i = 0; i < 150; ++i) {
            const Frame s = makeFrame(kColon, 130 + (i * 37) % 61 - 30, 985 + (i * 17) % 41 - 20,
                                      -40 + (i * 29) % 53 - 26);
            est.put(ByteBuffer(s.data(), 8));
        }
        EXPECT_EQ(est.sampleCount, 150u);
        EXPECT_EQ(est.tiltVector[0], c.tilt[0]);
        EXPECT_EQ(est.tiltVector[1], c.tilt[1]);
        EXPECT_EQ(est.tiltVector[2], c.tilt[2]);
        EXPECT_EQ(est.offAxisMeasure, c.offAxis);
    }
}

// Turning the view in steps of 22.5 degrees turns the horizontal components (c0, c2) about the
// tower axis and leaves c1 alone.
TEST_F(TiltEstimatorTest, ViewStepsTurnTheHorizontalComponents) {
    putFrame(kSemicolon, 0, 1000, 0);
    putSamples(kFirTaps, 100, 990, -50);
    const Vec3 level = tilt();
    for (int step = -16; step <= 16; ++step) {
        SCOPED_TRACE(step);
        const double degrees = 22.5 * step;
        estimator.setViewRotation(viewRotationForAngle(static_cast<float>(degrees)));
        putFrame(kColon, 100, 990, -50);
        const Vec3 expected = turnAboutAxis1(level, degrees);
        EXPECT_NEAR(estimator.tiltVector[0], expected.x, 1e-6);
        EXPECT_EQ(estimator.tiltVector[1], static_cast<float>(level.y));
        EXPECT_NEAR(estimator.tiltVector[2], expected.z, 1e-6);
    }
}

// A view rotation with w of at least 0.999 counts as none; just below, it is applied.
TEST_F(TiltEstimatorTest, NearIdentityViewRotationIsSkipped) {
    putFrame(kSemicolon, 0, 1000, 0);
    putSamples(kFirTaps, 200, 980, 0);
    const Vec3 plain = tilt();
    for (const float w : {0.999f, 0.99899f}) {
        SCOPED_TRACE(w);
        const auto y = static_cast<float>(std::sqrt(1.0 - static_cast<double>(w) * w));
        estimator.setViewRotation({w, 0, y, 0});
        putFrame(kColon, 200, 980, 0);
        const bool applied = w < 0.999f;
        EXPECT_EQ(estimator.tiltVector[2] != static_cast<float>(plain.z), applied);
        if (applied) {
            EXPECT_NEAR(estimator.tiltVector[2], -plain.x * 2 * w * y, 1e-6);
        }
    }
}

TEST(TiltEstimatorViewRotation, StartsAsIdentityAndReadsBackWhole) {
    TiltEstimator est;
    const Quaternion q0 = est.viewRotation();
    EXPECT_EQ(q0.w, 1.0f);
    EXPECT_EQ(q0.x, 0.0f);
    EXPECT_EQ(q0.y, 0.0f);
    EXPECT_EQ(q0.z, 0.0f);
    est.setViewRotation({0.5f, 0.25f, -0.125f, 0.75f});
    const Quaternion q = est.viewRotation();
    EXPECT_EQ(q.w, 0.5f);
    EXPECT_EQ(q.x, 0.25f);
    EXPECT_EQ(q.y, -0.125f);
    EXPECT_EQ(q.z, 0.75f);
}

TEST(TiltEstimatorViewRotation, QuaternionForAViewAngle) {
    struct Case {
        float degrees;
        Quaternion expected;
    };
    const float h = std::sqrt(0.5f);
    const Case cases[] = {
        {0, {1, 0, 0, 0}},    {22.5f, {0.98078528f, 0, 0.195090322f, 0}},
        {-90, {h, 0, -h, 0}}, {180, {0, 0, 1, 0}},
        {360, {-1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const Quaternion q = viewRotationForAngle(c.degrees);
        EXPECT_NEAR(q.w, c.expected.w, 1e-7) << c.degrees;
        EXPECT_EQ(q.x, 0.0f);
        EXPECT_NEAR(q.y, c.expected.y, 1e-7) << c.degrees;
        EXPECT_EQ(q.z, 0.0f);
    }
}

TEST(TiltEstimatorChain, FramesThroughTheDecoderAndDoneClimbsToTheHead) {
    // The "e" reply; the seven bytes after it fail the check as the body of an "e" frame.
    std::vector<std::uint8_t> bytes = {'e', 0x0D, 0x0A, 0x41, 0x00, 0x00, 0x00, 0x00};
    for (const Frame& f : {makeFrame(kSemicolon, 0, 1000, 0), makeFrame(kColon, 10, 999, 0),
                           makeFrame(kColon, 0, 2000, 0), makeFrame(kColon, 0, 998, 12)})
        bytes.insert(bytes.end(), f.begin(), f.end());
    // Split at every point: the result never depends on the block boundaries.
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
        SCOPED_TRACE(split);
        TiltEstimator fresh;
        DoneRecorder up;
        FrameDecoder dec;
        dec.setUpstream(&up);
        dec.setDownstream(&fresh);
        dec.put(ByteBuffer(bytes.data(), static_cast<std::uint32_t>(split)));
        dec.put(ByteBuffer(bytes.data() + split, static_cast<std::uint32_t>(bytes.size() - split)));
        EXPECT_TRUE(fresh.eFrameSeen);
        EXPECT_TRUE(fresh.referenceTaken);
        EXPECT_EQ(fresh.sampleCount, 2u);
        // "e", the reference and two accepted samples each reach the head once.
        EXPECT_EQ(up.reports, std::vector<std::int32_t>(4, 1));
    }
}

} // namespace
} // namespace orvane
