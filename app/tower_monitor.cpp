#include "app/tower_monitor.h"

#include "link/link_clock.h"
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"
#include "sensor/tilt_readout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvane {

std::uint16_t pollCountdown = 0;

namespace {

constexpr std::uint16_t kCountdownStart = 4;
// Hysteresis on u, the cosine of the total tilt (a float, compared as is with these doubles): the
// close view is entered below a tilt of about 4.44 degrees and left above about 8.11 degrees.
constexpr double kEnterCloseView = 0.997;
constexpr double kLeaveCloseView = 0.99;
constexpr double kHalfDegreeInRadians = 0.008726646259971648;

// Results are not examined: a lost command is answered by the next pass.
void send(const char* command) {
    sendCommand(ByteBuffer(command));
}

} // namespace

const char* readingStateName(ReadingState state) {
    switch (state) {
    case ReadingState::Live:
        return "live";
    case ReadingState::Stale:
        return "stale";
    case ReadingState::Lost:
        return "lost";
    case ReadingState::Settling:
        break;
    }
    return "settling";
}

std::uint32_t TowerMonitor::settledSampleCount() {
    static const std::uint32_t count = [] {
        // The newest n taps meet the n samples taken so far.
        double weight = 0.0;
        for (int n = 1; n <= kFirTaps; ++n) {
            weight += firCoefficients[kFirTaps - n];
            if (weight >= 0.5)
                return static_cast<std::uint32_t>(n);
        }
        return static_cast<std::uint32_t>(kFirTaps);
    }();
    return count;
}

TowerMonitor::~TowerMonitor() {
    stop();
    renderer.release();
}

void TowerMonitor::selectWideView() {
    renderer.applyPreset(kWideView);
    closeView = false;
}

void TowerMonitor::selectCloseView() {
    renderer.applyPreset(kCloseView);
    closeView = true;
}

void TowerMonitor::updateViewRotation() {
    const double half = static_cast<double>(viewAngle.load()) * kHalfDegreeInRadians;
    setViewRotation(
        {static_cast<float>(std::cos(half)), 0.0f, static_cast<float>(std::sin(half)), 0.0f});
}

void TowerMonitor::put(const ByteBuffer& block) {
    if (block.length >= static_cast<std::uint32_t>(kFrameSize) && block.data[0] == kReferenceType) {
        // A reference of (0, 0, 0) counts has no direction: taken, it would halve every tilt for
        // the rest of the run. It is not passed on, and the loop asks "c" again.
        if (!referenceTaken &&
            std::all_of(block.data + 1, block.data + 7, [](std::uint8_t b) { return b == 0; }))
            return;
        ++referenceReplies;
    }
    TiltEstimator::put(block);
}

void TowerMonitor::beginStartUp() {
    pollCountdown = kCountdownStart;
    send("se");
    eFrameSeen = false;
    linkState = kSeeking;
    idlePasses = 0;
    referenceRepliesAtOpen = referenceReplies;
}

void TowerMonitor::run() {
    // A stop request ends the link's waits between two reads.
    linkKeepGoing = &running;
    beginStartUp();
    setViewRotation({1.0f, 0.0f, 0.0f, 0.0f});
    if (running) {
        do {
            runPass();
            if (readingState.load() == ReadingState::Live &&
                linkClock->now() - lastSampleAt > kStaleAfter)
                setReadingState(ReadingState::Stale);
        } while (running);
    }
    const std::atomic<bool>* mine = &running;
    linkKeepGoing.compare_exchange_strong(mine, nullptr);
}

void TowerMonitor::notifyLink(bool connected) {
    if (ReadoutSink* sink = dialog.load())
        sink->linkChanged(connected);
}

void TowerMonitor::setReadingState(ReadingState state) {
    if (readingState.load() == state)
        return;
    {
        std::lock_guard<std::mutex> lock(readingsMutex_);
        readingState = state;
        published_.state = state;
    }
    if (state != ReadingState::Live) {
        // Drawn as before the first reading: black, where it last was.
        const ViewMarker live = renderer.liveMarker();
        renderer.setMarker(live.x, live.y, 0, true);
    }
    if (ReadoutSink* sink = dialog.load()) {
        sink->stateChanged(state);
        sink->refreshReadouts();
    }
}

