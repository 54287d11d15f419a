#pragma once

#include "app/readout_sink.h"
#include "app/worker_thread.h"
#include "render/scene_renderer.h"
#include "sensor/tilt_estimator.h"

#include "link/link_clock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace orvane {

// Counts passes of the acquisition loop: down by one per new sample and per idle pass, wrapping
// through the 16-bit range. Set to 4 when the loop starts and whenever "g" is sent again from an
// idle pass. Worker thread only.
extern std::uint16_t pollCountdown;

// The central object: the worker thread whose body is the acquisition loop, the last stage of
// the receive chain (through the estimator), and the owner of the view's renderer.
//
// Threads: the loop, and through it the estimator, run on the worker thread. The window's thread
// reads the published readings (readings(), one consistent set), sets
// viewAngle and calls updateViewRotation, and paints through the renderer, which locks itself.
class TowerMonitor : public WorkerThread, public TiltEstimator {
public:
    static constexpr std::int32_t kSeeking = 2;
    static constexpr std::int32_t kStreaming = 3;
    // The device went away; the loop reopens it, then walks the start-up exchange again.
    static constexpr std::int32_t kReconnecting = 4;
    // Reopen attempts while reconnecting start at most this far apart.
    static constexpr std::int32_t kReopenIntervalMs = 1000;
    // A live reading becomes stale when no sample has been processed for longer than this. The
    // loop looks at the end of each pass, so a silent sensor is seen stale within one receive
    // time-out (1.8 s) after that.
    static constexpr std::chrono::seconds kStaleAfter{2};
    // The picture the viewer paints, in pixels: the template's 311 x 292 dialog units in its 8 pt
    // font. A run without a window sizes its renderer to it, so that its view switches as the
    // viewer's does.
    static constexpr std::int32_t kViewerPictureWidth = 467;
    static constexpr std::int32_t kViewerPictureHeight = 475;

    // Accepted samples after which a reading is trusted. The filter's ring starts zeroed, so
    // after n samples only its n newest taps carry data; while their sum is negative (n < 37)
    // the normalised output points away from gravity, and just above 0 noise is amplified many
    // times. A reading is trusted once those taps carry at least half the filter's gain (60
    // samples, 1.2 s at 50 frames/s), when its noise is within a third of a full filter's.
    static std::uint32_t settledSampleCount();
    // Idle passes in a row after which streaming asks for samples again, however far the
    // countdown has wrapped.
    static constexpr std::uint32_t kIdlePassesBeforeRepoll = 4;

    TowerMonitor() = default;
    // Stops the worker thread first, then releases the renderer's arrays.
    ~TowerMonitor() override;

    // The renderer's wide preset, then closeView = false. Also from the window's thread before
    // the worker starts.
    void selectWideView();
    // The renderer's close preset, then closeView = true.
    void selectCloseView();
    // Sets the estimator's view rotation to a turn by viewAngle about the tower axis (c1). Any
    // thread.
    void updateViewRotation();

    // The acquisition loop; runs while `running` is set (tested after each pass, and between the
    // reads of a pass, so that a stop is prompt).
    void run() override;
    // Counts reference frames, then hands the block to the estimator.
    void put(const ByteBuffer& block) override;
    // Handles the new sample in tiltVector and offAxisMeasure: readings, view preset, live
    // marker, countdown and refresh. Worker thread only (the loop calls it once per new sample).
    void processNewSample();

    // The readings of the last processed sample, all from that one sample, with the reading's
    // current state. Any thread.
    TowerReadings readings() const;
    // Turns the live marker about the view's centre by `degrees`, as a change of viewAngle by
    // that much turns it at the next sample: the window shows a turned view at once even when
    // no samples come. Any thread.
    void turnLiveMarker(float degrees);

    SceneRenderer renderer;
    // Degrees; changed in steps by the window, which then calls updateViewRotation.
    std::atomic<float> viewAngle{0.0f};
    // sampleCount when the loop last processed a sample. Worker thread only.
    std::uint32_t lastSampleCount = 0;
    // Not owned. Set before the worker starts; refreshed on the worker thread.
    std::atomic<ReadoutSink*> dialog{nullptr};
    std::atomic<bool> closeView{false};
    std::atomic<std::int32_t> linkState{0};
    // Consecutive idle passes while streaming. Worker thread only.
    std::uint32_t idlePasses = 0;
    // Reference frames received in this run, and their number when the link was last opened:
    // seeking moves on to "g" only once the sensor answered "c" on the current link, so that a
    // unit that lost power with its cable is brought back into streaming. Worker thread only.
    std::uint32_t referenceReplies = 0;
    std::uint32_t referenceRepliesAtOpen = 0;
    // Written by the worker, read by any thread (also inside readings()).
    std::atomic<ReadingState> readingState{ReadingState::Settling};
    // When the loop last processed a sample, on the link's clock. Worker thread only.
    LinkClock::TimePoint lastSampleAt{};

private:
    void runPass();
    // The start-up exchange from its first command: at the start and after each reopen.
    void beginStartUp();
    // One reopen attempt, paced to kReopenIntervalMs.
    void reconnect();
    void notifyLink(bool connected);
    // Publishes a new state; leaving Live turns the live marker black where it is, and the
    // window is refreshed at once. Worker thread only.
    void setReadingState(ReadingState state);
    void publish(const TowerReadings& next);

    mutable std::mutex readingsMutex_; //!< guards published_
    TowerReadings published_;
};

} // namespace orvane
