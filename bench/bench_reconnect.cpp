// The acquisition loop across a pulled cable and when asked to stop, on its worker thread:
// - BM_StopLatency/STATE: from stop() to the thread's exit, asked while seeking a silent sensor,
//   streaming, on a chatty line whose frames all fail the gate, and while reconnecting. Manual
//   time per try; `worst_ms` is the slowest try, `forced` counts stops that had to force.
// - BM_ReplugToFirstSample: from the moment a simulated cable is back to the first new sample the
//   loop processes (the reopen, then the start-up exchange of about 3.6 s).
#include "app/tower_monitor.h"
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"
#include "sim/paced_sensor.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#ifndef _WIN32
#include "tests/support/chatty_device.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace orvane;

// Notes the time of the link's return and of each processed sample.
class Watch : public ReadoutSink {
public:
    void refreshReadouts() override {}
    void sampleProcessed(const TowerReadings&) override {
        samples.fetch_add(1);
        if (back.load())
            firstAfterBack.store(firstAfterBack.load() ? firstAfterBack.load()
                                                       : Clock::now().time_since_epoch().count());
    }
    void linkChanged(bool connected) override {
        if (connected)
            back.store(true);
        else
            lost.store(true);
    }
    std::atomic<int> samples{0};
    std::atomic<bool> lost{false}, back{false};
    std::atomic<Clock::rep> firstAfterBack{0};
};

class Run {
public:
    explicit Run(const std::string& device) {
#ifndef _WIN32
        setenv("ORVANE_DEVICE", device.c_str(), 1);
#endif
        decoder.setDownstream(&monitor);
        opened = openLink(&decoder, 0, 19200);
        monitor.dialog = &watch;
        if (opened)
            monitor.start();
    }
    ~Run() {
        monitor.stop();
        closeLink();
        receiveBuffer.setDownstream(nullptr);
        receiveBuffer.applyPendingDownstream();
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    FrameDecoder decoder;
    TowerMonitor monitor;
    Watch watch;
    bool opened = false;
};

template <typename Ready> bool waitFor(Ready ready, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!ready()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

enum StopState { kSeekingSilent, kStreaming, kChatty, kReconnecting };

void BM_StopLatency(benchmark::State& state) {
#ifdef _WIN32
    state.SkipWithError("needs the simulated device of the non-Windows D2XX layer");
#else
    const auto which = static_cast<StopState>(state.range(0));
    double worst = 0;
    int forced = 0, tries = 0;
    for (auto _ : state) {
        std::optional<test_support::ChattyLine> chatty;
        std::string device = "sim:rate=200";
        if (which == kSeekingSilent)
            device = "sim:silent";
        if (which == kChatty)
            chatty.emplace();
        if (which == kReconnecting)
            device = "sim:unplug=0.2,seed=" + std::to_string(100 + tries);
        Run run(device);
        if (!run.opened) {
            state.SkipWithError("the device did not open");
            return;
        }
        bool ready = true;
        if (which == kStreaming)
            ready = waitFor([&] { return run.watch.samples.load() > 2; }, std::chrono::seconds(10));
        if (which == kReconnecting)
            ready = waitFor([&] { return run.watch.lost.load(); }, std::chrono::seconds(5));
        // Well inside a pass: a receive, a long chatty receive, a reopen pause.
        std::this_thread::sleep_for(std::chrono::milliseconds(which == kChatty ? 2500 : 300));
        if (!ready) {
            state.SkipWithError("the loop did not reach the state");
            return;
        }
        const auto asked = Clock::now();
        run.monitor.stop();
        const double seconds = std::chrono::duration<double>(Clock::now() - asked).count();
        state.SetIterationTime(seconds);
        worst = std::max(worst, seconds * 1000.0);
        forced += run.monitor.stopWasForced.load() ? 1 : 0;
        ++tries;
    }
    state.counters["worst_ms"] = worst;
    state.counters["forced"] = forced;
    unsetenv("ORVANE_DEVICE");
#endif
}
BENCHMARK(BM_StopLatency)
    ->ArgName("state")
    ->DenseRange(kSeekingSilent, kReconnecting)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ReplugToFirstSample(benchmark::State& state) {
#ifdef _WIN32
    state.SkipWithError("needs the simulated device of the non-Windows D2XX layer");
#else
    int tries = 0;
    for (auto _ : state) {
        // The cable comes back at a random point of the reopen's one-second rhythm.
        const double unplug = 4.0, replug = 0.5 + 0.37 * tries;
        const std::string options = "rate=50,unplug=" + std::to_string(unplug) +
                                    ",replug=" + std::to_string(replug) +
                                    ",seed=" + std::to_string(200 + tries);
        Run run("sim:" + options);
        if (!run.opened) {
            state.SkipWithError("the device did not open");
            return;
        }
        bool first = false;
        const auto epoch = sim::sensorEpoch(options, first);
        const auto cableBack = epoch + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(unplug + replug));
        if (!waitFor([&] { return run.watch.firstAfterBack.load() != 0; },
                     std::chrono::seconds(30))) {
            state.SkipWithError("no sample after the replug");
            return;
        }
        const Clock::time_point sample{Clock::duration(run.watch.firstAfterBack.load())};
        state.SetIterationTime(std::chrono::duration<double>(sample - cableBack).count());
        ++tries;
    }
    unsetenv("ORVANE_DEVICE");
#endif
}
BENCHMARK(BM_ReplugToFirstSample)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
