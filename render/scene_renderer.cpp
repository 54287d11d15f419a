#include "render/scene_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace orvane {
namespace {

void* mallocPixels(std::size_t bytes) {
    return std::malloc(bytes);
}

// The ring test in single precision throughout: t is stored as a float and |t - R| x scale is
// float arithmetic, so a pixel lands on the same side of a ring edge on every build.
bool onRing(float rho, const std::int32_t radii[4], float scale) {
    const float t = rho * 1000.0f;
    for (int i = 0; i < 4; ++i) {
        const std::int32_t ring = radii[i];
        if (ring == 0)
            return false;
        const float distance = std::fabs(t - static_cast<float>(ring));
        const float weighted = distance * scale;
        if (weighted < 6.0f)
            return true;
    }
    return false;
}

// Centre column (or row) of a marker: truncate(k x v + centre) in single precision, admitted
// when 0 < cell < limit. Testing the float before truncating answers the same for every
// position inside the picture and keeps huge or NaN positions away from the int conversion.
bool markerCell(float k, float v, float centre, std::int32_t limit, std::int32_t& cell) {
    const float offset = k * v;
    const float at = offset + centre;
    if (!(at >= 1.0f && static_cast<double>(at) < static_cast<double>(limit)))
        return false;
    cell = static_cast<std::int32_t>(at);
    return true;
}

// Squared view distances outside which no ring can claim a pixel, so the exact ring test,
// with its square root, runs only near a ring. The bands are widened by 1e-4 of their edges,
// far more than the few float roundings between a squared distance and the ring test.
struct RingBands {
    bool usable = false; // false: run the exact test for every pixel
    int count = 0;
    double low[4] = {};
    double high[4] = {};

    RingBands(const std::int32_t radii[4], float scale) {
        if (!(std::isfinite(scale) && scale > 0.0f))
            return;
        const double halfWidth = 6.0 / static_cast<double>(scale); // thousandths
        for (; count < 4 && radii[count] != 0; ++count) {
            if (radii[count] < 0)
                return;
            const double lowEdge =
                std::max(0.0, (radii[count] - halfWidth) * (1.0 - 1e-4) / 1000.0);
            const double highEdge = (radii[count] + halfWidth) * (1.0 + 1e-4) / 1000.0;
            low[count] = lowEdge * lowEdge;
            high[count] = highEdge * highEdge;
        }
        usable = true;
    }

    bool near(float rho2) const {
        if (!usable)
            return true;
        const double at = rho2;
        for (int i = 0; i < count; ++i)
            if (at >= low[i] && at <= high[i])
                return true;
        return false;
    }
};

// Below this q the grey is certainly capped at 255: at q = 0.3163 it computes to 255.006, and
// it only grows as q falls. Skips the square root for the white middle of the disc.
constexpr float kWhiteBelow = 0.3163f;

} // namespace

SceneRenderer::SceneRenderer() : SceneRenderer(mallocPixels) {}

SceneRenderer::SceneRenderer(PixelAllocator allocate) : allocate_(allocate) {}

SceneRenderer::~SceneRenderer() {
    freeArrays();
}

void SceneRenderer::freeArrays() {
    std::free(state_.scenePixels);
    std::free(state_.framePixels);
    state_.scenePixels = nullptr;
    state_.framePixels = nullptr;
}

void SceneRenderer::resize(std::int32_t newWidth, std::int32_t newHeight) {
    std::lock_guard<std::mutex> lock(mutex_);
    State& s = state_;
    freeArrays();
    s.width = 0;
    s.height = 0;
    s.dirty = true;
    // A negative size holds nothing, like a zero area: there is no picture to draw into.
    if (newWidth <= 0 || newHeight <= 0)
        return;
    const std::size_t w = static_cast<std::size_t>(newWidth);
    const std::size_t h = static_cast<std::size_t>(newHeight);
    // A byte count that does not fit size_t is an allocation that cannot succeed.
    if (w > std::numeric_limits<std::size_t>::max() / sizeof(std::uint32_t) / h)
        return;
    const std::size_t bytes = w * h * sizeof(std::uint32_t);
    s.scenePixels = static_cast<std::uint32_t*>(allocate_(bytes));
    if (s.scenePixels != nullptr)
        s.framePixels = static_cast<std::uint32_t*>(allocate_(bytes));
    if (s.framePixels == nullptr) {
        // Hold neither array, so nothing later can mistake a lone scene for a usable pair.
        freeArrays();
        return;
    }
    s.height = newHeight;
    s.width = newWidth;
    std::memset(s.scenePixels, 0, bytes);
    std::memset(s.framePixels, 0, bytes);
    renderLocked();
}

