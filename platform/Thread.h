// Threads with a priority hint and their identifiers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/Event.h"

namespace platform {

// The kernel id of the calling thread (what log entries show).
uint32_t CurrentThreadId();

// A worker thread running one procedure that returns an exit code.
// Thread: one owner starts, waits and joins; Id/Finished from any thread.
class Thread {
public:
    enum class Priority { kNormal, kAboveNormal };
    using Procedure = std::function<uint32_t()>;

    Thread() = default;
    // Waits for the thread without limit if it was started and not joined.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the thread. The priority is a hint: raising it needs a
    // privilege that a desktop user rarely has, and the program works
    // without it, so a refused raise is not a failure. Returns 0, or an
    // error number (ERROR_ACCESS_DENIED if already started).
    uint32_t Start(Procedure procedure, Priority priority = Priority::kNormal);
    bool IsStarted() const { return m_thread.joinable() || m_joined; }
    // Kernel thread id; valid once Start has returned 0.
    uint32_t Id() const { return m_id.load(std::memory_order_acquire); }
    // Manual-reset event set when the procedure has returned.
    Event& Finished() { return m_finished; }
    // Waits up to `timeoutMs` for the procedure to return, then joins.
    // True when the thread has ended (or was never started).
    bool Join(uint32_t timeoutMs = kInfinite);
    // The procedure's return value; valid after it has finished.
    uint32_t ExitCode() const { return m_exitCode.load(std::memory_order_acquire); }
    bool IsCurrent() const { return Id() != 0 && Id() == CurrentThreadId(); }

private:
    std::thread m_thread;
    Event m_finished{Event::kManualReset, false};
    Event m_started{Event::kManualReset, false};
    std::atomic<uint32_t> m_id{0};
    std::atomic<uint32_t> m_exitCode{0};
    bool m_joined = false;
};

}  // namespace platform
