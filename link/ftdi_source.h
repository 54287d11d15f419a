#pragma once

#include "link/channel.h"
#include "platform/d2xx.h"

#include <atomic>
#include <cstdint>

namespace orvane {

// Set-up messages ("ftopen") are printed only when this is non-zero; nothing in the program sets
// it.
extern std::int32_t ftdiVerbose;
// While set, openFtdiDevice prints none of its failure messages: reopening a pulled device tries
// once a second and must not fill the output with them.
extern std::atomic<bool> ftdiQuiet;

// Whether a D2XX status means that the device or its handle is no longer there (a pulled cable,
// a reset bridge, a removed tty), as opposed to a call that merely failed.
bool deviceGone(FT_STATUS status);

// Opens an FTDI device and sets it to baudRate, 8 data bits, one stop bit, no parity, no flow
// control and a 200 ms read time-out. Returns the handle, or null after printing what failed:
// "unable to open communication device", "baud rate err", "port setup err" or "port flow err".
FT_HANDLE openFtdiDevice(std::int32_t deviceIndex, std::int32_t baudRate);

// A Channel over a D2XX handle. The descriptor of Channel is not used.
class FtdiPort : public virtual Channel {
public:
    // Closes the handle when there is one.
    ~FtdiPort() override;
    // Bytes read within the device's read time-out (possibly 0), or -1 when the device failed.
    std::int32_t read(void* data, std::int32_t length) override;
    using Channel::write;
    // Bytes written, or -1 when the device failed.
    std::int32_t write(const void* data, std::int32_t length) override;
    // Closes the handle rather than a descriptor the port never had.
    void close() override;

    FT_HANDLE ftHandle = nullptr; // owned
    // Set once a read or write failed with a status of deviceGone(); never cleared: the handle
    // is dead, only a new open helps.
    bool deviceLost = false;
};

// A channel whose reads wait at most a settable time.
class TimedChannel : public virtual Channel {
public:
    virtual void setReadTimeout(std::int32_t milliseconds) = 0;
    // The device behind the channel has gone away; it will not come back on this channel.
    virtual bool lost() const { return false; }
};

// The object behind one opened link: the device channel at the head of the receive chain.
// Deleting it closes the device and leaves the rest of the chain alone.
class FtdiSource : public TimedChannel, public FtdiPort, public ChannelSource {
public:
    // Negative time-outs count as 0.
    void setReadTimeout(std::int32_t milliseconds) override;
    bool lost() const override { return deviceLost; }
};

} // namespace orvane
