// Stand-ins for FTD2XX.dll that record what they are given. Built whole, and without
// FT_SetTimeouts (FAKE_D2XX_INCOMPLETE) as a library that must be refused.
#include "tests/wine/fake_ftd2xx.h"

#include <windows.h>

#include <cstring>

using FT_STATUS = ULONG;
using FT_HANDLE = void*;
constexpr FT_STATUS FT_OK = 0;

namespace {

FakeD2xxLog fakeLog;

FT_STATUS record(const char* name, FT_HANDLE handle, std::uint32_t a0 = 0, std::uint32_t a1 = 0,
                 std::uint32_t a2 = 0, std::uint32_t a3 = 0) {
    ++fakeLog.calls;
    std::strncpy(fakeLog.last, name, sizeof fakeLog.last - 1);
    fakeLog.handle = handle;
    fakeLog.args[0] = a0;
    fakeLog.args[1] = a1;
    fakeLog.args[2] = a2;
    fakeLog.args[3] = a3;
    const FT_STATUS status = fakeLog.nextStatus;
    fakeLog.nextStatus = FT_OK;
    return status;
}

std::uint32_t number(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

} // namespace

extern "C" {

FakeD2xxLog* FakeD2xxLogOf() {
    return &fakeLog;
}

FT_STATUS WINAPI FT_Open(int deviceNumber, FT_HANDLE* handle) {
    SetEnvironmentVariableA("ORVANE_FAKE_D2XX_OPENED", "1");
    const FT_STATUS status =
        record("FT_Open", kFakeHandle, static_cast<std::uint32_t>(deviceNumber), number(handle));
    *handle = status == FT_OK ? kFakeHandle : nullptr;
    return status;
}

FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    return record("FT_Close", handle);
}

FT_STATUS WINAPI FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                         LPDWORD bytesReturned) {
    const FT_STATUS status =
        record("FT_Read", handle, number(buffer), bytesToRead, number(bytesReturned));
    *bytesReturned = 0;
    if (status == FT_OK) {
        auto* bytes = static_cast<std::uint8_t*>(buffer);
        for (DWORD i = 0; i < bytesToRead; ++i)
            bytes[i] = static_cast<std::uint8_t>(kFakeFirstByte + i);
        *bytesReturned = bytesToRead;
    }
    return status;
}

FT_STATUS WINAPI FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                          LPDWORD bytesWritten) {
    const FT_STATUS status =
        record("FT_Write", handle, number(buffer), bytesToWrite, number(bytesWritten));
    std::memcpy(fakeLog.written, buffer,
                bytesToWrite < sizeof fakeLog.written ? bytesToWrite : sizeof fakeLog.written);
    *bytesWritten = status == FT_OK ? bytesToWrite : 0;
    return status;
}

FT_STATUS WINAPI FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate) {
    return record("FT_SetBaudRate", handle, baudRate);
}

FT_STATUS WINAPI FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                           UCHAR parity) {
    return record("FT_SetDataCharacteristics", handle, wordLength, stopBits, parity);
}

FT_STATUS WINAPI FT_SetFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) {
    return record("FT_SetFlowControl", handle, flowControl, xon, xoff);
}

#ifndef FAKE_D2XX_INCOMPLETE
FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs) {
    return record("FT_SetTimeouts", handle, readTimeoutMs, writeTimeoutMs);
}
#endif

} // extern "C"
