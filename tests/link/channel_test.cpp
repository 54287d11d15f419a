#include "link/channel.h"
#include "platform/low_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace orvane {
namespace {

struct Pipe {
    Pipe() {
#ifdef _WIN32
        ok = _pipe(fds, 4096, _O_BINARY) == 0;
#else
        ok = ::pipe(fds) == 0;
#endif
    }
    ~Pipe() {
        for (int fd : fds)
            if (fd >= 0)
                platform::descriptorClose(fd);
    }
    int readEnd() const {
        return fds[0];
    }
    int writeEnd() const {
        return fds[1];
    }
    int fds[2] = {-1, -1};
    bool ok = false;
};

int duplicateOnto(int from, int to) {
#ifdef _WIN32
    return _dup2(from, to) == 0 ? to : -1; // 0 on success, unlike POSIX dup2
#else
    return ::dup2(from, to);
#endif
}

// The descriptor defaults, with only the chain part filled in.
class DescriptorChannel : public Channel {
public:
    std::int32_t pump() override { return 1; }
};

TEST(Channel, DefaultsMoveBytesThroughADescriptor) {
    Pipe pipe;
    ASSERT_TRUE(pipe.ok);
    DescriptorChannel writer, reader;
    writer.descriptor = pipe.writeEnd();
    reader.descriptor = pipe.readEnd();

    EXPECT_EQ(writer.write(ByteBuffer("se")), 2);
    const std::uint8_t raw[] = {0x3A, 0x00, 0xFF};
    EXPECT_EQ(writer.write(raw, 3), 3);

    std::uint8_t got[8] = {};
    ASSERT_EQ(reader.read(got, sizeof got), 5);
    EXPECT_EQ(std::memcmp(got, "se\x3A\x00\xFF", 5), 0);

    // A negative length is a failed call, never a huge unsigned one.
    EXPECT_LT(writer.write(raw, -1), 0);
    EXPECT_LT(reader.read(got, -1), 0);
}

#ifndef _WIN32
TEST(Channel, ReadOnABadDescriptorFails) {
    DescriptorChannel channel;
    channel.descriptor = -1;
    std::uint8_t byte = 0;
    EXPECT_LT(channel.read(&byte, 1), 0);
    EXPECT_LT(channel.write(&byte, 1), 0);
}
#endif

TEST(Channel, CloseTwiceClosesTheDescriptorOnce) {
    // Both pipes first, so the second cannot take the number the close frees.
    Pipe first, second;
    ASSERT_TRUE(first.ok && second.ok);
    DescriptorChannel channel;
    channel.descriptor = first.writeEnd();
    channel.isOpen = true;

    channel.close();
    EXPECT_FALSE(channel.isOpen);
    // The only write end is gone: the reader sees end of file.
    std::uint8_t byte = 0;
    EXPECT_EQ(platform::descriptorRead(first.readEnd(), &byte, 1), 0);
    const int number = first.fds[1];
    first.fds[1] = -1;

    // Give the freed number to the second pipe; a second close must not touch it.
    ASSERT_EQ(duplicateOnto(second.writeEnd(), number), number);
    channel.close();
    EXPECT_EQ(platform::descriptorWrite(number, "x", 1), 1);
    EXPECT_EQ(platform::descriptorRead(second.readEnd(), &byte, 1), 1);
    EXPECT_EQ(byte, 'x');
    platform::descriptorClose(number);
}

TEST(Channel, BlockWriteGoesThroughTheOverridableWrite) {
    class Capture : public DescriptorChannel {
    public:
        using Channel::write;
        std::int32_t write(const void* data, std::int32_t length) override {
            seen.assign(static_cast<const std::uint8_t*>(data),
                        static_cast<const std::uint8_t*>(data) + length);
            return 42;
        }
        std::vector<std::uint8_t> seen;
    } channel;
    EXPECT_EQ(channel.write(ByteBuffer("g")), 42);
    EXPECT_EQ(channel.seen, std::vector<std::uint8_t>{'g'});
}

// Records every block and how often it was reset.
class RecordingStage : public LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        blocks.emplace_back(block.data, block.data + block.length);
        if (onPut)
            onPut();
    }
    bool reset() override {
        ++resets;
        return LinkedStage::reset();
    }
    bool deleteOnDetach() override { return false; }

    std::vector<std::vector<std::uint8_t>> blocks;
    int resets = 0;
    std::function<void()> onPut;
};

// A source whose read returns a scripted count and fills what it claims up to the real size.
class ScriptedSource : public ChannelSource {
public:
    std::int32_t read(void* data, std::int32_t length) override {
        ++reads;
        requested = length;
        const std::int32_t filled = std::min(result, length);
        for (std::int32_t i = 0; i < filled; ++i)
            static_cast<std::uint8_t*>(data)[i] = static_cast<std::uint8_t>(i * 7 + 1);
        return result;
    }
    std::int32_t result = 0;
    int reads = 0;
    std::int32_t requested = 0;
};

