#pragma once

// A scripted sensor device for tests of the link and of its users. It never sleeps: every read
// answers at once from a script, and a virtual clock (installed as the link's clock) advances by
// what each read would have taken, so time-outs and waits become numbers a test can check.
//
//     orvane::testing::FakeDevice device;
//     device.onWrite = [](FakeDevice& d, std::span<const std::uint8_t> bytes) {
//         if (bytes.size() == 2 && bytes[0] == 's' && bytes[1] == 'e')
//             d.queueBytes("e");
//     };
//     orvane::testing::FakeDeviceScope scope(device);  // linkFactory now opens `device`
//     ASSERT_TRUE(orvane::openLink(&consumer, 0, 19200));
//     ... device.reads, device.written, device.elapsed ...
//
// FakeDeviceScope::Route::Factory (the default, on every system) points linkFactory at a factory
// whose links read `device` through an FtdiConnection, so receive and flush run their real
// timing. Route::Backend (not on Windows) installs the device behind the FT_* calls instead, so
// that openFtdiDevice, FtdiPort and the FTDI LinkFactory run for real as well.

#include "link/channel.h"
#include "link/link_clock.h"
#include "link/link_connection.h"
#include "link/sensor_link.h"
#include "platform/d2xx.h"
#ifndef _WIN32
#include "platform/device_backend.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace orvane::testing {

class FakeDevice : public LinkClock {
public:
    struct Read {
        std::uint32_t requested;
        std::uint32_t timeoutMs;
        std::int32_t result; // bytes delivered, 0 for a quiet read, -1 for a failed one
    };
    // What reads do once the script is used up.
    enum class Idle { Quiet, Fail, Noise };

    // Script: each entry answers one read.
    void queueBytes(std::vector<std::uint8_t> bytes) {
        script_.push_back({Step::Bytes, std::move(bytes)});
    }
    void queueBytes(std::initializer_list<std::uint8_t> bytes) {
        queueBytes(std::vector<std::uint8_t>(bytes));
    }
    void queueBytes(std::string_view text) {
        queueBytes(std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    void queueQuiet(int count = 1) {
        for (int i = 0; i < count; ++i)
            script_.push_back({Step::Quiet, {}});
    }
    void queueFail(int count = 1) {
        for (int i = 0; i < count; ++i)
            script_.push_back({Step::Fail, {}});
    }
    std::size_t scriptLeft() const { return script_.size(); }

    Idle whenIdle = Idle::Quiet;
    std::vector<std::uint8_t> noise = std::vector<std::uint8_t>(64, 0x55); // for Idle::Noise
    // Called after each write with the bytes written; may queue the answer.
    std::function<void(FakeDevice&, std::span<const std::uint8_t>)> onWrite;

    // Virtual time a read takes: a quiet one its time-out, a delivering one deliveryTime, a
    // failing one nothing (it fails at once, as a pulled cable does).
    std::chrono::milliseconds deliveryTime{1};

    // Answers of the set-up calls and of writes.
    FT_STATUS openStatus = FT_OK;
    FT_STATUS baudStatus = FT_OK;
    FT_STATUS dataStatus = FT_OK;
    FT_STATUS flowStatus = FT_OK;
    FT_STATUS writeStatus = FT_OK;

    // What happened.
    std::vector<Read> reads;
    std::vector<std::uint8_t> written;
    std::vector<std::chrono::steady_clock::duration> sleeps; // waits asked of the clock
    std::chrono::steady_clock::duration elapsed{};           // virtual time since construction
    int opens = 0;
    int closes = 0;
    std::uint32_t baudRate = 0;
    int wordLength = -1, stopBits = -1, parity = -1, flowControl = -1;

    // The device side.
    FT_STATUS read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs,
                   std::uint32_t* received) {
        *received = 0;
        Step step = script_.empty() ? idleStep() : std::move(script_.front());
        if (!script_.empty())
            script_.pop_front();
        switch (step.kind) {
        case Step::Quiet:
            elapsed += std::chrono::milliseconds(timeoutMs);
            reads.push_back({length, timeoutMs, 0});
            return FT_OK;
        case Step::Fail:
            reads.push_back({length, timeoutMs, -1});
            return FT_IO_ERROR;
        case Step::Bytes:
            break;
        }
        const std::size_t n = std::min<std::size_t>(length, step.bytes.size());
        std::memcpy(buffer, step.bytes.data(), n);
        if (n < step.bytes.size()) // the rest answers the next read
            script_.push_front(
                {Step::Bytes,
                 {step.bytes.begin() + static_cast<std::ptrdiff_t>(n), step.bytes.end()}});
        elapsed += deliveryTime;
        *received = static_cast<std::uint32_t>(n);
        reads.push_back({length, timeoutMs, static_cast<std::int32_t>(n)});
        return FT_OK;
    }

    FT_STATUS write(const void* data, std::uint32_t length, std::uint32_t* count) {
        *count = 0;
        if (writeStatus != FT_OK)
            return writeStatus;
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        written.insert(written.end(), bytes, bytes + length);
        *count = length;
        if (onWrite)
            onWrite(*this, std::span<const std::uint8_t>(bytes, length));
        return FT_OK;
    }

    // The clock side.
    TimePoint now() override { return TimePoint{} + elapsed; }
    void sleepUntil(TimePoint when) override {
        const auto wait = when > now() ? when - now() : std::chrono::steady_clock::duration{};
        sleeps.push_back(wait);
        elapsed += wait;
    }

private:
    struct Step {
        enum Kind { Bytes, Quiet, Fail } kind;
        std::vector<std::uint8_t> bytes;
    };
    Step idleStep() const {
        switch (whenIdle) {
        case Idle::Fail:
            return {Step::Fail, {}};
        case Idle::Noise:
            return {Step::Bytes, noise};
        case Idle::Quiet:
            break;
        }
        return {Step::Quiet, {}};
    }

    std::deque<Step> script_;
};

// A link head that reads a FakeDevice, as an FtdiSource reads its handle.
class FakeSource : public TimedChannel, public ChannelSource {
public:
    explicit FakeSource(FakeDevice& device) : device_(device) {}
    ~FakeSource() override { ++device_.closes; }

