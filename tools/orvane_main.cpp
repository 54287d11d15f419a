#include "orvane_version.h"
#include "tools/subcommand.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string_view>
#include <vector>

namespace orvane::tools {
namespace {

std::vector<Subcommand>& registry() {
    static std::vector<Subcommand> commands;
    return commands;
}

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage: orvane COMMAND [ARGS...]\n\n"
                      "The command-line companion of Orvane Viewer.\n\ncommands:\n");
    auto commands = registry();
    std::sort(commands.begin(), commands.end(),
              [](const Subcommand& a, const Subcommand& b) { return a.name < b.name; });
    for (const auto& c : commands)
        std::fprintf(out, "  %-10.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                     static_cast<int>(c.summary.size()), c.summary.data());
    std::fprintf(out, "\n'orvane COMMAND --help' describes one command.\n");
}

} // namespace

SubcommandRegistration::SubcommandRegistration(const Subcommand& command) {
    registry().push_back(command);
}

void ignoreBrokenPipe() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

} // namespace orvane::tools

int main(int argc, char** argv) {
    using namespace orvane::tools;
    if (argc < 2) {
        printUsage(stderr);
        return kExitUsage;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return kExitOk;
    }
    if (name == "--version") {
        std::printf("orvane %s\n", ORVANE_VERSION);
        return kExitOk;
    }
    for (const auto& c : registry()) {
        if (c.name == name)
            return c.run(std::span<char* const>(argv + 2, static_cast<size_t>(argc - 2)));
    }
    std::fprintf(stderr, "orvane: unknown command '%s'\n\n", argv[1]);
    printUsage(stderr);
    return kExitUsage;
}
