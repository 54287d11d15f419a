// No FTD2XX.dll beside this test program, nor anywhere Windows looks: a machine without FTDI's
// driver.
#include "platform/d2xx.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(D2xxMissingLibrary, MeansNoDeviceAndEveryCallRefusesItsHandle) {
    testing::internal::CaptureStderr();
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(1);
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(said.find("FTD2XX.dll could not be loaded"), std::string::npos) << said;

    // Asking again neither crashes nor finds a library.
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(0, nullptr), FT_DEVICE_NOT_FOUND);

    std::uint32_t count = 0;
    char buffer[4];
    for (const FT_HANDLE any : {static_cast<FT_HANDLE>(nullptr), reinterpret_cast<FT_HANDLE>(8)}) {
        EXPECT_EQ(FT_Read(any, buffer, 4, &count), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Write(any, buffer, 4, &count), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetBaudRate(any, 19200), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetDataCharacteristics(any, 8, 0, 0), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetFlowControl(any, 0, 0, 0), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_SetTimeouts(any, 20, 0), FT_INVALID_HANDLE);
        EXPECT_EQ(FT_Close(any), FT_INVALID_HANDLE);
    }
}

} // namespace
