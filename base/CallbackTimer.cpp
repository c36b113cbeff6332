#include "base/CallbackTimer.h"

#include "platform/Thread.h"

CCallbackTimer::CCallbackTimer(uint32_t id, uint32_t intervalMs, Callback callback, CObject* context,
                               IMessageWindow* window)
    : m_id(id),
      m_interval(intervalMs),
      m_callback(callback),
      m_context(context),
      m_window(window),
      m_state(std::make_shared<State>()) {
    m_state->owner = this;
}

CCallbackTimer::~CCallbackTimer() {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->alive = false;
    if (m_state->running && m_state->window) {
        m_state->window->KillTimer(reinterpret_cast<uintptr_t>(m_state.get()));
    }
    m_state->running = false;
    // A callback deleting its own timer must not wait for itself.
    const uint32_t self = platform::CurrentThreadId();
    m_state->idle.wait(lock, [&] {
        return m_state->callbacks == 0 || m_state->callingThread == self;
    });
}

bool CCallbackTimer::Start() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->running) return true;
    IMessageWindow* window = m_window ? m_window : CMessageWindow::Main();
    if (window == nullptr || m_callback == nullptr) return false;
    const uint64_t run = ++m_state->run;
    std::weak_ptr<State> weak = m_state;
    // The timer's identifier is the timer itself, as every timer object is
    // distinct while it lives.
    const bool set = window->SetTimer(reinterpret_cast<uintptr_t>(m_state.get()), m_interval,
                                      [weak, run](uintptr_t, uint32_t time) {
                                          if (auto state = weak.lock()) Fire(state, run, time);
                                      });
    if (!set) return false;
    m_state->window = window;
    m_state->running = true;
    return true;
}

void CCallbackTimer::Stop() {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!m_state->running) return;
    m_state->running = false;
    if (m_state->window) m_state->window->KillTimer(reinterpret_cast<uintptr_t>(m_state.get()));
}

bool CCallbackTimer::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->running;
}

void CCallbackTimer::Fire(const std::shared_ptr<State>& state, uint64_t run, uint32_t time) {
    CCallbackTimer* timer;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!state->alive || !state->running || state->run != run) return;
        state->running = false;  // one-shot: the callback may start it again
        ++state->callbacks;
        state->callingThread = platform::CurrentThreadId();
        timer = state->owner;
    }
    timer->m_callback(timer, time, timer->m_context);
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (--state->callbacks == 0) state->callingThread = 0;
    }
    state->idle.notify_all();
}
