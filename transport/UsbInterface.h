// CUsbInterface: the port interface of the USB port kind. It loads the USB
// library that start-up wrote, lists the devices of the library's device
// list (a pause of 200 ms after each) and opens one through a CUsbDriver.
//
// Threads and locks:
// - Init, SendData, StartPortEnumeration, destructor: the owner's threads.
//   m_TxLock serialises SendData (and the driver pointer against it).
// - OnDriverEvent: a worker of the driver's I/O object; m_RxLock serialises
//   the handling of driver events. Order on that path: driver Rx ->
//   m_RxLock -> (next chunk) m_Lock -> m_TxLock -> driver Tx.
// - the enumeration thread raises IF_EVENT_PORT_FOUND without any lock.
// No library (the file was not written): the enumeration ends at once with
// 6 and Init returns 87, so USB instruments are simply not found.
#pragma once

#include <cstdint>
#include <memory>

#include "base/ObjectLock.h"
#include "platform/SharedLibrary.h"
#include "protocol/UpdateInterface.h"
#include "transport/PortEnumeration.h"
#include "transport/UsbDriver.h"
#include "usb/ftd2xx.h"

class CUsbInterface : public CUpdateInterface {
public:
    KORVA_RUNTIME_CLASS(CUsbInterface)

    static constexpr uint32_t kEnumerationPauseMs = 200;

    CUsbInterface(InterfaceEventFn callback, CObject* context);
    ~CUsbInterface() override;

    uint32_t SendData(const CByteBuffer& data) override;
    uint32_t Init(CInterfaceParameter* port) override;
    platform::Thread* StartPortEnumeration(CInterfaceParameter* portTemplate) override;
    bool HasLibrary() const { return m_pCreateDeviceInfoList != nullptr; }
    bool IsEnumerating() const { return m_Enumeration.IsRunning(); }

    static uint32_t Execute(CObject* argument);
    static void OnDriverEvent(uint32_t event, uint32_t data, CObject* context);

private:
    void DoOnDriverEvent(uint32_t event, uint32_t data);

    PFN_FT_CreateDeviceInfoList m_pCreateDeviceInfoList = nullptr;
    PFN_FT_GetDeviceInfoList m_pGetDeviceInfoList = nullptr;
    platform::SharedLibrary m_Library;
    std::unique_ptr<CUsbDriver> m_pDriver;  // guarded by m_TxLock
    CPortEnumeration m_Enumeration;
    CObjectLock m_RxLock;
    CObjectLock m_TxLock;
};
