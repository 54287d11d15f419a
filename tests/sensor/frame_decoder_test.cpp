#include "sensor/frame_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace orvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A frame with a correct check byte: the seven body bytes sum to 0xFF.
Bytes goodFrame(std::uint8_t type, std::int16_t c0, std::int16_t c1, std::int16_t c2) {
    Bytes f = {type};
    for (std::int16_t c : {c0, c1, c2}) {
        const auto u = static_cast<std::uint16_t>(c);
        f.push_back(static_cast<std::uint8_t>(u >> 8));
        f.push_back(static_cast<std::uint8_t>(u & 0xFF));
    }
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < f.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + f[i]);
    f.push_back(static_cast<std::uint8_t>(0xFF - sum));
    return f;
}

// Records every block and the decoder's state at the moment it arrived.
class RecordingStage : public LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        blocks.emplace_back(block.data, block.data + block.length);
        if (watched) {
            bodyCountAtPut.push_back(watched->bodyCount);
            inFrameAtPut.push_back(watched->inFrame);
        }
        if (onPut)
            onPut();
    }
    bool reset() override {
        ++resets;
        return resetAnswer;
    }
    bool deleteOnDetach() override { return false; }

    std::vector<Bytes> blocks;
    const FrameDecoder* watched = nullptr;
    std::vector<std::int32_t> bodyCountAtPut;
    std::vector<bool> inFrameAtPut;
    int resets = 0;
    bool resetAnswer = true;
    std::function<void()> onPut;
};

