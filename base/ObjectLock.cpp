#include "base/ObjectLock.h"

#include <thread>

#include "base/Wait.h"
#include "platform/Thread.h"

CObjectLock::CObjectLock() = default;

CObjectLock::~CObjectLock() {
    if (Lock(kInfinite)) Close();
    // Close wakes every waiter at once; they only have to step out of Lock
    // before the events go away. That takes microseconds, so yielding is
    // cheaper than another event.
    while (m_waiters.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

bool CObjectLock::IsHeldByCurrentThread() const {
    return m_owner.load(std::memory_order_acquire) == platform::CurrentThreadId();
}

bool CObjectLock::Lock(uint32_t timeoutMs) {
    if (IsClosed() || !m_available.IsValid() || !m_closing.IsValid()) return false;
    const uint32_t self = platform::CurrentThreadId();
    if (m_owner.load(std::memory_order_acquire) == self) {
        ++m_recursion;
        return true;
    }
    m_waiters.fetch_add(1, std::memory_order_acq_rel);
    // Free and not closing: one read takes it, without a poll.
    if (m_available.TryAcquire()) {
        bool taken = !IsClosed();
        if (taken) {
            m_owner.store(self, std::memory_order_release);
            m_recursion = 1;
        } else {
            m_available.Set();
        }
        m_waiters.fetch_sub(1, std::memory_order_acq_rel);
        return taken;
    }
    // The closing event comes first: a lock that is being shut down fails
    // even when it happens to be free.
    platform::Waitable items[] = {platform::Waitable::Of(m_closing),
                                  platform::Waitable::Of(m_available)};
    const uint32_t result = WaitPumpingSends(items, 2, timeoutMs);
    bool taken = false;
    if (result == 1) {
        if (IsClosed()) {
            m_available.Set();  // hand the signal on; nobody may take it now
        } else {
            m_owner.store(self, std::memory_order_release);
            m_recursion = 1;
            taken = true;
        }
    }
    m_waiters.fetch_sub(1, std::memory_order_acq_rel);
    return taken;
}

void CObjectLock::Unlock() {
    if (m_owner.load(std::memory_order_acquire) != platform::CurrentThreadId()) return;
    if (--m_recursion != 0) return;
    m_owner.store(0, std::memory_order_release);
    m_available.Set();
}

void CObjectLock::Close() {
    m_closed.store(true, std::memory_order_release);
    m_closing.Set();
}
