// The real viewer under Xvfb on the simulated sensor, driven with xdotool and looked at through
// screenshots, as a person would use it.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace {

using e2e::Image;
using e2e::ProbeState;

constexpr double kPi = 3.14159265358979323846;
constexpr int kFrameX = 9, kFrameY = 11, kFrameW = 467, kFrameH = 475;
constexpr std::uint32_t kMarkBlue = 0x0010E0, kLiveYellow = 0xE0FF40;

// Dialog units to pixels for the 8-point dialog font at 96 dpi: base units 6 x 13, rounded as
// Windows' MulDiv rounds (halves away from zero).
int toPixelsX(int du) {
    return (du * 6 + 2) / 4;
}
int toPixelsY(int du) {
    return (du * 13 + 4) / 8;
}

struct TemplateControl {
    int id;
    const char* className;
    const char* text;
    int x, y, cx, cy; // dialog units
    bool visible;
};

// DLG_USE as the design gives it, in template order.
const TemplateControl kTemplate[] = {
    {1, "BUTTON", "Done", 261, 310, 50, 14, true},
    {1016, "STATIC", "", 6, 7, 311, 292, false},
    {-1, "STATIC", "+Y", 168, 8, 10, 8, true},
    {-1, "STATIC", "-X", 8, 160, 8, 8, true},
    {-1, "STATIC", "+X", 305, 136, 10, 8, true},
    {-1, "STATIC", "-Y", 147, 288, 8, 8, true},
    {1017, "BUTTON", "< rotate", 94, 304, 31, 10, true},
    {1020, "BUTTON", "mark", 130, 304, 31, 10, true},
    {1018, "BUTTON", "rotate >", 164, 304, 31, 10, true},
    {-1, "STATIC", "Offset:", 13, 326, 22, 8, true},
    {1000, "EDIT", "", 37, 323, 40, 12, true},
    {-1, "STATIC", "X^", 79, 326, 10, 8, true},
    {1001, "EDIT", "", 95, 323, 40, 12, true},
    {-1, "STATIC", "Y^", 137, 326, 10, 8, true},
    {-1, "STATIC", "Total:", 161, 325, 19, 8, true},
    {1005, "EDIT", "", 183, 323, 40, 12, true},
    {-1, "STATIC", "Degrees", 225, 325, 28, 8, true},
};

const TemplateControl& templateControl(int id) {
    for (const TemplateControl& c : kTemplate) {
        if (c.id == id)
            return c;
    }
    throw std::runtime_error("no control " + std::to_string(id));
}

// Where to click a button: the middle of its rectangle, in client pixels.
std::pair<int, int> centreOf(int id) {
    const TemplateControl& c = templateControl(id);
    return {toPixelsX(c.x) + toPixelsX(c.cx) / 2, toPixelsY(c.y) + toPixelsY(c.cy) / 2};
}

// Readouts the window shows for a tower leaning so that gravity lies along (c0, c1, c2).
struct Readouts {
    double x, y, total;
};
Readouts readoutsFor(double c0, double c1, double c2) {
    const double deg = 180.0 / kPi;
    const double n = std::sqrt(c0 * c0 + c1 * c1 + c2 * c2);
    return {-std::atan2(c0, c1) * deg, std::atan2(c2, c1) * deg, std::acos(c1 / n) * deg};
}

// The simulated sensor's gravity for a lean giving readouts (x, y): along (-tan x, 1, tan y).
struct Vec {
    double c0, c1, c2;
};
Vec gravityFor(double xDeg, double yDeg) {
    const Vec v{-std::tan(xDeg * kPi / 180), 1.0, std::tan(yDeg * kPi / 180)};
    const double n = std::sqrt(v.c0 * v.c0 + v.c1 * v.c1 + v.c2 * v.c2);
    return {v.c0 / n, v.c1 / n, v.c2 / n};
}

// The view turned by angle degrees about the tower axis c1 (right-handed).
Vec turned(const Vec& v, double angleDeg) {
    const double a = angleDeg * kPi / 180;
    return {v.c0 * std::cos(a) + v.c2 * std::sin(a), v.c1,
            -v.c0 * std::sin(a) + v.c2 * std::cos(a)};
}

