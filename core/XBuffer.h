#pragma once

#include <cstdint>

// A resizable block of bytes. Invariant: size 0 exactly when data is null.
class XBuffer {
public:
    XBuffer() = default;
    XBuffer(const XBuffer&) = delete;
    XBuffer& operator=(const XBuffer&) = delete;
    ~XBuffer() { SetSize(0); }

    unsigned char* GetData() { return data; }
    const unsigned char* GetData() const { return data; }
    std::int32_t GetSize() const { return size; }

    // Resizes to n bytes and returns the size after the call: n on success,
    // the unchanged size when memory ran out (bytes kept) or n is negative.
    // Bytes past the old size are undefined until written. Never throws.
    std::int32_t SetSize(std::int32_t n);

private:
    unsigned char* data = nullptr;
    std::int32_t size = 0;
};
