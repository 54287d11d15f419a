// The recording of what the loop received decodes, as one stream, into exactly the frames the
// loop's own decoder gave, however the blocks were split and wherever the exchanges reset.
#include "app/byte_recorder.h"

#include "tests/support/scratch.h"
#include "tests/support/wire_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {
namespace {

using test_support::appendWireFrame;

// Keeps every sample and reference frame the decoder hands down. (An "e" reply whose seven
// following bytes an exchange cut off cannot be in a recording without the bytes after it being
// read as its body; it carries no reading.)
class Frames : public LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        if (block.data[0] != 'e')
            got.emplace_back(block.data, block.data + block.length);
    }
    std::vector<std::vector<std::uint8_t>> got;
};

std::vector<std::vector<std::uint8_t>> decodeWhole(const std::string& bytes) {
    FrameDecoder decoder;
    Frames frames;
    decoder.setDownstream(&frames);
    decoder.applyPendingDownstream();
    decoder.put(ByteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                           static_cast<std::uint32_t>(bytes.size())));
    return frames.got;
}

TEST(ByteRecorder, TheRecordingDecodesAsTheLoopDecoded) {
    std::vector<std::uint8_t> wire;
    wire.push_back('e');
    for (int i = 0; i < 7; ++i) // the seven bytes after an "e" that the decoder swallows
        wire.push_back(static_cast<std::uint8_t>(0x10 + i));
    appendWireFrame(wire, ';', 0, 1000, 0);
    for (int i = 0; i < 12; ++i) {
        appendWireFrame(wire, ':', 10 * i, 999, -5 * i);
        if (i % 4 == 1)
            wire.insert(wire.end(), {0x3A, 0x01, 0x02}); // noise that looks like a frame start
    }
    // Block lengths and whether the exchange resets after each block: resets fall inside
    // frames, after a type byte, inside the noise and between frames.
    struct Cut {
        std::size_t length;
        bool resetAfter;
    };
    const std::vector<std::vector<Cut>> cuttings = {
        {{11, true}, {13, false}, {5, true}, {20, true}, {1, true}, {30, false}, {200, false}},
        {{3, true}, {3, true}, {3, true}, {3, true}, {3, true}, {300, false}},
        {{8, true}, {8, true}, {16, true}, {9, true}, {7, true}, {300, false}},
        {{500, false}},
    };
    int run = 0;
    for (const auto& cuts : cuttings) {
        SCOPED_TRACE(run);
        const std::string path = test_support::scratchDir() + "cut" + std::to_string(run++);
        FrameDecoder decoder;
        Frames loop;
        decoder.setDownstream(&loop);
        decoder.applyPendingDownstream();
        {
            AsyncFileWriter file;
            std::string error;
            ASSERT_TRUE(file.open(path, true, error)) << error;
            ByteRecorder recorder(decoder, file);
            recorder.setDownstream(&decoder);
            recorder.applyPendingDownstream();
            std::size_t at = 0;
            for (const Cut& cut : cuts) {
                const std::size_t n = std::min(cut.length, wire.size() - at);
                recorder.put(ByteBuffer(wire.data() + at, static_cast<std::uint32_t>(n)));
                at += n;
                if (cut.resetAfter)
                    recorder.reset();
            }
            ASSERT_TRUE(file.close()) << file.error();
        }
        EXPECT_EQ(decodeWhole(test_support::readFile(path)), loop.got);
        EXPECT_GE(loop.got.size(), 5u);
    }
}

TEST(AsyncFileWriter, RefusesToOverwriteAndReportsAFullDisk) {
    const std::string path = test_support::scratchDir() + "exists";
    {
        AsyncFileWriter file;
        std::string error;
        ASSERT_TRUE(file.open(path, false, error)) << error;
        file.append("abc", 3);
        EXPECT_TRUE(file.close());
    }
    EXPECT_EQ(test_support::readFile(path), "abc");
    AsyncFileWriter again;
    std::string error;
    EXPECT_FALSE(again.open(path, false, error));
    EXPECT_EQ(error, path + " exists; give --force to overwrite it");
    EXPECT_FALSE(again.open(test_support::scratchDir() + "no/such/dir", true, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

#ifdef __linux__
    AsyncFileWriter full;
    std::string failure;
    full.onFailure = [&](const std::string& why) { failure = why; };
    ASSERT_TRUE(full.open("/dev/full", true, error)) << error;
    full.append("abc", 3);
    EXPECT_FALSE(full.close());
    EXPECT_EQ(full.error(), "cannot write /dev/full: No space left on device");
    EXPECT_EQ(failure, full.error());
#endif
}

} // namespace
} // namespace orvane
