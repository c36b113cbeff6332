#include "platform/StopSignal.h"

#include <mutex>

#include "platform/win32/Win32.h"

namespace platform {

namespace {

Event* g_stop = nullptr;

// Runs on a thread the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            if (g_stop != nullptr) g_stop->Set();
            return TRUE;
        default:
            return FALSE;  // log-off and shutdown: the system's default
    }
}

}  // namespace

Event* InstallStopSignalHandlers() {
    static std::once_flag once;
    static Event* installed = nullptr;
    std::call_once(once, [] {
        static Event stop(Event::kManualReset, false);
        if (!stop.IsValid()) return;
        g_stop = &stop;
        if (!::SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
            win32::FailFromSystem();
            g_stop = nullptr;
            return;
        }
        installed = &stop;
    });
    return installed;
}

}  // namespace platform
