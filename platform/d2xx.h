#pragma once

#include <cstdint>

// The eight FTDI D2XX calls the link uses, under their own names and with D2XX's status values.
// On Windows they are taken from FTD2XX.dll at run time; elsewhere platform/ implements them over
// the backend that ORVANE_DEVICE selects (libftdi1, a serial tty or the simulated sensor).
using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_OTHER_ERROR = 18,
};

// Word lengths, stop bits, parity and flow control as D2XX numbers them.
inline constexpr std::uint8_t FT_BITS_8 = 8;
inline constexpr std::uint8_t FT_STOP_BITS_1 = 0;
inline constexpr std::uint8_t FT_PARITY_NONE = 0;
inline constexpr std::uint16_t FT_FLOW_NONE = 0x0000;

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle);
FT_STATUS FT_Close(FT_HANDLE handle);
// Returns after at most the read time-out with the bytes that arrived, possibly none.
FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t bytesToRead,
                  std::uint32_t* bytesReturned);
FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t bytesToWrite,
                   std::uint32_t* bytesWritten);
FT_STATUS FT_SetBaudRate(FT_HANDLE handle, std::uint32_t baudRate);
FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, std::uint8_t wordLength,
                                    std::uint8_t stopBits, std::uint8_t parity);
FT_STATUS FT_SetFlowControl(FT_HANDLE handle, std::uint16_t flowControl, std::uint8_t xon,
                            std::uint8_t xoff);
FT_STATUS FT_SetTimeouts(FT_HANDLE handle, std::uint32_t readTimeoutMs,
                         std::uint32_t writeTimeoutMs);
