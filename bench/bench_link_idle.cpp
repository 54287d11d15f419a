// CPU that a process costs while its sensor is unplugged: the acquisition loop on its worker
// thread trying to reopen a simulated device whose cable was pulled and never comes back.
// Reported as cpu_percent, the process's CPU time over wall time. Run long for the figure:
// bench/scripts/link_figures.sh does (30 s).
#include "app/tower_monitor.h"
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

namespace {

void BM_UnpluggedMonitor(benchmark::State& state) {
#ifdef _WIN32
    state.SkipWithError("needs the simulated device of the non-Windows D2XX layer");
    return;
#else
    using namespace orvane;
    // The device must open before it goes away; a sensor of its own for each run (a simulated
    // sensor keeps its cable state across opens of the same options).
    static int runs = 0;
    setenv("ORVANE_DEVICE", ("sim:unplug=0.2,seed=" + std::to_string(++runs)).c_str(), 1);
    FrameDecoder decoder;
    TowerMonitor monitor;
    decoder.setDownstream(&monitor);
    if (!openLink(&decoder, 0, 19200)) {
        state.SkipWithError("the simulated device did not open");
        return;
    }
    monitor.start();
    while (monitor.linkState.load() != TowerMonitor::kReconnecting)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    const std::clock_t cpuStart = std::clock();
    const auto wallStart = std::chrono::steady_clock::now();
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
    state.counters["wall_s"] = wall;

    monitor.stop();
    closeLink();
    receiveBuffer.setDownstream(nullptr);
    receiveBuffer.applyPendingDownstream();
    unsetenv("ORVANE_DEVICE");
#endif
}
BENCHMARK(BM_UnpluggedMonitor)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
