// The simulated sensor used from two threads, as a host may read on one and write on another.
#include "sim/paced_sensor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace orvane::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(PacedSensorThreadsTest, AWriteFromAnotherThreadWakesAWaitingRead) {
    PacedSensor sensor{SimOptions{}};
    std::thread writer([&] {
        std::this_thread::sleep_for(milliseconds(20));
        sensor.write(reinterpret_cast<const std::uint8_t*>("se"), 2);
    });
    std::uint8_t buffer[4];
    const auto start = Clock::now();
    EXPECT_EQ(sensor.read(buffer, sizeof buffer, 5000), 1);
    EXPECT_LT(Clock::now() - start, milliseconds(2000)); // woken, not timed out
    writer.join();
}

TEST(PacedSensorThreadsTest, StreamReadWhileCommandsArrive) {
    SimOptions options;
    options.rate = 500;
    PacedSensor sensor(options);
    sensor.write(reinterpret_cast<const std::uint8_t*>("g"), 1);
    std::thread writer([&] {
        for (int i = 0; i < 50; ++i) {
            sensor.write(reinterpret_cast<const std::uint8_t*>("sec"), 3);
            std::this_thread::sleep_for(milliseconds(2));
        }
    });
    std::int64_t bytes = 0;
    std::uint8_t buffer[512];
    const auto start = Clock::now();
    while (Clock::now() - start < milliseconds(200)) {
        const std::int64_t n = sensor.read(buffer, sizeof buffer, 10);
        ASSERT_GE(n, 0);
        bytes += n;
    }
    writer.join();
    EXPECT_GT(bytes, 50 * 9); // every "e" and reference frame, and samples besides
}

} // namespace
} // namespace orvane::sim
