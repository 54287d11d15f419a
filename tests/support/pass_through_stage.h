#pragma once

// A middle stage that forwards blocks and completion reports unchanged, re-wiring around each
// block as the link's receive buffer does: the stand-in for it in chains built by tests.

#include "link/stage.h"

namespace orvane::test_support {

class PassThrough : public LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        applyPendingDownstream();
        if (downstream)
            downstream->put(block);
        applyPendingDownstream();
    }
    bool deleteOnDetach() override { return false; }
    void signalDone(std::int32_t value) override {
        if (upstream)
            upstream->signalDone(value);
    }
};

} // namespace orvane::test_support
