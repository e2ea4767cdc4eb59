#pragma once

class XLock;

// Holds an XLock for the life of a scope, also when an exception leaves it.
class XAutoLock {
public:
    // Locks *lock at once; lock must not be null and must outlive this object.
    explicit XAutoLock(XLock* lock);
    // Unlocks the lock unless it was released already.
    ~XAutoLock();

    XAutoLock(const XAutoLock&) = delete;
    XAutoLock& operator=(const XAutoLock&) = delete;

    // Unlocks before the scope ends and forgets the lock, so the destructor
    // unlocks nothing. A second call does nothing.
    void Release();

private:
    XLock* lock;
};
