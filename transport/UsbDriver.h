// CUsbDriver: opens a USB device by its ID and serial number and owns its
// I/O object (CUsbThread).
//
// After a worker of the I/O object ends with an error the device is closed
// and opened once more. That cannot happen on the ending worker (closing
// waits for both workers), so the worker hands the ended I/O object to a
// disposer thread of the driver, which deletes it, closes the device and
// reopens it; a failed reopen reaches the owner as RC_PORT_SYSTEM_ERROR.
//
// Threads and locks:
// - Init, WriteData, destructor: the owner's threads.
// - OnPortEvent: a worker of the I/O object; m_RxLock serialises event
//   handling and the reopen.
// - m_TxLock guards the I/O object pointer against WriteData; m_RxLock guards
//   the device fields and the data handler. Order: m_RxLock -> m_TxLock,
//   also in the destructor. Events are honoured only from the workers of the
//   current I/O object; an I/O object is destroyed without m_RxLock held.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "base/BaseObject.h"
#include "platform/SharedLibrary.h"
#include "transport/UsbThread.h"
#include "usb/ftd2xx.h"

class CUsbDriver : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CUsbDriver)

    CUsbDriver() = default;
    ~CUsbDriver() override;

    // 87 for a null library or serial number; a bind failure; 55 when the
    // device is not in the library's list; else the open's result.
    uint32_t Init(const platform::SharedLibrary* library, uint32_t deviceId, const char* serialNumber);
    uint32_t OpenPort();
    void ClosePort();
    uint32_t WriteData(const CByteBuffer& data);
    void SetDataHandler(DataHandlerFn handler, CObject* user) override;

    static void OnPortEvent(uint32_t event, uint32_t data, CObject* context);

private:
    struct OpenDevice {
        std::unique_ptr<CUsbThread> io;
        FT_HANDLE handle = nullptr;
    };
    void DoOnPortEvent(uint32_t event, uint32_t data);
    // Takes the I/O object and the handle out of the driver (m_RxLock held).
    OpenDevice DetachDevice();
    // Stops the workers, then closes the handle. Called without m_RxLock:
    // a worker may be waiting for it to deliver its last event.
    void CloseDevice(OpenDevice device);
    void Reopen(uint32_t deviceId, std::string serialNumber);

    PFN_FT_OpenEx m_pOpenEx = nullptr;
    PFN_FT_Close m_pClose = nullptr;
    PFN_FT_SetLatencyTimer m_pSetLatencyTimer = nullptr;
    PFN_FT_CreateDeviceInfoList m_pCreateDeviceInfoList = nullptr;
    PFN_FT_GetDeviceInfoList m_pGetDeviceInfoList = nullptr;
    const platform::SharedLibrary* m_pLibrary = nullptr;  // borrowed from the interface
    uint32_t m_dwDeviceId = 0;
    std::string m_SerialNumber;
    FT_HANDLE m_hDevice = nullptr;
    std::unique_ptr<CUsbThread> m_pIoObject;  // guarded by m_TxLock and m_RxLock
    DataHandlerFn m_pDataHandler = nullptr;   // guarded by m_RxLock
    CObject* m_pDataUser = nullptr;
    std::atomic<bool> m_bDisposerDone{true};  // the disposer has finished its reopen
    std::thread m_Disposer;  // reopens after a worker error; joined before the next and at the end
    CObjectLock m_TxLock;
    CObjectLock m_RxLock;
};
