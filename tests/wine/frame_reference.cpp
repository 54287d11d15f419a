// frame_reference WIDTH HEIGHT SAMPLES OUT.ppm
//
// The frame pixels the viewer paints once SAMPLES samples have been processed: the viewer's own
// acquisition loop and renderer, without a window, on the device FTD2XX.dll and ORVANE_DEVICE
// give. Written as a binary PPM, top row first, for scripts/windows-test.sh to hold against a
// screenshot of the viewer. Exit status 1 when there is no device or the samples do not come.
#include "app/readout_sink.h"
#include "app/tower_monitor.h"
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

class SampleCounter : public orvane::ReadoutSink {
public:
    void refreshReadouts() override {}
    void sampleProcessed(const orvane::TowerReadings&) override { ++samples; }

    std::atomic<int> samples{0};
};

bool writePpm(const char* path, const std::uint32_t* bits, int width, int height) {
    std::FILE* out = std::fopen(path, "wb");
    if (!out)
        return false;
    std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    for (int row = height - 1; row >= 0; --row) { // the pixels run bottom-up
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = bits[row * width + x];
            const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                          static_cast<unsigned char>(p >> 8),
                                          static_cast<unsigned char>(p)};
            std::fwrite(rgb, 1, 3, out);
        }
    }
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv) {
    using namespace orvane;
    if (argc != 5) {
        std::fprintf(stderr, "usage: frame_reference WIDTH HEIGHT SAMPLES OUT.ppm\n");
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    const int samples = std::atoi(argv[3]);

    // The viewer's receive chain; all of it lives until the worker has stopped.
    FrameDecoder decoder;
    TowerMonitor monitor;
    SampleCounter counter;
    decoder.setDownstream(&monitor);
    if (!openLink(&decoder, 0, 19200)) {
        std::fprintf(stderr, "\nframe_reference: no device\n");
        return 1;
    }
    monitor.renderer.resize(width, height);
    monitor.selectWideView();
    monitor.dialog = &counter;
    if (!monitor.start())
        return 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (counter.samples < samples && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    monitor.stop();
    closeLink();
    receiveBuffer.setDownstream(nullptr); // the decoder goes before the process-wide buffer
    receiveBuffer.applyPendingDownstream();
    if (counter.samples < samples) {
        std::fprintf(stderr, "frame_reference: only %d samples\n", counter.samples.load());
        return 1;
    }
    if (!writePpm(argv[4], monitor.renderer.frameBits(), monitor.renderer.width(),
                  monitor.renderer.height())) {
        std::fprintf(stderr, "frame_reference: cannot write %s\n", argv[4]);
        return 1;
    }
    return 0;
}
