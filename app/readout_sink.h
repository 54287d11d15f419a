#pragma once

#include <cstdint>

namespace orvane {

// How far a reading can be trusted. Only a live one is shown as numbers or logged.
enum class ReadingState : std::uint8_t {
    Settling, // no reading yet, or the filter has not taken in enough samples, or the link has
              // just come back and no sample came since
    Live,     // a trustworthy reading, renewed within the last two seconds
    Stale,    // no new sample for more than two seconds
    Lost,     // the sensor's device has gone; the link is reconnecting
};

// "settling", "live", "stale" or "lost".
const char* readingStateName(ReadingState state);

// What the acquisition loop produced for one processed sample, as one consistent set.
struct TowerReadings {
    std::uint32_t sampleCount = 0; // the estimator's count when the sample was processed
    float markerX = 0;             // -c0 of the tilt vector, g
    float markerY = 0;             // c2 of the tilt vector, g
    float angleX = 0;              // degrees; the window shows it negated
    float angleY = 0;              // degrees
    float totalTilt = 0;           // degrees from the tower axis
    std::uint32_t markerColour = 0;
    bool closeView = false;                      // the view preset after this sample
    ReadingState state = ReadingState::Settling; // of this reading (see TowerMonitor)
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
    // The reading's state changed; a refreshReadouts follows.
    virtual void stateChanged(ReadingState /*state*/) {}
};

} // namespace orvane
