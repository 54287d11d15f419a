// The tty backend end to end, against the simulated sensor served by `orvane sim --pty`.
#include "link/sensor_link.h"
#include "platform/d2xx.h"
#include "sensor/frame_decoder.h"
#include "tests/link/ftdi_fake_device.h"
#include "tests/support/pty_sensor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The simulated sensor on a pseudo-terminal for the life of the object; ORVANE_DEVICE names its
// terminal meanwhile.
class PtySensor : public test_support::PtySensor {
public:
    explicit PtySensor(const std::string& options) : test_support::PtySensor(ORVANE_TOOL, options) {
        setenv("ORVANE_DEVICE", ("tty:" + path()).c_str(), 1);
    }
    ~PtySensor() {
        stop(SIGTERM);
        unsetenv("ORVANE_DEVICE");
    }
};

std::vector<std::uint8_t> readFor(FT_HANDLE handle, milliseconds span) {
    std::vector<std::uint8_t> bytes;
    const auto end = Clock::now() + span;
    std::uint8_t buffer[512];
    while (Clock::now() < end) {
        std::uint32_t n = 0;
        if (FT_Read(handle, buffer, sizeof buffer, &n) != FT_OK)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

void write(FT_HANDLE handle, const char* command) {
    std::uint32_t n = 0;
    ASSERT_EQ(FT_Write(handle, command, static_cast<std::uint32_t>(std::strlen(command)), &n),
              FT_OK);
    EXPECT_EQ(n, std::strlen(command));
}

TEST(TtyDeviceTest, OpensConfiguresAndTalksToTheSensor) {
    PtySensor sensor("seed=1,rate=100,noise=0");
    ASSERT_FALSE(sensor.path().empty());
    ::testing::internal::CaptureStdout();
    FT_HANDLE handle = openFtdiDevice(0, 19200);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    ASSERT_NE(handle, nullptr);
    FT_SetTimeouts(handle, 20, 0);

    write(handle, "se");
    EXPECT_EQ(readFor(handle, milliseconds(100)), std::vector<std::uint8_t>{'e'});
    write(handle, "c");
    EXPECT_EQ(readFor(handle, milliseconds(100)),
              (std::vector<std::uint8_t>{0x3b, 0x00, 0x00, 0x03, 0xe8, 0x00, 0x00, 0x14}));
    write(handle, "g");
    const auto stream = readFor(handle, milliseconds(500));
    EXPECT_EQ(stream.size() % 8, 0u);
    EXPECT_NEAR(static_cast<double>(stream.size()) / 8, 50, 8);
    for (std::size_t i = 0; i < stream.size(); i += 8)
        EXPECT_EQ(stream[i], ':');

    // Exclusive: nobody else gets the terminal while it is open.
    FT_HANDLE second = nullptr;
    EXPECT_NE(FT_Open(0, &second), FT_OK);
    FT_Close(handle);
}

TEST(TtyDeviceTest, QuietReadsLastTheirTimeout) {
    PtySensor sensor("silent");
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    for (const int timeout : {1, 5, 20, 50}) {
        SCOPED_TRACE(timeout);
        FT_SetTimeouts(handle, static_cast<std::uint32_t>(timeout), 0);
        std::vector<Clock::duration> took;
        for (int i = 0; i < 5; ++i) {
            std::uint8_t buffer[16];
            std::uint32_t n = 99;
            const auto start = Clock::now();
            EXPECT_EQ(FT_Read(handle, buffer, sizeof buffer, &n), FT_OK);
            took.push_back(Clock::now() - start);
            EXPECT_EQ(n, 0u);
        }
        std::sort(took.begin(), took.end());
        EXPECT_GE(took.front(), milliseconds(timeout)); // never early
        // Within a few ms: the quickest of the reads shows what the backend itself adds, the
        // slower ones also how busy the machine is.
        EXPECT_LE(took.front(), milliseconds(timeout + 3));
        EXPECT_LE(took[2], milliseconds(timeout + 15));
    }
    FT_Close(handle);
}

TEST(TtyDeviceTest, FarEndClosedIsAnIoError) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        PtySensor sensor("");
        FT_HANDLE handle = nullptr;
        ASSERT_EQ(FT_Open(0, &handle), FT_OK);
        FT_SetTimeouts(handle, 1000, 0);
        EXPECT_EQ(sensor.stop(signal), 0); // a clean exit
        std::uint8_t buffer[16];
        std::uint32_t n = 0;
        const auto start = Clock::now();
        EXPECT_EQ(FT_Read(handle, buffer, sizeof buffer, &n), FT_IO_ERROR);
        EXPECT_LT(Clock::now() - start, milliseconds(500)); // at once, not after the time-out
        EXPECT_EQ(FT_Write(handle, "g", 1, &n), FT_IO_ERROR);
        FT_Close(handle);
    }
}

TEST(TtyDeviceTest, UnpluggedSensorGoesAwayAfterItsTime) {
    PtySensor sensor("unplug=0.2,rate=50");
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    FT_SetTimeouts(handle, 20, 0);
    write(handle, "g");
    std::uint8_t buffer[64];
    std::uint32_t n = 0;
    FT_STATUS status = FT_OK;
    std::size_t received = 0;
    const auto start = Clock::now();
    while (status == FT_OK && Clock::now() - start < milliseconds(2000)) {
        status = FT_Read(handle, buffer, sizeof buffer, &n);
        received += n;
    }
    EXPECT_EQ(status, FT_IO_ERROR);
    EXPECT_GT(received, 0u);
    FT_Close(handle);
}

// The link as the viewer drives it: decoder and consumer over the terminal.
TEST(TtyDeviceTest, LinkReceivesFramesOverTheTerminal) {
    PtySensor sensor("seed=2");
    FrameDecoder decoder;
    testing::RecordingConsumer samples;
    samples.completes = [](const ByteBuffer& b) { return b.data[0] == ':'; };
    decoder.setDownstream(&samples);
    struct Cleanup {
        ~Cleanup() {
            closeLink();
            receiveBuffer.downstream = receiveBuffer.pendingDownstream = nullptr;
        }
    } cleanup;
    ASSERT_TRUE(openLink(&decoder, 0, 19200));
    beginExchange();
    sendCommand(ByteBuffer("g"));
    for (int i = 0; i < 3; ++i) {
        const int before = samples.puts;
        EXPECT_TRUE(receiveReply(0));
        EXPECT_EQ(samples.puts, before + 1); // ends with the frame that completed it
        beginExchange();
    }
    EXPECT_EQ(samples.received.size(), 8u * samples.puts);
}

TEST(SimServerTest, RefusesBadOptionsWithOneLineNamingThem) {
    for (const char* option : {"colour=red", "rate=fast"}) {
        SCOPED_TRACE(option);
        const std::string command = std::string(ORVANE_TOOL) + " sim --pty " + option + " 2>&1";
        std::FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        const int status = pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
        EXPECT_NE(out.find(std::string(option).substr(0, std::string(option).find('='))),
                  std::string::npos);
        EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    }
}

} // namespace
} // namespace orvane
