#include "device/DeviceInitialState.h"

#include "base/StringIds.h"
#include "base/WindowMessages.h"

uint32_t GetInitialStateReason(const CInterfaceParameter& port, CDeviceParameter& device) {
    // Only the device's own version counts here: firmware below 04.000
    // cannot be updated over USB, whatever is carried.
    const double version = VersionToNumber(device.GetSoftwareVersion().substr(0, 6));
    for (const VersionChangeRow& row : VersionChangeTable()) {
        if (row.deviceFrom <= version && version <= row.deviceTo) {
            if (port.IsUsbPort() && (row.flags & VC_NO_USB_UPDATE)) return IDS_USB_UPDATE_NOT_SUPPORTED;
            break;
        }
    }
    return device.CheckDeviceParameter();
}

uint8_t SetDeviceInitialState(const CInterfaceParameter& port, CDeviceParameter& device, CDeviceList& list,
                              IMessageWindow* mainWindow) {
    const uint32_t reason = GetInitialStateReason(port, device);
    if (reason == 0) return DEVICE_STATE_POSSIBLE;
    if (mainWindow != nullptr && !(list.GetDeviceState(&port) & DEVICE_STATE_REPORTED) &&
        list.FindEntry(&port) >= 0) {
        list.SetDeviceState(&port, DEVICE_STATE_REPORTED);
        mainWindow->SendMsg(WM_SHOW_MESSAGE_DLG, static_cast<WPARAM>(reason),
                                reinterpret_cast<LPARAM>(&port));
    }
    return DEVICE_STATE_IMPOSSIBLE;
}
