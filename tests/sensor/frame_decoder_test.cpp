#include "sensor/frame_decoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane {
namespace {

// Records every block it is given.
class RecordingStage : public LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        blocks.emplace_back(block.data, block.data + block.length);
    }
    bool deleteOnDetach() override { return false; }
    std::vector<std::vector<std::uint8_t>> blocks;
};

TEST(FrameDecoder, CutsOneFrame) {
    const std::vector<std::uint8_t> frame = {0x3A, 0x00, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x14};
    FrameDecoder decoder;
    RecordingStage sink;
    decoder.setDownstream(&sink);
    decoder.put(ByteBuffer(frame.data(), static_cast<std::uint32_t>(frame.size())));
    ASSERT_EQ(sink.blocks.size(), 1u);
    EXPECT_EQ(sink.blocks[0], frame);
}

} // namespace
} // namespace orvane
