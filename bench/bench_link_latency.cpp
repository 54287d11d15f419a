// Over a pseudo-terminal served by `orvane sim --pty`: the time from writing "g" to the first
// sample frame reaching the consumer at the end of the receive chain, through the tty backend,
// the link and the frame decoder. One repetition per try; median and p95 over 100 tries.
//
// The sensor samples on its own clock, so at its 50 Hz a try also waits for the next sample
// tick (0 to 20 ms); the 1000 Hz variant leaves mostly the transport's own delay.
//
// Finds `orvane` through ORVANE_TOOL, else next to this program's build folder.
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <climits>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/pty_sensor.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

#ifndef _WIN32

std::string toolPath() {
    if (const char* tool = std::getenv("ORVANE_TOOL"))
        return tool;
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    path = path.substr(0, path.rfind('/')); // .../bench
    return path.substr(0, path.rfind('/')) + "/tools/orvane";
}

using orvane::test_support::PtySensor;

// The end of the chain: notes when the first sample frame arrives and ends the receive.
class SampleClock : public orvane::LinkedStage {
public:
    void put(const orvane::ByteBuffer& block) override {
        if (block.length == 8 && block.data[0] == ':' && !arrived) {
            arrived = Clock::now();
            static_cast<orvane::Stage&>(*this).signalDone(1);
        }
    }
    bool deleteOnDetach() override { return false; }
    void signalDone(std::int32_t value) override {
        if (upstream)
            upstream->signalDone(value);
    }
    std::optional<Clock::time_point> arrived;
};

void BM_FirstSampleAfterG(benchmark::State& state, const char* options) {
    using namespace orvane;
    PtySensor sensor(toolPath(), options);
    if (sensor.path().empty()) {
        state.SkipWithError("could not start `orvane sim --pty` (set ORVANE_TOOL)");
        return;
    }
    setenv("ORVANE_DEVICE", ("tty:" + sensor.path()).c_str(), 1);
    FrameDecoder decoder;
    SampleClock consumer;
    decoder.setDownstream(&consumer);
    for (auto _ : state) {
        // A fresh session per try: the sensor's stream runs until the terminal is closed.
        if (!openLink(&decoder, 0, 19200)) {
            state.SkipWithError("the terminal did not open");
            break;
        }
        beginExchange();
        consumer.arrived.reset();
        const auto sent = Clock::now();
        sendCommand(ByteBuffer("g"));
        while (!consumer.arrived && receiveReply(0) == false) {
        }
        state.SetIterationTime(std::chrono::duration<double>(*consumer.arrived - sent).count());
        closeLink();
        // Let the server see the hang-up and power its sensor down before the next try.
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    receiveBuffer.downstream = receiveBuffer.pendingDownstream = nullptr;
    unsetenv("ORVANE_DEVICE");
}

double percentile95(const std::vector<double>& v) {
    std::vector<double> sorted(v);
    std::sort(sorted.begin(), sorted.end());
    const std::size_t rank = (95 * sorted.size() + 99) / 100; // nearest rank
    return sorted[rank == 0 ? 0 : rank - 1];
}

#define LATENCY_BENCHMARK(name, options)                                                           \
    BENCHMARK_CAPTURE(BM_FirstSampleAfterG, name, options)                                         \
        ->Iterations(1)                                                                            \
        ->Repetitions(100)                                                                         \
        ->UseManualTime()                                                                          \
        ->Unit(benchmark::kMillisecond)                                                            \
        ->ComputeStatistics("p95", percentile95)                                                   \
        ->ReportAggregatesOnly(true)

LATENCY_BENCHMARK(rate50, "");
LATENCY_BENCHMARK(rate1000, "rate=1000");

#endif

} // namespace

BENCHMARK_MAIN();
