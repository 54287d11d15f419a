#pragma once

#include "link/byte_buffer.h"

#include <cstdint>

namespace orvane {

class LinkedStage;

// One element of a receive chain. Blocks flow downstream through put(); completion reports
// (signalDone with 1 = a complete reply was recognised) climb back towards the head.
// Always inherited virtually, so an object assembled from partial stages has exactly one.
class Stage {
public:
    virtual ~Stage() = default;
    // The block is valid only during the call.
    virtual void put(const ByteBuffer& block) = 0;
    // Prepares for a new exchange; as a rule also resets the stages below.
    virtual bool reset() { return true; }
    // Whether an upstream LinkedStage must delete this stage when it replaces it.
    virtual bool deleteOnDetach() { return true; }
    virtual void signalDone(std::int32_t /*value*/) {}
    virtual void setUpstream(LinkedStage* /*upstream*/) {}
};

// A stage with neighbours. A new downstream takes effect only at applyPendingDownstream(),
// so a chain can be re-wired between blocks by any holder of a stage.
class LinkedStage : public virtual Stage {
public:
    bool reset() override;
    void setUpstream(LinkedStage* stage) override { upstream = stage; }

    void setDownstream(Stage* next) { pendingDownstream = next; }
    // Makes pendingDownstream current; deletes the replaced stage when it asks for that.
    void applyPendingDownstream();

    LinkedStage* upstream = nullptr; // not owned
    Stage* downstream = nullptr;     // owned only as far as deleteOnDetach() says
    Stage* pendingDownstream = nullptr;
};

// The completion flag at the head of a chain.
class DoneLatch : public virtual Stage {
public:
    bool reset() override;
    // Only 0 and 1 are reports; anything else is ignored.
    void signalDone(std::int32_t value) override;

    bool done = false;
};

} // namespace orvane
