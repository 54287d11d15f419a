// The acquisition loop on its worker thread against the simulated sensor, with the window's side
// (readings, view rotation, painting) running at the same time on this thread.

#include "app/tower_monitor.h"

#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "tests/support/chatty_device.h"
#endif

#include <memory>
#include <optional>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    void linkChanged(bool connected) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            links_.push_back(connected);
            countAtChange_ = latest_.sampleCount;
        }
        changed_.notify_all();
    }
    // Waits until the link has changed `changes` times; false on time-out.
    bool waitForLinkChanges(std::size_t changes, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return links_.size() >= changes; });
    }
    std::vector<bool> links() {
        std::lock_guard<std::mutex> lock(mutex_);
        return links_;
    }
    std::uint32_t countAtLastChange() {
        std::lock_guard<std::mutex> lock(mutex_);
        return countAtChange_;
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
    std::vector<bool> links_;
    std::uint32_t countAtChange_ = 0;
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
    // The last processed sample is the one published.
    const TowerReadings last = monitor.readings();
    EXPECT_GE(last.sampleCount, settled.sampleCount);
    EXPECT_GT(sink.refreshes(), 0);
    EXPECT_FALSE(monitor.running);
    EXPECT_EQ(monitor.handle.load(), nullptr);
}

// The program's chain, link -> decoder -> monitor, on the device ORVANE_DEVICE names.
class MonitorOnDevice {
public:
    explicit MonitorOnDevice(const char* selection) : device_(selection) {
        decoder.setDownstream(&monitor);
        opened = openLink(&decoder, 0, 19200);
        monitor.renderer.resize(64, 48);
        monitor.selectWideView();
        monitor.dialog = &sink;
    }
    ~MonitorOnDevice() {
        monitor.stop();
        closeLink();
        receiveBuffer.setDownstream(nullptr);
        receiveBuffer.applyPendingDownstream();
    }
    MonitorOnDevice(const MonitorOnDevice&) = delete;
    MonitorOnDevice& operator=(const MonitorOnDevice&) = delete;

    SimulatedDevice device_;
    FrameDecoder decoder;
    TowerMonitor monitor;
    LatestReadings sink;
    bool opened = false;
};

TEST(TowerMonitorThreads, APulledCableIsReopenedAndTheCountGoesOn) {
    MonitorOnDevice run("sim:x=1,noise=0,rate=200,unplug=4.2,replug=0.4");
    ASSERT_TRUE(run.opened);
    ASSERT_TRUE(run.monitor.start());
    TowerReadings before;
    ASSERT_TRUE(run.sink.waitForSample(1, std::chrono::seconds(10), before));
    ASSERT_TRUE(run.sink.waitForLinkChanges(2, std::chrono::seconds(10)));
    EXPECT_EQ(run.sink.links(), (std::vector<bool>{false, true}));
    const std::uint32_t atReturn = run.sink.countAtLastChange();
    EXPECT_GT(atReturn, 0u);
    // The start-up exchange again, then samples: the count goes on from where it was.
    TowerReadings after;
    ASSERT_TRUE(run.sink.waitForSample(atReturn + 5, std::chrono::seconds(10), after));
    EXPECT_NEAR(-after.angleX, 1.0, 0.05);
    run.monitor.stop();
    EXPECT_FALSE(run.monitor.stopWasForced.load());
}

// A stop asked in each state the loop can be in ends run() by itself, well within one pass of
// the loop (1.8 s): the link's reads and pauses look at the request between reads.
TEST(TowerMonitorThreads, AStopIsPromptInEveryState) {
    struct Case {
        const char* name;
        const char* device;
        int waitForSamples;    // wait until this many samples were processed
        bool waitForReconnect; // wait until the link is lost
        std::chrono::milliseconds settle;
    };
    const Case cases[] = {
        {"seeking a silent sensor", "sim:silent", 0, false, std::chrono::milliseconds(300)},
        {"streaming", "sim:rate=200", 3, false, std::chrono::milliseconds(0)},
#ifndef _WIN32
        {"a chatty line whose frames all fail", "chatty", 0, false,
         std::chrono::milliseconds(2500)},
#endif
        {"reconnecting", "sim:unplug=0.3,seed=11", 0, true, std::chrono::milliseconds(200)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
#ifndef _WIN32
        std::optional<test_support::ChattyLine> chatty;
        if (std::string(c.device) == "chatty")
            chatty.emplace();
#endif
        MonitorOnDevice run(c.device);
        ASSERT_TRUE(run.opened);
        ASSERT_TRUE(run.monitor.start());
        TowerReadings seen;
        if (c.waitForSamples > 0) {
            ASSERT_TRUE(run.sink.waitForSample(static_cast<std::uint32_t>(c.waitForSamples),
                                               std::chrono::seconds(10), seen));
        }
        if (c.waitForReconnect) {
            ASSERT_TRUE(run.sink.waitForLinkChanges(1, std::chrono::seconds(5)));
        }
        std::this_thread::sleep_for(c.settle);
        const auto asked = std::chrono::steady_clock::now();
        run.monitor.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1000));
        EXPECT_FALSE(run.monitor.stopWasForced.load());
        EXPECT_FALSE(run.monitor.running.load());
    }
}

} // namespace
} // namespace orvane
