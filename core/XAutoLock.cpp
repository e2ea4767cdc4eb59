#include "XAutoLock.h"

#include "XLock.h"

XAutoLock::XAutoLock(XLock* lock) : lock(lock)
{
    lock->Lock();
}

XAutoLock::~XAutoLock()
{
    Release();
}

void XAutoLock::Release()
{
    if (!lock)
        return;
    XLock* held = lock;
    lock = nullptr;
    held->Unlock();
}
