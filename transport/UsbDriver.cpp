#include "transport/UsbDriver.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/ResultCodes.h"
#include "platform/SysError.h"
#include "platform/Thread.h"

CUsbDriver::~CUsbDriver() {
    // Rx before Tx, the order every other path takes them in.
    if (!m_RxLock.Lock()) LogMessage(this, "Rx-Lock failed", "~CUsbDriver", true);
    if (!m_TxLock.Lock()) LogMessage(this, "Tx-Lock failed", "~CUsbDriver", true);
    OpenDevice device = DetachDevice();
    m_TxLock.Close();
    m_RxLock.Close();
    m_TxLock.Unlock();
    m_RxLock.Unlock();
    // A reopen in progress gives up at the shut-down lock; the workers' last
    // events fail there too.
    if (m_Disposer.joinable()) m_Disposer.join();
    CloseDevice(std::move(device));
    CloseDevice(DetachDevice());
}

uint32_t CUsbDriver::Init(const platform::SharedLibrary* library, uint32_t deviceId, const char* serialNumber) {
    if (library == nullptr || serialNumber == nullptr || !library->IsLoaded()) return ERROR_INVALID_PARAMETER;
    m_pOpenEx = library->Bind<PFN_FT_OpenEx>("FT_OpenEx");
    m_pClose = library->Bind<PFN_FT_Close>("FT_Close");
    m_pSetLatencyTimer = library->Bind<PFN_FT_SetLatencyTimer>("FT_SetLatencyTimer");
    m_pCreateDeviceInfoList = library->Bind<PFN_FT_CreateDeviceInfoList>("FT_CreateDeviceInfoList");
    m_pGetDeviceInfoList = library->Bind<PFN_FT_GetDeviceInfoList>("FT_GetDeviceInfoList");
    if (!m_pOpenEx || !m_pClose || !m_pSetLatencyTimer || !m_pCreateDeviceInfoList || !m_pGetDeviceInfoList) {
        const uint32_t rc = platform::GetLastError();
        m_pOpenEx = nullptr;
        m_pClose = nullptr;
        m_pSetLatencyTimer = nullptr;
        m_pCreateDeviceInfoList = nullptr;
        m_pGetDeviceInfoList = nullptr;
        return rc != 0 ? rc : ERROR_PROC_NOT_FOUND;
    }
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    m_pLibrary = library;
    m_dwDeviceId = deviceId;
    m_SerialNumber = serialNumber;
    const uint32_t rc = OpenPort();
    if (rc != 0) {
        guard.Unlock();
        ClosePort();
    }
    return rc;
}

uint32_t CUsbDriver::OpenPort() {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    DWORD count = 0;
    if (const uint32_t rc = MapUsbStatus(m_pCreateDeviceInfoList(&count))) return rc;
    std::vector<FT_DEVICE_LIST_INFO_NODE> records(count);
    if (count != 0) {
        if (const uint32_t rc = MapUsbStatus(m_pGetDeviceInfoList(records.data(), &count))) return rc;
        records.resize(std::min<size_t>(count, records.size()));
    }
    const FT_DEVICE_LIST_INFO_NODE* match = nullptr;
    for (const auto& record : records) {
        // The library's text may fill all 16 bytes; never read past them.
        const std::string serial(record.SerialNumber, strnlen(record.SerialNumber, sizeof record.SerialNumber));
        if (record.ID == m_dwDeviceId && serial == m_SerialNumber) {
            match = &record;
            break;
        }
    }
    if (match == nullptr) return ERROR_DEV_NOT_EXIST;
    char serial[sizeof match->SerialNumber + 1] = {};
    std::memcpy(serial, match->SerialNumber, sizeof match->SerialNumber);
    if (const uint32_t rc = MapUsbStatus(m_pOpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &m_hDevice))) {
        m_hDevice = nullptr;
        return rc;
    }
    if (const uint32_t rc = MapUsbStatus(m_pSetLatencyTimer(m_hDevice, 2))) return rc;
    CObjectLockGuard tx(m_TxLock);
    if (!tx) return ERROR_NOACCESS;
    if (m_pIoObject) return ERROR_NOACCESS;
    auto io = std::make_unique<CUsbThread>();
    io->SetEventHandler(&CUsbDriver::OnPortEvent, this);
    io->SetDataHandler(m_pDataHandler, m_pDataUser);
    const uint32_t rc = io->Init(m_pLibrary, m_hDevice);
    m_pIoObject = std::move(io);
    return rc;
}

