// The process-wide link: opening and wiring, commands, exchanges, receive and the trace.
#include "tests/link/ftdi_fake_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace orvane {
namespace {

using testing::FakeDevice;
using testing::FakeDeviceScope;
using testing::RecordingConsumer;

class SensorLinkTest : public ::testing::Test {
protected:
    ~SensorLinkTest() override { traceFlags = 0; }

    void open() { ASSERT_TRUE(openLink(&consumer, 0, 19200)); }
    std::string sent() const { return std::string(device.written.begin(), device.written.end()); }

    FakeDevice device;
    RecordingConsumer consumer;
    FakeDeviceScope scope{device};
};

TEST_F(SensorLinkTest, OpenWiresSourceReceiveBufferAndConsumer) {
    open();
    ASSERT_NE(currentConnection, nullptr);
    ChannelSource* source = currentConnection->source;
    EXPECT_EQ(source->downstream, &receiveBuffer);
    EXPECT_EQ(receiveBuffer.upstream, source);
    EXPECT_EQ(receiveBuffer.downstream, &consumer);
    EXPECT_EQ(consumer.upstream, &receiveBuffer);
    EXPECT_GE(consumer.resets, 1);

    // Bytes flow down to the consumer, done climbs back to the source.
    consumer.completes = [](const ByteBuffer&) { return true; };
    device.queueBytes("e");
    EXPECT_TRUE(receiveReply(200));
    EXPECT_EQ(consumer.received, std::vector<std::uint8_t>{'e'});
}

TEST_F(SensorLinkTest, OpeningTwiceWithTheSameConsumerAttachesItOnce) {
    open();
    const int upstreamChanges = consumer.upstreamChanges;
    const int resets = consumer.resets;

    open();
    EXPECT_EQ(device.opens, 2);
    EXPECT_EQ(device.closes, 1); // the first link's source went with it
    EXPECT_EQ(receiveBuffer.downstream, &consumer);
    EXPECT_EQ(consumer.upstreamChanges, upstreamChanges);
    // The new source's reset of the receive buffer still reaches the consumer.
    EXPECT_EQ(consumer.resets, resets + 1);
    EXPECT_EQ(currentConnection->source->downstream, &receiveBuffer);
    EXPECT_EQ(receiveBuffer.upstream, currentConnection->source);
}

TEST_F(SensorLinkTest, FailingFactoryClosesTheOldLinkAndReportsFailure) {
    open();
    device.openStatus = FT_DEVICE_NOT_FOUND;
    EXPECT_FALSE(openLink(&consumer, 0, 19200));
    EXPECT_EQ(currentConnection, nullptr);
    EXPECT_EQ(device.closes, 1);

    LinkFactory* const saved = linkFactory;
    linkFactory = nullptr;
    EXPECT_FALSE(openLink(&consumer, 0, 19200));
    linkFactory = saved;
}

TEST_F(SensorLinkTest, AfterCloseAndAFailedReopenNothingPointsAtTheOldSource) {
    open();
    closeLink();
    EXPECT_EQ(receiveBuffer.upstream, nullptr);
    // A consumer's done report after the close must not reach the deleted source.
    consumer.signalDone(1);

    device.openStatus = FT_DEVICE_NOT_FOUND;
    EXPECT_FALSE(reopenLink());
    EXPECT_TRUE(linkLost());
    EXPECT_EQ(receiveBuffer.upstream, nullptr);
    consumer.signalDone(1);
    EXPECT_FALSE(beginExchange());
    EXPECT_FALSE(receiveReply(200));

    device.openStatus = FT_OK;
    EXPECT_TRUE(reopenLink());
    EXPECT_FALSE(linkLost());
    EXPECT_EQ(receiveBuffer.upstream, currentConnection->source);
    EXPECT_EQ(receiveBuffer.downstream, &consumer);
}

TEST_F(SensorLinkTest, AFailedReadOnAGoneDeviceMarksTheLinkLost) {
    // A FakeSource does not tell; the FtdiPort behind the real link does (see deviceGone).
    struct Case {
        FT_STATUS status;
        bool gone;
    };
    for (const Case& c :
         {Case{FT_IO_ERROR, true}, Case{FT_DEVICE_NOT_FOUND, true}, Case{FT_INVALID_HANDLE, true},
          Case{FT_INVALID_PARAMETER, false}, Case{FT_OTHER_ERROR, false}}) {
        SCOPED_TRACE(c.status);
        EXPECT_EQ(deviceGone(c.status), c.gone);
    }
}

TEST_F(SensorLinkTest, WithoutALinkNothingIsSentOrReceived) {
    EXPECT_FALSE(sendCommand(ByteBuffer("se")));
    EXPECT_FALSE(beginExchange());
    EXPECT_FALSE(receiveReply(0));
    EXPECT_TRUE(device.written.empty());
    EXPECT_TRUE(device.reads.empty());
    closeLink(); // nothing to close: no effect
}

TEST_F(SensorLinkTest, SendCommandWritesExactlyTheCommandBytes) {
    open();
    EXPECT_TRUE(sendCommand(ByteBuffer("se")));
    EXPECT_TRUE(sendCommand(ByteBuffer("")));
    EXPECT_TRUE(sendCommand(ByteBuffer("c")));
    EXPECT_EQ(sent(), "sec");

    device.writeStatus = FT_IO_ERROR; // a failed write still counts as sent
    EXPECT_TRUE(sendCommand(ByteBuffer("g")));

    static_cast<Channel*>(currentConnection->source)->isOpen = false;
    device.writeStatus = FT_OK;
    EXPECT_FALSE(sendCommand(ByteBuffer("g")));
    EXPECT_EQ(sent(), "sec");
}

TEST_F(SensorLinkTest, SentBytesAreTracedBeforeTheyAreWritten) {
    open();
    traceFlags = kTraceSent;
    device.onWrite = [](FakeDevice&, std::span<const std::uint8_t>) { std::printf("|"); };
    const std::uint8_t bytes[] = {0x0A, 0xFF};
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(sendCommand(ByteBuffer(bytes, 2)));
    EXPECT_TRUE(sendCommand(ByteBuffer(""))); // no bytes: not even the newline
    traceFlags = kTraceReceived;              // the other bit does not trace sends
    EXPECT_TRUE(sendCommand(ByteBuffer("c")));
    std::fflush(stdout);
    // One '|' per write, the empty one included; only the first send is traced.
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "0aff\n|||");
}

