#pragma once

#include "sim/sensor_model.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::sim {

// What "replay:FILE[,rate=HZ][,loop]" asks for.
struct ReplayOptions {
    std::string path;
    double rate = 50.0; // frames per second after "g"
    bool loop = false;  // start again after the last frame
};

// Parses the text after "replay:". The path is everything before the trailing options, so it
// may itself contain commas. False with one line in `error` when it is malformed.
bool parseReplayOptions(std::string_view text, ReplayOptions& options, std::string& error);

// The frames of a recording as the sensor sent them: the first reference frame, which answers
// "c", and every other frame after it in order (later reference frames included: the viewer
// takes them as samples), which follow "g".
struct Recording {
    std::vector<std::uint8_t> reference; // 8 bytes
    std::vector<std::uint8_t> frames;    // 8 bytes each, one after the other
    std::size_t frameCount() const { return frames.size() / 8; }
};

// Reads a recording of raw bytes and cuts its frames as the viewer's frame decoder does (a type
// byte ':', ';' or 'e', seven body bytes summing to 0xFF). False with one line in `error` when
// the file cannot be read or holds no reference frame.
bool loadRecording(const std::string& path, Recording& recording, std::string& error);

// A sensor whose replies come from a recording: "e" for "se", the recording's reference for
// "c", and after "g" its frames in order at the given rate, once or looped.
class ReplaySensor : public SensorModel {
public:
    static constexpr std::size_t kOutputLimit = 4096; // as the bridge's receive buffer

    ReplaySensor(Recording recording, double rate, bool loop);

    bool write(const std::uint8_t* data, std::size_t length, SimTime now) override;
    std::int64_t read(std::uint8_t* out, std::size_t capacity, SimTime now) override;
    std::optional<SimTime> nextEventAt(SimTime now) const override;

private:
    SimTime dueTime(std::uint64_t index) const;
    void catchUp(SimTime now);
    void queue(const std::uint8_t* bytes, std::size_t length);

    Recording recording_;
    double rate_;
    bool loop_;
    bool streaming_ = false;
    SimTime streamStart_{};
    std::uint64_t next_ = 0; // frames sent since "g", looping included
    std::vector<std::uint8_t> output_;
    std::uint8_t previousByte_ = 0;
};

} // namespace orvane::sim
