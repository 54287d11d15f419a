#include "link/byte_buffer.h"
#include "link/stage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane {
namespace {

TEST(ByteBuffer, StringConstructorCountsUpToTheTerminator) {
    static const char kSe[] = "se";
    static const char kEmpty[] = "";
    static const char kEmbedded[] = "g\0hidden";
    const struct {
        const char* text;
        std::uint32_t length;
    } cases[] = {{kSe, 2}, {kEmpty, 0}, {nullptr, 0}, {kEmbedded, 1}};
    for (const auto& c : cases) {
        const ByteBuffer buffer(c.text);
        EXPECT_EQ(buffer.data, reinterpret_cast<const std::uint8_t*>(c.text));
        EXPECT_EQ(buffer.length, c.length) << (c.text ? c.text : "(null)");
    }
}

TEST(ByteBuffer, CopiesShareTheBytes) {
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    const ByteBuffer original(bytes, 3);
    const ByteBuffer copy(original);
    EXPECT_EQ(copy.data, bytes);
    EXPECT_EQ(copy.length, 3u);
    bytes[0] = 9; // a view, not a snapshot
    EXPECT_EQ(copy.data[0], 9);

    ByteBuffer assigned(nullptr, 0);
    assigned = original;
    EXPECT_EQ(assigned.data, bytes);
    EXPECT_EQ(assigned.length, 3u);
}

// Writes what happens to it into a shared log, so tests can check calls and their order.
class ProbeStage : public LinkedStage {
public:
    ProbeStage(std::string stageName, bool deleteMe, std::vector<std::string>& eventLog)
        : name(std::move(stageName)), deleteAnswer(deleteMe), log(eventLog) {}
    ~ProbeStage() override { log.push_back(name + ".deleted"); }

    void put(const ByteBuffer& block) override {
        log.push_back(name + ".put" + std::to_string(block.length));
    }
    bool reset() override {
        log.push_back(name + ".reset");
        return resetAnswer;
    }
    bool deleteOnDetach() override { return deleteAnswer; }
    void setUpstream(LinkedStage* stage) override {
        log.push_back(name + ".setUpstream");
        LinkedStage::setUpstream(stage);
    }

    std::string name;
    bool deleteAnswer;
    bool resetAnswer = true;
    std::vector<std::string>& log;
};

// A head that only wires: put is not under test here.
class Head : public LinkedStage {
public:
    void put(const ByteBuffer&) override {}
};

TEST(LinkedStage, SetDownstreamOnlyRecordsThePendingStage) {
    std::vector<std::string> log;
    ProbeStage a("A", false, log);
    Head head;
    head.setDownstream(&a);
    EXPECT_EQ(head.pendingDownstream, &a);
    EXPECT_EQ(head.downstream, nullptr);
    EXPECT_EQ(a.upstream, nullptr);
    EXPECT_TRUE(log.empty());
}

TEST(LinkedStage, ApplyPendingDownstream) {
    enum class Start { None, A };
    enum class Next { None, A, B };
    const struct {
        const char* what;
        Start start;
        bool aDeletes;
        Next next;
        std::vector<std::string> events;
        bool aAlive;
    } cases[] = {
        {"nothing pending, nothing current", Start::None, true, Next::None, {}, true},
        {"same stage again is a no-op", Start::A, true, Next::A, {}, true},
        {"first downstream is wired and reset",
         Start::None,
         true,
         Next::A,
         {"A.setUpstream", "A.reset"},
         true},
        {"replaced stage that asks for it is deleted first",
         Start::A,
         true,
         Next::B,
         {"A.deleted", "B.setUpstream", "B.reset"},
         false},
        {"replaced static stage stays alive",
         Start::A,
         false,
         Next::B,
         {"B.setUpstream", "B.reset"},
         true},
        {"detaching deletes a stage that asks for it",
         Start::A,
         true,
         Next::None,
         {"A.deleted"},
         false},
        {"detaching keeps a static stage", Start::A, false, Next::None, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> log;
        auto* a = new ProbeStage("A", c.aDeletes, log);
        auto b = std::make_unique<ProbeStage>("B", false, log);
        Head head;
        if (c.start == Start::A) {
            head.setDownstream(a);
            head.applyPendingDownstream();
        }
        log.clear();

        ProbeStage* next = c.next == Next::A ? a : c.next == Next::B ? b.get() : nullptr;
        head.setDownstream(next);
        head.applyPendingDownstream();

        EXPECT_EQ(log, c.events);
        EXPECT_EQ(head.downstream, static_cast<Stage*>(next));
        EXPECT_EQ(head.pendingDownstream, static_cast<Stage*>(next));
        if (next) {
            EXPECT_EQ(next->upstream, &head);
        }
        if (c.aAlive) {
            // A stage left behind still names its old upstream.
            if (c.start == Start::A) {
                EXPECT_EQ(a->upstream, &head);
            }
            delete a;
        }
    }
}

TEST(LinkedStage, ResetAnswersForItsDownstream) {
    const struct {
        bool hasDownstream;
        bool downstreamAnswer;
        bool expected;
    } cases[] = {{false, false, true}, {true, true, true}, {true, false, false}};
    for (const auto& c : cases) {
        std::vector<std::string> log;
        ProbeStage below("below", false, log);
        below.resetAnswer = c.downstreamAnswer;
        Head head;
        if (c.hasDownstream) {
            head.setDownstream(&below);
            head.applyPendingDownstream();
        }
        log.clear();
        EXPECT_EQ(head.reset(), c.expected);
        EXPECT_EQ(log.size(), c.hasDownstream ? 1u : 0u);
    }
}

TEST(LinkedStage, DestructionLeavesTheDownstreamAlone) {
    std::vector<std::string> log;
    ProbeStage below("below", true, log);
    {
        Head head;
        head.setDownstream(&below);
        head.applyPendingDownstream();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"below.setUpstream", "below.reset"}));
}

class Latch : public DoneLatch {
public:
    void put(const ByteBuffer&) override {}
};

TEST(DoneLatch, StoresOnlyZeroAndOne) {
    const struct {
        bool before;
        std::int32_t value;
        bool after;
    } cases[] = {
        {false, 1, true},    {true, 1, true},   {true, 0, false}, {false, 0, false},
        {true, 2, true},     {false, 2, false}, {true, -1, true}, {false, -1, false},
        {false, 256, false}, {true, 257, true},
    };
    for (const auto& c : cases) {
        Latch latch;
        latch.done = c.before;
        latch.signalDone(c.value);
        EXPECT_EQ(latch.done, c.after) << "before " << c.before << ", value " << c.value;
    }
}

TEST(DoneLatch, ResetClearsAndSucceeds) {
    Latch latch;
    EXPECT_FALSE(latch.done);
    latch.signalDone(1);
    EXPECT_TRUE(latch.reset());
    EXPECT_FALSE(latch.done);
}

} // namespace
} // namespace orvane
