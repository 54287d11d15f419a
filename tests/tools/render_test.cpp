// Runs `orvane render` as a user would and reads the PNG back with libpng.

#include "render/scene_renderer.h"

#include <gtest/gtest.h>
#include <png.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace orvane {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t format = 0;      // as stored in the file
    std::vector<std::uint8_t> rgb; // top line first
};

std::optional<Picture> readPng(const fs::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return std::nullopt;
    Picture picture;
    picture.width = image.width;
    picture.height = image.height;
    picture.format = image.format;
    image.format = PNG_FORMAT_RGB;
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr))
        return std::nullopt;
    return picture;
}

// The frame a renderer makes with the same calls, as RGB bytes with the top line first.
std::vector<std::uint8_t> expectedRgb(std::int32_t width, std::int32_t height,
                                      const ViewPreset& preset, const ViewMarker* live,
                                      const ViewMarker* mark) {
    SceneRenderer renderer;
    renderer.resize(width, height);
    renderer.applyPreset(preset);
    if (live != nullptr)
        renderer.setMarker(live->x, live->y, live->colour, true);
    if (mark != nullptr)
        renderer.setMarker(mark->x, mark->y, mark->colour, false);
    const std::uint32_t* frame = renderer.frameBits();
    std::vector<std::uint8_t> rgb;
    for (std::int32_t line = height - 1; line >= 0; --line) {
        for (std::int32_t column = 0; column < width; ++column) {
            const std::uint32_t pixel = frame[static_cast<std::size_t>(line) * width + column];
            rgb.push_back(static_cast<std::uint8_t>(pixel >> 16));
            rgb.push_back(static_cast<std::uint8_t>(pixel >> 8));
            rgb.push_back(static_cast<std::uint8_t>(pixel));
        }
    }
    return rgb;
}

class RenderCommand : public testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        dir_ = fs::temp_directory_path() / ("orvane-render-" + std::to_string(seed()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    ToolRun run(const std::vector<std::string>& args) const {
        // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on "literal" + std::string&&.
        std::string command = quoted(ORVANE_TOOL);
        command += " render";
        for (const std::string& a : args)
            command.append(" ").append(quoted(a));
        command.append(" >").append(quoted((dir_ / "stdout").string()));
        command.append(" 2>").append(quoted((dir_ / "stderr").string()));
        const int raw = std::system(command.c_str());
        ToolRun result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir_ / "stdout"),
                       slurp(dir_ / "stderr")};
        fs::remove(dir_ / "stdout");
        fs::remove(dir_ / "stderr");
        return result;
    }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir_;
};

struct Drawing {
    const char* name;
    std::vector<std::string> args; // without -o
    std::int32_t width, height;
    const ViewPreset* preset;
    std::optional<ViewMarker> live;
    std::optional<ViewMarker> mark;
};

TEST_F(RenderCommand, WritesTheFrameAsRgbPngTopLineFirst) {
    const Drawing drawings[] = {
        {"wide without markers: the live marker keeps its black centre",
         {"--size", "300x300", "--view", "wide"},
         300,
         300,
         &kWideView,
         std::nullopt,
         std::nullopt},
        {"close, default live colour, mark",
         {"--size", "467x475", "--view", "close", "--live", "0.03,0.02", "--mark", "-0.04,-0.05"},
         467,
         475,
         &kCloseView,
         ViewMarker{0.03f, 0.02f, 0x10D010},
         ViewMarker{-0.04f, -0.05f, kMarkColour}},
        {"wide, options in another order, colour given, not square",
         {"--live", "-0.5,+0.25,E0FF40", "--view", "wide", "--mark", "0.6,-0.1", "--size", "81x47"},
         81,
         47,
         &kWideView,
         ViewMarker{-0.5f, 0.25f, 0xE0FF40},
         ViewMarker{0.6f, -0.1f, kMarkColour}},
        {"lower-case colour, exponent",
         {"--size", "64x40", "--view", "close", "--live", "5e-2,-2.5e-2,abcdef"},
         64,
         40,
         &kCloseView,
         ViewMarker{0.05f, -0.025f, 0xABCDEF},
         std::nullopt},
        {"largest side",
         {"--size", "16384x2", "--view", "wide"},
         16384,
         2,
         &kWideView,
         std::nullopt,
         std::nullopt},
        {"one pixel",
         {"--size", "1x1", "--view", "close", "--live", "0,0"},
         1,
         1,
         &kCloseView,
         ViewMarker{0.0f, 0.0f, 0x10D010},
         std::nullopt},
    };
    for (const Drawing& d : drawings) {
        SCOPED_TRACE(d.name);
        const fs::path file = dir_ / "view.png";
        std::vector<std::string> args = d.args;
        args.insert(args.end(), {"-o", file.string()});
        const ToolRun result = run(args);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        const std::optional<Picture> picture = readPng(file);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->format, static_cast<std::uint32_t>(PNG_FORMAT_RGB)); // 8-bit RGB
        EXPECT_EQ(picture->width, static_cast<std::uint32_t>(d.width));
        EXPECT_EQ(picture->height, static_cast<std::uint32_t>(d.height));
        EXPECT_TRUE(picture->rgb == expectedRgb(d.width, d.height, *d.preset,
                                                d.live ? &*d.live : nullptr,
                                                d.mark ? &*d.mark : nullptr));
        EXPECT_EQ(entries(), std::vector<std::string>{"view.png"}); // no temporary left over
        fs::remove(file);
    }
}

