#pragma once

#include <cstdint>

namespace orvane {

// What the acquisition loop produced for one processed sample, as one consistent set.
struct TowerReadings {
    std::uint32_t sampleCount = 0; // the estimator's count when the sample was processed
    float markerX = 0;             // -c0 of the tilt vector, g
    float markerY = 0;             // c2 of the tilt vector, g
    float angleX = 0;              // degrees; the window shows it negated
    float angleY = 0;              // degrees
    float totalTilt = 0;           // degrees from the tower axis
    std::uint32_t markerColour = 0;
    bool closeView = false; // the view preset after this sample
};

// What the acquisition loop refreshes: the view dialog, a headless logger, a fake in tests.
// Both calls come on the worker thread; an implementation that touches a window from there must
// hand the work to the window's thread.
class ReadoutSink {
public:
    virtual ~ReadoutSink() = default;
    // Rewrite the three readouts and repaint the view. Called on every second processed sample.
    virtual void refreshReadouts() = 0;
    // Called after every processed sample, after any refreshReadouts for it.
    virtual void sampleProcessed(const TowerReadings& /*readings*/) {}
    // The sensor's device went away (false) and was opened again (true).
    virtual void linkChanged(bool /*connected*/) {}
};

} // namespace orvane
