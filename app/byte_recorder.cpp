#include "app/byte_recorder.h"

#include "link/channel.h"

namespace orvane {

ByteRecorder::ByteRecorder(const FrameDecoder& decoder, AsyncFileWriter& file)
    : decoder_(decoder), file_(file) {
    // A read block and a held frame: nothing is allocated while bytes flow.
    held_.reserve(ChannelSource::kReadBlock + kFrameSize);
}

void ByteRecorder::put(const ByteBuffer& block) {
    held_.insert(held_.end(), block.data, block.data + block.length);
    applyPendingDownstream();
    if (downstream)
        downstream->put(block);
    applyPendingDownstream();
    // The decoder's unfinished frame is the last bytes received: its type byte and body so far.
    const std::size_t unfinished =
        decoder_.inFrame ? static_cast<std::size_t>(1 + decoder_.bodyCount) : 0;
    const std::size_t complete = held_.size() > unfinished ? held_.size() - unfinished : 0;
    file_.append(held_.data(), complete);
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(complete));
}

bool ByteRecorder::reset() {
    held_.clear();
    return LinkedStage::reset();
}

void ByteRecorder::signalDone(std::int32_t value) {
    if (upstream)
        upstream->signalDone(value);
}

} // namespace orvane
