#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvane {

// The viewer's optional command line. Without arguments it behaves exactly as designed.
struct ViewerOptions {
    std::optional<std::string> device; // as ORVANE_DEVICE, which it overrides
    std::optional<std::string> log;    // the CSV log of what the viewer shows
    std::optional<std::string> record; // the bytes received from the sensor
    bool force = false;                // overwrite an existing log or recording
};

enum class ViewerRequest { Run, Help, Version, Usage };

inline constexpr const char* kViewerUsage =
    "usage: orvane-viewer [--device DEVICE] [--log FILE.csv] [--record FILE.bin] [--force]\n"
    "\n"
    "Shows how far the tower leans, live, from the sensor behind an FTDI USB-serial bridge.\n"
    "\n"
    "options:\n"
    "  --device DEVICE    the sensor as ORVANE_DEVICE gives it (ftdi, ftdi:N, tty:PATH,\n"
    "                     sim[:k=v,...], replay:FILE[,rate=HZ][,loop]); wins over it\n"
    "  --log FILE.csv     log what the viewer shows, as orvane monitor prints it\n"
    "  --record FILE.bin  record the bytes received, for orvane decode or replay:FILE\n"
    "  --force            overwrite an existing log or recording\n"
    "  --help             show this help\n"
    "  --version          show the version\n";

// Reads the arguments after the program's name. Usage comes with one line in `message` saying
// what is wrong.
ViewerRequest parseViewerArguments(const std::vector<std::string>& args, ViewerOptions& options,
                                   std::string& message);

// Makes `device` the device choice of this process, as ORVANE_DEVICE would: what --device does
// in the viewer and in orvane monitor.
void selectDevice(const std::string& device);

// Splits a Windows command line (without the program's name, as WinMain receives it) into
// arguments by the Windows rules: blanks separate, double quotes group, 2n backslashes before a
// quote make n and an unescaped quote, 2n+1 make n and a literal quote.
std::vector<std::string> splitWindowsCommandLine(const char* line);
// The command line that splitWindowsCommandLine splits back into `args`.
std::string joinWindowsCommandLine(const std::vector<std::string>& args);

} // namespace orvane
