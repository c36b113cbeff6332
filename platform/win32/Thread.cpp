#include "platform/Thread.h"

#include "platform/win32/Win32.h"

namespace platform {

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

Thread::~Thread() { Join(kInfinite); }

uint32_t Thread::Start(Procedure procedure, Priority priority) {
    if (m_thread.joinable() || m_joined) return ERROR_ACCESS_DENIED;
    if (!procedure || !m_finished.IsValid() || !m_started.IsValid()) return ERROR_INVALID_PARAMETER;
    try {
        m_thread = std::thread([this, procedure = std::move(procedure), priority]() {
            m_id.store(CurrentThreadId(), std::memory_order_release);
            if (priority == Priority::kAboveNormal) {
                // A hint, as on every system: a refused raise is no failure.
                ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
            }
            m_started.Set();
            m_exitCode = procedure();
            m_finished.Set();
        });
    } catch (const std::system_error&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // The id is published by the thread itself; wait so callers can use it.
    WaitFor(m_started, kInfinite);
    return 0;
}

}  // namespace platform
