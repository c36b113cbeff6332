// korva-upgrader.exe: the update log first (it opens its file at once),
// then the start-up steps and the main window, run modally for the
// program's whole life; the log closes last.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "base/BaseObject.h"
#include "base/Strings.h"
#include "base/UpdateLogFile.h"
#include "platform/SysError.h"
#include "platform/SystemInfo.h"
#include "transport/UsbLibraryFile.h"
#include "window/ProgramVersion.h"
#include "window/StartupInfo.h"
#include "winui/UpdateWnd.h"

namespace {

// Entries written for the application carry the framework's class name.
class CWinApp : public CObject {
public:
    KORVA_RUNTIME_CLASS(CWinApp)
};

constexpr wchar_t kMakerCaption[] = L"KORVA Instruments GmbH";

// Another copy runs: its main window comes to the front, restored if it was
// minimised, and this copy ends without a word.
void BringFirstCopyToFront() {
    HWND first = ::FindWindowW(L"#32770", CWinUpdateWnd::Title().c_str());
    if (first == nullptr) return;
    ::ShowWindow(first, ::IsIconic(first) ? SW_RESTORE : SW_SHOWNORMAL);
    ::SetForegroundWindow(first);
}

void ShowStartupFailure(uint32_t error) {
    char number[32];
    std::snprintf(number, sizeof number, "%05u", static_cast<unsigned>(error));
    const std::string text = std::string("The first call to a function of the Windows API has failed!\r\n\r\n") +
                             "Error Number:   " + number + "\r\n" + platform::SystemErrorText(error, GetUserLanguage());
    ::MessageBoxW(nullptr, winui::Wide(text).c_str(), kMakerCaption, MB_OK | MB_ICONSTOP);
}

int Run() {
    CWinApp app;
    platform::NamedInstanceLock instance;
    const uint32_t error = instance.Acquire(kSingleInstanceMutexName);
    if (error == ERROR_ALREADY_EXISTS) {
        BringFirstCopyToFront();
        return 0;
    }
    if (error != 0) {
        ShowStartupFailure(error);
        return 0;
    }

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    StartupFacts facts = GatherStartupFacts();
    facts.usbLibraryLine = WriteUsbLibraryFile();
    {
        CWinUpdateWnd window(g_bUsbDllCreated.load() != 0);
        // Routine: this entry alone does not keep the log file, unless it
        // holds why the USB library cannot be loaded.
        const std::string usbProblem = UsbLibraryProblem();
        CBaseObject::LogMessage(&app, BuildStartupReport(facts), nullptr, usbProblem.empty());
        if (!usbProblem.empty()) {
            ::MessageBoxW(nullptr, winui::Wide("USB instruments cannot be reached: " + usbProblem + ".").c_str(),
                          kMakerCaption, MB_OK | MB_ICONWARNING);
        }
        window.DoModal();
    }
    DeleteUsbLibraryFile();
    instance.Release();
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CUpdateLogFile log;
    CUpdateLogFile::SetCurrent(&log);
    const int status = Run();
    CUpdateLogFile::SetCurrent(nullptr);
    return status;
}
