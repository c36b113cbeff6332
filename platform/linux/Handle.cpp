#include "platform/Handle.h"

#include <unistd.h>

#include "platform/SysError.h"

namespace platform {

uint32_t OsHandle::Close() {
    if (!IsOpen()) return ERROR_SUCCESS;
    const int fd = Native();
    m_value = kNone;
    // The descriptor is gone even when close reports EINTR, so it is never
    // retried.
    return ::close(fd) == 0 ? ERROR_SUCCESS : SetLastErrorFromErrno();
}

}  // namespace platform
