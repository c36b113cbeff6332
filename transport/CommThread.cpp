#include "transport/CommThread.h"

#include <cstdio>
#include <string>

#include "base/ResultCodes.h"
#include "base/Wait.h"
#include "platform/SysError.h"

namespace {

// Slots of the worker's wait; the order is the priority.
enum : uint32_t {
    kTerminate = 0,
    kWriteDone = 1,
    kReadDone = 2,
    kReadRequest = 3,
    kCommEvent = 4,  // and kCommEvent + 1: the port's comm waitables
    kWriteRequest = 4 + platform::ISerialPort::kCommWaitables,
    kWaitCount
};

}  // namespace

CCommThread::CCommThread() {
    for (platform::Event* e : {&m_hWriteEvent, &m_hReadEvent, &m_hTerminateEvent}) {
        if (!e->IsValid()) LogError(this, platform::GetLastError(), "CCommThread");
    }
}

CCommThread::~CCommThread() { Stop(); }

void CCommThread::Stop() {
    if (m_Thread.IsCurrent()) return;  // never waits on itself
    // Shut down without taking them first: the worker may hold the Rx lock
    // and wait for the Tx lock, and a closed lock fails that wait at once.
    m_TxLock.Close();
    m_RxLock.Close();
    m_bTerminate.store(1, std::memory_order_release);
    if (const uint32_t rc = m_hTerminateEvent.Set()) LogError(this, rc, "~CCommThread");
    if (m_Thread.IsStarted() && !m_bStopped) {
        m_bStopped = true;
        // Until the worker leaves its last handler; it may be blocked in a
        // send to a window of this thread, which this wait keeps serving.
        if (WaitPumpingSends(m_Thread.Finished(), platform::kInfinite) != 0)
            LogError(this, platform::GetLastError(), "~CCommThread");
        m_Thread.Join();
        if (const uint32_t code = m_Thread.ExitCode()) LogError(this, code, "~CCommThread - ExitCode");
    }
}

void CCommThread::LogFailure(const char* text, const char* method) const {
    LogMessage(this, text, method, true);
}

uint32_t CCommThread::Init(platform::ISerialPort* port) {
    if (port == nullptr) return ERROR_INVALID_PARAMETER;
    if (m_pPort != nullptr) return ERROR_ACCESS_DENIED;
    if (!m_hWriteEvent.IsValid() || !m_hReadEvent.IsValid() || !m_hTerminateEvent.IsValid())
        return ERROR_INVALID_HANDLE;
    m_pPort = port;
    // Above normal so that received bytes are fetched promptly at 115200.
    const uint32_t rc = m_Thread.Start([this] { return Execute(); }, platform::Thread::Priority::kAboveNormal);
    if (rc != 0) {
        m_pPort = nullptr;
        LogError(this, rc, "Init");
        return rc;
    }
    m_dwThreadId = m_Thread.Id();
    return 0;
}

uint32_t CCommThread::WriteData(const CByteBuffer& data) {
    if (m_bWriteBusy.load(std::memory_order_acquire)) return ERROR_IO_PENDING;
    if (!m_TxLock.Lock()) return ERROR_NOACCESS;
    // Again under the lock: two callers may both have passed the first
    // look, and the worker may still be sending from the buffer.
    if (m_bWriteBusy.load(std::memory_order_acquire)) {
        m_TxLock.Unlock();
        return ERROR_IO_PENDING;
    }
    uint32_t result = 0;
    m_bWriteBusy.store(1, std::memory_order_release);
    if (!m_TxBuffer.Copy(data)) {
        m_bWriteBusy.store(0, std::memory_order_release);
        result = ERROR_NOT_ENOUGH_MEMORY;
    } else if (const uint32_t rc = m_hWriteEvent.Set()) {
        LogFailure("::SetEvent failed", "WriteData");
        m_TxBuffer.Empty();
        m_bWriteBusy.store(0, std::memory_order_release);
        result = rc;
    }
    m_TxLock.Unlock();
    return result;
}

void CCommThread::Abandon() {
    SetEventHandler(nullptr, nullptr);
    SetDataHandler(nullptr, nullptr);
    m_bTerminate.store(1, std::memory_order_release);
    m_hTerminateEvent.Set();
}

uint32_t CCommThread::Execute() {
    uint32_t result = 0;
    while (m_bTerminate.load(std::memory_order_acquire) == 0 && result == 0) result = WaitForCommEvents();
    if (result != 0) LogError(this, result, "Execute");
    RaiseEvent(RC_PORT_THREAD_TERMINATED, result);
    return result;
}

