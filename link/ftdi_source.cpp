#include "link/ftdi_source.h"

#include <cstdio>

namespace orvane {

std::int32_t ftdiVerbose = 0;
std::atomic<bool> ftdiQuiet{false};

bool deviceGone(FT_STATUS status) {
    // FT_IO_ERROR is what D2XX and every backend here answer for a pulled device; the others
    // mean the handle itself is no longer valid.
    return status == FT_IO_ERROR || status == FT_DEVICE_NOT_FOUND || status == FT_INVALID_HANDLE ||
           status == FT_DEVICE_NOT_OPENED;
}

namespace {
void report(const char* message) {
    if (!ftdiQuiet.load())
        std::printf("%s", message);
}
} // namespace

FT_HANDLE openFtdiDevice(std::int32_t deviceIndex, std::int32_t baudRate) {
    FT_HANDLE handle = nullptr;
    if (FT_Open(deviceIndex, &handle) != FT_OK) {
        report("unable to open communication device");
        return nullptr;
    }
    if (ftdiVerbose)
        std::printf("ftopen\n");
    // A failed set-up releases the device, so that a later attempt can open it again.
    if (FT_SetBaudRate(handle, static_cast<std::uint32_t>(baudRate)) != FT_OK) {
        report("baud rate err");
        FT_Close(handle);
        return nullptr;
    }
    if (FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK) {
        report("port setup err");
        FT_Close(handle);
        return nullptr;
    }
    if (FT_SetFlowControl(handle, FT_FLOW_NONE, 0, 0) != FT_OK) {
        report("port flow err");
        FT_Close(handle);
        return nullptr;
    }
    FT_SetTimeouts(handle, 200, 0);
    return handle;
}

FtdiPort::~FtdiPort() {
    if (ftHandle)
        FT_Close(ftHandle);
}

std::int32_t FtdiPort::read(void* data, std::int32_t length) {
    if (length < 0)
        return -1;
    std::uint32_t count = 0;
    const FT_STATUS status = FT_Read(ftHandle, data, static_cast<std::uint32_t>(length), &count);
    if (status != FT_OK) {
        deviceLost = deviceLost || deviceGone(status);
        return -1;
    }
    return static_cast<std::int32_t>(count);
}

std::int32_t FtdiPort::write(const void* data, std::int32_t length) {
    if (length < 0)
        return -1;
    std::uint32_t count = 0;
    const FT_STATUS status = FT_Write(ftHandle, data, static_cast<std::uint32_t>(length), &count);
    if (status != FT_OK) {
        deviceLost = deviceLost || deviceGone(status);
        return -1;
    }
    return static_cast<std::int32_t>(count);
}

void FtdiPort::close() {
    if (ftHandle)
        FT_Close(ftHandle);
    ftHandle = nullptr;
    isOpen = false;
}

void FtdiSource::setReadTimeout(std::int32_t milliseconds) {
    FT_SetTimeouts(ftHandle, static_cast<std::uint32_t>(milliseconds < 0 ? 0 : milliseconds), 0);
}

} // namespace orvane
