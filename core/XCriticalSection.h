#pragma once

#include <mutex>

// A mutual-exclusion section. The thread inside may enter again (each Enter
// needs its Leave), so a helper that takes the lock can be called from code
// that already holds it. Not copyable.
class XCriticalSection {
public:
    XCriticalSection();
    ~XCriticalSection();

    XCriticalSection(const XCriticalSection&) = delete;
    XCriticalSection& operator=(const XCriticalSection&) = delete;

    // Waits until no other thread is inside, then enters.
    void Enter();
    // Leaves once; only the thread inside may call it.
    void Leave();

private:
    std::recursive_mutex mutex;
};
