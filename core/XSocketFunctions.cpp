#include "XSocketFunctions.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {
std::atomic<long> g_nonBlockingBeforeFailure{-1};
std::atomic<long> g_nameLookups{0};

// True when the seam says this SetNonBlocking call must fail.
bool NonBlockingShouldFail()
{
    long left = g_nonBlockingBeforeFailure.load(std::memory_order_relaxed);
    while (left > 0) {
        if (g_nonBlockingBeforeFailure.compare_exchange_weak(left, left - 1, std::memory_order_relaxed))
            return false;
    }
    return left == 0;
}

// Looks host up by name; stores the first IPv4 answer in *address.
bool LookUpName(const char* host, in_addr* address)
{
    g_nameLookups.fetch_add(1, std::memory_order_relaxed);
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* answers = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &answers) != 0 || !answers)
        return false;
    bool found = false;
    for (addrinfo* answer = answers; answer; answer = answer->ai_next) {
        if (answer->ai_family == AF_INET && answer->ai_addr
            && answer->ai_addrlen >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
            *address = reinterpret_cast<const sockaddr_in*>(answer->ai_addr)->sin_addr;
            found = true;
            break;
        }
    }
    freeaddrinfo(answers);
    return found;
}
} // namespace

int ResolveAddress(sockaddr_in* address, int port, const char* host)
{
    if (!address)
        return -1;
    std::memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(port));
    if (!host)
        return 0;
    // inet_aton rather than inet_addr: the latter cannot tell the limited
    // broadcast address from its own error value.
    in_addr numeric;
    if (inet_aton(host, &numeric) != 0) {
        address->sin_addr = numeric;
        return 0;
    }
    in_addr named;
    if (!LookUpName(host, &named))
        return -1;
    address->sin_addr = named;
    return 0;
}

int OpenBoundSocket(const char* protocol, int port, const char* host)
{
    sockaddr_in address;
    if (ResolveAddress(&address, port, host) != 0)
        return -1;
    if (!protocol)
        return -1;

    int type;
    int number;
    if (std::strcmp(protocol, "tcp") == 0) {
        type = SOCK_STREAM;
        number = 0;
    } else if (std::strcmp(protocol, "udp") == 0) {
        type = SOCK_DGRAM;
        number = 0;
    } else if (std::strcmp(protocol, "icmp") == 0) {
        type = SOCK_RAW;
        number = IPPROTO_ICMP;
    } else {
        return -1;
    }

    // Close-on-exec: a handle of this layer never belongs to a child program.
    int handle = socket(AF_INET, type | SOCK_CLOEXEC, number);
    if (handle < 0)
        return -1;
    if (bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(handle);
        return -1;
    }
    return handle;
}

int SetNonBlocking(int handle)
{
    if (handle < 0 || NonBlockingShouldFail())
        return -1;
    int flags = fcntl(handle, F_GETFL);
    if (flags < 0)
        return -1;
    if (fcntl(handle, F_SETFL, flags | O_NONBLOCK) != 0)
        return -1;
    return 0;
}

bool WaitTimeToTimeval(int timeout, timeval* limit)
{
    if (timeout < 0)
        return false;
    limit->tv_sec = timeout / 1000;
    limit->tv_usec = (timeout % 1000) * 1000;
    return true;
}

int WaitSocket(int handle, int timeout, char mode)
{
    // FD_SET outside 0..FD_SETSIZE-1 writes past the set, so such a handle is
    // refused instead of watched.
    if (handle < 0 || handle >= FD_SETSIZE)
        return -1;
    // Any other mode would leave every set empty: with no time limit select
    // would then never return.
    if (mode != 'r' && mode != 'w')
        return -1;

    fd_set set;
    FD_ZERO(&set);
    FD_SET(handle, &set);
    timeval limit;
    timeval* limitOrNone = WaitTimeToTimeval(timeout, &limit) ? &limit : nullptr;
    if (mode == 'r')
        return select(handle + 1, &set, nullptr, nullptr, limitOrNone);
    return select(handle + 1, nullptr, &set, nullptr, limitOrNone);
}

void XSetNonBlockingFailAfter(long count)
{
    g_nonBlockingBeforeFailure.store(count < 0 ? -1 : count, std::memory_order_relaxed);
}

long XGetNameLookupCount()
{
    return g_nameLookups.load(std::memory_order_relaxed);
}
