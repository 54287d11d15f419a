// `orvane monitor`: the viewer's acquisition loop without a window, one CSV line per processed
// sample, for logging a tower's lean over hours.
#include "tools/subcommand.h"

#include "app/byte_recorder.h"
#include "app/csv_log.h"
#include "app/readout_sink.h"
#include "app/tower_monitor.h"
#include "app/viewer_options.h"
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"
#include "sensor/tilt_readout.h"
#include "tools/monitor_report.h"

#ifdef ORVANE_HAVE_MQTT
#include "tools/mqtt_publisher.h"
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::tools {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kNoDevice = "Could not find downtower accel comm interface";
constexpr const char* kHeader = kCsvHeader;
// How often the main thread looks at signals and the time limit while no line is due.
constexpr auto kWakeInterval = std::chrono::milliseconds(50);

void printHelp(std::FILE* out) {
    std::fprintf(
        out,
        "usage: orvane monitor [--device DEVICE] [--count N] [--seconds S]\n"
        "                      [--record FILE [--force]]\n\n"
        "Runs the viewer's acquisition loop without a window and prints one CSV line per\n"
        "trustworthy sample (the ones the viewer shows as numbers): %s\n"
        "  time    seconds since the start, 3 decimals\n"
        "  sample  the sensor's sample count\n"
        "  x, y    the tilts the viewer shows as X^ and Y^, degrees, 4 decimals\n"
        "  total   the tilt from the tower axis, degrees, 4 decimals\n"
        "  view    wide or close, the viewer's zoom\n"
        "  marker  green on a sensor axis, else yellow\n\n"
        "options:\n"
        "  --device DEVICE  the device as ORVANE_DEVICE gives it (ftdi, ftdi:N, tty:PATH,\n"
        "                   sim[:k=v,...], replay:FILE[,rate=HZ][,loop]); wins over\n"
        "                   ORVANE_DEVICE\n"
        "  --count N        stop after N lines\n"
        "  --seconds S      stop after S seconds\n"
        "  --record FILE    write the bytes received from the sensor to FILE, for orvane\n"
        "                   decode or replay:FILE; within a second of their arrival\n"
        "  --force          overwrite an existing FILE\n"
        "  --mqtt URL       also publish to an MQTT broker: mqtt://[USER@]HOST[:PORT]/PREFIX\n"
        "                   or mqtts://... (TLS); topics PREFIX/status, PREFIX/sensor,\n"
        "                   PREFIX/tilt and PREFIX/alarm. The password comes from\n"
        "                   ORVANE_MQTT_PASSWORD or --mqtt-password-file, never the URL\n"
        "  --mqtt-password-file FILE, --mqtt-cafile FILE, --mqtt-cert FILE, --mqtt-key FILE\n"
        "  --mqtt-interval S  one PREFIX/tilt message per S seconds: count, mean, min, max\n"
        "  --alarm DEG[:CLEAR]  raise an alarm when the total tilt stays above DEG (for\n"
        "                   --alarm-hold S seconds, default 0) and clear it below CLEAR\n"
        "                   (default DEG - 0.25); said on standard error and on PREFIX/alarm\n\n"
        "Runs until a limit is reached or until interrupted (SIGINT, SIGTERM); the device\n"
        "is closed and the exit status is 0. Without a device, or when the recording cannot\n"
        "be written, the status is 1. A pulled cable is reopened once a second; standard\n"
        "error says when the sensor is lost and back.\n",
        kHeader);
}

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int) {
    stopSignal = 1;
}

struct Options {
    std::optional<std::string> device;
    std::optional<std::string> record;
    bool force = false;
    std::optional<std::string> mqtt, mqttPasswordFile, mqttCafile, mqttCert, mqttKey;
    std::optional<double> mqttInterval;
    std::optional<std::string> alarm;
    std::optional<double> alarmHold;
    std::optional<std::uint64_t> count;
    std::optional<double> seconds;
};

bool parseCount(const char* text, std::uint64_t& value) {
    if (!text || *text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    value = parsed;
    return true;
}

bool parseSeconds(const char* text, double& value) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(parsed >= 0.0) || parsed > 1e9)
        return false;
    value = parsed;
    return true;
}

