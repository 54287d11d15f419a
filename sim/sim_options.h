#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::sim {

// What the simulated sensor does, as given by "key=value,..." options. Angles in degrees,
// accelerations in g, times in seconds, fractions in [0, 1].
struct SimOptions {
    double leanX = 0.0;                // x: lean shown as "X^" once settled
    double leanY = 0.0;                // y: lean shown as "Y^"
    double noise = 0.001;              // white noise per axis, g rms
    double sway = 0.0;                 // amplitude of a slow oscillation of the x lean
    double period = 10.0;              // of the sway
    double rate = 50.0;                // sample frames per second while streaming
    double corrupt = 0.0;              // fraction of frames sent with a wrong check byte
    double drop = 0.0;                 // fraction of frames not sent
    double garbage = 0.0;              // fraction of frames preceded by a burst of noise bytes
    bool silent = false;               // answers nothing at all
    bool noref = false;                // never sends the reference frame
    std::optional<double> unplugAfter; // the cable is pulled: every read and write fails
    std::optional<double> replugAfter; // seconds after the pull, the cable is back (needs unplug)
    std::optional<std::uint64_t> seed; // fixed seed: the same commands give the same bytes
};

// Times and rates beyond these are refused: nothing of the kind is meant, and converting them
// to the model's integer nanoseconds or tick counts would overflow.
inline constexpr double kMaxSeconds = 1e6; // about eleven days
inline constexpr double kMinRate = 0.001;
inline constexpr double kMaxRate = 10000.0;

// Parses a comma-separated option list (empty text gives the defaults). Flags ("silent",
// "noref") take no value. On failure returns false and sets `error` to one line that names the
// offending option.
bool parseSimOptions(std::string_view text, SimOptions& options, std::string& error);

// The keys parseSimOptions accepts, for help texts.
inline constexpr std::string_view kSimOptionKeys =
    "x, y, noise, sway, period, rate, corrupt, drop, garbage, silent, noref, unplug, replug, "
    "seed";

} // namespace orvane::sim
