#include "XStream.h"

#include "XMemory.h"

#include <cstring>

std::uint32_t XStream::SetSize(std::uint32_t n)
{
    // n so large that rounding up would wrap cannot be allocated anyway.
    if (n > UINT32_MAX - (blockSize - 1))
        return size;
    std::uint32_t newCapacity = (n + blockSize - 1) / blockSize * blockSize;
    if (newCapacity != capacity) {
        if (newCapacity == 0) {
            XFree(data);
            data = nullptr;
        } else {
            void* block = XRealloc(data, newCapacity);
            if (!block)
                return size;
            data = static_cast<unsigned char*>(block);
        }
        capacity = newCapacity;
    }
    size = n;
    if (position > n)
        position = n;
    return n;
}

std::uint32_t XStream::Write(const void* bytes, std::uint32_t n)
{
    if (n == 0)
        return 0;
    if (n > UINT32_MAX - position)
        return 0;
    std::uint32_t end = position + n;
    if (end > size && SetSize(end) != end)
        return 0;
    std::memcpy(data + position, bytes, n);
    position = end;
    return n;
}
