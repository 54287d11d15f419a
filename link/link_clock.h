#pragma once

#include <chrono>

namespace orvane {

// The time a link connection measures its reads against, and how it waits. The process uses the
// steady clock; a test that drives the link with a device that never sleeps substitutes a clock
// of its own so that waits become instants it can check.
class LinkClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~LinkClock() = default;
    virtual TimePoint now() = 0;
    // Returns at `when`, or at once when that has passed.
    virtual void sleepUntil(TimePoint when) = 0;

    // The steady clock and a real sleep.
    static LinkClock& steady();
};

// The clock every link connection uses; not owned, never null. Change it only while no link
// operation runs.
extern LinkClock* linkClock;

} // namespace orvane
