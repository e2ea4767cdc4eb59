#pragma once

#include "XSocket.h"

#include <netinet/in.h>

// A non-blocking UDP endpoint. Every send and receive first waits, at most
// the object's time limit, for the socket to become ready; nothing blocks
// longer than that.
class XUdp : public XSocket {
public:
    // As XSocket(handle).
    explicit XUdp(int handle = -1);
    ~XUdp() override;

    // Opens a UDP socket bound to port (0: any free port) and host (null: all
    // local addresses) and makes it non-blocking. Returns 0 and keeps the
    // handle (a handle held before is closed); -1 when the host cannot be
    // resolved or the socket cannot be created or bound; -2 when non-blocking
    // mode cannot be set (the new socket is closed). On -1 and -2 the object
    // is unchanged.
    int Open(int port, const char* host);

    // Allows (on != 0) or forbids sending to broadcast addresses.
    // Returns 0, or -1 (also without a handle).
    int SetBroadcast(int on);

    // Waits for writability (send time limit), then sends length bytes of
    // data as one datagram to *address, also when the wait ran out. Returns
    // the number of bytes sent, or -1 when the wait failed (the socket is then
    // not used, e.g. no handle) or the send was refused.
    int SendTo(const void* data, int length, const sockaddr_in* address);

    // Waits for readability (receive time limit), then reads one pending
    // datagram into buffer, at most size bytes (the rest of a longer datagram
    // is lost), also when the wait ran out. Returns its length, or -1 when the
    // wait failed (the socket is then not used), nothing is pending or the
    // read failed. The sender's address is not reported.
    int Receive(void* buffer, int size);
};
