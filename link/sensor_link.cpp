#include "link/sensor_link.h"

#include "link/link_clock.h"

#include <chrono>
#include <cstdio>

namespace orvane {
namespace {

LinkFactory ftdiLinkFactory;

// What the last successful openLink was asked for, so that a lost link can be opened again.
struct LinkChoice {
    Stage* consumer = nullptr;
    std::int32_t deviceIndex = 0;
    std::int32_t baudRate = 0;
    bool valid = false;
};
LinkChoice lastChoice;

// How long one slice of a link pause lasts: short enough that a stop is seen within it.
constexpr std::int32_t kPauseSliceMs = 20;

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
    ChannelSource* offered = nullptr;
    LinkConnection* connection = linkFactory->open(offered, deviceIndex, baudRate);
    if (!connection)
        return false;
    // The connection owns its source; that is the one to wire, whatever the factory said.
    ChannelSource* source = connection->source;
    if (!source) {
        delete connection;
        return false;
    }
    source->setDownstream(&receiveBuffer);
    source->applyPendingDownstream();
    receiveBuffer.setDownstream(consumer);
    receiveBuffer.applyPendingDownstream();
    currentConnection = connection;
    lastChoice = {consumer, deviceIndex, baudRate, true};
    return true;
}

void closeLink() {
    if (!currentConnection)
        return;
    // The source goes with the connection: nothing may report done to it afterwards.
    receiveBuffer.setUpstream(nullptr);
    delete currentConnection;
    currentConnection = nullptr;
}

bool linkLost() {
    if (!lastChoice.valid)
        return false;
    return !currentConnection || currentConnection->lost();
}

bool reopenLink() {
    if (!lastChoice.valid)
        return false;
    const LinkChoice choice = lastChoice;
    ftdiQuiet = true;
    const bool opened = openLink(choice.consumer, choice.deviceIndex, choice.baudRate);
    ftdiQuiet = false;
    return opened;
}

void pauseLink(std::int32_t milliseconds) {
    LinkClock& clock = *linkClock;
    const auto end = clock.now() + std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds);
    while (!linkInterrupted()) {
        const auto now = clock.now();
        if (now >= end)
            break;
        const auto slice = now + std::chrono::milliseconds(kPauseSliceMs);
        clock.sleepUntil(slice < end ? slice : end);
    }
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
    if (timeoutMs == 0)
        timeoutMs = defaultReceiveTimeout;
    if (!currentConnection) {
        // Nothing can come, but a caller that loops must not spin: the time-out passes as it
        // would on a quiet link.
        pauseLink(timeoutMs);
        return false;
    }
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
