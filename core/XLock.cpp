#include "XLock.h"

XLock::XLock() {}

XLock::~XLock() {}

void XLock::Lock()
{
    section.Enter();
}

void XLock::Unlock()
{
    section.Leave();
}
