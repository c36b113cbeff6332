// The update side of the main window's logic (UPDATE HOOKS of
// UpdateWndCore.h). The update document is not part of this library yet:
// until it is, an update cannot start and the update messages only do what
// needs no document.
#include "base/ResultCodes.h"
#include "window/UpdateWndCore.h"

void CUpdateWndCore::OnStartDeviceUpdate() {
    // UPDATE HOOK: look up m_pSelectedPort, create the update document,
    // mark the entry running and start the update.
}

LRESULT CUpdateWndCore::OnUpdateCanceled(const CInterfaceParameter* port, uint32_t code) {
    if (port == nullptr) return -1;
    // UPDATE HOOK
    return 0;
}

LRESULT CUpdateWndCore::OnUpdateFinished(const CInterfaceParameter* port, const DevicePtr* device) {
    if (port == nullptr || device == nullptr || !*device) return -1;
    // UPDATE HOOK
    return 0;
}

LRESULT CUpdateWndCore::OnCreateDeviceUpdateWindow(WPARAM title, LPARAM thread) {
    // UPDATE HOOK
    return 0;
}

LRESULT CUpdateWndCore::OnDestroyDeviceUpdateWindow(LPARAM window) {
    // UPDATE HOOK
    return 0;
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
    // UPDATE HOOK: delete the update document.
}
