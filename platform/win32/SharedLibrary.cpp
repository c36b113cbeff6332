#include "platform/SharedLibrary.h"

#include "platform/Locale.h"
#include "platform/win32/Win32.h"

namespace platform {

SharedLibrary::~SharedLibrary() { Free(); }

uint32_t SharedLibrary::Load(const std::string& path) {
    if (m_handle != nullptr) return win32::Fail(ERROR_ACCESS_DENIED);
    m_message.clear();
    if (path.empty()) return win32::Fail(ERROR_MOD_NOT_FOUND);
    // Always by full path: a bare name would be searched for along the
    // system's DLL path, which could hand us somebody else's library.
    wchar_t full[MAX_PATH + 1];
    const DWORD n = ::GetFullPathNameW(win32::Widen(path).c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    if (n == 0 || n > MAX_PATH) return win32::Fail(ERROR_FILENAME_EXCED_RANGE);
    // Its own dependencies are looked for beside it, not in the current folder.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = ::LoadLibraryExW(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (module == nullptr) {
        uint32_t code = error;
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) code = ERROR_MOD_NOT_FOUND;
        m_message = SystemErrorText(code, LANG_ENGLISH);
        return win32::Fail(code);
    }
    m_handle = module;
    return ERROR_SUCCESS;
}

uint32_t SharedLibrary::LoadFromFile(OsHandle file) {
    // Windows maps a DLL only by name: the file's own full name, asked of
    // the open handle. The holder shares neither writing nor deleting
    // (NewFile::FinishWriting), so that name cannot be given another file.
    if (m_handle != nullptr) return win32::Fail(ERROR_ACCESS_DENIED);
    if (!file.IsOpen()) return win32::Fail(ERROR_INVALID_HANDLE);
    wchar_t name[MAX_PATH + 8];
    const DWORD n = ::GetFinalPathNameByHandleW(file.Native(), name, static_cast<DWORD>(std::size(name)),
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return win32::FailFromSystem();
    if (n >= std::size(name)) return win32::Fail(ERROR_FILENAME_EXCED_RANGE);
    std::wstring path(name, n);
    // "\\?\C:\..." -> "C:\...": the loader's plain form.
    if (path.rfind(L"\\\\?\\", 0) == 0 && path.size() > 6 && path[5] == L':') path.erase(0, 4);
    return Load(win32::Narrow(path));
}

std::string SystemLibraryPath(const std::string& name) {
    wchar_t folder[MAX_PATH + 1];
    const UINT n = ::GetSystemDirectoryW(folder, static_cast<UINT>(std::size(folder)));
    if (n == 0 || n > MAX_PATH || name.empty()) return {};
    return win32::Narrow(std::wstring(folder, n)) + "\\" + name;
}

void* SharedLibrary::Symbol(const char* name) const {
    if (m_handle == nullptr || name == nullptr) {
        win32::Fail(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    FARPROC p = ::GetProcAddress(static_cast<HMODULE>(m_handle), name);
    if (p == nullptr) win32::Fail(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<void*>(p);
}

void SharedLibrary::Free() {
    if (m_handle != nullptr) ::FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = nullptr;
}

}  // namespace platform
