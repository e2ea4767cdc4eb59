#include "XThread.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

// Generous bound for waits that only end early when the code is wrong, so a
// fault fails the test instead of hanging it.
const auto kDeadline = std::chrono::seconds(10);

// A one-way gate: closed until Open, then open for good.
class Gate {
public:
    void Open()
    {
        std::lock_guard<std::mutex> hold(mutex);
        open = true;
        changed.notify_all();
    }
    // Waits until open; false when the deadline passed first.
    bool Wait()
    {
        std::unique_lock<std::mutex> hold(mutex);
        return changed.wait_for(hold, kDeadline, [this] { return open; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
};

// Polls condition until it holds or the deadline passes.
template <typename Condition> bool Eventually(Condition condition)
{
    auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// What a test thread reports back. Lives outside the thread object so it can
// be read after the object is gone.
struct Probe {
    Gate entered;           // Run has begun
    Gate release;           // Run may return
    std::atomic<int> runs{0};
    std::atomic<bool> returned{false};
    std::atomic<bool> sawRunFlag{false};
    std::atomic<bool> ranOnOtherThread{false};
    std::thread::id creator = std::this_thread::get_id();
};

// Blocks in Run until the probe's release gate opens. Run reads the object's
// members, so the tests join it before it is destroyed.
class BlockingThread : public XThread {
public:
    explicit BlockingThread(Probe* probe, int result = 0, bool throws = false)
        : probe(probe), result(result), throws(throws)
    {
    }

    int Run() override
    {
        probe->runs.fetch_add(1);
        probe->sawRunFlag.store(runFlag.load());
        probe->ranOnOtherThread.store(std::this_thread::get_id() != probe->creator);
        probe->entered.Open();
        probe->release.Wait();
        probe->returned.store(true);
        if (throws)
            throw std::runtime_error("work failed");
        return result;
    }

    bool RunFlag() const { return runFlag.load(); }
    void SetStackSize(unsigned size) { stackSize = size; }

private:
    Probe* probe;
    int result;
    bool throws;
};

TEST(XThread, ConstructedObjectHasNoThread)
{
    Probe probe;
    BlockingThread thread(&probe);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.RunFlag());
    thread.Join(); // returns at once and changes nothing
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.RunFlag());
    EXPECT_EQ(0, probe.runs.load());
}

TEST(XThread, RunsOnItsOwnThreadWithTheRunFlagSet)
{
    Probe probe;
    BlockingThread thread(&probe);
    thread.Start();
    EXPECT_TRUE(thread.RunFlag());
    ASSERT_TRUE(probe.entered.Wait());
    EXPECT_TRUE(probe.sawRunFlag.load());
    EXPECT_TRUE(probe.ranOnOtherThread.load());
    probe.release.Open();
    thread.Join();
    EXPECT_FALSE(thread.RunFlag());
    EXPECT_EQ(1, probe.runs.load());
}

TEST(XThread, IsRunningUntilRunReturnsThenFalseBeforeJoin)
{
    Probe probe;
    BlockingThread thread(&probe);
    thread.Start();
    EXPECT_TRUE(thread.IsRunning());
    ASSERT_TRUE(probe.entered.Wait());
    EXPECT_TRUE(thread.IsRunning());

    probe.release.Open();
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    EXPECT_TRUE(probe.returned.load());
    // Ended but not joined: the thread is still held, with its run flag.
    EXPECT_TRUE(thread.RunFlag());

    thread.Join();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.RunFlag());
}

TEST(XThread, StartWhileHoldingAThreadDoesNothing)
{
    Probe probe;
    BlockingThread thread(&probe);
    thread.Start();
    ASSERT_TRUE(probe.entered.Wait());
    thread.Start(); // running
    thread.Start();
    probe.release.Open();
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    thread.Start(); // ended, not joined
    EXPECT_FALSE(thread.IsRunning());
    thread.Join();
    EXPECT_EQ(1, probe.runs.load());
}

TEST(XThread, JoinedObjectCanStartAgain)
{
    Probe probe;
    BlockingThread thread(&probe);
    probe.release.Open();
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        thread.Start();
        thread.Join();
        EXPECT_FALSE(thread.IsRunning());
        EXPECT_EQ(round, probe.runs.load());
    }
}

TEST(XThread, JoinWaitsForRunToReturn)
{
    Probe probe;
    BlockingThread thread(&probe);
    thread.Start();
    ASSERT_TRUE(probe.entered.Wait());
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        probe.release.Open();
    });
    thread.Join();
    EXPECT_TRUE(probe.returned.load());
    EXPECT_FALSE(thread.IsRunning());
    releaser.join();
}

// Its Run never touches the object: once deletion has begun, only the base
// part is left.
Probe* g_memberlessProbe = nullptr;

class MemberlessThread : public XThread {
public:
    int Run() override
    {
        Probe* probe = g_memberlessProbe;
        probe->entered.Open();
        probe->release.Wait();
        probe->returned.store(true);
        return 0;
    }
};

TEST(XThread, DestroyingAStartedObjectWaitsForRun)
{
    Probe probe;
    g_memberlessProbe = &probe;
    auto thread = std::make_unique<MemberlessThread>();
    thread->Start();
    ASSERT_TRUE(probe.entered.Wait());
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        probe.release.Open();
    });
    thread.reset();
    EXPECT_TRUE(probe.returned.load());
    releaser.join();
}

TEST(XThread, RunResultDoesNotMatter)
{
    for (int result : {0, 1, -1, 42, INT32_MIN}) {
        SCOPED_TRACE(result);
        Probe probe;
        probe.release.Open();
        BlockingThread thread(&probe, result);
        thread.Start();
        ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
        thread.Join();
        EXPECT_EQ(1, probe.runs.load());
        // The object is as good as new.
        thread.Start();
        thread.Join();
        EXPECT_EQ(2, probe.runs.load());
    }
}

TEST(XThread, ExceptionLeavingRunEndsTheThreadQuietly)
{
    Probe probe;
    probe.release.Open();
    BlockingThread thread(&probe, 0, true);
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    EXPECT_TRUE(probe.returned.load());
    thread.Join();
    EXPECT_FALSE(thread.RunFlag());
    thread.Start();
    thread.Join();
    EXPECT_EQ(2, probe.runs.load());
}

TEST(XThread, FailedStartLeavesNoThread)
{
    Probe probe;
    probe.release.Open();
    BlockingThread thread(&probe);
    thread.SetStackSize(1); // far below any platform's minimum: creation fails
    thread.Start();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.RunFlag());
    thread.Join(); // returns at once
    EXPECT_EQ(0, probe.runs.load());

    // A later start with an acceptable size works.
    thread.SetStackSize(0);
    thread.Start();
    thread.Join();
    EXPECT_EQ(1, probe.runs.load());
}

// Reports the stack size that its thread really got.
class StackSizeThread : public XThread {
public:
    explicit StackSizeThread(unsigned size) { stackSize = size; }
    int Run() override
    {
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
            size_t size = 0;
            pthread_attr_getstacksize(&attributes, &size);
            granted.store(size);
            pthread_attr_destroy(&attributes);
        }
        return 0;
    }
    std::atomic<size_t> granted{0};
};

TEST(XThread, RequestedStackSizeIsUsed)
{
    const unsigned requested = 64u << 20; // well above the usual default
    StackSizeThread thread(requested);
    thread.Start();
    thread.Join();
    EXPECT_GE(thread.granted.load(), requested);
}

} // namespace
