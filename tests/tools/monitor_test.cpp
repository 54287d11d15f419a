// Runs `orvane monitor` as a user would, through the shell, on the simulated sensor.

#include "tests/support/pty_sensor.h"
#include "tests/support/tool_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace orvane::test_support;

const std::string kHeader = "time,sample,x,y,total,view,marker";

// In this program's own scratch directory: test runs of other builds share the temporary one.
std::string tempPath(const std::string& name) {
    return scratchDir() + name;
}

// `prefix` goes before the tool on the command line (environment, `timeout`); a run that does
// not end by itself is killed after `killAfter` seconds and fails with status 137.
ToolRun runMonitor(const std::string& args, const std::string& prefix = "", int killAfter = 30) {
    return runShell(prefix + " timeout -s KILL " + std::to_string(killAfter) + " '" + ORVANE_TOOL +
                        "' monitor " + args + " < /dev/null",
                    tempPath(""));
}

struct Line {
    double time;
    unsigned long sample;
    double x, y, total;
    std::string view, marker;
};

// Parses a data line, failing the test when it is not in the documented format.
Line parseLine(const std::string& text) {
    static const std::regex format(
        R"(^(\d+\.\d{3}),(\d+),(-?\d+\.\d{4}),(-?\d+\.\d{4}),(\d+\.\d{4}),(wide|close),(green|yellow)$)");
    std::smatch m;
    Line line{};
    EXPECT_TRUE(std::regex_match(text, m, format)) << "'" << text << "'";
    if (m.empty())
        return line;
    line.time = std::stod(m[1]);
    line.sample = std::stoul(m[2]);
    line.x = std::stod(m[3]);
    line.y = std::stod(m[4]);
    line.total = std::stod(m[5]);
    line.view = m[6];
    line.marker = m[7];
    return line;
}

// The sensor's start-up exchange ("se", "c", "g") takes two full receive time-outs, about 3.6 s,
// before the first sample.
constexpr const char* kAfterStartUp = "5.5";

TEST(Monitor, LogsTheSimulatedLeanUntilItsTimeIsUp) {
    const ToolRun r = runMonitor(std::string("--device sim:x=1.5,y=-0.75,noise=0,rate=200 ") +
                                 "--seconds " + kAfterStartUp);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    const std::vector<std::string> lines = splitLines(r.out);
    ASSERT_GT(lines.size(), 50u);
    EXPECT_EQ(lines[0], kHeader);

    Line previous{};
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const Line line = parseLine(lines[i]);
        EXPECT_LE(line.time, std::stod(kAfterStartUp));
        EXPECT_GE(line.time, previous.time);
        EXPECT_GT(line.sample, previous.sample);
        // Only trustworthy readings are logged: right from the first row, never a filter still
        // filling up (which would point the other way, near 180 degrees).
        EXPECT_NEAR(line.x, 1.5, 0.05) << lines[i];
        EXPECT_NEAR(line.y, -0.75, 0.05) << lines[i];
        previous = line;
    }
    // Settled: the filter has long been full. The lean is small and off every axis.
    EXPECT_GT(previous.sample, 300u);
    EXPECT_NEAR(previous.x, 1.5, 0.02);
    EXPECT_NEAR(previous.y, -0.75, 0.02);
    EXPECT_NEAR(previous.total, 1.677, 0.02);
    EXPECT_EQ(previous.view, "close");
    EXPECT_EQ(previous.marker, "yellow");
}

TEST(Monitor, StopsAfterCountLinesAndTheOptionWinsOverTheEnvironment) {
    const ToolRun r =
        runMonitor("--device=sim:rate=200 --count 3", "ORVANE_DEVICE=tty:/nonexistent");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = splitLines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0], kHeader);
    for (std::size_t i = 1; i < lines.size(); ++i)
        parseLine(lines[i]);

    const ToolRun fromEnvironment = runMonitor("--count 1", "ORVANE_DEVICE=sim:rate=200");
    EXPECT_EQ(fromEnvironment.status, 0) << fromEnvironment.err;
    EXPECT_EQ(splitLines(fromEnvironment.out).size(), 2u);
}

