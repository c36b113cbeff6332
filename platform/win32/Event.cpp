#include "platform/Event.h"

#include <vector>

#include "platform/win32/Win32.h"

namespace platform {

Event::Event(Mode mode, bool initiallySet) : m_mode(mode) {
    m_handle = ::CreateEventW(nullptr, mode == kManualReset, initiallySet, nullptr);
    if (m_handle == nullptr) win32::FailFromSystem();
}

Event::~Event() {
    if (m_handle != nullptr) ::CloseHandle(m_handle);
}

uint32_t Event::Set() {
    if (m_handle == nullptr) return ERROR_INVALID_HANDLE;
    return ::SetEvent(m_handle) ? 0 : win32::FailFromSystem();
}

uint32_t Event::Reset() {
    if (m_handle == nullptr) return ERROR_INVALID_HANDLE;
    return ::ResetEvent(m_handle) ? 0 : win32::FailFromSystem();
}

bool Event::TryAcquire() {
    // A zero wait consumes an auto-reset event and only tests a manual one.
    return m_handle != nullptr && ::WaitForSingleObject(m_handle, 0) == WAIT_OBJECT_0;
}

uint32_t WaitForAny(Waitable* items, size_t count, uint32_t timeoutMs) {
    // The system's wait already has the contract: the lowest signalled index
    // wins and only that event is consumed. Entries without an object (a
    // descriptor of -1) are left out and the index mapped back.
    if (items == nullptr || count == 0) {
        win32::Fail(ERROR_INVALID_PARAMETER);
        return kWaitFailed;
    }
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    size_t index[MAXIMUM_WAIT_OBJECTS];
    DWORD n = 0;
    for (size_t i = 0; i < count; ++i) {
        items[i].revents = 0;
        if (items[i].event == nullptr && items[i].native == -1) continue;
        if (items[i].event == nullptr || !items[i].event->IsValid()) {
            win32::Fail(ERROR_INVALID_HANDLE);
            return kWaitFailed;
        }
        if (n == MAXIMUM_WAIT_OBJECTS) {
            win32::Fail(ERROR_INVALID_PARAMETER);
            return kWaitFailed;
        }
        handles[n] = items[i].event->Handle();
        index[n++] = i;
    }
    if (n == 0) {
        ::Sleep(timeoutMs);
        return kWaitTimeout;
    }
    const DWORD r = ::WaitForMultipleObjects(n, handles, FALSE, timeoutMs);
    if (r < WAIT_OBJECT_0 + n) return static_cast<uint32_t>(index[r - WAIT_OBJECT_0]);
    if (r == WAIT_TIMEOUT) return kWaitTimeout;
    win32::FailFromSystem();
    return kWaitFailed;
}

uint32_t WaitForAny(std::initializer_list<Event*> events, uint32_t timeoutMs) {
    Waitable items[16];
    if (events.size() > 16) {
        win32::Fail(ERROR_INVALID_PARAMETER);
        return kWaitFailed;
    }
    size_t n = 0;
    for (Event* e : events) {
        if (e == nullptr) {
            win32::Fail(ERROR_INVALID_HANDLE);
            return kWaitFailed;
        }
        items[n++] = Waitable::Of(*e);
    }
    return WaitForAny(items, n, timeoutMs);
}

uint32_t WaitFor(Event& event, uint32_t timeoutMs) {
    Waitable item = Waitable::Of(event);
    return WaitForAny(&item, 1, timeoutMs);
}

}  // namespace platform
