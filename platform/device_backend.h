#pragma once

#include "platform/d2xx.h"

#include <cstdint>
#include <memory>

// What stands behind the eight FT_* calls outside Windows, and the seam through which a test puts
// a device of its own there.
//
// The FT_* calls check the handle and their arguments, keep each handle's read and write
// time-outs and serialise the calls on one handle; a Device only moves bytes and applies
// settings. Devices come from a DeviceBackend: normally the one ORVANE_DEVICE selects (libftdi1,
// a serial tty or the simulated sensor), or the one a test installed:
//
//     struct ScriptedBackend : orvane::platform::DeviceBackend {
//         FT_STATUS open(int deviceNumber, std::unique_ptr<Device>& device) override {
//             device = std::make_unique<MyScriptedDevice>(...);
//             return FT_OK;
//         }
//     } backend;
//     orvane::platform::installDeviceBackend(&backend);  // FT_Open now opens scripted devices
//     ...
//     orvane::platform::installDeviceBackend(nullptr);   // back to ORVANE_DEVICE
//
// A scripted Device answers at once: it never has to sleep for a time-out it is given.
namespace orvane::platform {

class Device {
public:
    // Releases the device (FT_Close).
    virtual ~Device() = default;
    // Copies into `buffer` the bytes that arrived, returning as soon as at least one has, or with
    // *received = 0 once timeoutMs has passed (timeoutMs 0: only what is already there).
    // FT_IO_ERROR when the device is gone.
    virtual FT_STATUS read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs,
                           std::uint32_t* received) = 0;
    // Writes the bytes, waiting at most timeoutMs for room (0: the backend's own limit of a few
    // seconds); *written may fall short when the time runs out.
    virtual FT_STATUS write(const void* data, std::uint32_t length, std::uint32_t timeoutMs,
                            std::uint32_t* written) = 0;
    // Arguments arrive checked: baud rate above 0, word length 7 or 8, stop bits 0 (one) or 2,
    // parity 0 to 4, flow control one of FT_FLOW_*.
    virtual FT_STATUS setBaudRate(std::uint32_t baudRate) = 0;
    virtual FT_STATUS setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                             std::uint8_t parity) = 0;
    virtual FT_STATUS setFlowControl(std::uint16_t flowControl, std::uint8_t xon,
                                     std::uint8_t xoff) = 0;
};

class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;
    // Opens device number `deviceNumber` (0 for the first). On FT_OK `device` holds it; FT_Open
    // takes ownership and deletes it at FT_Close.
    virtual FT_STATUS open(int deviceNumber, std::unique_ptr<Device>& device) = 0;
};

// Makes FT_Open use `backend` for the rest of the process, or ORVANE_DEVICE's choice again when
// it is null. Not owned; it must outlive the calls to FT_Open that use it (devices it opened may
// outlive it). Devices opened before keep working.
void installDeviceBackend(DeviceBackend* backend);

} // namespace orvane::platform
