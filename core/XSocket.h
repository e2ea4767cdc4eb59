#pragma once

// Owns one socket handle (-1: none) and the time limits of the waits before
// each receive and send, in milliseconds (negative: no limit; 0: no wait).
// Not copyable: exactly one object closes a handle.
class XSocket {
public:
    // Takes ownership of handle (-1 for none). Both time limits start at -1.
    explicit XSocket(int handle = -1);
    // Closes the handle, if any.
    virtual ~XSocket();

    XSocket(const XSocket&) = delete;
    XSocket& operator=(const XSocket&) = delete;

    // Takes the handle out of the object (it becomes -1); if there was one,
    // shuts down its sending direction, then closes it. Without a handle it
    // does nothing.
    void Close();
    // Stores handle and returns the previous one, which the caller now owns;
    // it is not closed.
    int Attach(int handle);
    int GetHandle() const;

    void SetReceiveTimeout(int ms);
    int GetReceiveTimeout() const;
    void SetSendTimeout(int ms);
    int GetSendTimeout() const;

protected:
    int handle;
    int receiveTimeout;
    int sendTimeout;
};
