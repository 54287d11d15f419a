#pragma once

#include "link/stage.h"

#include <cstdint>

namespace orvane {

// Wire bytes that mean something outside a frame.
inline constexpr std::uint8_t kSampleType = 0x3A;    // ':'
inline constexpr std::uint8_t kReferenceType = 0x3B; // ';'
inline constexpr std::uint8_t kReplyE = 0x65;        // 'e'
inline constexpr int kFrameSize = 8;
inline constexpr int kFrameBody = 7;
// The seven body bytes of a good frame sum to this, modulo 256.
inline constexpr std::uint8_t kBodySum = 0xFF;

// Cuts 8-byte frames (type byte, three big-endian 16-bit components, check byte) and the one-byte
// "e" reply out of arbitrarily split blocks and hands each good one downstream exactly once.
// Blocks handed down point into this object and are overwritten by the next frame.
class FrameDecoder : public LinkedStage {
public:
    void put(const ByteBuffer& block) override;
    // Drops a partial frame, then resets the stages below. Does not apply a pending downstream.
    bool reset() override;
    // Static storage: never deleted by an upstream stage.
    bool deleteOnDetach() override { return false; }
    void signalDone(std::int32_t value) override;

    void clearFrameState();
    void emitFrame();

    bool inFrame = false;
    std::int32_t bodyCount = 0;
    std::uint8_t frameBytes[kFrameSize] = {};
    std::uint8_t byteSum = 0;

private:
    void deliver(const ByteBuffer& block);
};

} // namespace orvane
