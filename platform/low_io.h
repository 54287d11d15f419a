#pragma once

#include <cstdint>

// The C runtime's low-level descriptor I/O (read/write/close on POSIX, _read/_write/_close on
// Windows), behind one name on both systems.
namespace orvane::platform {

std::int32_t descriptorRead(std::int32_t fd, void* data, std::int32_t length);
std::int32_t descriptorWrite(std::int32_t fd, const void* data, std::int32_t length);
std::int32_t descriptorClose(std::int32_t fd);

} // namespace orvane::platform
