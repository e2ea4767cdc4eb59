#include "XThread.h"

#include <cxxabi.h>

XThread::XThread() : runFlag(false), stackSize(0), handle(), hasHandle(false), finished(false) {}

XThread::~XThread()
{
    XThread::Join();
}

void* XThread::Entry(void* argument)
{
    XThread* self = static_cast<XThread*>(argument);
    try {
        self->Run();
    } catch (abi::__forced_unwind&) {
        // Thread cancellation unwinds with this; it must go on unwinding.
        self->finished.store(true, std::memory_order_release);
        throw;
    } catch (...) {
        // Dropped; see Run.
    }
    self->finished.store(true, std::memory_order_release);
    return nullptr;
}

void XThread::Start()
{
    if (hasHandle)
        return;
    runFlag.store(true);
    finished.store(false, std::memory_order_relaxed);

    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        runFlag.store(false);
        return;
    }
    bool ready = stackSize == 0 || pthread_attr_setstacksize(&attributes, stackSize) == 0;
    if (ready && pthread_create(&handle, &attributes, &XThread::Entry, this) == 0)
        hasHandle = true;
    else
        runFlag.store(false);
    pthread_attr_destroy(&attributes);
}

bool XThread::IsRunning() const
{
    return hasHandle && !finished.load(std::memory_order_acquire);
}

void XThread::Join()
{
    if (!hasHandle)
        return;
    runFlag.store(false);
    if (pthread_equal(handle, pthread_self()))
        pthread_detach(handle);
    else
        pthread_join(handle, nullptr);
    hasHandle = false;
}