// Centre of a marker at (x, y) view units in the close view, as a pixel of the picture counted
// from its top-left corner.
std::pair<double, double> closeViewPixel(double x, double y) {
    const double cx = (kFrameW + 1) * 0.5, cy = (kFrameH + 1) * 0.5, k = cy * 10.0;
    const int col = static_cast<int>(k * x + cx);
    const int row = static_cast<int>(k * y + cy); // from the bottom line
    return {col, kFrameH - 1 - row};
}

double number(const std::string& s) {
    try {
        return std::stod(s);
    } catch (...) {
        return std::nan("");
    }
}

class ViewerTest : public ::testing::Test {
public:
    static void SetUpTestSuite() { server = new e2e::XServer(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    // Starts the viewer on device and waits for its window; window stays 0 if none appears.
    void start(const std::string& device, const std::string& title = "Orvane Viewer",
               const std::vector<std::string>& args = {}) {
        dir = e2e::tempDir();
        prefix = dir + "/probe";
        errPath = dir + "/stderr.txt";
        const char* lsan = std::getenv("LSAN_OPTIONS");
        viewer = std::make_unique<e2e::Process>(
            ORVANE_VIEWER,
            std::map<std::string, std::string>{
                {"ORVANE_DEVICE", device},
                {"ORVANE_UI_PROBE", prefix},
                {"LSAN_OPTIONS", std::string(lsan != nullptr ? lsan : "") +
                                     " suppressions=" + ORVANE_LSAN_SUPPRESSIONS}},
            errPath, args);
        window = e2e::findWindow(title, 15000);
    }

    ProbeState probeNow() {
        auto p = e2e::probe(*viewer, prefix);
        if (!p)
            throw std::runtime_error("no probe answer; stderr: " + e2e::readFile(errPath));
        return *p;
    }

    // Waits until check accepts a probe, up to timeoutMs; returns the last probe.
    ProbeState waitFor(const std::function<bool(const ProbeState&)>& check, int timeoutMs) {
        const long long deadline = e2e::nowMs() + timeoutMs;
        for (;;) {
            ProbeState p = probeNow();
            if (check(p) || e2e::nowMs() >= deadline)
                return p;
            e2e::sleepMs(200);
        }
    }

    void clickControl(int id) {
        const e2e::Geometry g = e2e::windowGeometry(window);
        const auto [x, y] = centreOf(id);
        e2e::click(g.x + x, g.y + y);
    }

    // Pixels of the picture area on the screen that differ from the viewer's last blit, leaving
    // out the labels drawn over the picture. Retries while the view is still changing.
    int pictureMismatches(ProbeState* used = nullptr) {
        int mismatches = -1;
        for (int attempt = 0; attempt < 10; ++attempt) {
            const ProbeState before = probeNow();
            const Image shot = e2e::screenshot(dir + "/screen.ppm");
            const ProbeState after = probeNow();
            if (before.blit.pixels != after.blit.pixels || before.blits == 0) {
                e2e::sleepMs(100);
                continue;
            }
            const e2e::Geometry g = e2e::windowGeometry(window);
            mismatches = 0;
            for (int y = 0; y < before.blit.height; ++y) {
                for (int x = 0; x < before.blit.width; ++x) {
                    const int cx = before.blitX + x, cy = before.blitY + y;
                    if (underLabel(before, cx, cy))
                        continue;
                    mismatches += shot.at(g.x + cx, g.y + cy) != before.blit.at(x, y);
                }
            }
            if (used != nullptr)
                *used = before;
            if (mismatches == 0)
                break;
            e2e::sleepMs(100);
        }
        return mismatches;
    }

    static bool underLabel(const ProbeState& p, int x, int y) {
        for (const e2e::Control& c : p.controls) {
            if (c.visible && x >= c.x && x < c.x + c.width && y >= c.y && y < c.y + c.height)
                return true;
        }
        return false;
    }

    // Pixels of one colour in the picture area of a screenshot: count and centroid.
    struct Blob {
        int count = 0;
        double x = 0, y = 0;
    };
    Blob findColour(std::uint32_t colour) {
        const Image shot = e2e::screenshot(dir + "/screen.ppm");
        const e2e::Geometry g = e2e::windowGeometry(window);
        Blob b;
        for (int y = 0; y < kFrameH; ++y) {
            for (int x = 0; x < kFrameW; ++x) {
                if (shot.at(g.x + kFrameX + x, g.y + kFrameY + y) == colour) {
                    ++b.count;
                    b.x += x;
                    b.y += y;
                }
            }
        }
        if (b.count > 0) {
            b.x /= b.count;
            b.y /= b.count;
        }
        return b;
    }

    // Pixels of the diamond of size 16 centred at picture pixel (x, y) that have this colour on
    // the screen: 481 when the whole live marker is drawn in it.
    int diamondPixels(std::pair<double, double> centre, std::uint32_t colour) {
        const Image shot = e2e::screenshot(dir + "/screen.ppm");
        const e2e::Geometry g = e2e::windowGeometry(window);
        const int cx = static_cast<int>(centre.first), cy = static_cast<int>(centre.second);
        int count = 0;
        for (int dy = -15; dy <= 15; ++dy)
            for (int dx = -15; dx <= 15; ++dx)
                if (std::abs(dx) + std::abs(dy) <= 15)
                    count += shot.at(g.x + kFrameX + cx + dx, g.y + kFrameY + cy + dy) == colour;
        return count;
    }
    static constexpr int kLiveDiamond = 2 * 16 * 16 - 2 * 16 + 1;

    void expectExit(int code, int withinMs) {
        const auto status = viewer->waitExit(withinMs);
        ASSERT_TRUE(status.has_value()) << "still running after " << withinMs << " ms";
        EXPECT_EQ(*status, code) << e2e::readFile(errPath);
    }

    static e2e::XServer* server;
    std::string dir, prefix, errPath;
    std::unique_ptr<e2e::Process> viewer;
    unsigned long window = 0;
};

e2e::XServer* ViewerTest::server = nullptr;

TEST_F(ViewerTest, WindowShowsTheTemplateAndTheWideViewWithNoReading) {
    start("sim:silent");
    ASSERT_NE(window, 0u) << e2e::readFile(errPath);
    EXPECT_EQ(e2e::windowName(window), "Orvane Viewer");
    const e2e::Geometry g = e2e::windowGeometry(window);
    EXPECT_EQ(g.width, toPixelsX(322));
    EXPECT_EQ(g.height, toPixelsY(342));

    const ProbeState p = probeNow();
    EXPECT_EQ(p.title, "Orvane Viewer");
    ASSERT_EQ(p.controls.size(), std::size(kTemplate));
    for (std::size_t i = 0; i < std::size(kTemplate); ++i) {
        const TemplateControl& want = kTemplate[i];
        const e2e::Control& got = p.controls[i];
        SCOPED_TRACE(std::string("control ") + std::to_string(want.id) + " " + want.text);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.className, want.className);
        if (want.id != 1000 && want.id != 1001 && want.id != 1005) {
            EXPECT_EQ(got.text, want.text);
        }
        EXPECT_EQ(got.visible, want.visible);
        EXPECT_EQ(got.x, toPixelsX(want.x));
        EXPECT_EQ(got.y, toPixelsY(want.y));
        EXPECT_EQ(got.width, toPixelsX(want.cx));
        EXPECT_EQ(got.height, toPixelsY(want.cy));
    }
    const e2e::Control* frame = p.control(1016);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->x, kFrameX);
    EXPECT_EQ(frame->y, kFrameY);
    EXPECT_EQ(frame->width, kFrameW);
    EXPECT_EQ(frame->height, kFrameH);
    EXPECT_TRUE(p.control(1)->focused) << "the default focus is the first tab stop, Done";

