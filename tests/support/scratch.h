#pragma once

// Scratch files for tests, on any system the tests build for.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace orvane::test_support {

// Replaces the trailing XXXXXX of `pattern` and creates that directory; false when it cannot.
inline bool makeTempDir(std::string& pattern) {
    std::random_device random;
    const std::string base = pattern.substr(0, pattern.size() - 6);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = base + std::to_string(random() % 1000000);
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            pattern = candidate;
            return true;
        }
    }
    return false;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A directory of this test program's own, ending in '/', removed when the program ends. Fixed
// names in the shared temporary directory would let test programs running at the same time
// (another build tree, another preset) truncate and write each other's output files.
inline const std::string& scratchDir() {
    static const struct Dir {
        std::string path;
        Dir() {
            std::string pattern = ::testing::TempDir() + "orvane-test-XXXXXX";
            if (!makeTempDir(pattern))
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

} // namespace orvane::test_support
