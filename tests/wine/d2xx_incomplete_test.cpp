// Beside this test program sits an FTD2XX.dll that lacks FT_SetTimeouts.
#include "platform/d2xx.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(D2xxIncompleteLibrary, IsRefusedAndReleasedWithoutBeingCalled) {
    testing::internal::CaptureStderr();
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(1);
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(said.find("FT_SetTimeouts"), std::string::npos) << said;
    // The stand-in's FT_Open marks the environment when it runs.
    EXPECT_EQ(GetEnvironmentVariableA("ORVANE_FAKE_D2XX_OPENED", nullptr, 0), 0u);
    EXPECT_EQ(GetModuleHandleA("FTD2XX.dll"), nullptr);

    std::uint32_t count = 0;
    char buffer[4];
    const FT_HANDLE any = reinterpret_cast<FT_HANDLE>(0x5eed0);
    EXPECT_EQ(FT_Read(any, buffer, 4, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Write(any, buffer, 4, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetBaudRate(any, 19200), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetTimeouts(any, 20, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(any), FT_INVALID_HANDLE);
}

} // namespace
