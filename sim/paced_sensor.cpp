#include "sim/paced_sensor.h"

namespace orvane::sim {

PacedSensor::PacedSensor(const SimOptions& options)
    : opened_(std::chrono::steady_clock::now()), model_(options) {}

SimTime PacedSensor::now() const {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - opened_);
}

std::int64_t PacedSensor::read(std::uint8_t* out, std::size_t capacity, std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const SimTime t = now();
        const std::int64_t n = model_.read(out, capacity, t);
        if (n != 0)
            return n;
        if (opened_ + t >= deadline)
            return 0;
        auto wake = deadline;
        if (const auto next = model_.nextEventAt(t); next && opened_ + *next < wake)
            wake = opened_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(*next);
        written_.wait_until(lock, wake);
    }
}

std::int64_t PacedSensor::write(const std::uint8_t* data, std::size_t length) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!model_.write(data, length, now()))
            return -1;
    }
    written_.notify_all();
    return static_cast<std::int64_t>(length);
}

} // namespace orvane::sim
