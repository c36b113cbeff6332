#include "window/UpdateWndCore.h"

#include "base/ResultCodes.h"
#include "base/WindowMessages.h"
#include "device/DeviceInitialState.h"
#include "search/DeviceSearchDoc.h"
#include "update/DeviceUpdateDoc.h"

CUpdateWndCore::CUpdateWndCore(CMessageWindow& window, IUpdateWndView& view, bool usbLibraryCreated)
    : m_Window(window), m_View(view), m_bUsbLibraryCreated(usbLibraryCreated) {
    m_Menu.usbActivate = m_bUsbLibraryCreated;
}

CUpdateWndCore::~CUpdateWndCore() {
    if (!m_bClosed) {
        // A window that goes without OnCancel still stops everything it runs.
        m_bSerialOn = m_bUsbOn = m_bIpOn = 0;
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
    // --- search ---
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
    // --- update (UPDATE HOOKS, window/UpdateWndUpdate.cpp) ---
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
    case WM_CLOSE_AFTER_UPDATES:
        if (m_bClosing && !m_bClosed) FinishClosing();
        return 0;
    default:
        return 0;
    }
}

// --- user actions -------------------------------------------------------------

void CUpdateWndCore::OnInitDialog() {
    m_Menu = CPortMenuState{};
    m_Menu.usbActivate = m_bUsbLibraryCreated;
    ApplyMenu();
    m_View.EnableStartUpdate(false);
    UpdateWnd();
}

void CUpdateWndCore::OnCommand(uint32_t id) {
    switch (id) {
    case ID_SERIAL_ACTIVATE:
        SwitchSerial(true);
        break;
    case ID_SERIAL_DEACTIVATE:
        SwitchSerial(false);
        break;
    case ID_USB_ACTIVATE:
        SwitchUsb(true);
        break;
    case ID_USB_DEACTIVATE:
        SwitchUsb(false);
        break;
    case ID_IP_ACTIVATE:
        SwitchIp(true);
        break;
    case ID_IP_DEACTIVATE:
        SwitchIp(false);
        break;
    default:  // the options entries have no effect
        break;
    }
}

void CUpdateWndCore::OnActivateDevice(const PortPtr& port) {
    m_pSelectedPort = port;
    const uint8_t state = port ? m_DeviceList.GetDeviceState(port.get()) : 0;
    m_View.EnableStartUpdate(port && (state & DEVICE_STATE_POSSIBLE) && !(state & DEVICE_STATE_RUNNING));
}

void CUpdateWndCore::OnCancel(bool ask) {
    if (m_bClosed || m_bClosing) return;  // already closing: nothing more to decide
    const auto running = [this] { return m_pUpdateDoc && m_pUpdateDoc->GetThreadCount() > 0; };
    if (running()) {
        if (ask && !m_View.AskCloseWhileUpdating()) return;
        // A stop request may have closed while the question was open.
        if (m_bClosed || m_bClosing) return;
    }
    m_bCloseAsked = ask;
    m_bSerialOn = m_bUsbOn = m_bIpOn = 0;
    StopDeviceSearch();
    if (running()) {
        // An interrupted FLASH programming can leave the instrument unusable:
        // such an update goes on, everything else is cancelled.
        // Counted first: a cancelled update may report and leave the list at once.
        const int before = m_pUpdateDoc->GetThreadCount();
        const int going = m_pUpdateDoc->CancelUpdates();
        if (before > going)
            LogMessage(this, "Running updates were canceled at closing", nullptr, false);
        if (going > 0) {
            m_bClosing = true;
            LogMessage(this, "Closing waits for the update that programs the FLASH", nullptr, true);
            m_View.EnableStartUpdate(false);
            m_View.ShowClosingAfterUpdates();
            return;
        }
    }
    FinishClosing();
}

void CUpdateWndCore::FinishClosing() {
    m_bClosing = false;
    m_bSerialOn = m_bUsbOn = m_bIpOn = 0;
    StopDeviceUpdate();
    StopDeviceSearch();
    m_bClosed = true;
    LogMessage(this, "The programm was finished", nullptr, true);
    m_View.EndDialog();
}

void CUpdateWndCore::CloseIfUpdatesOver() {
    // The reporting thread has left the document's list already; the window
    // closes outside this report, whose sender waits for its answer.
    if (m_bClosing && !m_bClosed && (!m_pUpdateDoc || m_pUpdateDoc->GetThreadCount() == 0))
        m_Window.PostMessage(WM_CLOSE_AFTER_UPDATES, 0, 0);
}

// --- port kinds -----------------------------------------------------------------

bool CUpdateWndCore::SwitchSerial(bool on) {
    if (on == (m_bSerialOn != 0) || m_bClosed || m_bClosing) return false;
    // Unless the user confirms the notice nothing changes.
    if (on && !m_View.AskSerialSettingsNotice()) return false;
    if (m_bClosed || m_bClosing) return false;  // closed while the notice was open
    m_bSerialOn = on ? 1 : 0;
    ApplySwitch(on, m_Menu.serialActivate, m_Menu.serialDeactivate, m_Menu.serialChecked);
    return true;
}

