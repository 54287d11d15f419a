// Runs `orvane decode` as a user would, through the shell, on recordings written here.

#include "tests/support/tool_run.h"
#include "tests/support/wire_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace orvane::test_support;

const std::string kHeader = "sample,t0,t1,t2,off_axis,angle_x,angle_y,total_tilt";

std::string tempPath(const std::string& name) {
    return scratchDir() + name;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// `shellTail` follows the arguments on the command line (redirections, pipes).
ToolRun runTool(const std::string& args, const std::string& shellTail = "< /dev/null") {
    return runShell(std::string("'") + ORVANE_TOOL + "' " + args + " " + shellTail, tempPath(""));
}

std::vector<double> fields(const std::string& line) {
    std::vector<double> result;
    std::istringstream s(line);
    for (std::string f; std::getline(s, f, ',');)
        result.push_back(std::strtod(f.c_str(), nullptr));
    return result;
}

// Noise, the "e" reply (whose seven following bytes fail the check as an "e" frame), the
// reference, one frame with a bad check byte, one sample outside the gate, then `count` samples.
std::vector<std::uint8_t> recording(int count, int c0, int c1, int c2) {
    std::vector<std::uint8_t> bytes = {0x0D, 0x0A, 0x41, 'e', 1, 2, 3, 4, 5, 6, 7};
    appendWireFrame(bytes, ';', 0, 1000, 0);
    appendWireFrame(bytes, ':', 0, 1000, 0);
    bytes.back() ^= 1;
    appendWireFrame(bytes, ':', 0, 2000, 0);
    for (int i = 0; i < count; ++i) {
        if (i % 7 == 3)
            bytes.push_back('x'); // shifts later frames across the 512-byte block boundaries
        appendWireFrame(bytes, ':', c0, c1, c2);
    }
    return bytes;
}

TEST(Decode, OneLinePerAcceptedSample) {
    const std::string path = tempPath("steady.bin");
    writeFile(path, recording(300, 100, 990, -50));
    const ToolRun r = runTool("decode '" + path + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> out = splitLines(r.out);
    ASSERT_EQ(out.size(), 301u);
    EXPECT_EQ(out[0], kHeader);
    for (std::size_t i = 1; i < out.size(); ++i)
        ASSERT_EQ(fields(out[i]).at(0), static_cast<double>(i)) << out[i];

    // Settled: the unit vector of the sample, its readout angles in degrees.
    const std::vector<double> last = fields(out.back());
    ASSERT_EQ(last.size(), 8u);
    const double norm = std::sqrt(0.1 * 0.1 + 0.99 * 0.99 + 0.05 * 0.05);
    EXPECT_NEAR(last[1], 0.1 / norm, 1e-6);
    EXPECT_NEAR(last[2], 0.99 / norm, 1e-6);
    EXPECT_NEAR(last[3], -0.05 / norm, 1e-6);
    EXPECT_NEAR(last[4], 1000 * (0.1 * 0.1 + 0.05 * 0.05) / (norm * norm), 1e-4); // c1 dominant
    EXPECT_NEAR(last[5], std::atan2(0.1, 0.99) * 180 / std::numbers::pi, 1e-4);
    EXPECT_NEAR(last[6], std::atan2(-0.05, 0.99) * 180 / std::numbers::pi, 1e-4);
    EXPECT_NEAR(last[7], std::acos(0.99 / norm) * 180 / std::numbers::pi, 1e-4);

    // Nine significant digits, as "%.9g" writes them.
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.9g", static_cast<float>(last[2]));
    EXPECT_NE(out.back().find(std::string(",") + expected + ","), std::string::npos) << out.back();
}

TEST(Decode, StandardInputAndViewAngle) {
    const std::string path = tempPath("view.bin");
    writeFile(path, recording(150, 100, 990, -50));
    const ToolRun fromFile = runTool("decode '" + path + "'");
    const ToolRun fromDash = runTool("decode -", "< '" + path + "'");
    const ToolRun fromNothing = runTool("decode", "< '" + path + "'");
    ASSERT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromDash.out, fromFile.out);
    EXPECT_EQ(fromNothing.out, fromFile.out);

    // A quarter turn about the tower axis carries (x, y, z) to (z, y, -x).
    const std::vector<double> plain = fields(splitLines(fromFile.out).back());
    for (const std::string& form :
         {"--view-angle 90 '" + path + "'", "'" + path + "' --view-angle=90.0"}) {
        SCOPED_TRACE(form);
        const ToolRun turned = runTool("decode " + form);
        ASSERT_EQ(turned.status, 0) << turned.err;
        const std::vector<double> t = fields(splitLines(turned.out).back());
        EXPECT_NEAR(t[1], plain[3], 1e-6);
        EXPECT_NEAR(t[2], plain[2], 1e-6);
        EXPECT_NEAR(t[3], -plain[1], 1e-6);
        EXPECT_NEAR(t[7], plain[7], 1e-4);
    }
    // A negative angle is a value, not an option.
    const ToolRun back = runTool("decode --view-angle -22.5 '" + path + "'");
    ASSERT_EQ(back.status, 0) << back.err;
    const std::vector<double> b = fields(splitLines(back.out).back());
    const double a = -22.5 * std::numbers::pi / 180;
    EXPECT_NEAR(b[1], plain[1] * std::cos(a) + plain[3] * std::sin(a), 1e-6);
    EXPECT_NEAR(b[3], -plain[1] * std::sin(a) + plain[3] * std::cos(a), 1e-6);
}

TEST(Decode, EmptyAndFrameFreeInputGiveTheHeaderOnly) {
    const std::string path = tempPath("noise.bin");
    std::vector<std::uint8_t> noise(5000, 0x41);
    noise.push_back(';'); // a frame cut off by the end of the input
    noise.push_back(0x00);
    writeFile(path, noise);
    for (const std::string& args : {std::string("decode /dev/null"), "decode '" + path + "'"}) {
        const ToolRun r = runTool(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kHeader + "\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(Decode, UsageAndErrors) {
    const std::string missing = tempPath("does-not-exist.bin");
    struct Case {
        std::string args;
        int status;
        bool usageOnStderr;
        std::string stderrHas; // for one-line errors
    };
    const Case cases[] = {
        {"decode '" + missing + "'", 2, false, missing},
        {"decode '" + ::testing::TempDir() + "'", 2, false, ::testing::TempDir()},
        {"decode --bogus", 2, true, ""},
        {"decode -x /dev/null", 2, true, ""},
        {"decode --view-angle", 2, true, ""},
        {"decode --view-angle abc", 2, true, ""},
        {"decode --view-angle 12x", 2, true, ""},
        {"decode --view-angle ''", 2, true, ""},
        {"decode --view-angle 1e50", 2, true, ""},
        {"decode --view-angle nan", 2, true, ""},
        {"decode /dev/null /dev/null", 2, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const ToolRun r = runTool(c.args);
        EXPECT_EQ(r.status, c.status);
        if (c.usageOnStderr) {
            EXPECT_EQ(r.err.rfind("usage: orvane decode", 0), 0u) << r.err;
            EXPECT_EQ(r.out, "");
        } else {
            EXPECT_EQ(splitLines(r.err).size(), 1u) << r.err;
            EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
        }
    }
    const ToolRun help = runTool("decode --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: orvane decode [FILE|-] [--view-angle DEG]", 0), 0u);
    EXPECT_EQ(help.err, "");

    const ToolRun top = runTool("--help");
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("decode"), std::string::npos);
}

// A reader that stops early ends the command quietly: no message, no signal, status 0.
TEST(Decode, ClosedPipeEndsQuietly) {
    const std::string path = tempPath("long.bin");
    writeFile(path, recording(200000, 100, 990, -50));
    const std::string status = tempPath("status");
    const std::string err = tempPath("pipe_stderr");
    const std::string command = std::string("( '") + ORVANE_TOOL + "' decode '" + path + "' 2> '" +
                                err + "'; echo $? > '" + status + "' ) | head -n 3 > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFile(status), "0\n");
    EXPECT_EQ(readFile(err), "");
}

} // namespace
