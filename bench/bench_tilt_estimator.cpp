// Decoder + estimator on a stream of valid ':' frames after a reference, in 512-byte blocks as the
// device delivers them. Reports accepted frames per second, ns per frame, and heap allocations
// made while the stream runs (expected: none).

#include "sensor/frame_decoder.h"
#include "sensor/tilt_estimator.h"
#include "sensor/view_rotation.h"

#include "tests/support/wire_frame.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

namespace {

std::atomic<std::uint64_t> allocations{0};

} // namespace

// Counts every allocation of the process, so that the timed loop can show it makes none.
// GCC takes free() in a replaced operator delete for a mismatch with operator new; these are the
// replacements themselves, so the warning does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

using namespace orvane;

using test_support::appendWireFrame;

void BM_DecodeAndEstimate(benchmark::State& state) {
    constexpr std::size_t kBlock = 512;
    // A tower leaning a few degrees, with sensor noise; every frame passes the gate.
    std::vector<std::uint8_t> stream;
    std::mt19937 random(42);
    std::uniform_int_distribution<int> noise(-15, 15);
    for (std::size_t i = 0; i < 64 * kBlock / 8; ++i)
        appendWireFrame(stream, kSampleType, 60 + noise(random), 996 + noise(random),
                        -35 + noise(random));

    auto decoder = std::make_unique<FrameDecoder>();
    auto estimator = std::make_unique<TiltEstimator>();
    decoder->setDownstream(estimator.get());
    estimator->setViewRotation(viewRotationForAngle(22.5f));
    std::vector<std::uint8_t> reference;
    appendWireFrame(reference, kReferenceType, 20, 999, -10);
    decoder->put(ByteBuffer(reference.data(), static_cast<std::uint32_t>(reference.size())));

    const std::uint32_t before = estimator->sampleCount;
    const std::uint64_t allocationsBefore = allocations.load();
    std::size_t at = 0;
    for (auto _ : state) {
        decoder->put(ByteBuffer(stream.data() + at, kBlock));
        at += kBlock;
        if (at == stream.size())
            at = 0;
        benchmark::DoNotOptimize(estimator->tiltVector);
    }
    const std::uint64_t allocationsDuring = allocations.load() - allocationsBefore;
    const auto frames = static_cast<double>(estimator->sampleCount - before);
    if (frames != static_cast<double>(state.iterations()) * (kBlock / 8))
        state.SkipWithError("not every frame was accepted");
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    // Seconds per frame, printed with an SI prefix (n for nanoseconds).
    state.counters["time/frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs"] = static_cast<double>(allocationsDuring);
}
BENCHMARK(BM_DecodeAndEstimate);

} // namespace

BENCHMARK_MAIN();