uint32_t CCommThread::WaitForCommEvents() {
    if (m_bCommWaitPending == 1) return WaitForPortEvents();
    const uint32_t rc = m_pPort->WaitCommEvent(&m_dwEventMask);
    if (rc == 0) return ProcessPortEvent(false);
    if (rc == ERROR_IO_PENDING) {
        m_bCommWaitPending = 1;
        return WaitForPortEvents();
    }
    LogFailure("::WaitCommEvent failed", "WaitForCommEvents");
    return rc;
}

// One flat wait: a write or read still running never blocks the other
// slots, and the lowest ready slot wins.
uint32_t CCommThread::WaitForPortEvents() {
    platform::Waitable items[kWaitCount];
    const platform::Waitable none = platform::Waitable::Never();
    items[kTerminate] = platform::Waitable::Of(m_hTerminateEvent);
    items[kWriteDone] = m_bWritePending ? m_pPort->GetWriteWaitable() : none;
    items[kReadDone] = none;
    items[kReadRequest] = platform::Waitable::Of(m_hReadEvent);
    if (m_bCommWaitPending) {
        m_pPort->GetCommWaitables(&items[kCommEvent]);
    } else {
        for (size_t i = 0; i < platform::ISerialPort::kCommWaitables; ++i) items[kCommEvent + i] = none;
    }
    // A write request waits while the previous write is still running.
    items[kWriteRequest] = m_bWritePending ? none : platform::Waitable::Of(m_hWriteEvent);

    // Sleeps until a request, a port event or the stop request; no limit,
    // the terminate event is the way out.
    const uint32_t index = platform::WaitForAny(items, kWaitCount, platform::kInfinite);
    if (index == platform::kWaitFailed) {
        const uint32_t rc = platform::GetLastError();
        LogFailure("::WaitForMultipleObjects failed", "WaitForPortEvents");
        return rc != 0 ? rc : ERROR_GEN_FAILURE;
    }
    switch (index) {
        case kTerminate: return 0;
        case kWriteDone: return ProcessWriteEvent();
        case kReadRequest: return ReadDataFromPort();
        case kWriteRequest: return WriteDataToPort();
        default:
            if (index >= kCommEvent && index < kWriteRequest) return ProcessPortEvent(true);
            return 0;
    }
}

uint32_t CCommThread::ProcessPortEvent(bool fromWait) {
    m_bCommWaitPending = 0;
    if (fromWait) {
        if (const uint32_t rc = m_pPort->GetCommEventResult(&m_dwEventMask)) {
            LogFailure("::GetOverlappedResult failed", "ProcessPortEvent");
            return rc;
        }
    }
    uint32_t errors = 0;
    COMSTAT status;
    if (const uint32_t rc = m_pPort->ClearCommError(&errors, &status)) {
        LogFailure("::ClearCommError failed", "ProcessPortEvent");
        return rc;
    }
    if ((m_dwEventMask & (EV_BREAK | EV_ERR)) && errors != 0) {
        char head[95];
        std::snprintf(head, sizeof head,
                      "Error: 0x%08X\r\nStatus: read buffer %u byte(s), write buffer %u byte(s)", errors,
                      static_cast<unsigned>(status.cbInQue), static_cast<unsigned>(status.cbOutQue));
        std::string text = head;
        if (status.fDsrHold) text += ", waiting for DSR";
        if (status.fCtsHold) text += ", waiting for CTS";
        if (status.fRlsdHold) text += ", waiting for DCD";
        if (status.fXoffHold) text += ", XOff was received";
        if (status.fXoffSent) text += ", XOff was sent";
        if (status.fEof) text += ", EOF was received";
        if (status.fTxim) text += ", special character is queued for transmission";
        LogFailure(text.c_str(), "ProcessPortEvent");
        if (m_RxLock.Lock()) {
            RaiseEvent(RC_PORT_ERROR, errors);
            m_RxLock.Unlock();
        }
    }
    if (m_dwEventMask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING)) {
        uint32_t modem = 0;
        if (const uint32_t rc = m_pPort->GetCommModemStatus(&modem)) {
            LogFailure("::GetCommModemStatus failed", "ProcessPortEvent");
            return rc;
        }
        if (m_RxLock.Lock()) {
            RaiseEvent(RC_PORT_STATE_CHANGED, modem);
            m_RxLock.Unlock();
        }
    }
    if (m_dwEventMask & (EV_RXCHAR | EV_RXFLAG)) {
        bool request = false;
        if (m_RxLock.Lock()) {
            m_dwBytesToRead += status.cbInQue;
            request = m_dwBytesToRead != 0;
            m_RxLock.Unlock();
        }
        if (request) {
            if (const uint32_t rc = m_hReadEvent.Set()) {
                LogFailure("::SetEvent failed", "ProcessPortEvent");
                return rc;
            }
        }
    }
    if (m_dwEventMask & EV_TXEMPTY) {
        m_bWriteBusy.store(0, std::memory_order_release);
        if (m_RxLock.Lock()) {
            RaiseEvent(RC_PORT_TX_EMPTY, 0);
            m_RxLock.Unlock();
        }
    }
    return 0;
}

