#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "base/ObjectLock.h"
#include "platform/Clock.h"
#include "platform/Event.h"

TEST(ObjectLock, ReentrantAndExclusive) {
    CObjectLock lock;
    ASSERT_TRUE(lock.Lock());
    ASSERT_TRUE(lock.Lock());  // the holder may take it again
    std::atomic<bool> other{false};
    std::thread t([&] { other = lock.Lock(50); });
    t.join();
    EXPECT_FALSE(other.load());
    lock.Unlock();
    std::thread t2([&] { other = lock.Lock(50); });
    t2.join();
    EXPECT_FALSE(other.load());  // still held once
    lock.Unlock();
    std::thread t3([&] {
        other = lock.Lock(1000);
        if (other) lock.Unlock();
    });
    t3.join();
    EXPECT_TRUE(other.load());
}

TEST(ObjectLock, UnlockFromAnotherThreadIsIgnored) {
    CObjectLock lock;
    ASSERT_TRUE(lock.Lock());
    std::thread([&] { lock.Unlock(); }).join();
    std::atomic<bool> other{true};
    std::thread([&] { other = lock.Lock(30); }).join();
    EXPECT_FALSE(other.load());
    lock.Unlock();
}

TEST(ObjectLock, CloseFailsWaitersAtOnceAndEveryLaterLock) {
    CObjectLock lock;
    ASSERT_TRUE(lock.Lock());
    std::atomic<int> failed{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (!lock.Lock()) failed.fetch_add(1);  // no limit: only Close ends it
        });
    }
    platform::Sleep(50);
    lock.Close();
    for (auto& t : waiters) t.join();  // without a limit, only the close lets them go
    EXPECT_EQ(failed.load(), 3);
    lock.Unlock();  // the holder may still release
    EXPECT_FALSE(lock.Lock(0));
    EXPECT_TRUE(lock.IsClosed());
}

TEST(ObjectLock, CountsStayConsistentUnderContention) {
    CObjectLock lock;
    long counter = 0;  // guarded by lock
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 2000; ++j) {
                CObjectLockGuard guard(lock);
                ASSERT_TRUE(guard.IsLocked());
                CObjectLockGuard nested(lock);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8000);
}

TEST(ObjectLock, DestructorWaitsForTheHolderAndLetsWaitersGo) {
    auto* lock = new CObjectLock;
    platform::Event held(platform::Event::kManualReset);
    std::thread holder([&] {
        lock->Lock();
        held.Set();
        platform::Sleep(50);
        lock->Unlock();
    });
    platform::WaitFor(held, platform::kInfinite);
    // The waiter must be on its way into Lock before the delete: a thread
    // that only starts after it would use a freed lock (a slow thread start,
    // as under Wine on a loaded machine, did exactly that).
    platform::Event entering(platform::Event::kManualReset);
    std::thread waiter([&] {
        entering.Set();
        if (lock->Lock()) lock->Unlock();
    });
    platform::WaitFor(entering, platform::kInfinite);
    delete lock;  // blocks until the holder is done, then shuts the lock down
    holder.join();
    waiter.join();
    SUCCEED();
}
