// The search side of the main window's logic: a search cycle's start,
// steps and end, and the devices it finds.
#include "device/DeviceInitialState.h"
#include "window/UpdateWndCore.h"

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
