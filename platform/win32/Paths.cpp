#include "platform/Paths.h"

#include <vector>

#include "platform/win32/Win32.h"

#include <aclapi.h>

namespace platform {

namespace {

using win32::Fail;
using win32::FailFromSystem;
using win32::Widen;

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// Whether the object behind `h` is owned by the current user (or by the
// owner the user's token gives new objects, e.g. Administrators).
bool OwnedByUs(HANDLE h) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &sd) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool ours = false;
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        for (const TOKEN_INFORMATION_CLASS cls : {TokenUser, TokenOwner}) {
            DWORD size = 0;
            ::GetTokenInformation(token, cls, nullptr, 0, &size);
            std::vector<unsigned char> buffer(size);
            if (size == 0 || !::GetTokenInformation(token, cls, buffer.data(), size, &size)) continue;
            PSID sid = cls == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                        : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
            if (::EqualSid(owner, sid)) ours = true;
        }
        ::CloseHandle(token);
    }
    ::LocalFree(sd);
    return ours;
}

}  // namespace

std::string TempDirectory() {
    // The system's rule (TMP, TEMP, the user's profile, the Windows folder).
    wchar_t buffer[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(static_cast<DWORD>(std::size(buffer)), buffer);
    if (n == 0 || n > MAX_PATH) return "C:\\Windows\\Temp";
    std::wstring path(buffer, n);
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return win32::Narrow(path);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) return dir + name;
    return dir + "\\" + name;
}

// --- PrivateDirectory --------------------------------------------------------

PrivateDirectory::~PrivateDirectory() { Close(); }

uint32_t PrivateDirectory::OpenOrCreate(const std::string& path) {
    if (IsOpen()) return Fail(ERROR_ACCESS_DENIED);
    if (path.empty()) return Fail(ERROR_INVALID_PARAMETER);
    const std::wstring wide = Widen(path);
    // A new folder takes the access rules of the user's temporary folder.
    if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return FailFromSystem();
    }
    // The checks run on the opened folder, and it stays open without
    // delete sharing, so it cannot be renamed or swapped while in use.
    const HANDLE h = ::CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | READ_CONTROL,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FailFromSystem();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) {
        const uint32_t code = FailFromSystem();
        ::CloseHandle(h);
        return code;
    }
    const DWORD a = info.dwFileAttributes;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT) || !OwnedByUs(h)) {
        ::CloseHandle(h);
        return Fail(ERROR_ACCESS_DENIED);
    }
    m_handle = OsHandle::FromNative(h);
    m_path = path;
    return ERROR_SUCCESS;
}

void PrivateDirectory::Close() { m_handle.Close(); }

uint32_t PrivateDirectory::RemoveIfEmpty() {
    if (m_path.empty()) return Fail(ERROR_NOACCESS);
    // Our own handle shares no deletion, so it goes first; a folder that
    // turns out not to be empty is opened again.
    const bool wasOpen = IsOpen();
    Close();
    if (::RemoveDirectoryW(Widen(m_path).c_str())) return ERROR_SUCCESS;
    const uint32_t code = FailFromSystem();
    if (wasOpen) {
        const std::string path = m_path;
        OpenOrCreate(path);
        platform::SetLastError(code);
    }
    return code;
}

// --- PrivateFile ---------------------------------------------------------------

PrivateFile::~PrivateFile() { Close(); }

uint32_t PrivateFile::Create(const PrivateDirectory& dir, const std::string& name) {
    if (IsOpen()) return Fail(ERROR_ACCESS_DENIED);
    if (!dir.IsOpen()) return Fail(ERROR_INVALID_PARAMETER);
    if (!IsPlainName(name)) return Fail(ERROR_INVALID_NAME);
    // Readers may look in (the log reader); a second writer is refused with
    // a sharing violation; deletion is shared so the file can be removed
    // while open. Not truncated on open: a held file stays untouched.
    const HANDLE h = ::CreateFileW(Widen(dir.Path() + "\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FailFromSystem();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) {
        const uint32_t code = FailFromSystem();
        ::CloseHandle(h);
        return code;
    }
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::CloseHandle(h);
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!::SetEndOfFile(h)) {  // the pointer is at 0 after the open
        const uint32_t code = FailFromSystem();
        ::CloseHandle(h);
        return code;
    }
    m_handle = OsHandle::FromNative(h);
    m_name = name;
    return ERROR_SUCCESS;
}

uint32_t PrivateFile::Append(const void* data, size_t length) {
    if (!IsOpen()) return Fail(ERROR_NOACCESS);
    if (length == 0) return ERROR_SUCCESS;
    if (data == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const HANDLE h = m_handle.Native();
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(h, zero, nullptr, FILE_END)) return FailFromSystem();
    const char* p = static_cast<const char*>(data);
    size_t left = length;
    while (left > 0) {
        DWORD n = 0;
        const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        if (!::WriteFile(h, p, chunk, &n, nullptr)) return FailFromSystem();
        if (n == 0) return Fail(ERROR_WRITE_FAULT);
        p += n;
        left -= n;
    }
    return ERROR_SUCCESS;
}

uint32_t PrivateFile::Flush() {
    if (!IsOpen()) return Fail(ERROR_NOACCESS);
    return ::FlushFileBuffers(m_handle.Native()) ? ERROR_SUCCESS : FailFromSystem();
}

void PrivateFile::Close() { m_handle.Close(); }

uint32_t PrivateFile::Delete(const PrivateDirectory& dir) {
    if (m_name.empty()) return Fail(ERROR_NOACCESS);
    if (!dir.IsOpen()) return Fail(ERROR_INVALID_PARAMETER);
    if (!::DeleteFileW(Widen(dir.Path() + "\\" + m_name).c_str())) return FailFromSystem();
    Close();
    return ERROR_SUCCESS;
}

}  // namespace platform