void putBytes(FrameDecoder& decoder, const Bytes& bytes) {
    decoder.put(ByteBuffer(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

std::vector<Bytes> decodeBlocks(const std::vector<Bytes>& blocks) {
    FrameDecoder decoder;
    RecordingStage sink;
    decoder.setDownstream(&sink);
    decoder.applyPendingDownstream();
    for (const Bytes& b : blocks)
        putBytes(decoder, b);
    return sink.blocks;
}

const Bytes kExample = {0x3A, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x14};
const Bytes kE = {0x65};

TEST(FrameDecoder, ExampleFrameHasTheDocumentedCheckByte) {
    EXPECT_EQ(goodFrame(0x3A, 0, 1000, 0), kExample);
}

TEST(FrameDecoder, Cases) {
    const Bytes reference = goodFrame(0x3B, -1, 2, -300);
    Bytes offUp = kExample, offDown = kExample;
    offUp[7] = 0x15;
    offDown[7] = 0x13;
    // Every body byte looks like a type byte, and the frame is still good.
    const Bytes typesInBody = {0x3A, 0x3A, 0x3B, 0x65, 0x3A, 0x3B, 0x65, 0x4B};
    const Bytes eFrame = concat({kE, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xEA}});
    const Bytes wrapsModulo = {0x3A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x05};

    const struct {
        const char* what;
        std::vector<Bytes> blocks;
        std::vector<Bytes> expected;
        bool inFrameAfter;
        std::int32_t bodyCountAfter;
    } cases[] = {
        {"empty block", {{}}, {}, false, 0},
        {"one frame", {kExample}, {kExample}, false, 0},
        {"reference frame", {reference}, {reference}, false, 0},
        {"two frames in one block, in order",
         {concat({kExample, reference})},
         {kExample, reference},
         false,
         0},
        {"noise before a frame", {concat({{0x0D, 0x0A, 0x41}, kExample})}, {kExample}, false, 0},
        {"only : ; e start frames",
         {concat({{0x3C, 0x45, 0x39, 0x00, 0xFF}, kExample})},
         {kExample},
         false,
         0},
        {"check byte one too high, then a good frame",
         {concat({offUp, kExample})},
         {kExample},
         false,
         0},
        {"check byte one too low", {offDown}, {}, false, 0},
        {"type bytes inside a body are data", {typesInBody}, {typesInBody}, false, 0},
        {"body sum wraps modulo 256", {wrapsModulo}, {wrapsModulo}, false, 0},
        // The ":" at body offset 1 would start the example frame; there is no going back.
        {"no backward search after a bad frame", {concat({{0x3A}, kExample})}, {}, false, 0},
        {"lone e", {kE}, {kE}, true, 0},
        {"e with a good body is also a frame", {eFrame}, {kE, eFrame}, false, 0},
        // The seven bytes after "e" are its body, so the frame behind it is eaten.
        {"e swallows the next seven bytes", {concat({kE, kExample})}, {kE}, false, 0},
        {"partial frame waits", {{0x3A, 0x00, 0x00}}, {}, true, 2},
        {"frame over three blocks with an empty one",
         {{0x3A, 0x00}, {}, {0x00, 0x03, 0xE8, 0x00, 0x00, 0x14}},
         {kExample},
         false,
         0},
        {"tail of a block starts the next frame",
         {concat({kExample, {0x3B, 0x01}})},
         {kExample},
         true,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FrameDecoder decoder;
        RecordingStage sink;
        decoder.setDownstream(&sink);
        for (const Bytes& b : c.blocks)
            putBytes(decoder, b);
        EXPECT_EQ(sink.blocks, c.expected);
        EXPECT_EQ(decoder.inFrame, c.inFrameAfter);
        EXPECT_EQ(decoder.bodyCount, c.bodyCountAfter);
        if (!decoder.inFrame) {
            EXPECT_EQ(decoder.byteSum, 0);
        }
    }
}

TEST(FrameDecoder, AnySplitOfAFrameYieldsItOnceWithTheLastByte) {
    const std::size_t n = kExample.size();
    for (std::size_t i = 0; i <= n; ++i) {
        for (std::size_t j = i; j <= n; ++j) {
            SCOPED_TRACE(::testing::Message() << "cuts at " << i << " and " << j);
            const Bytes a(kExample.begin(), kExample.begin() + static_cast<long>(i));
            const Bytes b(kExample.begin() + static_cast<long>(i),
                          kExample.begin() + static_cast<long>(j));
            const Bytes c(kExample.begin() + static_cast<long>(j), kExample.end());
            FrameDecoder decoder;
            RecordingStage sink;
            decoder.setDownstream(&sink);
            putBytes(decoder, a);
            putBytes(decoder, b);
            EXPECT_EQ(sink.blocks.size(), j == n ? 1u : 0u);
            putBytes(decoder, c);
            ASSERT_EQ(sink.blocks.size(), 1u);
            EXPECT_EQ(sink.blocks[0], kExample);
        }
    }
    std::vector<Bytes> singles;
    for (std::uint8_t byte : kExample)
        singles.push_back({byte});
    EXPECT_EQ(decodeBlocks(singles), std::vector<Bytes>{kExample});
}

TEST(FrameDecoder, EReplyIsDeliveredBeforeTheRestOfItsBlock) {
    FrameDecoder decoder;
    RecordingStage sink;
    sink.watched = &decoder;
    decoder.setDownstream(&sink);
    putBytes(decoder, {0x65, 0x10, 0x20, 0x30});
    ASSERT_EQ(sink.blocks, std::vector<Bytes>{kE});
    EXPECT_EQ(sink.bodyCountAtPut, std::vector<std::int32_t>{0});
    EXPECT_EQ(sink.inFrameAtPut, std::vector<bool>{false}); // collecting starts after the reply
    EXPECT_TRUE(decoder.inFrame);
    EXPECT_EQ(decoder.bodyCount, 3);
}

TEST(FrameDecoder, ResetDropsAPartialFrame) {
    const Bytes firstHalf(kExample.begin(), kExample.begin() + 4);
    const struct {
        const char* what;
        Bytes secondHalf;
        std::vector<Bytes> expected;
    } cases[] = {
        {"remainder is noise", Bytes(kExample.begin() + 4, kExample.end()), {}},
        // E8 00 00 14 then ":" starts a frame of its own.
        {"a type byte in the remainder starts a new frame",
         concat({{0x00, 0x14}, kExample}),
         {kExample}},
        {"an e in the remainder is a reply", {0x00, 0x65}, {kE}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FrameDecoder decoder;
        RecordingStage sink;
        decoder.setDownstream(&sink);
        decoder.applyPendingDownstream();
        putBytes(decoder, firstHalf);
        EXPECT_TRUE(decoder.reset());
        EXPECT_FALSE(decoder.inFrame);
        EXPECT_EQ(decoder.bodyCount, 0);
        EXPECT_EQ(decoder.byteSum, 0);
        putBytes(decoder, c.secondHalf);
        EXPECT_EQ(sink.blocks, c.expected);
    }
}

TEST(FrameDecoder, ResetAnswersForTheDownstreamWithoutApplyingAPendingOne) {
    const struct {
        bool hasDownstream;
        bool answer;
        bool expected;
    } cases[] = {{false, false, true}, {true, true, true}, {true, false, false}};
    for (const auto& c : cases) {
        FrameDecoder decoder;
        RecordingStage current, pending;
        current.resetAnswer = c.answer;
        if (c.hasDownstream) {
            decoder.setDownstream(&current);
            decoder.applyPendingDownstream();
            current.resets = 0;
        }
        decoder.setDownstream(&pending);
        EXPECT_EQ(decoder.reset(), c.expected);
        EXPECT_EQ(current.resets, c.hasDownstream ? 1 : 0);
        EXPECT_EQ(pending.resets, 0);
        EXPECT_EQ(decoder.downstream, c.hasDownstream ? &current : nullptr);
    }
}

// The head of a chain in these tests: a latch that records completion reports.
class LatchHead : public LinkedStage {
public:
    void put(const ByteBuffer&) override {}
    void signalDone(std::int32_t value) override { reports.push_back(value); }
    std::vector<std::int32_t> reports;
};

TEST(FrameDecoder, CompletionReportsClimbUnchanged) {
    LatchHead head;
    FrameDecoder decoder;
    decoder.signalDone(1); // no upstream yet: nothing to tell, nothing breaks
    head.setDownstream(&decoder);
    head.applyPendingDownstream();
    for (std::int32_t v : {1, 0, 2, -7})
        decoder.signalDone(v);
    EXPECT_EQ(head.reports, (std::vector<std::int32_t>{1, 0, 2, -7}));
}

TEST(FrameDecoder, IsNeverDeletedWhenItsUpstreamIsRewired) {
    LatchHead head;
    FrameDecoder decoder;
    RecordingStage other;
    head.setDownstream(&decoder);
    head.applyPendingDownstream();
    head.setDownstream(&other);
    head.applyPendingDownstream(); // would free a stack object if the decoder said so
    putBytes(decoder, kExample);   // still usable afterwards
    EXPECT_EQ(decoder.upstream, &head);
}

TEST(FrameDecoder, DeliveryAppliesPendingDownstreamsAroundEachBlock) {
    FrameDecoder decoder;
    RecordingStage first, second;

    // Without any downstream frames vanish, and the decoder keeps decoding.
    putBytes(decoder, concat({kExample, kE}));
    EXPECT_TRUE(decoder.inFrame);
    decoder.reset();

    // A pending downstream takes effect at the first delivery, not before.
    decoder.setDownstream(&first);
    putBytes(decoder, {0x3A, 0x00});
    EXPECT_EQ(decoder.downstream, nullptr);
    putBytes(decoder, Bytes(kExample.begin() + 2, kExample.end()));
    EXPECT_EQ(decoder.downstream, &first);
    EXPECT_EQ(first.upstream, &decoder);
    EXPECT_EQ(first.resets, 1);

    // A receiver that re-wires the decoder while handling a frame: the switch happens right
    // after that frame, before anything else arrives.
    first.onPut = [&] { decoder.setDownstream(&second); };
    putBytes(decoder, kExample);
    EXPECT_EQ(decoder.downstream, &second);
    EXPECT_EQ(second.upstream, &decoder);
    EXPECT_EQ(second.resets, 1);
    first.onPut = nullptr;
    putBytes(decoder, concat({kE, kExample}));
    EXPECT_EQ(first.blocks, (std::vector<Bytes>{kExample, kExample}));
    EXPECT_EQ(second.blocks, std::vector<Bytes>{kE});
}

// ---- Randomized comparison with a plain whole-stream model ---------------------------------

bool isFrameType(std::uint8_t b) {
    return b == 0x3A || b == 0x3B;
}

// Reads the whole stream at once: a type byte (or "e", which is also reported on its own) is
// followed by seven body bytes; a good body makes a frame; a frame cut by the end is lost.
std::vector<Bytes> model(const Bytes& s) {
    std::vector<Bytes> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const std::uint8_t type = s[i++];
        if (type == 0x65)
            out.push_back({type});
        else if (!isFrameType(type))
            continue;
        if (s.size() - i < 7)
            break;
        unsigned sum = 0;
        for (std::size_t k = 0; k < 7; ++k)
            sum += s[i + k];
        if (sum % 256 == 0xFF) {
            Bytes frame = {type};
            frame.insert(frame.end(), s.begin() + static_cast<long>(i),
                         s.begin() + static_cast<long>(i + 7));
            out.push_back(frame);
        }
        i += 7;
    }
    return out;
}

std::uint8_t randomByte(std::mt19937& rng, int typeBytePercent) {
    static const std::uint8_t kTypes[] = {0x3A, 0x3B, 0x65};
    if (static_cast<int>(rng() % 100) < typeBytePercent)
        return kTypes[rng() % 3];
    return static_cast<std::uint8_t>(rng());
}

Bytes randomBody(std::mt19937& rng, bool good) {
    const int typePercent = rng() % 3 == 0 ? 40 : 0;
    Bytes body;
    unsigned sum = 0;
    for (int k = 0; k < 6; ++k) {
        body.push_back(randomByte(rng, typePercent));
        sum += body.back();
    }
    auto check = static_cast<std::uint8_t>(0xFF - sum % 256);
    if (!good)
        check = static_cast<std::uint8_t>(check + 1 + rng() % 255);
    body.push_back(check);
    return body;
}

Bytes randomStream(std::mt19937& rng) {
    Bytes s;
    const int segments = 1 + static_cast<int>(rng() % 24);
    for (int k = 0; k < segments; ++k) {
        switch (rng() % 7) {
        case 0:
        case 1: { // good frame
            s.push_back(rng() % 2 ? 0x3A : 0x3B);
            const Bytes body = randomBody(rng, true);
            s.insert(s.end(), body.begin(), body.end());
            break;
        }
        case 2: { // wrong check byte
            s.push_back(rng() % 2 ? 0x3A : 0x3B);
            const Bytes body = randomBody(rng, false);
            s.insert(s.end(), body.begin(), body.end());
            break;
        }
        case 3: // "e" reply, with a good body half of the time
            s.push_back(0x65);
            if (rng() % 2) {
                const Bytes body = randomBody(rng, true);
                s.insert(s.end(), body.begin(), body.end());
            }
            break;
        case 4: { // a frame cut short
            s.push_back(rng() % 2 ? 0x3A : 0x3B);
            const int n = static_cast<int>(rng() % 7);
            for (int i = 0; i < n; ++i)
                s.push_back(randomByte(rng, 20));
            break;
        }
        default: { // noise, sometimes with type bytes
            const int n = 1 + static_cast<int>(rng() % 10);
            for (int i = 0; i < n; ++i)
                s.push_back(randomByte(rng, 15));
            break;
        }
        }
    }
    return s;
}

// Cuts the stream into blocks of random sizes, empty ones included.
std::vector<Bytes> randomSplit(const Bytes& s, std::mt19937& rng) {
    std::vector<Bytes> blocks;
    std::size_t at = 0;
    while (at < s.size()) {
        const std::size_t left = s.size() - at;
        std::size_t n = 0;
        switch (rng() % 10) {
        case 0:
            n = 0;
            break;
        case 1:
        case 2:
        case 3:
            n = 1 + rng() % 3;
            break;
        case 4:
        case 5:
        case 6:
            n = 4 + rng() % 13;
            break;
        default:
            n = 1 + rng() % left;
            break;
        }
        n = std::min(n, left);
        blocks.emplace_back(s.begin() + static_cast<long>(at),
                            s.begin() + static_cast<long>(at + n));
        at += n;
    }
    return blocks;
}

TEST(FrameDecoder, MatchesTheWholeStreamModelOnRandomSplits) {
    constexpr std::uint32_t kStreams = 5000;
    std::size_t frames = 0, replies = 0, resets = 0;
    for (std::uint32_t seed = 1; seed <= kStreams; ++seed) {
        std::mt19937 rng(seed);
        FrameDecoder decoder;
        RecordingStage sink;
        decoder.setDownstream(&sink);
        decoder.applyPendingDownstream();

        // A reset between exchanges cuts the stream into independent pieces.
        std::vector<Bytes> expected;
        const int exchanges = 1 + static_cast<int>(rng() % 3);
        for (int x = 0; x < exchanges; ++x) {
            if (x > 0) {
                decoder.reset();
                ++resets;
            }
            const Bytes stream = randomStream(rng);
            for (const Bytes& block : randomSplit(stream, rng))
                putBytes(decoder, block);
            for (Bytes& b : model(stream))
                expected.push_back(std::move(b));
        }
        ASSERT_EQ(sink.blocks, expected) << "seed " << seed;
        for (const Bytes& b : expected)
            ++(b.size() == 1 ? replies : frames);
    }
    // The streams must really exercise both kinds of delivery.
    EXPECT_GT(frames, kStreams * 2);
    EXPECT_GT(replies, kStreams / 2);
    EXPECT_GT(resets, kStreams / 2);
}

TEST(FrameDecoder, ModelAgreesWithHandWorkedStreams) {
    // Guards the reference itself, so a shared misreading cannot hide in both.
    Bytes bad = kExample;
    bad[7] ^= 0x01;
    const struct {
        Bytes stream;
        std::vector<Bytes> expected;
    } cases[] = {
        {concat({{0x00}, kExample, bad, kExample}), {kExample, kExample}},
        {concat({kE, kExample}), {kE}},
        {concat({{0x3A}, kExample}), {}},
        {Bytes(kExample.begin(), kExample.end() - 1), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(model(c.stream), c.expected);
}

} // namespace
} // namespace orvane
