#include "XAutoLock.h"
#include "XCriticalSection.h"
#include "XLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

// Generous bound for waits that only run out when the code is wrong.
const auto kDeadline = std::chrono::seconds(10);
// How long a thread that must stay blocked is given to get through anyway.
const auto kGrace = std::chrono::milliseconds(50);

// Another thread that takes the lock once, then lets it go.
class Contender {
public:
    explicit Contender(XLock* lock)
        : worker([this, lock] {
              lock->Lock();
              acquired.store(true);
              lock->Unlock();
              std::lock_guard<std::mutex> hold(mutex);
              done = true;
              changed.notify_all();
          })
    {
    }
    ~Contender() { worker.join(); }

    // True once the contender has taken and released the lock.
    bool Finishes()
    {
        std::unique_lock<std::mutex> hold(mutex);
        return changed.wait_for(hold, kDeadline, [this] { return done; });
    }
    // True when the contender got the lock within the grace period.
    bool GetsThroughQuickly()
    {
        std::this_thread::sleep_for(kGrace);
        return acquired.load();
    }

private:
    std::atomic<bool> acquired{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::thread worker;
};

// The ways the code takes a lock for a stretch of work.
struct HoldWay {
    const char* label;
    std::function<void(XLock&, XCriticalSection&, const std::function<void()>&)> hold;
};

void PrintTo(const HoldWay& way, std::ostream* out)
{
    *out << way.label;
}

class MutualExclusionTest : public ::testing::TestWithParam<HoldWay> {};

TEST_P(MutualExclusionTest, KeepsConcurrentUpdatesWhole)
{
    XLock lock;
    XCriticalSection section;
    const int perThread = 20000;
    long counter = 0; // deliberately not atomic: only the lock protects it
    auto work = [&] {
        for (int i = 0; i < perThread; ++i)
            GetParam().hold(lock, section, [&] { counter = counter + 1; });
    };
    std::thread first(work);
    std::thread second(work);
    first.join();
    second.join();
    EXPECT_EQ(2L * perThread, counter);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, MutualExclusionTest,
    ::testing::Values(HoldWay{"AutoLock",
                              [](XLock& lock, XCriticalSection&, const std::function<void()>& body) {
                                  XAutoLock hold(&lock);
                                  body();
                              }},
                      HoldWay{"LockUnlock",
                              [](XLock& lock, XCriticalSection&, const std::function<void()>& body) {
                                  lock.Lock();
                                  body();
                                  lock.Unlock();
                              }},
                      HoldWay{"EnterLeave",
                              [](XLock&, XCriticalSection& section, const std::function<void()>& body) {
                                  section.Enter();
                                  body();
                                  section.Leave();
                              }}),
    [](const ::testing::TestParamInfo<HoldWay>& info) { return std::string(info.param.label); });

TEST(XAutoLock, HoldsTheLockUntilTheScopeEnds)
{
    XLock lock;
    std::unique_ptr<Contender> contender;
    {
        XAutoLock hold(&lock);
        contender = std::make_unique<Contender>(&lock);
        EXPECT_FALSE(contender->GetsThroughQuickly());
    }
    EXPECT_TRUE(contender->Finishes());
}

TEST(XAutoLock, ExceptionLeavingTheScopeUnlocks)
{
    XLock lock;
    bool caught = false;
    try {
        XAutoLock hold(&lock);
        throw std::runtime_error("leaves the scope");
    } catch (const std::runtime_error&) {
        caught = true;
    }
    ASSERT_TRUE(caught);
    Contender contender(&lock);
    bool finished = contender.Finishes();
    EXPECT_TRUE(finished);
    if (!finished)
        lock.Unlock(); // still held by this thread: free the contender
}

TEST(XAutoLock, ReleaseUnlocksEarlyAndTheDestructorThenUnlocksNothing)
{
    XLock lock;
    {
        XAutoLock hold(&lock);
        hold.Release();
        {
            Contender early(&lock);
            EXPECT_TRUE(early.Finishes());
        }
        hold.Release(); // a second call does nothing
        lock.Lock();    // held once more, outside the XAutoLock
    }
    // Had the destructor unlocked, the lock would be free now.
    Contender contender(&lock);
    EXPECT_FALSE(contender.GetsThroughQuickly());
    lock.Unlock();
    EXPECT_TRUE(contender.Finishes());
}

TEST(XLock, HolderMayLockAgainAndHoldsUntilTheLastUnlock)
{
    // The holder runs on a helper thread so that a lock refusing re-entry
    // fails the test instead of hanging it.
    struct Shared {
        XLock lock;
        std::atomic<bool> reentered{false};
        std::atomic<bool> letGo{false};
    };
    auto shared = std::make_shared<Shared>();
    std::thread holder([shared] {
        shared->lock.Lock();
        {
            XAutoLock inner(&shared->lock);
            shared->reentered.store(true);
        }
        // Still held once: keep it until told, then let go.
        while (!shared->letGo.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        shared->lock.Unlock();
    });
    auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!shared->reentered.load() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!shared->reentered.load()) {
        holder.detach(); // stuck on its own lock; shared keeps the lock alive
        FAIL() << "the holder could not lock again";
    }

    Contender contender(&shared->lock);
    EXPECT_FALSE(contender.GetsThroughQuickly());
    shared->letGo.store(true);
    EXPECT_TRUE(contender.Finishes());
    holder.join();
}

} // namespace