TEST(Monitor, StopsCleanlyOnSignals) {
    for (const char* signal : {"INT", "TERM"}) {
        SCOPED_TRACE(signal);
        // timeout sends the signal once lines flow and passes on the monitor's own status.
        const ToolRun r =
            runMonitor("--device sim:rate=200",
                       std::string("timeout --preserve-status -s ") + signal + " " + kAfterStartUp);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        ASSERT_FALSE(r.out.empty());
        EXPECT_EQ(r.out.back(), '\n'); // no line cut short
        const std::vector<std::string> lines = splitLines(r.out);
        EXPECT_EQ(lines[0], kHeader);
        EXPECT_GT(lines.size(), 2u);
    }
}

// What a run across a pulled cable must show: lines before and after, one "sensor lost" and one
// "sensor back" line on standard error, and the sample count and time going on.
void expectLoggedAcrossThePull(const ToolRun& r, double pulledAt, double backAt) {
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> errors = splitLines(r.err);
    ASSERT_EQ(errors.size(), 2u) << r.err;
    static const std::regex change(R"(^orvane monitor: sensor (lost|back) at (\d+\.\d{3}) s$)");
    std::smatch lost, back;
    ASSERT_TRUE(std::regex_match(errors[0], lost, change)) << errors[0];
    ASSERT_TRUE(std::regex_match(errors[1], back, change)) << errors[1];
    EXPECT_EQ(lost[1], "lost");
    EXPECT_EQ(back[1], "back");
    EXPECT_NEAR(std::stod(lost[2]), pulledAt, 0.5);
    EXPECT_NEAR(std::stod(back[2]), backAt, 1.2); // reopened within a second of the return

    const std::vector<std::string> lines = splitLines(r.out);
    ASSERT_GT(lines.size(), 2u);
    EXPECT_EQ(lines[0], kHeader);
    Line previous{}, lastBefore{};
    std::size_t before = 0, after = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const Line line = parseLine(lines[i]);
        EXPECT_GT(line.sample, previous.sample);
        EXPECT_GE(line.time, previous.time);
        if (line.time < std::stod(lost[2])) {
            ++before;
            lastBefore = line;
        } else {
            ++after;
            // The same lean as before the pull (the sensor resolves 1 mg, about 0.06 degrees).
            EXPECT_NEAR(line.x, lastBefore.x, 0.05);
        }
        previous = line;
    }
    EXPECT_NEAR(lastBefore.x, 1.0, 0.06);
    EXPECT_GT(before, 10u);
    EXPECT_GT(after, 10u);
}

TEST(Monitor, LogsOnAcrossAPulledCable) {
    const ToolRun r =
        runMonitor("--device sim:x=1,noise=0,rate=200,unplug=5.5,replug=1 --seconds 11.5");
    expectLoggedAcrossThePull(r, 5.5, 6.5);
}

