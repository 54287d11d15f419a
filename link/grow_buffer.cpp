#include "link/grow_buffer.h"

#include <cstdlib>
#include <cstring>

namespace orvane {

GrowBuffer::GrowBuffer() {
    begin = static_cast<std::uint8_t*>(std::malloc(kInitialCapacity));
    // Without memory the store starts empty and the first append tries again.
    capacity = begin ? kInitialCapacity : 0;
    cursor = begin;
    end = begin + capacity;
}

GrowBuffer::~GrowBuffer() {
    if (capacity != 0 && begin)
        std::free(begin);
    begin = nullptr;
}

bool GrowBuffer::append(const std::uint8_t* src, std::uint32_t n) {
    const std::uint32_t free = capacity - length;
    if (n > free && !grow(n - free))
        return false;
    if (n > 0)
        std::memcpy(cursor, src, n);
    cursor += n;
    length += n;
    return true;
}

std::uint32_t GrowBuffer::growthStep(std::uint32_t shortfall) {
    if (shortfall < 256)
        return 256;
    if (shortfall < 8192)
        return (shortfall & ~std::uint32_t{255}) + 256;
    return (shortfall & ~std::uint32_t{8191}) + 8192;
}

bool GrowBuffer::grow(std::uint32_t shortfall) {
    const std::uint32_t step = growthStep(shortfall);
    // A capacity beyond 4 GiB cannot be counted; refuse rather than wrap.
    if (step > UINT32_MAX - capacity)
        return false;
    return reallocate(capacity + step);
}

bool GrowBuffer::reallocate(std::uint32_t newCapacity) {
    const std::uint32_t offset = static_cast<std::uint32_t>(cursor - begin);
    void* block = begin ? std::realloc(begin, newCapacity) : std::malloc(newCapacity);
    if (!block)
        return false;
    begin = static_cast<std::uint8_t*>(block);
    capacity = newCapacity;
    cursor = begin + offset;
    end = begin + newCapacity;
    return true;
}

} // namespace orvane
