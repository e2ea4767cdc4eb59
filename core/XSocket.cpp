#include "XSocket.h"

#include <sys/socket.h>
#include <unistd.h>

XSocket::XSocket(int handle) : handle(handle), receiveTimeout(-1), sendTimeout(-1) {}

XSocket::~XSocket()
{
    Close();
}

void XSocket::Close()
{
    int old = handle;
    handle = -1;
    if (old == -1)
        return;
    // Unconnected datagram sockets refuse the shutdown; that is expected and
    // changes nothing, the close below still releases the socket.
    shutdown(old, SHUT_WR);
    close(old);
}

int XSocket::Attach(int newHandle)
{
    int old = handle;
    handle = newHandle;
    return old;
}

int XSocket::GetHandle() const
{
    return handle;
}

void XSocket::SetReceiveTimeout(int ms)
{
    receiveTimeout = ms;
}

int XSocket::GetReceiveTimeout() const
{
    return receiveTimeout;
}

void XSocket::SetSendTimeout(int ms)
{
    sendTimeout = ms;
}

int XSocket::GetSendTimeout() const
{
    return sendTimeout;
}
