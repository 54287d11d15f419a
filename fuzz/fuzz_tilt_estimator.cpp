// Feeds arbitrary bytes through a FrameDecoder into a TiltEstimator in pieces whose sizes come
// from the input itself. Input layout:
//   byte 0: bits 0-5 pick the view angle, (value - 32) x 22.5 degrees; bit 6 puts the blocks
//           straight into the estimator (no decoder) so it sees blocks of any length; bit 7
//           resets the decoder between blocks, as the start of every exchange does;
//   byte 1: the number of cut lengths that follow (0 to 15); then those lengths; the rest is the
//           stream, and the last block takes whatever the cuts left over.
//
// Aborts when tiltVector, offAxisMeasure or the readout angles are ever not finite, and when the
// same stream put whole through a decoder ends in a different state: where the cuts fall must
// never matter.
#include "sensor/frame_decoder.h"
#include "sensor/tilt_estimator.h"
#include "sensor/tilt_readout.h"
#include "sensor/view_rotation.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using orvane::ByteBuffer;
using orvane::TiltEstimator;

void checkFinite(const TiltEstimator& estimator) {
    for (const float t : estimator.tiltVector) {
        if (!std::isfinite(t))
            std::abort();
    }
    if (!std::isfinite(estimator.offAxisMeasure))
        std::abort();
    const orvane::TiltReadout r = orvane::readTilt(estimator.tiltVector, estimator.offAxisMeasure);
    if (!std::isfinite(r.angleX) || !std::isfinite(r.angleY) || !std::isfinite(r.u) ||
        !std::isfinite(r.totalTilt))
        std::abort();
}

bool sameState(const TiltEstimator& a, const TiltEstimator& b) {
    return a.sampleCount == b.sampleCount && a.referenceTaken == b.referenceTaken &&
           a.eFrameSeen == b.eFrameSeen &&
           a.ringCursor - a.ringBegin == b.ringCursor - b.ringBegin &&
           std::memcmp(a.tiltVector, b.tiltVector, sizeof a.tiltVector) == 0 &&
           std::memcmp(&a.offAxisMeasure, &b.offAxisMeasure, sizeof a.offAxisMeasure) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint8_t flags = data[0];
    const float viewAngle = static_cast<float>((flags & 0x3F) - 32) * 22.5f;
    const bool direct = (flags & 0x40) != 0;
    const bool resetBetween = (flags & 0x80) != 0;
    std::size_t cuts = data[1] % 16;
    if (cuts > size - 2)
        cuts = size - 2;
    const std::uint8_t* const cutLengths = data + 2;
    const std::uint8_t* const stream = data + 2 + cuts;
    const std::size_t streamSize = size - 2 - cuts;

    orvane::FrameDecoder decoder;
    TiltEstimator estimator;
    estimator.setViewRotation(orvane::viewRotationForAngle(viewAngle));
    decoder.setDownstream(&estimator);

    auto putBlock = [&](const std::uint8_t* bytes, std::size_t n) {
        // An allocation of exactly the block's length, so reading past it is caught.
        const std::vector<std::uint8_t> block(bytes, bytes + n);
        const ByteBuffer buffer(block.data(), static_cast<std::uint32_t>(n));
        if (direct)
            estimator.put(buffer);
        else
            decoder.put(buffer);
        checkFinite(estimator);
    };

    std::size_t at = 0;
    for (std::size_t k = 0; k < cuts; ++k) {
        const std::size_t n = cutLengths[k] < streamSize - at ? cutLengths[k] : streamSize - at;
        putBlock(stream + at, n);
        at += n;
        if (resetBetween)
            decoder.reset();
    }
    putBlock(stream + at, streamSize - at);

    if (!direct && !resetBetween) {
        orvane::FrameDecoder wholeDecoder;
        TiltEstimator whole;
        whole.setViewRotation(orvane::viewRotationForAngle(viewAngle));
        wholeDecoder.setDownstream(&whole);
        wholeDecoder.put(ByteBuffer(stream, static_cast<std::uint32_t>(streamSize)));
        if (!sameState(estimator, whole))
            std::abort();
    }
    return 0;
}
