// The main window's logic: its life, the message dispatch, the row
// selection and the rows the view shows.
#include "window/UpdateWndCore.h"

#include "base/WindowMessages.h"
#include "search/DeviceSearchDoc.h"
#include "update/DeviceUpdateDoc.h"

CUpdateWndCore::CUpdateWndCore(CMessageWindow& window, IUpdateWndView& view, bool usbLibraryCreated)
    : m_Window(window), m_View(view), m_bUsbLibraryCreated(usbLibraryCreated) {
    m_Menu.usbActivate = m_bUsbLibraryCreated;
}

CUpdateWndCore::~CUpdateWndCore() {
    if (!m_bClosed) {
        // A window that goes without OnCancel still stops everything it runs.
        SwitchAllKindsOff();
        StopDeviceUpdate();
        StopDeviceSearch();
    }
    m_pSearchDoc.reset();
    if (LockForDestruction(m_Lock, this)) m_Lock.Unlock();
    m_Lock.Close();
}

CMessageWindow::Handler CUpdateWndCore::Handler() {
    return [this](uint32_t msg, WPARAM wParam, LPARAM lParam) { return Dispatch(msg, wParam, lParam); };
}

LRESULT CUpdateWndCore::Dispatch(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    // --- search (UpdateWndSearch.cpp) ---
    case WM_START_DEVICE_SEARCH:
        return OnStartDeviceSearch();
    case WM_DEVICE_SEARCH_STEP:
        return OnDeviceSearchStep(static_cast<uint16_t>(wParam & 0xFFFF));
    case WM_DEVICE_SEARCH_CANCELED:
        return OnDeviceSearchCanceled();
    case WM_DEVICE_SEARCH_FINISHED:
        return OnDeviceSearchFinished(reinterpret_cast<const DevicePtr*>(wParam),
                                      reinterpret_cast<const PortPtr*>(lParam));
    case WM_DEVICE_SEARCH_ERROR:
        return OnDeviceSearchError();
    // --- update (UpdateWndUpdate.cpp) ---
    case WM_UPDATE_CANCELED:
        return OnUpdateCanceled(reinterpret_cast<const CInterfaceParameter*>(wParam),
                                static_cast<uint32_t>(lParam));
    case WM_UPDATE_FINISHED:
        return OnUpdateFinished(reinterpret_cast<const CInterfaceParameter*>(wParam),
                                reinterpret_cast<const DevicePtr*>(lParam));
    case WM_CREATE_DEVICE_UPDATE_WINDOW:
        return OnCreateDeviceUpdateWindow(wParam, lParam);
    case WM_DESTROY_DEVICE_UPDATE_WINDOW:
        return OnDestroyDeviceUpdateWindow(lParam);
    case WM_SHOW_MESSAGE_DLG:
        return OnShowMessageDlg(static_cast<uint32_t>(wParam), reinterpret_cast<const CInterfaceParameter*>(lParam));
    // --- closing (UpdateWndClosing.cpp) ---
    case WM_CLOSE_AFTER_UPDATES:
        if (m_bClosing && !m_bClosed) FinishClosing();
        return 0;
    default:
        return 0;
    }
}

void CUpdateWndCore::OnInitDialog() {
    m_Menu = CPortMenuState{};
    m_Menu.usbActivate = m_bUsbLibraryCreated;
    ApplyMenu();
    m_View.EnableStartUpdate(false);
    UpdateWnd();
}

void CUpdateWndCore::OnActivateDevice(const PortPtr& port) {
    m_pSelectedPort = port;
    const uint8_t state = port ? m_DeviceList.GetDeviceState(port.get()) : 0;
    m_View.EnableStartUpdate(port && (state & DEVICE_STATE_POSSIBLE) && !(state & DEVICE_STATE_RUNNING));
}

RowImage RowImageOfState(uint8_t state) {
    if (state & DEVICE_STATE_FAILED) return ROW_IMAGE_FAILED;
    if (state & DEVICE_STATE_SUCCEEDED) return ROW_IMAGE_SUCCEEDED;
    if (state & DEVICE_STATE_RUNNING) return ROW_IMAGE_RUNNING;
    if (state & DEVICE_STATE_IMPOSSIBLE) return ROW_IMAGE_IMPOSSIBLE;
    return ROW_IMAGE_POSSIBLE;
}

void CUpdateWndCore::UpdateWnd() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    if (m_DeviceList.TakeChangedFlag()) {
        std::vector<CDeviceRow> rows;
        PortPtr port;
        DevicePtr device;
        uint8_t state = 0;
        for (int i = 0; m_DeviceList.GetDeviceAt(i, &port, &device, &state); ++i) {
            CDeviceRow row;
            row.image = RowImageOfState(state);
            row.port = port;
            row.state = state;
            if (device) {
                row.device = device->GetHardwareDeviceName();
                row.type = device->GetDeviceType();
                row.version = device->GetSoftwareVersion();
            }
            if (port) row.address = port->GetName();
            rows.push_back(std::move(row));
        }
        m_View.SetRows(rows);
        if (rows.empty()) m_View.EnableStartUpdate(false);
    }
    if (m_bSearchRunning) {
        if (m_bProgressShown) {
            m_View.MoveSearchProgress(m_wSearchStep);
        } else {
            m_View.ShowSearchProgress(m_wSearchRange, m_wSearchStep);
            m_bProgressShown = true;
        }
    } else if (m_bProgressShown) {
        m_View.HideSearchProgress();
        m_bProgressShown = false;
    }
    // Only a selection enables the button.
    if (m_DeviceList.GetCount() == 0) m_View.EnableStartUpdate(false);
}
