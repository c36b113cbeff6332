#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/SysError.h"

namespace platform {

namespace {

uint32_t Fail(uint32_t code) {
    SetLastError(code);
    return code;
}

uint32_t FailFromErrno() {
    return SetLastErrorFromErrno();
}

// A name that stays inside its directory: no separators, no dot entries.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

std::string TempDirectory() {
    for (const char* name : {"TEMP", "TMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return value;
    }
    return "/tmp";
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

// --- PrivateDirectory --------------------------------------------------------

PrivateDirectory::~PrivateDirectory() {
    Close();
}

uint32_t PrivateDirectory::OpenOrCreate(const std::string& path) {
    if (IsOpen()) return Fail(ERROR_ACCESS_DENIED);
    if (path.empty()) return Fail(ERROR_INVALID_PARAMETER);

    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        // A missing parent is a missing path, not a missing file.
        if (errno == ENOENT) return Fail(ERROR_PATH_NOT_FOUND);
        return FailFromErrno();
    }

    // Whether we just made it or found it, the checks run on the opened
    // descriptor, so what is checked is what later calls work in. Someone
    // else may have created the name first in a shared temporary directory.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // ELOOP: the name is a symbolic link; ENOTDIR: it is no directory.
        if (errno == ELOOP || errno == ENOTDIR) return Fail(ERROR_ACCESS_DENIED);
        return FailFromErrno();
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const uint32_t code = FailFromErrno();
        ::close(fd);
        return code;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        ::close(fd);
        return Fail(ERROR_ACCESS_DENIED);
    }
    m_handle = OsHandle::FromNative(fd);
    m_path = path;
    return ERROR_SUCCESS;
}

void PrivateDirectory::Close() {
    m_handle.Close();
}

uint32_t PrivateDirectory::RemoveIfEmpty() {
    // The path is kept after Close so that the directory can be removed once
    // everything in it is closed.
    if (m_path.empty()) return Fail(ERROR_NOACCESS);
    if (::rmdir(m_path.c_str()) != 0) {
        // POSIX lets rmdir report a non-empty directory as EEXIST too.
        if (errno == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
        return FailFromErrno();
    }
    Close();
    return ERROR_SUCCESS;
}

// --- PrivateFile ---------------------------------------------------------------

PrivateFile::~PrivateFile() {
    Close();
}

uint32_t PrivateFile::Create(const PrivateDirectory& dir, const std::string& name) {
    if (IsOpen()) return Fail(ERROR_ACCESS_DENIED);
    if (!dir.IsOpen()) return Fail(ERROR_INVALID_PARAMETER);
    if (!IsPlainName(name)) return Fail(ERROR_INVALID_NAME);

    // No O_TRUNC here: a file that another writer holds must be refused
    // untouched, so it is emptied only once the lock is ours.
    const int fd = ::openat(dir.Handle().Native(), name.c_str(),
                            O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == ELOOP) return Fail(ERROR_ACCESS_DENIED);
        return FailFromErrno();
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const uint32_t code = FailFromErrno();
        ::close(fd);
        return code;
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return Fail(ERROR_ACCESS_DENIED);
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const uint32_t code =
            (errno == EWOULDBLOCK) ? Fail(ERROR_SHARING_VIOLATION) : FailFromErrno();
        ::close(fd);
        return code;
    }
    if (::ftruncate(fd, 0) != 0) {
        const uint32_t code = FailFromErrno();
        ::close(fd);
        return code;
    }
    m_handle = OsHandle::FromNative(fd);
    m_name = name;
    return ERROR_SUCCESS;
}

uint32_t PrivateFile::Append(const void* data, size_t length) {
    if (!IsOpen()) return Fail(ERROR_NOACCESS);
    if (length == 0) return ERROR_SUCCESS;
    if (data == nullptr) return Fail(ERROR_INVALID_PARAMETER);

    // O_APPEND puts every write at the current end, even if the file was
    // written through another descriptor in between.
    const char* p = static_cast<const char*>(data);
    size_t left = length;
    while (left > 0) {
        const ssize_t n = ::write(m_handle.Native(), p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return FailFromErrno();
        }
        if (n == 0) return Fail(ERROR_WRITE_FAULT);
        p += n;
        left -= static_cast<size_t>(n);
    }
    return ERROR_SUCCESS;
}

uint32_t PrivateFile::Flush() {
    if (!IsOpen()) return Fail(ERROR_NOACCESS);
    int rc;
    do {
        rc = ::fdatasync(m_handle.Native());
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? ERROR_SUCCESS : FailFromErrno();
}

void PrivateFile::Close() {
    m_handle.Close();
}

uint32_t PrivateFile::Delete(const PrivateDirectory& dir) {
    // The name is kept after Close: the usual order is close, then decide
    // whether the file is worth keeping.
    if (m_name.empty()) return Fail(ERROR_NOACCESS);
    if (!dir.IsOpen()) return Fail(ERROR_INVALID_PARAMETER);
    if (::unlinkat(dir.Handle().Native(), m_name.c_str(), 0) != 0) return FailFromErrno();
    Close();
    return ERROR_SUCCESS;
}

}  // namespace platform
