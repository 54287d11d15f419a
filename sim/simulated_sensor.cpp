#include "sim/simulated_sensor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvane::sim {
namespace {

constexpr std::uint8_t kSampleType = ':';
constexpr std::uint8_t kReferenceType = ';';
constexpr std::uint8_t kReplyE = 'e';
constexpr double kCountsPerG = 1000.0;
// A host that stops reading must not make one read produce an unbounded backlog of frames:
// beyond what the output cap holds they would be lost anyway.
constexpr std::int64_t kMaxCatchUpFrames = SimulatedSensor::kOutputLimit / kFrameLength + 1;

std::int16_t toCounts(double value) {
    const double rounded = std::nearbyint(value);
    return static_cast<std::int16_t>(std::clamp(rounded, -32768.0, 32767.0));
}

SimTime toSimTime(double seconds) {
    // Options are bounded (kMaxSeconds), so this cannot overflow.
    return std::chrono::duration_cast<SimTime>(std::chrono::duration<double>(seconds));
}

std::uint64_t initialSeed(const SimOptions& options) {
    if (options.seed)
        return *options.seed;
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

} // namespace

void encodeFrame(std::uint8_t type, std::int16_t c0, std::int16_t c1, std::int16_t c2,
                 std::uint8_t frame[kFrameLength]) {
    const std::int16_t counts[3] = {c0, c1, c2};
    frame[0] = type;
    std::uint8_t sum = 0;
    for (int i = 0; i < 3; ++i) {
        const auto bits = static_cast<std::uint16_t>(counts[i]);
        frame[1 + 2 * i] = static_cast<std::uint8_t>(bits >> 8);
        frame[2 + 2 * i] = static_cast<std::uint8_t>(bits & 0xFF);
        sum = static_cast<std::uint8_t>(sum + frame[1 + 2 * i] + frame[2 + 2 * i]);
    }
    frame[7] = static_cast<std::uint8_t>(0xFF - sum);
}

SimulatedSensor::SimulatedSensor(const SimOptions& options, SimTime openedAt)
    : options_(options), openedAt_(openedAt), random_(initialSeed(options)) {
    // The sensor samples on a clock of its own that has nothing to do with when the host opened
    // the port.
    std::uniform_real_distribution<double> phase(0.0, 1e9 / options_.rate);
    phase_ = SimTime(static_cast<std::int64_t>(phase(random_)));
}

bool SimulatedSensor::cableInAt(const SimOptions& options, SimTime now) {
    if (!options.unplugAfter || now < toSimTime(*options.unplugAfter))
        return true;
    return options.replugAfter && now >= toSimTime(*options.unplugAfter + *options.replugAfter);
}

bool SimulatedSensor::unpluggedAt(SimTime now) const {
    if (!options_.unplugAfter || now < toSimTime(*options_.unplugAfter))
        return false;
    // A handle from before the pull never works again; one opened after the return does.
    return !cableInAt(options_, now) || openedAt_ < toSimTime(*options_.unplugAfter);
}

bool SimulatedSensor::write(const std::uint8_t* data, std::size_t length, SimTime now) {
    if (unpluggedAt(now))
        return false;
    catchUp(now);
    for (std::size_t i = 0; i < length; ++i)
        command(data[i], now);
    return true;
}

std::int64_t SimulatedSensor::read(std::uint8_t* out, std::size_t capacity, SimTime now) {
    if (unpluggedAt(now))
        return -1;
    catchUp(now);
    const std::size_t n = std::min(capacity, output_.size());
    std::copy_n(output_.begin(), n, out);
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<std::int64_t>(n);
}

std::optional<SimTime> SimulatedSensor::nextEventAt(SimTime now) const {
    if (unpluggedAt(now) || !output_.empty())
        return now;
    std::optional<SimTime> next;
    if (streaming_)
        next = std::max(now, tickTime(nextTick_));
    if (options_.unplugAfter) {
        const auto unplug = toSimTime(*options_.unplugAfter);
        if (unplug >= now && (!next || unplug < *next))
            next = unplug;
    }
    return next;
}

void SimulatedSensor::gravityAt(SimTime t, double g[3]) const {
    constexpr double kRadians = std::numbers::pi / 180.0;
    double leanX = options_.leanX;
    if (options_.sway > 0.0) {
        const double seconds = std::chrono::duration<double>(t).count();
        leanX += options_.sway * std::sin(2.0 * std::numbers::pi * seconds / options_.period);
    }
    // A viewer shows atan2(-c0, c1) as "X^" and atan2(c2, c1) as "Y^".
    const double v[3] = {-std::tan(leanX * kRadians), 1.0, std::tan(options_.leanY * kRadians)};
    const double norm = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int i = 0; i < 3; ++i)
        g[i] = v[i] / norm;
}

