#pragma once

#include "link/channel.h"
#include "link/ftdi_source.h"

#include <atomic>
#include <cstdint>

namespace orvane {

// While this points at a flag that is false, a receive or flush ends between two reads, and so
// does a wait of the link's: how a stop request reaches a pass that would otherwise sit out its
// whole time-out. Null: nothing interrupts. The acquisition loop points it at its `running`.
extern std::atomic<const std::atomic<bool>*> linkKeepGoing;
bool linkInterrupted();

// One open link, as SensorLink drives it.
class LinkConnection {
public:
    LinkConnection() = default;
    explicit LinkConnection(ChannelSource* head) : source(head) {}
    LinkConnection(const LinkConnection&) = delete;
    LinkConnection& operator=(const LinkConnection&) = delete;
    // Deletes the source, which releases the device.
    virtual ~LinkConnection();

    // Reads into the chain until a consumer reports a complete reply (true) or the time-out is
    // spent (false).
    virtual bool receive(std::int32_t timeoutMs) = 0;
    // Reads what is pending into the chain, then clears the source's done flag.
    virtual bool flush(std::int32_t timeoutMs) = 0;
    // The device has gone away (see deviceGone); the link is dead until it is opened anew.
    virtual bool lost() const { return false; }

    ChannelSource* source = nullptr; // owned
};

// The connection over an FtdiSource.
//
// `receive` turns its time-out into a read time-out and a budget of reads that deliver nothing:
// above 200 ms, 20 ms reads and timeoutMs / 20 - 2 of them; from 6 to 200 ms, timeoutMs / 5 and
// 4; below, timeoutMs and 1. Reads that deliver bytes cost nothing, but the whole call ends
// after at most kReceiveLimitFactor times its time-out however many bytes keep coming, and a
// read that fails takes its full read time-out, so a dead device cannot make the caller spin.
// Both end early, between reads, once the device is lost or linkInterrupted().
class FtdiConnection : public LinkConnection {
public:
    static constexpr std::int32_t kReceiveLimitFactor = 4;

    FtdiConnection(ChannelSource* head, TimedChannel* timed)
        : LinkConnection(head), device(timed) {}

    bool receive(std::int32_t timeoutMs) override;
    bool flush(std::int32_t timeoutMs) override;
    bool lost() const override { return device && device->lost(); }

    TimedChannel* device = nullptr; // the source seen as a TimedChannel; not owned separately

private:
    // One pump; a failed read lasts readTimeoutMs.
    std::int32_t pumpOnce(std::int32_t readTimeoutMs);
};

// Opens links to FTDI devices. Tests derive from it to hand out links of their own.
class LinkFactory {
public:
    virtual ~LinkFactory() = default;
    // Opens and configures device deviceIndex; on success `source` is the new link's head and
    // the connection owns it. Null (and `source` null) when the device cannot be used.
    virtual LinkConnection* open(ChannelSource*& source, std::int32_t deviceIndex,
                                 std::int32_t baudRate);
};

} // namespace orvane
