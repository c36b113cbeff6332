#include "transport/UsbInterface.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "base/ResultCodes.h"
#include "base/Strings.h"
#include "platform/Clock.h"
#include "platform/SysError.h"
#include "transport/InterfaceParameter.h"
#include "transport/UsbLibraryFile.h"

CUsbInterface::CUsbInterface(InterfaceEventFn callback, CObject* context)
    : CUpdateInterface(callback, context) {
    if (LoadUsbLibrary(m_Library) != 0) return;
    m_pCreateDeviceInfoList = m_Library.Bind<PFN_FT_CreateDeviceInfoList>("FT_CreateDeviceInfoList");
    m_pGetDeviceInfoList = m_Library.Bind<PFN_FT_GetDeviceInfoList>("FT_GetDeviceInfoList");
    if (!m_pCreateDeviceInfoList || !m_pGetDeviceInfoList) {
        // The module stays loaded, but without both calls there is no list.
        m_pCreateDeviceInfoList = nullptr;
        m_pGetDeviceInfoList = nullptr;
    }
}

CUsbInterface::~CUsbInterface() {
    // No time-out may call into this object while it is taken apart.
    CloseProtocol();
    // Rx before Tx: a driver event may hold the Rx lock and send the next
    // chunk through the Tx lock.
    if (!m_RxLock.Lock()) LogMessage(this, "RxLock failed", "~CUsbInterface", true);
    if (!m_TxLock.Lock()) LogMessage(this, "Tx-Lock failed", "~CUsbInterface", true);
    std::unique_ptr<CUsbDriver> driver = std::move(m_pDriver);
    m_TxLock.Close();
    m_RxLock.Close();
    m_TxLock.Unlock();
    m_RxLock.Unlock();
    // Deleted without our locks held: its workers' last events fail at them.
    driver.reset();
    m_Enumeration.WaitAndClose();
}

uint32_t CUsbInterface::Init(CInterfaceParameter* port) {
    if (port == nullptr || !port->IsUsbPort() || !HasLibrary()) return ERROR_INVALID_PARAMETER;
    uint32_t deviceId = 0;
    char serial[10] = {};
    if (const uint32_t rc = port->GetUsbId(&deviceId, serial)) return rc;
    {
        CObjectLockGuard guard(m_TxLock);
        if (!guard) return ERROR_NOACCESS;
        if (m_pDriver) return 0;
    }
    // Opened without the Tx lock: the new driver's workers may already
    // report through the Rx path, which comes before the Tx lock.
    auto driver = std::make_unique<CUsbDriver>();
    driver->SetEventHandler(&CUsbInterface::OnDriverEvent, this);
    driver->SetDataHandler(&CUpdateInterface::OnDataReceived, this);
    const uint32_t rc = driver->Init(&m_Library, deviceId, serial);
    if (rc != 0) return rc;  // the driver is deleted on the way out
    CObjectLockGuard guard(m_TxLock);
    if (!guard) return ERROR_NOACCESS;
    if (!m_pDriver) m_pDriver = std::move(driver);
    return 0;
}

uint32_t CUsbInterface::SendData(const CByteBuffer& data) {
    CObjectLockGuard guard(m_TxLock);
    if (!guard) return ERROR_NOACCESS;
    return m_pDriver ? m_pDriver->WriteData(data) : ERROR_NOACCESS;
}

platform::Thread* CUsbInterface::StartPortEnumeration(CInterfaceParameter* /*portTemplate*/) {
    return m_Enumeration.Start([this] { return Execute(this); });
}

uint32_t CUsbInterface::Execute(CObject* argument) {
    auto* self = CObject::DownCast<CUsbInterface>(argument);
    if (self == nullptr) return ERROR_NOACCESS;
    if (!self->HasLibrary()) return ERROR_INVALID_HANDLE;
    DWORD count = 0;
    if (const uint32_t rc = MapUsbStatus(self->m_pCreateDeviceInfoList(&count))) return rc;
    std::vector<FT_DEVICE_LIST_INFO_NODE> records(count);
    if (count != 0) {
        if (const uint32_t rc = MapUsbStatus(self->m_pGetDeviceInfoList(records.data(), &count))) return rc;
    }
    records.resize(std::min<size_t>(count, records.size()));
    uint32_t result = 0;
    const CByteBuffer empty;
    for (const auto& record : records) {
        char serial[sizeof record.SerialNumber + 1] = {};
        std::memcpy(serial, record.SerialNumber, sizeof record.SerialNumber);
        auto* port = new (std::nothrow) CInterfaceParameter;
        if (port == nullptr) {
            result = 1;
            continue;
        }
        port->SetUsbPort(record.ID, serial);
        // The receiver owns the record from here on.
        self->DoOnInterfaceEvent(IF_EVENT_PORT_FOUND, reinterpret_cast<uintptr_t>(port), empty);
        // The library needs this pause between the devices it reports.
        platform::Sleep(kEnumerationPauseMs);
    }
    return result;
}

void CUsbInterface::OnDriverEvent(uint32_t event, uint32_t data, CObject* context) {
    if (auto* self = CObject::DownCast<CUsbInterface>(context)) self->DoOnDriverEvent(event, data);
}

void CUsbInterface::DoOnDriverEvent(uint32_t event, uint32_t data) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return;
    switch (event) {
        case RC_PORT_DATA_WRITTEN:
            // No transmit-empty event on USB: a finished write paces the next chunk.
            HandleWriteTermination(data);
            HandleEmptyTransmitBuffer();
            break;
        case RC_PORT_SYSTEM_ERROR:
            DoOnPortError(IF_EVENT_SYSTEM_ERROR, platform::SystemErrorText(data, GetUserLanguage()));
            break;
        default:
            break;  // RC_PORT_STATE_CHANGED and the rest are not the owner's business
    }
}
