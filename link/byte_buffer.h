#pragma once

#include <cstdint>

namespace orvane {

// Root of the small polymorphic value classes (byte views, stores, channels).
class Disposable {
public:
    virtual ~Disposable() = default;
};

// A non-owning view of bytes. A ByteBuffer handed to Stage::put is valid only during that call:
// a stage that needs the bytes later copies them.
class ByteBuffer : public Disposable {
public:
    ByteBuffer(const std::uint8_t* bytes, std::uint32_t count) : data(bytes), length(count) {}
    // Views the characters of a NUL-terminated string, without the terminator; null gives length 0.
    explicit ByteBuffer(const char* text);
    ByteBuffer(const ByteBuffer&) = default;
    ByteBuffer& operator=(const ByteBuffer&) = default;

    const std::uint8_t* data; // not owned
    std::uint32_t length;
};

} // namespace orvane