void SceneRenderer::applyPreset(float newScale, const std::int32_t radii[4]) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.scale = newScale;
    std::copy(radii, radii + 4, state_.ringRadii);
    renderLocked();
}

void SceneRenderer::render() {
    std::lock_guard<std::mutex> lock(mutex_);
    renderLocked();
}

// Precision: the centre, the pixel sizes r and s, the offsets dx, dy, the view and disc
// coordinates, q and the ring distance are all single precision, every step rounded to float
// (the library's build asks for SSE2 arithmetic on 32-bit x86 so that this holds there too).
// The threshold 0.99999999 and the shading constants are double, so the disc test compares
// the float q with the double threshold (q >= 1 in effect) and the grey level is evaluated in
// double from the float q; the darkening L x 0.4 is double too.
void SceneRenderer::renderLocked() {
    State& s = state_;
    s.dirty = true;
    const float cx = static_cast<float>(std::int64_t{s.width} + 1) * 0.5f;
    const float cy = static_cast<float>(std::int64_t{s.height} + 1) * 0.5f;
    const float viewPixels = cy * s.scale;
    const float r = 1.0f / viewPixels;
    const float discPixels = cy * std::min(s.scale, s.shadeScaleLimit);
    const float sd = 1.0f / discPixels;
    if (s.height == 0)
        return;
    const std::int32_t hw = s.width / 2;
    const std::int32_t hh = s.height / 2;
    std::int32_t radii[4];
    std::copy(s.ringRadii, s.ringRadii + 4, radii);
    const float scale = s.scale;
    const RingBands bands(radii, scale);

    // Memory order is bottom row first, leftmost pixel first, while both counters run
    // downwards: the crosshair of an odd-sized picture sits where these counters put it.
    std::uint32_t* pixel = s.scenePixels;
    for (std::int32_t y = s.height; y >= 1; --y) {
        const float dy = static_cast<float>(y) - cy;
        const float ny = dy * r;
        const float sy = dy * sd;
        const float ny2 = ny * ny;
        const float sy2 = sy * sy;
        const bool crossRow = y == hh || y == hh + 1;
        for (std::int32_t x = s.width; x >= 1; --x, ++pixel) {
            const float dx = static_cast<float>(x) - cx;
            const float nx = dx * r;
            const float sx = dx * sd;
            const float sx2 = sx * sx;
            const float q = sx2 + sy2;
            if (static_cast<double>(q) > 0.99999999) {
                *pixel = 0;
                continue;
            }
            std::int32_t level = 255;
            if (q >= kWhiteBelow) {
                const double lift = std::sqrt(1.0 - static_cast<double>(q));
                level = std::min(static_cast<std::int32_t>((lift * 0.6 + 0.5) * 256.0), 255);
            }
            bool darken = crossRow || x == hw || x == hw + 1;
            if (!darken) {
                const float nx2 = nx * nx;
                const float rho2 = nx2 + ny2;
                darken = bands.near(rho2) && onRing(std::sqrt(rho2), radii, scale);
            }
            if (darken)
                level = static_cast<std::int32_t>(level * 0.4);
            *pixel = static_cast<std::uint32_t>(level) * 0x010101u;
        }
    }
}

bool SceneRenderer::isOnRing(float rho) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return onRing(rho, state_.ringRadii, state_.scale);
}

void SceneRenderer::setMarker(float x, float y, std::uint32_t colour, bool live) {
    std::lock_guard<std::mutex> lock(mutex_);
    ViewMarker& marker = live ? state_.liveMarker : state_.pinnedMarker;
    marker = ViewMarker{x, y, colour};
    state_.dirty = true;
}

void SceneRenderer::compose() {
    std::lock_guard<std::mutex> lock(mutex_);
    composeLocked();
}

