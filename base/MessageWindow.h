// The message-window seam: how worker threads reach the main window.
//
// Workers never touch a window. They send (blocking until the window's
// thread has handled the message) or post numbered messages to it, and
// timers run on the window's thread. CMessageWindow is the one
// implementation of that queue; the Qt main window drives it from Qt's
// event loop (a wake callback + DispatchPending), headless front ends and tests
// pump it themselves, so message order and timer behaviour are the same
// with and without a window.
//
// Threads: SendMsg, PostMsg, SetTimer and KillTimer may be called
// from any thread. Everything else, and every handler and timer callback,
// runs on the owner thread (the thread that constructed the window).
// m_mutex guards the queues and the timer table; no handler or callback is
// ever called with it held.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Event.h"
#include "platform/Win32Types.h"

// Called on the window's thread with the timer id and the tick count.
using TimerCallback = std::function<void(uintptr_t id, uint32_t time)>;

class IMessageWindow {
public:
    virtual ~IMessageWindow() = default;
    // From the owner thread the handler is called directly; from any other
    // thread the call blocks until the owner has handled the message.
    // Returns the handler's result, or 0 when the window is closed.
    virtual LRESULT SendMsg(uint32_t msg, WPARAM wParam = 0, LPARAM lParam = 0) = 0;
    // Queues the message and returns at once. False when closed.
    virtual bool PostMsg(uint32_t msg, WPARAM wParam = 0, LPARAM lParam = 0) = 0;
    // Starts (or restarts) the one-shot timer `id`. False when closed.
    virtual bool SetTimer(uintptr_t id, uint32_t intervalMs, TimerCallback callback) = 0;
    // Removes timer `id` if it has not fired yet.
    virtual bool KillTimer(uintptr_t id) = 0;
    virtual bool IsOwnerThread() const = 0;
};

class CMessageWindow : public IMessageWindow {
public:
    using Handler = std::function<LRESULT(uint32_t msg, WPARAM wParam, LPARAM lParam)>;

    explicit CMessageWindow(Handler handler = {});
    // Owner thread only. Closes the window first (see Close).
    ~CMessageWindow() override;
    CMessageWindow(const CMessageWindow&) = delete;
    CMessageWindow& operator=(const CMessageWindow&) = delete;

    // Owner thread; set before any message can arrive.
    void SetHandler(Handler handler);

    LRESULT SendMsg(uint32_t msg, WPARAM wParam = 0, LPARAM lParam = 0) override;
    bool PostMsg(uint32_t msg, WPARAM wParam = 0, LPARAM lParam = 0) override;
    bool SetTimer(uintptr_t id, uint32_t intervalMs, TimerCallback callback) override;
    bool KillTimer(uintptr_t id) override;
    bool IsOwnerThread() const override;

    // Refuses every later message; senders still waiting get 0; posted
    // messages not yet handled and timers are dropped. Owner thread.
    void Close();
    bool IsClosed() const;

    // --- pumping, owner thread only ---
    // Handles every message sent so far. True if there was one.
    bool DispatchSentMessages();
    // Handles sent messages, then the posted messages queued so far, then
    // the timers that are due. Returns how many were handled.
    size_t DispatchPending();
    // Milliseconds until the next timer is due (0 if one is due now),
    // platform::kInfinite when no timer runs.
    uint32_t NextTimerDueMs() const;
    // Called whenever something arrives (send, post, timer change), on the
    // arriving thread with no lock of this window held, so that an event
    // loop can queue a DispatchPending on the owner thread. It must not block
    // or call into this window. Set and cleared on the owner thread; clearing
    // waits for a call in progress, so the callback's target may go after.
    void SetWakeCallback(std::function<void()> callback);
    // Waits for work and handles it until `done()` is true or `timeoutMs`
    // has passed. Returns done(). done() is checked after each round of
    // dispatching, so it should turn true through something this window
    // handles (a message, a timer); other changes are seen at the latest
    // when the time-out ends the wait.
    bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs);
    // Handles messages and timers for `ms` milliseconds.
    void PumpFor(uint32_t ms);

    // The windows the calling thread owns (most recent last), used by
    // WaitPumpingSends; the process's main window, used by timers that
    // are not given a window of their own.
    static CMessageWindow* ForCurrentThread();
    static IMessageWindow* Main();
    static void SetMain(IMessageWindow* window);

    // Lets WaitPumpingSends watch for sends.
    platform::Event& SendEvent() { return m_sendEvent; }

private:
    struct SentMessage {
        uint32_t msg;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT result = 0;
        bool done = false;
    };
    struct PostedMessage {
        uint32_t msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    struct Timer {
        uint32_t due;  // tick count
        TimerCallback callback;
    };

    LRESULT CallHandler(uint32_t msg, WPARAM wParam, LPARAM lParam);
    // Runs the wake callback; m_mutex must not be held.
    void CallWakeCallback();

    const uint32_t m_ownerThread;
    Handler m_handler;  // owner thread only
    mutable std::mutex m_mutex;
    std::condition_variable m_sendDone;
    std::deque<std::shared_ptr<SentMessage>> m_sent;  // guarded by m_mutex
    std::deque<PostedMessage> m_posted;               // guarded by m_mutex
    std::map<uintptr_t, Timer> m_timers;              // guarded by m_mutex
    bool m_closed = false;                            // guarded by m_mutex
    platform::Event m_sendEvent{platform::Event::kAutoReset};
    platform::Event m_wakeEvent{platform::Event::kAutoReset};
    // Guards m_wakeCallback; taken after m_mutex is released, never with it.
    std::mutex m_wakeMutex;
    std::function<void()> m_wakeCallback;
};
