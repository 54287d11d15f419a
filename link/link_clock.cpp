#include "link/link_clock.h"

#include <thread>

namespace orvane {
namespace {

class SteadyLinkClock : public LinkClock {
public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    void sleepUntil(TimePoint when) override { std::this_thread::sleep_until(when); }
};

SteadyLinkClock steadyClock;

} // namespace

LinkClock& LinkClock::steady() {
    return steadyClock;
}

LinkClock* linkClock = &steadyClock;

} // namespace orvane
