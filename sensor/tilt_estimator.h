#pragma once

#include "link/stage.h"
#include "sensor/fir_coefficients.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace orvane {

// One acceleration sample in g, components in frame order; c1 points along the tower.
struct AccelSample {
    float c0, c1, c2;
};

// Unit quaternion (w, x, y, z), x y z along c0 c1 c2. q turns v into q v q-conjugate.
struct Quaternion {
    float w, x, y, z;
};

// Last stage of the receive chain: turns sensor frames into a low-pass filtered direction of
// gravity, expressed relative to the first reference frame and turned by the view rotation.
//
// Everything except the view rotation belongs to the thread that calls put(); the view rotation
// may be set from any thread while put() runs.
class TiltEstimator : public LinkedStage {
public:
    TiltEstimator();
    // The ring pointers point into the object itself.
    TiltEstimator(const TiltEstimator&) = delete;
    TiltEstimator& operator=(const TiltEstimator&) = delete;

    // Takes the 1-byte "e" reply or an 8-byte frame; bytes past the eighth are not looked at.
    // Any other block shorter than a frame is ignored.
    void put(const ByteBuffer& block) override;
    // Static storage in the program: never deleted by an upstream stage.
    bool deleteOnDetach() override { return false; }
    void signalDone(std::int32_t value) override;

    // Shortest rotation carrying the unit vector v onto (0, 1, 0).
    static Quaternion rotationToAxis1(const float v[3]);
    // Filters the ring, normalises, turns by the reference and view rotations into tiltVector.
    void correctFilteredVector();
    // 1000 x (P^2 + Q^2) for the two components across the dominant axis of t; 0 when both are
    // 0.001 or less.
    static float measureOffAxis(const float t[3]);

    // Safe from any thread; readers always see one whole rotation, old or new.
    void setViewRotation(const Quaternion& rotation);
    Quaternion viewRotation() const;

    AccelSample* ringBegin;
    AccelSample* ringEnd;
    // Next slot to write; once the ring has filled, the oldest sample.
    AccelSample* ringCursor;
    const double* coefficients;
    AccelSample ring[kFirTaps] = {};
    // Accepted measurement samples since construction (the reference is not one).
    std::uint32_t sampleCount = 0;
    bool referenceTaken = false;
    // Cleared only by the owner of the estimator.
    bool eFrameSeen = false;
    // Unit length once the reference is taken; the raw filter output in g before.
    float tiltVector[3] = {};
    float referenceVector[3] = {};
    Quaternion referenceRotation = {};
    // 1000 x the sum of the squares of the two components across the dominant axis.
    float offAxisMeasure = 0;

private:
    // F_j = sum of tap_i * ring[(cursor + i) mod 119]_j, accumulated in tap order in double.
    void filter(float out[3]) const;

    // The ring again, laid out for the filter: every sample is stored twice, at its slot and 119
    // slots on, so the window from the oldest sample on is contiguous. Components are widened to
    // double once on the way in (exactly) and padded to four, so that two double lanes take them
    // side by side, each still summed in tap order.
    struct alignas(16) FilterSlot {
        double c[4];
    };
    FilterSlot filterWindow_[2 * kFirTaps] = {};

    // The view rotation as a sequence lock: an odd sequence means a write is in progress.
    // The components are atomics so that a reader racing a writer is defined behaviour; it
    // retries until it has read all four between two equal, even sequence values.
    std::atomic<std::uint32_t> viewSequence_{0};
    std::atomic<float> viewW_{1.0f};
    std::atomic<float> viewX_{0.0f};
    std::atomic<float> viewY_{0.0f};
    std::atomic<float> viewZ_{0.0f};
    std::mutex viewWriters_; //!< serialises setViewRotation callers; readers never take it
};

} // namespace orvane
