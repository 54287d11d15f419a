#include "link/link_connection.h"

#include "link/link_clock.h"

#include <chrono>
#include <new>

namespace orvane {

std::atomic<const std::atomic<bool>*> linkKeepGoing{nullptr};

bool linkInterrupted() {
    const std::atomic<bool>* keepGoing = linkKeepGoing.load();
    return keepGoing && !keepGoing->load();
}

LinkConnection::~LinkConnection() {
    if (source)
        delete static_cast<Stage*>(source);
}

std::int32_t FtdiConnection::pumpOnce(std::int32_t readTimeoutMs) {
    LinkClock& clock = *linkClock;
    const auto start = clock.now();
    const std::int32_t result = device->pump();
    if (result < 0)
        clock.sleepUntil(start + std::chrono::milliseconds(readTimeoutMs < 0 ? 0 : readTimeoutMs));
    return result;
}

bool FtdiConnection::receive(std::int32_t timeoutMs) {
    std::int32_t readTimeout = timeoutMs;
    std::int32_t budget = 1;
    if (timeoutMs > 200) {
        readTimeout = 20;
        budget = timeoutMs / 20 - 2;
    } else if (timeoutMs >= 6) {
        readTimeout = timeoutMs / 5;
        budget = 4;
    }
    device->setReadTimeout(readTimeout);

    const auto limit = linkClock->now() +
                       std::chrono::milliseconds(static_cast<std::int64_t>(kReceiveLimitFactor) *
                                                 (timeoutMs < 0 ? 0 : timeoutMs));
    while (budget > 0) {
        if (pumpOnce(readTimeout) == 0) {
            if (source->done)
                return true;
        } else {
            --budget;
        }
        // Bytes that never complete a reply (noise, a stream nobody consumes) must not keep the
        // caller here for ever.
        if (linkClock->now() >= limit || lost() || linkInterrupted())
            break;
    }
    return source->done;
}

bool FtdiConnection::flush(std::int32_t timeoutMs) {
    if (timeoutMs > 50) {
        device->setReadTimeout(50);
        for (int i = 0; i < 10; ++i) {
            if (pumpOnce(50) == 0 || lost() || linkInterrupted())
                break;
        }
        device->setReadTimeout(timeoutMs);
        if (!lost() && !linkInterrupted())
            pumpOnce(timeoutMs);
    } else if (timeoutMs >= 1) {
        device->setReadTimeout(timeoutMs);
        for (int i = 0; i < 3; ++i) {
            if (pumpOnce(timeoutMs) == 0 || lost() || linkInterrupted())
                break;
        }
    } else {
        device->setReadTimeout(1);
        pumpOnce(1);
    }
    return static_cast<Stage*>(source)->reset();
}

LinkConnection* LinkFactory::open(ChannelSource*& source, std::int32_t deviceIndex,
                                  std::int32_t baudRate) {
    source = nullptr;
    FT_HANDLE handle = openFtdiDevice(deviceIndex, baudRate);
    if (!handle)
        return nullptr;
    auto* device = new (std::nothrow) FtdiSource;
    if (!device) {
        FT_Close(handle);
        return nullptr;
    }
    device->ftHandle = handle;
    device->isOpen = true;
    source = device;
    auto* connection = new (std::nothrow) FtdiConnection(device, device);
    if (!connection) {
        // Deleting the source closes the device it holds.
        delete static_cast<Stage*>(device);
        source = nullptr;
    }
    return connection;
}

} // namespace orvane
