#include "platform/SharedLibrary.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SysError.h"

namespace platform {

namespace {

uint32_t Fail(uint32_t code) {
    SetLastError(code);
    return code;
}

// The loader's last message, or an empty text when it has none.
std::string TakeLoaderMessage() {
    const char* message = ::dlerror();
    return message != nullptr ? message : "";
}

}  // namespace

SharedLibrary::~SharedLibrary() {
    Free();
}

uint32_t SharedLibrary::Load(const std::string& path) {
    if (IsLoaded()) return Fail(ERROR_ACCESS_DENIED);
    m_message.clear();
    if (path.empty()) return Fail(ERROR_INVALID_PARAMETER);

    // Without a slash dlopen would search the system's library paths; the
    // program means the file in its current directory and nothing else.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;

    // dlopen says only "failed" in a text meant for people; the file system
    // tells a missing file from one that is there but cannot be loaded.
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return Fail(ERROR_MOD_NOT_FOUND);
        return SetLastErrorFromErrno();
    }
    if (!S_ISREG(st.st_mode)) return Fail(ERROR_BAD_EXE_FORMAT);
    if (::access(file.c_str(), R_OK) != 0) return SetLastErrorFromErrno();

    m_handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        m_message = TakeLoaderMessage();
        return Fail(ERROR_BAD_EXE_FORMAT);
    }
    return ERROR_SUCCESS;
}

uint32_t SharedLibrary::LoadFromDescriptor(int fd) {
    if (IsLoaded()) return Fail(ERROR_ACCESS_DENIED);
    m_message.clear();
    if (fd < 0) return Fail(ERROR_INVALID_HANDLE);

    struct stat st {};
    if (::fstat(fd, &st) != 0) return SetLastErrorFromErrno();
    if (!S_ISREG(st.st_mode)) return Fail(ERROR_BAD_EXE_FORMAT);

    // The loader takes names only; this name resolves to the open file
    // itself, not to whatever its original path points at by now.
    const std::string file = "/proc/self/fd/" + std::to_string(fd);
    m_handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        m_message = TakeLoaderMessage();
        return Fail(ERROR_BAD_EXE_FORMAT);
    }
    return ERROR_SUCCESS;
}

void* SharedLibrary::Symbol(const char* name) const {
    if (!IsLoaded()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (name == nullptr || name[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ::dlerror();  // a null result is only an error if dlerror says so
    void* address = ::dlsym(m_handle, name);
    if (address == nullptr && ::dlerror() != nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
    return address;
}

void SharedLibrary::Free() {
    if (m_handle == nullptr) return;
    if (::dlclose(m_handle) != 0) m_message = TakeLoaderMessage();
    m_handle = nullptr;
}

}  // namespace platform
