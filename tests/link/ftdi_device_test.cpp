// openFtdiDevice, FtdiPort, FtdiSource and the FTDI LinkFactory over a scripted device behind the
// FT_* calls.
#include "tests/link/ftdi_fake_device.h"

#include <gtest/gtest.h>

#ifndef _WIN32

#include <chrono>
#include <string>

namespace orvane {
namespace {

using testing::FakeDevice;
using testing::FakeDeviceScope;

class FtdiDeviceTest : public ::testing::Test {
protected:
    FakeDevice device;
    FakeDeviceScope scope{device, FakeDeviceScope::Route::Backend};
};

TEST_F(FtdiDeviceTest, OpensAndConfiguresQuietly) {
    ::testing::internal::CaptureStdout();
    FT_HANDLE handle = openFtdiDevice(0, 19200);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(device.baudRate, 19200u);
    EXPECT_EQ(device.wordLength, 8);
    EXPECT_EQ(device.stopBits, 0);
    EXPECT_EQ(device.parity, 0);
    EXPECT_EQ(device.flowControl, 0);

    // The read time-out it leaves in force is 200 ms.
    std::uint8_t byte = 0;
    std::uint32_t count = 0;
    EXPECT_EQ(FT_Read(handle, &byte, 1, &count), FT_OK);
    ASSERT_EQ(device.reads.size(), 1u);
    EXPECT_EQ(device.reads[0].timeoutMs, 200u);
    FT_Close(handle);
}

TEST_F(FtdiDeviceTest, VerboseOpenAnnouncesItself) {
    ftdiVerbose = 1;
    ::testing::internal::CaptureStdout();
    FT_HANDLE handle = openFtdiDevice(0, 19200);
    const std::string out = ::testing::internal::GetCapturedStdout();
    ftdiVerbose = 0;
    EXPECT_EQ(out, "ftopen\n");
    FT_Close(handle);
}

TEST_F(FtdiDeviceTest, EachFailingStepPrintsItsMessageAndNothingElse) {
    struct Case {
        FT_STATUS FakeDevice::*status;
        const char* message;
        std::uint32_t baudSeen; // the first failing step ends the sequence
        int flowSeen;
    };
    const Case cases[] = {
        {&FakeDevice::openStatus, "unable to open communication device", 0, -1},
        {&FakeDevice::baudStatus, "baud rate err", 19200, -1},
        {&FakeDevice::dataStatus, "port setup err", 19200, -1},
        {&FakeDevice::flowStatus, "port flow err", 19200, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        device.*c.status = FT_IO_ERROR;
        device.baudRate = 0;
        device.flowControl = -1;
        const int closesBefore = device.closes;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(openFtdiDevice(0, 19200), nullptr);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message);
        EXPECT_EQ(device.baudRate, c.baudSeen);
        EXPECT_EQ(device.flowControl, c.flowSeen);
        // A device that opened is released again, so that a later attempt can have it.
        EXPECT_EQ(device.closes - closesBefore, c.status == &FakeDevice::openStatus ? 0 : 1);
        device.*c.status = FT_OK;
    }
}

TEST_F(FtdiDeviceTest, PortReportsCountsAndFailures) {
    FtdiSource source;
    ASSERT_EQ(FT_Open(0, &source.ftHandle), FT_OK);
    device.queueBytes("abc");
    device.queueFail();
    std::uint8_t buffer[8] = {};
    EXPECT_EQ(source.read(buffer, 8), 3);
    EXPECT_EQ(source.read(buffer, 8), -1);
    EXPECT_EQ(source.read(buffer, 8), 0);

    EXPECT_EQ(source.write("se", 2), 2);
    EXPECT_EQ(source.write(ByteBuffer("c")), 1);
    device.writeStatus = FT_IO_ERROR;
    EXPECT_EQ(source.write("g", 1), -1);
    EXPECT_EQ(std::string(device.written.begin(), device.written.end()), "sec");
}

TEST_F(FtdiDeviceTest, ReadTimeoutGoesToTheDeviceAndNegativeCountsAsZero) {
    FtdiSource source;
    ASSERT_EQ(FT_Open(0, &source.ftHandle), FT_OK);
    std::uint8_t buffer[4];
    source.setReadTimeout(37);
    source.read(buffer, 4);
    source.setReadTimeout(-5);
    source.read(buffer, 4);
    ASSERT_EQ(device.reads.size(), 2u);
    EXPECT_EQ(device.reads[0].timeoutMs, 37u);
    EXPECT_EQ(device.reads[1].timeoutMs, 0u);
}

TEST_F(FtdiDeviceTest, CloseReleasesTheHandleOnce) {
    auto* source = new FtdiSource;
    ASSERT_EQ(FT_Open(0, &source->ftHandle), FT_OK);
    source->isOpen = true;
    source->close();
    source->close();
    EXPECT_FALSE(source->isOpen);
    EXPECT_EQ(device.closes, 1);
    delete static_cast<Stage*>(source);
    EXPECT_EQ(device.closes, 1);
}

TEST_F(FtdiDeviceTest, FactoryBuildsAnOpenSourceOwnedByItsConnection) {
    LinkFactory factory;
    ChannelSource* source = reinterpret_cast<ChannelSource*>(&device); // must be overwritten
    LinkConnection* connection = factory.open(source, 0, 19200);
    ASSERT_NE(connection, nullptr);
    ASSERT_EQ(source, connection->source);
    EXPECT_TRUE(static_cast<Channel*>(source)->isOpen);
    EXPECT_EQ(source->downstream, nullptr);
    EXPECT_FALSE(source->done);

    // Its receive runs on the device's own time-outs.
    EXPECT_FALSE(connection->receive(1800));
    EXPECT_EQ(device.reads.size(), 88u);
    EXPECT_EQ(device.reads.back().timeoutMs, 20u);

    delete connection;
    EXPECT_EQ(device.closes, 1);
}

TEST_F(FtdiDeviceTest, FactoryFailureLeavesNoSource) {
    device.openStatus = FT_DEVICE_NOT_FOUND;
    LinkFactory factory;
    ChannelSource* source = reinterpret_cast<ChannelSource*>(&device);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(factory.open(source, 0, 19200), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "unable to open communication device");
    EXPECT_EQ(source, nullptr);
}

} // namespace
} // namespace orvane

#else

TEST(FtdiDeviceTest, NeedsTheDeviceSeamOfTheNonWindowsD2xxLayer) {
    GTEST_SKIP() << "on Windows the FT_* calls are FTD2XX.dll's";
}

#endif
