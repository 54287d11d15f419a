#include "sensor/tilt_estimator.h"

#include "sensor/view_rotation.h"
#include "tilt_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace orvane {
namespace {

using namespace testing_support;

bool same(const Quaternion& a, const Quaternion& b) {
    return a.w == b.w && a.x == b.x && a.y == b.y && a.z == b.z;
}

// The window thread turns the view while the worker puts frames: every read of the rotation, and
// every vector the estimator publishes, belongs to one whole rotation, never a mix of two.
TEST(TiltViewThreads, ViewRotationIsNeverTorn) {
    const Quaternion a = viewRotationForAngle(22.5f);
    const Quaternion b = viewRotationForAngle(-112.5f);
    const Frame reference = makeFrame(0x3B, 0, 1000, 0);
    const Frame sample = makeFrame(0x3A, 120, 985, -70);

    TiltEstimator estimator;
    estimator.put(ByteBuffer(reference.data(), 8));
    for (int i = 0; i < kFirTaps; ++i)
        estimator.put(ByteBuffer(sample.data(), 8));
    // With the ring full of one sample, each rotation gives one exact vector.
    float expected[2][3];
    for (int k = 0; k < 2; ++k) {
        estimator.setViewRotation(k == 0 ? a : b);
        estimator.put(ByteBuffer(sample.data(), 8));
        for (int j = 0; j < 3; ++j)
            expected[k][j] = estimator.tiltVector[j];
    }
    ASSERT_NE(expected[0][0], expected[1][0]);

    std::atomic<bool> stop{false};
    std::thread window([&] {
        for (int n = 0; !stop.load(std::memory_order_relaxed); ++n)
            estimator.setViewRotation(n % 2 ? b : a);
    });
    int torn = 0;
    for (int n = 0; n < 50000; ++n) {
        estimator.put(ByteBuffer(sample.data(), 8));
        const bool isA = estimator.tiltVector[0] == expected[0][0] &&
                         estimator.tiltVector[1] == expected[0][1] &&
                         estimator.tiltVector[2] == expected[0][2];
        const bool isB = estimator.tiltVector[0] == expected[1][0] &&
                         estimator.tiltVector[1] == expected[1][1] &&
                         estimator.tiltVector[2] == expected[1][2];
        const Quaternion q = estimator.viewRotation();
        if (!(isA || isB) || !(same(q, a) || same(q, b)))
            ++torn;
    }
    stop = true;
    window.join();
    EXPECT_EQ(torn, 0);
}

} // namespace
} // namespace orvane
