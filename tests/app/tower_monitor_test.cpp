#include "app/tower_monitor.h"

#include "link/link_clock.h"
#include "link/link_connection.h"
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"
#include "sensor/tilt_readout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {
namespace {

// An 8-byte frame: type, three big-endian components in thousandths of g, check byte.
std::string frame(char type, int c0, int c1, int c2) {
    std::string bytes(1, type);
    std::uint8_t sum = 0;
    for (int c : {c0, c1, c2}) {
        const auto word = static_cast<std::uint16_t>(c);
        for (auto b : {static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)}) {
            bytes.push_back(static_cast<char>(b));
            sum = static_cast<std::uint8_t>(sum + b);
        }
    }
    bytes.push_back(static_cast<char>(0xFF - sum));
    return bytes;
}

const std::string kReference = frame(';', 0, 1000, 0);
const std::string kSample = frame(':', 0, 1000, 0);

// Virtual time for the link's waits: a pause returns at once, having moved the clock on.
class VirtualClock : public LinkClock {
public:
    VirtualClock() : saved_(linkClock) { linkClock = this; }
    ~VirtualClock() override { linkClock = saved_; }
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;
    TimePoint now() override { return now_; }
    void sleepUntil(TimePoint when) override { now_ = std::max(now_, when); }

private:
    TimePoint now_{};
    LinkClock* saved_;
};

// A sensor that answers each command at once and never sleeps. Exchanges are the passes of the
// loop: each one starts with the link's flush and brings at most one answer in its receive.
class ScriptedSensor {
public:
    std::string answerSe; // sent in the pass after "se"
    std::string answerC;  // sent in the pass after "c"
    // What each pass after a "g" brings: 'S' a sample frame, 'e' the "e" reply, '.' nothing;
    // silence once it has run out. Every "g" starts it again.
    std::string stream;
    int passLimit = 0; // the loop is asked to stop during this pass
    WorkerThread* loop = nullptr;
    // The device goes away at the start of this pass (0: never); the next `failedOpens` opens
    // fail, and the one after finds a sensor that lost power (no stream until "g" again).
    int goneAtPass = 0;
    int failedOpens = 0;
    bool gone = false;
    std::vector<LinkClock::TimePoint> opensAt; // of the reopen attempts, on the link's clock

    // Commands written before the first pass, then those of each pass, "-" for none.
    std::string log() const {
        std::string text;
        for (std::size_t i = 0; i < commands_.size(); ++i) {
            if (i)
                text += '/';
            text += commands_[i].empty() ? "-" : commands_[i];
        }
        return text;
    }

    void command(std::string_view bytes) {
        std::string& now = commands_.back();
        if (!now.empty())
            now += '+';
        now += bytes;
        if (bytes == "se")
            pending_ = answerSe;
        else if (bytes == "c")
            pending_ = answerC;
        else if (bytes == "g")
            streamPosition_ = 0;
    }
    void beginPass() {
        commands_.emplace_back();
        ++passes_;
        if (passes_ == goneAtPass)
            gone = true;
    }
    // An open by the link's factory: false while the device is still away.
    bool open() {
        if (!gone)
            return true; // the first open, before any pass
        beginPass();
        opensAt.push_back(linkClock->now());
        if (passes_ >= passLimit && loop)
            loop->requestStop();
        if (failedOpens > 0) {
            --failedOpens;
            command("noopen");
            return false;
        }
        gone = false;
        streamPosition_ = std::string::npos;
        command("open");
        return true;
    }
    std::string answer() {
        if (passes_ >= passLimit && loop)
            loop->requestStop();
        if (gone)
            return {};
        std::string bytes;
        bytes.swap(pending_);
        if (bytes.empty() && streamPosition_ < stream.size()) {
            switch (stream[streamPosition_++]) {
            case 'S':
                bytes = kSample;
                break;
            case 'e':
                bytes = "e";
                break;
            default:
                break;
            }
        }
        return bytes;
    }

private:
    std::vector<std::string> commands_{std::string()};
    std::string pending_;
    std::size_t streamPosition_ = std::string::npos;
    int passes_ = 0;
};

class ScriptedSource : public ChannelSource {
public:
    explicit ScriptedSource(ScriptedSensor& sensor) : sensor_(sensor) { isOpen = true; }
    using ChannelSource::write;
    std::int32_t write(const void* data, std::int32_t length) override {
        sensor_.command(
            std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(length)));
        return length;
    }
    std::int32_t read(void*, std::int32_t) override { return 0; }

private:
    ScriptedSensor& sensor_;
};

