#pragma once

#include <cstdint>

// The version record that an executable of this tool carries in its ELF
// section kFileVersionSection: the marker text kFileVersionMarker with its
// terminating zero, then the four numbers (major, minor, release, build), each
// a little-endian 16-bit value.
constexpr int kFileVersionMarkerSize = 16;
struct FileVersionRecord {
    char marker[kFileVersionMarkerSize];
    unsigned char numbers[8];
};
extern const char kFileVersionSection[];
extern const char kFileVersionMarker[kFileVersionMarkerSize];

// Reads the version record of the little-endian ELF file at path (a
// NUL-terminated narrow path). Returns 0 and writes the four numbers into
// version on success; returns -1 and leaves version untouched when the path is
// null, the file is empty, unreadable or too large to load, is no ELF file, or
// has no such section with a valid record.
int ReadFileVersion(const char* path, std::uint16_t version[4]);
