#include "NetnsCheck.h"

#include <net/if.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

namespace {

bool SameFile(const char* a, const char* b, bool& same)
{
    struct stat sa, sb;
    if (stat(a, &sa) != 0 || stat(b, &sb) != 0)
        return false;
    same = sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return true;
}

bool IsKernelThreadDaemon(const char* commPath)
{
    std::ifstream in(commPath);
    std::string comm;
    return std::getline(in, comm) && comm == "kthreadd";
}

} // namespace

std::string NetnsRefusal()
{
    bool same = false;
    // Process 1 lives in the initial namespace; where its entry is closed to
    // us, the kernel's thread daemon (always in the initial one) stands in.
    if (!SameFile("/proc/self/ns/net", "/proc/1/ns/net", same)) {
        if (!IsKernelThreadDaemon("/proc/2/comm") || !SameFile("/proc/self/ns/net", "/proc/2/ns/net", same))
            return "cannot tell whether this is the initial network namespace";
    }
    if (same)
        return "this is the initial network namespace";

    struct if_nameindex* links = if_nameindex();
    if (links == nullptr)
        return "cannot list the network interfaces";
    std::string foreign;
    for (struct if_nameindex* l = links; l->if_index != 0; ++l) {
        const std::string name = l->if_name;
        if (name != "lo" && name.compare(0, 2, "nv") != 0)
            foreign += " " + name;
    }
    if_freenameindex(links);
    if (!foreign.empty())
        return "the namespace holds interfaces not made by the harness:" + foreign;
    return std::string();
}

bool MayRunHere(const char* program, bool inNetns)
{
    if (!inNetns) {
        std::fprintf(stderr,
                     "%s: refusing to run without --i-am-in-a-netns; start it through scripts/netns.sh's namespaces\n",
                     program);
        return false;
    }
    const std::string refusal = NetnsRefusal();
    if (!refusal.empty()) {
        std::fprintf(stderr, "%s: refusing to run: %s\n", program, refusal.c_str());
        return false;
    }
    return true;
}
