#include "winui/UpdateWnd.h"

#include <commctrl.h>

#include <algorithm>

#include "base/StringIds.h"
#include "base/Strings.h"
#include "platform/Event.h"
#include "update/DevUpdateThread.h"
#include "window/ProgramVersion.h"
#include "winui/DeviceUpdateWnd.h"
#include "winui/ResourceIds.h"

namespace {

constexpr int kColumnWidths[4] = {85, 120, 105, 175};  // pixels
constexpr int kRowImageSize = 14;
constexpr size_t kBrandMaxChars = 15;
constexpr size_t kTitleMaxChars = 63;
constexpr UINT_PTR kPumpTimer = 1;

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

struct OwnedDialogs {
    HWND owner;
    std::vector<HWND> dialogs;
};

// The visible modal dialogs over `owner`; progress windows are none.
BOOL CALLBACK CollectOwnedDialog(HWND w, LPARAM context) {
    auto* s = reinterpret_cast<OwnedDialogs*>(context);
    if (w != s->owner && ::GetWindow(w, GW_OWNER) == s->owner && ::IsWindowVisible(w) &&
        ::GetDlgItem(w, IDC_PROGRESS_CANCEL) == nullptr)
        s->dialogs.push_back(w);
    return TRUE;
}

}  // namespace

CWinUpdateWnd::CWinUpdateWnd(bool usbLibraryCreated) {
    m_pCore = std::make_unique<CUpdateWndCore>(m_Window, *this, usbLibraryCreated);
    m_Window.SetHandler(m_pCore->Handler());
    CMessageWindow::SetMain(&m_Window);
}

CWinUpdateWnd::~CWinUpdateWnd() {
    // The logic first: it stops searches and updates, which may still send
    // to the message window while it waits for them.
    m_pCore.reset();
    m_Window.SetWakeCallback({});
    if (CMessageWindow::Main() == &m_Window) CMessageWindow::SetMain(nullptr);
    m_Window.Close();
}

std::wstring CWinUpdateWnd::Title() {
    const char* brand = FindStringResource(IDS_BRAND_MAIN);
    // Stored German text in both languages, as the title has always read.
    const char* product = FindStringResource(IDS_TITLE_FIRMWARE_UPDATE);
    const std::string title = TruncateUtf8(brand ? brand : "", kBrandMaxChars) + " - " +
                              TruncateUtf8(product ? product : "", kTitleMaxChars) + " - " + carried::kModel +
                              " - Version: " + carried::kVersion1 + "-" + carried::kVersion2;
    return winui::Wide(title);
}

void CWinUpdateWnd::DoModal() {
    HHOOK filter = ::SetWindowsHookExW(WH_MSGFILTER, MessageFilter, nullptr, ::GetCurrentThreadId());
    ::DialogBoxParamW(Instance(), winui::LanguageTemplate(IDD_MAIN_DE), nullptr, DialogProc,
                      reinterpret_cast<LPARAM>(this));
    if (filter != nullptr) ::UnhookWindowsHookEx(filter);
}

