#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/CallbackTimer.h"
#include "base/MessageWindow.h"
#include "base/ObjectLock.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Thread.h"

TEST(MessageWindow, SendFromWorkerBlocksUntilHandledAndPostsKeepOrder) {
    std::vector<uint32_t> seen;  // owner thread only
    CMessageWindow window([&](uint32_t msg, WPARAM w, LPARAM) {
        seen.push_back(msg);
        return static_cast<LRESULT>(w + 1);
    });
    EXPECT_EQ(window.SendMsg(0x401, 20), 21);  // from the owner: called directly
    std::atomic<LRESULT> result{0};
    std::thread worker([&] {
        window.PostMsg(0x40B);
        window.PostMsg(0x40C);
        result = window.SendMsg(0x405, 9);
    });
    // Once the send is queued, both posts are queued too.
    ASSERT_EQ(platform::WaitFor(window.SendEvent(), 10000), 0u);
    window.DispatchPending();
    worker.join();
    EXPECT_EQ(result.load(), 10);
    // The send is handled before the posted messages that were queued first.
    EXPECT_EQ(seen, (std::vector<uint32_t>{0x401, 0x405, 0x40B, 0x40C}));
}

TEST(MessageWindow, OwnerWaitingForALockHandlesTheSendOfTheHolder) {
    // The worker holds a lock and sends; the owner wants the same lock. With
    // plain waiting this deadlocks; the owner must handle the send meanwhile.
    // (Waiting for a thread's end likewise: the thread list's test.)
    CObjectLock lock;
    platform::Event locked(platform::Event::kManualReset);
    std::atomic<bool> handled{false};
    CMessageWindow window([&](uint32_t, WPARAM, LPARAM) {
        handled = true;
        return 1;
    });
    std::thread worker([&] {
        CObjectLockGuard guard(lock);
        locked.Set();
        window.SendMsg(0x406);
    });
    platform::WaitFor(locked, platform::kInfinite);
    EXPECT_TRUE(lock.Lock(10000));
    lock.Unlock();
    worker.join();
    EXPECT_TRUE(handled.load());
}

TEST(MessageWindow, CloseReleasesSendersAndRefusesLaterMessages) {
    auto window = std::make_unique<CMessageWindow>([](uint32_t, WPARAM, LPARAM) { return 5; });
    std::atomic<int> returned{0};
    std::atomic<LRESULT> result{-1};
    std::thread worker([&] {
        result = window->SendMsg(0x401);
        returned = 1;
    });
    platform::Sleep(50);
    EXPECT_EQ(returned.load(), 0);
    window->Close();
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(window->PostMsg(0x401));
    EXPECT_FALSE(window->SetTimer(1, 10, [](uintptr_t, uint32_t) {}));
    std::thread([&] { EXPECT_EQ(window->SendMsg(0x401), 0); }).join();
}

TEST(MessageWindow, TimersAreOneShotAndCanBeKilledFromAnyThread) {
    CMessageWindow window;
    std::vector<uintptr_t> fired;
    window.SetTimer(1, 30, [&](uintptr_t id, uint32_t) { fired.push_back(id); });
    window.SetTimer(2, 10, [&](uintptr_t id, uint32_t) { fired.push_back(id); });
    window.SetTimer(3, 20, [&](uintptr_t id, uint32_t) { fired.push_back(id); });
    std::thread([&] { window.KillTimer(3); }).join();
    EXPECT_LE(window.NextTimerDueMs(), 10u);
    window.PumpFor(120);
    EXPECT_EQ(fired, (std::vector<uintptr_t>{2, 1}));
    EXPECT_EQ(window.NextTimerDueMs(), platform::kInfinite);
    // A pump that comes late finds both due: the earlier one still fires first.
    fired.clear();
    window.SetTimer(4, 20, [&](uintptr_t id, uint32_t) { fired.push_back(id); });
    window.SetTimer(5, 5, [&](uintptr_t id, uint32_t) { fired.push_back(id); });
    platform::Sleep(40);
    window.DispatchPending();
    EXPECT_EQ(fired, (std::vector<uintptr_t>{5, 4}));
}

namespace {

struct TimerCounter : CObject {
    KORVA_RUNTIME_CLASS(TimerCounter)
    std::atomic<int> calls{0};
    std::atomic<uint32_t> thread{0};
    static void OnTimer(CCallbackTimer* timer, uint32_t, CObject* context) {
        auto* self = CObject::DownCast<TimerCounter>(context);
        ASSERT_NE(self, nullptr);
        EXPECT_FALSE(timer->IsRunning());  // one-shot: stopped before the callback
        self->calls++;
        self->thread = platform::CurrentThreadId();
    }
};

}  // namespace

// A stopped or destroyed timer never calling back is the line protocol's
// (its time-outs, tests/protocol).
TEST(CallbackTimer, StartedOnAWorkerFiresOnTheWindowThread) {
    CMessageWindow window;
    TimerCounter counter;
    CCallbackTimer timer(1, 20, &TimerCounter::OnTimer, &counter, &window);
    std::thread([&] {
        EXPECT_TRUE(timer.Start());
        EXPECT_TRUE(timer.Start());  // starting a running timer does nothing
    }).join();
    EXPECT_TRUE(window.PumpUntil([&] { return counter.calls.load() > 0; }, 2000));
    window.PumpFor(60);
    EXPECT_EQ(counter.calls.load(), 1);
    EXPECT_EQ(counter.thread.load(), platform::CurrentThreadId());
    EXPECT_FALSE(timer.IsRunning());
}
