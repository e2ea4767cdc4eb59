#pragma once

#include <dirent.h>
#include <sys/resource.h>
#include <sys/select.h>

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

// Lets this process open a descriptor beyond FD_SETSIZE, which select cannot
// watch; false when the hard limit forbids it.
inline bool AllowHandlesBeyondSelect()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    const rlim_t wanted = FD_SETSIZE + 16;
    if (limit.rlim_cur >= wanted)
        return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted)
        return false;
    limit.rlim_cur = wanted;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

} // namespace sockettest
