#include "PeReceiver.h"

#include "XAutoLock.h"
#include "XException.h"
#include "XSocketFunctions.h"
#include "XUdp.h"

#include <cstring>
#include <ctime>
#include <new>

namespace {
// How long Run waits for readability before it looks at the stop request.
const int kWaitMs = 100;
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

int PeReceiver::Run()
{
    while (!stopping.load()) {
        int ready = WaitSocket(socket->GetHandle(), kWaitMs, 'r');
        if (ready > 0) {
            Fill();
        } else if (ready < 0) {
            // No endpoint, or select failed: don't spin; try again later.
            struct timespec pause = {0, kWaitMs * 1000000L};
            nanosleep(&pause, nullptr);
        }
    }
    return 0;
}

int PeReceiver::Fill()
{
    XAutoLock hold(&lock);
    FillLocked();
    return queue.GetSize() - head;
}

void PeReceiver::FillLocked()
{
    // The lock is held across the reads so that two threads filling at once
    // cannot swap the order of two datagrams. The reads never block.
    unsigned char bytes[kDatagramSize];
    for (;;) {
        int length = socket->Receive(bytes, sizeof bytes);
        if (length < 0)
            return;
        if (queue.GetSize() - head >= kMaxQueued)
            continue;
        XBuffer* datagram = new (std::nothrow) XBuffer;
        if (!datagram)
            continue;
        if (datagram->SetSize(length) != length) {
            delete datagram;
            continue;
        }
        if (length > 0)
            std::memcpy(datagram->GetData(), bytes, static_cast<size_t>(length));
        try {
            queue.Add(datagram);
        } catch (const XMemoryException&) {
            delete datagram; // no room: dropped like the kernel would
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
    if (head == queue.GetSize()) {
        queue.SetSize(0);
        head = 0;
    }
    return datagram;
}

void PeReceiver::Discard()
{
    XAutoLock hold(&lock);
    queue.SetSize(0);
    head = 0;
}
