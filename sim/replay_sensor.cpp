#include "sim/replay_sensor.h"

#include "sim/sim_options.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace orvane::sim {
namespace {

constexpr std::uint8_t kSample = ':';
constexpr std::uint8_t kReference = ';';
constexpr std::uint8_t kReplyE = 'e';
constexpr std::uint8_t kBodySum = 0xFF;
// A recording larger than this is not a sensor's (a day at 1000 frames/s is 690 MB; at the
// sensor's usual 50 frames/s a month fits).
constexpr long kMaxRecordingBytes = 1L << 30;

bool parseRate(std::string_view text, double& rate) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
    return !text.empty() && ec == std::errc() && ptr == text.data() + text.size() &&
           rate >= kMinRate && rate <= kMaxRate;
}

} // namespace

bool parseReplayOptions(std::string_view text, ReplayOptions& options, std::string& error) {
    ReplayOptions parsed;
    // Options are peeled off the end; whatever is left is the path.
    for (;;) {
        const std::size_t comma = text.rfind(',');
        if (comma == std::string_view::npos)
            break;
        const std::string_view item = text.substr(comma + 1);
        if (item == "loop") {
            parsed.loop = true;
        } else if (item.starts_with("rate=")) {
            if (!parseRate(item.substr(5), parsed.rate)) {
                error = "replay option \"" + std::string(item) +
                        "\": frames per second from 0.001 to 10000";
                return false;
            }
        } else {
            break;
        }
        text = text.substr(0, comma);
    }
    if (text.empty()) {
        error = "replay: needs the path of a recording (replay:FILE[,rate=HZ][,loop])";
        return false;
    }
    parsed.path = std::string(text);
    options = parsed;
    return true;
}

bool loadRecording(const std::string& path, Recording& recording, std::string& error) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) {
        error = "replay:" + path + ": " + std::strerror(errno);
        return false;
    }
    Recording loaded;
    std::uint8_t frame[8];
    int have = 0; // bytes of the frame under way, type byte included; 0 between frames
    std::uint8_t sum = 0;
    long total = 0;
    std::uint8_t block[4096];
    bool readFailed = false;
    for (;;) {
        const std::size_t n = std::fread(block, 1, sizeof block, in);
        if (n == 0) {
            readFailed = std::ferror(in) != 0;
            break;
        }
        total += static_cast<long>(n);
        if (total > kMaxRecordingBytes) {
            std::fclose(in);
            error = "replay:" + path + ": larger than a recording can be (1 GiB)";
            return false;
        }
        // The frame decoder's rules: outside a frame only a type byte matters; a body is seven
        // bytes whatever they are ("e" too is followed by seven).
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t b = block[i];
            if (have == 0) {
                if (b == kSample || b == kReference || b == kReplyE) {
                    frame[0] = b;
                    have = 1;
                    sum = 0;
                }
                continue;
            }
            frame[have++] = b;
            sum = static_cast<std::uint8_t>(sum + b);
            if (have < 8)
                continue;
            have = 0;
            if (sum != kBodySum || frame[0] == kReplyE)
                continue;
            if (frame[0] == kReference && loaded.reference.empty())
                loaded.reference.assign(frame, frame + 8);
            else
                loaded.frames.insert(loaded.frames.end(), frame, frame + 8);
        }
    }
    std::fclose(in);
    if (readFailed) {
        error = "replay:" + path + ": cannot be read";
        return false;
    }
    if (loaded.reference.empty()) {
        error = "replay:" + path + ": holds no reference frame (';'), which the viewer needs first";
        return false;
    }
    recording = std::move(loaded);
    return true;
}

ReplaySensor::ReplaySensor(Recording recording, double rate, bool loop)
    : recording_(std::move(recording)), rate_(rate), loop_(loop) {}

SimTime ReplaySensor::dueTime(std::uint64_t index) const {
    return streamStart_ + SimTime(std::llround(static_cast<double>(index + 1) * 1e9 / rate_));
}

bool ReplaySensor::write(const std::uint8_t* data, std::size_t length, SimTime now) {
    catchUp(now);
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = data[i];
        const std::uint8_t previous = previousByte_;
        previousByte_ = b;
        if (previous == 's' && b == 'e') {
            queue(&kReplyE, 1);
            previousByte_ = 0;
        } else if (b == 'c') {
            queue(recording_.reference.data(), recording_.reference.size());
        } else if (b == 'g' && !streaming_) {
            streaming_ = true;
            streamStart_ = now;
            next_ = 0;
        }
    }
    return true;
}

void ReplaySensor::catchUp(SimTime now) {
    const std::uint64_t count = recording_.frameCount();
    if (!streaming_ || count == 0)
        return;
    // Frames a host that stopped reading would lose anyway are skipped without being queued.
    constexpr std::uint64_t kMaxCatchUp = kOutputLimit / 8 + 1;
    const double elapsed = static_cast<double>((now - streamStart_).count()) * rate_ / 1e9;
    const auto due = static_cast<std::uint64_t>(std::max(0.0, std::floor(elapsed)));
    if (due > next_ + kMaxCatchUp)
        next_ = due - kMaxCatchUp;
    while ((loop_ || next_ < count) && dueTime(next_) <= now) {
        queue(recording_.frames.data() + (next_ % count) * 8, 8);
        ++next_;
    }
}

void ReplaySensor::queue(const std::uint8_t* bytes, std::size_t length) {
    // Whole frames or nothing, as a full receive buffer loses them.
    if (output_.size() + length <= kOutputLimit)
        output_.insert(output_.end(), bytes, bytes + length);
}

std::int64_t ReplaySensor::read(std::uint8_t* out, std::size_t capacity, SimTime now) {
    catchUp(now);
    const std::size_t n = std::min(capacity, output_.size());
    std::copy_n(output_.begin(), n, out);
    output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<std::int64_t>(n);
}

std::optional<SimTime> ReplaySensor::nextEventAt(SimTime now) const {
    if (!output_.empty())
        return now;
    const std::uint64_t count = recording_.frameCount();
    if (streaming_ && count != 0 && (loop_ || next_ < count))
        return std::max(now, dueTime(next_));
    return std::nullopt;
}

} // namespace orvane::sim
