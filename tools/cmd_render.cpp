// `orvane render`: draws the view as the dialog shows it and saves it as a PNG, for reports,
// tests and the README.

#include "render/scene_renderer.h"
#include "tools/png_file.h"
#include "tools/subcommand.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::tools {
namespace {

constexpr const char* kUsage = "usage: orvane render --size WxH --view wide|close "
                               "[--live X,Y[,RRGGBB]] [--mark X,Y] -o FILE.png\n";

constexpr std::int32_t kMaxSide = 16384;
constexpr std::uint32_t kDefaultLiveColour = 0x10D010;

void printHelp() {
    std::fputs(kUsage, stdout);
    std::fputs("\nDraws the tilt view of the viewer's picture and writes it as an 8-bit RGB PNG.\n"
               "  --size WxH           picture size in pixels, each side 1 to 16384\n"
               "  --view wide|close    zoom preset\n"
               "  --live X,Y[,RRGGBB]  live marker in g, colour in hex (default 10D010, green);\n"
               "                       without it the marker is black at the centre\n"
               "  --mark X,Y           pinned mark in g, drawn blue\n"
               "  -o FILE.png          output file\n",
               stdout);
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "orvane render: %s\n", message.c_str());
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// A side of the picture: decimal digits only, 1 to kMaxSide.
std::optional<std::int32_t> parseSide(std::string_view text) {
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.front() == '-' || error != std::errc() ||
        end != text.data() + text.size() || value < 1 || value > kMaxSide)
        return std::nullopt;
    return value;
}

std::optional<float> parseCoordinate(std::string_view text) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    float value = 0.0f;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::uint32_t> parseColour(std::string_view text) {
    if (text.size() != 6)
        return std::nullopt;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    std::uint32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return value;
}

std::vector<std::string_view> splitCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t comma = text.find(',');
        parts.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            return parts;
        text.remove_prefix(comma + 1);
    }
}

// X,Y and, when a colour is allowed, an optional ,RRGGBB.
std::optional<ViewMarker> parseMarker(std::string_view text, bool colourAllowed,
                                      std::uint32_t colour) {
    const std::vector<std::string_view> parts = splitCommas(text);
    if (parts.size() != 2 && !(colourAllowed && parts.size() == 3))
        return std::nullopt;
    const std::optional<float> x = parseCoordinate(parts[0]);
    const std::optional<float> y = parseCoordinate(parts[1]);
    if (!x || !y)
        return std::nullopt;
    if (parts.size() == 3) {
        const std::optional<std::uint32_t> given = parseColour(parts[2]);
        if (!given)
            return std::nullopt;
        colour = *given;
    }
    return ViewMarker{*x, *y, colour};
}

int runRender(std::span<char* const> args) {
    std::optional<std::int32_t> width;
    std::optional<std::int32_t> height;
    const ViewPreset* preset = nullptr;
    std::optional<ViewMarker> live;
    std::optional<ViewMarker> mark;
    std::optional<std::string> output;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view option = args[i];
        if (option == "--help" || option == "-h") {
            printHelp();
            return kExitOk;
        }
        if (option != "--size" && option != "--view" && option != "--live" && option != "--mark" &&
            option != "-o")
            return usageError("unknown argument '" + std::string(option) + "'");
        if (i + 1 == args.size())
            return usageError(std::string(option) + " needs a value");
        const std::string_view value = args[++i];
        if (option == "--size") {
            const std::size_t x = value.find('x');
            width = x == std::string_view::npos ? std::nullopt : parseSide(value.substr(0, x));
            height = x == std::string_view::npos ? std::nullopt : parseSide(value.substr(x + 1));
            if (!width || !height)
                return usageError("size must be WxH, each side 1 to 16384, not '" +
                                  std::string(value) + "'");
        } else if (option == "--view") {
            if (value == "wide")
                preset = &kWideView;
            else if (value == "close")
                preset = &kCloseView;
            else
                return usageError("view must be wide or close, not '" + std::string(value) + "'");
        } else if (option == "--live") {
            live = parseMarker(value, true, kDefaultLiveColour);
            if (!live)
                return usageError("live marker must be X,Y or X,Y,RRGGBB, not '" +
                                  std::string(value) + "'");
        } else if (option == "--mark") {
            mark = parseMarker(value, false, kMarkColour);
            if (!mark)
                return usageError("mark must be X,Y, not '" + std::string(value) + "'");
        } else {
            output = std::string(value);
            if (output->empty())
                return usageError("-o needs a file name");
        }
    }
    if (!width)
        return usageError("--size is required");
    if (preset == nullptr)
        return usageError("--view is required");
    if (!output)
        return usageError("-o is required");

    SceneRenderer renderer;
    renderer.resize(*width, *height);
    if (renderer.width() == 0) {
        std::fprintf(stderr, "orvane render: not enough memory for a %dx%d picture\n", *width,
                     *height);
        return kExitFailure;
    }
    renderer.applyPreset(*preset);
    if (live)
        renderer.setMarker(live->x, live->y, live->colour, true);
    if (mark)
        renderer.setMarker(mark->x, mark->y, mark->colour, false);
    std::string reason;
    if (!writeFramePng(*output, renderer.frameBits(), renderer.width(), renderer.height(),
                       reason)) {
        std::fprintf(stderr, "orvane render: cannot write %s: %s\n", output->c_str(),
                     reason.c_str());
        return kExitUsage;
    }
    return kExitOk;
}

const SubcommandRegistration
    registration({"render", "draw the tilt view with its markers into a PNG file", runRender});

} // namespace
} // namespace orvane::tools
