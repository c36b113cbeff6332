#include "winui/DeviceUpdateWnd.h"

#include <commctrl.h>

#include "base/BaseObject.h"
#include "base/StringIds.h"
#include "base/WindowMessages.h"
#include "winui/ResourceIds.h"
#include "winui/WinDialogs.h"

namespace {
// How much the step text gives up for the bar while the bar is shown.
constexpr int kTextShrinkPixels = 28;
// Where the window's top lies under the owner's client area: the device
// list group's bottom, in dialog units.
constexpr int kBelowListDlu = 134;
constexpr int kStepPixels = 24;
}  // namespace

CWinDeviceUpdateWnd::CWinDeviceUpdateWnd(const std::wstring& title, CObject* thread, CancelFn cancel, HWND owner)
    : m_strTitle(title), m_pThread(thread), m_Cancel(std::move(cancel)) {
    HWND dialog = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), owner, DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    if (dialog == nullptr) {
        m_bWindowDestroyed = true;
        return;
    }
    if (owner != nullptr) PlaceBelowDeviceList(owner);
    ::ShowWindow(dialog, SW_SHOW);
    ::SetForegroundWindow(dialog);
}

CWinDeviceUpdateWnd::~CWinDeviceUpdateWnd() {
    if (HWND dialog = m_hWnd.exchange(nullptr)) ::DestroyWindow(dialog);
}

bool CWinDeviceUpdateWnd::PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    HWND dialog = m_hWnd.load();
    if (dialog == nullptr) return false;
    if (msg == WM_UPDATE_PROGRESS_BAR) {
        m_wPendingPosition = static_cast<uint16_t>(lParam & 0xFFFF);
        if (m_bPositionQueued.exchange(true)) return true;  // the queued one will show it
    }
    if (::PostMessageW(dialog, msg, wParam, lParam)) return true;
    if (msg == WM_UPDATE_PROGRESS_BAR) m_bPositionQueued = false;
    return false;
}

INT_PTR CALLBACK CWinDeviceUpdateWnd::DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        reinterpret_cast<CWinDeviceUpdateWnd*>(lParam)->m_hWnd = dialog;
    }
    auto* self = reinterpret_cast<CWinDeviceUpdateWnd*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (msg == WM_NCDESTROY) ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
    return self != nullptr ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

INT_PTR CWinDeviceUpdateWnd::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND dialog = m_hWnd.load();
    switch (msg) {
        case WM_INITDIALOG: {
            std::wstring caption = winui::BrandName();
            if (!m_strTitle.empty()) caption += L" - " + m_strTitle;
            ::SetWindowTextW(dialog, caption.c_str());
            HINSTANCE instance = ::GetModuleHandleW(nullptr);
            ::SendMessageW(dialog, WM_SETICON, ICON_BIG,
                           reinterpret_cast<LPARAM>(::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM))));
            ::SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                           reinterpret_cast<LPARAM>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM_SMALL),
                                                                 IMAGE_ICON, 16, 16, LR_SHARED)));
            // The thread's first step text is still queued when the window
            // first shows: it opens with the update's start.
            winui::SetItemText(dialog, IDC_STEP_TEXT, winui::Text(IDS_PROG_UPDATE_STARTED));
            return TRUE;
        }
        case WM_SET_UPDATE_MESSAGE: OnSetUpdateMessage(static_cast<uint32_t>(lParam)); break;
        case WM_SHOW_PROGRESS_BAR:
            OnShowProgressBar(static_cast<uint16_t>(wParam & 0xFFFF), static_cast<uint16_t>(lParam & 0xFFFF));
            break;
        case WM_UPDATE_PROGRESS_BAR:
            m_bPositionQueued = false;
            OnUpdateProgressBar(m_wPendingPosition.load());
            break;
        case WM_HIDE_PROGRESS_BAR: OnHideProgressBar(); break;
        case WM_SHOW_CANCEL_BUTTON: OnShowCancelButton(lParam != 0); break;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_PROGRESS_CANCEL || LOWORD(wParam) == IDCANCEL) OnCancel();
            return TRUE;
        case WM_CLOSE:
            OnCancel();
            return TRUE;
        default:
            return FALSE;
    }
    if (m_Watch) m_Watch(*this, msg);
    return TRUE;
}

