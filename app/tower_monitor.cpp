#include "app/tower_monitor.h"

#include "link/sensor_link.h"
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

void TowerMonitor::run() {
    pollCountdown = kCountdownStart;
    send("se");
    eFrameSeen = false;
    linkState = kSeeking;
    setViewRotation({1.0f, 0.0f, 0.0f, 0.0f});
    idlePasses = 0;
    if (!running)
        return;
    do {
        runPass();
    } while (running);
}

void TowerMonitor::runPass() {
    beginExchange();
    receiveReply(0);
    if (linkState == kSeeking) {
        if (referenceTaken) {
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
