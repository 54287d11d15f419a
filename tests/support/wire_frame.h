#pragma once

// Frames as the sensor puts them on the wire, written independently of the product code so the
// tests, benchmarks and fuzzers that feed the decoder do not check it against itself.

#include <array>
#include <cstdint>
#include <vector>

namespace orvane::test_support {

using WireFrame = std::array<std::uint8_t, 8>;

// Type byte, three big-endian 16-bit counts (thousandths of g), and the check byte that makes
// the seven body bytes sum to 0xFF.
inline WireFrame makeWireFrame(std::uint8_t type, int c0, int c1, int c2) {
    WireFrame f{};
    f[0] = type;
    const int counts[3] = {c0, c1, c2};
    std::uint8_t sum = 0;
    for (int i = 0; i < 3; ++i) {
        const auto raw = static_cast<std::uint16_t>(static_cast<std::int16_t>(counts[i]));
        f[1 + 2 * i] = static_cast<std::uint8_t>(raw >> 8);
        f[2 + 2 * i] = static_cast<std::uint8_t>(raw & 0xFF);
        sum = static_cast<std::uint8_t>(sum + f[1 + 2 * i] + f[2 + 2 * i]);
    }
    f[7] = static_cast<std::uint8_t>(0xFF - sum);
    return f;
}

inline void appendWireFrame(std::vector<std::uint8_t>& bytes, std::uint8_t type, int c0, int c1,
                            int c2) {
    const WireFrame f = makeWireFrame(type, c0, c1, c2);
    bytes.insert(bytes.end(), f.begin(), f.end());
}

} // namespace orvane::test_support
