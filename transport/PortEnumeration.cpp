#include "transport/PortEnumeration.h"

#include "base/Wait.h"

platform::Thread* CPortEnumeration::Start(std::function<uint32_t()> procedure) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bRunning.load(std::memory_order_acquire)) return m_pThread.get();
    // The previous run has marked itself ended; it only has to return.
    if (m_pThread) m_pThread->Join();
    m_pThread = std::make_unique<platform::Thread>();
    m_bRunning.store(true, std::memory_order_release);
    const uint32_t result = m_pThread->Start([this, procedure = std::move(procedure)] {
        const uint32_t exitCode = procedure();
        // The thread "clears the recorded handle" as its last step.
        m_bRunning.store(false, std::memory_order_release);
        return exitCode;
    });
    if (result != 0) {
        m_bRunning.store(false, std::memory_order_release);
        m_pThread.reset();
        return nullptr;
    }
    m_dwThreadId.store(m_pThread->Id(), std::memory_order_release);
    return m_pThread.get();
}

void CPortEnumeration::WaitAndClose() {
    std::unique_ptr<platform::Thread> thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        thread = std::move(m_pThread);
    }
    if (!thread) return;
    // Without limit: the listing ends by itself, and the object it reports to
    // must outlive it.
    WaitPumpingSends(thread->Finished(), platform::kInfinite);
    thread->Join();
    m_bRunning.store(false, std::memory_order_release);
}