class ScriptedConnection : public LinkConnection {
public:
    ScriptedConnection(ScriptedSource* head, ScriptedSensor& sensor)
        : LinkConnection(head), sensor_(sensor) {}
    bool receive(std::int32_t timeoutMs) override {
        const std::string bytes = sensor_.answer();
        if (!bytes.empty())
            source->put(ByteBuffer(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   static_cast<std::uint32_t>(bytes.size())));
        // On the link's clock, an answer comes in a frame's time; silence lasts the time-out.
        LinkClock& clock = *linkClock;
        clock.sleepUntil(clock.now() + std::chrono::milliseconds(bytes.empty() ? timeoutMs : 20));
        return source->done;
    }
    bool flush(std::int32_t) override {
        sensor_.beginPass();
        return static_cast<Stage*>(source)->reset();
    }
    bool lost() const override { return sensor_.gone; }

private:
    ScriptedSensor& sensor_;
};

class ScriptedFactory : public LinkFactory {
public:
    explicit ScriptedFactory(ScriptedSensor& sensor) : sensor_(sensor) {}
    LinkConnection* open(ChannelSource*& source, std::int32_t, std::int32_t) override {
        source = nullptr;
        if (!sensor_.open())
            return nullptr;
        auto* head = new ScriptedSource(sensor_);
        source = head;
        return new ScriptedConnection(head, sensor_);
    }

private:
    ScriptedSensor& sensor_;
};

// Records what the loop asks of the window.
class RecordingSink : public ReadoutSink {
public:
    explicit RecordingSink(const TowerMonitor& monitor) : monitor_(monitor) {}
    void refreshReadouts() override { refreshedAt.push_back(monitor_.sampleCount); }
    void sampleProcessed(const TowerReadings& readings) override { processed.push_back(readings); }
    void linkChanged(bool connected) override { links.push_back(connected); }
    void stateChanged(ReadingState state) override {
        states.push_back(state);
        colours.push_back(monitor_.renderer.liveMarker().colour);
    }

    std::vector<std::uint32_t> refreshedAt;
    std::vector<TowerReadings> processed;
    std::vector<bool> links;
    std::vector<ReadingState> states;
    std::vector<std::uint32_t> colours; // of the live marker at each state change

private:
    const TowerMonitor& monitor_;
};

// The receive chain of the program over a scripted sensor: link -> decoder -> monitor.
class ScriptedLink {
public:
    // The link's waits run on virtual time for the life of the object.
    ScriptedLink(ScriptedSensor& sensor, TowerMonitor& monitor) : factory_(sensor) {
        savedFactory_ = linkFactory;
        linkFactory = &factory_;
        decoder.setDownstream(&monitor);
        opened = openLink(&decoder, 0, 19200);
    }
    ~ScriptedLink() {
        closeLink();
        // The process-wide receive buffer must not keep pointing at this test's decoder.
        receiveBuffer.downstream = nullptr;
        receiveBuffer.pendingDownstream = nullptr;
        linkFactory = savedFactory_;
    }
    ScriptedLink(const ScriptedLink&) = delete;
    ScriptedLink& operator=(const ScriptedLink&) = delete;

    FrameDecoder decoder;
    bool opened = false;

private:
    VirtualClock clock_;
    ScriptedFactory factory_;
    LinkFactory* savedFactory_ = nullptr;
};

struct Scenario {
    const char* name;
    std::string answerSe;
    std::string answerC;
    std::string stream;
    int passes;
    std::string expectedLog;
    std::vector<std::uint32_t> expectedRefreshes; // sampleCount at each refresh
};