    // Before any data: no number at all, and the view painted exactly under the frame.
    for (int id : {1000, 1001, 1005})
        EXPECT_EQ(p.text(id), "--") << id;
    ProbeState painted;
    EXPECT_EQ(pictureMismatches(&painted), 0);
    EXPECT_EQ(painted.blitX, kFrameX);
    EXPECT_EQ(painted.blitY, kFrameY);
    EXPECT_EQ(painted.blit.width, kFrameW);
    EXPECT_EQ(painted.blit.height, kFrameH);

    // The same picture as the companion renders for the wide view with no marker data: the live
    // marker black at the centre.
    const std::string png = dir + "/wide.png";
    const auto rendered = e2e::run(std::string(ORVANE_TOOL) + " render --size 467x475 --view " +
                                   "wide -o '" + png + "' 2>&1");
    if (rendered.status == 0) {
        const Image expected = e2e::readPng(png);
        ASSERT_EQ(expected.width, kFrameW);
        int differ = 0;
        for (int y = 0; y < kFrameH; ++y)
            for (int x = 0; x < kFrameW; ++x)
                differ += expected.at(x, y) != painted.blit.at(x, y);
        EXPECT_EQ(differ, 0);
    } else {
        ADD_FAILURE() << "orvane render failed: " << rendered.out;
    }

