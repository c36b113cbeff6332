#include "base/MessageWindow.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "base/Wait.h"
#include "platform/Clock.h"
#include "platform/Thread.h"

namespace {

thread_local std::vector<CMessageWindow*> t_ownedWindows;
std::atomic<IMessageWindow*> g_mainWindow{nullptr};

// Remaining time of a wait that started at `start`.
uint32_t Remaining(uint32_t timeoutMs, uint32_t start) {
    if (timeoutMs == platform::kInfinite) return platform::kInfinite;
    const uint32_t elapsed = platform::GetTickCount() - start;
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

}  // namespace

CMessageWindow::CMessageWindow(Handler handler)
    : m_ownerThread(platform::CurrentThreadId()), m_handler(std::move(handler)) {
    t_ownedWindows.push_back(this);
}

CMessageWindow::~CMessageWindow() {
    Close();
    auto& owned = t_ownedWindows;
    owned.erase(std::remove(owned.begin(), owned.end(), this), owned.end());
    IMessageWindow* self = this;
    g_mainWindow.compare_exchange_strong(self, nullptr);
}

void CMessageWindow::SetHandler(Handler handler) { m_handler = std::move(handler); }

bool CMessageWindow::IsOwnerThread() const { return platform::CurrentThreadId() == m_ownerThread; }

LRESULT CMessageWindow::CallHandler(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    return m_handler ? m_handler(msg, wParam, lParam) : 0;
}

LRESULT CMessageWindow::SendMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (IsOwnerThread()) {
        if (IsClosed()) return 0;
        return CallHandler(msg, wParam, lParam);
    }
    auto sent = std::make_shared<SentMessage>(SentMessage{msg, wParam, lParam});
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_closed) return 0;
    m_sent.push_back(sent);
    m_sendEvent.Set();
    m_wakeEvent.Set();
    lock.unlock();
    CallWakeCallback();
    lock.lock();
    // Blocks until the owner has handled it or the window closes; the owner
    // handles sends even while it waits for locks or threads.
    m_sendDone.wait(lock, [&] { return sent->done; });
    return sent->result;
}

bool CMessageWindow::PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) return false;
        m_posted.push_back(PostedMessage{msg, wParam, lParam});
        m_wakeEvent.Set();
    }
    CallWakeCallback();
    return true;
}

bool CMessageWindow::SetTimer(uintptr_t id, uint32_t intervalMs, TimerCallback callback) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed || !callback) return false;
        m_timers[id] = Timer{platform::GetTickCount() + intervalMs, std::move(callback)};
        m_wakeEvent.Set();
    }
    CallWakeCallback();
    return true;
}

void CMessageWindow::SetWakeCallback(std::function<void()> callback) {
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    m_wakeCallback = std::move(callback);
}

void CMessageWindow::CallWakeCallback() {
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    if (m_wakeCallback) m_wakeCallback();
}

bool CMessageWindow::KillTimer(uintptr_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_timers.erase(id) != 0;
}

void CMessageWindow::Close() {
    std::deque<std::shared_ptr<SentMessage>> released;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) return;
        m_closed = true;
        released.swap(m_sent);
        for (auto& s : released) {
            s->result = 0;
            s->done = true;
        }
        m_posted.clear();
        m_timers.clear();
    }
    m_sendDone.notify_all();
}

bool CMessageWindow::IsClosed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

bool CMessageWindow::DispatchSentMessages() {
    bool any = false;
    for (;;) {
        std::shared_ptr<SentMessage> sent;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_sent.empty()) break;
            sent = m_sent.front();
            m_sent.pop_front();
        }
        any = true;
        const LRESULT result = CallHandler(sent->msg, sent->wParam, sent->lParam);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            sent->result = result;
            sent->done = true;
        }
        m_sendDone.notify_all();
    }
    return any;
}

size_t CMessageWindow::DispatchPending() {
    m_wakeEvent.TryAcquire();
    size_t handled = 0;
    if (DispatchSentMessages()) ++handled;
    // Only the messages queued so far: a handler that posts again must not
    // keep this call from returning.
    size_t posted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        posted = m_posted.size();
    }
    for (size_t i = 0; i < posted; ++i) {
        PostedMessage message;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_posted.empty()) break;
            message = m_posted.front();
            m_posted.pop_front();
        }
        CallHandler(message.msg, message.wParam, message.lParam);
        ++handled;
        DispatchSentMessages();
    }
    // Due timers fire once each, the longest overdue first (a pump held up
    // past several due times must not fire them in id order); a callback
    // may start its timer again.
    struct DueTimer {
        int32_t overdue;
        uintptr_t id;
        TimerCallback callback;
    };
    std::vector<DueTimer> due;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uint32_t now = platform::GetTickCount();
        for (auto it = m_timers.begin(); it != m_timers.end();) {
            const int32_t overdue = static_cast<int32_t>(now - it->second.due);
            if (overdue >= 0) {
                due.push_back({overdue, it->first, std::move(it->second.callback)});
                it = m_timers.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::stable_sort(due.begin(), due.end(),
                     [](const DueTimer& a, const DueTimer& b) { return a.overdue > b.overdue; });
    for (auto& timer : due) {
        timer.callback(timer.id, platform::GetTickCount());
        ++handled;
    }
    return handled;
}

uint32_t CMessageWindow::NextTimerDueMs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_timers.empty()) return platform::kInfinite;
    const uint32_t now = platform::GetTickCount();
    int32_t best = INT32_MAX;
    for (const auto& [id, timer] : m_timers) best = std::min(best, static_cast<int32_t>(timer.due - now));
    return best <= 0 ? 0 : static_cast<uint32_t>(best);
}

bool CMessageWindow::PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    const uint32_t start = platform::GetTickCount();
    for (;;) {
        DispatchPending();
        if (done()) return true;
        const uint32_t left = Remaining(timeoutMs, start);
        if (left == 0) return done();
        // Sleeps until a message arrives or the next timer is due.
        const uint32_t wait = std::min(left, NextTimerDueMs());
        platform::WaitFor(m_wakeEvent, wait);
    }
}

void CMessageWindow::PumpFor(uint32_t ms) {
    PumpUntil([] { return false; }, ms);
}

CMessageWindow* CMessageWindow::ForCurrentThread() {
    return t_ownedWindows.empty() ? nullptr : t_ownedWindows.back();
}

IMessageWindow* CMessageWindow::Main() { return g_mainWindow.load(std::memory_order_acquire); }

void CMessageWindow::SetMain(IMessageWindow* window) {
    g_mainWindow.store(window, std::memory_order_release);
}

uint32_t WaitPumpingSends(platform::Waitable* items, size_t count, uint32_t timeoutMs) {
    CMessageWindow* window = CMessageWindow::ForCurrentThread();
    if (window == nullptr) return platform::WaitForAny(items, count, timeoutMs);
    std::vector<platform::Waitable> all(items, items + count);
    all.push_back(platform::Waitable::Of(window->SendEvent()));
    const uint32_t start = platform::GetTickCount();
    for (;;) {
        const uint32_t result = platform::WaitForAny(all.data(), all.size(), Remaining(timeoutMs, start));
        if (result != count) {
            for (size_t i = 0; i < count; ++i) items[i].revents = all[i].revents;
            return result;
        }
        window->DispatchSentMessages();
    }
}

uint32_t WaitPumpingSends(platform::Event& event, uint32_t timeoutMs) {
    platform::Waitable item = platform::Waitable::Of(event);
    return WaitPumpingSends(&item, 1, timeoutMs);
}
