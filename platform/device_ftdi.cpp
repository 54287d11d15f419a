// FTDI bridges through libftdi1 (and libusb), without the kernel's serial driver.
#include "platform/device_selection.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ftdi.h>
#include <libusb.h>
#include <unistd.h>

namespace orvane::platform {
namespace {

using Clock = std::chrono::steady_clock;

// The chip holds back a partly filled packet for its latency timer (16 ms by default); 2 ms lets
// a frame through at once without flooding the bus with empty packets.
constexpr unsigned char kLatencyTimerMs = 2;
// libusb's limit for one transfer when the caller gave no write time-out; 0 would mean none.
constexpr int kDefaultWriteTimeoutMs = 5000;

class LibftdiDevice : public Device {
public:
    explicit LibftdiDevice(ftdi_context* context) : context_(context) {}
    ~LibftdiDevice() override {
        ftdi_usb_close(context_);
        ftdi_free(context_);
    }

    // ftdi_read_data returns what the chip had, possibly nothing, after at most about one
    // latency period; the loop repeats it until bytes come or the time-out is over.
    FT_STATUS read(void* buffer, std::uint32_t length, std::uint32_t timeoutMs,
                   std::uint32_t* received) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        auto* bytes = static_cast<unsigned char*>(buffer);
        for (;;) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            // Bounds the USB transfer should the chip stop answering; never 0 (no limit).
            context_->usb_read_timeout = static_cast<int>(left > 0 ? left : 0) + 10;
            const int n = ftdi_read_data(context_, bytes, static_cast<int>(length));
            if (n < 0)
                return FT_IO_ERROR;
            if (n > 0) {
                *received = static_cast<std::uint32_t>(n);
                return FT_OK;
            }
            if (Clock::now() >= deadline)
                return FT_OK;
        }
    }

    FT_STATUS write(const void* data, std::uint32_t length, std::uint32_t timeoutMs,
                    std::uint32_t* written) override {
        context_->usb_write_timeout =
            timeoutMs ? static_cast<int>(timeoutMs) : kDefaultWriteTimeoutMs;
        const int n = ftdi_write_data(context_, static_cast<const unsigned char*>(data),
                                      static_cast<int>(length));
        if (n < 0)
            return FT_IO_ERROR;
        *written = static_cast<std::uint32_t>(n);
        return FT_OK;
    }

    FT_STATUS setBaudRate(std::uint32_t baudRate) override {
        return ftdi_set_baudrate(context_, static_cast<int>(baudRate)) < 0 ? FT_IO_ERROR : FT_OK;
    }

    FT_STATUS setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                     std::uint8_t parity) override {
        const int status = ftdi_set_line_property(context_, wordLength == 7 ? BITS_7 : BITS_8,
                                                  stopBits == 2 ? STOP_BIT_2 : STOP_BIT_1,
                                                  static_cast<ftdi_parity_type>(parity));
        return status < 0 ? FT_IO_ERROR : FT_OK;
    }

    // D2XX's flow-control numbers are the chip's own (SIO_*_HS).
    FT_STATUS setFlowControl(std::uint16_t flowControl, std::uint8_t xon,
                             std::uint8_t xoff) override {
        const int status = flowControl == SIO_XON_XOFF_HS
                               ? ftdi_setflowctrl_xonxoff(context_, xon, xoff)
                               : ftdi_setflowctrl(context_, flowControl);
        return status < 0 ? FT_IO_ERROR : FT_OK;
    }

private:
    ftdi_context* context_;
};

} // namespace

FT_STATUS openLibftdiDevice(int index, std::unique_ptr<Device>& device) {
    if (index < 0)
        return FT_DEVICE_NOT_FOUND;
    ftdi_context* context = ftdi_new();
    if (!context)
        return FT_DEVICE_NOT_FOUND; // libusb could not start: no USB to look at
    // Vendor and product 0 make libftdi look for FTDI's own ids (0x0403 with its standard
    // products).
    ftdi_device_list* list = nullptr;
    const int count = ftdi_usb_find_all(context, &list, 0, 0);
    libusb_device* chosen = nullptr;
    int i = 0;
    for (ftdi_device_list* d = list; d && count > 0; d = d->next, ++i) {
        if (i == index) {
            chosen = d->dev;
            break;
        }
    }
    FT_STATUS status = FT_DEVICE_NOT_FOUND;
    if (chosen) {
        status = ftdi_usb_open_dev(context, chosen) < 0 ? FT_DEVICE_NOT_OPENED : FT_OK;
        // libftdi does not say why an open failed; the device node does.
        if (status != FT_OK) {
            char node[64];
            std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u",
                          static_cast<unsigned>(libusb_get_bus_number(chosen)),
                          static_cast<unsigned>(libusb_get_device_address(chosen)));
            if (::access(node, R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
                reportNoAccess(node);
        }
        if (status == FT_OK &&
            (ftdi_set_latency_timer(context, kLatencyTimerMs) < 0 || ftdi_tcioflush(context) < 0)) {
            ftdi_usb_close(context);
            status = FT_IO_ERROR;
        }
    }
    ftdi_list_free(&list);
    if (status != FT_OK) {
        ftdi_free(context);
        return status;
    }
    device = std::make_unique<LibftdiDevice>(context);
    return FT_OK;
}

} // namespace orvane::platform
