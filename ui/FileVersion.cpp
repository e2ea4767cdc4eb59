#include "FileVersion.h"

#include "XBuffer.h"

#include <cstdio>
#include <cstring>

const char kFileVersionSection[] = ".netvane_version";
const char kFileVersionMarker[kFileVersionMarkerSize] = "NETVANE:FILEVER";

namespace {

// The executable is loaded whole; anything larger is not ours.
constexpr long kMaxFileSize = 256L * 1024 * 1024;

long FileSize(std::FILE* file)
{
    if (std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    const long size = std::ftell(file);
    if (std::fseek(file, 0, SEEK_SET) != 0)
        return -1;
    return size;
}

// Bounds-checked little-endian reads from the loaded file.
class Image {
public:
    Image(const unsigned char* data, std::uint64_t size) : data(data), size(size) {}

    bool Has(std::uint64_t at, std::uint64_t count) const { return at <= size && count <= size - at; }

    std::uint64_t Read(std::uint64_t at, int bytes) const
    {
        std::uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = value << 8 | data[at + i];
        return value;
    }

    const unsigned char* data;
    std::uint64_t size;
};

// Layout of the ELF header fields and section headers that are read.
struct ElfLayout {
    int headerSize;
    int shoffAt, shoffBytes, shentsizeAt, shnumAt, shstrndxAt;
    int nameAt, offsetAt, sizeAt, wordBytes;
};
constexpr ElfLayout kElf32 = {52, 0x20, 4, 0x2E, 0x30, 0x32, 0, 16, 20, 4};
constexpr ElfLayout kElf64 = {64, 0x28, 8, 0x3A, 0x3C, 0x3E, 0, 24, 32, 8};

// Finds the named section; writes its file offset and size. False when absent
// or when any header lies outside the file.
bool FindSection(const Image& image, const char* name, std::uint64_t& offset, std::uint64_t& size)
{
    if (!image.Has(0, 16) || std::memcmp(image.data, "\x7f" "ELF", 4) != 0 || image.data[5] != 1)
        return false;
    const ElfLayout& elf = image.data[4] == 2 ? kElf64 : kElf32;
    if ((image.data[4] != 1 && image.data[4] != 2) || !image.Has(0, elf.headerSize))
        return false;
    const std::uint64_t shoff = image.Read(elf.shoffAt, elf.shoffBytes);
    const std::uint64_t entsize = image.Read(elf.shentsizeAt, 2);
    const std::uint64_t count = image.Read(elf.shnumAt, 2);
    const std::uint64_t strndx = image.Read(elf.shstrndxAt, 2);
    if (entsize < std::uint64_t(elf.sizeAt + elf.wordBytes) || strndx >= count ||
        !image.Has(shoff, entsize * count))
        return false;
    const std::uint64_t strings = shoff + strndx * entsize;
    const std::uint64_t stringsAt = image.Read(strings + elf.offsetAt, elf.wordBytes);
    const std::uint64_t stringsSize = image.Read(strings + elf.sizeAt, elf.wordBytes);
    if (!image.Has(stringsAt, stringsSize))
        return false;
    const std::uint64_t nameSize = std::strlen(name) + 1;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t header = shoff + i * entsize;
        const std::uint64_t nameAt = image.Read(header + elf.nameAt, 4);
        if (nameAt > stringsSize || nameSize > stringsSize - nameAt ||
            std::memcmp(image.data + stringsAt + nameAt, name, nameSize) != 0)
            continue;
        offset = image.Read(header + elf.offsetAt, elf.wordBytes);
        size = image.Read(header + elf.sizeAt, elf.wordBytes);
        return image.Has(offset, size);
    }
    return false;
}

} // namespace

int ReadFileVersion(const char* path, std::uint16_t version[4])
{
    if (!path)
        return -1;
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return -1;
    const long size = FileSize(file);
    XBuffer buffer;
    const bool loaded = size > 0 && size <= kMaxFileSize && buffer.SetSize(std::int32_t(size)) == size &&
                        std::fread(buffer.GetData(), 1, size_t(size), file) == size_t(size);
    std::fclose(file);
    if (!loaded)
        return -1;

    const Image image(buffer.GetData(), std::uint64_t(size));
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    if (!FindSection(image, kFileVersionSection, offset, length) || length < sizeof(FileVersionRecord) ||
        std::memcmp(image.data + offset, kFileVersionMarker, kFileVersionMarkerSize) != 0)
        return -1;
    const unsigned char* numbers = image.data + offset + kFileVersionMarkerSize;
    for (int i = 0; i < 4; ++i)
        version[i] = std::uint16_t(numbers[2 * i] | numbers[2 * i + 1] << 8);
    return 0;
}
