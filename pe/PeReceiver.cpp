#include "PeReceiver.h"

#include "XAutoLock.h"
#include "XException.h"
#include "XSocketFunctions.h"
#include "XUdp.h"

#include <sys/socket.h>

#include <cstring>
#include <ctime>
#include <new>

namespace {
// How long Run waits for readability before it looks at the stop request.
const int kWaitMs = 100;
// How long a burst may pause before the reader sleeps again.
const std::int64_t kQuietNs = 2000000;

std::int64_t NowNs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}
} // namespace

PeReceiver::PeReceiver(XUdp* udp) : socket(udp) {}

PeReceiver::~PeReceiver()
{
    Stop();
}

void PeReceiver::Stop()
{
    stopping.store(true);
    Join();
}

void PeReceiver::ExpectBurst(int ms)
{
    burstUntilNs.store(NowNs() + static_cast<std::int64_t>(ms) * 1000000);
}

int PeReceiver::Run()
{
    while (!stopping.load()) {
        if (NowNs() < burstUntilNs.load()) {
            DrainBurst();
            continue;
        }
        int ready = WaitSocket(socket->GetHandle(), kWaitMs, 'r');
        if (ready > 0) {
            DrainBurst();
        } else if (ready < 0) {
            // No endpoint, or select failed: don't spin; try again later.
            struct timespec pause = {0, kWaitMs * 1000000L};
            nanosleep(&pause, nullptr);
        }
    }
    return 0;
}

void PeReceiver::DrainBurst()
{
    // Replies to a search come in a burst that can fill the kernel's buffer
    // in well under a millisecond, sooner than a sleeping thread is woken
    // on some machines. So while a burst is expected, and until the line has
    // been quiet for a while, keep reading instead of sleeping.
    std::int64_t lastDatagram = NowNs();
    while (!stopping.load()) {
        std::int64_t now = NowNs();
        if (FillCounting() > 0)
            lastDatagram = now;
        else if (now - lastDatagram >= kQuietNs && now >= burstUntilNs.load())
            return;
    }
}

int PeReceiver::Fill()
{
    FillCounting();
    XAutoLock hold(&lock);
    return queue.GetSize() - head;
}

int PeReceiver::FillCounting()
{
    XAutoLock reading(&readLock);
    int total = 0;
    for (;;) {
        int count = ReadBatch();
        if (count == 0)
            return total;
        Enqueue(count);
        total += count;
    }
}

int PeReceiver::ReadBatch()
{
    mmsghdr messages[kBatchSize];
    iovec vectors[kBatchSize];
    std::memset(messages, 0, sizeof messages);
    for (int i = 0; i < kBatchSize; ++i) {
        vectors[i].iov_base = slots[i];
        vectors[i].iov_len = kDatagramSize;
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int count = recvmmsg(socket->GetHandle(), messages, kBatchSize, MSG_DONTWAIT, nullptr);
    if (count <= 0)
        return 0;
    for (int i = 0; i < count; ++i)
        lengths[i] = static_cast<int>(messages[i].msg_len);
    return count;
}

void PeReceiver::Enqueue(int count)
{
    // Copies are made before the queue lock is taken, to keep it short.
    XBuffer* made[kBatchSize];
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        XBuffer* datagram = new (std::nothrow) XBuffer;
        if (!datagram)
            continue; // no memory: dropped like the kernel would
        if (datagram->SetSize(lengths[i]) != lengths[i]) {
            delete datagram;
            continue;
        }
        if (lengths[i] > 0)
            std::memcpy(datagram->GetData(), slots[i], static_cast<size_t>(lengths[i]));
        made[kept++] = datagram;
    }
    XAutoLock hold(&lock);
    for (int i = 0; i < kept; ++i) {
        if (queue.GetSize() - head >= kMaxQueued) {
            delete made[i];
            continue;
        }
        try {
            queue.Add(made[i]);
        } catch (const XMemoryException&) {
            delete made[i];
        }
    }
}

XBuffer* PeReceiver::TakeNext()
{
    XAutoLock hold(&lock);
    if (head >= queue.GetSize())
        return nullptr;
    XBuffer* datagram = queue[head];
    queue[head] = nullptr;
    ++head;
    CompactLocked();
    return datagram;
}

void PeReceiver::CompactLocked()
{
    const int size = queue.GetSize();
    if (head == size) {
        queue.SetSize(0);
        head = 0;
        return;
    }
    const int kMinCompact = 1024;
    if (head < kMinCompact || head * 2 < size)
        return;
    for (int i = head; i < size; ++i) {
        queue[i - head] = queue[i];
        queue[i] = nullptr;
    }
    queue.SetSize(size - head); // the cut-off slots are null: nothing deleted
    head = 0;
}

void PeReceiver::Discard()
{
    XAutoLock hold(&lock);
    queue.SetSize(0);
    head = 0;
}

int PeReceiver::GetSlotCount()
{
    XAutoLock hold(&lock);
    return queue.GetSize();
}
