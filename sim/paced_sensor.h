#pragma once

#include "sim/simulated_sensor.h"

#include <memory>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace orvane::sim {

// The simulated sensor on the wall clock, as a serial port presents it: a read waits for bytes
// up to its time-out and returns as soon as some are due. Safe to use from several threads.
class PacedSensor {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // The sensor's clock counts from `epoch` (by default: now). Devices opened again on the same
    // sensor pass the same epoch, so its clock, its lean and its cable go on across opens.
    explicit PacedSensor(const SimOptions& options,
                         TimePoint epoch = std::chrono::steady_clock::now());
    // Any other model, its clock counting from now.
    explicit PacedSensor(std::unique_ptr<SensorModel> model);

    // Time on the sensor's clock for an epoch.
    static SimTime sinceEpoch(TimePoint epoch);

    // Bytes read (0 when none came within timeoutMs), or -1 once unplugged.
    std::int64_t read(std::uint8_t* out, std::size_t capacity, std::uint32_t timeoutMs);
    // `length`, or -1 once unplugged.
    std::int64_t write(const std::uint8_t* data, std::size_t length);

private:
    SimTime now() const;

    const TimePoint epoch_;
    std::mutex mutex_;                // guards *model_
    std::condition_variable written_; // wakes a waiting read when a write may have an answer
    std::unique_ptr<SensorModel> model_;
};

// The one simulated sensor that the option text `options` stands for in this process: its epoch
// is the time of the first call for that text. `first` tells whether this was that call.
PacedSensor::TimePoint sensorEpoch(std::string_view options, bool& first);

} // namespace orvane::sim
