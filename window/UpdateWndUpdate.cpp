// The update side of the main window's logic: starting an update, its two
// outcomes, the progress window an update thread asks for, the message
// dialog, and the update document's end.
#include "base/ResultCodes.h"
#include "base/WindowMessages.h"
#include "update/DeviceUpdateDoc.h"
#include "window/UpdateWndCore.h"

void CUpdateWndCore::OnStartDeviceUpdate() {
    if (!m_pSelectedPort || m_bClosing || m_bClosed) return;
    const int index = m_DeviceList.FindEntry(m_pSelectedPort.get());
    PortPtr port;
    DevicePtr device;
    if (index < 0 || !m_DeviceList.GetDeviceAt(index, &port, &device, nullptr) || !port || !device) return;
    if (!m_pUpdateDoc) m_pUpdateDoc = std::make_unique<CCustomUpdateDoc>(&m_Window, m_View.UpdateDialogs());
    uint8_t state = 0;
    m_DeviceList.GetDeviceAt(index, nullptr, nullptr, &state);
    m_DeviceList.SetDeviceState(port.get(), DEVICE_STATE_RUNNING);
    UpdateWnd();
    m_View.EnableStartUpdate(false);
    // The questions run nested event loops; a refusal reports while we wait.
    m_pStartingPort = port.get();
    m_StartingState = state;
    m_pUpdateDoc->StartDeviceUpdate(port, device);
    m_pStartingPort = nullptr;
    m_pRetiredDoc.reset();
}

LRESULT CUpdateWndCore::OnUpdateCanceled(const CInterfaceParameter* port, uint32_t code) {
    if (port == nullptr) return -1;
    if (code == 0 && port == m_pStartingPort) {
        // Refused before it began (a No to a question): nothing failed, the
        // row is what it was before the request.
        m_DeviceList.RestoreDeviceState(
            port, static_cast<uint8_t>(m_StartingState & ~(DEVICE_STATE_OLD | DEVICE_STATE_RUNNING)));
        UpdateWnd();
        if (m_pSelectedPort) OnActivateDevice(m_pSelectedPort);
        return 0;
    }
    m_DeviceList.SetDeviceState(port, DEVICE_STATE_FAILED);
    // Only the program's own result codes have a text worth a dialog; a
    // stop request closes without waiting for anyone to read it.
    if (IsResultCode(code) && (!m_bClosing || m_bCloseAsked))
        m_Window.SendMsg(WM_SHOW_MESSAGE_DLG, code, reinterpret_cast<LPARAM>(port));
    UpdateWnd();
    CloseIfUpdatesOver();
    return 0;
}

LRESULT CUpdateWndCore::OnUpdateFinished(const CInterfaceParameter* port, const DevicePtr* device) {
    if (port == nullptr || device == nullptr || !*device) return -1;
    PortPtr listedPort;
    const int existing = m_DeviceList.FindEntry(port);
    if (existing >= 0) m_DeviceList.GetDeviceAt(existing, &listedPort, nullptr, nullptr);
    if (!listedPort) listedPort = std::make_shared<CInterfaceParameter>(*port);
    const int index = m_DeviceList.Add(*device, listedPort, DEVICE_STATE_SUCCEEDED);
    PortPtr entryPort;
    DevicePtr entryDevice;
    if (index >= 0 && m_DeviceList.GetDeviceAt(index, &entryPort, &entryDevice, nullptr) && entryPort && entryDevice)
        m_DeviceList.SetDeviceState(entryPort.get(), SetDeviceInitialState(entryPort, entryDevice));
    UpdateWnd();
    CloseIfUpdatesOver();
    return 0;
}

LRESULT CUpdateWndCore::OnCreateDeviceUpdateWindow(WPARAM title, LPARAM thread) {
    const char* text = reinterpret_cast<const char*>(title);
    IProgressWindow* window = m_View.CreateProgressWindow(text ? text : "", reinterpret_cast<CObject*>(thread));
    return reinterpret_cast<LRESULT>(window);
}

LRESULT CUpdateWndCore::OnDestroyDeviceUpdateWindow(LPARAM window) {
    if (window == 0) return -1;
    return m_View.DestroyProgressWindow(reinterpret_cast<CObject*>(window)) < 0 ? -1 : 0;
}

LRESULT CUpdateWndCore::OnShowMessageDlg(uint32_t code, const CInterfaceParameter* port) {
    if (port == nullptr) return -1;
    // The port only identifies the entry; the dialog gets the list's records.
    PortPtr listedPort;
    DevicePtr device;
    const int index = m_DeviceList.FindEntry(port);
    if (index >= 0) m_DeviceList.GetDeviceAt(index, &listedPort, &device, nullptr);
    if (!listedPort) listedPort = std::make_shared<CInterfaceParameter>(*port);
    m_View.ShowMessageDialog(code, listedPort, device);
    return 0;
}

void CUpdateWndCore::StopDeviceUpdate() {
    // Stops every running update; each reports nothing. A document still
    // inside StartDeviceUpdate lives until that call returns.
    if (m_pStartingPort != nullptr)
        m_pRetiredDoc = std::move(m_pUpdateDoc);
    else
        m_pUpdateDoc.reset();
}
