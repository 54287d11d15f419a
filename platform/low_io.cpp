#include "platform/low_io.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace orvane::platform {

std::int32_t descriptorRead(std::int32_t fd, void* data, std::int32_t length) {
    if (length < 0)
        return -1;
#ifdef _WIN32
    return _read(fd, data, static_cast<unsigned>(length));
#else
    return static_cast<std::int32_t>(::read(fd, data, static_cast<size_t>(length)));
#endif
}

std::int32_t descriptorWrite(std::int32_t fd, const void* data, std::int32_t length) {
    if (length < 0)
        return -1;
#ifdef _WIN32
    return _write(fd, data, static_cast<unsigned>(length));
#else
    return static_cast<std::int32_t>(::write(fd, data, static_cast<size_t>(length)));
#endif
}

std::int32_t descriptorClose(std::int32_t fd) {
#ifdef _WIN32
    return _close(fd);
#else
    return ::close(fd);
#endif
}

} // namespace orvane::platform
