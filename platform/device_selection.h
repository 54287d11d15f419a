#pragma once

#include "platform/device_backend.h"

#include <memory>
#include <string>

// Internal to the D2XX layer outside Windows: how ORVANE_DEVICE picks a backend, and the backends.
namespace orvane::platform {

struct DeviceSelection {
    enum class Kind { Ftdi, Tty, Sim, Replay };
    Kind kind = Kind::Ftdi;
    int ftdiIndex = -1;     // "ftdi:N"; -1 when not given (FT_Open's device number counts)
    std::string ttyPath;    // "tty:PATH"
    std::string simOptions; // "sim:OPTIONS", without the prefix
    std::string replay;     // "replay:FILE[,rate=HZ][,loop]", without the prefix
};

// Parses the value of ORVANE_DEVICE (null when unset). On failure returns false and sets `error`
// to one line saying what is accepted.
bool parseDeviceSelection(const char* value, DeviceSelection& selection, std::string& error);

// The backends. Each prints nothing except what it documents.
// The index-th FTDI bridge (vendor 0x0403, FTDI's standard product ids) through libftdi1.
FT_STATUS openLibftdiDevice(int index, std::unique_ptr<Device>& device);
// A serial tty, opened exclusively and set to raw 8N1 without flow control.
FT_STATUS openTtyDevice(const std::string& path, std::unique_ptr<Device>& device);
// The simulated sensor in this process; malformed options give one line on standard error.
// One sensor per option text: opened again, its clock and cable go on (see sim::sensorEpoch).
FT_STATUS openSimDevice(const std::string& options, std::unique_ptr<Device>& device);

// A recording played back as a sensor; an unreadable file or one without a reference frame gives
// one line on standard error saying why.
FT_STATUS openReplayDevice(const std::string& options, std::unique_ptr<Device>& device);

// One line on standard error (once per process) saying that the device node at `path` exists
// but may not be opened by this user, and how to get access.
void reportNoAccess(const std::string& path);

} // namespace orvane::platform
