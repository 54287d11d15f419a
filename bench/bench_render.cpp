// The view at the dialog's picture size: rendering a preset, composing a frame, and a plain
// copy of the same bytes as the yardstick for compose.

#include "render/scene_renderer.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr std::int32_t kWidth = 467;
constexpr std::int32_t kHeight = 475;

void renderPreset(benchmark::State& state, const orvane::ViewPreset& preset) {
    orvane::SceneRenderer renderer;
    renderer.resize(kWidth, kHeight);
    for (auto _ : state) {
        renderer.applyPreset(preset);
        benchmark::DoNotOptimize(renderer.scenePixels());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}

void BM_RenderWide(benchmark::State& state) {
    renderPreset(state, orvane::kWideView);
}
void BM_RenderClose(benchmark::State& state) {
    renderPreset(state, orvane::kCloseView);
}

// Both markers inside the picture: one copy and four diamond fills, the most a paint does.
void BM_Compose(benchmark::State& state) {
    orvane::SceneRenderer renderer;
    renderer.resize(kWidth, kHeight);
    renderer.applyPreset(orvane::kWideView);
    renderer.setMarker(0.25f, 0.15f, 0x10D010, true);
    renderer.setMarker(-0.3f, 0.4f, orvane::kMarkColour, false);
    for (auto _ : state) {
        renderer.compose();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kWidth * kHeight * 4);
}

void BM_Memcpy(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(kWidth) * kHeight * 4;
    std::vector<std::uint32_t> from(bytes / 4, 0x808080);
    std::vector<std::uint32_t> to(bytes / 4);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

} // namespace

BENCHMARK(BM_RenderWide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderClose)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compose)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
