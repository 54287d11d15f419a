#include "sensor/frame_decoder.h"

namespace orvane {

void FrameDecoder::put(const ByteBuffer& block) {
    const std::uint8_t* p = block.data;
    const std::uint8_t* const end = p + block.length;
    // A loop rather than re-entering put() for the rest of the block: same order, bounded stack.
    while (p != end) {
        if (!inFrame) {
            const std::uint8_t b = *p++;
            if (b == kSampleType || b == kReferenceType) {
                frameBytes[0] = b;
                bodyCount = 0;
                inFrame = true;
            } else if (b == kReplyE) {
                frameBytes[0] = b;
                deliver(ByteBuffer(frameBytes, 1));
                inFrame = true;
            }
            continue;
        }
        // Body bytes are data: a type byte inside a body never restarts the frame.
        while (bodyCount < kFrameBody && p != end) {
            const std::uint8_t b = *p++;
            byteSum = static_cast<std::uint8_t>(byteSum + b);
            ++bodyCount;
            frameBytes[bodyCount] = b;
        }
        if (bodyCount < kFrameBody)
            return; // the rest of the frame comes with the next block
        if (byteSum == kBodySum)
            emitFrame();
        clearFrameState();
    }
}

bool FrameDecoder::reset() {
    clearFrameState();
    return LinkedStage::reset();
}

void FrameDecoder::signalDone(std::int32_t value) {
    if (upstream)
        upstream->signalDone(value);
}

void FrameDecoder::clearFrameState() {
    inFrame = false;
    bodyCount = 0;
    byteSum = 0;
}

void FrameDecoder::emitFrame() {
    deliver(ByteBuffer(frameBytes, kFrameSize));
}

void FrameDecoder::deliver(const ByteBuffer& block) {
    applyPendingDownstream();
    if (!downstream)
        return;
    downstream->put(block);
    applyPendingDownstream();
}

} // namespace orvane
