#include "ProcessFigures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

long ResidentKib()
{
    std::FILE* file = std::fopen("/proc/self/status", "r");
    if (!file)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kib = std::atol(line + 6);
            break;
        }
    }
    std::fclose(file);
    return kib;
}

long UdpReceiveBufferDrops()
{
    // thread-self: the namespace is per thread, and the main thread is the
    // one that entered the tool's namespace.
    std::FILE* file = std::fopen("/proc/thread-self/net/snmp", "r");
    if (!file)
        return -1;
    char names[512];
    char values[512];
    long drops = -1;
    while (std::fgets(names, sizeof names, file) && std::fgets(values, sizeof values, file)) {
        if (std::strncmp(names, "Udp:", 4) != 0)
            continue;
        // A header line names the columns; the next line holds the values.
        char* nameSave = nullptr;
        char* valueSave = nullptr;
        char* name = strtok_r(names, " \n", &nameSave);
        char* value = strtok_r(values, " \n", &valueSave);
        for (; name && value; name = strtok_r(nullptr, " \n", &nameSave), value = strtok_r(nullptr, " \n", &valueSave)) {
            if (std::strcmp(name, "RcvbufErrors") == 0)
                drops = std::atol(value);
        }
        break;
    }
    std::fclose(file);
    return drops;
}
