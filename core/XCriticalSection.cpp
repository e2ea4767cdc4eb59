#include "XCriticalSection.h"

XCriticalSection::XCriticalSection() {}

XCriticalSection::~XCriticalSection() {}

void XCriticalSection::Enter()
{
    mutex.lock();
}

void XCriticalSection::Leave()
{
    mutex.unlock();
}