TEST_F(RenderCommand, PicturesShowMarkersWhereTheyBelong) {
    // Independent of the renderer: in a 300 x 300 wide view one g is 142.975 pixels, so a live
    // marker at (0.5, 0.5) is centred 71 pixels right of and above the centre (150, 150 from
    // the bottom left), i.e. column 221 and PNG line 299 - 221 = 78.
    const fs::path file = dir_ / "v.png";
    ASSERT_EQ(run({"--size", "300x300", "--view", "wide", "--live", "0.5,0.5", "--mark",
                   "-0.5,-0.5", "-o", file.string()})
                  .status,
              0);
    const std::optional<Picture> picture = readPng(file);
    ASSERT_TRUE(picture);
    auto rgbAt = [&](int column, int line) {
        const std::uint8_t* p = &picture->rgb[(static_cast<std::size_t>(line) * 300 + column) * 3];
        return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    };
    EXPECT_EQ(rgbAt(221, 78), 0x10D010u);
    EXPECT_EQ(rgbAt(221 + 13, 78), 0u); // the black rim of the live marker
    // The mark at (-0.5, -0.5): column and row 150 - 71.49 -> 79, PNG line 299 - 79 = 220.
    EXPECT_EQ(rgbAt(79, 220), kMarkColour);
    EXPECT_EQ(rgbAt(79 + 12, 220), 0u);
    EXPECT_EQ(rgbAt(0, 0), 0u); // outside the disc
}

TEST_F(RenderCommand, ReplacesAnExistingFile) {
    const fs::path file = dir_ / "view.png";
    std::ofstream(file) << "not a picture";
    ASSERT_EQ(run({"--size", "20x10", "--view", "wide", "-o", file.string()}).status, 0);
    const std::optional<Picture> picture = readPng(file);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 20u);
}

TEST_F(RenderCommand, BadArgumentsGiveUsage) {
    struct UsageCase {
        std::vector<std::string> args;
        bool withOutput; // append -o FILE
    };
    const UsageCase cases[] = {
        {{}, false},
        {{"--size", "0x300", "--view", "wide"}, true},
        {{"--size", "300x0", "--view", "wide"}, true},
        {{"--size", "-5x300", "--view", "wide"}, true},
        {{"--size", "300x-5", "--view", "wide"}, true},
        {{"--size", "16385x10", "--view", "wide"}, true},
        {{"--size", "10x16385", "--view", "wide"}, true},
        {{"--size", "99999999999x10", "--view", "wide"}, true},
        {{"--size", "abcx10", "--view", "wide"}, true},
        {{"--size", "10x", "--view", "wide"}, true},
        {{"--size", "x10", "--view", "wide"}, true},
        {{"--size", "300", "--view", "wide"}, true},
        {{"--size", "1.5x3", "--view", "wide"}, true},
        {{"--size", "+3x3", "--view", "wide"}, true},
        {{"--size", "3x3x3", "--view", "wide"}, true},
        {{"--size", "", "--view", "wide"}, true},
        {{"--size", "300x300", "--view", "medium"}, true},
        {{"--size", "300x300", "--view", "WIDE"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "0.1"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "0.1,"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", ",0.1"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "a,b"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "0.1,0.2x"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "nan,0"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "0,inf"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "0.1,0.2,12345"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "0.1,0.2,1234567"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "0.1,0.2,GGGGGG"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "0.1,0.2,0x1234"}, true},
        {{"--size", "300x300", "--view", "wide", "--live", "0.1,0.2,10D010,5"}, true},
        {{"--size", "300x300", "--view", "wide", "--mark", "0.1"}, true},
        {{"--size", "300x300", "--view", "wide", "--mark", "0.1,0.2,0000FF"}, true},
        {{"--size", "300x300", "--view", "wide"}, false},               // no -o
        {{"--view", "wide"}, true},                                     // no --size
        {{"--size", "300x300"}, true},                                  // no --view
        {{"--size", "300x300", "--view", "wide", "--zoom", "2"}, true}, // unknown option
        {{"--size", "300x300", "--view", "wide", "extra"}, true},       // stray argument
        {{"--size", "300x300", "--view", "wide", "-o"}, false},         // missing value
    };
    for (const UsageCase& c : cases) {
        std::vector<std::string> args = c.args;
        if (c.withOutput)
            args.insert(args.end(), {"-o", (dir_ / "view.png").string()});
        std::string shown;
        for (const std::string& a : args)
            shown += " '" + a + "'";
        const ToolRun result = run(args);
        EXPECT_EQ(result.status, 2) << shown;
        EXPECT_NE(result.err.find("usage: orvane render --size WxH --view wide|close"),
                  std::string::npos)
            << shown << "\n"
            << result.err;
        EXPECT_EQ(result.out, "") << shown;
        EXPECT_TRUE(entries().empty()) << shown;
    }
}

TEST_F(RenderCommand, UnwritableOutputIsOneLineAndLeavesNothing) {
    fs::create_directories(dir_ / "sub");
    std::ofstream(dir_ / "plain") << "x";
    struct Case {
        fs::path file;
        std::string reason;
    };
    const Case cases[] = {
        {dir_ / "missing" / "view.png", "No such file or directory"},
        {dir_ / "plain" / "view.png", "Not a directory"},
        {dir_ / "sub", "Is a directory"},
    };
    for (const Case& c : cases) {
        const ToolRun result = run({"--size", "40x30", "--view", "close", "-o", c.file.string()});
        EXPECT_EQ(result.status, 2) << c.file;
        EXPECT_EQ(result.err,
                  "orvane render: cannot write " + c.file.string() + ": " + c.reason + "\n");
        std::vector<std::string> names = entries();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"plain", "sub"})) << c.file;
        EXPECT_TRUE(fs::is_empty(dir_ / "sub")) << c.file;
    }
}

TEST_F(RenderCommand, HelpGoesToStandardOutput) {
    const ToolRun result = run({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("usage: orvane render", 0), 0u) << result.out;
    EXPECT_EQ(result.err, "");
}

} // namespace
} // namespace orvane
