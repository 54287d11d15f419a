#pragma once

#include "link/byte_buffer.h"
#include "link/link_connection.h"
#include "link/receive_buffer.h"
#include "link/stage.h"

#include <cstdint>

// The process-wide sensor link: the one open connection, the factory that opens it and the
// receive buffer between its source and the consumer. Opened on the main thread before the
// worker starts; driven only by the worker afterwards.
namespace orvane {

// Closes any open link, opens device deviceIndex through linkFactory and wires
// source -> receiveBuffer -> consumer. False when no link could be opened (none is open then).
bool openLink(Stage* consumer, std::int32_t deviceIndex, std::int32_t baudRate);
// Deletes the open link, releasing its device, and unhooks the receive buffer from its source;
// nothing when none is open.
void closeLink();
// The open link's device has gone away, or a reopen found none: the link needs reopening.
// False before the first openLink.
bool linkLost();
// Closes the link and opens it again with the consumer, device and rate of the last successful
// openLink, without the factory's failure messages (it is tried again and again). True when a
// link is open afterwards.
bool reopenLink();
// Waits `milliseconds` on the link's clock, in short slices that end early once
// linkInterrupted(): how the loop paces its reopen attempts without delaying a stop.
void pauseLink(std::int32_t milliseconds);
// Drains what is pending (flush of 10 ms) and resets the receive side. False without a link.
bool beginExchange();
// Writes the command's bytes (traced first when bit 3 of traceFlags is set). False without an
// open link; a failed write still answers true.
bool sendCommand(const ByteBuffer& command);
// Reads until a consumer reports a complete reply (true) or the time-out is spent (false);
// 0 means defaultReceiveTimeout. With bit 0 of traceFlags set, prints everything received since
// beginExchange. Without a link: false once the time-out has passed (see pauseLink).
bool receiveReply(std::int32_t timeoutMs);
// Prints the bytes as two lowercase hex digits each, then a newline; nothing for 0 bytes.
void traceBytes(const std::uint8_t* data, std::uint32_t length);

inline constexpr std::uint32_t kTraceReceived = 1u << 0;
inline constexpr std::uint32_t kTraceSent = 1u << 3;

extern LinkFactory* linkFactory;           // the FTDI factory unless a test points it elsewhere
extern LinkConnection* currentConnection;  // owned; null when no link is open
extern ReceiveBuffer receiveBuffer;        // never detached or deleted
extern std::uint32_t traceFlags;           // kTraceReceived | kTraceSent; 0 in the program
extern std::int32_t defaultReceiveTimeout; // milliseconds

} // namespace orvane
