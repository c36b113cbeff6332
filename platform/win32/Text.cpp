#include "platform/win32/Win32.h"

namespace platform::win32 {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* utf16, size_t length) {
    if (length == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, utf16, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::string SystemMessageText(uint32_t code, uint16_t languageId) {
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    wchar_t buffer[512];
    // The asked language first; a system without its messages in that
    // language gives the user's own, then English.
    for (const WORD lang : {MAKELANGID(languageId, SUBLANG_DEFAULT), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                            MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT)}) {
        DWORD n = ::FormatMessageW(flags, nullptr, code, lang, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
        if (n == 0) continue;
        while (n > 0 && (buffer[n - 1] == L' ' || buffer[n - 1] == L'\r' || buffer[n - 1] == L'\n')) --n;
        return Narrow(buffer, n);
    }
    return {};
}

}  // namespace platform::win32
