#include "render/scene_renderer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace orvane {
namespace {

constexpr std::int32_t kWidth = 120;
constexpr std::int32_t kHeight = 100;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

struct Position {
    float x, y;
};
constexpr Position kLivePositions[] = {{0.3f, 0.2f}, {-0.01f, -0.015f}};
constexpr Position kPinnedPosition{-0.4f, 0.1f};
constexpr std::uint32_t kLiveColour = 0x10D010;

// A frame built on one thread from the given preset and markers.
std::vector<std::uint32_t> soloFrame(const ViewPreset& preset, Position live, bool pinned) {
    SceneRenderer renderer;
    renderer.resize(kWidth, kHeight);
    renderer.applyPreset(preset);
    renderer.setMarker(live.x, live.y, kLiveColour, true);
    if (pinned)
        renderer.setMarker(kPinnedPosition.x, kPinnedPosition.y, kMarkColour, false);
    const std::uint32_t* bits = renderer.frameBits();
    return {bits, bits + kPixels};
}

// The worker switches presets and moves the live marker while the painting thread pins a
// mark and takes frames, reading every pixel after frameBits has returned, as a blit does.
// Every frame it sees must be one that the same calls make on a single thread: never a scene
// half redrawn, a frame half composed, or a mix of two presets.
TEST(SceneRendererThreads, PainterOnlySeesWholeFrames) {
    std::vector<std::vector<std::uint32_t>> possible;
    for (const ViewPreset* preset : {&kWideView, &kCloseView})
        for (const Position& live : kLivePositions)
            for (bool pinned : {false, true})
                possible.push_back(soloFrame(*preset, live, pinned));

    SceneRenderer renderer;
    renderer.resize(kWidth, kHeight);
    renderer.applyPreset(kWideView);
    renderer.setMarker(kLivePositions[0].x, kLivePositions[0].y, kLiveColour, true);

    std::atomic<bool> workerDone{false};
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i) {
            if (i % 3 == 2)
                renderer.render();
            else
                renderer.applyPreset(i % 2 == 0 ? kCloseView : kWideView);
            const Position& live = kLivePositions[i % 2];
            renderer.setMarker(live.x, live.y, kLiveColour, true);
        }
        workerDone = true;
    });

    int frames = 0;
    int unexpected = 0;
    while (!workerDone || frames < 10) {
        if (frames == 5)
            renderer.setMarker(kPinnedPosition.x, kPinnedPosition.y, kMarkColour, false);
        ASSERT_EQ(renderer.width(), kWidth);
        ASSERT_EQ(renderer.height(), kHeight);
        const std::uint32_t* bits = renderer.frameBits();
        ASSERT_NE(bits, nullptr);
        const std::vector<std::uint32_t> seen(bits, bits + kPixels);
        bool known = false;
        for (const auto& frame : possible)
            known = known || frame == seen;
        unexpected += !known;
        // Nothing may change the handed-over pixels until this thread asks again.
        EXPECT_TRUE(std::equal(seen.begin(), seen.end(), bits));
        ++frames;
    }
    worker.join();
    EXPECT_EQ(unexpected, 0) << "of " << frames << " frames";
}

} // namespace
} // namespace orvane
