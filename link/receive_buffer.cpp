#include "link/receive_buffer.h"

#include <algorithm>

namespace orvane {

void ReceiveBuffer::put(const ByteBuffer& block) {
    const std::uint32_t room = kStoreLimit - std::min(kStoreLimit, length);
    append(block.data, std::min(block.length, room));
    applyPendingDownstream();
    if (downstream)
        downstream->put(block);
    applyPendingDownstream();
}

bool ReceiveBuffer::reset() {
    cursor = begin;
    length = 0;
    return LinkedStage::reset();
}

void ReceiveBuffer::signalDone(std::int32_t value) {
    if (upstream)
        upstream->signalDone(value);
}

} // namespace orvane
