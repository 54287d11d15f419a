// The simulated sensor as an in-process device.
#include "platform/device_selection.h"
#include "sim/paced_sensor.h"
#include "sim/replay_sensor.h"

#include <cstdio>

namespace orvane::platform {
namespace {

class SimDevice : public Device {
public:
    SimDevice(const sim::SimOptions& options, sim::PacedSensor::TimePoint epoch)
        : sensor_(options, epoch) {}
    explicit SimDevice(std::unique_ptr<sim::SensorModel> model) : sensor_(std::move(model)) {}

    FT_STATUS read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs,
                   std::uint32_t* received) override {
        const std::int64_t n = sensor_.read(static_cast<std::uint8_t*>(buffer), length, timeoutMs);
        if (n < 0)
            return FT_IO_ERROR;
        *received = static_cast<std::uint32_t>(n);
        return FT_OK;
    }

    FT_STATUS write(const void* data, std::uint32_t length, std::uint32_t /*timeoutMs*/,
                    std::uint32_t* written) override {
        const std::int64_t n = sensor_.write(static_cast<const std::uint8_t*>(data), length);
        if (n < 0)
            return FT_IO_ERROR;
        *written = static_cast<std::uint32_t>(n);
        return FT_OK;
    }

    // The model has no line settings to get wrong; a pulled cable fails them like a real bridge.
    FT_STATUS setBaudRate(std::uint32_t) override { return settle(); }
    FT_STATUS setDataCharacteristics(std::uint8_t, std::uint8_t, std::uint8_t) override {
        return settle();
    }
    FT_STATUS setFlowControl(std::uint16_t, std::uint8_t, std::uint8_t) override {
        return settle();
    }

private:
    FT_STATUS settle() { return sensor_.write(nullptr, 0) < 0 ? FT_IO_ERROR : FT_OK; }

    sim::PacedSensor sensor_;
};

} // namespace

FT_STATUS openSimDevice(const std::string& options, std::unique_ptr<Device>& device) {
    sim::SimOptions parsed;
    std::string error;
    if (!sim::parseSimOptions(options, parsed, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return FT_DEVICE_NOT_FOUND;
    }
    // One sensor per option text for the whole process: opened again, its clock, lean and cable
    // go on. It was plugged in when first opened; later it opens only while its cable is in.
    bool first = false;
    const auto epoch = sim::sensorEpoch(options, first);
    if (!first && !sim::SimulatedSensor::cableInAt(parsed, sim::PacedSensor::sinceEpoch(epoch)))
        return FT_DEVICE_NOT_FOUND;
    device = std::make_unique<SimDevice>(parsed, epoch);
    return FT_OK;
}

FT_STATUS openReplayDevice(const std::string& options, std::unique_ptr<Device>& device) {
    sim::ReplayOptions parsed;
    sim::Recording recording;
    std::string error;
    if (!sim::parseReplayOptions(options, parsed, error) ||
        !sim::loadRecording(parsed.path, recording, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return FT_DEVICE_NOT_FOUND;
    }
    device = std::make_unique<SimDevice>(
        std::make_unique<sim::ReplaySensor>(std::move(recording), parsed.rate, parsed.loop));
    return FT_OK;
}

} // namespace orvane::platform
