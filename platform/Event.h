// Events and waiting.
//
// Auto-reset and manual-reset events (eventfd on Linux, event objects on
// Windows), and a wait for any of N waitables in priority order (the lowest
// index that is ready wins) with a time-out. A waitable is an event or an
// object of the system that only this layer builds (a port's descriptor on
// Linux), so a thread can wait for its own requests and for its device at
// once.
// Thread: Set/Reset from any thread; any number of threads may wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr uint32_t kWaitTimeout = 258;        // WAIT_TIMEOUT
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;  // WAIT_FAILED; see GetLastError()

class Event {
public:
    enum Mode { kAutoReset, kManualReset };

    explicit Event(Mode mode, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False if the event could not be created (last error tells why).
#ifdef _WIN32
    bool IsValid() const { return m_handle != nullptr; }
#else
    bool IsValid() const { return m_fd >= 0; }
#endif
    Mode GetMode() const { return m_mode; }
    // Signals the event. Returns 0 or an error number.
    uint32_t Set();
    // Clears the event. Returns 0 or an error number.
    uint32_t Reset();
    // Manual reset: whether it is set. Auto reset: takes the signal if it
    // is set (as a zero time-out wait would).
    bool TryAcquire();
    // What another library's notification call takes (D2XX's
    // FT_SetEventNotification): the eventfd on Linux, the event's HANDLE on
    // Windows. Never read or written by others.
#ifdef _WIN32
    void* NotificationHandle() const { return m_handle; }
    // The event object's HANDLE, for the waits of this layer.
    void* Handle() const { return m_handle; }
#else
    void* NotificationHandle() const { return reinterpret_cast<void*>(static_cast<intptr_t>(m_fd)); }
    // The eventfd, readable while the event is set: for this layer's waits
    // and the stop signal's watcher.
    int Fd() const { return m_fd; }
#endif

private:
    Mode m_mode;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

// One entry of a wait: an event, or a system object that this layer's
// ports make (platform/linux/Descriptor.h: a descriptor with poll() bits).
// On Windows only events wait; an entry of neither kind is never ready and
// any other system object fails the wait with ERROR_INVALID_HANDLE.
struct Waitable {
    Event* event = nullptr;
    intptr_t native = -1;  // the system object; -1: none
    short events = 0;      // what counts as ready, in the system's bits
    short revents = 0;     // out: what the system reported for it

    static Waitable Of(Event& e) { return Waitable{&e, -1, 0, 0}; }
    // An entry that is never ready: keeps a slot of a fixed list free.
    static Waitable Never() { return Waitable{}; }
};

// Waits until one of `items` is ready and returns its index; the lowest
// ready index wins. An auto-reset event is consumed only when its index is
// returned. A descriptor is ready when poll() reports any bit for it
// (including POLLHUP/POLLERR); its revents are filled in. Returns
// kWaitTimeout after `timeoutMs` (kInfinite: no limit) and kWaitFailed on
// failure (last error set; an invalid event fails the wait with
// ERROR_INVALID_HANDLE).
uint32_t WaitForAny(Waitable* items, size_t count, uint32_t timeoutMs);
uint32_t WaitForAny(std::initializer_list<Event*> events, uint32_t timeoutMs);
// Waits for one event.
uint32_t WaitFor(Event& event, uint32_t timeoutMs);

}  // namespace platform