// Accepts "--name VALUE" and "--name=VALUE". Returns 0 when parsed, else the exit status.
int parseOptions(std::span<char* const> args, Options& options) {
    std::vector<std::string_view> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            printHelp(stdout);
            return -1;
        }
        std::string_view name = arg;
        const char* value = nullptr;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = args[i] + eq + 1;
        }
        if (arg == "--force") {
            options.force = true;
            continue;
        }
        static constexpr std::string_view kValued[] = {
            "--device",        "--count",     "--seconds",
            "--record",        "--mqtt",      "--mqtt-password-file",
            "--mqtt-cafile",   "--mqtt-cert", "--mqtt-key",
            "--mqtt-interval", "--alarm",     "--alarm-hold"};
        if (std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued)) {
            std::fprintf(stderr, "orvane monitor: unknown argument '%s'\n\n", args[i]);
            printHelp(stderr);
            return kExitUsage;
        }
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            std::fprintf(stderr, "orvane monitor: %s is given twice\n", std::string(name).c_str());
            return kExitUsage;
        }
        seen.push_back(name);
        if (!value) {
            if (i + 1 == args.size()) {
                std::fprintf(stderr, "orvane monitor: %s needs a value\n",
                             std::string(name).c_str());
                return kExitUsage;
            }
            value = args[++i];
        }
        bool good = true;
        std::optional<std::string>* text = name == "--device"   ? &options.device
                                           : name == "--record" ? &options.record
                                           : name == "--mqtt"   ? &options.mqtt
                                           : name == "--mqtt-password-file"
                                               ? &options.mqttPasswordFile
                                           : name == "--mqtt-cafile" ? &options.mqttCafile
                                           : name == "--mqtt-cert"   ? &options.mqttCert
                                           : name == "--mqtt-key"    ? &options.mqttKey
                                           : name == "--alarm"       ? &options.alarm
                                                                     : nullptr;
        if (text) {
            good = *value != '\0';
            *text = value;
        } else if (name == "--mqtt-interval" || name == "--alarm-hold") {
            double s = 0;
            good = parseSeconds(value, s) && (name == "--alarm-hold" || s > 0);
            (name == "--mqtt-interval" ? options.mqttInterval : options.alarmHold) = s;
        } else if (name == "--count") {
            std::uint64_t n = 0;
            good = parseCount(value, n);
            options.count = n;
        } else {
            double s = 0;
            good = parseSeconds(value, s);
            options.seconds = s;
        }
        if (!good) {
            std::fprintf(stderr, "orvane monitor: bad value '%s' for %s\n", value,
                         std::string(name).c_str());
            return kExitUsage;
        }
    }
    return 0;
}

// Takes the readings on the worker thread and hands them to the main thread, which writes them:
// the loop never waits for the output.
class LineQueue : public ReadoutSink {
public:
    struct Line {
        double seconds;
        TowerReadings readings;
        std::optional<ReadingState> stateChange; // set: no row, the reading's state changed
    };

    explicit LineQueue(Clock::time_point start) : start_(start) {}

    void refreshReadouts() override {} // no window to refresh
    // Straight to standard error from the worker: the CSV on standard output stays clean.
    void linkChanged(bool connected) override {
        const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        std::fprintf(stderr, "orvane monitor: sensor %s at %.3f s\n", connected ? "back" : "lost",
                     seconds);
    }
    void sampleProcessed(const TowerReadings& readings) override {
        // Only trustworthy readings are logged: a gap in the time column is how a log shows
        // that there was none.
        if (readings.state != ReadingState::Live)
            return;
        const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back({seconds, readings, std::nullopt});
        }
        ready_.notify_one();
    }
    void stateChanged(ReadingState state) override {
        const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back({seconds, TowerReadings{}, state});
        }
        ready_.notify_one();
    }

    // Waits until a line is queued or `until`, then takes all queued lines.
    std::deque<Line> take(Clock::time_point until) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait_until(lock, until, [this] { return !lines_.empty(); });
        std::deque<Line> taken;
        taken.swap(lines_);
        return taken;
    }

