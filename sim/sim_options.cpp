#include "sim/sim_options.h"

#include <charconv>
#include <cmath>

namespace orvane::sim {
namespace {

bool parseNumber(std::string_view text, double& value) {
    if (text.empty())
        return false;
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && std::isfinite(value);
}

bool parseUnsigned(std::string_view text, std::uint64_t& value) {
    if (text.empty())
        return false;
    const char* const end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

std::string quoted(std::string_view text) {
    std::string q = "\"";
    q.append(text);
    q += '"';
    return q;
}

} // namespace

bool parseSimOptions(std::string_view text, SimOptions& options, std::string& error) {
    SimOptions parsed;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (item.empty())
            continue;

        const std::size_t eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const bool hasValue = eq != std::string_view::npos;
        const std::string_view value = hasValue ? item.substr(eq + 1) : std::string_view();

        if (key == "silent" || key == "noref") {
            if (hasValue) {
                error = "sim option " + quoted(item) + ": " + std::string(key) + " takes no value";
                return false;
            }
            (key == "silent" ? parsed.silent : parsed.noref) = true;
            continue;
        }

        double number = 0.0;
        auto malformed = [&](std::string_view expected) {
            error = "sim option " + quoted(item) + ": malformed value, expected " +
                    std::string(expected);
            return false;
        };
        if (key == "seed") {
            std::uint64_t seed = 0;
            if (!parseUnsigned(value, seed))
                return malformed("an unsigned integer");
            parsed.seed = seed;
        } else if (key == "x" || key == "y") {
            // A lean of 90 degrees or more has no gravity direction along (-tan x, 1, tan y).
            if (!parseNumber(value, number) || std::fabs(number) >= 90.0)
                return malformed("degrees between -90 and 90");
            (key == "x" ? parsed.leanX : parsed.leanY) = number;
        } else if (key == "noise" || key == "sway") {
            if (!parseNumber(value, number) || number < 0.0)
                return malformed("a number of at least 0");
            (key == "noise" ? parsed.noise : parsed.sway) = number;
        } else if (key == "period") {
            if (!parseNumber(value, number) || number <= 0.0 || number > kMaxSeconds)
                return malformed("seconds above 0 and at most 1e6");
            parsed.period = number;
        } else if (key == "rate") {
            // Above 10 kHz the frames would not fit a serial line at any usual baud rate.
            if (!parseNumber(value, number) || number < kMinRate || number > kMaxRate)
                return malformed("frames per second from 0.001 to 10000");
            parsed.rate = number;
        } else if (key == "corrupt" || key == "drop" || key == "garbage") {
            if (!parseNumber(value, number) || number < 0.0 || number > 1.0)
                return malformed("a fraction from 0 to 1");
            (key == "corrupt" ? parsed.corrupt
             : key == "drop"  ? parsed.drop
                              : parsed.garbage) = number;
        } else if (key == "unplug" || key == "replug") {
            if (!parseNumber(value, number) || number < 0.0 || number > kMaxSeconds)
                return malformed("seconds from 0 to 1e6");
            (key == "unplug" ? parsed.unplugAfter : parsed.replugAfter) = number;
        } else {
            error = "sim option " + quoted(key) +
                    " is unknown; known options: " + std::string(kSimOptionKeys);
            return false;
        }
    }
    if (parsed.replugAfter && !parsed.unplugAfter) {
        error = "sim option \"replug\": needs unplug (the cable comes back after it was pulled)";
        return false;
    }
    options = parsed;
    return true;
}

} // namespace orvane::sim