LRESULT CALLBACK CWinUpdateWnd::MessageFilter(int code, WPARAM wParam, LPARAM lParam) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code >= 0 && msg != nullptr && msg->hwnd != nullptr && msg->message >= WM_KEYFIRST &&
        msg->message <= WM_KEYLAST) {
        HWND root = ::GetAncestor(msg->hwnd, GA_ROOT);
        if (root != nullptr && ::GetDlgItem(root, IDC_PROGRESS_CANCEL) != nullptr && ::IsDialogMessageW(root, msg))
            return TRUE;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

bool CWinUpdateWnd::OnQueryEndSession() {
    // As on a stop request: searches stop, what can be cancelled is; an
    // update that programs the FLASH keeps the session until it has ended,
    // with the reason shown where the system lists what holds it up.
    CloseOnStopRequest();
    if (!m_pCore->IsClosing()) return true;
    wchar_t reason[512] = L"";
    ::GetDlgItemTextW(m_hWnd, IDC_CLOSING_NOTICE, reason, 512);
    ::ShutdownBlockReasonCreate(m_hWnd, reason);
    return false;
}

INT_PTR CALLBACK CWinUpdateWnd::DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        reinterpret_cast<CWinUpdateWnd*>(lParam)->m_hWnd = dialog;
    }
    auto* self = reinterpret_cast<CWinUpdateWnd*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    const INT_PTR result = self->OnMessage(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR CWinUpdateWnd::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;
        case WM_PUMP_MESSAGES:
            Pump();
            return TRUE;
        case WM_TIMER:
            if (wParam != kPumpTimer) return FALSE;
            Pump();
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom != IDC_DEVICE_LIST) return FALSE;
            if (header->code == LVN_ITEMCHANGED) {
                const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
                // Keyboard moves change the selection too; Start Update follows it.
                if (!m_bRebuilding && (change->uChanged & LVIF_STATE) &&
                    ((change->uOldState ^ change->uNewState) & LVIS_SELECTED))
                    OnListClicked();
            } else if (header->code == NM_CLICK) {
                if (!m_bRebuilding) OnListClicked();
            } else if (header->code == NM_RCLICK) {
                OnListContextMenu();
            }
            return TRUE;
        }
        case WM_QUERYENDSESSION:
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, OnQueryEndSession() ? TRUE : FALSE);
            return TRUE;
        case WM_ENDSESSION:
            // The session ends: close as on a stop request, without a question.
            if (wParam) CloseOnStopRequest();
            return TRUE;
        case WM_DESTROY:
            // Nothing may post to the handle once it is gone.
            m_Window.SetWakeCallback({});
            ::KillTimer(m_hWnd, kPumpTimer);
            return FALSE;
    }
    return FALSE;
}

void CWinUpdateWnd::OnInitDialog() {
    HWND dialog = m_hWnd;
    ::SetWindowTextW(dialog, Title().c_str());
    ::SendMessageW(dialog, WM_SETICON, ICON_BIG,
                   reinterpret_cast<LPARAM>(::LoadIconW(Instance(), MAKEINTRESOURCEW(IDI_PROGRAM))));
    ::SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_PROGRAM_SMALL), IMAGE_ICON,
                                                         16, 16, LR_SHARED)));

    m_hList = ::GetDlgItem(dialog, IDC_DEVICE_LIST);
    ListView_SetExtendedListViewStyle(m_hList, LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE);
    // The list destroys its image list with itself.
    HIMAGELIST images = ImageList_Create(kRowImageSize, kRowImageSize, ILC_COLOR32 | ILC_MASK, ROW_IMAGE_COUNT, 0);
    for (int i = 0; i < ROW_IMAGE_COUNT; ++i) {
        auto icon = static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_ROW_POSSIBLE + i), IMAGE_ICON,
                                                    kRowImageSize, kRowImageSize, 0));
        ImageList_AddIcon(images, icon);
        ::DestroyIcon(icon);
    }
    ListView_SetImageList(m_hList, images, LVSIL_SMALL);
    static const wchar_t* const kColumns[2][4] = {{L"Gerät", L"Typ", L"Software-Version", L"Adresse"},
                                                  {L"Device", L"Type", L"Software Version", L"Address"}};
    for (int i = 0; i < 4; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_CENTER;
        column.cx = kColumnWidths[i];
        column.pszText = const_cast<wchar_t*>(kColumns[winui::IsGerman() ? 0 : 1][i]);
        column.iSubItem = i;
        ListView_InsertColumn(m_hList, i, &column);
    }
    // The legend's icons at the list's image size.
    for (int image = ROW_IMAGE_IMPOSSIBLE; image <= ROW_IMAGE_FAILED; ++image) {
        auto icon = static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDI_ROW_POSSIBLE + image), IMAGE_ICON,
                                                    kRowImageSize, kRowImageSize, LR_SHARED));
        ::SendDlgItemMessageW(dialog, IDI_ROW_POSSIBLE + image, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    }
    PlaceLegend();

    m_pCore->OnInitDialog();
    // From here on the threads' messages wake the dialog; whatever arrived
    // before is dispatched at once.
    m_Window.SetWakeCallback([this, dialog] {
        if (!m_bPumpQueued.exchange(true)) ::PostMessageW(dialog, WM_PUMP_MESSAGES, 0, 0);
    });
    m_bPumpQueued = true;
    ::PostMessageW(dialog, WM_PUMP_MESSAGES, 0, 0);
    if (m_OnShown) m_OnShown(*this);
}

