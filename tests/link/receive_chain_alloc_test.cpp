// The receive path runs for every block the device delivers, so it must not touch the heap.
// This program replaces the global allocation functions to count what happens inside a window.
#include "link/channel.h"
#include "sensor/frame_decoder.h"
#include "tests/support/pass_through_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

void* allocate(std::size_t size) {
    if (gCounting.load(std::memory_order_relaxed))
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    if (gCounting.load(std::memory_order_relaxed))
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    const auto a = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (std::max<std::size_t>(size, 1) + a - 1) / a * a;
#ifdef _WIN32
    // The Windows C runtime has no aligned_alloc; its aligned blocks go back through _aligned_free.
    if (void* p = _aligned_malloc(rounded, a))
#else
    if (void* p = std::aligned_alloc(a, rounded))
#endif
        return p;
    throw std::bad_alloc();
}

void releaseAligned(void* p) {
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return allocateAligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return allocateAligned(size, a);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    releaseAligned(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    releaseAligned(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    releaseAligned(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    releaseAligned(p);
}

namespace orvane {
namespace {

// Counts allocations made while it is alive.
class AllocationWindow {
public:
    AllocationWindow() {
        gAllocations = 0;
        gCounting = true;
    }
    ~AllocationWindow() { gCounting = false; }
    long count() const { return gAllocations.load(); }
};

// A device that hands out a prepared stream in reads of up to the size asked for.
class MemoryDevice : public ChannelSource {
public:
    std::int32_t read(void* data, std::int32_t length) override {
        const auto n = static_cast<std::int32_t>(
            std::min<std::size_t>(static_cast<std::size_t>(length), stream.size() - at));
        std::memcpy(data, stream.data() + at, static_cast<std::size_t>(n));
        at += static_cast<std::size_t>(n);
        return n;
    }
    std::vector<std::uint8_t> stream;
    std::size_t at = 0;
};

using test_support::PassThrough;

class LastStage : public LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        if (block.length == 8) {
            ++frames;
            upstream->signalDone(1);
        } else {
            ++replies;
        }
    }
    bool deleteOnDetach() override { return false; }
    long frames = 0;
    long replies = 0;
};

void appendFrame(std::vector<std::uint8_t>& s, std::uint8_t type, std::uint8_t seed) {
    s.push_back(type);
    std::uint8_t sum = 0;
    for (int k = 0; k < 6; ++k) {
        const auto b = static_cast<std::uint8_t>(seed * 31 + k * 7);
        s.push_back(b);
        sum = static_cast<std::uint8_t>(sum + b);
    }
    s.push_back(static_cast<std::uint8_t>(0xFF - sum));
}

TEST(ReceiveChain, CountingSeesAnAllocation) {
    static int* volatile escaped = nullptr; // keeps the allocation from being optimised away
    long count = 0;
    {
        AllocationWindow window;
        escaped = new int(7);
        count = window.count();
    }
    delete escaped;
    EXPECT_EQ(count, 1);
}

TEST(ReceiveChain, PumpToLastStageAllocatesNothing) {
    MemoryDevice device;
    PassThrough pass;
    FrameDecoder decoder;
    LastStage last;
    device.setDownstream(&pass);
    device.applyPendingDownstream();
    pass.setDownstream(&decoder);
    pass.applyPendingDownstream();
    decoder.setDownstream(&last);
    decoder.applyPendingDownstream();

    // Frames of both types, "e" replies, a bad frame and noise, cut by the 512-byte reads
    // at arbitrary places.
    long expectedFrames = 0;
    for (int i = 0; i < 1000; ++i) {
        appendFrame(device.stream, i % 3 ? 0x3A : 0x3B, static_cast<std::uint8_t>(i));
        ++expectedFrames;
        if (i % 17 == 0) {
            device.stream.push_back(0x0D);
            device.stream.push_back(0x0A);
        }
        if (i % 29 == 0) {
            // An "e" reply followed by a good body: the reply and an "e" frame.
            appendFrame(device.stream, 0x65, static_cast<std::uint8_t>(i));
            ++expectedFrames;
        }
    }

    std::int32_t result = 0;
    long pumps = 0;
    long allocations = 0;
    {
        AllocationWindow window;
        while ((result = device.pump()) == 0)
            ++pumps;
        allocations = window.count();
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(result, 1); // the device ran dry
    EXPECT_EQ(pumps, static_cast<long>((device.stream.size() + 511) / 512));
    EXPECT_EQ(last.frames, expectedFrames);
    EXPECT_EQ(last.replies, 35);
    EXPECT_TRUE(device.done);
}

} // namespace
} // namespace orvane
