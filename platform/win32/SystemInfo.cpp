#include "platform/SystemInfo.h"

#include <cstdio>

#include "platform/Paths.h"
#include "platform/win32/Win32.h"

namespace platform {

namespace {

// The names the log has always used. Systems after Windows Server 2003 have
// no name of their own in it and are reported as unknown.
std::string SystemName(const OSVERSIONINFOEXW& v) {
    const std::string servicePack = win32::Narrow(v.szCSDVersion, wcsnlen(v.szCSDVersion, 128));
    char build[32];
    switch (v.dwPlatformId) {
        case VER_PLATFORM_WIN32s:
            return "Windows 3.1";
        case VER_PLATFORM_WIN32_WINDOWS: {
            const char* name = v.dwMinorVersion == 0    ? "Windows 95"
                               : v.dwMinorVersion == 10 ? "Windows 98"
                               : v.dwMinorVersion == 90 ? "Windows Me"
                                                        : nullptr;
            if (name == nullptr) return "Unknown Operating System";
            std::snprintf(build, sizeof build, " Build: %u", static_cast<unsigned>(v.dwBuildNumber & 0xFFFF));
            return name + servicePack + build;
        }
        case VER_PLATFORM_WIN32_NT: {
            const char* name = nullptr;
            if (v.dwMajorVersion == 3) name = "Windows NT 3.51";
            else if (v.dwMajorVersion == 4) name = "Windows NT 4.0";
            else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 0) name = "Windows 2000";
            else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 1) name = "Windows XP";
            else if (v.dwMajorVersion == 5 && v.dwMinorVersion == 2) name = "Windows Server 2003";
            if (name == nullptr) return "Unknown Operating System";
            std::snprintf(build, sizeof build, " Build: %u", static_cast<unsigned>(v.dwBuildNumber));
            return std::string(name) + " " + servicePack + build;
        }
        default:
            return "Unknown Operating System";
    }
}

}  // namespace

// Windows has no os-release file.
std::string ReadOsReleaseName(const std::string&) { return {}; }

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

std::string OperatingSystemLine() {
    OSVERSIONINFOEXW v{};
    v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) return {};
#pragma GCC diagnostic pop
    return SystemName(v);
}

bool SystemTimeIncrementMs(double& ms) {
    DWORD adjustment = 0, increment = 0;
    BOOL disabled = FALSE;
    if (!::GetSystemTimeAdjustment(&adjustment, &increment, &disabled)) return false;
    ms = increment * 0.0001;  // 100-nanosecond units
    return true;
}

// The program's private folder in the user's own temporary folder, the one
// the update log uses.
std::string RuntimeDirectory() { return JoinPath(TempDirectory(), "KORVA"); }

uint32_t CheckRuntimeDirectory(const std::string& path) {
    PrivateDirectory directory;  // the same checks as for the log's folder
    return directory.OpenOrCreate(path.empty() ? RuntimeDirectory() : path);
}

std::string RuntimeDirectoryProblem(const std::string& path, uint32_t error) {
    std::string text = "The folder for the program's own files cannot be used:\n" + path + "\n";
    if (error == ERROR_ACCESS_DENIED) {
        text += "It is not a folder of yours.";
    } else {
        text += "It cannot be created or opened (error " + std::to_string(error) + ").";
    }
    return text + "\nSet TMP to a folder that belongs to you and start the program again.";
}

uint32_t NamedInstanceLock::Acquire(const std::string& name, const std::string& directory) {
    Release();
    // A named mutex in the session's namespace; `directory` only places the
    // stem for companions. Open first: a copy that finds the mutex is not
    // the first, one that gets "not found" creates it.
    const std::wstring wide = win32::Widen(name);
    if (HANDLE existing = ::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, wide.c_str())) {
        ::CloseHandle(existing);
        return win32::Fail(ERROR_ALREADY_EXISTS);
    }
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return win32::FailFromSystem();
    HANDLE created = ::CreateMutexW(nullptr, FALSE, wide.c_str());
    if (created == nullptr) return win32::FailFromSystem();
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {  // another copy won the race
        ::CloseHandle(created);
        return win32::Fail(ERROR_ALREADY_EXISTS);
    }
    m_handle = OsHandle::FromNative(created);
    m_stem = (directory.empty() ? RuntimeDirectory() : directory) + "\\" + FileStem(name);
    return 0;
}

void NamedInstanceLock::Release() {
    if (!m_handle.IsOpen()) return;
    m_handle.Close();
}

}  // namespace platform
