// The simulated sensor on the wall clock. Bounds are loose: these check pacing, not speed.
#include "sim/paced_sensor.h"

#include <gtest/gtest.h>

#include <chrono>

namespace orvane::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

PacedSensor make(const char* text) {
    SimOptions options;
    std::string error;
    EXPECT_TRUE(parseSimOptions(text, options, error)) << error;
    return PacedSensor(options);
}

TEST(PacedSensorTest, QuietReadWaitsItsTimeout) {
    PacedSensor sensor = make("");
    std::uint8_t buffer[16];
    const auto start = Clock::now();
    EXPECT_EQ(sensor.read(buffer, sizeof buffer, 30), 0);
    EXPECT_GE(Clock::now() - start, milliseconds(30));
}

TEST(PacedSensorTest, ReplyIsThereAtOnceAndFramesComeInRealTime) {
    PacedSensor sensor = make("rate=100");
    std::uint8_t buffer[512];
    EXPECT_EQ(sensor.write(reinterpret_cast<const std::uint8_t*>("se"), 2), 2);
    ASSERT_EQ(sensor.read(buffer, sizeof buffer, 1000), 1);
    EXPECT_EQ(buffer[0], 'e');

    sensor.write(reinterpret_cast<const std::uint8_t*>("g"), 1);
    const auto start = Clock::now();
    std::int64_t bytes = 0;
    while (Clock::now() - start < milliseconds(500))
        bytes += sensor.read(buffer, sizeof buffer, 20);
    // 50 frames in half a second, give or take a scheduling hiccup.
    EXPECT_GE(bytes, 8 * 40);
    EXPECT_LE(bytes, 8 * 52);
}

TEST(PacedSensorTest, UnpluggedDeviceFailsAtOnce) {
    PacedSensor sensor = make("unplug=0");
    std::uint8_t buffer[4];
    EXPECT_EQ(sensor.read(buffer, sizeof buffer, 1000), -1);
    EXPECT_EQ(sensor.write(buffer, 1), -1);
}

} // namespace
} // namespace orvane::sim
