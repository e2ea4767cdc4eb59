#include "XMemory.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {
std::atomic<long> g_allocCount{0};
// The seam's state changes as a whole under g_seamLock; g_seamArmed keeps the
// lock off the path of every allocation while no test arms it.
std::atomic<bool> g_seamArmed{false};
std::mutex g_seamLock;
long g_successesLeft = -1;
long g_failuresLeft = -1;

// True when the seam says this allocation must fail.
bool ShouldFail()
{
    g_allocCount.fetch_add(1, std::memory_order_relaxed);
    if (!g_seamArmed.load(std::memory_order_acquire))
        return false;
    std::lock_guard<std::mutex> lock(g_seamLock);
    if (g_successesLeft < 0)
        return false;
    if (g_successesLeft > 0) {
        --g_successesLeft;
        return false;
    }
    if (g_failuresLeft > 0 && --g_failuresLeft == 0) {
        g_successesLeft = -1;
        g_seamArmed.store(false, std::memory_order_release);
    }
    return true;
}
} // namespace

void* XAlloc(std::size_t size)
{
    if (ShouldFail())
        return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void* XRealloc(void* block, std::size_t size)
{
    if (ShouldFail())
        return nullptr;
    return std::realloc(block, size == 0 ? 1 : size);
}

void XFree(void* block)
{
    std::free(block);
}

void XSetAllocFailAfter(long count, long failures)
{
    std::lock_guard<std::mutex> lock(g_seamLock);
    bool armed = count >= 0 && failures != 0;
    g_successesLeft = armed ? count : -1;
    g_failuresLeft = armed ? failures : -1;
    g_seamArmed.store(armed, std::memory_order_release);
}

long XGetAllocCount()
{
    return g_allocCount.load(std::memory_order_relaxed);
}
