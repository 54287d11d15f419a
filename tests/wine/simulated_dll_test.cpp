// The simulated FTD2XX.dll, beside this test program, reached through the program's own D2XX
// calls.
#include "platform/d2xx.h"
#include "sim/sim_options.h"
#include "sim/simulated_sensor.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Reads until `count` bytes have come or `limit` has passed.
Bytes readBytes(FT_HANDLE handle, std::size_t count, std::chrono::milliseconds limit) {
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::uint8_t buffer[512];
        std::uint32_t got = 0;
        const auto want = static_cast<std::uint32_t>(std::min(sizeof buffer, count - bytes.size()));
        if (FT_Read(handle, buffer, want, &got) != FT_OK)
            break;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

FT_STATUS writeText(FT_HANDLE handle, const std::string& text) {
    std::uint32_t written = 0;
    const FT_STATUS status =
        FT_Write(handle, text.data(), static_cast<std::uint32_t>(text.size()), &written);
    EXPECT_EQ(written, status == FT_OK ? text.size() : 0u);
    return status;
}

double elapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

class SimulatedDll : public testing::Test {
protected:
    // Opens device 0 with ORVANE_DEVICE set to `device` (null: unset).
    FT_STATUS open(const char* device, FT_HANDLE& handle) {
        SetEnvironmentVariableA("ORVANE_DEVICE", device);
        const FT_STATUS status = FT_Open(0, &handle);
        if (status == FT_OK)
            opened_.push_back(handle);
        return status;
    }
    void TearDown() override {
        for (FT_HANDLE handle : opened_)
            FT_Close(handle);
        SetEnvironmentVariableA("ORVANE_DEVICE", nullptr);
    }

private:
    std::vector<FT_HANDLE> opened_;
};

TEST_F(SimulatedDll, ServesTheSensorModelsBytesAsTheLinkAsksForThem) {
    // Seeded: the noise, and so every frame, is the model's own whatever the reads' timing.
    const std::string options = "x=1.5,y=-0.75,seed=7,rate=200";
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(open(("sim:" + options).c_str(), handle), FT_OK);
    EXPECT_EQ(FT_SetBaudRate(handle, 19200), FT_OK);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
    EXPECT_EQ(FT_SetFlowControl(handle, FT_FLOW_NONE, 0, 0), FT_OK);
    EXPECT_EQ(FT_SetTimeouts(handle, 20, 0), FT_OK);

    // The same model, fed the same commands on a clock of its own.
    orvane::sim::SimOptions parsed;
    std::string error;
    ASSERT_TRUE(orvane::sim::parseSimOptions(options, parsed, error)) << error;
    orvane::sim::SimulatedSensor model(parsed);
    orvane::sim::SimTime modelClock = 0s;
    const auto modelAnswer = [&](const std::string& command, std::size_t count) {
        model.write(reinterpret_cast<const std::uint8_t*>(command.data()), command.size(),
                    modelClock);
        modelClock += 2s;
        Bytes bytes(count);
        bytes.resize(static_cast<std::size_t>(model.read(bytes.data(), count, modelClock)));
        return bytes;
    };

    ASSERT_EQ(writeText(handle, "se"), FT_OK);
    EXPECT_EQ(readBytes(handle, 1, 2s), Bytes{'e'});
    EXPECT_EQ(modelAnswer("se", 1), Bytes{'e'});

    ASSERT_EQ(writeText(handle, "c"), FT_OK);
    const Bytes reference = readBytes(handle, 8, 2s);
    std::uint8_t expectedReference[8];
    orvane::sim::encodeFrame(';', 0, 1000, 0, expectedReference);
    EXPECT_EQ(reference, Bytes(expectedReference, expectedReference + 8));
    EXPECT_EQ(modelAnswer("c", 8), reference);

    constexpr std::size_t kFrames = 100;
    ASSERT_EQ(writeText(handle, "g"), FT_OK);
    const auto asked = std::chrono::steady_clock::now();
    const Bytes samples = readBytes(handle, kFrames * 8, 5s);
    const double streamMs = elapsedMs(asked);
    ASSERT_EQ(samples.size(), kFrames * 8);
    EXPECT_EQ(samples, modelAnswer("g", kFrames * 8));
    // Paced as the sensor would: 100 frames at 200 per second take about half a second.
    EXPECT_GE(streamMs, 400.0);

    // The lean the options asked for, as the viewer's readouts will show it.
    double sumX = 0, sumY = 0;
    for (std::size_t f = 0; f < kFrames; ++f) {
        const std::uint8_t* frame = &samples[f * 8];
        ASSERT_EQ(frame[0], ':');
        const auto count = [&](int i) {
            return static_cast<std::int16_t>((frame[1 + 2 * i] << 8) | frame[2 + 2 * i]);
        };
        sumX += std::atan2(-count(0), count(1)) * 180.0 / 3.141592653589793;
        sumY += std::atan2(count(2), count(1)) * 180.0 / 3.141592653589793;
    }
    EXPECT_NEAR(sumX / kFrames, 1.5, 0.05);
    EXPECT_NEAR(sumY / kFrames, -0.75, 0.05);
}

TEST_F(SimulatedDll, RefusesSelectionsItCannotServeWithOneLine) {
    struct Case {
        const char* device;
        int deviceNumber;
    };
    const Case refused[] = {
        {"sim:x=abc", 0}, {"sim:bogus=1", 0}, {"tty:/dev/ttyUSB0", 0}, {"ftdi", 0}, {"sim", 1},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(std::string(c.device) + " device " + std::to_string(c.deviceNumber));
        SetEnvironmentVariableA("ORVANE_DEVICE", c.device);
        FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(FT_Open(c.deviceNumber, &handle), FT_DEVICE_NOT_FOUND);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(handle, nullptr);
        if (c.deviceNumber == 0) {
            ASSERT_FALSE(said.empty());
            EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
        }
    }
    // Unset, or plain "sim": the simulated sensor with its defaults.
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(open(nullptr, handle), FT_OK);
    EXPECT_EQ(open("sim", handle), FT_OK);
}

TEST_F(SimulatedDll, APulledCableFailsEveryCall) {
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(open("sim:unplug=0.2", handle), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(handle, 20, 0), FT_OK);
    EXPECT_EQ(FT_SetBaudRate(handle, 19200), FT_OK);
    EXPECT_EQ(writeText(handle, "se"), FT_OK);
    Sleep(300);
    std::uint8_t buffer[8];
    std::uint32_t count = 0;
    EXPECT_EQ(FT_Read(handle, buffer, sizeof buffer, &count), FT_IO_ERROR);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(writeText(handle, "g"), FT_IO_ERROR);
    EXPECT_EQ(FT_SetBaudRate(handle, 19200), FT_IO_ERROR);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, 8, 0, 0), FT_IO_ERROR);
    EXPECT_EQ(FT_SetFlowControl(handle, 0, 0, 0), FT_IO_ERROR);
}

