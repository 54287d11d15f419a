#include "link/channel.h"

#include "platform/low_io.h"

namespace orvane {

void Channel::close() {
    if (!isOpen)
        return;
    platform::descriptorClose(descriptor);
    isOpen = false;
}

std::int32_t Channel::read(void* data, std::int32_t length) {
    return platform::descriptorRead(descriptor, data, length);
}

std::int32_t Channel::write(const ByteBuffer& block) {
    return write(block.data, static_cast<std::int32_t>(block.length));
}

std::int32_t Channel::write(const void* data, std::int32_t length) {
    return platform::descriptorWrite(descriptor, data, length);
}

void ChannelSource::put(const ByteBuffer& block) {
    applyPendingDownstream();
    if (downstream)
        downstream->put(block);
    applyPendingDownstream();
}

std::int32_t ChannelSource::pump() {
    std::uint8_t buffer[kReadBlock];
    std::int32_t n = read(buffer, kReadBlock);
    if (n == 0)
        return 1;
    if (n < 0)
        return n;
    // A device that claims more than it was asked for must not make us read past the buffer.
    if (n > kReadBlock)
        n = kReadBlock;
    applyPendingDownstream();
    const ByteBuffer block(buffer, static_cast<std::uint32_t>(n));
    static_cast<Stage&>(*this).put(block);
    applyPendingDownstream();
    return 0;
}

} // namespace orvane
