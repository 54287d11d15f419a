// GrowBuffer's growth steps and the ReceiveBuffer stage.
#include "link/grow_buffer.h"
#include "link/receive_buffer.h"
#include "tests/link/ftdi_fake_device.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace orvane {
namespace {

using testing::RecordingConsumer;

std::vector<std::uint8_t> counting(std::uint32_t n, std::uint8_t first = 0) {
    std::vector<std::uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(GrowBufferTest, StartsWithOneKilobyte) {
    GrowBuffer buffer;
    EXPECT_EQ(buffer.capacity, 1024u);
    EXPECT_EQ(buffer.length, 0u);
    EXPECT_EQ(buffer.cursor, buffer.begin);
    EXPECT_EQ(buffer.end, buffer.begin + 1024);
}

TEST(GrowBufferTest, GrowsByTheStepForTheShortfall) {
    struct Case {
        std::uint32_t filled;
        std::uint32_t appended;
        std::uint32_t capacity;
    };
    const Case cases[] = {
        {1000, 100, 1280},                          // shortfall 76: 256
        {1024, 255, 1280},                          // 255: 256
        {1024, 256, 1536},                          // 256: 256 + 256
        {1024, 512, 1792},                          // 512: 512 + 256
        {1024, 8191, 9216},                         // 8191: 7936 + 256
        {1024, 8192, 17408},                        // 8192: 8192 + 8192
        {1024, 10000, 17408}, {1024, 20000, 25600}, // 20000: 16384 + 8192
        {1000, 24, 1024},                           // fits exactly
        {1024, 0, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.filled << " + " << c.appended);
        GrowBuffer buffer;
        const auto head = counting(c.filled);
        const auto tail = counting(c.appended, 7);
        ASSERT_TRUE(buffer.append(head.data(), c.filled));
        ASSERT_TRUE(buffer.append(tail.data(), c.appended));
        EXPECT_EQ(buffer.capacity, c.capacity);
        EXPECT_EQ(buffer.length, c.filled + c.appended);
        EXPECT_EQ(buffer.cursor, buffer.begin + buffer.length);
        EXPECT_EQ(buffer.end, buffer.begin + buffer.capacity);
        // The stored bytes moved with the block.
        std::vector<std::uint8_t> all(head);
        all.insert(all.end(), tail.begin(), tail.end());
        EXPECT_TRUE(std::equal(all.begin(), all.end(), buffer.begin));
    }
}

TEST(ReceiveBufferTest, KeepsAndForwardsBlocksUntilReset) {
    ReceiveBuffer buffer;
    RecordingConsumer consumer;
    buffer.setDownstream(&consumer);
    buffer.applyPendingDownstream();
    EXPECT_EQ(consumer.upstream, &buffer);

    const auto block = counting(700);
    buffer.put(ByteBuffer(block.data(), 700));
    buffer.put(ByteBuffer(block.data(), 700));
    EXPECT_EQ(buffer.length, 1400u);
    EXPECT_EQ(buffer.capacity, 1536u);
    EXPECT_EQ(consumer.received.size(), 1400u);
    EXPECT_EQ(consumer.puts, 2);

    consumer.resetAnswer = false;
    EXPECT_FALSE(buffer.reset());
    EXPECT_EQ(buffer.length, 0u);
    EXPECT_EQ(buffer.cursor, buffer.begin);
    // The program's receive buffer is static: no re-wiring may delete it.
    EXPECT_FALSE(buffer.deleteOnDetach());
}

TEST(ReceiveBufferTest, PassesDoneUpstreamAndDropsBlocksWithoutDownstream) {
    ReceiveBuffer buffer;
    const std::uint8_t byte = 0x3a;
    buffer.put(ByteBuffer(&byte, 1)); // no downstream: kept, not forwarded, no crash
    EXPECT_EQ(buffer.length, 1u);
    buffer.signalDone(1); // no upstream: nothing
    EXPECT_TRUE(buffer.reset());

    testing::FakeDevice device;
    testing::FakeSource source(device);
    source.setDownstream(&buffer);
    source.applyPendingDownstream();
    buffer.signalDone(1);
    EXPECT_TRUE(source.done);
    buffer.signalDone(0);
    EXPECT_FALSE(source.done);
}

TEST(ReceiveBufferTest, StoreStopsAtItsLimitWhileBlocksStillPass) {
    ReceiveBuffer buffer;
    RecordingConsumer consumer;
    buffer.setDownstream(&consumer);
    buffer.applyPendingDownstream();
    const auto block = counting(512);
    const int blocks = ReceiveBuffer::kStoreLimit / 512 + 10;
    for (int i = 0; i < blocks; ++i)
        buffer.put(ByteBuffer(block.data(), 512));
    EXPECT_EQ(buffer.length, ReceiveBuffer::kStoreLimit);
    EXPECT_EQ(consumer.received.size(), 512u * blocks);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), buffer.begin + buffer.length - 512));
}

} // namespace
} // namespace orvane
