#pragma once

#include <span>
#include <string_view>

namespace orvane::tools {

// A subcommand of the `orvane` companion. Each cmd_*.cpp registers one with a static
// SubcommandRegistration; main() dispatches on the first argument.
struct Subcommand {
    std::string_view name;
    std::string_view summary;
    // args excludes the program and subcommand names. Returns the process exit status.
    int (*run)(std::span<char* const> args);
};

struct SubcommandRegistration {
    explicit SubcommandRegistration(const Subcommand& command);
};

// Exit statuses shared by the subcommands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// After this, writing to a closed pipe fails with EPIPE instead of killing the process, so a
// subcommand can stop quietly when its reader goes away.
void ignoreBrokenPipe();

} // namespace orvane::tools
