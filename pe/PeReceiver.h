#pragma once

#include "XArray.h"
#include "XBuffer.h"
#include "XLock.h"
#include "XThread.h"

#include <atomic>

class XUdp;

// Takes datagrams off a UDP endpoint as they arrive and keeps them, in
// arrival order, until the user-interface thread collects them on its timer
// tick. Without it a burst of replies larger than the kernel's receive buffer
// would be dropped between two ticks. It only moves bytes: decoding and every
// table change stay with the collector.
class PeReceiver : public XThread {
public:
    // Datagrams held at most; a flood beyond this is read and dropped so that
    // memory stays bounded.
    static constexpr int kMaxQueued = 65536;
    // Largest datagram kept whole; longer ones arrive cut to this size.
    static constexpr int kDatagramSize = 1024;

    // socket must outlive this object; it is only read from, never closed.
    explicit PeReceiver(XUdp* socket);
    // Stops and joins the thread before the queue goes.
    ~PeReceiver() override;

    // Asks Run to return within one wait period, then joins.
    void Stop();

    // Moves every datagram now pending on the socket into the queue, without
    // blocking. Returns the number of datagrams queued afterwards.
    int Fill();
    // The oldest queued datagram, now owned by the caller, or null when none.
    XBuffer* TakeNext();
    // Deletes every queued datagram.
    void Discard();

    int Run() override;

private:
    void FillLocked();

    XUdp* socket;
    XLock lock;
    XArray<XBuffer> queue; // guarded by lock; slots before head are taken
    int head = 0;          // guarded by lock
    std::atomic<bool> stopping{false};
};
