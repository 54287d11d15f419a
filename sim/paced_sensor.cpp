#include "sim/paced_sensor.h"

#include <map>
#include <string>

namespace orvane::sim {

PacedSensor::PacedSensor(const SimOptions& options, TimePoint epoch)
    : epoch_(epoch), model_(std::make_unique<SimulatedSensor>(options, sinceEpoch(epoch))) {}

PacedSensor::PacedSensor(std::unique_ptr<SensorModel> model)
    : epoch_(std::chrono::steady_clock::now()), model_(std::move(model)) {}

SimTime PacedSensor::sinceEpoch(TimePoint epoch) {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - epoch);
}

SimTime PacedSensor::now() const {
    return sinceEpoch(epoch_);
}

std::int64_t PacedSensor::read(std::uint8_t* out, std::size_t capacity, std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const SimTime t = now();
        const std::int64_t n = model_->read(out, capacity, t);
        if (n != 0)
            return n;
        if (epoch_ + t >= deadline)
            return 0;
        auto wake = deadline;
        if (const auto next = model_->nextEventAt(t); next && epoch_ + *next < wake)
            wake = epoch_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(*next);
        written_.wait_until(lock, wake);
    }
}

std::int64_t PacedSensor::write(const std::uint8_t* data, std::size_t length) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!model_->write(data, length, now()))
            return -1;
    }
    written_.notify_all();
    return static_cast<std::int64_t>(length);
}

PacedSensor::TimePoint sensorEpoch(std::string_view options, bool& first) {
    static std::mutex mutex; // guards epochs
    static std::map<std::string, PacedSensor::TimePoint, std::less<>> epochs;
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = epochs.find(options);
    first = found == epochs.end();
    if (!first)
        return found->second;
    const auto now = std::chrono::steady_clock::now();
    epochs.emplace(std::string(options), now);
    return now;
}

} // namespace orvane::sim