private:
    const Clock::time_point start_;
    std::mutex mutex_;              //!< guards lines_
    std::condition_variable ready_; // a line was queued
    std::deque<Line> lines_;
};

// False when the line could not be written.
bool writeLine(const LineQueue::Line& line) {
    std::printf("%s\n", formatCsvRow(line.seconds, line.readings).c_str());
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

enum class Ending { Limit, Signal, OutputFailed, RecordFailed, BrokerRefused };

// Writes the lines as they come until a limit, a signal or a failed write (its errno in
// writeError) ends the run.
Ending printLines(LineQueue& queue, const Options& options, Clock::time_point start,
                  const AsyncFileWriter* recording, MonitorReport& report, MqttPublisher* mqtt,
                  int& writeError) {
    std::uint64_t written = 0;
    if (options.count && *options.count == 0)
        return Ending::Limit;
    std::optional<Clock::time_point> deadline;
    if (options.seconds)
        deadline = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(*options.seconds));
    for (;;) {
        if (stopSignal)
            return Ending::Signal;
        if (recording && recording->failed())
            return Ending::RecordFailed;
#ifdef ORVANE_HAVE_MQTT
        if (mqtt) {
            mqtt->pump();
            if (mqtt->fatalError())
                return Ending::BrokerRefused;
        }
#else
        (void)mqtt;
#endif
        Clock::time_point wake = Clock::now() + kWakeInterval;
        if (deadline && *deadline < wake)
            wake = *deadline;
        for (const auto& line : queue.take(wake)) {
            if (line.stateChange) {
                report.state(*line.stateChange);
                continue;
            }
            if (options.seconds && line.seconds > *options.seconds)
                return Ending::Limit;
            if (!writeLine(line)) {
                writeError = errno;
                return Ending::OutputFailed;
            }
            report.row(line.seconds, line.readings);
            if (options.count && ++written >= *options.count)
                return Ending::Limit;
        }
        if (deadline && Clock::now() >= *deadline)
            return Ending::Limit;
    }
}

// The process-wide receive buffer must not point at this run's decoder once it is gone.
void detachChain() {
    receiveBuffer.setDownstream(nullptr);
    receiveBuffer.applyPendingDownstream();
}

// The password for the broker: ORVANE_MQTT_PASSWORD, or the first line of the file.
[[maybe_unused]] bool mqttPassword(const Options& options, std::string& password,
                                   std::string& error) {
    if (options.mqttPasswordFile) {
        std::FILE* in = std::fopen(options.mqttPasswordFile->c_str(), "r");
        if (!in) {
            error =
                "--mqtt-password-file " + *options.mqttPasswordFile + ": " + std::strerror(errno);
            return false;
        }
        char line[1024] = {};
        if (!std::fgets(line, sizeof line, in))
            line[0] = '\0';
        std::fclose(in);
        password = line;
        while (!password.empty() && (password.back() == '\n' || password.back() == '\r'))
            password.pop_back();
        return true;
    }
    if (const char* fromEnvironment = std::getenv("ORVANE_MQTT_PASSWORD"))
        password = fromEnvironment;
    return true;
}

