#pragma once

#include "app/async_file_writer.h"
#include "link/stage.h"
#include "sensor/frame_decoder.h"

#include <cstdint>
#include <vector>

namespace orvane {

// A pass-through stage in front of the frame decoder that records the bytes received, so that
// decoding the recording as one stream (orvane decode) gives exactly the frames the loop's decoder
// gave. The loop resets the decoder at every exchange and so drops a partial frame, which a
// decoder of the whole stream would join with what follows; the recorder therefore holds back
// the bytes of the decoder's unfinished frame and drops them with it at a reset. (Of an "e" reply
// cut off that way only the reading is lost, which it does not carry: the reply was taken, but
// its byte goes with the unfinished frame it starts.)
class ByteRecorder : public LinkedStage {
public:
    ByteRecorder(const FrameDecoder& decoder, AsyncFileWriter& file);

    // Forwards the block, then records all of it but the decoder's unfinished frame.
    void put(const ByteBuffer& block) override;
    // Drops the held bytes of an unfinished frame, as the decoder drops the frame, then resets
    // the stages below.
    bool reset() override;
    bool deleteOnDetach() override { return false; }
    void signalDone(std::int32_t value) override;

private:
    const FrameDecoder& decoder_;
    AsyncFileWriter& file_;
    std::vector<std::uint8_t> held_; // received, not yet recorded: at most a frame after put()
};

} // namespace orvane