uint32_t CCommThread::WriteDataToPort() {
    if (m_bWritePending == 1) return 0;  // its completion comes through the write slot
    if (m_TxLock.Lock()) {
        if (m_TxBuffer.IsEmpty()) {
            m_TxLock.Unlock();
        } else {
            uint32_t written = 0;
            const uint32_t rc = m_pPort->Write(m_TxBuffer.GetData(),
                                               static_cast<uint32_t>(m_TxBuffer.GetLength()), &written);
            if (const uint32_t result = ProcessWriteFunctionResult(rc, written)) return result;
        }
    }
    return 0;
}

uint32_t CCommThread::ProcessWriteEvent() {
    m_bWritePending = 0;
    if (!m_TxLock.Lock()) return 0;
    uint32_t written = 0;
    const uint32_t rc = m_pPort->GetWriteResult(&written);
    return ProcessWriteFunctionResult(rc, written);
}

// Entered with the Tx lock held; leaves it released.
uint32_t CCommThread::ProcessWriteFunctionResult(uint32_t error, uint32_t written) {
    uint32_t result = 0;
    switch (error) {
        case 0:
            RaiseEvent(RC_PORT_DATA_WRITTEN, written);
            break;
        case ERROR_IO_PENDING:
            // The buffer and the busy mark stay until the write completes.
            m_bWritePending = 1;
            m_TxLock.Unlock();
            return 0;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_INVALID_USER_BUFFER:
            RaiseEvent(RC_PORT_DATA_WRITTEN, written);
            break;
        case ERROR_OPERATION_ABORTED:
            break;
        default:
            LogFailure("Operation failed", "ProcessWriteFunctionResult");
            result = error;
            break;
    }
    m_TxBuffer.Empty();
    m_bWriteBusy.store(0, std::memory_order_release);
    m_TxLock.Unlock();
    return result;
}

uint32_t CCommThread::ReadDataFromPort() {
    if (m_bReadPending == 1) return 0;
    if (!m_RxLock.Lock()) return 0;
    if (m_dwBytesToRead == 0) {
        m_RxLock.Unlock();
        return 0;
    }
    const uint32_t asked = m_dwBytesToRead;
    uint32_t read = 0;
    uint32_t rc = ERROR_NOT_ENOUGH_MEMORY;
    if (uint8_t* data = m_RxBuffer.Reserve(asked)) rc = m_pPort->Read(data, asked, &read);
    return ProcessReadFunctionResult(rc, read, asked);
}

// Entered with the Rx lock held; leaves it released.
uint32_t CCommThread::ProcessReadFunctionResult(uint32_t error, uint32_t read, uint32_t asked) {
    uint32_t result = 0;
    switch (error) {
        case 0:
            m_RxBuffer.SetLength(read);
            m_dwBytesToRead -= read;
            DeliverData(m_RxBuffer);
            if (read < asked) {
                // The queue held less than counted (purged meanwhile): count
                // only what is really there, or the thread would read an
                // empty queue again and again.
                COMSTAT status;
                if (m_pPort->ClearCommError(nullptr, &status) == 0 && status.cbInQue < m_dwBytesToRead)
                    m_dwBytesToRead = status.cbInQue;
            }
            break;
        case ERROR_HANDLE_EOF:
            m_RxBuffer.SetLength(read);
            DeliverData(m_RxBuffer);
            m_dwBytesToRead = 0;
            break;
        case ERROR_OPERATION_ABORTED:
            m_dwBytesToRead = 0;
            break;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_INVALID_USER_BUFFER:
            break;
        default:
            result = error;
            break;
    }
    if (error != 0) LogFailure("Operation failed", "ProcessReadFunctionResult");
    m_RxBuffer.Empty();
    const bool again = m_dwBytesToRead > 0;
    m_RxLock.Unlock();
    if (result != 0) return result;
    if (again) {
        if (const uint32_t rc = m_hReadEvent.Set()) {
            LogFailure("::SetEvent failed", "ProcessReadFunctionResult");
            return rc;
        }
    }
    return 0;
}
