#pragma once

#include <cstdint>

// A byte stream written at a position, allocated in whole blocks of 1024
// bytes so that byte-by-byte writing resizes once per kilobyte.
class XStream {
public:
    XStream() = default;
    XStream(const XStream&) = delete;
    XStream& operator=(const XStream&) = delete;
    ~XStream() { SetSize(0); }

    unsigned char* GetData() { return data; }
    const unsigned char* GetData() const { return data; }
    std::uint32_t GetSize() const { return size; }
    std::uint32_t GetCapacity() const { return capacity; }
    std::uint32_t GetPosition() const { return position; }
    std::uint32_t GetBlockSize() const { return blockSize; }

    // Sets the logical size to n (capacity n rounded up to whole blocks) and
    // pulls the position back to n if it lies beyond. Returns n, or the
    // unchanged size when the block cannot be resized. Never throws.
    std::uint32_t SetSize(std::uint32_t n);
    // Writes n bytes at the position, overwriting, and advances it.
    // Returns n, or 0 when n is 0 or the stream cannot grow (nothing written).
    std::uint32_t Write(const void* bytes, std::uint32_t n);
    // Writes one byte; returns 1 or 0.
    std::uint32_t WriteByte(unsigned char b) { return Write(&b, 1); }

private:
    unsigned char* data = nullptr;
    std::uint32_t capacity = 0;
    std::uint32_t size = 0;
    std::uint32_t position = 0;
    std::uint32_t blockSize = 1024;
};
