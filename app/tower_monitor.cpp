#include "app/tower_monitor.h"

#include "link/link_clock.h"
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"
#include "sensor/tilt_readout.h"

#include <cmath>

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
    if (block.length >= static_cast<std::uint32_t>(kFrameSize) && block.data[0] == kReferenceType)
        ++referenceReplies;
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
        } while (running);
    }
    const std::atomic<bool>* mine = &running;
    linkKeepGoing.compare_exchange_strong(mine, nullptr);
}

void TowerMonitor::notifyLink(bool connected) {
    if (ReadoutSink* sink = dialog.load())
        sink->linkChanged(connected);
}

void TowerMonitor::reconnect() {
    const auto tried = linkClock->now();
    if (reopenLink()) {
        notifyLink(true);
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

    // At most one switch per sample; u stays a float, the thresholds are doubles.
    const double u = readout.u;
    if (closeView) {
        if (!(u >= kLeaveCloseView))
            selectWideView();
    } else if (u > kEnterCloseView) {
        selectCloseView();
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
    publish(next);

    renderer.setMarker(next.markerX, next.markerY, next.markerColour, true);

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
    markerX = next.markerX;
    markerY = next.markerY;
    angleX = next.angleX;
    angleY = next.angleY;
    totalTilt = next.totalTilt;
}

TowerReadings TowerMonitor::readings() const {
    std::lock_guard<std::mutex> lock(readingsMutex_);
    return published_;
}

} // namespace orvane