    void setReadTimeout(std::int32_t milliseconds) override {
        readTimeoutMs_ = static_cast<std::uint32_t>(milliseconds < 0 ? 0 : milliseconds);
    }
    std::int32_t read(void* data, std::int32_t length) override {
        std::uint32_t n = 0;
        if (device_.read(data, static_cast<std::uint32_t>(length), readTimeoutMs_, &n) != FT_OK)
            return -1;
        return static_cast<std::int32_t>(n);
    }
    using Channel::write;
    std::int32_t write(const void* data, std::int32_t length) override {
        std::uint32_t n = 0;
        if (device_.write(data, static_cast<std::uint32_t>(length), &n) != FT_OK)
            return -1;
        return static_cast<std::int32_t>(n);
    }

private:
    FakeDevice& device_;
    std::uint32_t readTimeoutMs_ = 0;
};

// Opens FtdiConnections over FakeSources; fails (printing nothing) while openStatus is not FT_OK.
class FakeLinkFactory : public LinkFactory {
public:
    explicit FakeLinkFactory(FakeDevice& device) : device_(device) {}
    LinkConnection* open(ChannelSource*& source, std::int32_t, std::int32_t) override {
        source = nullptr;
        ++device_.opens;
        if (device_.openStatus != FT_OK)
            return nullptr;
        auto* head = new FakeSource(device_);
        head->isOpen = true;
        source = head;
        return new FtdiConnection(head, head);
    }

private:
    FakeDevice& device_;
};

#ifndef _WIN32
// The FakeDevice behind the FT_* calls.
class FakeBackend : public platform::DeviceBackend {
public:
    explicit FakeBackend(FakeDevice& device) : device_(device) {}
    FT_STATUS open(int, std::unique_ptr<platform::Device>& device) override {
        ++device_.opens;
        if (device_.openStatus != FT_OK)
            return device_.openStatus;
        device = std::make_unique<Port>(device_);
        return FT_OK;
    }

private:
    class Port : public platform::Device {
    public:
        explicit Port(FakeDevice& device) : d_(device) {}
        ~Port() override { ++d_.closes; }
        FT_STATUS read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs,
                       std::uint32_t* received) override {
            return d_.read(buffer, length, timeoutMs, received);
        }
        FT_STATUS write(const void* data, std::uint32_t length, std::uint32_t,
                        std::uint32_t* count) override {
            return d_.write(data, length, count);
        }
        FT_STATUS setBaudRate(std::uint32_t baudRate) override {
            d_.baudRate = baudRate;
            return d_.baudStatus;
        }
        FT_STATUS setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                         std::uint8_t parity) override {
            d_.wordLength = wordLength;
            d_.stopBits = stopBits;
            d_.parity = parity;
            return d_.dataStatus;
        }
        FT_STATUS setFlowControl(std::uint16_t flowControl, std::uint8_t, std::uint8_t) override {
            d_.flowControl = flowControl;
            return d_.flowStatus;
        }