    // A silent sensor never gives a number.
    e2e::sleepMs(2500);
    const ProbeState later = probeNow();
    for (int id : {1000, 1001, 1005})
        EXPECT_EQ(later.text(id), "--") << id;
    EXPECT_EQ(diamondPixels(closeViewPixel(0, 0), 0x000000), kLiveDiamond) << "black, centred";

    clickControl(1);
    expectExit(0, 2500);
}

TEST_F(ViewerTest, ReadoutsSettleRotateTurnsTheViewAndMarkPinsABlueDiamond) {
    constexpr double kLeanX = 1.5, kLeanY = -0.75;
    start("sim:x=1.5,y=-0.75,noise=0");
    ASSERT_NE(window, 0u) << e2e::readFile(errPath);

    const Vec g = gravityFor(kLeanX, kLeanY);
    const Readouts want = readoutsFor(g.c0, g.c1, g.c2);
    auto near = [](const ProbeState& p, const Readouts& r, double tolerance) {
        return std::fabs(number(p.text(1000)) - r.x) < tolerance &&
               std::fabs(number(p.text(1001)) - r.y) < tolerance &&
               std::fabs(number(p.text(1005)) - r.total) < tolerance;
    };
    ProbeState p = waitFor([&](const ProbeState& s) { return near(s, want, 0.02); }, 30000);
    ASSERT_TRUE(near(p, want, 0.05)) << p.text(1000) << " " << p.text(1001) << " " << p.text(1005);
    // Settled: the readouts stay there.
    e2e::sleepMs(500);
    EXPECT_TRUE(near(probeNow(), want, 0.05));

    EXPECT_EQ(pictureMismatches(), 0);

    // Mark, then four presses of "rotate >": the view turns by 90 degrees about the tower axis.
    clickControl(1020);
    for (int i = 0; i < 4; ++i) {
        e2e::sleepMs(100);
        clickControl(1018);
    }
    const Vec t = turned(g, 90.0);
    const Readouts wantTurned = readoutsFor(t.c0, t.c1, t.c2);
    p = waitFor([&](const ProbeState& s) { return near(s, wantTurned, 0.02); }, 5000);
    EXPECT_TRUE(near(p, wantTurned, 0.05))
        << p.text(1000) << " " << p.text(1001) << " " << p.text(1005) << " want " << wantTurned.x
        << " " << wantTurned.y;

    e2e::sleepMs(300); // at least one refresh after the readouts moved
    // The pinned mark stays where the live marker was; the live marker moved with the view.
    const auto [markX, markY] = closeViewPixel(-g.c0, g.c2);
    const auto [liveX, liveY] = closeViewPixel(-t.c0, t.c2);
    const Blob blue = findColour(kMarkBlue);
    EXPECT_EQ(blue.count, 2 * 12 * 12 - 2 * 12 + 1); // a whole diamond of size 12
    EXPECT_NEAR(blue.x, markX, 1.0);
    EXPECT_NEAR(blue.y, markY, 1.0);
    const Blob yellow = findColour(kLiveYellow);
    EXPECT_EQ(yellow.count, 2 * 12 * 12 - 2 * 12 + 1);
    EXPECT_NEAR(yellow.x, liveX, 1.0);
    EXPECT_NEAR(yellow.y, liveY, 1.0);
    EXPECT_EQ(pictureMismatches(), 0);

    clickControl(1);
    expectExit(0, 2000);
}

