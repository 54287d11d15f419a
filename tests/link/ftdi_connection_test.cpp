// Timing policy of FtdiConnection: read time-outs, quiet-read budgets, the overall receive limit,
// failed reads and flush, driven by a scripted device on a virtual clock.
#include "tests/link/ftdi_fake_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace orvane {
namespace {

using std::chrono::milliseconds;
using testing::FakeDevice;
using testing::FakeSource;
using testing::RecordingConsumer;

class FtdiConnectionTest : public ::testing::Test {
protected:
    FtdiConnectionTest() {
        savedClock = linkClock;
        linkClock = &device;
        auto* source = new FakeSource(device);
        source->isOpen = true;
        source->setDownstream(&consumer);
        source->applyPendingDownstream();
        connection = std::make_unique<FtdiConnection>(source, source);
    }
    ~FtdiConnectionTest() override {
        connection.reset();
        linkClock = savedClock;
    }

    bool done() const { return connection->source->done; }

    FakeDevice device;
    RecordingConsumer consumer;
    std::unique_ptr<FtdiConnection> connection;
    LinkClock* savedClock = nullptr;
};

struct BudgetCase {
    std::int32_t timeoutMs;
    std::uint32_t readTimeoutMs;
    std::size_t budget;
};

class ReceiveBudgetTest : public FtdiConnectionTest,
                          public ::testing::WithParamInterface<BudgetCase> {};

TEST_P(ReceiveBudgetTest, QuietLinkGivesUpAfterItsBudgetOfReads) {
    const BudgetCase c = GetParam();
    EXPECT_FALSE(connection->receive(c.timeoutMs));
    ASSERT_EQ(device.reads.size(), c.budget);
    for (const auto& read : device.reads) {
        EXPECT_EQ(read.timeoutMs, c.readTimeoutMs);
        EXPECT_EQ(read.requested, 512u);
    }
    EXPECT_EQ(device.elapsed, milliseconds(c.readTimeoutMs * c.budget));
}

INSTANTIATE_TEST_SUITE_P(Timeouts, ReceiveBudgetTest,
                         ::testing::Values(BudgetCase{1800, 20, 88}, BudgetCase{201, 20, 8},
                                           BudgetCase{200, 40, 4}, BudgetCase{6, 1, 4},
                                           BudgetCase{5, 5, 1}, BudgetCase{0, 0, 1}),
                         [](const auto& test) { return std::to_string(test.param.timeoutMs); });

TEST_F(FtdiConnectionTest, ReadsThatDeliverBytesDoNotSpendTheBudget) {
    // Quiet reads are counted over the whole call, not only consecutive ones.
    device.queueBytes("ab");
    device.queueQuiet();
    device.queueBytes("cd");
    device.queueQuiet(2);
    device.queueBytes("ef");
    device.queueQuiet();
    device.queueBytes("gh");
    EXPECT_FALSE(connection->receive(200));
    EXPECT_EQ(device.reads.size(), 7u);
    EXPECT_EQ(device.scriptLeft(), 1u);
    EXPECT_EQ(std::string(consumer.received.begin(), consumer.received.end()), "abcdef");
}

TEST_F(FtdiConnectionTest, DoneDuringTheFirstReadEndsReceiveAtOnce) {
    consumer.completes = [](const ByteBuffer&) { return true; };
    device.queueBytes(":1234567");
    device.queueBytes("waiting");
    EXPECT_TRUE(connection->receive(1800));
    EXPECT_EQ(device.reads.size(), 1u);
    EXPECT_EQ(device.scriptLeft(), 1u);
}

TEST_F(FtdiConnectionTest, DoneSetBeforeTheCallIsReportedWhenTheBudgetIsSpent) {
    connection->source->signalDone(1);
    EXPECT_TRUE(connection->receive(200));
    EXPECT_EQ(device.reads.size(), 4u);
}

TEST_F(FtdiConnectionTest, EndlessBytesWithoutAReplyEndAtFourTimesTheTimeout) {
    struct Case {
        std::int32_t timeoutMs;
        milliseconds deliveryTime;
    };
    for (const Case c :
         {Case{1800, milliseconds(1)}, Case{200, milliseconds(3)}, Case{5, milliseconds(1)}}) {
        SCOPED_TRACE(c.timeoutMs);
        device.whenIdle = FakeDevice::Idle::Noise;
        device.deliveryTime = c.deliveryTime;
        device.reads.clear();
        const auto start = device.elapsed;
        EXPECT_FALSE(connection->receive(c.timeoutMs));
        const auto spent = device.elapsed - start;
        EXPECT_GE(spent, milliseconds(4 * c.timeoutMs));
        EXPECT_LT(spent, milliseconds(4 * c.timeoutMs) + c.deliveryTime + milliseconds(1));
        EXPECT_EQ(device.reads.size(),
                  static_cast<std::size_t>((4 * c.timeoutMs + c.deliveryTime.count() - 1) /
                                           c.deliveryTime.count()));
    }
}

TEST_F(FtdiConnectionTest, FailedReadsTakeTheirReadTimeout) {
    device.whenIdle = FakeDevice::Idle::Fail;
    EXPECT_FALSE(connection->receive(1800));
    ASSERT_EQ(device.reads.size(), 88u);
    ASSERT_EQ(device.sleeps.size(), 88u);
    for (const auto& sleep : device.sleeps)
        EXPECT_EQ(sleep, milliseconds(20));
    EXPECT_EQ(device.elapsed, milliseconds(88 * 20));

    device.sleeps.clear();
    connection->flush(10);
    EXPECT_EQ(device.sleeps,
              (std::vector<std::chrono::steady_clock::duration>(3, milliseconds(10))));
}

TEST_F(FtdiConnectionTest, QuietAndDeliveringReadsAreNotPadded) {
    device.queueBytes("x");
    device.queueQuiet();
    connection->receive(1800);
    EXPECT_TRUE(device.sleeps.empty());
}

struct FlushCase {
    const char* name;
    std::int32_t timeoutMs;
    int bytesOnRead; // 1-based read that delivers bytes, 0 for none
    std::vector<std::uint32_t> readTimeouts;
};

class FlushTest : public FtdiConnectionTest, public ::testing::WithParamInterface<FlushCase> {};

TEST_P(FlushTest, ReadsAsManyTimesAsItsTimeoutAllowsThenClearsDone) {
    const FlushCase& c = GetParam();
    for (int i = 1; i < c.bytesOnRead; ++i)
        device.queueQuiet();
    if (c.bytesOnRead > 0)
        device.queueBytes("e");
    consumer.completes = [](const ByteBuffer&) { return true; };
    connection->source->signalDone(1);

    EXPECT_TRUE(connection->flush(c.timeoutMs));
    std::vector<std::uint32_t> timeouts;
    for (const auto& read : device.reads)
        timeouts.push_back(read.timeoutMs);
    EXPECT_EQ(timeouts, c.readTimeouts);
    EXPECT_FALSE(done());
    EXPECT_EQ(consumer.received.size(), c.bytesOnRead > 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Timeouts, FlushTest,
    ::testing::Values(FlushCase{"ten_quiet", 10, 0, {10, 10, 10}},
                      FlushCase{"ten_bytes_on_second", 10, 2, {10, 10}},
                      FlushCase{"fifty_bytes_on_first", 50, 1, {50}}, FlushCase{"zero", 0, 0, {1}},
                      FlushCase{"zero_with_bytes", 0, 1, {1}},
                      FlushCase{
                          "hundred_quiet", 100, 0, {50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 100}},
                      FlushCase{"hundred_bytes_on_third", 100, 3, {50, 50, 50, 100}}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace orvane