    private:
        FakeDevice& d_;
    };

    FakeDevice& device_;
};
#endif

// The end of a receive chain for tests: keeps every byte put to it, counts resets and upstream
// changes, and reports a complete reply (signalDone 1) when `completes` says so.
class RecordingConsumer : public LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        received.insert(received.end(), block.data, block.data + block.length);
        ++puts;
        if (completes && completes(block))
            static_cast<Stage&>(*this).signalDone(1);
    }
    bool reset() override {
        ++resets;
        return resetAnswer;
    }
    bool deleteOnDetach() override { return false; }
    void setUpstream(LinkedStage* stage) override {
        ++upstreamChanges;
        LinkedStage::setUpstream(stage);
    }
    void signalDone(std::int32_t value) override {
        if (upstream)
            upstream->signalDone(value);
    }

    std::function<bool(const ByteBuffer&)> completes;
    bool resetAnswer = true;
    std::vector<std::uint8_t> received;
    int puts = 0;
    int resets = 0;
    int upstreamChanges = 0;
};

// Puts a FakeDevice in place for the life of the scope: the link's clock and, by route, the
// link factory or the FT_* backend. On exit it closes any open link, unhooks the receive buffer
// from the test's stages (without calling them) and restores everything. Declare the device and
// the consumer before the scope, so that they outlive it.
class FakeDeviceScope {
public:
    enum class Route { Factory, Backend };

    explicit FakeDeviceScope(FakeDevice& device, Route route = Route::Factory)
        : factory_(device)
#ifndef _WIN32
          ,
          backend_(device)
#endif
    {
        savedClock_ = linkClock;
        savedFactory_ = linkFactory;
        linkClock = &device;
        if (route == Route::Factory)
            linkFactory = &factory_;
#ifndef _WIN32
        else
            platform::installDeviceBackend(&backend_);
#endif
    }
    ~FakeDeviceScope() {
        closeLink();
        // The static receive buffer must not keep pointing at the test's stages.
        receiveBuffer.downstream = nullptr;
        receiveBuffer.pendingDownstream = nullptr;
        receiveBuffer.reset();
#ifndef _WIN32
        platform::installDeviceBackend(nullptr);
#endif
        linkFactory = savedFactory_;
        linkClock = savedClock_;
    }
    FakeDeviceScope(const FakeDeviceScope&) = delete;
    FakeDeviceScope& operator=(const FakeDeviceScope&) = delete;

private:
    FakeLinkFactory factory_;
#ifndef _WIN32
    FakeBackend backend_;
#endif
    LinkClock* savedClock_ = nullptr;
    LinkFactory* savedFactory_ = nullptr;
};

} // namespace orvane::testing
