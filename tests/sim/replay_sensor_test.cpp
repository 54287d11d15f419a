// A recording played back as a sensor, on virtual time.
#include "sim/replay_sensor.h"

#include "tests/support/scratch.h"
#include "tests/support/wire_frame.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace orvane::sim {
namespace {

using std::chrono::milliseconds;
using test_support::appendWireFrame;

std::string writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = test_support::scratchDir() + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<std::uint8_t> readAll(ReplaySensor& sensor, SimTime at) {
    std::uint8_t buffer[8192];
    const std::int64_t n = sensor.read(buffer, sizeof buffer, at);
    return std::vector<std::uint8_t>(buffer, buffer + (n > 0 ? n : 0));
}

TEST(ReplayOptions, PathRateAndLoop) {
    struct Case {
        const char* text;
        bool ok;
        const char* path;
        double rate;
        bool loop;
    };
    const Case cases[] = {
        {"a.bin", true, "a.bin", 50, false},
        {"a.bin,rate=1000", true, "a.bin", 1000, false},
        {"a.bin,loop,rate=7.5", true, "a.bin", 7.5, true},
        {"dir,with,commas/a.bin,loop", true, "dir,with,commas/a.bin", 50, true},
        {"a.bin,rate=0", false, "", 0, false},
        {"a.bin,rate=1e9", false, "", 0, false},
        {"a.bin,rate=", false, "", 0, false},
        {"", false, "", 0, false},
        {",loop", false, "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ReplayOptions options;
        std::string error;
        ASSERT_EQ(parseReplayOptions(c.text, options, error), c.ok) << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(error.find('\n'), std::string::npos);
            continue;
        }
        EXPECT_EQ(options.path, c.path);
        EXPECT_EQ(options.rate, c.rate);
        EXPECT_EQ(options.loop, c.loop);
    }
}

TEST(ReplayRecording, CutsFramesAsTheDecoderDoesAndSaysWhatIsWrong) {
    std::vector<std::uint8_t> bytes = {'e', 1, 2, 3, 4, 5, 6, 7, 0x00, 0x42}; // "e", its 7, noise
    appendWireFrame(bytes, ':', 1, 999, 2);  // before the reference: still a frame after "g"
    appendWireFrame(bytes, ';', 0, 1000, 0); // the reference
    appendWireFrame(bytes, ':', 3, 998, 4);
    std::vector<std::uint8_t> bad;
    appendWireFrame(bad, ':', 5, 997, 6);
    bad[7] ^= 1; // wrong check byte: not a frame
    bytes.insert(bytes.end(), bad.begin(), bad.end());
    appendWireFrame(bytes, ';', 7, 996, 8); // a later reference counts as a frame
    bytes.insert(bytes.end(), {':', 1, 2}); // truncated at the end
    Recording r;
    std::string error;
    ASSERT_TRUE(loadRecording(writeFile("good.bin", bytes), r, error)) << error;
    ASSERT_EQ(r.reference.size(), 8u);
    EXPECT_EQ(r.reference[4], 0xE8); // 1000 = 0x03E8
    ASSERT_EQ(r.frameCount(), 3u);
    EXPECT_EQ(r.frames[0], ':');
    EXPECT_EQ(r.frames[8], ':');
    EXPECT_EQ(r.frames[16], ';');

    std::vector<std::uint8_t> noReference;
    appendWireFrame(noReference, ':', 0, 1000, 0);
    struct Case {
        std::string path;
        const char* says;
    };
    const Case failures[] = {
        {test_support::scratchDir() + "missing.bin", "No such file or directory"},
        {writeFile("empty.bin", {}), "no reference frame"},
        {writeFile("samples.bin", noReference), "no reference frame"},
        {writeFile("garbage.bin", {'x', ';', 1, 2, 3}), "no reference frame"},
        {test_support::scratchDir(), "cannot be read"}, // a directory
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.path);
        EXPECT_FALSE(loadRecording(c.path, r, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(error.rfind("replay:" + c.path, 0), 0u) << error;
    }
}

TEST(ReplaySensor, AnswersLikeTheSensorAndPacesItsFrames) {
    Recording r;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(32); // GCC 12 at -O3 sees a write past the end of an empty vector otherwise
    appendWireFrame(bytes, ';', 0, 1000, 0);
    for (int i = 0; i < 3; ++i)
        appendWireFrame(bytes, ':', i, 999, 0);
    std::string error;
    ASSERT_TRUE(loadRecording(writeFile("three.bin", bytes), r, error)) << error;

    for (const bool loop : {false, true}) {
        SCOPED_TRACE(loop);
        ReplaySensor sensor(r, 100, loop);
        EXPECT_EQ(readAll(sensor, milliseconds(1)).size(), 0u); // nothing until asked
        sensor.write(reinterpret_cast<const std::uint8_t*>("se"), 2, milliseconds(2));
        EXPECT_EQ(readAll(sensor, milliseconds(2)), std::vector<std::uint8_t>{'e'});
        sensor.write(reinterpret_cast<const std::uint8_t*>("c"), 1, milliseconds(3));
        EXPECT_EQ(readAll(sensor, milliseconds(3)),
                  std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8));
        sensor.write(reinterpret_cast<const std::uint8_t*>("g"), 1, milliseconds(10));
        // One frame per 10 ms from the "g" on.
        EXPECT_EQ(sensor.nextEventAt(milliseconds(10)), milliseconds(20));
        EXPECT_EQ(readAll(sensor, milliseconds(19)).size(), 0u);
        EXPECT_EQ(readAll(sensor, milliseconds(20)),
                  std::vector<std::uint8_t>(bytes.begin() + 8, bytes.begin() + 16));
        EXPECT_EQ(readAll(sensor, milliseconds(40)).size(), 16u);
        // Once: silence after the last frame. Looped: the first frame again.
        const auto after = readAll(sensor, milliseconds(50));
        EXPECT_EQ(after.size(), loop ? 8u : 0u);
        EXPECT_EQ(sensor.nextEventAt(milliseconds(50)).has_value(), loop);
    }
}

} // namespace
} // namespace orvane::sim
