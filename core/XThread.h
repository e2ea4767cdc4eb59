#pragma once

#include <pthread.h>

#include <atomic>

// A thread object: a derived class supplies the work in Run; Start runs it on
// a new thread. Start, Join and IsRunning belong to one controlling thread
// (the one that owns the object); only Run runs on the new thread.
//
// Lifetime: the destructor joins, but it runs after the destructors of the
// derived class, so a derived object whose thread may still be working must
// be joined before it is deleted (its members would otherwise go while Run
// still uses them). The object must also not be destroyed before Run has
// been entered.
class XThread {
public:
    // No thread yet; stack size 0 (the platform's default).
    XThread();
    // Performs XThread's own Join: waits for a started thread to end.
    virtual ~XThread();

    XThread(const XThread&) = delete;
    XThread& operator=(const XThread&) = delete;

    // The work, run once per Start on the new thread. Its result is dropped:
    // the thread always ends with exit status 0. An exception that leaves Run
    // is caught and dropped as well, and the thread ends as if Run had
    // returned: a background task has no caller to report to, and ending the
    // whole program for it would lose the user's session.
    virtual int Run() = 0;

    // If a thread was started: clears the run flag, waits without limit for
    // the thread to end, then releases it; the object is then without a thread
    // and may be started again. Without a thread it does nothing. Called from
    // Run itself it cannot wait for its own end: the thread is then released
    // to end on its own.
    virtual void Join();

    // Starts Run on a new thread, unless the object already has one (running,
    // or ended but not joined), in which case nothing happens. Sets the run
    // flag first. If the thread cannot be created (including a stack size the
    // platform refuses), the object stays without a thread and the run flag is
    // cleared again: IsRunning is false and Join returns at once.
    void Start();

    // True from Start until Run has returned; false without a thread. Never
    // blocks.
    bool IsRunning() const;

protected:
    // True from Start until Join. Readable by Run (e.g. to end early when
    // Join is on its way).
    std::atomic<bool> runFlag;
    // Stack size in bytes asked for at creation; 0 means the default. A
    // derived class may set it before Start.
    unsigned stackSize;

private:
    static void* Entry(void* self);

    pthread_t handle;
    bool hasHandle;
    // Set by the thread once Run has returned; read by IsRunning.
    std::atomic<bool> finished;
};
