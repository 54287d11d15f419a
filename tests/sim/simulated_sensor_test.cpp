// The simulated sensor on a virtual clock: answers, stream rate, lean and every fault option,
// with its frames cut by the program's own FrameDecoder.
#include "sensor/frame_decoder.h"
#include "sim/simulated_sensor.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace orvane::sim {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

SimOptions parse(const std::string& text) {
    SimOptions options;
    std::string error;
    EXPECT_TRUE(parseSimOptions(text, options, error)) << error;
    return options;
}

struct Frame {
    std::uint8_t type;
    int c[3];
};

// What the decoder hands downstream.
class Capture : public LinkedStage {
public:
    void put(const ByteBuffer& block) override {
        if (block.length == 1) {
            ++replies;
            return;
        }
        Frame f{block.data[0], {}};
        for (int i = 0; i < 3; ++i)
            f.c[i] =
                static_cast<std::int16_t>((block.data[1 + 2 * i] << 8) | block.data[2 + 2 * i]);
        frames.push_back(f);
    }
    bool deleteOnDetach() override { return false; }

    std::vector<Frame> frames;
    int replies = 0;
};

struct Decoded {
    Decoded() {
        decoder.setDownstream(&capture);
        decoder.applyPendingDownstream();
    }
    void feed(const std::vector<std::uint8_t>& bytes) {
        decoder.put(ByteBuffer(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    }
    FrameDecoder decoder;
    Capture capture;
};

// Reads everything due in (from, to] in steps of `step`, as a host polling the port would.
std::vector<std::uint8_t> drain(SimulatedSensor& sensor, SimTime from, SimTime to,
                                SimTime step = milliseconds(10)) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[512];
    for (SimTime t = from;; t = std::min(t + step, to)) {
        std::int64_t n;
        while ((n = sensor.read(buffer, sizeof buffer, t)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        if (t == to)
            return bytes;
    }
}

void send(SimulatedSensor& sensor, const std::string& command, SimTime at) {
    sensor.write(reinterpret_cast<const std::uint8_t*>(command.data()), command.size(), at);
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char digits[3];
    for (const std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}

// The frames of a stream of `count` sample frames started at 0.5 s.
std::vector<std::uint8_t> stream(const std::string& options, int count, double rate = 50) {
    SimulatedSensor sensor(parse(options));
    const SimTime start = milliseconds(500);
    send(sensor, "g", start);
    const auto period =
        std::chrono::duration_cast<SimTime>(std::chrono::duration<double>(1.0 / rate));
    return drain(sensor, start, start + period * count - SimTime(1));
}

TEST(SimulatedSensorTest, AnswersItsCommands) {
    struct Case {
        std::vector<std::string> writes;
        const char* answer;
    };
    const Case cases[] = {
        {{"se"}, "65"},
        {{"s", "e"}, "65"}, // a command split over two writes
        {{"sese"}, "6565"},
        {{"sxe"}, ""},
        {{"e"}, ""},
        {{"c"}, "3b000003e8000014"},
        {{"se", "c"}, "653b000003e8000014"},
        {{"xyz\r\n"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        SimulatedSensor sensor(parse("seed=1"));
        SimTime t = milliseconds(100);
        for (const auto& w : c.writes) {
            send(sensor, w, t);
            t += milliseconds(3);
        }
        EXPECT_EQ(hex(drain(sensor, t, t + seconds(1))), c.answer);
    }
}

TEST(SimulatedSensorTest, SendsNothingUntilAsked) {
    SimulatedSensor sensor(parse(""));
    EXPECT_TRUE(drain(sensor, SimTime(0), seconds(5)).empty());
    EXPECT_FALSE(sensor.nextEventAt(seconds(5)));
}

TEST(SimulatedSensorTest, StreamsAtItsRateFromTheNextSampleTick) {
    for (const double rate : {50.0, 200.0, 7.5}) {
        SCOPED_TRACE(rate);
        SimulatedSensor sensor(parse("noise=0,rate=" + std::to_string(rate)));
        const SimTime g = milliseconds(1234);
        send(sensor, "g", g);
        std::vector<double> arrivals; // seconds
        std::uint8_t buffer[64];
        for (SimTime t = g; t <= g + seconds(4); t += std::chrono::microseconds(250)) {
            const std::int64_t n = sensor.read(buffer, sizeof buffer, t);
            ASSERT_TRUE(n == 0 || n == 8);
            if (n == 8)
                arrivals.push_back(std::chrono::duration<double>(t).count());
        }
        EXPECT_NEAR(static_cast<double>(arrivals.size()), 4.0 * rate, 1.0);
        ASSERT_FALSE(arrivals.empty());
        // The first tick comes within a period; it is seen at the next read, 250 us later at most.
        EXPECT_LE(arrivals.front() - 1.234, 1.0 / rate + 0.00025);
        for (std::size_t i = 1; i < arrivals.size(); ++i)
            EXPECT_NEAR(arrivals[i] - arrivals[i - 1], 1.0 / rate, 0.0006);
        // A second "g" neither restarts nor doubles the stream.
        send(sensor, "g", g + seconds(4));
        EXPECT_NEAR(static_cast<double>(drain(sensor, g + seconds(4), g + seconds(6)).size()),
                    8.0 * 2.0 * rate, 8.0);
    }
}

TEST(SimulatedSensorTest, LeanReadsBackAsTheViewerShowsIt) {
    struct Case {
        double x, y;
    };
    for (const Case c : {Case{0, 0}, Case{2.5, -1.25}, Case{-10, 5}, Case{30, 0}, Case{0.1, 0.2}}) {
        SCOPED_TRACE(::testing::Message() << "x=" << c.x << " y=" << c.y);
        Decoded d;
        d.feed(stream("seed=3,x=" + std::to_string(c.x) + ",y=" + std::to_string(c.y), 500));
        ASSERT_EQ(d.capture.frames.size(), 500u); // every frame passes the check
        double sum[3] = {};
        for (const Frame& f : d.capture.frames) {
            EXPECT_EQ(f.type, ':');
            for (int i = 0; i < 3; ++i)
                sum[i] += f.c[i];
        }
        // "X^" is -atan2(c0, c1), "Y^" atan2(c2, c1), in degrees.
        const double shownX = -std::atan2(sum[0], sum[1]) * 180.0 / std::numbers::pi;
        const double shownY = std::atan2(sum[2], sum[1]) * 180.0 / std::numbers::pi;
        EXPECT_NEAR(shownX, c.x, 0.02);
        EXPECT_NEAR(shownY, c.y, 0.02);
        const double n = 500.0;
        EXPECT_NEAR(std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / n, 1000.0,
                    1.0);
    }
}

TEST(SimulatedSensorTest, NoiseHasTheGivenSpread) {
    for (const double noise : {0.0, 0.001, 0.01}) {
        SCOPED_TRACE(noise);
        Decoded d;
        d.feed(stream("seed=5,noise=" + std::to_string(noise), 2000));
        ASSERT_EQ(d.capture.frames.size(), 2000u);
        double sum = 0, squares = 0;
        for (const Frame& f : d.capture.frames) {
            sum += f.c[2];
            squares += static_cast<double>(f.c[2]) * f.c[2];
        }
        const double mean = sum / 2000, rms = std::sqrt(squares / 2000 - mean * mean);
        // Rounding to whole counts adds about 0.29 counts rms.
        EXPECT_NEAR(rms, std::sqrt(std::pow(noise * 1000, 2) + (noise > 0 ? 1.0 / 12 : 0)),
                    0.1 * noise * 1000 + 0.02);
    }
}

TEST(SimulatedSensorTest, SwayOscillatesTheXLean) {
    Decoded d;
    d.feed(stream("noise=0,x=1,sway=2,period=2", 200));
    ASSERT_EQ(d.capture.frames.size(), 200u);
    double low = 90, high = -90;
    for (const Frame& f : d.capture.frames) {
        const double shownX = -std::atan2(f.c[0], f.c[1]) * 180.0 / std::numbers::pi;
        low = std::min(low, shownX);
        high = std::max(high, shownX);
    }
    EXPECT_NEAR(low, -1.0, 0.1);
    EXPECT_NEAR(high, 3.0, 0.1);
}

int badCheckBytes(const std::vector<std::uint8_t>& bytes) {
    int bad = 0;
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        std::uint8_t sum = 0;
        for (int k = 1; k < 8; ++k)
            sum = static_cast<std::uint8_t>(sum + bytes[i + k]);
        bad += sum != 0xFF;
    }
    return bad;
}

TEST(SimulatedSensorTest, CorruptSpoilsThatFractionOfCheckBytes) {
    const auto bytes = stream("seed=11,corrupt=0.3", 2000);
    ASSERT_EQ(bytes.size(), 8u * 2000u);
    EXPECT_NEAR(badCheckBytes(bytes), 600, 90);
    Decoded d;
    d.feed(bytes);
    EXPECT_EQ(static_cast<int>(d.capture.frames.size()), 2000 - badCheckBytes(bytes));
}

TEST(SimulatedSensorTest, DropLeavesOutThatFractionOfFrames) {
    const auto bytes = stream("seed=12,drop=0.25", 2000);
    EXPECT_EQ(bytes.size() % 8, 0u);
    EXPECT_NEAR(static_cast<double>(bytes.size() / 8), 1500.0, 90.0);
    EXPECT_EQ(badCheckBytes(bytes), 0);
}

TEST(SimulatedSensorTest, GarbageComesBetweenFramesThatStillDecode) {
    const auto bytes = stream("seed=13,garbage=0.5", 2000);
    // Bursts of 1 to 16 bytes (8.5 on average) before about half the frames.
    const double extra = static_cast<double>(bytes.size()) - 8.0 * 2000;
    EXPECT_NEAR(extra, 0.5 * 2000 * 8.5, 1000);
    Decoded d;
    d.feed(bytes);
    // A noise byte that happens to be a type byte costs the frame after it, rarely more.
    EXPECT_GT(d.capture.frames.size(), 1700u);
    EXPECT_LT(d.capture.frames.size(), 2000u);
}

TEST(SimulatedSensorTest, SilentAnswersNothing) {
    SimulatedSensor sensor(parse("silent"));
    send(sensor, "se", milliseconds(1));
    send(sensor, "c", milliseconds(2));
    send(sensor, "g", milliseconds(3));
    EXPECT_TRUE(drain(sensor, milliseconds(3), seconds(3)).empty());
}

TEST(SimulatedSensorTest, NorefNeverSendsTheReference) {
    SimulatedSensor sensor(parse("noref,seed=2"));
    send(sensor, "se", milliseconds(1));
    send(sensor, "c", milliseconds(2));
    EXPECT_EQ(hex(drain(sensor, milliseconds(2), seconds(1))), "65");
    send(sensor, "g", seconds(1));
    Decoded d;
    d.feed(drain(sensor, seconds(1), seconds(2)));
    EXPECT_NEAR(static_cast<double>(d.capture.frames.size()), 50, 1);
    for (const Frame& f : d.capture.frames)
        EXPECT_EQ(f.type, ':');
}

TEST(SimulatedSensorTest, UnplugFailsEveryReadAndWriteFromThatTimeOn) {
    SimulatedSensor sensor(parse("unplug=2"));
    send(sensor, "g", milliseconds(1));
    std::uint8_t buffer[SimulatedSensor::kOutputLimit];
    EXPECT_GE(sensor.read(buffer, sizeof buffer, milliseconds(1999)), 0);
    // The unplug is an event of its own; a sample tick at the random phase may still come first.
    const auto next = sensor.nextEventAt(milliseconds(1999));
    ASSERT_TRUE(next);
    EXPECT_LE(*next, milliseconds(2000));
    EXPECT_EQ(SimulatedSensor(parse("unplug=2")).nextEventAt(milliseconds(1999)),
              milliseconds(2000));
    EXPECT_EQ(sensor.read(buffer, sizeof buffer, milliseconds(2000)), -1);
    EXPECT_FALSE(sensor.write(reinterpret_cast<const std::uint8_t*>("se"), 2, milliseconds(2001)));
    EXPECT_EQ(sensor.read(buffer, sizeof buffer, seconds(100)), -1);

    SimulatedSensor atOnce(parse("unplug=0"));
    EXPECT_EQ(atOnce.read(buffer, sizeof buffer, SimTime(0)), -1);
}

TEST(SimulatedSensorTest, ReplugBringsTheCableBackForDevicesOpenedAfterIt) {
    const SimOptions options = parse("unplug=2,replug=3");
    struct Case {
        SimTime at;
        bool cableIn;
    };
    for (const Case& c :
         {Case{milliseconds(1999), true}, Case{seconds(2), false}, Case{milliseconds(4999), false},
          Case{seconds(5), true}, Case{seconds(100), true}}) {
        SCOPED_TRACE(c.at.count());
        EXPECT_EQ(SimulatedSensor::cableInAt(options, c.at), c.cableIn);
    }
    EXPECT_FALSE(SimulatedSensor::cableInAt(parse("unplug=2"), seconds(100)));

    std::uint8_t buffer[SimulatedSensor::kOutputLimit];
    // Opened before the pull: dead from the pull on, also after the cable is back.
    SimulatedSensor before(options);
    EXPECT_EQ(before.read(buffer, sizeof buffer, seconds(6)), -1);
    // Opened after the return: a sensor that lost power, which answers and streams anew.
    SimulatedSensor after(options, seconds(5));
    EXPECT_FALSE(after.unpluggedAt(seconds(6)));
    EXPECT_FALSE(after.streaming());
    send(after, "se", seconds(6));
    EXPECT_EQ(hex(drain(after, seconds(6), seconds(6) + milliseconds(1))), "65");
    send(after, "g", seconds(7));
    EXPECT_GT(drain(after, seconds(7), seconds(8)).size(), 8u * 40);
}

TEST(SimulatedSensorTest, SeedMakesTheStreamReproducible) {
    const std::string options = "seed=7,noise=0.01,corrupt=0.2,drop=0.2,garbage=0.2,x=3";
    auto run = [&](const std::string& text, SimTime step) {
        SimulatedSensor sensor(parse(text));
        send(sensor, "se", milliseconds(5));
        send(sensor, "g", milliseconds(10));
        return drain(sensor, milliseconds(10), seconds(10), step);
    };
    const auto a = run(options, milliseconds(1));
    EXPECT_EQ(a, run(options, milliseconds(37))); // however the host happens to read
    EXPECT_NE(a, run("seed=8,noise=0.01,corrupt=0.2,drop=0.2,garbage=0.2,x=3", milliseconds(1)));
}

TEST(SimulatedSensorTest, AnUnreadBacklogIsCappedAndTheStreamGoesOn) {
    SimulatedSensor sensor(parse("seed=4"));
    send(sensor, "g", SimTime(0));
    std::vector<std::uint8_t> buffer(100000);
    EXPECT_EQ(sensor.read(buffer.data(), buffer.size(), seconds(3600)),
              static_cast<std::int64_t>(SimulatedSensor::kOutputLimit));
    EXPECT_EQ(sensor.read(buffer.data(), buffer.size(), seconds(3600)), 0);
    EXPECT_EQ(sensor.read(buffer.data(), buffer.size(), seconds(3600) + milliseconds(20)), 8);
}

} // namespace
} // namespace orvane::sim
