// CObjectLock: a re-entrant lock that can be shut down.
//
// Lock waits for the lock or for the lock being closed; Close makes every
// waiting and every later Lock fail at once, which is how an object tells
// its users that it is being destroyed. The thread that holds the lock may
// take it again and must release it as often.
//
// A thread that owns a message window (the main thread) keeps handling sent
// messages while it waits here, so a worker blocked in a send to it while
// holding this lock cannot deadlock it.
// Thread: any.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/Event.h"

class CObjectLock {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFF;

    CObjectLock();
    // Takes the lock without limit, closes it and waits until no thread is
    // left inside Lock.
    ~CObjectLock();
    CObjectLock(const CObjectLock&) = delete;
    CObjectLock& operator=(const CObjectLock&) = delete;

    // True once the lock is held by the calling thread. False when the lock
    // is closed (also while waiting), on time-out, or when the wait fails.
    bool Lock(uint32_t timeoutMs = kInfinite);
    // Releases once. Calls from a thread that does not hold the lock are
    // ignored (a lock is never released by a thread that does not own it).
    void Unlock();
    // Shuts the lock down: every waiting and later Lock fails at once. The
    // holder may still Unlock.
    void Close();

    bool IsClosed() const { return m_closed.load(std::memory_order_acquire); }
    bool IsHeldByCurrentThread() const;

private:
    platform::Event m_available{platform::Event::kAutoReset, true};
    platform::Event m_closing{platform::Event::kManualReset, false};
    std::atomic<uint32_t> m_owner{0};  // thread id of the holder, 0 when free
    uint32_t m_recursion = 0;          // touched only by the holder
    std::atomic<bool> m_closed{false};
    std::atomic<int> m_waiters{0};
};

// Scoped holder: takes the lock in the constructor, releases in the
// destructor if it was taken.
class CObjectLockGuard {
public:
    explicit CObjectLockGuard(CObjectLock& lock, uint32_t timeoutMs = CObjectLock::kInfinite)
        : m_lock(lock), m_locked(lock.Lock(timeoutMs)) {}
    ~CObjectLockGuard() {
        if (m_locked) m_lock.Unlock();
    }
    CObjectLockGuard(const CObjectLockGuard&) = delete;
    CObjectLockGuard& operator=(const CObjectLockGuard&) = delete;
    bool IsLocked() const { return m_locked; }
    explicit operator bool() const { return m_locked; }
    void Unlock() {
        if (m_locked) {
            m_lock.Unlock();
            m_locked = false;
        }
    }

private:
    CObjectLock& m_lock;
    bool m_locked;
};
