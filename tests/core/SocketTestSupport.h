#pragma once

#include <dirent.h>

// Shared by the socket tests.
namespace sockettest {

// Name under a top-level domain reserved never to resolve.
inline const char* const kUnknownName = "netvane-test.invalid";
// An address of a documentation network: never a local address.
inline const char* const kNonLocalAddress = "192.0.2.1";

// Number of open descriptors of this process, to show that a failed call
// leaves no socket behind and that a close really closed.
inline int OpenDescriptorCount()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count;
}

} // namespace sockettest