TEST(ChannelSource, PumpDeliversOneReadAsOneBlock) {
    const struct {
        std::int32_t readResult;
        std::int32_t pumpResult;
        std::size_t delivered; // bytes in the one block, or 0 for no put at all
    } cases[] = {
        {0, 1, 0},
        {-1, -1, 0},
        {-5, -5, 0},
        {1, 0, 1},
        {300, 0, 300},
        {512, 0, 512},
        // A read that claims more than it was asked for must not widen the block.
        {600, 0, 512},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.readResult);
        ScriptedSource source;
        RecordingStage sink;
        source.setDownstream(&sink);
        source.applyPendingDownstream();
        source.result = c.readResult;

        EXPECT_EQ(source.pump(), c.pumpResult);
        EXPECT_EQ(source.reads, 1);
        EXPECT_EQ(source.requested, 512);
        if (c.delivered == 0) {
            EXPECT_TRUE(sink.blocks.empty());
            continue;
        }
        ASSERT_EQ(sink.blocks.size(), 1u);
        ASSERT_EQ(sink.blocks[0].size(), c.delivered);
        for (std::size_t i = 0; i < c.delivered; ++i)
            ASSERT_EQ(sink.blocks[0][i], static_cast<std::uint8_t>(i * 7 + 1)) << i;
    }
}

TEST(ChannelSource, PumpWiresAPendingDownstreamBeforeTheBlock) {
    ScriptedSource source;
    RecordingStage sink;
    source.setDownstream(&sink);
    source.result = 3;
    EXPECT_EQ(source.pump(), 0);
    EXPECT_EQ(source.downstream, &sink);
    EXPECT_EQ(sink.upstream, &source);
    EXPECT_EQ(sink.resets, 1);
    EXPECT_EQ(sink.blocks.size(), 1u);
}

TEST(ChannelSource, PumpUsesTheMostDerivedPut) {
    class Tapped : public ScriptedSource {
    public:
        void put(const ByteBuffer& block) override {
            tapped += block.length;
            ScriptedSource::put(block);
        }
        std::uint32_t tapped = 0;
    } source;
    RecordingStage sink;
    source.setDownstream(&sink);
    source.result = 10;
    source.pump();
    EXPECT_EQ(source.tapped, 10u);
    EXPECT_EQ(sink.blocks.size(), 1u);
}

TEST(ChannelSource, ReWiringDuringABlockTakesEffectRightAfterIt) {
    ChannelSource* const source = new ScriptedSource;
    RecordingStage first, second;
    first.onPut = [&] { source->setDownstream(&second); };
    source->setDownstream(&first);
    const std::uint8_t byte = 0x3A;
    source->put(ByteBuffer(&byte, 1));
    EXPECT_EQ(first.blocks.size(), 1u);
    EXPECT_EQ(source->downstream, &second);
    EXPECT_EQ(second.upstream, source);

    // Detached: blocks are dropped. Deleting the source leaves the chain alone.
    source->setDownstream(nullptr);
    source->put(ByteBuffer(&byte, 1));
    EXPECT_EQ(second.blocks.size(), 0u);
    EXPECT_EQ(source->downstream, nullptr);
    delete source;
    EXPECT_EQ(first.blocks.size(), 1u);
}

TEST(ChannelStage, HeadResetClearsDoneAndStopsThere) {
    ScriptedSource source;
    RecordingStage sink;
    source.setDownstream(&sink);
    source.applyPendingDownstream();
    sink.resets = 0;

    Stage& stage = source; // through the one shared Stage
    stage.signalDone(1);
    EXPECT_TRUE(source.done);
    stage.signalDone(2);
    EXPECT_TRUE(source.done);
    EXPECT_TRUE(stage.reset());
    EXPECT_FALSE(source.done);
    EXPECT_EQ(sink.resets, 0);

    stage.setUpstream(&sink);
    EXPECT_EQ(source.upstream, &sink);
}

TEST(ChannelStage, DoneClimbsFromTheLastStage) {
    // Forwards completion to its upstream, as the concrete stages do.
    class Forwarding : public RecordingStage {
    public:
        void signalDone(std::int32_t value) override {
            if (upstream)
                upstream->signalDone(value);
        }
    };
    ScriptedSource source;
    Forwarding middle;
    Forwarding last;
    source.setDownstream(&middle);
    source.applyPendingDownstream();
    middle.setDownstream(&last);
    middle.applyPendingDownstream();

    last.signalDone(1);
    EXPECT_TRUE(source.done);
    last.signalDone(0);
    EXPECT_FALSE(source.done);
}

} // namespace
} // namespace orvane