bool CUpdateWndCore::SwitchUsb(bool on) {
    if (on == (m_bUsbOn != 0) || m_bClosed || m_bClosing) return false;
    if (on && !m_bUsbLibraryCreated) return false;  // the entry is greyed
    m_bUsbOn = on ? 1 : 0;
    ApplySwitch(on, m_Menu.usbActivate, m_Menu.usbDeactivate, m_Menu.usbChecked);
    return true;
}

bool CUpdateWndCore::SwitchIp(bool on) {
    if (on == (m_bIpOn != 0) || m_bClosed || m_bClosing) return false;
    m_bIpOn = on ? 1 : 0;
    ApplySwitch(on, m_Menu.ipActivate, m_Menu.ipDeactivate, m_Menu.ipChecked);
    return true;
}

void CUpdateWndCore::ApplySwitch(bool on, bool& activate, bool& deactivate, bool& checked) {
    activate = !on;
    deactivate = on;
    checked = on;
    ApplyMenu();
    // Both calls look at every kind: a search runs for each kind switched on.
    if (on) {
        StartDeviceSearch();
    } else {
        StopDeviceSearch();
    }
}

void CUpdateWndCore::StartDeviceSearch() {
    if (!m_pSearchDoc) m_pSearchDoc = std::make_unique<CDeviceSearchDoc>(&m_Window);
    CInterfaceParameter port;
    if (m_bSerialOn) {
        // A record ignores an empty name; the template only carries the kind.
        port.SetSerialPort("COM");
        m_pSearchDoc->StartDeviceSearch(port);
    }
    if (m_bUsbOn) {
        port.SetUsbPort(0, "");
        m_pSearchDoc->StartDeviceSearch(port);
    }
    if (m_bIpOn) {
        port.SetIPPort(0, m_wIpPort);
        m_pSearchDoc->StartDeviceSearch(port);
    }
}

void CUpdateWndCore::StopDeviceSearch() {
    if (m_pSearchDoc) {
        CInterfaceParameter port;
        if (!m_bSerialOn) {
            port.SetSerialPort("COM");
            m_pSearchDoc->StopDeviceSearch(port);
        }
        if (!m_bUsbOn) {
            port.SetUsbPort(0, "");
            m_pSearchDoc->StopDeviceSearch(port);
        }
        if (!m_bIpOn) {
            port.SetIPPort(0, 0);
            m_pSearchDoc->StopDeviceSearch(port);
        }
        if (!m_bSerialOn && !m_bUsbOn && !m_bIpOn) m_pSearchDoc.reset();
    }
}

void CUpdateWndCore::ApplyMenu() { m_View.SetPortMenu(m_Menu); }

// --- search notifications ---------------------------------------------------------

LRESULT CUpdateWndCore::OnStartDeviceSearch() {
    m_bSearchRunning = 1;
    m_wSearchRange = kSearchRange;
    m_wSearchStep = 0;
    m_DeviceList.SetEntrieStatesToOld();
    UpdateWnd();
    return 0;
}

LRESULT CUpdateWndCore::OnDeviceSearchStep(uint16_t step) {
    m_wSearchStep = step;
    if (step == m_wSearchRange + 1) {
        // The cycle's search is complete: what was not found again goes,
        // except a device under update.
        m_bSearchRunning = 0;
        m_DeviceList.RemoveOldListEntries();
    }
    UpdateWnd();
    return 0;
}

LRESULT CUpdateWndCore::OnDeviceSearchCanceled() {
    m_bSearchRunning = 0;
    UpdateWnd();
    return 0;
}

LRESULT CUpdateWndCore::OnDeviceSearchError() { return 0; }

LRESULT CUpdateWndCore::OnDeviceSearchFinished(const DevicePtr* device, const PortPtr* port) {
    if (device == nullptr || port == nullptr || !*device || !*port) return -1;
    const int index = m_DeviceList.Add(*device, *port, 0);
    if (index < 0) return 0;
    // The list may have kept the records it already held for this device.
    PortPtr listedPort;
    DevicePtr listedDevice;
    if (m_DeviceList.GetDeviceAt(index, &listedPort, &listedDevice, nullptr) && listedPort && listedDevice) {
        const uint8_t state = SetDeviceInitialState(listedPort, listedDevice);
        m_DeviceList.SetDeviceState(listedPort.get(), state);
    }
    UpdateWnd();
    return 0;
}

uint8_t CUpdateWndCore::SetDeviceInitialState(const PortPtr& port, const DevicePtr& device) {
    if (!port || !device) return DEVICE_STATE_IMPOSSIBLE;
    return ::SetDeviceInitialState(*port, *device, m_DeviceList, &m_Window);
}

// --- the window ---------------------------------------------------------------------

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
            row.image = (state & DEVICE_STATE_FAILED)      ? 4
                        : (state & DEVICE_STATE_SUCCEEDED)  ? 3
                        : (state & DEVICE_STATE_RUNNING)    ? 2
                        : (state & DEVICE_STATE_IMPOSSIBLE) ? 1
                                                            : 0;
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