TEST(Monitor, ATtyThatVanishesAndReturnsUnderItsStableNameIsReopened) {
    const std::string link = tempPath("by-id-sensor");
    PtySensor sensor(ORVANE_TOOL, "x=1,noise=0,rate=200,unplug=5.5,replug=1", {"--link", link});
    ASSERT_FALSE(sensor.path().empty());
    ASSERT_EQ(std::filesystem::read_symlink(link), sensor.path());
    const ToolRun r = runMonitor("--device tty:" + link + " --seconds 11.5");
    // The sensor's clock started when the monitor opened the terminal, a moment after the start.
    expectLoggedAcrossThePull(r, 5.5, 6.5);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(sensor.stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(Monitor, ADeviceWithoutPermissionSaysHowToGetAccess) {
    const std::string node = tempPath("no-access-tty");
    { std::ofstream(node) << ""; }
    std::filesystem::permissions(node, std::filesystem::perms::none);
    // Root opens anything: the monitor runs as nobody then, with a node it cannot read.
    const std::string prefix =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    if (geteuid() == 0)
        std::filesystem::permissions(scratchDir(), std::filesystem::perms::all);
    const ToolRun r = runMonitor("--device tty:" + node + " --count 1", prefix);
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> errors = splitLines(r.err);
    ASSERT_EQ(errors.size(), 2u) << r.err;
    EXPECT_EQ(errors[0].rfind(node + ": permission denied; install the udev rule", 0), 0u)
        << errors[0];
    EXPECT_EQ(errors[1], "Could not find downtower accel comm interface");
}

TEST(Monitor, TheCloseViewNeverLosesTheMarkerAndDoesNotFlicker) {
    // A sway across the close view's edge: 2 to 8 degrees over 8 s.
    const ToolRun r = runMonitor("--device sim:x=5,sway=3,period=8 --seconds 14");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = splitLines(r.out);
    ASSERT_GT(lines.size(), 200u);
    // The viewer's picture of 467 x 475 pixels at 2380 pixels per g in the close view.
    constexpr double kHalfWidth = 233.0 / 2380.0, kHalfHeight = 237.0 / 2380.0;
    constexpr double kRadians = 3.14159265358979323846 / 180.0;
    std::vector<std::string> views;
    int close = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const Line line = parseLine(lines[i]);
        views.push_back(line.view);
        if (line.view != "close")
            continue;
        ++close;
        // The marker of a unit tilt vector: cos(total) tan(X^), cos(total) tan(Y^).
        const double c1 = std::cos(line.total * kRadians);
        EXPECT_LT(std::fabs(c1 * std::tan(line.x * kRadians)), kHalfWidth) << lines[i];
        EXPECT_LT(std::fabs(c1 * std::tan(line.y * kRadians)), kHalfHeight) << lines[i];
    }
    EXPECT_GT(close, 50);
    EXPECT_LT(close, static_cast<int>(views.size()) - 50);
    for (std::size_t i = 2; i < views.size(); ++i)
        EXPECT_FALSE(views[i] != views[i - 1] && views[i - 1] != views[i - 2]) << "row " << i;
}

// `orvane decode` of a recording gives, for every row the monitor logged, the same sample with the
// same angles (X^ is the negated angle_x). Returns the rows compared.
std::size_t expectDecodeAgrees(const std::string& monitorCsv, const std::string& recording) {
    const ToolRun d = runShell(std::string("'") + ORVANE_TOOL + "' decode '" + recording + "'",
                               tempPath("decode-"));
    EXPECT_EQ(d.status, 0) << d.err;
    std::map<unsigned long, std::vector<double>> decoded; // sample -> angle_x, angle_y, total
    for (const std::string& line : splitLines(d.out)) {
        std::istringstream in(line);
        std::vector<std::string> f;
        for (std::string field; std::getline(in, field, ',');)
            f.push_back(field);
        if (f.size() == 8 && f[0] != "sample")
            decoded[std::stoul(f[0])] = {std::stod(f[5]), std::stod(f[6]), std::stod(f[7])};
    }
    std::size_t compared = 0;
    const std::vector<std::string> lines = splitLines(monitorCsv);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const Line row = parseLine(lines[i]);
        const auto it = decoded.find(row.sample);
        if (it == decoded.end()) {
            ADD_FAILURE() << "sample " << row.sample << " is not in the recording";
            continue;
        }
        EXPECT_NEAR(row.x, -it->second[0], 0.01) << lines[i];
        EXPECT_NEAR(row.y, it->second[1], 0.01) << lines[i];
        EXPECT_NEAR(row.total, it->second[2], 0.01) << lines[i];
        ++compared;
    }
    return compared;
}

