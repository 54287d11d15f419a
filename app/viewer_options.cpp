#include "app/viewer_options.h"

#include <cstdlib>
#include <string_view>

namespace orvane {

ViewerRequest parseViewerArguments(const std::vector<std::string>& args, ViewerOptions& options,
                                   std::string& message) {
    ViewerOptions parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h")
            return ViewerRequest::Help;
        if (arg == "--version")
            return ViewerRequest::Version;
        if (arg == "--force") {
            parsed.force = true;
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = std::string(arg.substr(eq + 1));
        }
        std::optional<std::string>* target = name == "--device"   ? &parsed.device
                                             : name == "--log"    ? &parsed.log
                                             : name == "--record" ? &parsed.record
                                                                  : nullptr;
        if (!target) {
            message = "unknown argument '" + std::string(arg) + "'";
            return ViewerRequest::Usage;
        }
        if (!value) {
            if (i + 1 == args.size()) {
                message = std::string(name) + " needs a value";
                return ViewerRequest::Usage;
            }
            value = args[++i];
        }
        if (value->empty()) {
            message = std::string(name) + " needs a value";
            return ViewerRequest::Usage;
        }
        if (*target) {
            message = std::string(name) + " is given twice";
            return ViewerRequest::Usage;
        }
        *target = value;
    }
    options = parsed;
    return ViewerRequest::Run;
}

void selectDevice(const std::string& device) {
#ifdef _WIN32
    _putenv_s("ORVANE_DEVICE", device.c_str());
#else
    setenv("ORVANE_DEVICE", device.c_str(), 1);
#endif
}

std::vector<std::string> splitWindowsCommandLine(const char* line) {
    std::vector<std::string> args;
    if (!line)
        return args;
    const std::string_view text = line;
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        if (i == text.size())
            return args;
        std::string arg;
        bool quoted = false;
        while (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
            std::size_t slashes = 0;
            while (i < text.size() && text[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < text.size() && text[i] == '"') {
                arg.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    arg += '"';
                } else if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                    arg += '"'; // "" inside quotes: a literal quote
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(slashes, '\\');
                if (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t')))
                    arg += text[i++];
            }
        }
        args.push_back(std::move(arg));
    }
}

std::string joinWindowsCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty())
            line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        std::size_t slashes = 0;
        for (const char c : arg) {
            if (c == '\\') {
                ++slashes;
                continue;
            }
            // Backslashes before a quote are doubled, and the quote escaped.
            line.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
            slashes = 0;
            line += c;
        }
        line.append(2 * slashes, '\\'); // before the closing quote
        line += '"';
    }
    return line;
}

} // namespace orvane