CUsbDriver::OpenDevice CUsbDriver::DetachDevice() {
    OpenDevice device;
    {
        CObjectLockGuard tx(m_TxLock);
        device.io = std::move(m_pIoObject);
    }
    device.handle = m_hDevice;
    m_hDevice = nullptr;
    return device;
}

void CUsbDriver::CloseDevice(OpenDevice device) {
    device.io.reset();  // stops both workers before the handle goes
    if (device.handle != nullptr && m_pClose != nullptr) m_pClose(device.handle);
}

void CUsbDriver::ClosePort() {
    OpenDevice device;
    {
        CObjectLockGuard guard(m_RxLock);
        device = DetachDevice();
        m_dwDeviceId = 0;
        m_SerialNumber.clear();
    }
    CloseDevice(std::move(device));
}

uint32_t CUsbDriver::WriteData(const CByteBuffer& data) {
    CObjectLockGuard guard(m_TxLock);
    if (!guard) return ERROR_NOACCESS;
    return m_pIoObject ? m_pIoObject->WriteData(data) : ERROR_NOACCESS;
}

void CUsbDriver::SetDataHandler(DataHandlerFn handler, CObject* user) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return;
    m_pDataHandler = handler;
    m_pDataUser = user;
    CObjectLockGuard tx(m_TxLock);
    if (m_pIoObject) m_pIoObject->SetDataHandler(handler, user);
}

void CUsbDriver::OnPortEvent(uint32_t event, uint32_t data, CObject* context) {
    if (auto* driver = CObject::DownCast<CUsbDriver>(context)) driver->DoOnPortEvent(event, data);
}

void CUsbDriver::DoOnPortEvent(uint32_t event, uint32_t data) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return;
    {
        // A worker of an I/O object that was replaced or is being closed
        // has nothing more to say.
        CObjectLockGuard tx(m_TxLock);
        if (!m_pIoObject || !m_pIoObject->IsWorkerThread()) return;
    }
    if (event != RC_PORT_THREAD_TERMINATED) {
        RaiseEvent(event, data);
        return;
    }
    LogError(this, RC_PORT_THREAD_TERMINATED, "OnPortEvent");
    if (data == 0) return;  // a stop that someone asked for
    const uint32_t deviceId = m_dwDeviceId;
    const std::string serial = m_SerialNumber;
    // Only one reopen at a time; a second error while one runs (both workers
    // can fail at once) is the same failure. A running reopen waits for the
    // lock held here, so it is never joined here.
    if (m_Disposer.joinable()) {
        if (!m_bDisposerDone.load(std::memory_order_acquire)) return;
        m_Disposer.join();
    }
    m_bDisposerDone.store(false, std::memory_order_release);
    m_Disposer = std::thread([this, deviceId, serial] {
        Reopen(deviceId, serial);
        m_bDisposerDone.store(true, std::memory_order_release);
    });
}

void CUsbDriver::Reopen(uint32_t deviceId, std::string serialNumber) {
    OpenDevice ended;
    {
        CObjectLockGuard guard(m_RxLock);
        if (!guard) return;  // the driver is being destroyed
        ended = DetachDevice();
    }
    CloseDevice(std::move(ended));
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return;
    m_dwDeviceId = deviceId;
    m_SerialNumber = std::move(serialNumber);
    const uint32_t rc = OpenPort();
    if (rc != 0) {
        LogError(this, rc, "OnPortEvent");
        OpenDevice failed = DetachDevice();
        guard.Unlock();
        CloseDevice(std::move(failed));
        RaiseEvent(RC_PORT_SYSTEM_ERROR, rc);
    }
}
