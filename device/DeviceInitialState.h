// The main window's decision for a device that a search or an update has
// just listed: may the carried firmware be installed, and if not, tell the
// user why, once per device.
//
// Thread: the main window's thread (the owner of `mainWindow`), right
// after CDeviceList::Add. Takes the record's and the list's locks one after
// the other, never together, and sends WM_SHOW_MESSAGE_DLG without holding
// any lock.
#pragma once

#include <cstdint>

#include "base/MessageWindow.h"
#include "device/DeviceList.h"

// Returns DEVICE_STATE_POSSIBLE or DEVICE_STATE_IMPOSSIBLE; storing it is
// the caller's business (CDeviceList::SetDeviceState). For an impossible
// update whose entry is not yet marked DEVICE_STATE_REPORTED, marks it and
// sends WM_SHOW_MESSAGE_DLG to `mainWindow` with the reason (string number)
// as wParam and `port` as lParam. Without a window nothing is marked, so
// the reason is still shown once a window asks.
//
// `port` and `device` should be the records the list holds for the entry
// (after Add they may differ from the ones handed to it).
uint8_t SetDeviceInitialState(const CInterfaceParameter& port, CDeviceParameter& device, CDeviceList& list,
                              IMessageWindow* mainWindow);

// The reason alone: 0 when an update is possible, else the string number
// of the message (IDS_USB_UPDATE_NOT_SUPPORTED or a CheckDeviceParameter
// result).
uint32_t GetInitialStateReason(const CInterfaceParameter& port, CDeviceParameter& device);
