// The acquisition loop on its worker thread against the simulated sensor, with the window's side
// (readings, view rotation, painting) running at the same time on this thread.

#include "app/tower_monitor.h"

#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

namespace orvane {
namespace {

// Keeps the last readings the loop reported, for the test thread.
class LatestReadings : public ReadoutSink {
public:
    void refreshReadouts() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++refreshes_;
    }
    void sampleProcessed(const TowerReadings& readings) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            latest_ = readings;
        }
        changed_.notify_all();
    }
    // Waits until a sample with at least this count has been processed; false on time-out.
    bool waitForSample(std::uint32_t count, std::chrono::milliseconds limit, TowerReadings& out) {
        std::unique_lock<std::mutex> lock(mutex_);
        const bool reached =
            changed_.wait_for(lock, limit, [&] { return latest_.sampleCount >= count; });
        out = latest_;
        return reached;
    }
    int refreshes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return refreshes_;
    }

private:
    std::mutex mutex_; //!< guards latest_ and refreshes_
    std::condition_variable changed_;
    TowerReadings latest_;
    int refreshes_ = 0;
};

// Sets ORVANE_DEVICE, or removes it for an empty value.
void setDeviceVariable(const std::string& value) {
#ifdef _WIN32
    _putenv_s("ORVANE_DEVICE", value.c_str());
#else
    if (value.empty())
        unsetenv("ORVANE_DEVICE");
    else
        setenv("ORVANE_DEVICE", value.c_str(), 1);
#endif
}

// Points the process's device at the simulated sensor for the life of the scope.
class SimulatedDevice {
public:
    explicit SimulatedDevice(const char* selection) {
        if (const char* old = std::getenv("ORVANE_DEVICE"))
            saved_ = old;
        setDeviceVariable(selection);
    }
    ~SimulatedDevice() { setDeviceVariable(saved_); }
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

private:
    std::string saved_;
};

TEST(TowerMonitorThreads, ReadoutsSettleOnTheSimulatedLean) {
    SimulatedDevice device("sim:x=1.5,y=-0.75,noise=0,rate=200");
    FrameDecoder decoder;
    TowerMonitor monitor;
    LatestReadings sink;
    decoder.setDownstream(&monitor);
    ASSERT_TRUE(openLink(&decoder, 0, 19200));

    // As the view dialog does before it starts the thread.
    monitor.renderer.resize(64, 48);
    monitor.selectWideView();
    monitor.dialog = &sink;
    ASSERT_TRUE(monitor.start());

    // The window's side while the loop runs: read, rotate by nothing, paint. The start-up
    // exchange takes about 3.6 s, then 200 samples a second come in.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    TowerReadings settled;
    bool reached = false;
    while (!reached && std::chrono::steady_clock::now() < deadline) {
        EXPECT_GE(monitor.readings().totalTilt, 0.0f);
        (void)monitor.angleX.load();
        monitor.viewAngle = 0.0f;
        monitor.updateViewRotation();
        EXPECT_NE(monitor.renderer.frameBits(), nullptr);
        reached = sink.waitForSample(250, std::chrono::milliseconds(10), settled);
    }

    monitor.stop();
    closeLink();
    receiveBuffer.setDownstream(nullptr);
    receiveBuffer.applyPendingDownstream();

    ASSERT_TRUE(reached) << "last sample " << settled.sampleCount;
    // What the window shows as "X^" and "Y^": -angleX and angleY.
    EXPECT_NEAR(-settled.angleX, 1.5, 0.02);
    EXPECT_NEAR(settled.angleY, -0.75, 0.02);
    EXPECT_TRUE(settled.closeView);
    const TowerReadings last = monitor.readings();
    EXPECT_EQ(last.angleX, monitor.angleX.load());
    EXPECT_EQ(last.markerX, monitor.markerX.load());
    EXPECT_GT(sink.refreshes(), 0);
    EXPECT_FALSE(monitor.running);
    EXPECT_EQ(monitor.handle.load(), nullptr);
}

} // namespace
} // namespace orvane
