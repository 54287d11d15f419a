// Parsing of the simulated sensor's options.
#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane::sim {
namespace {

TEST(SimOptionsTest, EmptyTextGivesTheDefaults) {
    SimOptions options;
    options.rate = 1; // overwritten
    std::string error;
    ASSERT_TRUE(parseSimOptions("", options, error));
    EXPECT_EQ(options.leanX, 0.0);
    EXPECT_EQ(options.leanY, 0.0);
    EXPECT_EQ(options.noise, 0.001);
    EXPECT_EQ(options.rate, 50.0);
    EXPECT_EQ(options.sway, 0.0);
    EXPECT_FALSE(options.silent);
    EXPECT_FALSE(options.noref);
    EXPECT_FALSE(options.unplugAfter);
    EXPECT_FALSE(options.seed);
}

TEST(SimOptionsTest, EveryKeyIsRead) {
    SimOptions o;
    std::string error;
    ASSERT_TRUE(parseSimOptions("x=2.5,y=-1,noise=0,sway=3,period=4.5,rate=200,corrupt=0.1,"
                                "drop=0.2,garbage=1,silent,noref,unplug=7,seed=42",
                                o, error))
        << error;
    EXPECT_EQ(o.leanX, 2.5);
    EXPECT_EQ(o.leanY, -1.0);
    EXPECT_EQ(o.noise, 0.0);
    EXPECT_EQ(o.sway, 3.0);
    EXPECT_EQ(o.period, 4.5);
    EXPECT_EQ(o.rate, 200.0);
    EXPECT_EQ(o.corrupt, 0.1);
    EXPECT_EQ(o.drop, 0.2);
    EXPECT_EQ(o.garbage, 1.0);
    EXPECT_TRUE(o.silent);
    EXPECT_TRUE(o.noref);
    EXPECT_EQ(o.unplugAfter, 7.0);
    EXPECT_EQ(o.seed, 42u);
}

TEST(SimOptionsTest, BadOptionsAreNamedAndChangeNothing) {
    struct Case {
        const char* text;
        const char* named; // what the one-line message must contain
    };
    const Case cases[] = {
        {"colour=red", "\"colour\""},
        {"x=1,bogus", "\"bogus\""},
        {"rate=fast", "\"rate=fast\""},
        {"rate=0", "\"rate=0\""},
        {"rate=", "\"rate=\""},
        {"x=90", "\"x=90\""},
        {"y=-95", "\"y=-95\""},
        {"noise=-0.1", "\"noise=-0.1\""},
        {"corrupt=1.5", "\"corrupt=1.5\""},
        {"drop=0.5x", "\"drop=0.5x\""},
        {"period=0", "\"period=0\""},
        {"unplug=-1", "\"unplug=-1\""},
        {"unplug=1e10", "\"unplug=1e10\""}, // beyond the model's nanoseconds
        {"unplug=inf", "\"unplug=inf\""},
        {"unplug=2,replug=-1", "\"replug=-1\""},
        {"unplug=2,replug=1e7", "\"replug=1e7\""},
        {"replug=2", "\"replug\""}, // nothing to come back from
        {"period=1e300", "\"period=1e300\""},
        {"rate=1e-9", "\"rate=1e-9\""}, // one frame in 30 years: its tick would overflow
        {"rate=1e5", "\"rate=1e5\""},
        {"seed=-3", "\"seed=-3\""},
        {"x", "\"x\""},
        {"silent=1", "\"silent=1\""},
        {"x=nan", "\"x=nan\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SimOptions options;
        options.rate = 123;
        std::string error;
        EXPECT_FALSE(parseSimOptions(c.text, options, error));
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_EQ(options.rate, 123.0);
    }
}

} // namespace
} // namespace orvane::sim