int runMonitor(std::span<char* const> args) {
    const Clock::time_point start = Clock::now();
    const double startUnix =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    Options options;
    if (const int status = parseOptions(args, options); status != 0)
        return status < 0 ? kExitOk : status;
    std::optional<AlarmOptions> alarm;
    if (options.alarm) {
        AlarmOptions parsed;
        std::string error;
        if (!parseAlarm(*options.alarm, parsed, error)) {
            std::fprintf(stderr, "orvane monitor: %s\n", error.c_str());
            return kExitUsage;
        }
        parsed.hold = options.alarmHold.value_or(0.0);
        alarm = parsed;
    }
    MqttPublisher* mqtt = nullptr;
#ifdef ORVANE_HAVE_MQTT
    MqttPublisher publisher;
    if (options.mqtt) {
        MqttOptions mqttOptions;
        std::string error;
        if (!parseMqttUrl(*options.mqtt, mqttOptions, error)) {
            std::fprintf(stderr, "orvane monitor: %s\n", error.c_str());
            return kExitUsage;
        }
        if (!mqttPassword(options, mqttOptions.password, error)) {
            std::fprintf(stderr, "orvane monitor: %s\n", error.c_str());
            return kExitUsage;
        }
        mqttOptions.cafile = options.mqttCafile.value_or("");
        mqttOptions.cert = options.mqttCert.value_or("");
        mqttOptions.key = options.mqttKey.value_or("");
        if (!publisher.start(mqttOptions, error)) {
            std::fprintf(stderr, "orvane monitor: %s\n", error.c_str());
            return kExitFailure;
        }
        mqtt = &publisher;
    }
#else
    if (options.mqtt) {
        std::fprintf(stderr, "orvane monitor: this build has no MQTT (--mqtt)\n");
        return kExitUsage;
    }
#endif
    MonitorReport report(startUnix, alarm, mqtt, options.mqttInterval);
    if (options.device)
        selectDevice(*options.device);
    ignoreBrokenPipe();
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#ifdef SIGXFSZ
    // Past a file-size limit a write fails with EFBIG, which is reported, instead of killing us.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    // The receive chain of the viewer: link -> (recorder ->) decoder -> monitor. All live until
    // the worker has stopped and the link is closed, below.
    LineQueue queue(start);
    FrameDecoder decoder;
    TowerMonitor monitor;
    decoder.setDownstream(&monitor);
    AsyncFileWriter recording;
    ByteRecorder recorder(decoder, recording);
    if (options.record) {
        std::string error;
        if (!recording.open(*options.record, options.force, error)) {
            std::fprintf(stderr, "orvane monitor: %s\n", error.c_str());
            return kExitFailure;
        }
        recorder.setDownstream(&decoder);
    }
    if (!openLink(options.record ? static_cast<Stage*>(&recorder) : &decoder, 0, 19200)) {
        detachChain();
        std::fflush(stdout); // whatever the link printed comes first
        std::fprintf(stderr, "%s\n", kNoDevice);
        return kExitFailure;
    }

    int status = kExitOk;
    std::printf("%s\n", kHeader);
    if (std::fflush(stdout) == 0) {
        monitor.dialog = &queue;
        // The viewer's picture, so that the view column switches as the viewer's view does.
        monitor.renderer.resize(TowerMonitor::kViewerPictureWidth,
                                TowerMonitor::kViewerPictureHeight);
        monitor.selectWideView();
        if (monitor.start()) {
            int writeError = 0;
            const Ending ending =
                printLines(queue, options, start, options.record ? &recording : nullptr, report,
                           mqtt, writeError);
            if (ending == Ending::OutputFailed && writeError != EPIPE) {
                std::fprintf(stderr, "orvane monitor: cannot write the output: %s\n",
                             std::strerror(writeError));
                status = kExitFailure;
            }
            if (ending == Ending::RecordFailed)
                status = kExitFailure; // said below, once
#ifdef ORVANE_HAVE_MQTT
            if (ending == Ending::BrokerRefused) {
                std::fprintf(stderr, "orvane monitor: %s\n", mqtt->fatalError()->c_str());
                status = kExitFailure;
            }
#endif
        } else {
            std::fprintf(stderr, "orvane monitor: cannot start the worker thread\n");
            status = kExitFailure;
        }
    }
    // A closed pipe ends the run quietly.
    monitor.stop();
    closeLink();
    detachChain();
    report.finish();
#ifdef ORVANE_HAVE_MQTT
    if (mqtt)
        mqtt->stop();
#endif
    if (options.record && !recording.close()) {
        std::fprintf(stderr, "orvane monitor: %s\n", recording.error().c_str());
        status = kExitFailure;
    }
    return status;
}

const SubcommandRegistration registration({"monitor", "log the tilt as CSV, without a window",
                                           runMonitor});

} // namespace
} // namespace orvane::tools
