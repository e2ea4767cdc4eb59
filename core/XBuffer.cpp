#include "XBuffer.h"

#include "XMemory.h"

std::int32_t XBuffer::SetSize(std::int32_t n)
{
    if (n == size || n < 0)
        return size;
    if (n == 0) {
        XFree(data);
        data = nullptr;
        size = 0;
        return 0;
    }
    void* block = XRealloc(data, static_cast<std::size_t>(n));
    if (!block)
        return size;
    data = static_cast<unsigned char*>(block);
    size = n;
    return size;
}