std::string repeat(std::string_view text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

TEST(TowerMonitor, CommandsAndRefreshesFollowTheSensor) {
    const std::string endless = repeat("S", 100);
    const Scenario scenarios[] = {
        {"a sensor that never answers gets se every pass", "", "", "", 4, "se/se/se/se/se", {}},
        {"e without a reference gets c every pass", "e", "", "", 4, "se/c/c/c/c", {}},
        {"a reference after e gets g once, then streams",
         "e",
         kReference,
         endless,
         5,
         "se/c/g/-/-/-",
         {2}},
        {"a reference without e gets g once; refresh every second sample",
         kReference,
         "",
         endless,
         7,
         "se/g/-/-/-/-/-/-",
         {2, 4, 6}},
        {"an e while streaming counts as idle", kReference, "", "SSSe", 5, "se/g/-/-/-/g", {2}},
        {"three samples then silence: g at once, and again after three more",
         kReference,
         "",
         "SSS",
         9,
         "se/g/-/-/-/g/-/-/-/g",
         {2, 5}},
        // The countdown has wrapped far below 0 here; the run of idle passes asks again.
        {"a long stream then silence: g after four idle passes",
         kReference,
         "",
         repeat("S", 20),
         25,
         "se/g/" + repeat("-/", 23) + "g",
         {2, 4, 6, 8, 10, 12, 14, 16, 18, 20}},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        ScriptedSensor sensor;
        sensor.answerSe = s.answerSe;
        sensor.answerC = s.answerC;
        sensor.stream = s.stream;
        sensor.passLimit = s.passes;
        TowerMonitor monitor;
        RecordingSink sink(monitor);
        monitor.dialog = &sink;
        sensor.loop = &monitor;
        ScriptedLink link(sensor, monitor);
        ASSERT_TRUE(link.opened);

        // The loop on this thread, as the worker thread would run it.
        EXPECT_EQ(WorkerThread::threadEntry(&monitor), 0u);

        EXPECT_EQ(sensor.log(), s.expectedLog);
        EXPECT_EQ(sink.refreshedAt, s.expectedRefreshes);
        EXPECT_EQ(sink.processed.size(), monitor.sampleCount);
        if (s.expectedRefreshes.empty()) {
            const TowerReadings r = monitor.readings();
            EXPECT_EQ(r.angleX, 0.0f);
            EXPECT_EQ(r.angleY, 0.0f);
            EXPECT_EQ(r.totalTilt, 0.0f);
        }
    }
}

TEST(TowerMonitor, ALostDeviceIsReopenedOnceASecondAndWalkedThroughStartUpAgain) {
    ScriptedSensor sensor;
    sensor.answerSe = "e";
    sensor.answerC = kReference;
    sensor.stream = repeat("S", 100);
    sensor.goneAtPass = 5;
    sensor.failedOpens = 2;
    sensor.passLimit = 13;
    TowerMonitor monitor;
    RecordingSink sink(monitor);
    monitor.dialog = &sink;
    sensor.loop = &monitor;
    ScriptedLink link(sensor, monitor);
    ASSERT_TRUE(link.opened);

    EXPECT_EQ(WorkerThread::threadEntry(&monitor), 0u);

    // Two failed opens a second apart, then "se", "c" and "g" again on the new link.
    EXPECT_EQ(sensor.log(), "se/c/g/-/-/-/noopen/noopen/open+se/c/g/-/-/-");
    ASSERT_EQ(sensor.opensAt.size(), 3u);
    EXPECT_EQ(sensor.opensAt[1] - sensor.opensAt[0], std::chrono::seconds(1));
    EXPECT_EQ(sensor.opensAt[2] - sensor.opensAt[1], std::chrono::seconds(1));
    EXPECT_EQ(sink.links, (std::vector<bool>{false, true}));
    EXPECT_TRUE(monitor.referenceTaken);
    // The count goes on: two samples before the pull, the second reference and three after.
    EXPECT_EQ(monitor.sampleCount, 6u);
    ASSERT_FALSE(sink.processed.empty());
    EXPECT_EQ(sink.processed.back().sampleCount, 6u);
    EXPECT_EQ(monitor.linkState.load(), TowerMonitor::kStreaming);
}

TEST(TowerMonitor, ReadingStatesFollowTheFilterTheClockAndTheLink) {
    const int settled = static_cast<int>(TowerMonitor::settledSampleCount());
    ScriptedSensor sensor;
    sensor.answerSe = "e";
    sensor.answerC = kReference;
    // 65 samples, then two silent passes (3.6 s), then the device goes away and comes back.
    sensor.stream = repeat("S", 65);
    const int streamStart = 3; // the pass after "g"
    sensor.goneAtPass = streamStart + 65 + 2;
    sensor.failedOpens = 1;
    sensor.passLimit = sensor.goneAtPass + 8;
    TowerMonitor monitor;
    RecordingSink sink(monitor);
    monitor.dialog = &sink;
    sensor.loop = &monitor;
    ScriptedLink link(sensor, monitor);
    ASSERT_TRUE(link.opened);
    EXPECT_EQ(monitor.readings().state, ReadingState::Settling); // nothing yet
    EXPECT_EQ(WorkerThread::threadEntry(&monitor), 0u);

    // Settling until the filter is trusted, live, stale after 2 s without a sample, lost with the
    // device, settling once it is back, live again with the next samples.
    EXPECT_EQ(sink.states, (std::vector<ReadingState>{ReadingState::Live, ReadingState::Stale,
                                                      ReadingState::Lost, ReadingState::Settling,
                                                      ReadingState::Live}));
    ASSERT_GE(sink.processed.size(), 66u);
    for (std::size_t i = 0; i < 65; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sink.processed[i].state,
                  static_cast<int>(i) + 1 < settled ? ReadingState::Settling : ReadingState::Live);
    }
    EXPECT_EQ(sink.processed.back().state, ReadingState::Live);
    // Leaving a live reading turns the live marker black (where it was); live, it has colour.
    EXPECT_EQ(sink.colours, (std::vector<std::uint32_t>{kLiveGreen, 0, 0, 0, kLiveGreen}));
}