// From the start, the readouts show nothing or the right numbers: never a filter that is still
// filling up, which would point the other way.
TEST_F(ViewerTest, ASteadyLeanShowsOnlyRightNumbersFromTheFirst) {
    start("sim:x=1.5,y=-0.75,noise=0");
    ASSERT_NE(window, 0u) << e2e::readFile(errPath);
    const Readouts want = readoutsFor(gravityFor(1.5, -0.75).c0, gravityFor(1.5, -0.75).c1,
                                      gravityFor(1.5, -0.75).c2);
    int numbers = 0;
    const long long end = e2e::nowMs() + 9000;
    while (e2e::nowMs() < end && numbers < 10) {
        const ProbeState p = probeNow();
        const bool none = p.text(1000) == "--";
        for (int id : {1000, 1001, 1005})
            EXPECT_EQ(p.text(id) == "--", none) << "all three boxes alike";
        if (!none) {
            ++numbers;
            EXPECT_NEAR(number(p.text(1000)), want.x, 0.05) << p.text(1000);
            EXPECT_NEAR(number(p.text(1001)), want.y, 0.05) << p.text(1001);
            EXPECT_NEAR(number(p.text(1005)), want.total, 0.05) << p.text(1005);
        }
        e2e::sleepMs(100);
    }
    EXPECT_EQ(numbers, 10);
    clickControl(1);
    expectExit(0, 2000);
}

// A pulled cable: numbers, then "--" and a black marker, then numbers and colour again.
TEST_F(ViewerTest, APulledCableShowsNoNumberUntilTheSensorIsBack) {
    start("sim:x=1.5,y=-0.75,noise=0,unplug=10,replug=4");
    const long long started = e2e::nowMs();
    ASSERT_NE(window, 0u) << e2e::readFile(errPath);
    auto live = [](const ProbeState& s) { return !std::isnan(number(s.text(1005))); };
    ProbeState p = waitFor(live, 9000);
    ASSERT_TRUE(live(p)) << "numbers before the pull";
    EXPECT_GT(findColour(kLiveYellow).count, 0);

    // The pull comes 10 s after the device was opened; within 2 s the picture says so.
    e2e::sleepMs(static_cast<int>(std::max(0LL, started + 9500 - e2e::nowMs())));
    const ProbeState before = probeNow(); // the last live readouts
    e2e::sleepMs(static_cast<int>(std::max(0LL, started + 10000 - e2e::nowMs())));
    p = waitFor([](const ProbeState& s) { return s.text(1005) == "--"; }, 2000);
    for (int id : {1000, 1001, 1005})
        EXPECT_EQ(p.text(id), "--") << id;
    e2e::sleepMs(300);
    EXPECT_EQ(findColour(kLiveYellow).count, 0) << "no coloured marker while the sensor is gone";
    // Where the last live readouts put it: cos(total) tan(X^), cos(total) tan(Y^).
    const double c1 = std::cos(number(before.text(1005)) * kPi / 180);
    EXPECT_EQ(diamondPixels(closeViewPixel(c1 * std::tan(number(before.text(1000)) * kPi / 180),
                                           c1 * std::tan(number(before.text(1001)) * kPi / 180)),
                            0x000000),
              kLiveDiamond)
        << "black, where it last was";
    EXPECT_EQ(pictureMismatches(), 0);
    if (const char* shot = std::getenv("ORVANE_E2E_SCREENSHOT_UNPLUGGED"))
        e2e::run("import -window root '" + std::string(shot) + "'");

    // Back 4 s later, then the start-up exchange and the filter: numbers and colour again.
    p = waitFor(live, 12000);
    ASSERT_TRUE(live(p)) << "numbers after the return";
    EXPECT_NEAR(number(p.text(1000)), 1.5, 0.05);
    e2e::sleepMs(300);
    EXPECT_GT(findColour(kLiveYellow).count, 0);
    clickControl(1);
    expectExit(0, 2000);
}

