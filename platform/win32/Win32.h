// What the Win32 implementation files share: the system's headers and the
// conversions between the program's UTF-8 strings and the system's UTF-16.
//
// The error numbers and language ids are the system's own (Win32Types.h).
#pragma once

#include "platform/SysError.h"

#include <windows.h>

#include "platform/win32/SystemMessage.h"

#include <string>

namespace platform::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const wchar_t* utf16, size_t length);
inline std::string Narrow(const std::wstring& utf16) { return Narrow(utf16.data(), utf16.size()); }

// Records `code` as the calling thread's last error and returns it.
inline uint32_t Fail(DWORD code) {
    platform::SetLastError(code);
    return code;
}
// The same with the system's last error.
inline uint32_t FailFromSystem() { return Fail(::GetLastError()); }

}  // namespace platform::win32
