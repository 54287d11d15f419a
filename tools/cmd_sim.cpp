// `orvane sim --pty [options]`: the simulated sensor on a pseudo-terminal.
#include "tools/subcommand.h"

#include "sim/replay_sensor.h"
#include "sim/sim_options.h"
#include "sim/simulated_sensor.h"

#include <memory>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#ifndef _WIN32
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace orvane::tools {
namespace {

void printHelp(std::FILE* out) {
    std::fprintf(
        out,
        "usage: orvane sim --pty [--link PATH] [OPTION[,OPTION...]]...\n"
        "       orvane sim --pty [--link PATH] --replay FILE[,rate=HZ][,loop]\n\n"
        "Serves the simulated sensor on a pseudo-terminal until interrupted. The first line of\n"
        "output is the terminal's path; point the tty backend at it (ORVANE_DEVICE=tty:PATH) or\n"
        "any serial program. The sensor's clock starts when a program first opens the terminal,\n"
        "and a stream started with \"g\" ends when it closes it.\n\n"
        "  --link PATH      keep PATH a symbolic link to the current terminal, as udev keeps a\n"
        "                   /dev/serial/by-id name: removed while unplugged, and pointed at the\n"
        "                   new terminal (whose path is printed on a line of its own) on replug\n"
        "  --replay FILE    serve a recording (orvane monitor --record) instead: \"e\" for "
        "\"se\",\n"
        "                   its reference for \"c\", its frames after \"g\" at rate HZ (default\n"
        "                   50), once or looped\n\n"
        "options (key=value, separated by commas or given as separate arguments):\n"
        "  x=DEG, y=DEG     the tower's lean as the viewer shows it (default 0)\n"
        "  noise=G          white noise per axis in g rms (default 0.001)\n"
        "  sway=DEG         amplitude of a slow oscillation of the x lean (default 0)\n"
        "  period=S         period of the sway in seconds (default 10)\n"
        "  rate=HZ          sample frames per second after \"g\" (default 50)\n"
        "  corrupt=P        fraction of frames with a wrong check byte\n"
        "  drop=P           fraction of frames not sent\n"
        "  garbage=P        fraction of frames preceded by 1 to 16 noise bytes\n"
        "  silent           answer nothing\n"
        "  noref            answer \"e\" but never send the reference frame\n"
        "  unplug=S         after S seconds the terminal goes away, as a pulled cable\n"
        "  replug=S         S seconds after the pull a new terminal comes up; the sensor needs\n"
        "                   its start-up exchange again, as after a loss of power\n"
        "  seed=N           reproducible noise and faults\n");
}

#ifndef _WIN32

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

using Clock = std::chrono::steady_clock;

// While no program has the terminal open the master reports a hang-up at once; this is how
// often we look again.
constexpr auto kIdlePoll = std::chrono::milliseconds(10);

timespec toTimespec(Clock::duration d) {
    if (d < Clock::duration::zero())
        d = Clock::duration::zero();
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(d);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d - s);
    return timespec{static_cast<time_t>(s.count()), static_cast<long>(ns.count())};
}

// Creates a raw pseudo-terminal, prints its path on a line of its own and points `link` (when
// given) at it. The master's descriptor, or -1 after saying why.
int openTerminal(const std::string& link) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !ptsname(master)) {
        std::perror("orvane sim: cannot create a pseudo-terminal");
        if (master >= 0)
            close(master);
        return -1;
    }
    // Raw from the start: until a program configures the terminal, the default line discipline
    // would echo our frames back to us as commands and mangle bytes such as 0x0D.
    termios t{};
    if (tcgetattr(master, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    const std::string path = ptsname(master);
    if (!link.empty()) {
        // Replaced in one step, as udev does with a by-id name: a reader never finds it missing
        // or half made.
        const std::string temporary = link + ".new";
        unlink(temporary.c_str());
        if (symlink(path.c_str(), temporary.c_str()) != 0 ||
            rename(temporary.c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "orvane sim: cannot link %s to %s: %s\n", link.c_str(),
                         path.c_str(), std::strerror(errno));
            close(master);
            return -1;
        }
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    return master;
}

// `replay` set: the recording's sensor instead of the simulated one (the options then give no
// cable).
int serve(const sim::SimOptions& options, const std::string& link,
          const std::optional<sim::ReplayOptions>& replay) {
    // SIGINT and SIGTERM are blocked except inside ppoll, so a signal can never slip in between
    // the check of stopRequested and the wait.
    sigset_t blocked, waiting;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &waiting);
    sigdelset(&waiting, SIGINT);
    sigdelset(&waiting, SIGTERM);
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    int fd = openTerminal(link);
    if (fd < 0)
        return kExitFailure;

    // Read once, so that every program that opens the terminal gets the same recording.
    sim::Recording recording;
    if (replay) {
        std::string error;
        if (!sim::loadRecording(replay->path, recording, error)) {
            std::fprintf(stderr, "orvane sim: %s\n", error.c_str());
            close(fd);
            return kExitFailure;
        }
    }
    // Present while a program has the terminal open.
    std::unique_ptr<sim::SensorModel> sensor;
    // The sensor's clock starts when a program first opens the terminal and goes on through a
    // pulled cable, so that its lean and its replug time do too.
    std::optional<Clock::time_point> clockStart;
    auto sensorTime = [&](Clock::time_point t) {
        return std::chrono::duration_cast<sim::SimTime>(t - *clockStart);
    };
    int status = kExitOk;
    while (!stopRequested) {
        const Clock::time_point now = Clock::now();

        if (fd < 0) {
            // Unplugged: wait for the cable to come back, if it ever does.
            timespec wait = toTimespec(std::chrono::seconds(1));
            if (options.replugAfter) {
                const auto back =
                    *clockStart +
                    std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(*options.unplugAfter + *options.replugAfter));
                if (now >= back) {
                    fd = openTerminal(link);
                    if (fd < 0) {
                        status = kExitFailure;
                        break;
                    }
                    std::fprintf(stderr, "orvane sim: plugged in again\n");
                    continue;
                }
                if (back - now < std::chrono::seconds(1))
                    wait = toTimespec(back - now);
            }
            ppoll(nullptr, 0, &wait, &waiting);
            continue;
        }

        timespec wait = toTimespec(kIdlePoll);
        if (sensor) {
            if (const auto next = sensor->nextEventAt(sensorTime(now)))
                wait = toTimespec(*clockStart + *next - now);
            else
                wait = toTimespec(std::chrono::seconds(1));
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ppoll(&p, 1, &wait, &waiting);
        if (ready < 0 && errno != EINTR) {
            std::perror("orvane sim: poll");
            break;
        }
        if (stopRequested)
            continue;

        if (clockStart && !sim::SimulatedSensor::cableInAt(options, sensorTime(Clock::now()))) {
            // A pulled cable: the terminal goes away; the far end sees a hang-up, and the
            // stable name goes with it.
            close(fd);
            fd = -1;
            sensor.reset();
            if (!link.empty())
                unlink(link.c_str());
            std::fprintf(stderr, "orvane sim: unplugged\n");
            continue;
        }
        if (p.revents & POLLHUP) {
            // Nobody has the terminal open (any more): the sensor powers down with its stream,
            // and nothing of this session may reach the next one.
            if (sensor)
                tcflush(fd, TCIOFLUSH);
            sensor.reset();
            const timespec idle = toTimespec(kIdlePoll);
            ppoll(nullptr, 0, &idle, &waiting);
            continue;
        }
        if (!clockStart)
            clockStart = Clock::now();
        const auto at = sensorTime(Clock::now());
        if (!sensor) {
            if (replay)
                sensor = std::make_unique<sim::ReplaySensor>(recording, replay->rate, replay->loop);
            else
                sensor = std::make_unique<sim::SimulatedSensor>(options, at);
        }
        if (p.revents & POLLIN) {
            std::uint8_t in[256];
            const ssize_t n = read(fd, in, sizeof in);
            if (n > 0)
                sensor->write(in, static_cast<std::size_t>(n), at);
        }
        std::uint8_t out[sim::SimulatedSensor::kOutputLimit];
        const std::int64_t n = sensor->read(out, sizeof out, at);
        // A reader that does not keep up loses bytes, as with a full receive buffer.
        if (n > 0 && write(fd, out, static_cast<std::size_t>(n)) < 0 && errno != EAGAIN)
            std::perror("orvane sim: write");
    }
    if (fd >= 0)
        close(fd);
    if (!link.empty())
        unlink(link.c_str());
    return status;
}

#endif

int runSim(std::span<char* const> args) {
    bool pty = false;
    std::string optionText;
    std::string link;
    std::optional<sim::ReplayOptions> replay;
    for (std::size_t i = 0; i < args.size(); ++i) {
        char* const arg = args[i];
        const std::string_view a = arg;
        if (a == "--help" || a == "-h") {
            printHelp(stdout);
            return kExitOk;
        }
        if (a == "--pty") {
            pty = true;
            continue;
        }
        if (a == "--replay" || a.starts_with("--replay=")) {
            std::string_view text;
            if (a == "--replay") {
                if (i + 1 == args.size()) {
                    std::fprintf(stderr, "orvane sim: --replay needs a recording\n");
                    return kExitUsage;
                }
                text = args[++i];
            } else {
                text = a.substr(9);
            }
            sim::ReplayOptions parsed;
            std::string error;
            if (!sim::parseReplayOptions(text, parsed, error)) {
                std::fprintf(stderr, "orvane sim: %s\n", error.c_str());
                return kExitUsage;
            }
            replay = parsed;
            continue;
        }
        if (a == "--link" || a.starts_with("--link=")) {
            if (a == "--link") {
                if (i + 1 == args.size()) {
                    std::fprintf(stderr, "orvane sim: --link needs a path\n");
                    return kExitUsage;
                }
                link = args[++i];
            } else {
                link = std::string(a.substr(7));
            }
            if (link.empty()) {
                std::fprintf(stderr, "orvane sim: --link needs a path\n");
                return kExitUsage;
            }
            continue;
        }
        if (a.starts_with("-")) {
            std::fprintf(stderr, "orvane sim: unknown argument '%s'\n\n", arg);
            printHelp(stderr);
            return kExitUsage;
        }
        if (!optionText.empty())
            optionText += ',';
        optionText += a;
    }
    if (!pty) {
        std::fprintf(stderr, "orvane sim: --pty is required (the only way it serves)\n\n");
        printHelp(stderr);
        return kExitUsage;
    }
    sim::SimOptions options;
    std::string error;
    if (!sim::parseSimOptions(optionText, options, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitUsage;
    }
#ifdef _WIN32
    std::fprintf(stderr, "orvane sim: pseudo-terminals are not available on this system\n");
    return kExitFailure;
#else
    // Whoever read the first path may have gone; the sensor keeps serving.
    ignoreBrokenPipe();
    if (replay && !optionText.empty()) {
        std::fprintf(stderr,
                     "orvane sim: --replay serves a recording; it takes no sensor options\n");
        return kExitUsage;
    }
    return serve(options, link, replay);
#endif
}

const SubcommandRegistration registration{
    {"sim", "serve the simulated sensor on a pseudo-terminal", runSim}};

} // namespace
} // namespace orvane::tools
