#pragma once

// Runs a program of the build through the shell, as a user would, and keeps what it printed.

#include "tests/support/scratch.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace orvane::test_support {

struct ToolRun {
    int status = -1; // exit status, or -1 when the program did not exit normally
    std::string out, err;
};

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// `command` is a shell command line; its standard output and error go to files named after
// `scratch` (a path prefix in a scratch directory), are read back and removed.
inline ToolRun runShell(const std::string& command, const std::string& scratch) {
    const std::string out = scratch + "stdout", err = scratch + "stderr";
    const std::string line = command + " > '" + out + "' 2> '" + err + "'";
    const int raw = std::system(line.c_str());
    ToolRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(out);
    r.err = readFile(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

} // namespace orvane::test_support
