#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#else
constexpr short POLLIN = 0x0001;  // a descriptor never waits on Windows; only the value is needed
#endif

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/SysError.h"
#include "platform/linux/Descriptor.h"

using namespace platform;

TEST(Event, LowestReadyIndexWinsAndAutoResetIsConsumedOnlyWhenReturned) {
    Event a(Event::kAutoReset), b(Event::kAutoReset), m(Event::kManualReset);
    b.Set();
    a.Set();
    EXPECT_EQ(WaitForAny({&a, &b}, 0), 0u);
    EXPECT_EQ(WaitForAny({&a, &b}, 0), 1u);  // b was not consumed by the first wait
    EXPECT_EQ(WaitForAny({&a, &b}, 0), kWaitTimeout);
    m.Set();
    EXPECT_EQ(WaitForAny({&a, &m}, 0), 1u);
    EXPECT_EQ(WaitForAny({&a, &m}, 0), 1u);  // manual reset stays set
    m.Reset();
    EXPECT_EQ(WaitForAny({&m}, 0), kWaitTimeout);
    // Setting an auto-reset event twice releases one wait.
    a.Set();
    a.Set();
    EXPECT_EQ(WaitFor(a, 0), 0u);
    EXPECT_EQ(WaitFor(a, 0), kWaitTimeout);
}

#ifndef _WIN32
TEST(Event, DescriptorJoinsTheWait) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    Event stop(Event::kManualReset);
    Waitable items[] = {Waitable::Of(stop), DescriptorWaitable(fds[0], POLLIN)};
    EXPECT_EQ(WaitForAny(items, 2, 0), kWaitTimeout);
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    EXPECT_EQ(WaitForAny(items, 2, 0), 1u);
    EXPECT_TRUE(items[1].revents & POLLIN);
    stop.Set();
    EXPECT_EQ(WaitForAny(items, 2, 0), 0u);  // the stop request outranks the data
    ::close(fds[1]);
    stop.Reset();
    char c;
    ASSERT_EQ(::read(fds[0], &c, 1), 1);
    EXPECT_EQ(WaitForAny(items, 2, 0), 1u);  // hang-up of the peer wakes the wait too
    ::close(fds[0]);
}
#endif

TEST(Event, InvalidArgumentsFailTheWait) {
    EXPECT_EQ(WaitForAny(nullptr, 0, 0), kWaitFailed);
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_PARAMETER);
    Waitable bad = DescriptorWaitable(987654, POLLIN);
    EXPECT_EQ(WaitForAny(&bad, 1, 0), kWaitFailed);
    EXPECT_EQ(platform::GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Event, AutoResetReleasesExactlyOneOfManyWaiters) {
    Event e(Event::kAutoReset);
    Event done(Event::kManualReset);
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            if (WaitForAny({&done, &e}, kInfinite) == 1) woken.fetch_add(1);
        });
    }
    e.Set();
    platform::Sleep(100);
    EXPECT_EQ(woken.load(), 1);
    done.Set();
    for (auto& t : threads) t.join();
    EXPECT_EQ(woken.load(), 1);
}
