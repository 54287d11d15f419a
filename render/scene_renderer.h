#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace orvane {

// A marker in view units (g of horizontal acceleration) with its pixel colour 0x00RRGGBB.
struct ViewMarker {
    float x;
    float y;
    std::uint32_t colour;
};

// A zoom preset: pixels per view unit are scale x (height + 1) / 2; ring radii in thousandths
// of a view unit, the list ending at the first 0.
struct ViewPreset {
    float scale;
    std::int32_t radii[4];
};

// The two presets the acquisition loop switches between; defined here and nowhere else.
inline constexpr ViewPreset kWideView{0.95f, {173, 500, 708, 0}};
inline constexpr ViewPreset kCloseView{10.0f, {17, 35, 87, 0}};

// Colour of the marker the user pins with "mark".
inline constexpr std::uint32_t kMarkColour = 0x0010E0;

// The two pixel arrays of a SceneRenderer. Both are held (each width x height pixels
// 0x00RRGGBB, rows bottom-up with no gap) or neither is and both sizes are 0.
struct PixelBuffer {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t* scenePixels = nullptr; // owned; the rendered scene
    std::uint32_t* framePixels = nullptr; // owned; scene plus markers, handed to painting
};

// The shaded hemisphere with its tilt rings and crosshair, cached in scenePixels, and the
// live and pinned markers laid over a copy of it in framePixels.
//
// Threads: one mutex serialises everything that touches the scene, the markers and the
// preset, so the worker may render, apply presets and set markers while the painting thread
// composes. The contract that lets the painter blit without holding the lock:
//   - compose, frameBits and fillDiamond write framePixels; call them from the painting
//     thread only. The pixels frameBits returns therefore stay unchanged until that thread
//     calls one of them again.
//   - resize and release free the arrays; call them only while no other thread uses the
//     renderer (before the worker starts, after it has stopped).
class SceneRenderer {
public:
    // Obtains one pixel array that std::free releases, or null. A seam so the failure path of
    // resize can be exercised; the default is std::malloc.
    using PixelAllocator = void* (*)(std::size_t bytes);

    SceneRenderer();
    explicit SceneRenderer(PixelAllocator allocate);
    ~SceneRenderer();
    SceneRenderer(const SceneRenderer&) = delete;
    SceneRenderer& operator=(const SceneRenderer&) = delete;

    // Drops both arrays; for a positive size allocates, clears and renders new ones. When an
    // allocation fails no array is held and both sizes stay 0.
    void resize(std::int32_t newWidth, std::int32_t newHeight);
    void release() { resize(0, 0); }

    // Stores the zoom and the four ring radii, then renders, all under one lock.
    void applyPreset(float newScale, const std::int32_t radii[4]);
    void applyPreset(const ViewPreset& preset) { applyPreset(preset.scale, preset.radii); }

    // Redraws scenePixels from the size, zoom and rings; marks the frame out of date.
    void render();

    // Whether a marker at (x, y) view units would fall outside the picture at the current zoom,
    // and so not be drawn. False while no arrays are held: there is no picture to fall out of.
    bool wouldClip(float x, float y) const;

    // Whether a point rho view units from the centre lies on one of the rings.
    bool isOnRing(float rho) const;

    // Stores a marker (live, or the pinned one) and marks the frame out of date; draws nothing.
    void setMarker(float x, float y, std::uint32_t colour, bool live);

    // Painting thread only (see above): rebuilds framePixels from the scene and the markers.
    void compose();

    // Painting thread only: the frame pixels, recomposed first when out of date; null while
    // no arrays are held.
    const std::uint32_t* frameBits();

    // Painting thread only: fills the pixels with |dcolumn| + |drow| <= n - 1 around
    // (column, row) in framePixels, clipped to the picture.
    void fillDiamond(std::int32_t column, std::int32_t row, std::int32_t n, std::uint32_t colour);

    // Snapshots, each read under the lock.
    std::int32_t width() const;
    std::int32_t height() const;
    // The cached scene; render rewrites it, so read it only where no render can run.
    const std::uint32_t* scenePixels() const;
    ViewMarker liveMarker() const;
    ViewMarker pinnedMarker() const;
    std::array<std::int32_t, 4> ringRadii() const;
    float scale() const;
    float shadeScaleLimit() const;
    bool dirty() const;

private:
    struct State : PixelBuffer {
        ViewMarker liveMarker{0.0f, 0.0f, 0};
        ViewMarker pinnedMarker{0.0f, 0.0f, 0}; // colour 0: none pinned
        std::int32_t ringRadii[4] = {0, 0, 0, 0};
        float scale = 1.1f;
        float shadeScaleLimit = 1.3333f;
        bool dirty = true; // framePixels must be recomposed before painting
    };

    void freeArrays();
    void renderLocked();
    void composeLocked();
    void fillDiamondLocked(std::int32_t column, std::int32_t row, std::int32_t n,
                           std::uint32_t colour);

    PixelAllocator allocate_;
    mutable std::mutex mutex_; // guards state_
    State state_;
};

} // namespace orvane
