#pragma once

#include "XCriticalSection.h"

// The lock that a shared structure carries. Same rules as XCriticalSection:
// the holder may lock again, and each Lock needs its Unlock.
class XLock {
public:
    XLock();
    ~XLock();

    void Lock();
    void Unlock();

private:
    XCriticalSection section;
};