SimTime SimulatedSensor::tickTime(std::int64_t tick) const {
    return phase_ + SimTime(std::llround(static_cast<double>(tick) * 1e9 / options_.rate));
}

void SimulatedSensor::catchUp(SimTime now) {
    if (!streaming_)
        return;
    // Frames the output cap would lose anyway are skipped without being made.
    const auto behind = static_cast<std::int64_t>(
        std::floor(static_cast<double>((now - phase_).count()) * options_.rate / 1e9));
    if (behind - nextTick_ > kMaxCatchUpFrames)
        nextTick_ = behind - kMaxCatchUpFrames;

    while (tickTime(nextTick_) <= now) {
        double g[3];
        gravityAt(tickTime(nextTick_), g);
        std::int16_t counts[3];
        for (int i = 0; i < 3; ++i) {
            // Drawn even when the noise is 0, so a seed gives the same faults either way.
            const double n = normal_(random_) * options_.noise * kCountsPerG;
            counts[i] = toCounts(g[i] * kCountsPerG + n);
        }
        sendFrame(kSampleType, counts);
        ++nextTick_;
    }
}

void SimulatedSensor::sendFrame(std::uint8_t type, const std::int16_t counts[3]) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const bool dropped = chance(random_) < options_.drop;
    const bool corrupted = chance(random_) < options_.corrupt;
    const bool garbage = chance(random_) < options_.garbage;
    if (dropped)
        return;
    if (garbage) {
        std::uniform_int_distribution<int> length(1, 16);
        std::uniform_int_distribution<int> byte(0, 255);
        std::uint8_t noise[16];
        const int n = length(random_);
        for (int i = 0; i < n; ++i)
            noise[i] = static_cast<std::uint8_t>(byte(random_));
        queue(noise, static_cast<std::size_t>(n));
    }
    std::uint8_t frame[kFrameLength];
    encodeFrame(type, counts[0], counts[1], counts[2], frame);
    if (corrupted) {
        std::uniform_int_distribution<int> offset(1, 255);
        frame[7] = static_cast<std::uint8_t>(frame[7] + offset(random_));
    }
    queue(frame, kFrameLength);
}

void SimulatedSensor::queue(const std::uint8_t* bytes, std::size_t length) {
    // Whole frames or nothing: an overflow loses frames, it does not cut them.
    if (output_.size() + length <= kOutputLimit)
        output_.insert(output_.end(), bytes, bytes + length);
}

void SimulatedSensor::command(std::uint8_t byte, SimTime now) {
    const std::uint8_t previous = previousByte_;
    previousByte_ = byte;
    if (options_.silent)
        return;
    if (previous == 's' && byte == 'e') {
        queue(&kReplyE, 1);
        previousByte_ = 0; // "sese" is two commands, not three
    } else if (byte == 'c') {
        if (!options_.noref)
            sendFrame(kReferenceType, kReference);
    } else if (byte == 'g' && !streaming_) {
        streaming_ = true;
        // The sensor samples on its own clock: the first frame comes at its next sample tick.
        nextTick_ = std::max<std::int64_t>(
            0, static_cast<std::int64_t>(
                   std::ceil(static_cast<double>((now - phase_).count()) * options_.rate / 1e9)));
        while (nextTick_ > 0 && tickTime(nextTick_ - 1) >= now)
            --nextTick_;
        while (tickTime(nextTick_) < now)
            ++nextTick_;
    }
}

} // namespace orvane::sim
