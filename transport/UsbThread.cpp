#include "transport/UsbThread.h"

#include "base/ResultCodes.h"
#include "platform/SysError.h"

CUsbThread::CUsbThread() {
    for (platform::Event* e : {&m_hWriteEvent, &m_hReadEvent, &m_hTerminateEvent}) {
        if (!e->IsValid()) {
            LogError(this, platform::GetLastError(), "CUsbThread");
            break;
        }
    }
}

CUsbThread::~CUsbThread() {
    // The locks are shut down without being taken first: a worker may hold
    // one while it waits for the owner, and the owner is here.
    m_TxLock.Close();
    m_RxLock.Close();
    m_dwTerminate = 1;
    if (const uint32_t rc = m_hTerminateEvent.Set()) LogError(this, rc, "~CUsbThread");
    // The workers leave at their next wait; neither can block on this
    // thread, which holds none of their locks.
    if (!m_RxThread.Join(platform::kInfinite) || !m_TxThread.Join(platform::kInfinite)) {
        LogError(this, ERROR_INVALID_HANDLE, "~CUsbThread");
    }
    // The library must stop signalling the read event before it is closed:
    // the device stays open until the driver closes it, and a signal into a
    // closed (or reused) descriptor would write into something else.
    if (m_hDevice != nullptr && m_pSetEventNotification != nullptr) m_pSetEventNotification(m_hDevice, 0, nullptr);
}

uint32_t CUsbThread::Init(const platform::SharedLibrary* library, FT_HANDLE device) {
    if (device == nullptr) return ERROR_INVALID_PARAMETER;
    if (m_hDevice != nullptr) return ERROR_ACCESS_DENIED;
    if (!m_hWriteEvent.IsValid() || !m_hReadEvent.IsValid() || !m_hTerminateEvent.IsValid()) {
        return ERROR_INVALID_HANDLE;
    }
    if (library == nullptr || !library->IsLoaded()) return ERROR_INVALID_PARAMETER;
    m_pRead = library->Bind<PFN_FT_Read>("FT_Read");
    m_pWrite = library->Bind<PFN_FT_Write>("FT_Write");
    m_pGetQueueStatus = library->Bind<PFN_FT_GetQueueStatus>("FT_GetQueueStatus");
    m_pSetEventNotification = library->Bind<PFN_FT_SetEventNotification>("FT_SetEventNotification");
    if (!m_pRead || !m_pWrite || !m_pGetQueueStatus || !m_pSetEventNotification) {
        m_pRead = nullptr;
        m_pWrite = nullptr;
        m_pGetQueueStatus = nullptr;
        m_pSetEventNotification = nullptr;
        return ERROR_PROC_NOT_FOUND;
    }
    // The library signals this event when characters arrive.
    const FT_STATUS status = m_pSetEventNotification(
        device, FT_EVENT_RXCHAR, m_hReadEvent.NotificationHandle());
    if (status != FT_OK) return MapUsbStatus(status);
    m_hDevice = device;
    uint32_t rc = m_RxThread.Start([this] { return RxExecute(); }, platform::Thread::Priority::kAboveNormal);
    if (rc == 0) rc = m_TxThread.Start([this] { return TxExecute(); }, platform::Thread::Priority::kAboveNormal);
    if (rc != 0) {
        m_dwTerminate = 1;
        m_hTerminateEvent.Set();
        m_RxThread.Join();
        m_hDevice = nullptr;
        LogError(this, rc, "Init");
    }
    return rc;
}

uint32_t CUsbThread::WriteData(const CByteBuffer& data) {
    if (m_dwWriteBusy) return ERROR_IO_PENDING;
    CObjectLockGuard guard(m_TxLock);
    if (!guard) return ERROR_NOACCESS;
    m_dwWriteBusy = 1;
    if (!m_TransmitBuffer.Append(data)) {
        m_dwWriteBusy = 0;
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (const uint32_t rc = m_hWriteEvent.Set()) {
        LogMessage(this, "::SetEvent failed", "WriteData", true);
        m_TransmitBuffer.Empty();
        m_dwWriteBusy = 0;
        return rc;
    }
    return 0;
}

uint32_t CUsbThread::RxExecute() {
    uint32_t result = 0;
    while (m_dwTerminate == 0 && result == 0) {
        // Sleeps until the library reports characters or a stop is requested.
        const uint32_t which = platform::WaitForAny({&m_hTerminateEvent, &m_hReadEvent}, platform::kInfinite);
        if (which == 1) {
            result = ReadDataFromPort();
        } else if (which != 0) {
            LogMessage(this, "::WaitForMultipleObjects failed", "RxExecute", true);
            result = platform::GetLastError();
        }
    }
    if (result != 0) LogError(this, result, "RxExecute");
    RaiseEvent(RC_PORT_THREAD_TERMINATED, result);
    return result;
}

uint32_t CUsbThread::TxExecute() {
    uint32_t result = 0;
    while (m_dwTerminate == 0 && result == 0) {
        // Sleeps until WriteData queued bytes or a stop is requested.
        const uint32_t which = platform::WaitForAny({&m_hTerminateEvent, &m_hWriteEvent}, platform::kInfinite);
        if (which == 1) {
            result = WriteDataToPort();
        } else if (which != 0) {
            LogMessage(this, "::WaitForMultipleObjects failed", "TxExecute", true);
            result = platform::GetLastError();
        }
    }
    if (result != 0) LogError(this, result, "TxExecute");
    RaiseEvent(RC_PORT_THREAD_TERMINATED, result);
    return result;
}

uint32_t CUsbThread::ReadDataFromPort() {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    DWORD waiting = 0;
    uint32_t result = MapUsbStatus(m_pGetQueueStatus(m_hDevice, &waiting));
    if (result != 0 || waiting == 0) return result;
    uint8_t* room = m_ReceiveBuffer.Reserve(waiting);
    if (room == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD read = 0;
    result = MapUsbStatus(m_pRead(m_hDevice, room, waiting, &read));
    m_ReceiveBuffer.SetLength(static_cast<long>(read));
    if (result != 0) {
        m_ReceiveBuffer.Empty();
        return result;
    }
    DeliverData(m_ReceiveBuffer);
    m_ReceiveBuffer.Empty();
    if (MapUsbStatus(m_pGetQueueStatus(m_hDevice, &waiting)) == 0 && waiting > 0) {
        if (const uint32_t rc = m_hReadEvent.Set()) {
            LogMessage(this, "::SetEvent failed", "ReadDataFromPort", true);
            return rc;
        }
    }
    return 0;
}

uint32_t CUsbThread::WriteDataToPort() {
    DWORD written = 0;
    {
        CObjectLockGuard guard(m_TxLock);
        if (!guard) return ERROR_NOACCESS;
        if (m_TransmitBuffer.IsEmpty()) return 0;
        const DWORD length = static_cast<DWORD>(m_TransmitBuffer.GetLength());
        const uint32_t result =
            MapUsbStatus(m_pWrite(m_hDevice, m_TransmitBuffer.GetData(), length, &written));
        if (result != 0) return result;
        written = std::min(written, length);
        m_TransmitBuffer.RemoveLeft(written);
        const bool rest = !m_TransmitBuffer.IsEmpty();
        m_dwWriteBusy = rest ? 1 : 0;
        // The rest follows at once.
        if (rest) {
            if (const uint32_t rc = m_hWriteEvent.Set()) {
                LogMessage(this, "::SetEvent failed", "WriteDataToPort", true);
                return rc;
            }
        }
    }
    RaiseEvent(RC_PORT_DATA_WRITTEN, written);
    return 0;
}