void CWinUpdateWnd::PlaceLegend() {
    // The labels take the width their text needs in the font at hand; the
    // right column moves left as far as needed to end with the list (the
    // longer German texts do not fit the template's room in every font).
    HWND dialog = m_hWnd;
    RECT listRect{};
    ::GetWindowRect(m_hList, &listRect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&listRect), 2);
    HDC dc = ::GetDC(dialog);
    auto font = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    HGDIOBJ old = ::SelectObject(dc, font);
    auto textWidth = [&](int id) {
        wchar_t text[128] = L"";
        ::GetDlgItemTextW(dialog, id, text, 128);
        SIZE size{};
        ::GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
        return static_cast<int>(size.cx) + 2;
    };
    const int rightWidth = std::max(textWidth(6038), textWidth(6039));
    for (int image : {ROW_IMAGE_SUCCEEDED, ROW_IMAGE_FAILED}) {
        HWND label = ::GetDlgItem(dialog, IDC_LEGEND_TEXT + image - 1);
        HWND icon = ::GetDlgItem(dialog, IDI_ROW_POSSIBLE + image);
        RECT labelRect{}, iconRect{};
        ::GetWindowRect(label, &labelRect);
        ::GetWindowRect(icon, &iconRect);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&labelRect), 2);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&iconRect), 2);
        const int x = std::min(static_cast<int>(labelRect.left), static_cast<int>(listRect.right) - rightWidth);
        const int shift = labelRect.left - x;
        ::SetWindowPos(label, nullptr, x, labelRect.top, listRect.right - x, labelRect.bottom - labelRect.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        ::SetWindowPos(icon, nullptr, iconRect.left - shift, iconRect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(dialog, dc);
}

void CWinUpdateWnd::Pump() {
    // Cleared before dispatching: a handler may run a modal loop, in which
    // new messages must still be seen.
    m_bPumpQueued = false;
    m_Window.DispatchPending();
    if (m_hWnd == nullptr) return;
    const uint32_t due = m_Window.NextTimerDueMs();
    if (due == platform::kInfinite) {
        ::KillTimer(m_hWnd, kPumpTimer);
    } else {
        ::SetTimer(m_hWnd, kPumpTimer, std::max<uint32_t>(due, USER_TIMER_MINIMUM), nullptr);
    }
}

void CWinUpdateWnd::OnCommand(UINT id) {
    switch (id) {
        case IDCANCEL:  // button 2, the close box, Escape: the closing steps
            if (m_bEnding) {
                ::EndDialog(m_hWnd, IDCANCEL);
            } else if (!m_bClosingShown) {
                m_pCore->OnCancel();
            }
            break;
        case IDOK:
            // Enter would end the dialog without the closing steps (searches
            // still running); the window stays open instead.
            break;
        case IDC_START_UPDATE:
            if (!m_bClosingShown) m_pCore->OnStartDeviceUpdate();
            break;
        case ID_LOG_FILE_DIRECTORY:
            winui::ShowLogDirectory(m_hWnd);
            break;
        case ID_APP_ABOUT:
            winui::ShowAboutBox(m_hWnd);
            break;
        default:
            if (!m_bClosingShown) m_pCore->OnCommand(id);
            break;
    }
}

PortPtr CWinUpdateWnd::PortOfItem(int item) const {
    if (item < 0) return {};
    LVITEMW lv{};
    lv.mask = LVIF_PARAM;
    lv.iItem = item;
    if (!ListView_GetItem(m_hList, &lv)) return {};
    const auto index = static_cast<size_t>(lv.lParam);
    return index < m_RowPorts.size() ? m_RowPorts[index] : PortPtr();
}

void CWinUpdateWnd::OnListClicked() {
    const bool one = ListView_GetSelectedCount(m_hList) == 1;
    m_pCore->OnActivateDevice(one ? PortOfItem(ListView_GetNextItem(m_hList, -1, LVNI_SELECTED)) : PortPtr());
}

void CWinUpdateWnd::OnListContextMenu() {
    if (m_bClosingShown) return;
    POINT screen{};
    ::GetCursorPos(&screen);
    LVHITTESTINFO hit{};
    hit.pt = screen;
    ::ScreenToClient(m_hList, &hit.pt);
    const int item = ListView_HitTest(m_hList, &hit);
    if (item < 0) return;  // empty space: no menu
    // The menu runs a loop in which a search may rebuild the list: the row
    // is not touched again once the menu is open.
    const PortPtr port = PortOfItem(item);
    HMENU menu = ::CreatePopupMenu();
    ::AppendMenuW(menu, MF_STRING, ID_DEVICE_PROPERTIES, L"&Eigenschaften");
    const UINT chosen = ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN, screen.x, screen.y, 0,
                                         m_hWnd, nullptr);
    ::DestroyMenu(menu);
    if (chosen == ID_DEVICE_PROPERTIES) ShowDeviceProperties(port);
}