void CWinDeviceUpdateWnd::PlaceBelowDeviceList(HWND owner) {
    HWND dialog = m_hWnd.load();
    int others = 0;
    for (HWND w = ::GetWindow(::GetDesktopWindow(), GW_CHILD); w != nullptr; w = ::GetWindow(w, GW_HWNDNEXT)) {
        if (w != dialog && ::GetWindow(w, GW_OWNER) == owner && ::IsWindowVisible(w) &&
            ::GetDlgItem(w, IDC_PROGRESS_CANCEL) != nullptr)
            ++others;
    }
    RECT ownerFrame{}, frame{};
    ::GetWindowRect(owner, &ownerFrame);
    ::GetWindowRect(dialog, &frame);
    POINT client{0, 0};
    ::ClientToScreen(owner, &client);
    RECT below{0, kBelowListDlu, 0, 0};
    ::MapDialogRect(owner, &below);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int x = (ownerFrame.left + ownerFrame.right) / 2 - width / 2 + kStepPixels * others;
    int y = client.y + below.top + kStepPixels * others;
    // Kept on the owner's screen.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& area = monitor.rcWork;
        if (x + width > area.right) x = area.right - width;
        if (y + height > area.bottom) y = area.bottom - height;
        if (x < area.left) x = area.left;
        if (y < area.top) y = area.top;
    }
    ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWinDeviceUpdateWnd::OnSetUpdateMessage(uint32_t stringId) {
    winui::SetItemText(m_hWnd.load(), IDC_STEP_TEXT, winui::Text(stringId));
}

void CWinDeviceUpdateWnd::ResizeText(int delta) {
    HWND dialog = m_hWnd.load();
    HWND text = ::GetDlgItem(dialog, IDC_STEP_TEXT);
    if (text == nullptr) return;
    RECT rect{};
    ::GetWindowRect(text, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    const int height = rect.bottom - rect.top + delta;
    ::SetWindowPos(text, nullptr, 0, 0, rect.right - rect.left, height > 0 ? height : 0,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWinDeviceUpdateWnd::OnShowProgressBar(uint16_t start, uint16_t end) {
    ResizeText(-kTextShrinkPixels);
    HWND bar = ::GetDlgItem(m_hWnd.load(), IDC_PROGRESS);
    if (bar == nullptr) return;
    ::SendMessageW(bar, PBM_SETRANGE32, start, end);
    ::SendMessageW(bar, PBM_SETPOS, start, 0);
    ::ShowWindow(bar, SW_SHOW);
}

void CWinDeviceUpdateWnd::OnUpdateProgressBar(uint16_t position) {
    ::SendDlgItemMessageW(m_hWnd.load(), IDC_PROGRESS, PBM_SETPOS, position, 0);
}

void CWinDeviceUpdateWnd::OnHideProgressBar() {
    ResizeText(kTextShrinkPixels);
    ::ShowWindow(::GetDlgItem(m_hWnd.load(), IDC_PROGRESS), SW_HIDE);
}

void CWinDeviceUpdateWnd::OnShowCancelButton(bool show) {
    ::ShowWindow(::GetDlgItem(m_hWnd.load(), IDC_PROGRESS_CANCEL), show ? SW_SHOW : SW_HIDE);
}

void CWinDeviceUpdateWnd::OnCancel() {
    if (m_bWindowDestroyed) return;
    m_bWindowDestroyed = true;
    // Not discardable: a cancelled update keeps its log file.
    CBaseObject::LogMessage(this, "Cancel Button was clicked", nullptr, false);
    if (m_pThread != nullptr && m_Cancel) m_Cancel(m_pThread);
    if (HWND dialog = m_hWnd.exchange(nullptr)) ::DestroyWindow(dialog);
}
