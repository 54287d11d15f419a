// Feeds arbitrary bytes to a FrameDecoder in pieces whose sizes come from the input itself.
// Input layout: byte 0 gives the number of cut lengths that follow (0 to 15), each of those
// bytes is the length of the next block, and everything after them is the wire stream; the
// last block takes whatever the cuts left over.
//
// The receiving stage aborts unless every block is the one-byte "e" reply or an 8-byte frame
// of type ':', ';' or 'e' whose seven body bytes sum to 0xFF. The same stream put whole into a
// second decoder must yield the same blocks: where the cuts fall must never matter.
#include "sensor/frame_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using orvane::ByteBuffer;

class CheckingStage : public orvane::LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        if (block.data == nullptr)
            std::abort();
        if (block.length == 1) {
            if (block.data[0] != orvane::kReplyE)
                std::abort();
        } else if (block.length == 8) {
            const std::uint8_t type = block.data[0];
            if (type != orvane::kSampleType && type != orvane::kReferenceType &&
                type != orvane::kReplyE)
                std::abort();
            std::uint8_t sum = 0;
            for (int i = 1; i < 8; ++i)
                sum = static_cast<std::uint8_t>(sum + block.data[i]);
            if (sum != orvane::kBodySum)
                std::abort();
        } else {
            std::abort();
        }
        lengths.push_back(static_cast<std::uint8_t>(block.length));
        bytes.insert(bytes.end(), block.data, block.data + block.length);
    }
    bool deleteOnDetach() override { return false; }

    std::vector<std::uint8_t> lengths;
    std::vector<std::uint8_t> bytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t cuts = data[0] % 16;
    if (cuts > size - 1)
        cuts = size - 1;
    const std::uint8_t* const cutLengths = data + 1;
    const std::uint8_t* const stream = data + 1 + cuts;
    const std::size_t streamSize = size - 1 - cuts;

    orvane::FrameDecoder split;
    CheckingStage splitSink;
    split.setDownstream(&splitSink);
    split.applyPendingDownstream();
    std::size_t at = 0;
    for (std::size_t k = 0; k < cuts; ++k) {
        const std::size_t n = cutLengths[k] < streamSize - at ? cutLengths[k] : streamSize - at;
        split.put(ByteBuffer(stream + at, static_cast<std::uint32_t>(n)));
        at += n;
    }
    split.put(ByteBuffer(stream + at, static_cast<std::uint32_t>(streamSize - at)));

    orvane::FrameDecoder whole;
    CheckingStage wholeSink;
    whole.setDownstream(&wholeSink);
    whole.applyPendingDownstream();
    whole.put(ByteBuffer(stream, static_cast<std::uint32_t>(streamSize)));

    if (splitSink.lengths != wholeSink.lengths || splitSink.bytes != wholeSink.bytes ||
        split.inFrame != whole.inFrame || split.bodyCount != whole.bodyCount ||
        split.byteSum != whole.byteSum)
        std::abort();
    return 0;
}