void TowerMonitor::turnLiveMarker(float degrees) {
    const double a = static_cast<double>(degrees) * (std::numbers::pi / 180.0);
    const ViewMarker live = renderer.liveMarker();
    const double x = live.x, y = live.y;
    renderer.setMarker(static_cast<float>(x * std::cos(a) - y * std::sin(a)),
                       static_cast<float>(x * std::sin(a) + y * std::cos(a)), live.colour, true);
}

void TowerMonitor::reconnect() {
    const auto tried = linkClock->now();
    if (reopenLink()) {
        notifyLink(true);
        // Back, but with nothing new to show until the start-up exchange brings samples.
        setReadingState(ReadingState::Settling);
        beginStartUp();
        return;
    }
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(linkClock->now() - tried);
    pauseLink(kReopenIntervalMs - static_cast<std::int32_t>(spent.count()));
}

void TowerMonitor::runPass() {
    // Only a device that is gone counts as lost (see deviceGone): a sensor that is there but
    // silent is asked again as the loop always does, never reopened in a loop.
    if (linkState != kReconnecting && linkLost()) {
        linkState = kReconnecting;
        notifyLink(false);
        setReadingState(ReadingState::Lost);
    }
    if (linkState == kReconnecting) {
        reconnect();
        return;
    }
    beginExchange();
    receiveReply(0);
    if (linkState == kSeeking) {
        if (referenceTaken && referenceReplies != referenceRepliesAtOpen) {
            send("g");
            linkState = kStreaming;
        } else if (eFrameSeen) {
            send("c");
        } else {
            send("se");
        }
        return;
    }
    if (sampleCount != lastSampleCount) {
        idlePasses = 0;
        processNewSample();
        return;
    }
    // An idle pass. The countdown alone would repeat "g" only once it has come back to exactly
    // 0, which after a long stream takes up to 65,536 passes; a run of idle passes asks too.
    pollCountdown = static_cast<std::uint16_t>(pollCountdown - 1);
    ++idlePasses;
    if (pollCountdown == 0 || idlePasses >= kIdlePassesBeforeRepoll) {
        send("g");
        pollCountdown = kCountdownStart;
        idlePasses = 0;
    }
}

void TowerMonitor::processNewSample() {
    const TiltReadout readout = readTilt(tiltVector, offAxisMeasure);
    lastSampleCount = sampleCount;
    lastSampleAt = linkClock->now();
    // See settledSampleCount: before that the filter's output may point the wrong way.
    const bool trusted = sampleCount >= settledSampleCount();

    // At most one switch per sample; u stays a float, the thresholds are doubles. The close view
    // is also left as soon as the live marker would fall outside its picture (about 5.6 degrees
    // where the hysteresis alone would keep it up to 8.1): entering at 4.44 degrees keeps a band
    // between the two, so the views do not flicker.
    const double u = readout.u;
    if (trusted) {
        if (closeView) {
            if (!(u >= kLeaveCloseView) || renderer.wouldClip(readout.markerX, readout.markerY))
                selectWideView();
        } else if (u > kEnterCloseView) {
            selectCloseView();
        }
    }

    TowerReadings next;
    next.sampleCount = lastSampleCount;
    next.markerX = readout.markerX;
    next.markerY = readout.markerY;
    next.angleX = readout.angleX;
    next.angleY = readout.angleY;
    next.totalTilt = readout.totalTilt;
    next.markerColour = readout.markerColour;
    next.closeView = closeView;
    next.state = trusted ? ReadingState::Live : ReadingState::Settling;
    publish(next);

    if (trusted)
        renderer.setMarker(next.markerX, next.markerY, next.markerColour, true);
    setReadingState(next.state);

    pollCountdown = static_cast<std::uint16_t>(pollCountdown - 1);
    ReadoutSink* sink = dialog.load();
    if (!sink)
        return;
    if (pollCountdown % 2 == 0)
        sink->refreshReadouts();
    sink->sampleProcessed(next);
}

void TowerMonitor::publish(const TowerReadings& next) {
    std::lock_guard<std::mutex> lock(readingsMutex_);
    published_ = next;
}

TowerReadings TowerMonitor::readings() const {
    std::lock_guard<std::mutex> lock(readingsMutex_);
    return published_;
}

} // namespace orvane