// A sway across the close view's edge: whenever the viewer shows numbers, the live marker is on
// the picture, whichever view it is in.
TEST_F(ViewerTest, TheCloseViewSwayKeepsTheMarkerOnScreen) {
    start("sim:x=5,sway=3,period=8");
    ASSERT_NE(window, 0u) << e2e::readFile(errPath);
    int shots = 0;
    const long long end = e2e::nowMs() + 20000;
    while (e2e::nowMs() < end && shots < 24) {
        const ProbeState p = probeNow();
        if (std::isnan(number(p.text(1005)))) {
            e2e::sleepMs(200);
            continue;
        }
        ++shots;
        const Blob marker = findColour(kLiveYellow);
        EXPECT_GT(marker.count, 0) << "shot " << shots << " at total " << p.text(1005);
        e2e::sleepMs(250);
    }
    EXPECT_EQ(shots, 24);
    clickControl(1);
    expectExit(0, 2000);
}

// Logging and recording while viewing: the log has the rows the viewer showed, and decoding the
// recording gives the same samples with the same angles.
TEST_F(ViewerTest, LogsAndRecordsWhatItShows) {
    const std::string scratch = e2e::tempDir();
    const std::string log = scratch + "/shown.csv", recording = scratch + "/field.bin";
    start("", "Orvane Viewer",
          {"--device", "sim:x=2,y=-1,sway=1,period=4,noise=0.002,rate=100", "--log", log,
           "--record", recording});
    ASSERT_NE(window, 0u) << e2e::readFile(errPath);
    waitFor([](const ProbeState& s) { return !std::isnan(number(s.text(1005))); }, 10000);
    e2e::sleepMs(2500);
    clickControl(1);
    expectExit(0, 2000);

    const auto decoded = e2e::run(std::string(ORVANE_TOOL) + " decode '" + recording + "'");
    ASSERT_EQ(decoded.status, 0);
    std::map<unsigned long, std::array<double, 3>> bySample;
    std::istringstream lines(decoded.out);
    for (std::string line; std::getline(lines, line);) {
        unsigned long sample = 0;
        double f[7];
        if (std::sscanf(line.c_str(), "%lu,%lf,%lf,%lf,%lf,%lf,%lf,%lf", &sample, &f[0], &f[1],
                        &f[2], &f[3], &f[4], &f[5], &f[6]) == 8)
            bySample[sample] = {f[4], f[5], f[6]};
    }
    std::istringstream shown(e2e::readFile(log));
    std::string line;
    std::getline(shown, line);
    EXPECT_EQ(line, "time,sample,x,y,total,view,marker");
    int rows = 0;
    while (std::getline(shown, line)) {
        double t, x, y, total;
        unsigned long sample;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lu,%lf,%lf,%lf", &t, &sample, &x, &y, &total), 5)
            << line;
        const auto it = bySample.find(sample);
        ASSERT_NE(it, bySample.end()) << line;
        EXPECT_NEAR(x, -it->second[0], 0.01) << line;
        EXPECT_NEAR(y, it->second[1], 0.01) << line;
        EXPECT_NEAR(total, it->second[2], 0.01) << line;
        ++rows;
    }
    EXPECT_GT(rows, 50);
}

// The command line is the viewer's own: Qt's options do not reach Qt, and help needs no display.
TEST(ViewerCommandLine, HelpVersionAndUnknownOptionsWithoutADisplay) {
    struct Case {
        const char* args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"--help", 0, "usage: orvane-viewer"},
        {"--version", 0, "orvane-viewer "},
        {"--bogus", 2, "unknown argument '--bogus'"},
        {"-reverse", 2, "unknown argument '-reverse'"},
        {"--log", 2, "--log needs a value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const auto r = e2e::run("env -u DISPLAY -u WAYLAND_DISPLAY '" + std::string(ORVANE_VIEWER) +
                                "' " + c.args + " 2>&1");
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    }
}

