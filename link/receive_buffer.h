#pragma once

#include "link/grow_buffer.h"
#include "link/stage.h"

#include <cstdint>

namespace orvane {

// A pass-through stage between a link's source and its consumer that also keeps a copy of the
// bytes received since the last reset, for the receive trace. Forwards blocks, resets and done
// reports unchanged.
class ReceiveBuffer : public GrowBuffer, public LinkedStage {
public:
    // The copy stops growing here; later bytes of the same exchange still pass through. Endless
    // noise thus costs a bounded amount of memory.
    static constexpr std::uint32_t kStoreLimit = 64 * 1024;

    void put(const ByteBuffer& block) override;
    // Empties the store, then resets the stages below.
    bool reset() override;
    void signalDone(std::int32_t value) override;
    // The program's one ReceiveBuffer is static: re-wiring the chain must never delete it.
    bool deleteOnDetach() override { return false; }
};

} // namespace orvane