TEST_F(SimulatedDll, ChecksHandlesAndArguments) {
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(open("sim", handle), FT_OK);
    std::uint8_t buffer[8];
    std::uint32_t count = 0;
    EXPECT_EQ(FT_SetBaudRate(handle, 0), FT_INVALID_BAUD_RATE);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, 9, 0, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, 8, 1, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, 8, 0, 5), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetFlowControl(handle, 0x0300, 0, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Read(handle, buffer, sizeof buffer, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Write(handle, nullptr, 2, &count), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Open(0, nullptr), FT_INVALID_PARAMETER);

    const FT_HANDLE stranger =
        reinterpret_cast<FT_HANDLE>(reinterpret_cast<std::uintptr_t>(handle) + 4);
    EXPECT_EQ(FT_Read(stranger, buffer, sizeof buffer, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetTimeouts(stranger, 20, 0), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(handle), FT_OK);
    EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Write(handle, "se", 2, &count), FT_INVALID_HANDLE);
}

TEST_F(SimulatedDll, ReadsWaitForTheirTimeoutOnlyWhenNothingComes) {
    FT_HANDLE silent = nullptr;
    ASSERT_EQ(open("sim:silent", silent), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(silent, 150, 0), FT_OK);
    ASSERT_EQ(writeText(silent, "se"), FT_OK);
    std::uint8_t buffer[8];
    std::uint32_t count = 99;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FT_Read(silent, buffer, sizeof buffer, &count), FT_OK);
    EXPECT_GE(elapsedMs(start), 130.0);
    EXPECT_EQ(count, 0u);

    FT_HANDLE answering = nullptr;
    ASSERT_EQ(open("sim", answering), FT_OK);
    ASSERT_EQ(FT_SetTimeouts(answering, 5000, 0), FT_OK);
    ASSERT_EQ(writeText(answering, "se"), FT_OK);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(FT_Read(answering, buffer, sizeof buffer, &count), FT_OK);
    EXPECT_LT(elapsedMs(start), 2500.0);
    EXPECT_EQ(count, 1u);
}

} // namespace