TEST_F(SensorLinkTest, ReceiveWithZeroUsesTheDefaultTimeout) {
    open();
    EXPECT_FALSE(receiveReply(0));
    const auto withZero = device.reads.size();
    const auto spent = device.elapsed;
    device.reads.clear();
    EXPECT_FALSE(receiveReply(1800));
    EXPECT_EQ(withZero, 88u);
    EXPECT_EQ(device.reads.size(), withZero);
    EXPECT_EQ(device.elapsed, 2 * spent);
}

TEST_F(SensorLinkTest, BeginExchangeDrainsThenResetsTheReceiveSide) {
    open();
    consumer.completes = [](const ByteBuffer&) { return true; };
    device.queueQuiet();
    device.queueBytes("stale");
    device.queueBytes("fresh");
    const int resets = consumer.resets;

    EXPECT_TRUE(beginExchange());
    ASSERT_EQ(device.reads.size(), 2u); // stops after the first read that delivers
    EXPECT_EQ(device.reads[0].timeoutMs, 10u);
    EXPECT_EQ(std::string(consumer.received.begin(), consumer.received.end()), "stale");
    EXPECT_FALSE(currentConnection->source->done);
    EXPECT_EQ(receiveBuffer.length, 0u);
    EXPECT_EQ(consumer.resets, resets + 1);

    consumer.resetAnswer = false; // its answer is the exchange's
    EXPECT_FALSE(beginExchange());
}

TEST_F(SensorLinkTest, ReceivedBytesAreTracedWhateverTheResult) {
    open();
    traceFlags = kTraceReceived;
    consumer.completes = [](const ByteBuffer& b) { return b.data[0] == ';'; };

    ::testing::internal::CaptureStdout();
    beginExchange();               // quiet: nothing kept
    EXPECT_FALSE(receiveReply(5)); // nothing received: nothing printed
    device.queueBytes({0x00, 0x3a});
    EXPECT_FALSE(receiveReply(5));
    device.queueBytes({0x3b});
    EXPECT_TRUE(receiveReply(5)); // everything since beginExchange
    device.queueBytes({0xee});
    beginExchange();
    EXPECT_FALSE(receiveReply(5)); // the flush's bytes were dropped by the reset
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "003a\n003a3b\n");
}

TEST_F(SensorLinkTest, EndlessNoiseKeepsTheReceiveBufferBounded) {
    open();
    device.whenIdle = FakeDevice::Idle::Noise;
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(receiveReply(0));
    // Every byte still reached the consumer; only the copy for the trace stops growing.
    EXPECT_EQ(consumer.received.size(), 4u * 7200u * 64u);
    EXPECT_EQ(receiveBuffer.length, ReceiveBuffer::kStoreLimit);
    EXPECT_LE(receiveBuffer.capacity, ReceiveBuffer::kStoreLimit + 8192u);
    beginExchange();
    EXPECT_EQ(receiveBuffer.length, 0u);
}

} // namespace
} // namespace orvane
