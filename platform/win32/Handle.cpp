#include "platform/Handle.h"

#include "platform/win32/Win32.h"

namespace platform {

uint32_t OsHandle::Close() {
    if (!IsOpen()) return ERROR_SUCCESS;
    const HANDLE h = Native();
    m_value = kNone;
    return ::CloseHandle(h) ? ERROR_SUCCESS : win32::FailFromSystem();
}

}  // namespace platform
