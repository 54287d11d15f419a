// The viewer built with ThreadSanitizer, streaming from the simulated sensor for 30 s while the
// buttons are pressed: the worker and the window thread must share nothing unsafely.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(ViewerSoak, ThirtySecondsOfClicksLeaveNoRaceReport) {
    e2e::XServer server;
    const std::string dir = e2e::tempDir();
    const std::string errPath = dir + "/stderr.txt";
    const char* options = std::getenv("TSAN_OPTIONS");
    const std::string tsanOptions = std::string(options != nullptr ? options : "") +
                                    " suppressions=" + ORVANE_TSAN_SUPPRESSIONS;
    e2e::Process viewer(ORVANE_VIEWER,
                        {{"ORVANE_DEVICE", "sim:x=3,y=2,sway=4,period=6"},
                         {"ORVANE_UI_PROBE", dir + "/probe"},
                         {"TSAN_OPTIONS", tsanOptions}},
                        errPath);
    const unsigned long window = e2e::findWindow("Orvane Viewer", 30000);
    ASSERT_NE(window, 0u) << e2e::readFile(errPath);

    // Client pixels of the button centres: "< rotate", "mark", "rotate >".
    const int buttons[][2] = {{164, 502}, {218, 502}, {269, 502}};
    const long long end = e2e::nowMs() + 30000;
    int presses = 0;
    while (e2e::nowMs() < end && viewer.running()) {
        const e2e::Geometry g = e2e::windowGeometry(window);
        const int* b = buttons[presses % 3];
        e2e::click(g.x + b[0], g.y + b[1]);
        ++presses;
        if (presses % 10 == 0)
            e2e::probe(viewer, dir + "/probe");
        e2e::sleepMs(150);
    }
    ASSERT_TRUE(viewer.running()) << e2e::readFile(errPath);
    const e2e::Geometry g = e2e::windowGeometry(window);
    e2e::click(g.x + 392 + 37, g.y + 504 + 11); // Done
    const auto status = viewer.waitExit(10000);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    const std::string err = e2e::readFile(errPath);
    EXPECT_EQ(err.find("ThreadSanitizer"), std::string::npos) << err;
}

} // namespace
