#pragma once

#include "link/byte_buffer.h"
#include "link/stage.h"

#include <cstdint>

namespace orvane {

// A byte channel. The defaults work on a low-level file descriptor; device channels override
// read and write. Always inherited virtually (see ChannelStage).
class Channel : public Disposable {
public:
    // Moves one block from the channel into a chain: 0 delivered, 1 nothing arrived,
    // negative = the read failed.
    virtual std::int32_t pump() = 0;
    // Closes the descriptor once; a second call does nothing.
    virtual void close();
    // Bytes read (0 when none arrived) or a negative value on failure.
    virtual std::int32_t read(void* data, std::int32_t length);
    virtual std::int32_t write(const ByteBuffer& block);
    // Bytes written or a negative value on failure.
    virtual std::int32_t write(const void* data, std::int32_t length);

    bool isOpen = false;
    std::int32_t descriptor = 0;
};

// A channel at the head of a chain: a LinkedStage for wiring and a DoneLatch for completion.
// Both share the one virtual Stage; reset and signalDone are the latch's, so resetting the
// head clears `done` without reaching the stages below.
class ChannelStage : public LinkedStage, public DoneLatch, public virtual Channel {
public:
    bool reset() override { return DoneLatch::reset(); }
    // Already the only final overriders; spelled out so the head's behaviour reads in one place.
    void signalDone(std::int32_t value) override { DoneLatch::signalDone(value); }
    void setUpstream(LinkedStage* stage) override { LinkedStage::setUpstream(stage); }
};

// Reads from its channel and puts the bytes down its chain.
class ChannelSource : public ChannelStage {
public:
    static constexpr std::int32_t kReadBlock = 512;

    void put(const ByteBuffer& block) override;
    // One read of up to kReadBlock bytes into a buffer local to the call: nothing is allocated.
    std::int32_t pump() override;
};

} // namespace orvane
