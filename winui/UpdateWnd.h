// CWinUpdateWnd: the program's main window on Windows, the modal dialog of
// template 6200 (German) or 6400 (English) run for the program's whole
// life. The controls live here; every decision is CUpdateWndCore's, which
// this window drives through IUpdateWndView, as the Qt window does.
//
// The window's CMessageWindow is woken by a window message posted to the
// dialog: every message loop of the thread, the nested ones of message
// boxes and dialogs included, hands it to the dialog, which dispatches
// what the search and update threads sent. Timers of the message window
// run on a window timer of the dialog.
//
// Thread: the thread that runs DoModal; worker threads reach the window
// only through its message window (the wake callback posts from any
// thread).
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "base/MessageWindow.h"
#include "window/UpdateWndCore.h"
#include "window/UpdateWndView.h"
#include "winui/WinDialogs.h"

class CWinUpdateWnd : public IUpdateWndView {
public:
    // Posted to the dialog to dispatch its message window.
    static constexpr UINT WM_PUMP_MESSAGES = WM_APP + 1;

    // `usbLibraryCreated`: whether start-up wrote the USB library.
    explicit CWinUpdateWnd(bool usbLibraryCreated);
    ~CWinUpdateWnd() override;

    // Runs the dialog until it ends.
    void DoModal();
    // Called once the dialog exists, before it is shown (screenshots and
    // tests drive the window from there).
    void SetOnShown(std::function<void(CWinUpdateWnd&)> onShown) { m_OnShown = std::move(onShown); }

    HWND Hwnd() const { return m_hWnd; }
    CUpdateWndCore& Core() { return *m_pCore; }
    CMessageWindow& Window() { return m_Window; }
    // The main window's title, by which a second copy finds it.
    static std::wstring Title();

    // The context menu's command: properties of the device on `port`.
    void ShowDeviceProperties(const PortPtr& port);
    // A session end: closes without asking, cancelling what can be cancelled.
    void CloseOnStopRequest() { m_pCore->OnCancel(false); }

    // IUpdateWndView
    void SetRows(const std::vector<CDeviceRow>& rows) override;
    void ShowSearchProgress(uint16_t range, uint16_t position) override;
    void MoveSearchProgress(uint16_t position) override;
    void HideSearchProgress() override;
    void EnableStartUpdate(bool enable) override;
    void SetPortMenu(const CPortMenuState& menu) override;
    bool AskSerialSettingsNotice() override;
    void ShowMessageDialog(uint32_t code, const PortPtr& port, const DevicePtr& device) override;
    void EndDialog() override;
    IProgressWindow* CreateProgressWindow(const std::string& title, CObject* thread) override;
    int DestroyProgressWindow(CObject* window) override;
    IUpdateDialogs* UpdateDialogs() override { return &m_Questions; }
    bool AskCloseWhileUpdating() override;
    void ShowClosingAfterUpdates() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
    // The modal loops of the thread's dialogs call IsDialogMessage only for
    // their own dialog: this hook gives the progress windows (modeless) their
    // keyboard too, Escape (Cancel) and Tab.
    static LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam);
    // Session end: refused while an update programs the FLASH.
    bool OnQueryEndSession();
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void PlaceLegend();
    void OnCommand(UINT id);
    void OnListClicked();
    void OnListContextMenu();
    PortPtr PortOfItem(int item) const;
    void Pump();

    HWND m_hWnd = nullptr;
    CMessageWindow m_Window;
    winui::CUpdateQuestions m_Questions{&m_hWnd};  // before the logic, which keeps its address
    std::unique_ptr<CUpdateWndCore> m_pCore;
    std::function<void(CWinUpdateWnd&)> m_OnShown;
    std::atomic<bool> m_bPumpQueued{false};
    bool m_bRebuilding = false;   // SetRows: selection changes are not the user's
    bool m_bEnding = false;
    bool m_bClosingShown = false; // the window takes no more commands
    HWND m_hList = nullptr;
    std::vector<PortPtr> m_RowPorts;  // item data: index into this
};
