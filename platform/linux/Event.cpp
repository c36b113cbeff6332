#include "platform/Event.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

#include "platform/Clock.h"
#include "platform/Sanitizer.h"
#include "platform/SysError.h"

namespace platform {

Event::Event(Mode mode, bool initiallySet) : m_mode(mode) {
    m_fd = ::eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_fd < 0) SetLastErrorFromErrno();
}

Event::~Event() {
    if (m_fd >= 0) ::close(m_fd);
}

uint32_t Event::Set() {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    const uint64_t one = 1;
    HappensBefore(this);
    // EAGAIN means the counter is saturated, which still reads as "set".
    if (::write(m_fd, &one, sizeof one) < 0 && errno != EAGAIN) return SetLastErrorFromErrno();
    return 0;
}

uint32_t Event::Reset() {
    if (m_fd < 0) return ERROR_INVALID_HANDLE;
    uint64_t value;
    if (::read(m_fd, &value, sizeof value) < 0 && errno != EAGAIN) return SetLastErrorFromErrno();
    return 0;
}

bool Event::TryAcquire() {
    if (m_fd < 0) return false;
    bool acquired;
    if (m_mode == kManualReset) {
        pollfd p{m_fd, POLLIN, 0};
        acquired = ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
    } else {
        // Reading the counter is atomic: of several waiters woken together
        // only one gets the signal, the others go back to waiting.
        uint64_t value;
        acquired = ::read(m_fd, &value, sizeof value) == sizeof value;
    }
    if (acquired) HappensAfter(this);
    return acquired;
}

namespace {

int RemainingMs(uint32_t timeoutMs, uint32_t start) {
    if (timeoutMs == kInfinite) return -1;
    const uint32_t elapsed = GetTickCount() - start;
    return elapsed >= timeoutMs ? 0 : static_cast<int>(timeoutMs - elapsed);
}

}  // namespace

uint32_t WaitForAny(Waitable* items, size_t count, uint32_t timeoutMs) {
    if (items == nullptr || count == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kWaitFailed;
    }
    pollfd small[8];
    std::vector<pollfd> large;
    pollfd* fds = small;
    if (count > 8) {
        large.resize(count);
        fds = large.data();
    }
    for (size_t i = 0; i < count; ++i) {
        if (items[i].event) {
            if (!items[i].event->IsValid()) {
                SetLastError(ERROR_INVALID_HANDLE);
                return kWaitFailed;
            }
            fds[i] = pollfd{items[i].event->Fd(), POLLIN, 0};
        } else {
            fds[i] = pollfd{static_cast<int>(items[i].native), items[i].events, 0};
        }
        items[i].revents = 0;
    }
    const uint32_t start = GetTickCount();
    for (;;) {
        const int rc = ::poll(fds, count, RemainingMs(timeoutMs, start));
        if (rc < 0) {
            if (errno == EINTR) continue;
            SetLastErrorFromErrno();
            return kWaitFailed;
        }
        if (rc == 0) {
            if (RemainingMs(timeoutMs, start) == 0) return kWaitTimeout;
            continue;
        }
        for (size_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (items[i].event == nullptr) {
                if (fds[i].revents & POLLNVAL) {
                    SetLastError(ERROR_INVALID_HANDLE);
                    return kWaitFailed;
                }
                items[i].revents = fds[i].revents;
                return static_cast<uint32_t>(i);
            }
            // Another waiter may have taken an auto-reset signal between the
            // poll and here; then look further and, failing all, poll again.
            if (items[i].event->TryAcquire()) return static_cast<uint32_t>(i);
        }
        if (RemainingMs(timeoutMs, start) == 0 && timeoutMs != kInfinite) return kWaitTimeout;
    }
}

uint32_t WaitForAny(std::initializer_list<Event*> events, uint32_t timeoutMs) {
    Waitable items[16];
    if (events.size() > 16) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kWaitFailed;
    }
    size_t n = 0;
    for (Event* e : events) {
        if (e == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
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
