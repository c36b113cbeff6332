#include "platform/NewFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SysError.h"

namespace platform {

NewFile::~NewFile() { Close(); }

uint32_t NewFile::CreateReplacing(const std::string& path) {
    Close();
    if (path.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    // A file left behind is replaced, not reused: whatever it is, and
    // whoever may still hold it open, the new file is ours alone.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return SetLastErrorFromErrno();
    m_handle = OsHandle::FromNative(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!m_handle.IsOpen()) return SetLastErrorFromErrno();
    m_path = path;
    return 0;
}

uint32_t NewFile::Write(const void* data, size_t length, size_t& written) {
    written = 0;
    if (!m_handle.IsOpen()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ERROR_INVALID_HANDLE;
    }
    ssize_t n;
    do {
        n = ::write(m_handle.Native(), data, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return SetLastErrorFromErrno();
    written = static_cast<size_t>(n);
    return 0;
}

// The loader maps the file through this descriptor, which writing does not
// hinder.
uint32_t NewFile::FinishWriting() {
    if (!m_handle.IsOpen()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ERROR_INVALID_HANDLE;
    }
    return 0;
}

bool NewFile::StillNamesThisFile() const {
    if (!m_handle.IsOpen()) return false;
    struct stat mine {}, named {};
    return ::fstat(m_handle.Native(), &mine) == 0 && ::lstat(m_path.c_str(), &named) == 0 &&
           mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

uint32_t NewFile::Remove() {
    if (!StillNamesThisFile()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return ERROR_FILE_NOT_FOUND;
    }
    if (::unlink(m_path.c_str()) != 0) return SetLastErrorFromErrno();
    return 0;
}

void NewFile::Close() {
    m_handle.Close();
}

}  // namespace platform
