// CPortEnumeration: the one port enumeration thread a port interface may
// have running at a time.
//
// A second start while the thread runs returns the running thread and starts
// nothing. The thread marks itself ended as its last step; the interface
// joins it on the next start or when it is destroyed.
// Thread: Start and WaitAndClose on the owner's threads (the search timer on
// the main thread, the destructor); m_mutex guards m_pThread and is never
// held while waiting for a thread that still runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/Thread.h"

class CPortEnumeration {
public:
    CPortEnumeration() = default;
    ~CPortEnumeration() { WaitAndClose(); }
    CPortEnumeration(const CPortEnumeration&) = delete;
    CPortEnumeration& operator=(const CPortEnumeration&) = delete;

    // Starts `procedure` on a new thread unless one is recorded. Returns the
    // recorded thread (valid until the next start or WaitAndClose), or null
    // if the thread could not be started.
    platform::Thread* Start(std::function<uint32_t()> procedure);
    // Whether a thread is recorded (started and not yet at its end).
    bool IsRunning() const { return m_bRunning.load(std::memory_order_acquire); }
    uint32_t ThreadId() const { return m_dwThreadId.load(std::memory_order_acquire); }
    // Waits without limit for a recorded thread and releases it. On a thread
    // that owns a message window, sent messages are handled meanwhile: the
    // enumeration may be reporting a port to a handler that sends to it.
    void WaitAndClose();

private:
    std::mutex m_mutex;
    std::unique_ptr<platform::Thread> m_pThread;  // guarded by m_mutex
    std::atomic<bool> m_bRunning{false};
    std::atomic<uint32_t> m_dwThreadId{0};
};