void CWinUpdateWnd::ShowDeviceProperties(const PortPtr& port) {
    // A copy: the caller's pointer may live in the rows, which a rebuild
    // during the dialog's loop clears.
    const PortPtr keep = port;
    winui::ShowDeviceProperties(m_hWnd, m_pCore->GetDeviceList(), keep.get());
}

IProgressWindow* CWinUpdateWnd::CreateProgressWindow(const std::string& title, CObject* thread) {
    auto* update = CObject::DownCast<CDevUpdateThread>(thread);
    if (update == nullptr) return nullptr;
    // The thread outlives its window: it asks for the deletion itself.
    return new CWinDeviceUpdateWnd(winui::Wide(title), thread, [update](CObject*) { update->CancelUpdate(); }, m_hWnd);
}

int CWinUpdateWnd::DestroyProgressWindow(CObject* window) {
    auto* progress = CObject::DownCast<CWinDeviceUpdateWnd>(window);
    if (progress == nullptr) return -1;
    delete progress;
    return 0;
}

// --- IUpdateWndView ----------------------------------------------------------

void CWinUpdateWnd::SetRows(const std::vector<CDeviceRow>& rows) {
    // A rebuild is not a user's choice: it keeps the selected device
    // selected and tells the logic nothing.
    const PortPtr selected =
        ListView_GetSelectedCount(m_hList) == 1 ? PortOfItem(ListView_GetNextItem(m_hList, -1, LVNI_SELECTED)) : PortPtr();
    const std::string selectedName = selected ? selected->GetName() : std::string();

    m_bRebuilding = true;
    ::SendMessageW(m_hList, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(m_hList);
    m_RowPorts.clear();
    for (const CDeviceRow& row : rows) {
        std::wstring texts[4] = {winui::Wide(row.device), winui::Wide(row.type), winui::Wide(row.version),
                                 winui::Wide(row.address)};
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = static_cast<int>(m_RowPorts.size());
        item.pszText = texts[0].data();
        item.iImage = row.image;
        item.lParam = static_cast<LPARAM>(m_RowPorts.size());
        m_RowPorts.push_back(row.port);
        const int at = ListView_InsertItem(m_hList, &item);  // sorted: `at` need not be iItem
        if (at < 0) continue;
        for (int column = 1; column < 4; ++column) ListView_SetItemText(m_hList, at, column, texts[column].data());
        if (!selectedName.empty() && row.port && row.port->GetName() == selectedName)
            ListView_SetItemState(m_hList, at, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    ::SendMessageW(m_hList, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(m_hList, nullptr, TRUE);
    m_bRebuilding = false;
}

void CWinUpdateWnd::ShowSearchProgress(uint16_t range, uint16_t position) {
    HWND bar = ::GetDlgItem(m_hWnd, IDC_PROGRESS);
    ::SendMessageW(bar, PBM_SETRANGE32, 0, range);
    ::SendMessageW(bar, PBM_SETPOS, position, 0);
    ::ShowWindow(bar, SW_SHOW);
}

void CWinUpdateWnd::MoveSearchProgress(uint16_t position) {
    ::SendDlgItemMessageW(m_hWnd, IDC_PROGRESS, PBM_SETPOS, position, 0);
}

void CWinUpdateWnd::HideSearchProgress() { ::ShowWindow(::GetDlgItem(m_hWnd, IDC_PROGRESS), SW_HIDE); }

void CWinUpdateWnd::EnableStartUpdate(bool enable) {
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_START_UPDATE), enable && !m_bClosingShown);
}

void CWinUpdateWnd::SetPortMenu(const CPortMenuState& menu) {
    HMENU bar = ::GetMenu(m_hWnd);
    if (bar == nullptr) return;
    const struct {
        UINT id;
        bool enabled;
    } items[] = {{ID_SERIAL_ACTIVATE, menu.serialActivate}, {ID_SERIAL_DEACTIVATE, menu.serialDeactivate},
                 {ID_USB_ACTIVATE, menu.usbActivate},       {ID_USB_DEACTIVATE, menu.usbDeactivate},
                 {ID_IP_ACTIVATE, menu.ipActivate},         {ID_IP_DEACTIVATE, menu.ipDeactivate}};
    for (const auto& item : items) ::EnableMenuItem(bar, item.id, MF_BYCOMMAND | (item.enabled ? MF_ENABLED : MF_GRAYED));
    // The check marks sit on the port kinds' popup entries (positions 0 to 2
    // of the Settings menu).
    HMENU settings = ::GetSubMenu(bar, 0);
    const bool checked[3] = {menu.serialChecked, menu.usbChecked, menu.ipChecked};
    for (UINT i = 0; i < 3; ++i) ::CheckMenuItem(settings, i, MF_BYPOSITION | (checked[i] ? MF_CHECKED : MF_UNCHECKED));
}

bool CWinUpdateWnd::AskSerialSettingsNotice() { return winui::ShowSerialSettingsNotice(m_hWnd) == 1; }

void CWinUpdateWnd::ShowMessageDialog(uint32_t code, const PortPtr& port, const DevicePtr& device) {
    winui::ShowMessageDialog(m_hWnd, port.get(), device.get(), code);
}

void CWinUpdateWnd::EndDialog() {
    m_bEnding = true;
    // A stop request can come while a dialog of ours runs its loop (the
    // closing question, a message): it goes first, so the window's own
    // loop can end. Progress windows are no modal dialogs of ours.
    OwnedDialogs search{m_hWnd, {}};
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectOwnedDialog, reinterpret_cast<LPARAM>(&search));
    for (HWND dialog : search.dialogs) ::EndDialog(dialog, IDCANCEL);
    if (m_hWnd != nullptr) ::EndDialog(m_hWnd, IDCANCEL);
}

bool CWinUpdateWnd::AskCloseWhileUpdating() { return winui::AskCloseWhileUpdating(m_hWnd) == 1; }

void CWinUpdateWnd::ShowClosingAfterUpdates() {
    m_bClosingShown = true;
    HWND dialog = m_hWnd;
    ::ShowWindow(::GetDlgItem(dialog, IDC_PROGRESS), SW_HIDE);
    ::ShowWindow(::GetDlgItem(dialog, IDC_CLOSING_NOTICE), SW_SHOW);
    ::EnableWindow(::GetDlgItem(dialog, IDC_START_UPDATE), FALSE);
    ::EnableWindow(::GetDlgItem(dialog, IDCANCEL), FALSE);
    if (HMENU bar = ::GetMenu(dialog)) {
        for (int i = 0, n = ::GetMenuItemCount(bar); i < n; ++i) ::EnableMenuItem(bar, i, MF_BYPOSITION | MF_GRAYED);
        ::DrawMenuBar(dialog);
    }
}
