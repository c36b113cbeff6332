// CCallbackTimer: a one-shot timer with an id, an interval, a callback and
// a context, running as a timer of the main window, so its callback always
// runs on the main thread.
//
// Threads: Start and Stop may be called from any thread (a worker that sends
// a query starts its reply timer). The callback runs on the window's thread.
// After Stop returns the callback is not started again for that run; one
// that has already begun finishes. The destructor waits for a callback in
// progress on another thread, so an owner must not destroy a timer while
// holding a lock that its callback takes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "base/MessageWindow.h"
#include "base/Object.h"

class CCallbackTimer : public CObject {
public:
    KORVA_RUNTIME_CLASS(CCallbackTimer)

    using Callback = void (*)(CCallbackTimer* timer, uint32_t time, CObject* context);

    // `window` null: the process's main window at the time of Start.
    CCallbackTimer(uint32_t id, uint32_t intervalMs, Callback callback, CObject* context,
                   IMessageWindow* window = nullptr);
    ~CCallbackTimer() override;
    CCallbackTimer(const CCallbackTimer&) = delete;
    CCallbackTimer& operator=(const CCallbackTimer&) = delete;

    // Starting a running timer does nothing (true). False when no window
    // can take the timer.
    bool Start();
    // Stopping a stopped timer does nothing.
    void Stop();
    bool IsRunning() const;
    uint32_t GetId() const { return m_id; }
    uint32_t GetInterval() const { return m_interval; }

private:
    // Shared with the window's timer entry, so a timer that fires after
    // its object is gone finds it marked dead instead of freed.
    struct State {
        std::mutex mutex;
        std::condition_variable idle;
        CCallbackTimer* owner;
        bool alive = true;
        bool running = false;
        uint64_t run = 0;          // which Start the window's entry belongs to
        int callbacks = 0;         // callbacks in progress
        uint32_t callingThread = 0;
        IMessageWindow* window = nullptr;
    };
    static void Fire(const std::shared_ptr<State>& state, uint64_t run, uint32_t time);

    const uint32_t m_id;
    const uint32_t m_interval;
    const Callback m_callback;
    CObject* const m_context;
    IMessageWindow* const m_window;
    std::shared_ptr<State> m_state;
};
