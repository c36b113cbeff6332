#include "platform/NewFile.h"

#include "platform/win32/Win32.h"

namespace platform {

namespace {

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return ::GetFileInformationByHandle(a, &x) && ::GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

HANDLE OpenByName(const std::string& path, DWORD access, DWORD share) {
    return ::CreateFileW(win32::Widen(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

NewFile::~NewFile() { Close(); }

uint32_t NewFile::CreateReplacing(const std::string& path) {
    Close();
    if (path.empty()) return win32::Fail(ERROR_INVALID_PARAMETER);
    const std::wstring wide = win32::Widen(path);
    // A file left behind is replaced, not reused.
    if (!::DeleteFileW(wide.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) return win32::FailFromSystem();
    // Others may read (the loader), nobody may write, rename or delete it
    // while it is open.
    const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::FailFromSystem();
    m_handle = OsHandle::FromNative(h);
    m_path = path;
    return 0;
}

uint32_t NewFile::Write(const void* data, size_t length, size_t& written) {
    written = 0;
    if (!m_handle.IsOpen()) return win32::Fail(ERROR_INVALID_HANDLE);
    if (length > MAXDWORD) return win32::Fail(ERROR_INVALID_PARAMETER);
    DWORD n = 0;
    if (!::WriteFile(m_handle.Native(), data, static_cast<DWORD>(length), &n, nullptr)) return win32::FailFromSystem();
    written = n;
    return 0;
}

uint32_t NewFile::FinishWriting() {
    if (!m_handle.IsOpen()) return win32::Fail(ERROR_INVALID_HANDLE);
    // The loader opens the file by name for reading and does not share
    // writing, so the handle that wrote it must go. A reading handle that
    // shares nothing but reading takes its place; the step between lets
    // the two overlap, so the file is never without a holder.
    const HANDLE bridge = OpenByName(m_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (bridge == INVALID_HANDLE_VALUE) return win32::FailFromSystem();
    if (!SameFile(bridge, m_handle.Native())) {
        ::CloseHandle(bridge);
        return win32::Fail(ERROR_FILE_INVALID);
    }
    m_handle.Close();
    const HANDLE reader = OpenByName(m_path, GENERIC_READ, FILE_SHARE_READ);
    const DWORD error = ::GetLastError();
    const bool same = reader != INVALID_HANDLE_VALUE && SameFile(reader, bridge);
    ::CloseHandle(bridge);
    if (!same) {
        if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
        return win32::Fail(reader == INVALID_HANDLE_VALUE ? error : ERROR_FILE_INVALID);
    }
    m_handle = OsHandle::FromNative(reader);
    return 0;
}

bool NewFile::StillNamesThisFile() const {
    if (!m_handle.IsOpen()) return false;
    const HANDLE named = OpenByName(m_path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (named == INVALID_HANDLE_VALUE) return false;
    const bool same = SameFile(named, m_handle.Native());
    ::CloseHandle(named);
    return same;
}

uint32_t NewFile::Remove() {
    if (!StillNamesThisFile()) return win32::Fail(ERROR_FILE_NOT_FOUND);
    // Our handle shares no deleting: it goes first. A library still loaded
    // from the file keeps it (ERROR_ACCESS_DENIED).
    m_handle.Close();
    if (!::DeleteFileW(win32::Widen(m_path).c_str())) return win32::FailFromSystem();
    return 0;
}

void NewFile::Close() { m_handle.Close(); }

}  // namespace platform
