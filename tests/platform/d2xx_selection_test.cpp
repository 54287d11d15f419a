// The D2XX layer outside Windows: choosing a backend by ORVANE_DEVICE, handle and argument
// checks, the libftdi1 path without a device, and the in-process simulated sensor.
#include "link/sensor_link.h"
#include "platform/d2xx.h"
#include "platform/device_selection.h"
#include "sensor/frame_decoder.h"
#include "tests/link/ftdi_fake_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

namespace orvane {
namespace {

using platform::DeviceSelection;

// Sets ORVANE_DEVICE for the life of the object (unset for nullopt) and restores it.
class DeviceVariable {
public:
    explicit DeviceVariable(std::optional<std::string> value) {
        if (const char* old = std::getenv("ORVANE_DEVICE"))
            saved_ = old;
        if (value)
            setenv("ORVANE_DEVICE", value->c_str(), 1);
        else
            unsetenv("ORVANE_DEVICE");
    }
    ~DeviceVariable() {
        if (saved_)
            setenv("ORVANE_DEVICE", saved_->c_str(), 1);
        else
            unsetenv("ORVANE_DEVICE");
    }

private:
    std::optional<std::string> saved_;
};

TEST(DeviceSelectionTest, AcceptedValues) {
    struct Case {
        const char* value;
        DeviceSelection::Kind kind;
        int ftdiIndex;
        const char* text; // path or sim options
    };
    const Case cases[] = {
        {nullptr, DeviceSelection::Kind::Ftdi, -1, ""},
        {"", DeviceSelection::Kind::Ftdi, -1, ""},
        {"ftdi", DeviceSelection::Kind::Ftdi, -1, ""},
        {"ftdi:0", DeviceSelection::Kind::Ftdi, 0, ""},
        {"ftdi:12", DeviceSelection::Kind::Ftdi, 12, ""},
        {"tty:/dev/ttyUSB0", DeviceSelection::Kind::Tty, -1, "/dev/ttyUSB0"},
        {"tty:/dev/pts/3", DeviceSelection::Kind::Tty, -1, "/dev/pts/3"},
        {"sim", DeviceSelection::Kind::Sim, -1, ""},
        {"sim:", DeviceSelection::Kind::Sim, -1, ""},
        {"sim:x=2,noise=0", DeviceSelection::Kind::Sim, -1, "x=2,noise=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        DeviceSelection s;
        std::string error;
        ASSERT_TRUE(platform::parseDeviceSelection(c.value, s, error)) << error;
        EXPECT_EQ(s.kind, c.kind);
        EXPECT_EQ(s.ftdiIndex, c.ftdiIndex);
        EXPECT_EQ(c.kind == DeviceSelection::Kind::Tty ? s.ttyPath : s.simOptions, c.text);
    }
}

TEST(DeviceSelectionTest, AnythingElseFailsWithOneLineSayingWhatIsAccepted) {
    for (const char* value : {"ftdi:", "ftdi:x", "ftdi:-1", "ftdi:1x", "tty:", "tty", "simulator",
                              "FTDI", "usb:0", "/dev/ttyUSB0"}) {
        SCOPED_TRACE(value);
        DeviceSelection s;
        std::string error;
        EXPECT_FALSE(platform::parseDeviceSelection(value, s, error));
        EXPECT_NE(error.find(value), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    DeviceSelection s;
    std::string error;
    platform::parseDeviceSelection("bogus", s, error);
    for (const char* accepted : {"ftdi", "ftdi:N", "tty:PATH", "sim"})
        EXPECT_NE(error.find(accepted), std::string::npos) << error;
}

TEST(D2xxOpenTest, UnusableSelectionsFailToOpenWithALineOnStandardError) {
    struct Case {
        const char* value;
        const char* named;
    };
    for (const Case c : {Case{"bogus", "bogus"}, Case{"sim:colour=red", "colour"},
                         Case{"sim:rate=-1", "rate=-1"}}) {
        SCOPED_TRACE(c.value);
        DeviceVariable device(c.value);
        FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(1);
        ::testing::internal::CaptureStderr();
        EXPECT_NE(FT_Open(0, &handle), FT_OK);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(handle, nullptr);
        EXPECT_NE(err.find(c.named), std::string::npos) << err;
        ASSERT_FALSE(err.empty());
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    }
}

TEST(D2xxOpenTest, LibftdiWithoutADeviceCannotOpen) {
    // Unset, "ftdi" and "ftdi:N" all go to libftdi1. Bridge number 200 is there on no machine,
    // also not on a field engineer's with a bridge or two plugged in.
    constexpr int kAbsent = 200;
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>("ftdi"),
          std::optional<std::string>("ftdi:200")}) {
        SCOPED_TRACE(value.value_or("(unset)"));
        DeviceVariable device(value);
        FT_HANDLE handle = nullptr;
        EXPECT_NE(FT_Open(kAbsent, &handle), FT_OK);
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(openFtdiDevice(kAbsent, 19200), nullptr);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "unable to open communication device");
    }
}

TEST(D2xxCallsTest, CheckHandlesAndArguments) {
    DeviceVariable device("sim:silent");
    std::uint8_t byte = 0;
    std::uint32_t count = 7;
    EXPECT_EQ(FT_Open(0, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Read(nullptr, &byte, 1, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(nullptr), FT_INVALID_HANDLE);

    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    FT_HANDLE other = nullptr;
    EXPECT_EQ(FT_Open(1, &other), FT_DEVICE_NOT_FOUND); // one simulated sensor
    EXPECT_EQ(FT_SetBaudRate(handle, 0), FT_INVALID_BAUD_RATE);
    EXPECT_EQ(FT_SetBaudRate(handle, 19200), FT_OK);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, 9, FT_STOP_BITS_1, FT_PARITY_NONE),
              FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, FT_BITS_8, 1, FT_PARITY_NONE),
              FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, 5),
              FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
    EXPECT_EQ(FT_SetFlowControl(handle, 0x0300, 0, 0), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_SetFlowControl(handle, FT_FLOW_NONE, 0, 0), FT_OK);
    EXPECT_EQ(FT_Read(handle, nullptr, 1, &count), FT_INVALID_PARAMETER);
    EXPECT_EQ(FT_Read(handle, &byte, 0, &count), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FT_Close(handle), FT_OK);
    EXPECT_EQ(FT_Read(handle, &byte, 1, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
}

// Leaves the process-wide link as it found it, whatever the test did.
struct LinkCleanup {
    ~LinkCleanup() {
        closeLink();
        receiveBuffer.downstream = receiveBuffer.pendingDownstream = nullptr;
    }
};

// The acquisition's walk through "se", "c" and "g" against the in-process simulated sensor.
TEST(SimDeviceTest, AnswersThroughTheWholeLink) {
    DeviceVariable device("sim:rate=100,seed=9");
    FrameDecoder decoder;
    testing::RecordingConsumer replies;
    replies.completes = [](const ByteBuffer&) { return true; };
    decoder.setDownstream(&replies);
    LinkCleanup cleanup;
    ASSERT_TRUE(openLink(&decoder, 0, 19200));

    for (const char* command : {"se", "c", "g"}) {
        SCOPED_TRACE(command);
        beginExchange();
        EXPECT_TRUE(sendCommand(ByteBuffer(command)));
        EXPECT_TRUE(receiveReply(0));
    }
    ASSERT_EQ(replies.received.size(), 17u);
    EXPECT_EQ(replies.received[0], 'e');
    EXPECT_EQ(replies.received[1], ';');
    EXPECT_EQ(replies.received[9], ':');
}

TEST(SimDeviceTest, UnpluggedDeviceFailsAndReceiveStillTakesItsTime) {
    DeviceVariable device("sim:unplug=0");
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    std::uint8_t byte;
    std::uint32_t count = 0;
    EXPECT_EQ(FT_Read(handle, &byte, 1, &count), FT_IO_ERROR);
    EXPECT_EQ(FT_Write(handle, "se", 2, &count), FT_IO_ERROR);
    EXPECT_EQ(FT_SetBaudRate(handle, 19200), FT_IO_ERROR);
    FT_Close(handle);
    // The cable stays out: the device does not open again.
    EXPECT_EQ(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND);

    // The whole link: the device fails at once; the receive gives up as soon as it sees the
    // device gone, after the failed read's own time-out, so the caller neither spins nor waits.
    DeviceVariable other("sim:unplug=0,seed=2");
    FtdiSource* source = new FtdiSource;
    ASSERT_EQ(FT_Open(0, &source->ftHandle), FT_OK);
    FtdiConnection connection(source, source);
    EXPECT_FALSE(connection.lost());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(connection.receive(100));
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(connection.lost());
    EXPECT_GE(spent, std::chrono::milliseconds(20));
    EXPECT_LT(spent, std::chrono::milliseconds(80));
}

TEST(SimDeviceTest, ReplugBringsBackAFreshSensorOnANewHandleOnly) {
    DeviceVariable device("sim:unplug=0.1,replug=0.2,seed=3");
    FT_HANDLE before = nullptr;
    ASSERT_EQ(FT_Open(0, &before), FT_OK);
    std::uint32_t count = 0;
    ASSERT_EQ(FT_Write(before, "g", 1, &count), FT_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    std::uint8_t buffer[64];
    EXPECT_EQ(FT_Read(before, buffer, sizeof buffer, &count), FT_IO_ERROR);
    FT_HANDLE during = nullptr;
    EXPECT_EQ(FT_Open(0, &during), FT_DEVICE_NOT_FOUND);

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    FT_HANDLE after = nullptr;
    ASSERT_EQ(FT_Open(0, &after), FT_OK);
    // The handle from before the pull stays dead.
    EXPECT_EQ(FT_Read(before, buffer, sizeof buffer, &count), FT_IO_ERROR);
    // The new one reaches a sensor that lost power: it streams only after "g" again.
    ASSERT_EQ(FT_SetTimeouts(after, 100, 0), FT_OK);
    EXPECT_EQ(FT_Read(after, buffer, sizeof buffer, &count), FT_OK);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(FT_Write(after, "se", 2, &count), FT_OK);
    ASSERT_EQ(FT_Read(after, buffer, sizeof buffer, &count), FT_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(buffer[0], 'e');
    FT_Close(before);
    FT_Close(after);
}

} // namespace
} // namespace orvane
