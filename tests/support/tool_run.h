#pragma once

// Runs a program of the build through the shell, as a user would, and keeps what it printed.

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

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A directory of this test program's own, ending in '/', removed when the program ends. Fixed
// names in the shared temporary directory would let test programs running at the same time
// (another build tree, another preset) truncate and write each other's output files.
inline const std::string& scratchDir() {
    static const struct Dir {
        std::string path;
        Dir() {
            std::string pattern = ::testing::TempDir() + "orvane-test-XXXXXX";
            if (mkdtemp(pattern.data()) == nullptr)
                throw std::runtime_error("cannot create a scratch directory from " + pattern);
            path = pattern + "/";
        }
        ~Dir() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } dir;
    return dir.path;
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
