// An open object of the system: a file descriptor on Linux, a HANDLE on
// Windows. A plain value: copying it does not duplicate the object, and
// nothing closes it but Close. Only platform/ makes one or looks inside.
#pragma once

#include <cstdint>

namespace platform {

class OsHandle {
public:
    constexpr OsHandle() = default;

    bool IsOpen() const { return m_value != kNone; }
    // Closes the object if open and leaves this empty. Returns 0 or the
    // error number of a failed close (the object is gone either way).
    uint32_t Close();

#ifdef _WIN32
    // Null and INVALID_HANDLE_VALUE both mean none.
    static OsHandle FromNative(void* handle) {
        OsHandle h;
        if (handle != nullptr && handle != reinterpret_cast<void*>(kNone)) h.m_value = reinterpret_cast<intptr_t>(handle);
        return h;
    }
    void* Native() const { return reinterpret_cast<void*>(m_value); }
#else
    // A negative descriptor means none.
    static OsHandle FromNative(int fd) {
        OsHandle h;
        if (fd >= 0) h.m_value = fd;
        return h;
    }
    int Native() const { return static_cast<int>(m_value); }
#endif

private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_value = kNone;
};

}  // namespace platform
