#pragma once

#include "sim/sensor_model.h"
#include "sim/sim_options.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>

namespace orvane::sim {

inline constexpr int kFrameLength = 8;

// One 8-byte frame: type byte, three big-endian 16-bit counts (thousandths of g) and the check
// byte that makes the seven bytes after the type byte sum to 0xFF.
void encodeFrame(std::uint8_t type, std::int16_t c0, std::int16_t c1, std::int16_t c2,
                 std::uint8_t frame[kFrameLength]);

// The sensor's firmware as the host sees it through the serial bridge: "se" is answered with "e",
// "c" with one ';' reference frame, "g" starts ':' sample frames at the configured rate that go
// on for as long as the model lives (a closed device is a destroyed model). Sample ticks follow
// the sensor's own clock, at a phase drawn when the model is made.
class SimulatedSensor : public SensorModel {
public:
    // Bytes that wait to be read are capped like the bridge's receive buffer: when the host
    // does not read, later bytes are lost.
    static constexpr std::size_t kOutputLimit = 4096;
    // The attitude the reference frame reports, in counts.
    static constexpr std::int16_t kReference[3] = {0, 1000, 0};

    // `openedAt` is when the host opened the device, on the sensor's clock: a device opened
    // before the cable was pulled stays dead after it comes back, as a real handle does.
    explicit SimulatedSensor(const SimOptions& options, SimTime openedAt = SimTime::zero());

    // Whether the cable is in at `now`: always without unplug; before the pull; and from the
    // replug on, when there is one.
    static bool cableInAt(const SimOptions& options, SimTime now);

    // Takes the bytes the host wrote at `now`. False once unplugged (nothing is taken then).
    bool write(const std::uint8_t* data, std::size_t length, SimTime now) override;
    // Moves up to `capacity` bytes that are due at `now` into `out` and returns their count, or
    // -1 once unplugged. `now` must not go backwards from one call to the next.
    std::int64_t read(std::uint8_t* out, std::size_t capacity, SimTime now) override;
    // The earliest time from `now` on at which read may answer differently: `now` itself while
    // bytes are waiting, else the next frame of a stream or the unplug time; nullopt when
    // nothing happens until the host writes.
    std::optional<SimTime> nextEventAt(SimTime now) const override;
    bool unpluggedAt(SimTime now) const;
    bool streaming() const { return streaming_; }

    // Gravity in g for the lean at time `t` (sway included), before noise and rounding.
    void gravityAt(SimTime t, double g[3]) const;

private:
    SimTime tickTime(std::int64_t tick) const;
    void catchUp(SimTime now);
    void sendFrame(std::uint8_t type, const std::int16_t counts[3]);
    void queue(const std::uint8_t* bytes, std::size_t length);
    void command(std::uint8_t byte, SimTime now);

    SimOptions options_;
    SimTime openedAt_;
    std::mt19937_64 random_;
    // A member, not a local: it keeps the second value of each pair it draws, and the stream
    // must not depend on how often the host happens to read.
    std::normal_distribution<double> normal_{0.0, 1.0};
    std::deque<std::uint8_t> output_;
    SimTime phase_{}; // of the sample ticks
    bool streaming_ = false;
    std::int64_t nextTick_ = 0;
    std::uint8_t previousByte_ = 0;
};

} // namespace orvane::sim
