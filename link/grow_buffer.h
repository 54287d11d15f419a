#pragma once

#include "link/byte_buffer.h"

#include <cstdint>

namespace orvane {

// A growable byte store that owns its heap block. It grows in steps that depend on the
// shortfall: 256 bytes below 256; from 256 to 8191 the shortfall rounded down to 256 plus 256;
// from 8192 the shortfall rounded down to 8192 plus 8192.
class GrowBuffer : public Disposable {
public:
    static constexpr std::uint32_t kInitialCapacity = 1024;

    // Allocates kInitialCapacity bytes.
    GrowBuffer();
    GrowBuffer(const GrowBuffer&) = delete;
    GrowBuffer& operator=(const GrowBuffer&) = delete;
    ~GrowBuffer() override;

    // Copies n bytes to the end, growing first when they do not fit. False when the storage
    // could not grow: the buffer is then unchanged and the bytes are not stored.
    bool append(const std::uint8_t* src, std::uint32_t n);
    // Enlarges the capacity by the step for `shortfall`. False when allocation failed.
    bool grow(std::uint32_t shortfall);
    // Resizes the block to newCapacity, keeping the stored bytes. False (nothing changed) when
    // allocation failed.
    bool reallocate(std::uint32_t newCapacity);
    // The step grow() takes for `shortfall`.
    static std::uint32_t growthStep(std::uint32_t shortfall);

    std::uint8_t* begin = nullptr;
    std::uint32_t length = 0;
    std::uint8_t* cursor = nullptr; // always begin + length
    std::uint8_t* end = nullptr;    // begin + capacity
    std::uint32_t capacity = 0;     // the block is owned while this is non-zero
};

} // namespace orvane