TEST(TowerMonitor, AZeroReferenceIsNotTakenAndCIsAskedAgain) {
    ScriptedSensor sensor;
    sensor.answerSe = "e";
    sensor.answerC = frame(';', 0, 0, 0);
    sensor.passLimit = 4;
    TowerMonitor monitor;
    sensor.loop = &monitor;
    ScriptedLink link(sensor, monitor);
    ASSERT_TRUE(link.opened);
    EXPECT_EQ(WorkerThread::threadEntry(&monitor), 0u);
    EXPECT_EQ(sensor.log(), "se/c/c/c/c");
    EXPECT_FALSE(monitor.referenceTaken);

    // A usable one after it is taken as ever; (0, 0, 1) counts is tiny but has a direction.
    const std::string usable = frame(';', 0, 0, 1);
    monitor.put(ByteBuffer(reinterpret_cast<const std::uint8_t*>(usable.data()), 8));
    EXPECT_TRUE(monitor.referenceTaken);
    EXPECT_EQ(monitor.referenceVector[2], 1.0f);
}

TEST(TowerMonitor, TheCloseViewIsLeftWhenTheMarkerWouldLeaveItsPicture) {
    // The viewer's picture: 467 x 475 pixels, the close view about +-0.098 g wide, +-0.0998 high.
    struct Case {
        float x, y; // the live marker, g
        bool closeAfter;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] =
        {
            {0.0f, 0.0f, true},     {0.097f, 0.0f, true}, {0.099f, 0.0f, false},
            {-0.099f, 0.0f, false}, {0.0f, 0.099f, true}, {0.0f, -0.1f, false},
            {0.09f, 0.09f, true}, // 7.3 degrees, but in the picture's corner
            {0.1f, 0.05f, false},   {nan, 0.0f, false},
        };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x << ", " << c.y);
        TowerMonitor monitor;
        monitor.renderer.resize(TowerMonitor::kViewerPictureWidth,
                                TowerMonitor::kViewerPictureHeight);
        monitor.selectCloseView();
        // markerX = -c0, markerY = c2
        const float c1 = std::sqrt(1.0f - c.x * c.x - c.y * c.y);
        monitor.tiltVector[0] = -c.x;
        monitor.tiltVector[1] = std::isnan(c1) ? nan : c1;
        monitor.tiltVector[2] = c.y;
        monitor.sampleCount = TowerMonitor::settledSampleCount();
        monitor.processNewSample();
        EXPECT_EQ(monitor.closeView.load(), c.closeAfter);
        // Whichever view it is in, the live marker is on the picture.
        if (!std::isnan(c.x)) {
            EXPECT_FALSE(monitor.renderer.wouldClip(c.x, c.y));
        }
    }
}

TEST(TowerMonitor, TurningTheLiveMarkerMatchesTheEstimatorsViewRotation) {
    TowerMonitor monitor;
    // A steady lean, filtered in full, seen at view angle 0 and then 22.5 and -45 degrees.
    const std::string sample = frame(':', -60, 995, 35);
    monitor.put(ByteBuffer(reinterpret_cast<const std::uint8_t*>(kReference.data()), 8));
    for (int i = 0; i < kFirTaps; ++i)
        monitor.put(ByteBuffer(reinterpret_cast<const std::uint8_t*>(sample.data()), 8));
    monitor.sampleCount = TowerMonitor::settledSampleCount();
    monitor.processNewSample();
    for (const float step : {22.5f, -45.0f}) {
        SCOPED_TRACE(step);
        monitor.turnLiveMarker(step);
        const ViewMarker turned = monitor.renderer.liveMarker();
        monitor.viewAngle = monitor.viewAngle.load() + step;
        monitor.updateViewRotation();
        monitor.correctFilteredVector();
        monitor.processNewSample();
        const ViewMarker estimated = monitor.renderer.liveMarker();
        EXPECT_NEAR(turned.x, estimated.x, 1e-6);
        EXPECT_NEAR(turned.y, estimated.y, 1e-6);
    }
}

