#include "platform/Thread.h"

// The part both systems share.
namespace platform {

bool Thread::Join(uint32_t timeoutMs) {
    if (!m_thread.joinable()) return true;
    if (m_thread.get_id() == std::this_thread::get_id()) return false;  // never waits on itself
    if (WaitFor(m_finished, timeoutMs) != 0) return false;
    m_thread.join();
    m_joined = true;
    return true;
}

}  // namespace platform
