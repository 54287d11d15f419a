#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace orvane::sim {

// Time on a simulated sensor's own clock. Models never read a clock themselves: callers pass
// the time, so tests can run them without waiting.
using SimTime = std::chrono::nanoseconds;

// A sensor as the host sees it through its serial bridge: bytes written to it at a time, bytes
// due from it at a time.
class SensorModel {
public:
    virtual ~SensorModel() = default;
    // Takes the bytes the host wrote at `now`. False once unplugged (nothing is taken then).
    virtual bool write(const std::uint8_t* data, std::size_t length, SimTime now) = 0;
    // Moves up to `capacity` bytes that are due at `now` into `out` and returns their count, or
    // -1 once unplugged. `now` must not go backwards from one call to the next.
    virtual std::int64_t read(std::uint8_t* out, std::size_t capacity, SimTime now) = 0;
    // The earliest time from `now` on at which read may answer differently; nullopt when nothing
    // happens until the host writes.
    virtual std::optional<SimTime> nextEventAt(SimTime now) const = 0;
};

} // namespace orvane::sim
