// `orvane decode`: replays a recording of what a sensor sent through the viewer's frame decoder
// and tilt estimator, and prints every accepted sample as CSV.

#include "sensor/frame_decoder.h"
#include "sensor/tilt_estimator.h"
#include "sensor/tilt_readout.h"
#include "sensor/view_rotation.h"
#include "tools/subcommand.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace orvane::tools {
namespace {

constexpr const char* kUsage =
    "usage: orvane decode [FILE|-] [--view-angle DEG]\n"
    "\n"
    "Decodes raw bytes recorded from the sensor (replies, frames and noise in any mix) with the\n"
    "viewer's arithmetic and prints one CSV line per accepted sample:\n"
    "  sample,t0,t1,t2,off_axis,angle_x,angle_y,total_tilt\n"
    "FILE '-' or no FILE reads standard input.\n"
    "\n"
    "options:\n"
    "  --view-angle DEG  turn the view by DEG degrees about the tower axis, as the rotate\n"
    "                    buttons do (default 0)\n"
    "  -h, --help        show this help\n";

// Same block size as a device read.
constexpr std::size_t kBlockSize = 512;

int usageError() {
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// A finite decimal number and nothing else (no leading blanks, no trailing characters).
bool parseAngle(const char* text, float& value) {
    if (*text == '\0' || std::strchr(" \t\n\v\f\r", *text))
        return false;
    char* end = nullptr;
    errno = 0;
    const float parsed = std::strtof(text, &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

// The estimator with a CSV line for every sample it accepts. Output stops at the first failed
// write; the caller checks `writeFailed`.
class CsvEstimator : public TiltEstimator {
public:
    void put(const ByteBuffer& block) override {
        const std::uint32_t before = sampleCount;
        TiltEstimator::put(block);
        if (sampleCount == before || writeFailed)
            return;
        const TiltReadout r = readTilt(tiltVector, offAxisMeasure);
        // The sample number as an integer: "%.9g" would round counts from 1e9 up.
        if (std::printf("%lu,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n",
                        static_cast<unsigned long>(sampleCount), tiltVector[0], tiltVector[1],
                        tiltVector[2], offAxisMeasure, r.angleX, r.angleY, r.totalTilt) < 0) {
            writeFailed = true;
            writeErrno = errno;
        }
    }

    bool writeFailed = false;
    int writeErrno = 0;
};

// Ends quietly when the reader has gone away; any other failure to write is reported.
int finishOutput(bool failed, int error) {
    if (!failed && std::fflush(stdout) != 0) {
        failed = true;
        error = errno;
    }
    if (!failed)
        return kExitOk;
    if (error == EPIPE)
        return kExitOk;
    std::fprintf(stderr, "orvane decode: standard output: %s\n", std::strerror(error));
    return kExitFailure;
}

int runDecode(std::span<char* const> args) {
    const char* path = nullptr;
    float viewAngle = 0.0f;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (!optionsEnded && arg == "--view-angle") {
            if (i + 1 == args.size() || !parseAngle(args[i + 1], viewAngle))
                return usageError();
            ++i;
        } else if (!optionsEnded && arg.starts_with("--view-angle=")) {
            if (!parseAngle(args[i] + std::strlen("--view-angle="), viewAngle))
                return usageError();
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usageError();
        } else if (path) {
            return usageError(); // one input only
        } else {
            path = args[i];
        }
    }

    const bool fromStdin = !path || std::string_view(path) == "-";
    const char* name = fromStdin ? "standard input" : path;
    std::FILE* in = fromStdin ? stdin : std::fopen(path, "rb");
    if (!in) {
        std::fprintf(stderr, "orvane decode: cannot open %s: %s\n", name, std::strerror(errno));
        return kExitUsage;
    }
    ignoreBrokenPipe();

    FrameDecoder decoder;
    CsvEstimator estimator;
    decoder.setDownstream(&estimator);
    estimator.setViewRotation(viewRotationForAngle(viewAngle));

    bool failed = std::fputs("sample,t0,t1,t2,off_axis,angle_x,angle_y,total_tilt\n", stdout) < 0;
    int writeError = failed ? errno : 0;
    std::uint8_t block[kBlockSize];
    int readError = 0;
    while (!failed && !estimator.writeFailed) {
        errno = 0;
        const std::size_t n = std::fread(block, 1, sizeof block, in);
        if (n > 0)
            decoder.put(ByteBuffer(block, static_cast<std::uint32_t>(n)));
        if (n < sizeof block) {
            if (std::ferror(in))
                readError = errno ? errno : EIO;
            break;
        }
    }
    if (estimator.writeFailed) {
        failed = true;
        writeError = estimator.writeErrno;
    }
    if (!fromStdin)
        std::fclose(in);
    if (readError && !failed) {
        std::fflush(stdout);
        std::fprintf(stderr, "orvane decode: cannot read %s: %s\n", name, std::strerror(readError));
        return kExitUsage;
    }
    return finishOutput(failed, writeError);
}

const SubcommandRegistration
    registration({"decode", "decode recorded sensor bytes to CSV tilt samples", runDecode});

} // namespace
} // namespace orvane::tools
