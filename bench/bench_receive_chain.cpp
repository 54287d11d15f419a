// Wire bytes per second through the receive path: a device handing out 512-byte reads of back
// to back frames -> a pass-through stage -> FrameDecoder -> a stage that counts frames.
#include "link/channel.h"
#include "sensor/frame_decoder.h"
#include "tests/support/pass_through_stage.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace orvane;

// Hands out a prepared stream in a loop, one read of up to `length` bytes at a time.
class LoopingDevice : public ChannelSource {
public:
    explicit LoopingDevice(std::vector<std::uint8_t> bytes) : stream(std::move(bytes)) {}
    std::int32_t read(void* data, std::int32_t length) override {
        const std::size_t n = static_cast<std::size_t>(length);
        if (at + n > stream.size())
            at = 0;
        std::memcpy(data, stream.data() + at, n);
        at += n;
        return length;
    }
    std::vector<std::uint8_t> stream;
    std::size_t at = 0;
};

using test_support::PassThrough;

class CountingStage : public LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        ++blocks;
        bytes += block.length;
    }
    bool deleteOnDetach() override { return false; }
    std::uint64_t blocks = 0;
    std::uint64_t bytes = 0;
};

// 64 KiB of good frames of both types with varied bodies; a multiple of 512 and of 8.
std::vector<std::uint8_t> frameStream() {
    std::vector<std::uint8_t> s;
    std::uint32_t x = 12345;
    while (s.size() < 65536) {
        s.push_back(s.size() % 64 == 0 ? kReferenceType : kSampleType);
        std::uint8_t sum = 0;
        for (int k = 0; k < 6; ++k) {
            x = x * 1103515245u + 12345u;
            const auto b = static_cast<std::uint8_t>(x >> 16);
            s.push_back(b);
            sum = static_cast<std::uint8_t>(sum + b);
        }
        s.push_back(static_cast<std::uint8_t>(kBodySum - sum));
    }
    return s;
}

void BM_ReceiveChain(benchmark::State& state) {
    LoopingDevice device(frameStream());
    PassThrough pass;
    FrameDecoder decoder;
    CountingStage counter;
    device.setDownstream(&pass);
    device.applyPendingDownstream();
    pass.setDownstream(&decoder);
    pass.applyPendingDownstream();
    decoder.setDownstream(&counter);
    decoder.applyPendingDownstream();

    for (auto _ : state) {
        if (device.pump() != 0) {
            state.SkipWithError("pump delivered nothing");
            break;
        }
    }
    const auto wireBytes = static_cast<std::int64_t>(state.iterations()) * 512;
    if (counter.bytes != static_cast<std::uint64_t>(wireBytes))
        state.SkipWithError("frames were lost");
    state.SetBytesProcessed(wireBytes);
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(counter.blocks), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceiveChain);

} // namespace

BENCHMARK_MAIN();
