#include "platform/device_selection.h"

#include <charconv>
#include <string_view>

namespace orvane::platform {

bool parseDeviceSelection(const char* value, DeviceSelection& selection, std::string& error) {
    DeviceSelection parsed;
    const std::string_view text = value ? value : "";
    if (text.empty() || text == "ftdi") {
        parsed.kind = DeviceSelection::Kind::Ftdi;
    } else if (text.starts_with("ftdi:")) {
        const std::string_view digits = text.substr(5);
        int index = -1;
        const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
        if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() ||
            index < 0) {
            error = "ORVANE_DEVICE=" + std::string(text) +
                    ": the FTDI device number must be a whole number from 0 (ftdi:N)";
            return false;
        }
        parsed.kind = DeviceSelection::Kind::Ftdi;
        parsed.ftdiIndex = index;
    } else if (text.starts_with("tty:") && text.size() > 4) {
        parsed.kind = DeviceSelection::Kind::Tty;
        parsed.ttyPath = std::string(text.substr(4));
    } else if (text == "sim" || text.starts_with("sim:")) {
        parsed.kind = DeviceSelection::Kind::Sim;
        parsed.simOptions = text == "sim" ? std::string() : std::string(text.substr(4));
    } else if (text.starts_with("replay:") && text.size() > 7) {
        parsed.kind = DeviceSelection::Kind::Replay;
        parsed.replay = std::string(text.substr(7));
    } else {
        error = "ORVANE_DEVICE=" + std::string(text) +
                " is not understood; accepted: unset or ftdi (first FTDI device), ftdi:N, "
                "tty:PATH (a serial tty), sim or sim:key=value,... (the simulated sensor), "
                "replay:FILE[,rate=HZ][,loop] (a recording)";
        return false;
    }
    selection = parsed;
    return true;
}

} // namespace orvane::platform