// How the dialog can be left, and one key that must not leave it.
TEST_F(ViewerTest, DoneEnterAndCloseBoxExitZeroEscDoesNothing) {
    struct Case {
        const char* name;
        std::function<void(ViewerTest&)> act;
        bool exits;
    };
    const Case cases[] = {
        {"Done", [](ViewerTest& t) { t.clickControl(1); }, true},
        {"Enter", [](ViewerTest& t) { e2e::pressKey(t.window, "Return"); }, true},
        {"close box", [](ViewerTest& t) { e2e::requestClose(server->display(), t.window); }, true},
        {"Esc", [](ViewerTest& t) { e2e::pressKey(t.window, "Escape"); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start("sim:x=2,y=1");
        ASSERT_NE(window, 0u) << e2e::readFile(errPath);
        // Streaming, so the worker is busy when the dialog ends.
        waitFor([](const ProbeState& s) { return !std::isnan(number(s.text(1005))); }, 10000);
        c.act(*this);
        if (c.exits) {
            expectExit(0, 2000);
        } else {
            e2e::sleepMs(1500);
            EXPECT_TRUE(viewer->running());
            clickControl(1);
            expectExit(0, 2000);
        }
    }
}

// With a window manager's frame and title bar around the window, the picture still lies exactly
// where the template puts the frame, and the close box (here the manager's Alt+F4) ends it.
TEST_F(ViewerTest, PictureSitsUnderTheFrameInsideAWindowManagersDecorations) {
    if (e2e::run("command -v openbox").status != 0)
        GTEST_SKIP() << "no openbox";
    const std::string wmDir = e2e::tempDir();
    e2e::Process wm("/usr/bin/openbox", {{"HOME", wmDir}}, wmDir + "/stderr.txt");
    e2e::sleepMs(1000); // the manager takes over the screen
    ASSERT_TRUE(wm.running()) << e2e::readFile(wmDir + "/stderr.txt");

    start("sim:x=1.5,y=-0.75,noise=0");
    ASSERT_NE(window, 0u) << e2e::readFile(errPath);
    e2e::sleepMs(1000);
    const e2e::Geometry g = e2e::windowGeometry(window);
    EXPECT_TRUE(g.x != 0 || g.y != 0) << "the window has a frame around it";
    ProbeState painted;
    EXPECT_EQ(pictureMismatches(&painted), 0);
    EXPECT_EQ(painted.blitX, kFrameX);
    EXPECT_EQ(painted.blitY, kFrameY);

    e2e::pressKey(window, "alt+F4");
    expectExit(0, 2000);
    wm.signal(SIGTERM);
    wm.waitExit(5000);
}

TEST_F(ViewerTest, NoDeviceShowsTheFaultBoxAndExitsOne) {
    start("tty:/nonexistent/orvane-tty", "Communications fault");
    ASSERT_NE(window, 0u) << e2e::readFile(errPath);
    EXPECT_EQ(e2e::findWindow("Orvane Viewer", 0), 0u) << "no dialog without a sensor";
    EXPECT_TRUE(viewer->running()) << "the box waits for the user";
    EXPECT_NE(e2e::readFile(errPath).find("Could not find downtower accel comm interface"),
              std::string::npos);
    e2e::pressKey(window, "Return");
    expectExit(1, 2000);
}

TEST_F(ViewerTest, NoDisplayIsOneLineAndExitOne) {
    const std::string cases[] = {"", ":4242"}; // unset, and a display nobody serves
    for (const std::string& display : cases) {
        SCOPED_TRACE("DISPLAY=" + display);
        const std::string d = e2e::tempDir();
        e2e::Process p(ORVANE_VIEWER,
                       {{"DISPLAY", display}, {"WAYLAND_DISPLAY", ""}, {"ORVANE_DEVICE", "sim"}},
                       d + "/stderr.txt");
        const auto status = p.waitExit(10000);
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, 1);
        const std::string err = e2e::readFile(d + "/stderr.txt");
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

} // namespace
