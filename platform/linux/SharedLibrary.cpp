#include "platform/SharedLibrary.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

// The loader maps the segments an ELF header names without checking that the
// file holds them; touching a page past the end of a cut-off file then kills
// the process with SIGBUS. So a file is loaded only when it holds everything
// its headers name.
bool IsCompleteElf(int fd, off_t size) {
    Elf64_Ehdr eh{};
    if (::pread(fd, &eh, sizeof eh, 0) != static_cast<ssize_t>(sizeof eh)) return false;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return false;
    if (eh.e_phentsize != sizeof(Elf64_Phdr)) return false;
    const uint64_t fileSize = static_cast<uint64_t>(size);
    if (eh.e_phoff > fileSize || uint64_t{eh.e_phnum} * sizeof(Elf64_Phdr) > fileSize - eh.e_phoff) return false;
    if (eh.e_shnum != 0 &&
        (eh.e_shoff > fileSize || uint64_t{eh.e_shnum} * eh.e_shentsize > fileSize - eh.e_shoff)) {
        return false;
    }
    for (unsigned i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph{};
        const off_t at = static_cast<off_t>(eh.e_phoff + i * sizeof(Elf64_Phdr));
        if (::pread(fd, &ph, sizeof ph, at) != static_cast<ssize_t>(sizeof ph)) return false;
        if (ph.p_type == PT_LOAD && (ph.p_offset > fileSize || ph.p_filesz > fileSize - ph.p_offset)) return false;
    }
    return true;
}

const char kIncomplete[] = "not a complete 64-bit ELF shared object";

bool IsCompleteElf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool complete = ::fstat(fd, &st) == 0 && IsCompleteElf(fd, st.st_size);
    ::close(fd);
    return complete;
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
    if (!IsCompleteElf(file)) {
        m_message = kIncomplete;
        return Fail(ERROR_BAD_EXE_FORMAT);
    }

    m_handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        m_message = TakeLoaderMessage();
        struct statvfs fs {};
        return FailLoading(::statvfs(file.c_str(), &fs) == 0 && (fs.f_flag & ST_NOEXEC) != 0);
    }
    return ERROR_SUCCESS;
}

uint32_t SharedLibrary::FailLoading(bool noexec) {
    // The loader's text ("failed to map segment") does not name the usual
    // cause: a file system on which nothing may be executed.
    if (!noexec) return Fail(ERROR_BAD_EXE_FORMAT);
    m_message = "it lies on a file system mounted noexec, from which no program code may run (" + m_message + ")";
    return Fail(ERROR_ACCESS_DENIED);
}

uint32_t SharedLibrary::LoadFromFile(OsHandle opened) {
    if (IsLoaded()) return Fail(ERROR_ACCESS_DENIED);
    m_message.clear();
    if (!opened.IsOpen()) return Fail(ERROR_INVALID_HANDLE);
    const int fd = opened.Native();

    struct stat st {};
    if (::fstat(fd, &st) != 0) return SetLastErrorFromErrno();
    if (!S_ISREG(st.st_mode) || !IsCompleteElf(fd, st.st_size)) {
        m_message = kIncomplete;
        return Fail(ERROR_BAD_EXE_FORMAT);
    }

    // The loader takes names only; this name resolves to the open file
    // itself, not to whatever its original path points at by now.
    const std::string file = "/proc/self/fd/" + std::to_string(fd);
    m_handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        m_message = TakeLoaderMessage();
        struct statvfs fs {};
        return FailLoading(::fstatvfs(fd, &fs) == 0 && (fs.f_flag & ST_NOEXEC) != 0);
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

// Drivers install no libraries for programs here: the program brings its own.
std::string SystemLibraryPath(const std::string&) { return {}; }

}  // namespace platform
