#include "platform/Thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/SysError.h"

namespace platform {

uint32_t CurrentThreadId() {
    static thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
    return id;
}

Thread::~Thread() { Join(kInfinite); }

uint32_t Thread::Start(Procedure procedure, Priority priority) {
    if (m_thread.joinable() || m_joined) return ERROR_ACCESS_DENIED;
    if (!procedure || !m_finished.IsValid() || !m_started.IsValid()) return ERROR_INVALID_PARAMETER;
    try {
        m_thread = std::thread([this, procedure = std::move(procedure), priority]() {
            const uint32_t tid = CurrentThreadId();
            m_id.store(tid, std::memory_order_release);
            if (priority == Priority::kAboveNormal) {
                // A hint: without CAP_SYS_NICE the raise is refused and the
                // thread simply runs at normal priority.
                ::setpriority(PRIO_PROCESS, tid, -5);
            }
            m_started.Set();
            m_exitCode = procedure();
            m_finished.Set();
        });
    } catch (const std::system_error& e) {
        return ErrorFromErrno(e.code().value());
    }
    // The id is published by the thread itself; wait so callers can use it.
    WaitFor(m_started, kInfinite);
    return 0;
}

}  // namespace platform
