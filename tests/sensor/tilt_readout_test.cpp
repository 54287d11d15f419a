#include "sensor/tilt_readout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvane {
namespace {

TEST(TiltReadout, AnglesOfKnownVectors) {
    const float s30 = 0.5f, c30 = 0.866025404f;
    struct Case {
        float tilt[3];
        float angleX, angleY, u, totalTilt;
    };
    const Case cases[] = {
        {{0, 1, 0}, 0, 0, 1, 0},
        {{s30, c30, 0}, 30, 0, c30, 30},
        {{-s30, c30, 0}, -30, 0, c30, 30},
        {{0, c30, -s30}, 0, -30, c30, 30},
        {{0.6f, 0, 0.8f}, 90, 90, 0, 90},
        {{0, 2, 0}, 0, 0, 1, 0},  // not unit: u is still the cosine
        {{0, 0, 0}, 0, 0, 0, 90}, // m = 0: u = c1
        {{0, -1, 0}, 180, 180, -1, 180},
        {{0.3f, 0.3f, -0.3f}, 45, -45, 0.577350269f, 54.7356103f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.tilt[0] << ' ' << c.tilt[1] << ' ' << c.tilt[2]);
        const TiltReadout r = readTilt(c.tilt, 0.0f);
        EXPECT_EQ(r.markerX, -c.tilt[0]);
        EXPECT_EQ(r.markerY, c.tilt[2]);
        EXPECT_NEAR(r.angleX, c.angleX, 1e-4);
        EXPECT_NEAR(r.angleY, c.angleY, 1e-4);
        EXPECT_NEAR(r.u, c.u, 1e-7);
        EXPECT_NEAR(r.totalTilt, c.totalTilt, 1e-4);
    }
}

// u is rounded to float before the arc cosine, so small tilts come out in the steps of the float
// grid below 1, not as the exact angle (0.0573 and 0.1146 degrees here).
TEST(TiltReadout, SmallTiltsFollowTheFloatCosine) {
    struct Case {
        float c0;
        float u, totalTilt;
    };
    const Case cases[] = {
        {0.001f, 0.9999995231628418f, 0.05595291405916214f},
        {0.002f, 0.9999979734420776f, 0.1153498962521553f},
    };
    for (const Case& c : cases) {
        const float tilt[3] = {c.c0, 1.0f, 0.0f};
        const TiltReadout r = readTilt(tilt, 0.0f);
        EXPECT_EQ(r.u, c.u) << c.c0;
        EXPECT_FLOAT_EQ(r.totalTilt, c.totalTilt) << c.c0;
    }
}

// The bound is the double 0.02: the float nearest it (0.0199999996) is below, the next float up
// is not.
TEST(TiltReadout, MarkerColourThreshold) {
    const float tilt[3] = {0, 1, 0};
    struct Case {
        float offAxis;
        std::uint32_t colour;
    };
    const Case cases[] = {
        {0.0f, kLiveGreen},   {0.0199f, kLiveGreen},
        {0.02f, kLiveGreen},  {std::nextafter(0.02f, 1.0f), kLiveYellow},
        {10.0f, kLiveYellow}, {500.0f, kLiveYellow},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readTilt(tilt, c.offAxis).markerColour, c.colour) << c.offAxis;
    EXPECT_EQ(kLiveGreen, 0x10D010u);
    EXPECT_EQ(kLiveYellow, 0xE0FF40u);
}

} // namespace
} // namespace orvane
