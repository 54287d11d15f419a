// CPU that the link costs a process whose sensor was unplugged: the acquisition loop's pass
// (beginExchange, receiveReply, a command) over a simulated device that fails every call.
// Reported as cpu_percent, the process's CPU time over wall time. Run long for the figure:
// bench/scripts/link_figures.sh does (30 s).
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

void BM_UnpluggedLinkPass(benchmark::State& state) {
#ifdef _WIN32
    state.SkipWithError("needs the simulated device of the non-Windows D2XX layer");
    return;
#else
    using namespace orvane;
    // The device must open and configure before it goes away.
    setenv("ORVANE_DEVICE", "sim:unplug=0.2", 1);
    FrameDecoder decoder;
    if (!openLink(&decoder, 0, 19200)) {
        state.SkipWithError("the simulated device did not open");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const std::clock_t cpuStart = std::clock();
    const auto wallStart = std::chrono::steady_clock::now();
    for (auto _ : state) {
        beginExchange();
        benchmark::DoNotOptimize(receiveReply(0));
        sendCommand(ByteBuffer("se"));
    }
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
    state.counters["wall_s"] = wall;

    closeLink();
    receiveBuffer.upstream = nullptr;
    receiveBuffer.downstream = receiveBuffer.pendingDownstream = nullptr;
    unsetenv("ORVANE_DEVICE");
#endif
}
BENCHMARK(BM_UnpluggedLinkPass)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