TEST(Monitor, ARecordingDecodesAndReplaysAsTheMonitorSawIt) {
    // A sway with noise and noise bytes, across a pulled cable, over a terminal, whose reads
    // split frames.
    const std::string recording = tempPath("field.bin");
    PtySensor sensor(ORVANE_TOOL,
                     "x=2,y=-1,sway=1,period=4,noise=0.002,garbage=0.2,rate=200,unplug=5,"
                     "replug=0.5",
                     {"--link", tempPath("field-tty")});
    ASSERT_FALSE(sensor.path().empty());
    const ToolRun r =
        runMonitor("--device tty:" + tempPath("field-tty") + " --seconds 11 --record " + recording);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("sensor back"), std::string::npos) << r.err;
    EXPECT_GT(expectDecodeAgrees(r.out, recording), 150u);

    // Replayed fast into the monitor: the same samples again.
    const ToolRun replay = runMonitor("--device replay:" + recording + ",rate=1000 --seconds 6.5");
    ASSERT_EQ(replay.status, 0) << replay.err;
    EXPECT_GT(expectDecodeAgrees(replay.out, recording), 150u);
}

TEST(Monitor, RecordingAndReplayFailuresAreSaidInOneLine) {
    const std::string existing = tempPath("existing.bin");
    { std::ofstream(existing) << "keep"; }
    struct Case {
        std::string args;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {"--device sim --count 1 --record " + existing, 1,
         "orvane monitor: " + existing + " exists; give --force to overwrite it"},
        {"--device sim --count 1 --record " + tempPath("no/such/dir.bin"), 1,
         "No such file or directory"},
        {"--device sim:rate=200 --seconds 20 --force --record /dev/full", 1,
         "orvane monitor: cannot write /dev/full: No space left on device"},
        {"--device replay:" + tempPath("missing.bin") + " --count 1", 1,
         "replay:" + tempPath("missing.bin") + ": No such file or directory"},
        {"--device replay:" + existing + " --count 1", 1, "holds no reference frame"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const auto started = std::chrono::steady_clock::now();
        const ToolRun r = runMonitor(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        // At once: the full disk is found at the first write, not at the end of the 20 s.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    }
    EXPECT_EQ(readFile(existing), "keep");
    const ToolRun forced =
        runMonitor("--device sim:rate=200 --count 2 --force --record " + existing);
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(readFile(existing), "keep");
}

TEST(Monitor, SilentSensorGivesOnlyTheHeader) {
    const ToolRun r = runMonitor("--device sim:silent --seconds 0.3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kHeader + "\n");
}

TEST(Monitor, NoDeviceIsReportedOnStandardError) {
    const ToolRun r = runMonitor("--device tty:/nonexistent/orvane-monitor-test --count 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not find downtower accel comm interface\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find(kHeader), std::string::npos);
}

TEST(Monitor, ClosedPipeEndsQuietly) {
    const std::string out = tempPath("pipe_out"), err = tempPath("pipe_err"),
                      status = tempPath("pipe_status");
    const std::string command = std::string("{ timeout -s KILL 30 '") + ORVANE_TOOL +
                                "' monitor --device sim:rate=200 2> '" + err + "'; echo $? > '" +
                                status + "'; } | head -n 3 > '" + out + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFile(status), "0\n");
    EXPECT_EQ(readFile(err), "");
    EXPECT_EQ(splitLines(readFile(out)).size(), 3u);
    for (const std::string& path : {out, err, status})
        std::remove(path.c_str());
}

TEST(Monitor, RejectsBadArguments) {
    for (const char* args : {"--count", "--count x", "--count -1", "--seconds abc", "--seconds -2",
                             "--device", "--bogus", "extra", "--record",
                             "--record=", "--count 1 --count 2", "--record a --record=b"}) {
        SCOPED_TRACE(args);
        const ToolRun r = runMonitor(std::string(args) + " --device sim");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err, "");
    }
}

} // namespace
