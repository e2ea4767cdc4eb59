#include "XUdp.h"

#include "XSocketFunctions.h"

#include <sys/socket.h>
#include <unistd.h>

XUdp::XUdp(int handle) : XSocket(handle) {}

XUdp::~XUdp() {}

int XUdp::Open(int port, const char* host)
{
    int opened = OpenBoundSocket("udp", port, host);
    if (opened == -1)
        return -1;
    if (SetNonBlocking(opened) != 0) {
        close(opened);
        return -2;
    }
    // The endpoint owns its socket: a second Open must not leak the first.
    XSocket previous(Attach(opened));
    return 0;
}

int XUdp::SetBroadcast(int on)
{
    if (handle == -1)
        return -1;
    int value = on ? 1 : 0;
    if (setsockopt(handle, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0)
        return -1;
    return 0;
}

int XUdp::SendTo(const void* data, int length, const sockaddr_in* address)
{
    if (WaitSocket(handle, sendTimeout, 'w') < 0)
        return -1;
    if (length < 0)
        return -1;
    ssize_t sent = sendto(handle, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(address), address ? sizeof *address : 0);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int XUdp::Receive(void* buffer, int size)
{
    if (WaitSocket(handle, receiveTimeout, 'r') < 0)
        return -1;
    if (size < 0)
        return -1;
    ssize_t received = recv(handle, buffer, static_cast<size_t>(size), 0);
    return received < 0 ? -1 : static_cast<int>(received);
}
