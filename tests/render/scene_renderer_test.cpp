#include "render/scene_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace orvane {
namespace {

std::uint32_t grey(std::uint32_t level) {
    return level * 0x010101u;
}

// A scene pixel named by the render counters: x runs from width (first pixel of a row in
// memory) down to 1, y from height (first row in memory) down to 1.
std::uint32_t sceneAt(const SceneRenderer& renderer, std::int32_t x, std::int32_t y) {
    const std::int32_t w = renderer.width();
    const std::int32_t h = renderer.height();
    return renderer.scenePixels()[static_cast<std::size_t>(h - y) * w + (w - x)];
}

std::vector<std::uint32_t> copyScene(const SceneRenderer& renderer) {
    const std::uint32_t* pixels = renderer.scenePixels();
    return {pixels, pixels + static_cast<std::size_t>(renderer.width()) * renderer.height()};
}

// ---------------------------------------------------------------------------------------------
// The scene

TEST(SceneRenderer, ConstructionState) {
    SceneRenderer renderer;
    EXPECT_EQ(renderer.width(), 0);
    EXPECT_EQ(renderer.height(), 0);
    EXPECT_EQ(renderer.scenePixels(), nullptr);
    EXPECT_TRUE(renderer.dirty());
    EXPECT_EQ(renderer.scale(), 1.1f);
    EXPECT_EQ(renderer.shadeScaleLimit(), 1.3333f);
    EXPECT_EQ(renderer.ringRadii(), (std::array<std::int32_t, 4>{0, 0, 0, 0}));
    for (const ViewMarker& m : {renderer.liveMarker(), renderer.pinnedMarker()}) {
        EXPECT_EQ(m.x, 0.0f);
        EXPECT_EQ(m.y, 0.0f);
        EXPECT_EQ(m.colour, 0u);
    }
    EXPECT_EQ(renderer.frameBits(), nullptr);
}

// Runs of pixels x = first..last on counter row y that all have one grey level, 300 x 300.
struct SceneRun {
    const char* name;
    const ViewPreset* preset;
    std::int32_t first, last, y;
    std::uint32_t level;
};

class SceneRuns : public testing::TestWithParam<SceneRun> {};

TEST_P(SceneRuns, HaveTheirGrey) {
    const SceneRun& run = GetParam();
    SceneRenderer renderer;
    renderer.resize(300, 300);
    renderer.applyPreset(*run.preset);
    for (std::int32_t x = run.first; x <= run.last; ++x)
        EXPECT_EQ(sceneAt(renderer, x, run.y), grey(run.level)) << "x=" << x << " y=" << run.y;
}

INSTANTIATE_TEST_SUITE_P(
    Scene300, SceneRuns,
    testing::Values(SceneRun{"WideWhiteToRing500", &kWideView, 152, 200, 200, 255},
                    SceneRun{"WideRing500", &kWideView, 201, 203, 200, 102},
                    SceneRun{"WideWhitePastRing500", &kWideView, 204, 213, 200, 255},
                    SceneRun{"WideFirstBelowWhite", &kWideView, 214, 214, 200, 254},
                    SceneRun{"WideRing708", &kWideView, 238, 239, 200, 94},
                    SceneRun{"WideLastShaded", &kWideView, 284, 284, 200, 141},
                    SceneRun{"WideOutsideDisc", &kWideView, 285, 300, 200, 0},
                    SceneRun{"WideCrosshairCentre", &kWideView, 151, 151, 151, 102},
                    SceneRun{"CloseWhiteToRing17", &kCloseView, 152, 173, 160, 255},
                    SceneRun{"CloseRing17", &kCloseView, 174, 175, 160, 102},
                    SceneRun{"CloseWhiteToRing35", &kCloseView, 176, 201, 160, 255},
                    SceneRun{"CloseRing35", &kCloseView, 202, 203, 160, 102},
                    SceneRun{"CloseWhitePastRing35", &kCloseView, 204, 262, 160, 255},
                    SceneRun{"CloseRing87", &kCloseView, 281, 281, 160, 97},
                    SceneRun{"CloseEdge", &kCloseView, 300, 300, 160, 230}),
    [](const testing::TestParamInfo<SceneRun>& p) { return p.param.name; });

TEST(SceneRenderer, CloseViewCornersAreBlack) {
    SceneRenderer renderer;
    renderer.resize(300, 300);
    renderer.applyPreset(kCloseView);
    for (std::int32_t d = 1; d < 9; ++d)
        EXPECT_EQ(sceneAt(renderer, d, d), 0u) << d;
    EXPECT_EQ(sceneAt(renderer, 9, 9), grey(139));
    // The far corner mirrors it.
    EXPECT_EQ(sceneAt(renderer, 300, 300), 0u);
}

TEST(SceneRenderer, EveryScenePixelIsAGrey) {
    SceneRenderer renderer;
    renderer.resize(123, 77);
    for (const ViewPreset* preset : {&kWideView, &kCloseView}) {
        renderer.applyPreset(*preset);
        const std::vector<std::uint32_t> scene = copyScene(renderer);
        for (std::size_t i = 0; i < scene.size(); ++i)
            ASSERT_EQ(scene[i], grey(scene[i] & 0xFFu)) << i;
    }
}

// Without rings (a list that starts with 0 ends there) the only darkened pixels are the
// crosshair's: counters x = w/2, w/2 + 1 and y = h/2, h/2 + 1. A darkened grey is at most 102,
// an undarkened one inside the disc at least 128. Odd sizes show whether the counters run
// downwards from the first pixel in memory.
TEST(SceneRenderer, CrosshairIsTwoPixelsAtTheCounterHalves) {
    const std::int32_t sizes[][2] = {{300, 300}, {301, 201}, {200, 301}, {7, 5}, {64, 9}};
    for (const auto& size : sizes) {
        const std::int32_t w = size[0];
        const std::int32_t h = size[1];
        SceneRenderer renderer;
        renderer.resize(w, h);
        const std::int32_t noRings[4] = {0, 500, 708, 0};
        renderer.applyPreset(0.95f, noRings);
        std::int32_t crossPixels = 0;
        for (std::int32_t y = 1; y <= h; ++y) {
            for (std::int32_t x = 1; x <= w; ++x) {
                const std::uint32_t level = sceneAt(renderer, x, y) & 0xFFu;
                if (level == 0)
                    continue;
                const bool cross = x == w / 2 || x == w / 2 + 1 || y == h / 2 || y == h / 2 + 1;
                crossPixels += cross;
                if (cross)
                    ASSERT_LE(level, 102u) << w << "x" << h << " at " << x << "," << y;
                else
                    ASSERT_GE(level, 128u) << w << "x" << h << " at " << x << "," << y;
            }
        }
        EXPECT_GT(crossPixels, 0) << w << "x" << h;
    }
}

TEST(SceneRenderer, ApplyingAPresetAlwaysRedrawsTheWholeScene) {
    SceneRenderer renderer;
    renderer.resize(90, 70);
    renderer.applyPreset(kWideView);
    const std::vector<std::uint32_t> wide = copyScene(renderer);
    renderer.applyPreset(kCloseView);
    const std::vector<std::uint32_t> close = copyScene(renderer);
    EXPECT_NE(wide, close);
    renderer.applyPreset(kWideView);
    EXPECT_EQ(copyScene(renderer), wide);
    renderer.frameBits();
    ASSERT_FALSE(renderer.dirty());
    renderer.applyPreset(kWideView);
    EXPECT_TRUE(renderer.dirty());
    EXPECT_EQ(copyScene(renderer), wide);
    EXPECT_EQ(renderer.scale(), kWideView.scale);
    EXPECT_EQ(renderer.ringRadii(), (std::array<std::int32_t, 4>{173, 500, 708, 0}));
}

// The scene pixel by pixel, as literally as it is defined, without any shortcut: single
// precision geometry, the float q against the double 0.99999999, the grey in double.
std::vector<std::uint32_t> literalScene(std::int32_t w, std::int32_t h, float scale,
                                        const std::int32_t radii[4]) {
    std::vector<std::uint32_t> scene;
    const float cx = static_cast<float>(w + 1) * 0.5f;
    const float cy = static_cast<float>(h + 1) * 0.5f;
    const float r = 1.0f / (cy * scale);
    const float s = 1.0f / (cy * std::min(scale, 1.3333f));
    for (std::int32_t y = h; y >= 1; --y) {
        for (std::int32_t x = w; x >= 1; --x) {
            const float dx = static_cast<float>(x) - cx;
            const float dy = static_cast<float>(y) - cy;
            const float nx = dx * r, ny = dy * r, sx = dx * s, sy = dy * s;
            const float q = sx * sx + sy * sy;
            if (q > 0.99999999) {
                scene.push_back(0);
                continue;
            }
            int level = static_cast<int>((std::sqrt(1.0 - q) * 0.6 + 0.5) * 256);
            level = std::min(level, 255);
            bool ring = false;
            const float t = std::sqrt(nx * nx + ny * ny) * 1000.0f;
            for (int i = 0; i < 4 && radii[i] != 0 && !ring; ++i)
                ring = std::fabs(t - static_cast<float>(radii[i])) * scale < 6.0f;
            if (ring || x == w / 2 || x == w / 2 + 1 || y == h / 2 || y == h / 2 + 1)
                level = static_cast<int>(level * 0.4);
            scene.push_back(grey(static_cast<std::uint32_t>(level)));
        }
    }
    return scene;
}

TEST(SceneRenderer, SceneMatchesThePixelByPixelDefinition) {
    struct Case {
        std::int32_t w, h;
        ViewPreset preset;
    };
    const Case cases[] = {
        {467, 475, kWideView},
        {467, 475, kCloseView},
        {300, 300, kWideView},
        {301, 199, kCloseView},
        {1, 1, kWideView},
        {2, 3, kCloseView},
        {640, 120, kWideView},
        {150, 151, {1.3333f, {250, 640, 910, 990}}}, // shade and view scales equal, four rings
        {151, 150, {3.0f, {1, 90, 120, 0}}},
        {120, 99, {0.5f, {0, 300, 0, 0}}},
    };
    for (const Case& c : cases) {
        SceneRenderer renderer;
        renderer.resize(c.w, c.h);
        renderer.applyPreset(c.preset);
        const std::vector<std::uint32_t> expected =
            literalScene(c.w, c.h, c.preset.scale, c.preset.radii);
        const std::vector<std::uint32_t> scene = copyScene(renderer);
        std::size_t differing = 0;
        for (std::size_t i = 0; i < scene.size(); ++i)
            differing += scene[i] != expected[i];
        EXPECT_EQ(differing, 0u) << c.w << "x" << c.h << " scale " << c.preset.scale;
    }
}

TEST(SceneRenderer, RenderWithoutPixelsOnlyMarksTheFrame) {
    SceneRenderer renderer;
    renderer.compose();
    ASSERT_FALSE(renderer.dirty());
    renderer.render();
    EXPECT_TRUE(renderer.dirty());
    EXPECT_EQ(renderer.frameBits(), nullptr);
    EXPECT_FALSE(renderer.dirty());
}

struct RingCase {
    float scale;
    std::int32_t radii[4];
    float rho;
    bool onRing;
};

TEST(SceneRenderer, IsOnRing) {
    // A ring is the band |rho x 1000 - R| x scale < 6.
    const RingCase cases[] = {
        {0.95f, {173, 500, 708, 0}, 0.5f, true},
        {0.95f, {173, 500, 708, 0}, 0.5063f, true}, // 6.3 x 0.95 = 5.985
        {0.95f, {173, 500, 708, 0}, 0.4937f, true},
        {0.95f, {173, 500, 708, 0}, 0.5064f, false}, // 6.4 x 0.95 = 6.08
        {0.95f, {173, 500, 708, 0}, 0.4936f, false},
        {0.95f, {173, 500, 708, 0}, 0.173f, true},
        {0.95f, {173, 500, 708, 0}, 0.708f, true},
        {0.95f, {173, 500, 708, 0}, 0.0f, false},
        {0.95f, {173, 500, 708, 0}, 1.2f, false},
        {10.0f, {17, 35, 87, 0}, 0.0175f, true},  // 0.5 x 10 = 5
        {10.0f, {17, 35, 87, 0}, 0.0177f, false}, // 0.7 x 10 = 7
        {10.0f, {17, 35, 87, 0}, 0.087f, true},
        {10.0f, {17, 35, 87, 0}, 0.5f, false},
        {0.95f, {0, 500, 708, 0}, 0.5f, false}, // the list ends at the first 0
        {0.95f, {173, 0, 500, 0}, 0.5f, false},
        {0.95f, {173, 500, 708, 900}, 0.9f, true},   // a fourth radius is read
        {0.95f, {173, 500, 708, 900}, -0.5f, false}, // |t - R| with t negative
    };
    for (const RingCase& c : cases) {
        SceneRenderer renderer;
        renderer.applyPreset(c.scale, c.radii);
        EXPECT_EQ(renderer.isOnRing(c.rho), c.onRing)
            << "scale " << c.scale << " rho " << c.rho << " first radius " << c.radii[0];
    }
}

// ---------------------------------------------------------------------------------------------
// Sizing

TEST(SceneRenderer, SizesThatHoldNoArrays) {
    const std::int32_t sizes[][2] = {{0, 0}, {0, 300}, {300, 0}, {-1, 300}, {300, -1}, {-4, -5}};
    for (const auto& size : sizes) {
        SceneRenderer renderer;
        renderer.resize(40, 30);
        renderer.frameBits();
        renderer.resize(size[0], size[1]);
        EXPECT_EQ(renderer.width(), 0) << size[0] << "x" << size[1];
        EXPECT_EQ(renderer.height(), 0) << size[0] << "x" << size[1];
        EXPECT_EQ(renderer.scenePixels(), nullptr);
        EXPECT_TRUE(renderer.dirty());
        // Nothing that follows may touch pixels that are not there.
        renderer.applyPreset(kCloseView);
        renderer.setMarker(0.0f, 0.0f, 0x10D010, true);
        renderer.setMarker(0.0f, 0.0f, kMarkColour, false);
        renderer.fillDiamond(0, 0, 16, 0);
        EXPECT_EQ(renderer.frameBits(), nullptr);
        EXPECT_FALSE(renderer.dirty());
    }
}

TEST(SceneRenderer, ReleaseDropsTheArrays) {
    SceneRenderer renderer;
    renderer.resize(30, 20);
    ASSERT_NE(renderer.frameBits(), nullptr);
    renderer.release();
    EXPECT_EQ(renderer.width(), 0);
    EXPECT_EQ(renderer.height(), 0);
    EXPECT_EQ(renderer.scenePixels(), nullptr);
    EXPECT_EQ(renderer.frameBits(), nullptr);
}

TEST(SceneRenderer, ResizeToTheSameSizeRendersAgain) {
    SceneRenderer renderer;
    renderer.resize(60, 50);
    // The construction preset (scale 1.1, no rings) is what resize draws first.
    const std::vector<std::uint32_t> construction = copyScene(renderer);
    renderer.applyPreset(kWideView);
    const std::vector<std::uint32_t> wide = copyScene(renderer);
    EXPECT_NE(construction, wide);
    renderer.frameBits();
    renderer.resize(60, 50);
    EXPECT_EQ(renderer.width(), 60);
    EXPECT_EQ(renderer.height(), 50);
    EXPECT_TRUE(renderer.dirty());
    EXPECT_EQ(copyScene(renderer), wide);
}

// Fails the allocation whose 1-based number is failAt; the others come from malloc.
int allocationCount = 0;
int failAt = 0;
void* failingAllocator(std::size_t bytes) {
    return ++allocationCount == failAt ? nullptr : std::malloc(bytes);
}

TEST(SceneRenderer, FailedAllocationLeavesNoArrays) {
    for (int which : {1, 2}) {
        allocationCount = 0;
        failAt = which;
        SceneRenderer renderer(failingAllocator);
        renderer.resize(50, 40);
        EXPECT_EQ(renderer.width(), 0) << "failing allocation " << which;
        EXPECT_EQ(renderer.height(), 0);
        EXPECT_EQ(renderer.scenePixels(), nullptr);
        renderer.applyPreset(kWideView);
        renderer.setMarker(0.0f, 0.0f, 0x10D010, true);
        renderer.setMarker(0.0f, 0.0f, kMarkColour, false);
        EXPECT_EQ(renderer.frameBits(), nullptr);

        // The next resize starts afresh.
        failAt = 0;
        renderer.resize(50, 40);
        EXPECT_EQ(renderer.width(), 50);
        EXPECT_EQ(renderer.height(), 40);
        EXPECT_NE(renderer.frameBits(), nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Markers and the frame

// One diamond as the reference sees it: pixels with |dcolumn| + |drow| <= n - 1.
struct Diamond {
    std::int32_t column, row, n;
    std::uint32_t colour;
};

struct PlacedMarker {
    std::int32_t column, row, blackN;
    std::uint32_t colour;
};

// The scene with the given diamonds laid over it in order, clipped to the picture.
std::vector<std::uint32_t> expectedFrame(const SceneRenderer& renderer,
                                         const std::vector<Diamond>& diamonds) {
    std::vector<std::uint32_t> frame = copyScene(renderer);
    const std::int32_t w = renderer.width();
    const std::int32_t h = renderer.height();
    for (std::int32_t row = 0; row < h; ++row)
        for (std::int32_t column = 0; column < w; ++column)
            for (const Diamond& d : diamonds)
                if (std::abs(column - d.column) + std::abs(row - d.row) <= d.n - 1)
                    frame[static_cast<std::size_t>(row) * w + column] = d.colour;
    return frame;
}

std::vector<Diamond> markerDiamonds(const std::vector<PlacedMarker>& markers) {
    std::vector<Diamond> diamonds;
    for (const PlacedMarker& m : markers) {
        diamonds.push_back({m.column, m.row, m.blackN, 0});
        diamonds.push_back({m.column, m.row, 12, m.colour});
    }
    return diamonds;
}

// The first differing pixel as "column,row", or "" when the frames agree.
std::string firstDifference(const SceneRenderer& renderer, const std::uint32_t* frame,
                            const std::vector<std::uint32_t>& expected) {
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (frame[i] != expected[i])
            return std::to_string(i % renderer.width()) + "," +
                   std::to_string(i / renderer.width());
    return "";
}

struct MarkerCase {
    const char* name;
    const ViewPreset* preset;
    float x, y;
    std::int32_t column, row; // -1: not drawn
};

class MarkerCentres : public testing::TestWithParam<MarkerCase> {};

TEST_P(MarkerCentres, LiveAndPinned) {
    const MarkerCase& c = GetParam();
    SceneRenderer renderer;
    renderer.resize(300, 300);
    renderer.applyPreset(*c.preset);
    const bool drawn = c.column >= 0;

    renderer.setMarker(c.x, c.y, 0xE0FF40, true);
    std::vector<PlacedMarker> live;
    if (drawn)
        live.push_back({c.column, c.row, 16, 0xE0FF40});
    EXPECT_EQ(firstDifference(renderer, renderer.frameBits(),
                              expectedFrame(renderer, markerDiamonds(live))),
              "")
        << "live";

    // The live marker moved out of the picture, the same position pinned.
    renderer.setMarker(5.0f, 5.0f, 0x10D010, true);
    renderer.setMarker(c.x, c.y, kMarkColour, false);
    std::vector<PlacedMarker> pinned;
    if (drawn)
        pinned.push_back({c.column, c.row, 14, kMarkColour});
    EXPECT_EQ(firstDifference(renderer, renderer.frameBits(),
                              expectedFrame(renderer, markerDiamonds(pinned))),
              "")
        << "pinned";
}

// Wide: k = 150.5 x 0.95 = 142.975; close: k = 1505. Centre = truncate(k x v + 150.5).
INSTANTIATE_TEST_SUITE_P(
    Frame300, MarkerCentres,
    testing::Values(MarkerCase{"WideCentre", &kWideView, 0.0f, 0.0f, 150, 150},
                    MarkerCase{"WideRight", &kWideView, 0.5f, 0.0f, 221, 150},
                    MarkerCase{"WideBelow", &kWideView, 0.0f, -0.5f, 150, 79},
                    MarkerCase{"WideLeftTruncatesToZero", &kWideView, -1.05f, 0.0f, -1, -1},
                    MarkerCase{"WideRightAtWidth", &kWideView, 1.05f, 0.0f, -1, -1},
                    MarkerCase{"WideBelowRowZero", &kWideView, 0.0f, -1.05f, -1, -1},
                    MarkerCase{"WideLastColumnAndRow", &kWideView, 1.0421f, 1.0421f, 299, 299},
                    MarkerCase{"WideFirstColumnAndRow", &kWideView, -1.0421f, -1.0421f, 1, 1},
                    MarkerCase{"WideNaN", &kWideView, std::numeric_limits<float>::quiet_NaN(), 0.0f,
                               -1, -1},
                    MarkerCase{"WideHuge", &kWideView, 1e30f, -1e30f, -1, -1},
                    MarkerCase{"CloseOffCentre", &kCloseView, 0.01f, 0.02f, 165, 180},
                    MarkerCase{"CloseLeftTruncatesToZero", &kCloseView, -0.0995f, 0.0f, -1, -1},
                    MarkerCase{"ClosePastTheCorner", &kCloseView, 0.1f, 0.1f, -1, -1}),
    [](const testing::TestParamInfo<MarkerCase>& p) { return p.param.name; });

TEST(SceneRenderer, LiveMarkerAtColumnFiveIsClipped) {
    SceneRenderer renderer;
    renderer.resize(300, 300);
    renderer.applyPreset(kWideView);
    renderer.setMarker(-1.0142f, 0.0f, 0x10D010, true); // 142.975 x -1.0142 + 150.5 = 5.49
    const std::uint32_t* frame = renderer.frameBits();
    const std::uint32_t* row = frame + 150 * 300;
    for (std::int32_t column = 0; column <= 16; ++column)
        EXPECT_EQ(row[column], 0x10D010u) << column;
    for (std::int32_t column = 17; column <= 20; ++column)
        EXPECT_EQ(row[column], 0u) << column;
    EXPECT_EQ(row[21], renderer.scenePixels()[150 * 300 + 21]);
    EXPECT_EQ(firstDifference(renderer, frame,
                              expectedFrame(renderer, markerDiamonds({{5, 150, 16, 0x10D010}}))),
              "");
}

TEST(SceneRenderer, LiveMarkerPixelCounts) {
    struct Case {
        std::uint32_t colour;
        std::int32_t black, coloured;
    };
    // Construction state: colour 0, an all-black diamond of n = 16 at the centre.
    for (const Case& c : {Case{0, 481, 0}, Case{0x10D010, 216, 265}}) {
        SceneRenderer renderer;
        renderer.resize(300, 300);
        renderer.applyPreset(kWideView);
        if (c.colour != 0)
            renderer.setMarker(0.0f, 0.0f, c.colour, true);
        const std::uint32_t* frame = renderer.frameBits();
        const std::uint32_t* scene = renderer.scenePixels();
        std::int32_t black = 0;
        std::int32_t coloured = 0;
        for (std::size_t i = 0; i < 300u * 300u; ++i) {
            if (frame[i] == scene[i])
                continue;
            black += frame[i] == 0;
            coloured += c.colour != 0 && frame[i] == c.colour;
        }
        EXPECT_EQ(black, c.black) << std::hex << c.colour;
        EXPECT_EQ(coloured, c.coloured) << std::hex << c.colour;
    }
}

TEST(SceneRenderer, LiveMarkerIsDrawnOverThePinnedOne) {
    SceneRenderer renderer;
    renderer.resize(200, 160);
    renderer.applyPreset(kWideView);
    // k = 80.5 x 0.95 = 76.475: (0.1, 0.05) -> column 108, row 84; (0.2, 0) -> 115, 80.
    renderer.setMarker(0.1f, 0.05f, kMarkColour, false);
    renderer.setMarker(0.2f, 0.0f, 0xE0FF40, true);
    EXPECT_EQ(firstDifference(renderer, renderer.frameBits(),
                              expectedFrame(renderer, markerDiamonds({{108, 84, 14, kMarkColour},
                                                                      {115, 80, 16, 0xE0FF40}}))),
              "");
}

TEST(SceneRenderer, PinnedMarkerWithColourZeroIsNeverDrawn) {
    SceneRenderer renderer;
    renderer.resize(200, 160);
    renderer.applyPreset(kWideView);
    renderer.setMarker(5.0f, 5.0f, 0x10D010, true);
    for (float x : {0.0f, 0.3f, -0.5f}) {
        renderer.setMarker(x, 0.1f, 0, false);
        EXPECT_EQ(firstDifference(renderer, renderer.frameBits(), copyScene(renderer)), "") << x;
    }
}

TEST(SceneRenderer, FillDiamondClipsToThePicture) {
    const Diamond cases[] = {
        {10, 7, 5, 0xFF0000},   {0, 0, 6, 0x00FF00},  {-3, 7, 6, 0x0000FF},  {-6, 7, 6, 0x123456},
        {21, 7, 4, 0xABCDEF},   {24, 7, 4, 0xABCDEF}, {10, -2, 5, 0x111111}, {10, 16, 5, 0x222222},
        {19, 14, 16, 0x333333}, {10, 7, 1, 0x444444}, {10, 7, 0, 0x555555},  {10, 7, 40, 0x666666},
    };
    for (const Diamond& d : cases) {
        SceneRenderer renderer;
        renderer.resize(20, 15);
        renderer.setMarker(50.0f, 50.0f, 0, true); // keep the live marker out of the way
        renderer.compose();
        renderer.fillDiamond(d.column, d.row, d.n, d.colour);
        // Clean frame: frameBits hands over what fillDiamond left, without recomposing.
        EXPECT_EQ(firstDifference(renderer, renderer.frameBits(), expectedFrame(renderer, {d})), "")
            << "centre " << d.column << "," << d.row << " n " << d.n;
    }
}

TEST(SceneRenderer, DirtyFollowsEveryChange) {
    SceneRenderer renderer;
    struct Step {
        const char* what;
        void (*apply)(SceneRenderer&);
        bool dirty;
    };
    const Step steps[] = {
        {"construction", [](SceneRenderer&) {}, true},
        {"resize", [](SceneRenderer& r) { r.resize(40, 30); }, true},
        {"frameBits", [](SceneRenderer& r) { r.frameBits(); }, false},
        {"frameBits again", [](SceneRenderer& r) { r.frameBits(); }, false},
        {"setMarker live", [](SceneRenderer& r) { r.setMarker(0.1f, 0.0f, 1, true); }, true},
        {"compose", [](SceneRenderer& r) { r.compose(); }, false},
        {"setMarker pinned", [](SceneRenderer& r) { r.setMarker(0.1f, 0.0f, 1, false); }, true},
        {"frameBits", [](SceneRenderer& r) { r.frameBits(); }, false},
        {"render", [](SceneRenderer& r) { r.render(); }, true},
        {"frameBits", [](SceneRenderer& r) { r.frameBits(); }, false},
        {"applyPreset", [](SceneRenderer& r) { r.applyPreset(kCloseView); }, true},
        {"compose", [](SceneRenderer& r) { r.compose(); }, false},
        {"fillDiamond", [](SceneRenderer& r) { r.fillDiamond(3, 3, 2, 7); }, false},
        {"resize same size", [](SceneRenderer& r) { r.resize(40, 30); }, true},
        {"frameBits", [](SceneRenderer& r) { r.frameBits(); }, false},
        {"release", [](SceneRenderer& r) { r.release(); }, true},
    };
    for (const Step& step : steps) {
        step.apply(renderer);
        EXPECT_EQ(renderer.dirty(), step.dirty) << "after " << step.what;
    }
}

TEST(SceneRenderer, FrameIsRecomposedOnlyWhenSomethingChanged) {
    SceneRenderer renderer;
    renderer.resize(200, 160);
    renderer.applyPreset(kWideView);
    renderer.setMarker(5.0f, 5.0f, 0x10D010, true);
    const std::uint32_t* frame = renderer.frameBits();
    // A stray pixel that only a recompose would remove.
    renderer.fillDiamond(20, 20, 1, 0xABCDEF);
    EXPECT_EQ(renderer.frameBits(), frame);
    EXPECT_EQ(frame[20 * 200 + 20], 0xABCDEFu);

    // Two positions before the next paint: one compose, showing only the later one.
    renderer.setMarker(0.1f, 0.05f, 0x10D010, true); // column 108, row 84
    renderer.setMarker(0.2f, 0.0f, 0x10D010, true);  // column 115, row 80
    EXPECT_EQ(renderer.frameBits(), frame);
    EXPECT_EQ(firstDifference(renderer, frame,
                              expectedFrame(renderer, markerDiamonds({{115, 80, 16, 0x10D010}}))),
              "");
}

} // namespace
} // namespace orvane
