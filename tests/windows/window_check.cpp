// window_check PROGRAM: starts the Windows program, finds its main window
// and checks it the way a user sees it: the controls of its template in
// their places, the list's columns, the title; a second start brings the
// minimised first window back and ends; Cancel closes the program cleanly.
// Runs under Wine on the window tests' display (tests/windows/desktop.sh).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++g_failures;
}

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindMain(HWND w, LPARAM context) {
    auto* s = reinterpret_cast<Search*>(context);
    DWORD process = 0;
    ::GetWindowThreadProcessId(w, &process);
    wchar_t cls[32] = L"";
    ::GetClassNameW(w, cls, 32);
    if (process == s->process && std::wcscmp(cls, L"#32770") == 0 && ::GetDlgItem(w, 6016) != nullptr) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForMain(DWORD process, HANDLE handle) {
    for (int i = 0; i < 1200; ++i) {  // a cold Wine prefix starts slowly
        Search s{process, nullptr};
        ::EnumWindows(FindMain, reinterpret_cast<LPARAM>(&s));
        if (s.found != nullptr && ::IsWindowVisible(s.found)) return s.found;
        if (::WaitForSingleObject(handle, 100) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

bool Start(const std::wstring& program, PROCESS_INFORMATION& process) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring line = L"\"" + program + L"\"";
    return ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process) != FALSE;
}

std::wstring ClassOf(HWND w) {
    wchar_t cls[64] = L"";
    ::GetClassNameW(w, cls, 64);
    return cls;
}

RECT ClientRectOf(HWND dialog, HWND control) {
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A control's place in the template's dialog units, measured against the
// client area of 370 by 220 units, within a pixel or two.
bool PlacedAt(HWND dialog, int id, int x, int y, int width, int height) {
    RECT client{};
    ::GetClientRect(dialog, &client);
    const RECT r = ClientRectOf(dialog, ::GetDlgItem(dialog, id));
    const double sx = client.right / 370.0, sy = client.bottom / 220.0;  // pixels per unit
    return std::abs(r.left - x * sx) <= 2.5 && std::abs((r.right - r.left) - width * sx) <= 2.5 &&
           std::abs(r.top - y * sy) <= 2.5 && std::abs((r.bottom - r.top) - height * sy) <= 2.5;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_check PROGRAM\n");
        return 64;
    }
    const std::wstring program = argv[1];
    PROCESS_INFORMATION first{};
    if (!Start(program, first)) {
        std::printf("FAILED: the program does not start (error %lu)\n", ::GetLastError());
        return 1;
    }
    HWND main = WaitForMain(first.dwProcessId, first.hProcess);
    Check(main != nullptr, "the main window shows");
    if (main == nullptr) {
        ::TerminateProcess(first.hProcess, 1);
        return 1;
    }

    wchar_t title[256] = L"";
    ::GetWindowTextW(main, title, 256);
    Check(std::wcsstr(title, L" - QV3108-2 - Version: 05.306-02.011") != nullptr, "the title names model and firmware");

    HWND list = ::GetDlgItem(main, 6016);
    Check(ClassOf(list) == L"SysListView32" && (::GetWindowLongW(list, GWL_STYLE) & LVS_TYPEMASK) == LVS_REPORT,
          "the device list is a report list");
    Check(PlacedAt(main, 6016, 14, 20, 341, 80), "the device list sits where the template puts it");
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    Check(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0) == 4, "the list has four columns");
    const int widths[4] = {85, 120, 105, 175};
    bool widthsOk = true;
    for (int i = 0; i < 4; ++i) widthsOk &= ::SendMessageW(list, LVM_GETCOLUMNWIDTH, i, 0) == widths[i];
    Check(widthsOk, "the columns are 85, 120, 105 and 175 pixels wide");
    Check(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 0, "the list starts empty");
    HWND progress = ::GetDlgItem(main, 6014);
    Check(ClassOf(progress) == L"msctls_progress32" && !::IsWindowVisible(progress), "the search bar is hidden at start");
    Check(PlacedAt(main, 6017, 50, 199, 80, 14) && !::IsWindowEnabled(::GetDlgItem(main, 6017)),
          "Start Update is in place and disabled");
    Check(PlacedAt(main, IDCANCEL, 240, 199, 80, 14) && ::IsWindowEnabled(::GetDlgItem(main, IDCANCEL)), "the Cancel button is in place");
    for (int icon = 6031; icon <= 6034; ++icon) {
        HWND control = ::GetDlgItem(main, icon);
        Check(control != nullptr && ::SendMessageW(control, STM_GETICON, 0, 0) != 0, "a legend icon shows its image");
    }

    // A second copy: the minimised first window comes back, the second ends.
    ::ShowWindow(main, SW_MINIMIZE);
    for (int i = 0; i < 50 && !::IsIconic(main); ++i) ::Sleep(100);
    PROCESS_INFORMATION second{};
    Check(Start(program, second), "a second copy starts");
    DWORD secondExit = 1;
    if (second.hProcess != nullptr) {
        Check(::WaitForSingleObject(second.hProcess, 60000) == WAIT_OBJECT_0, "the second copy ends by itself");
        ::GetExitCodeProcess(second.hProcess, &secondExit);
        ::CloseHandle(second.hThread);
        ::CloseHandle(second.hProcess);
    }
    Check(secondExit == 0, "the second copy ends without an error");
    for (int i = 0; i < 50 && ::IsIconic(main); ++i) ::Sleep(100);
    Check(!::IsIconic(main) && ::IsWindowVisible(main), "the first window is restored");

    // Cancel: the closing steps, then the program ends.
    ::PostMessageW(main, WM_COMMAND, IDCANCEL, 0);
    const bool ended = ::WaitForSingleObject(first.hProcess, 60000) == WAIT_OBJECT_0;
    DWORD exitCode = 1;
    ::GetExitCodeProcess(first.hProcess, &exitCode);
    Check(ended && exitCode == 0, "Cancel ends the program cleanly");
    if (!ended) ::TerminateProcess(first.hProcess, 1);
    ::CloseHandle(first.hThread);
    ::CloseHandle(first.hProcess);
    return g_failures == 0 ? 0 : 1;
}
