#pragma once

#include "sim/simulated_sensor.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace orvane::sim {

// The simulated sensor on the wall clock, as a serial port presents it: a read waits for bytes
// up to its time-out and returns as soon as some are due. Safe to use from several threads.
class PacedSensor {
public:
    explicit PacedSensor(const SimOptions& options);

    // Bytes read (0 when none came within timeoutMs), or -1 once unplugged.
    std::int64_t read(std::uint8_t* out, std::size_t capacity, std::uint32_t timeoutMs);
    // `length`, or -1 once unplugged.
    std::int64_t write(const std::uint8_t* data, std::size_t length);

private:
    SimTime now() const;

    const std::chrono::steady_clock::time_point opened_;
    std::mutex mutex_;                // guards model_
    std::condition_variable written_; // wakes a waiting read when a write may have an answer
    SimulatedSensor model_;
};

} // namespace orvane::sim
