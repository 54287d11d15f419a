// FTD2XX.dll for trying the Windows programs without the sensor: the eight D2XX calls over the
// simulated sensor. It serves device 0, configured by ORVANE_DEVICE as on Linux ("sim" or
// "sim:key=value,..."; unset means the defaults).
#include "platform/handle_registry.h"
#include "sim/paced_sensor.h"
#include "sim/replay_sensor.h"
#include "sim/sim_options.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

using FT_STATUS = ULONG;
using FT_HANDLE = void*;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_IO_ERROR = 4,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
};

struct SimDevice {
    SimDevice(const orvane::sim::SimOptions& options, orvane::sim::PacedSensor::TimePoint epoch)
        : sensor(options, epoch) {}
    explicit SimDevice(std::unique_ptr<orvane::sim::SensorModel> model)
        : sensor(std::move(model)) {}

    orvane::sim::PacedSensor sensor; // safe to use from several threads
    std::atomic<DWORD> readTimeoutMs{0};
};

orvane::platform::HandleRegistry<SimDevice>& registry() {
    // Never destroyed: at process exit a thread may have been ended inside a read.
    static auto* instance = new orvane::platform::HandleRegistry<SimDevice>;
    return *instance;
}

std::shared_ptr<SimDevice> find(FT_HANDLE handle) {
    return registry().find(handle);
}

// ORVANE_DEVICE's simulated-sensor options, or in `replay` a recording to play back; false (with
// one line on standard error) for any other selection or malformed options.
bool selectedOptions(orvane::sim::SimOptions& options, std::string& optionText,
                     std::optional<orvane::sim::ReplayOptions>& replay) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA("ORVANE_DEVICE", value, sizeof value);
    if (length >= sizeof value) {
        std::fprintf(stderr, "ORVANE_DEVICE is too long\n");
        return false;
    }
    const std::string_view text(value, length);
    std::string_view simOptions;
    if (text.empty() || text == "sim") {
        simOptions = {};
    } else if (text.starts_with("sim:")) {
        simOptions = text.substr(4);
    } else if (text.starts_with("replay:")) {
        orvane::sim::ReplayOptions parsed;
        std::string error;
        if (!orvane::sim::parseReplayOptions(text.substr(7), parsed, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        replay = parsed;
        return true;
    } else {
        std::fprintf(stderr,
                     "ORVANE_DEVICE=%.*s: this FTD2XX.dll serves only the simulated sensor "
                     "(unset, sim, sim:key=value,... or replay:FILE); FTDI's driver package has "
                     "the real one\n",
                     static_cast<int>(text.size()), text.data());
        return false;
    }
    optionText = simOptions;
    std::string error;
    if (!orvane::sim::parseSimOptions(simOptions, options, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return true;
}

// D2XX's numbering of the settings FT_SetDataCharacteristics and FT_SetFlowControl accept.
constexpr UCHAR kBits7 = 7, kBits8 = 8;
constexpr UCHAR kStopBits1 = 0, kStopBits2 = 2;
constexpr UCHAR kParitySpace = 4;
constexpr USHORT kFlowNone = 0x0000, kFlowRtsCts = 0x0100, kFlowDtrDsr = 0x0200,
                 kFlowXonXoff = 0x0400;

// The model has no line settings to get wrong; a pulled cable fails them like a real bridge.
FT_STATUS settle(SimDevice& device) {
    return device.sensor.write(nullptr, 0) < 0 ? FT_IO_ERROR : FT_OK;
}

} // namespace

extern "C" {

FT_STATUS WINAPI FT_Open(int deviceNumber, FT_HANDLE* handle) {
    if (!handle)
        return FT_INVALID_PARAMETER;
    *handle = nullptr;
    orvane::sim::SimOptions options;
    std::string text;
    std::optional<orvane::sim::ReplayOptions> replay;
    if (deviceNumber != 0 || !selectedOptions(options, text, replay))
        return FT_DEVICE_NOT_FOUND;
    if (replay) {
        orvane::sim::Recording recording;
        std::string error;
        if (!orvane::sim::loadRecording(replay->path, recording, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return FT_DEVICE_NOT_FOUND;
        }
        *handle =
            registry().add(std::make_shared<SimDevice>(std::make_unique<orvane::sim::ReplaySensor>(
                std::move(recording), replay->rate, replay->loop)));
        return FT_OK;
    }
    // As on Linux: one sensor per option text, plugged in at the first open; later opens fail
    // while its cable is out.
    bool first = false;
    const auto epoch = orvane::sim::sensorEpoch(text, first);
    if (!first && !orvane::sim::SimulatedSensor::cableInAt(
                      options, orvane::sim::PacedSensor::sinceEpoch(epoch)))
        return FT_DEVICE_NOT_FOUND;
    *handle = registry().add(std::make_shared<SimDevice>(options, epoch));
    return FT_OK;
}

FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    return registry().remove(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS WINAPI FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesReturned) {
    const auto device = find(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (!bytesReturned || (!buffer && bytesToRead > 0))
        return FT_INVALID_PARAMETER;
    *bytesReturned = 0;
    if (bytesToRead == 0)
        return FT_OK;
    const std::int64_t n = device->sensor.read(static_cast<std::uint8_t*>(buffer), bytesToRead,
                                               device->readTimeoutMs.load());
    if (n < 0)
        return FT_IO_ERROR;
    *bytesReturned = static_cast<DWORD>(n);
    return FT_OK;
}

FT_STATUS WINAPI FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                          LPDWORD bytesWritten) {
    const auto device = find(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (!bytesWritten || (!buffer && bytesToWrite > 0))
        return FT_INVALID_PARAMETER;
    *bytesWritten = 0;
    const std::int64_t n =
        device->sensor.write(static_cast<const std::uint8_t*>(buffer), bytesToWrite);
    if (n < 0)
        return FT_IO_ERROR;
    *bytesWritten = static_cast<DWORD>(n);
    return FT_OK;
}

FT_STATUS WINAPI FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate) {
    const auto device = find(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    return baudRate == 0 ? FT_INVALID_BAUD_RATE : settle(*device);
}

FT_STATUS WINAPI FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                           UCHAR parity) {
    const auto device = find(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if ((wordLength != kBits8 && wordLength != kBits7) ||
        (stopBits != kStopBits1 && stopBits != kStopBits2) || parity > kParitySpace)
        return FT_INVALID_PARAMETER;
    return settle(*device);
}

FT_STATUS WINAPI FT_SetFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR /*xon*/,
                                   UCHAR /*xoff*/) {
    const auto device = find(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    if (flowControl != kFlowNone && flowControl != kFlowRtsCts && flowControl != kFlowDtrDsr &&
        flowControl != kFlowXonXoff)
        return FT_INVALID_PARAMETER;
    return settle(*device);
}

FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG /*writeTimeoutMs*/) {
    const auto device = find(handle);
    if (!device)
        return FT_INVALID_HANDLE;
    // Writes to the model never wait, so only the read time-out matters.
    device->readTimeoutMs.store(readTimeoutMs);
    return FT_OK;
}

} // extern "C"