void SceneRenderer::composeLocked() {
    State& s = state_;
    const std::size_t count =
        static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height);
    if (count != 0)
        std::memcpy(s.framePixels, s.scenePixels, count * sizeof(std::uint32_t));
    const float cx = static_cast<float>(std::int64_t{s.width} + 1) * 0.5f;
    const float cy = static_cast<float>(std::int64_t{s.height} + 1) * 0.5f;
    const float k = cy * s.scale;
    std::int32_t c = 0;
    std::int32_t r = 0;
    const ViewMarker& pinned = s.pinnedMarker;
    if (pinned.colour != 0 && markerCell(k, pinned.x, cx, s.width, c) &&
        markerCell(k, pinned.y, cy, s.height, r)) {
        fillDiamondLocked(c, r, 14, 0);
        fillDiamondLocked(c, r, 12, pinned.colour);
    }
    // The live marker goes on last, over the pinned one where they overlap.
    const ViewMarker& live = s.liveMarker;
    if (markerCell(k, live.x, cx, s.width, c) && markerCell(k, live.y, cy, s.height, r)) {
        fillDiamondLocked(c, r, 16, 0);
        fillDiamondLocked(c, r, 12, live.colour);
    }
    s.dirty = false;
}

bool SceneRenderer::wouldClip(float x, float y) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const State& s = state_;
    if (s.framePixels == nullptr)
        return false;
    // The same test compose makes before it draws a marker.
    const float cx = static_cast<float>(std::int64_t{s.width} + 1) * 0.5f;
    const float cy = static_cast<float>(std::int64_t{s.height} + 1) * 0.5f;
    const float k = cy * s.scale;
    std::int32_t c = 0;
    std::int32_t r = 0;
    return !(markerCell(k, x, cx, s.width, c) && markerCell(k, y, cy, s.height, r));
}

const std::uint32_t* SceneRenderer::frameBits() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.dirty)
        composeLocked();
    return state_.framePixels;
}

void SceneRenderer::fillDiamond(std::int32_t column, std::int32_t row, std::int32_t n,
                                std::uint32_t colour) {
    std::lock_guard<std::mutex> lock(mutex_);
    fillDiamondLocked(column, row, n, colour);
}

void SceneRenderer::fillDiamondLocked(std::int32_t column, std::int32_t row, std::int32_t n,
                                      std::uint32_t colour) {
    const State& s = state_;
    if (s.framePixels == nullptr)
        return;
    // 64-bit so that no centre or size a caller passes can overflow the span arithmetic.
    const std::int64_t c = column;
    const std::int64_t r = row;
    const std::int64_t w = s.width;
    const std::int64_t h = s.height;
    const std::int64_t reach = static_cast<std::int64_t>(n) - 1;
    for (std::int64_t i = 0; i <= reach; ++i) {
        if (c + i < 0 || c - i >= w)
            continue;
        const std::int64_t first = std::max<std::int64_t>(c - i, 0);
        const std::int64_t last = std::min<std::int64_t>(c + i, w - 1);
        const std::int64_t upper = r - reach + i;
        const std::int64_t lower = r + reach - i;
        if (upper >= 0 && upper < h)
            std::fill(s.framePixels + upper * w + first, s.framePixels + upper * w + last + 1,
                      colour);
        if (lower != upper && lower >= 0 && lower < h)
            std::fill(s.framePixels + lower * w + first, s.framePixels + lower * w + last + 1,
                      colour);
    }
}

std::int32_t SceneRenderer::width() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.width;
}

std::int32_t SceneRenderer::height() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.height;
}

const std::uint32_t* SceneRenderer::scenePixels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.scenePixels;
}

ViewMarker SceneRenderer::liveMarker() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.liveMarker;
}

ViewMarker SceneRenderer::pinnedMarker() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.pinnedMarker;
}

std::array<std::int32_t, 4> SceneRenderer::ringRadii() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {state_.ringRadii[0], state_.ringRadii[1], state_.ringRadii[2], state_.ringRadii[3]};
}

float SceneRenderer::scale() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.scale;
}

float SceneRenderer::shadeScaleLimit() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.shadeScaleLimit;
}

bool SceneRenderer::dirty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.dirty;
}

} // namespace orvane
