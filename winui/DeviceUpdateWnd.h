// CWinDeviceUpdateWnd: the progress window of one running update, a
// modeless dialog (template 6010) owned by the main window, so it stays in
// front of it and keeps taking input while a question runs its modal loop
// over the main window.
//
// The update thread never touches it: it posts WM_SET_UPDATE_MESSAGE ..
// WM_SHOW_CANCEL_BUTTON, which go to the dialog as window messages of the
// same numbers and are handled on the main thread in the order posted.
// After Cancel the dialog is gone and later posts are refused; the object
// waits for the thread's request to delete it. Bar positions are coalesced:
// one WM_UPDATE_PROGRESS_BAR at a time waits in the queue and shows the
// latest position, so a fast transfer cannot flood the thread's queue and
// starve its painting and timers (which come only when the queue is empty).
//
// Threads: PostMsg from the update thread; everything else on the main
// window's thread. m_hWnd and the pending position are atomic because
// PostMsg uses them.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

#include "update/ProgressWindow.h"

class CWinDeviceUpdateWnd : public IProgressWindow {
public:
    // Log entries name the progress window as on every system.
    KORVA_RUNTIME_CLASS(CDeviceUpdateWnd)

    using CancelFn = std::function<void(CObject* thread)>;
    // Told after each message the window has handled (screenshots, tests).
    using WatchFn = std::function<void(CWinDeviceUpdateWnd& window, uint32_t msg)>;

    // Creates and shows the dialog over `owner`, its top under the owner's
    // device list; each further window steps down and right.
    CWinDeviceUpdateWnd(const std::wstring& title, CObject* thread, CancelFn cancel, HWND owner);
    ~CWinDeviceUpdateWnd() override;

    bool PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) override;

    HWND Hwnd() const { return m_hWnd.load(); }
    bool IsWindowDestroyed() const { return m_bWindowDestroyed; }
    void SetWatcher(WatchFn watcher) { m_Watch = std::move(watcher); }

    void OnSetUpdateMessage(uint32_t stringId);
    void OnShowProgressBar(uint16_t start, uint16_t end);
    void OnUpdateProgressBar(uint16_t position);
    void OnHideProgressBar();
    void OnShowCancelButton(bool show);
    // Cancel button, close box, Escape: logs, tells the thread once, and
    // destroys the dialog.
    void OnCancel();

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void PlaceBelowDeviceList(HWND owner);
    void ResizeText(int delta);

    std::wstring m_strTitle;
    CObject* m_pThread;  // not owned
    CancelFn m_Cancel;
    WatchFn m_Watch;
    std::atomic<HWND> m_hWnd{nullptr};
    std::atomic<uint16_t> m_wPendingPosition{0};
    std::atomic<bool> m_bPositionQueued{false};
    bool m_bWindowDestroyed = false;
};
