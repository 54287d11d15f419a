// The eight D2XX calls outside Windows: handles over the Devices of platform/device_backend.h.
#include "platform/d2xx.h"
#include "platform/device_backend.h"
#include "platform/device_selection.h"
#include "platform/handle_registry.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace orvane::platform {
namespace {

struct OpenDevice {
    std::mutex lock; // serialises the calls on this handle; guards everything below
    std::unique_ptr<Device> device;
    std::uint32_t readTimeoutMs = 0;
    std::uint32_t writeTimeoutMs = 0;
};

HandleRegistry<OpenDevice>& registry() {
    static HandleRegistry<OpenDevice> instance;
    return instance;
}

std::atomic<DeviceBackend*> installedBackend{nullptr};

std::shared_ptr<OpenDevice> find(FT_HANDLE handle) {
    return registry().find(handle);
}

FT_STATUS openSelected(int deviceNumber, std::unique_ptr<Device>& device) {
    DeviceSelection selection;
    std::string error;
    if (!parseDeviceSelection(std::getenv("ORVANE_DEVICE"), selection, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return FT_DEVICE_NOT_FOUND;
    }
    if (deviceNumber < 0)
        return FT_DEVICE_NOT_FOUND;
    switch (selection.kind) {
    case DeviceSelection::Kind::Ftdi:
        return openLibftdiDevice(selection.ftdiIndex >= 0 ? selection.ftdiIndex : deviceNumber,
                                 device);
    case DeviceSelection::Kind::Tty:
        // One path names one device.
        return deviceNumber == 0 ? openTtyDevice(selection.ttyPath, device) : FT_DEVICE_NOT_FOUND;
    case DeviceSelection::Kind::Sim:
        return deviceNumber == 0 ? openSimDevice(selection.simOptions, device)
                                 : FT_DEVICE_NOT_FOUND;
    case DeviceSelection::Kind::Replay:
        return deviceNumber == 0 ? openReplayDevice(selection.replay, device) : FT_DEVICE_NOT_FOUND;
    }
    return FT_DEVICE_NOT_FOUND;
}

// D2XX's numbering of the settings that the common FT_SetDataCharacteristics and
// FT_SetFlowControl arguments may take.
constexpr std::uint8_t kBits7 = 7;
constexpr std::uint8_t kStopBits2 = 2;
constexpr std::uint8_t kParitySpace = 4;
constexpr std::uint16_t kFlowRtsCts = 0x0100;
constexpr std::uint16_t kFlowDtrDsr = 0x0200;
constexpr std::uint16_t kFlowXonXoff = 0x0400;

} // namespace

void installDeviceBackend(DeviceBackend* backend) {
    installedBackend.store(backend);
}

} // namespace orvane::platform

using orvane::platform::OpenDevice;

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) {
    using namespace orvane::platform;
    if (!handle)
        return FT_INVALID_PARAMETER;
    *handle = nullptr;
    std::unique_ptr<Device> device;
    DeviceBackend* const backend = installedBackend.load();
    const FT_STATUS status =
        backend ? backend->open(deviceNumber, device) : openSelected(deviceNumber, device);
    if (status != FT_OK)
        return status;
    if (!device)
        return FT_OTHER_ERROR;
    auto open = std::make_shared<OpenDevice>();
    open->device = std::move(device);
    *handle = registry().add(std::move(open));
    return FT_OK;
}

FT_STATUS FT_Close(FT_HANDLE handle) {
    // The device closes when the last call still using it returns.
    return orvane::platform::registry().remove(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                  std::uint32_t* bytesReturned) {
    const auto open = orvane::platform::find(handle);
    if (!open)
        return FT_INVALID_HANDLE;
    if (!bytesReturned || (!buffer && bytesToRead > 0))
        return FT_INVALID_PARAMETER;
    *bytesReturned = 0;
    if (bytesToRead == 0)
        return FT_OK;
    std::lock_guard<std::mutex> guard(open->lock);
    std::uint32_t received = 0;
    const FT_STATUS status =
        open->device->read(buffer, bytesToRead, open->readTimeoutMs, &received);
    *bytesReturned = received > bytesToRead ? bytesToRead : received;
    return status;
}

FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                   std::uint32_t* bytesWritten) {
    const auto open = orvane::platform::find(handle);
    if (!open)
        return FT_INVALID_HANDLE;
    if (!bytesWritten || (!buffer && bytesToWrite > 0))
        return FT_INVALID_PARAMETER;
    *bytesWritten = 0;
    if (bytesToWrite == 0)
        return FT_OK;
    std::lock_guard<std::mutex> guard(open->lock);
    std::uint32_t written = 0;
    const FT_STATUS status =
        open->device->write(buffer, bytesToWrite, open->writeTimeoutMs, &written);
    *bytesWritten = written > bytesToWrite ? bytesToWrite : written;
    return status;
}

FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate) {
    const auto open = orvane::platform::find(handle);
    if (!open)
        return FT_INVALID_HANDLE;
    if (baudRate == 0)
        return FT_INVALID_BAUD_RATE;
    std::lock_guard<std::mutex> guard(open->lock);
    return open->device->setBaudRate(baudRate);
}

FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                    std::uint8_t stopBits, std::uint8_t parity) {
    using namespace orvane::platform;
    const auto open = find(handle);
    if (!open)
        return FT_INVALID_HANDLE;
    if ((wordLength != FT_BITS_8 && wordLength != kBits7) ||
        (stopBits != FT_STOP_BITS_1 && stopBits != kStopBits2) || parity > kParitySpace)
        return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(open->lock);
    return open->device->setDataCharacteristics(wordLength, stopBits, parity);
}

FT_STATUS FT_SetFlowControl(FT_HANDLE handle, std::uint16_t flowControl, std::uint8_t xon,
                            std::uint8_t xoff) {
    using namespace orvane::platform;
    const auto open = find(handle);
    if (!open)
        return FT_INVALID_HANDLE;
    if (flowControl != FT_FLOW_NONE && flowControl != kFlowRtsCts && flowControl != kFlowDtrDsr &&
        flowControl != kFlowXonXoff)
        return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(open->lock);
    return open->device->setFlowControl(flowControl, xon, xoff);
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, std::uint32_t readTimeoutMs,
                         std::uint32_t writeTimeoutMs) {
    const auto open = orvane::platform::find(handle);
    if (!open)
        return FT_INVALID_HANDLE;
    std::lock_guard<std::mutex> guard(open->lock);
    open->readTimeoutMs = readTimeoutMs;
    open->writeTimeoutMs = writeTimeoutMs;
    return FT_OK;
}
