#pragma once

#include "XArray.h"
#include "XBuffer.h"
#include "XLock.h"
#include "XThread.h"

#include <atomic>
#include <cstdint>

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
    // Datagrams taken off the socket per system call.
    static constexpr int kBatchSize = 64;

    // socket must outlive this object; it is only read from, never closed.
    explicit PeReceiver(XUdp* socket);
    // Stops and joins the thread before the queue goes.
    ~PeReceiver() override;

    // Asks Run to return within one wait period, then joins.
    void Stop();

    // Tells the thread that replies are about to arrive in a burst, so that
    // it reads without sleeping for the next ms milliseconds. Any thread.
    void ExpectBurst(int ms);

    // Moves every datagram now pending on the socket into the queue, without
    // blocking. Returns the number of datagrams queued afterwards.
    int Fill();
    // The oldest queued datagram, now owned by the caller, or null when none.
    XBuffer* TakeNext();
    // Deletes every queued datagram.
    void Discard();
    // Slots the queue holds, taken ones included: shows that its storage
    // stays bounded while it never quite empties.
    int GetSlotCount();

    int Run() override;

private:
    // Reads on without sleeping until no datagram came for a short while.
    void DrainBurst();
    // Moves every pending datagram into the queue; returns how many were read.
    int FillCounting();
    // Reads up to kBatchSize pending datagrams into slots without blocking;
    // returns how many (0 when none or on error). Needs readLock.
    int ReadBatch();
    // Copies the first count datagrams of slots onto the queue. Needs readLock.
    void Enqueue(int count);
    // Moves the untaken datagrams to the front once most slots are taken, so
    // a queue that never quite empties does not grow without bound. Needs lock.
    void CompactLocked();

    XUdp* socket;
    // Held by whoever reads the socket, so that two threads filling at once
    // cannot swap the order of two datagrams; never held with lock waiting.
    XLock readLock;
    unsigned char slots[kBatchSize][kDatagramSize]; // guarded by readLock
    int lengths[kBatchSize];                        // guarded by readLock
    // Guards only the queue, and only for moments: the reader never holds it
    // across a system call, so the collector is not held up by the socket.
    XLock lock;
    XArray<XBuffer> queue; // guarded by lock; slots before head are taken
    int head = 0;          // guarded by lock
    std::atomic<bool> stopping{false};
    std::atomic<std::int64_t> burstUntilNs{0}; // monotonic clock

};
