// The D2XX calls as the program makes them, reaching a recording FTD2XX.dll that sits beside the
// test program.
#include "platform/d2xx.h"
#include "tests/wine/fake_ftd2xx.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>

namespace {

// How far the stack pointer moved across `call`. A library called with the wrong calling
// convention (cdecl instead of WINAPI) pops its arguments a second time, or not at all.
std::intptr_t stackDrift(const std::function<void()>& call) {
    std::uintptr_t before = 0;
    std::uintptr_t after = 0;
    asm volatile("movl %%esp, %0" : "=r"(before)::"memory");
    call();
    asm volatile("movl %%esp, %0" : "=r"(after)::"memory");
    return static_cast<std::intptr_t>(after - before);
}

FakeD2xxLog& fakeLog() {
    const HMODULE module = GetModuleHandleA("FTD2XX.dll");
    if (!module)
        throw std::runtime_error("FTD2XX.dll is not loaded");
    const auto logOf = reinterpret_cast<FakeD2xxLogFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "FakeD2xxLog")));
    if (!logOf)
        throw std::runtime_error("FTD2XX.dll is not the recording stand-in");
    return *logOf();
}

std::string folderOf(const std::string& path) {
    return path.substr(0, path.find_last_of("\\/"));
}

std::string modulePath(HMODULE module) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

class D2xxForwarding : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(FT_Open(0, &handle), FT_OK);
        ASSERT_EQ(handle, kFakeHandle);
    }
    void TearDown() override { FT_Close(handle); }

    FT_HANDLE handle = nullptr;
};

TEST_F(D2xxForwarding, LoadsTheLibraryBesideTheProgramAtTheFirstOpen) {
    EXPECT_STREQ(fakeLog().last, "FT_Open");
    EXPECT_EQ(fakeLog().args[0], 0u); // device number
    const HMODULE library = GetModuleHandleA("FTD2XX.dll");
    EXPECT_EQ(folderOf(modulePath(library)), folderOf(modulePath(nullptr)));
}

TEST_F(D2xxForwarding, EachCallReachesTheLibraryWithItsArgumentsAndStatus) {
    std::uint8_t readBuffer[5] = {};
    std::uint32_t count = 0;
    struct Case {
        const char* name;
        std::function<FT_STATUS()> call;
        std::array<std::uint32_t, 4> args; // what the library must see after the handle
        int argCount;
    };
    const auto address = [](const void* p) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
    };
    const Case cases[] = {
        {"FT_SetBaudRate", [&] { return FT_SetBaudRate(handle, 19200); }, {19200}, 1},
        {"FT_SetDataCharacteristics",
         [&] { return FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, 2); },
         {8, 0, 2},
         3},
        {"FT_SetFlowControl",
         [&] { return FT_SetFlowControl(handle, 0x0400, 0x11, 0x13); },
         {0x0400, 0x11, 0x13},
         3},
        {"FT_SetTimeouts", [&] { return FT_SetTimeouts(handle, 20, 7); }, {20, 7}, 2},
        {"FT_Read",
         [&] { return FT_Read(handle, readBuffer, sizeof readBuffer, &count); },
         {address(readBuffer), sizeof readBuffer, address(&count)},
         3},
        {"FT_Write",
         [&] { return FT_Write(handle, "se", 2, &count); },
         {0, 2, address(&count)}, // the buffer's address is checked by its contents
         3},
        {"FT_Close", [&] { return FT_Close(handle); }, {}, 0},
    };
    for (const FT_STATUS answer : {FT_OK, FT_IO_ERROR}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (answer == FT_OK ? " succeeding" : " failing"));
            FakeD2xxLog& log = fakeLog();
            const int callsBefore = log.calls;
            log.nextStatus = answer;
            FT_STATUS status = 0xFFFF;
            EXPECT_EQ(stackDrift([&] { status = c.call(); }), 0);
            EXPECT_EQ(status, answer);
            EXPECT_EQ(log.calls, callsBefore + 1);
            EXPECT_STREQ(log.last, c.name);
            EXPECT_EQ(log.handle, handle);
            for (int i = 0; i < c.argCount; ++i) {
                if (std::strcmp(c.name, "FT_Write") == 0 && i == 0)
                    continue;
                EXPECT_EQ(log.args[i], c.args[static_cast<std::size_t>(i)]) << "argument " << i;
            }
        }
        EXPECT_EQ(std::memcmp(fakeLog().written, "se", 2), 0);
    }
    // The last successful read delivered the library's bytes and count.
    EXPECT_EQ(readBuffer[0], kFakeFirstByte);
    EXPECT_EQ(readBuffer[4], kFakeFirstByte + 4);
}

TEST_F(D2xxForwarding, FailedOpenGivesTheLibrarysStatusAndNoHandle) {
    fakeLog().nextStatus = FT_DEVICE_NOT_FOUND;
    FT_HANDLE second = kFakeHandle;
    EXPECT_EQ(FT_Open(1, &second), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(fakeLog().args[0], 1u);
}

} // namespace
