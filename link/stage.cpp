#include "link/stage.h"

#include <cstring>

namespace orvane {

ByteBuffer::ByteBuffer(const char* text)
    : data(reinterpret_cast<const std::uint8_t*>(text)),
      length(text ? static_cast<std::uint32_t>(std::strlen(text)) : 0) {}

bool LinkedStage::reset() {
    return downstream ? downstream->reset() : true;
}

void LinkedStage::applyPendingDownstream() {
    if (pendingDownstream == downstream)
        return;
    if (downstream && downstream->deleteOnDetach())
        delete downstream;
    downstream = pendingDownstream;
    if (downstream) {
        downstream->setUpstream(this);
        downstream->reset();
    }
}

bool DoneLatch::reset() {
    done = false;
    return true;
}

void DoneLatch::signalDone(std::int32_t value) {
    if (value == 0 || value == 1)
        done = value == 1;
}

} // namespace orvane
