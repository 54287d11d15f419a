// `orvane sim --pty [options]`: the simulated sensor on a pseudo-terminal.
#include "tools/subcommand.h"

#include "sim/sim_options.h"
#include "sim/simulated_sensor.h"

#include <cstdio>
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
        "usage: orvane sim --pty [OPTION[,OPTION...]]...\n\n"
        "Serves the simulated sensor on a pseudo-terminal until interrupted. The first line of\n"
        "output is the terminal's path; point the tty backend at it (ORVANE_DEVICE=tty:PATH) or\n"
        "any serial program. The sensor's clock starts when a program opens the terminal, and\n"
        "a stream started with \"g\" ends when it closes it.\n\n"
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

int serve(const sim::SimOptions& options) {
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

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !ptsname(master)) {
        std::perror("orvane sim: cannot create a pseudo-terminal");
        return kExitFailure;
    }
    // Raw from the start: until a program configures the terminal, the default line discipline
    // would echo our frames back to us as commands and mangle bytes such as 0x0D.
    termios t{};
    if (tcgetattr(master, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    std::printf("%s\n", ptsname(master));
    std::fflush(stdout);

    std::optional<sim::SimulatedSensor> sensor; // present while a program has the terminal open
    Clock::time_point opened{};
    int fd = master;
    while (!stopRequested) {
        const Clock::time_point now = Clock::now();
        const auto simNow = std::chrono::duration_cast<sim::SimTime>(now - opened);

        timespec wait = toTimespec(kIdlePoll);
        if (fd >= 0 && sensor) {
            if (const auto next = sensor->nextEventAt(simNow))
                wait = toTimespec(opened + *next - now);
            else
                wait = toTimespec(std::chrono::seconds(1));
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ppoll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, &wait, &waiting);
        if (ready < 0 && errno != EINTR) {
            std::perror("orvane sim: poll");
            break;
        }
        if (fd < 0 || stopRequested)
            continue;

        if (p.revents & POLLHUP) {
            // Nobody has the terminal open (any more): the sensor powers down with its stream,
            // and nothing of this session may reach the next one.
            if (sensor)
                tcflush(master, TCIOFLUSH);
            sensor.reset();
            const timespec idle = toTimespec(kIdlePoll);
            ppoll(nullptr, 0, &idle, &waiting);
            continue;
        }
        if (!sensor) {
            sensor.emplace(options);
            opened = Clock::now();
        }
        const auto at = std::chrono::duration_cast<sim::SimTime>(Clock::now() - opened);
        if (sensor->unpluggedAt(at)) {
            // A pulled cable: the terminal goes away; the far end sees a hang-up.
            close(fd);
            fd = -1;
            std::fprintf(stderr, "orvane sim: unplugged\n");
            continue;
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
    return kExitOk;
}

#endif

int runSim(std::span<char* const> args) {
    bool pty = false;
    std::string optionText;
    for (char* const arg : args) {
        const std::string_view a = arg;
        if (a == "--help" || a == "-h") {
            printHelp(stdout);
            return kExitOk;
        }
        if (a == "--pty") {
            pty = true;
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
    return serve(options);
#endif
}

const SubcommandRegistration registration{
    {"sim", "serve the simulated sensor on a pseudo-terminal", runSim}};

} // namespace
} // namespace orvane::tools
