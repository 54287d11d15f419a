#pragma once

// A line that chatters without end, for the stop tests and benchmarks: a sample frame every few
// milliseconds whose magnitude (2 g) fails the estimator's gate, and nothing else. A receive on
// it never runs out of quiet reads. Outside Windows only (it is a D2XX backend of ours).

#include "platform/device_backend.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace orvane::test_support {

class ChattyBackend : public platform::DeviceBackend {
public:
    class Chatter : public platform::Device {
    public:
        FT_STATUS read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs,
                       std::uint32_t* received) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 4u)));
            const std::uint8_t frame[8] = {':', 0x00, 0x00, 0x07, 0xD0, 0x00, 0x00, 0x28};
            const std::uint32_t n = std::min<std::uint32_t>(length, sizeof frame);
            std::memcpy(buffer, frame, n);
            *received = n;
            return FT_OK;
        }
        FT_STATUS write(const void*, std::uint32_t length, std::uint32_t,
                        std::uint32_t* written) override {
            *written = length;
            return FT_OK;
        }
        FT_STATUS setBaudRate(std::uint32_t) override { return FT_OK; }
        FT_STATUS setDataCharacteristics(std::uint8_t, std::uint8_t, std::uint8_t) override {
            return FT_OK;
        }
        FT_STATUS setFlowControl(std::uint16_t, std::uint8_t, std::uint8_t) override {
            return FT_OK;
        }
    };
    FT_STATUS open(int, std::unique_ptr<platform::Device>& device) override {
        device = std::make_unique<Chatter>();
        return FT_OK;
    }
};

// Makes FT_Open open chatty devices for the life of the object.
class ChattyLine {
public:
    ChattyLine() { platform::installDeviceBackend(&backend_); }
    ~ChattyLine() { platform::installDeviceBackend(nullptr); }
    ChattyLine(const ChattyLine&) = delete;
    ChattyLine& operator=(const ChattyLine&) = delete;

private:
    ChattyBackend backend_;
};

} // namespace orvane::test_support
