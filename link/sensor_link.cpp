#include "link/sensor_link.h"

#include <cstdio>

namespace orvane {
namespace {

LinkFactory ftdiLinkFactory;

} // namespace

LinkFactory* linkFactory = &ftdiLinkFactory;
LinkConnection* currentConnection = nullptr;
ReceiveBuffer receiveBuffer;
std::uint32_t traceFlags = 0;
std::int32_t defaultReceiveTimeout = 1800;

bool openLink(Stage* consumer, std::int32_t deviceIndex, std::int32_t baudRate) {
    closeLink();
    if (!linkFactory)
        return false;
    ChannelSource* source = nullptr;
    LinkConnection* connection = linkFactory->open(source, deviceIndex, baudRate);
    if (!connection)
        return false;
    source->setDownstream(&receiveBuffer);
    source->applyPendingDownstream();
    receiveBuffer.setDownstream(consumer);
    receiveBuffer.applyPendingDownstream();
    currentConnection = connection;
    return true;
}

void closeLink() {
    delete currentConnection;
    currentConnection = nullptr;
}

bool beginExchange() {
    if (!currentConnection)
        return false;
    currentConnection->flush(10);
    return receiveBuffer.reset();
}

bool sendCommand(const ByteBuffer& command) {
    if (!currentConnection || !currentConnection->source)
        return false;
    Channel& channel = *currentConnection->source;
    if (!channel.isOpen)
        return false;
    if (traceFlags & kTraceSent)
        traceBytes(command.data, command.length);
    channel.write(command.data, static_cast<std::int32_t>(command.length));
    return true;
}

bool receiveReply(std::int32_t timeoutMs) {
    if (!currentConnection)
        return false;
    if (timeoutMs == 0)
        timeoutMs = defaultReceiveTimeout;
    const bool result = currentConnection->receive(timeoutMs);
    if (traceFlags & kTraceReceived)
        traceBytes(receiveBuffer.begin, receiveBuffer.length);
    return result;
}

void traceBytes(const std::uint8_t* data, std::uint32_t length) {
    if (length == 0)
        return;
    for (std::uint32_t i = 0; i < length; ++i)
        std::printf("%02x", static_cast<unsigned>(data[i]));
    std::printf("\n");
}

} // namespace orvane