TEST(TowerMonitor, StartsSeekingAndLeavesAtOnceWhenNotRunning) {
    ScriptedSensor sensor;
    TowerMonitor monitor;
    ScriptedLink link(sensor, monitor);
    monitor.eFrameSeen = true;
    monitor.setViewRotation({0.5f, 0.0f, 0.5f, 0.0f});
    monitor.run(); // `running` is false: only the start
    EXPECT_EQ(sensor.log(), "se");
    EXPECT_EQ(pollCountdown, 4);
    EXPECT_FALSE(monitor.eFrameSeen);
    EXPECT_EQ(monitor.linkState.load(), TowerMonitor::kSeeking);
    const Quaternion q = monitor.viewRotation();
    EXPECT_EQ(q.w, 1.0f);
    EXPECT_EQ(q.y, 0.0f);
}

// A unit tilt vector in the c0-c1 plane whose readout has exactly this u.
void tiltWithCosine(float u, float tilt[3]) {
    float c0 = static_cast<float>(std::sqrt(1.0 - static_cast<double>(u) * u));
    for (int step = 0; step < 64; ++step) {
        tilt[0] = c0;
        tilt[1] = u;
        tilt[2] = 0.0f;
        if (readTilt(tilt, 0.0f).u == u)
            return;
        c0 = std::nextafter(c0, step % 2 ? 0.0f : 1.0f);
    }
    FAIL() << "no tilt vector found for u = " << u;
}

TEST(TowerMonitor, ViewPresetHysteresisComparesTheFloatCosineWithDoubleThresholds) {
    struct Case {
        bool closeBefore;
        float u;
        bool closeAfter;
    };
    const Case cases[] = {
        {false, 0.99699998f, false}, // the float nearest 0.997 is below the double 0.997
        {false, std::nextafter(0.99699998f, 1.0f), true},
        {false, 1.0f, true},
        {true, 0.99000001f, true}, // the float nearest 0.99 is at least the double 0.99
        {true, std::nextafter(0.99000001f, 0.0f), false},
        {true, 0.5f, false},
        {false, 0.99f, false}, // between the thresholds nothing changes
        {true, 0.995f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "u = " << c.u << (c.closeBefore ? " close" : " wide"));
        TowerMonitor monitor;
        if (c.closeBefore)
            monitor.selectCloseView();
        else
            monitor.selectWideView();
        tiltWithCosine(c.u, monitor.tiltVector);
        monitor.sampleCount = TowerMonitor::settledSampleCount();
        monitor.processNewSample();
        EXPECT_EQ(monitor.closeView.load(), c.closeAfter);
        EXPECT_EQ(monitor.renderer.scale(), c.closeAfter ? kCloseView.scale : kWideView.scale);
        EXPECT_EQ(monitor.readings().closeView, c.closeAfter);
        EXPECT_EQ(monitor.lastSampleCount, TowerMonitor::settledSampleCount());
    }
}

TEST(TowerMonitor, LiveMarkerIsGreenOnlyBelowTheDoubleThreshold) {
    struct Case {
        float offAxis;
        std::uint32_t colour;
    };
    const Case cases[] = {
        {0.0f, kLiveGreen},
        {0.02f, kLiveGreen}, // the float nearest 0.02 is 0.0199999996
        {std::nextafter(0.02f, 1.0f), kLiveYellow},
        {5.0f, kLiveYellow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offAxis);
        TowerMonitor monitor;
        monitor.tiltVector[0] = -0.1f;
        monitor.tiltVector[1] = 0.99f;
        monitor.tiltVector[2] = 0.05f;
        monitor.offAxisMeasure = c.offAxis;
        monitor.sampleCount = TowerMonitor::settledSampleCount();
        monitor.processNewSample();
        const ViewMarker live = monitor.renderer.liveMarker();
        EXPECT_EQ(live.colour, c.colour);
        EXPECT_EQ(live.x, 0.1f);
        EXPECT_EQ(live.y, 0.05f);
        EXPECT_EQ(monitor.readings().markerColour, c.colour);
    }
}

TEST(TowerMonitor, ViewRotationTurnsAboutTheTowerAxis) {
    TowerMonitor monitor;
    for (float angle : {0.0f, 22.5f, -45.0f, 180.0f}) {
        monitor.viewAngle = angle;
        monitor.updateViewRotation();
        const Quaternion q = monitor.viewRotation();
        const double half = angle * 0.008726646259971648;
        EXPECT_EQ(q.w, static_cast<float>(std::cos(half))) << angle;
        EXPECT_EQ(q.x, 0.0f);
        EXPECT_EQ(q.y, static_cast<float>(std::sin(half))) << angle;
        EXPECT_EQ(q.z, 0.0f);
    }
}

} // namespace
} // namespace orvane
