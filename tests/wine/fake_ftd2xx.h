#pragma once

#include <cstdint>

// Self-contained: the stand-in library defines the D2XX functions with the library's own
// signatures, which platform/d2xx.h must not meet.

// What the recording stand-in for FTD2XX.dll saw, reached through its export "FakeD2xxLog".
struct FakeD2xxLog {
    int calls;                // calls into the eight D2XX functions so far
    char last[32];            // name of the last one
    void* handle;             // the handle it was given (FT_Open: the one it handed out)
    std::uint32_t args[4];    // its other arguments, in order, as numbers
    std::uint8_t written[16]; // the first bytes FT_Write was given
    std::uint32_t nextStatus; // answered by the next call instead of 0 (then 0 again)
};

using FakeD2xxLogFn = FakeD2xxLog* (*)();

// The handle FT_Open hands out, and the bytes FT_Read delivers: 0x40, 0x41, ...
inline void* const kFakeHandle = reinterpret_cast<void*>(std::uintptr_t{0x5eed0});
inline constexpr std::uint8_t kFakeFirstByte = 0x40;
