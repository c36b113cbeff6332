#include "search/DevSearchThread.h"

#include <new>

#include "base/ResultCodes.h"
#include "base/Wait.h"
#include "device/CarriedFirmware.h"
#include "platform/Clock.h"
#include "platform/SysError.h"
#include "transport/CommInterface.h"
#include "transport/IPInterface.h"
#include "transport/UsbInterface.h"

CDevSearchThread::CDevSearchThread(std::unique_ptr<CInterfaceParameter> port, SearchResultFn callback,
                                   CObject* user)
    : m_pPort(std::move(port)), m_pCallback(callback), m_pUser(user) {
    if (!m_hTerminateEvent.IsValid() || !m_hReceiveEvent.IsValid() || !m_hTimeoutEvent.IsValid()) {
        LogError(this, platform::GetLastError(), "CDevSearchThread");
        return;
    }
    const uint32_t result = m_Thread.Start([this] { return Execute(this); });
    if (result != 0) {
        LogError(this, result, "CDevSearchThread");
        return;
    }
    m_bStarted = true;
}

CDevSearchThread::~CDevSearchThread() {
    const bool locked = LockForDestruction(m_Lock, this);
    m_Lock.Close();
    if (locked) m_Lock.Unlock();
    if (m_bStarted) {
        // Cleared first: a thread stopped this way reports nothing.
        m_bNotify.store(0, std::memory_order_release);
        m_hTerminateEvent.Set();
        // Without limit: the thread ends at its next wait, or after the port
        // call it is in (opening or sending) returns. On the main thread sent
        // messages are handled meanwhile: the thread may be reporting.
        WaitPumpingSends(m_Thread.Finished(), platform::kInfinite);
        m_Thread.Join();
    }
}

uint32_t CDevSearchThread::Execute(CObject* argument) {
    if (auto* self = CObject::DownCast<CDevSearchThread>(argument)) self->ReportResult(self->RequestDeviceParameter());
    return 0;
}

void CDevSearchThread::OnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer* text,
                                        CObject* context) {
    if (auto* self = CObject::DownCast<CDevSearchThread>(context)) {
        static const CByteBuffer empty;
        self->DoOnInterfaceEvent(event, text ? *text : empty);
    }
}

void CDevSearchThread::DoOnInterfaceEvent(uint32_t event, const CByteBuffer& line) {
    switch (event) {
    case IF_EVENT_LINE_RECEIVED: {
        // The line and its signal travel together under the buffer's lock,
        // so the search thread never sees half of a replaced line.
        std::lock_guard<std::mutex> lock(m_RxMutex);
        m_ReceiveBuffer.Copy(line);
        m_hReceiveEvent.Set();
        break;
    }
    case IF_EVENT_RECEIVE_TIMEOUT:
        m_hTimeoutEvent.Set();
        break;
    default:  // port errors (and bytes sent, which a search never causes)
        m_hTerminateEvent.Set();
        break;
    }
}

CByteBuffer CDevSearchThread::TakeReceiveBuffer() {
    std::lock_guard<std::mutex> lock(m_RxMutex);
    return m_ReceiveBuffer;
}

void CDevSearchThread::ClearReceive() {
    std::lock_guard<std::mutex> lock(m_RxMutex);
    m_ReceiveBuffer.Empty();
    // A line or time-out left over from the previous query must not answer
    // the next one.
    m_hReceiveEvent.Reset();
    m_hTimeoutEvent.Reset();
}

uint32_t CDevSearchThread::WaitForInterfaceEvent(uint32_t timeoutMs) {
    // The destructor signals the terminate event. The order is the priority.
    platform::Waitable items[] = {platform::Waitable::Of(m_hTerminateEvent),
                                  platform::Waitable::Of(m_hTimeoutEvent),
                                  platform::Waitable::Of(m_hReceiveEvent)};
    switch (platform::WaitForAny(items, 3, timeoutMs)) {
    case 0:
        m_bTerminated.store(1, std::memory_order_release);
        return 0;
    case 1:
    case platform::kWaitTimeout:
        return RC_SEARCH_TIMEOUT;
    case 2:
        return RC_SEARCH_DATA_RECEIVED;
    default: {
        const uint32_t error = platform::GetLastError();
        m_bTerminated.store(1, std::memory_order_release);
        return error != 0 ? error : ERROR_INVALID_HANDLE;
    }
    }
}

uint32_t CDevSearchThread::SendQuery(CUpdateInterface& port, std::string_view query) {
    uint32_t result = port.SendSCPIMsg(query);
    // The reply to the previous query can arrive before its write is
    // confirmed (a fast USB instrument): the port then says "busy" for a
    // moment, which is no reason to give the instrument up.
    const uint32_t start = platform::GetTickCount();
    while (result == ERROR_IO_INCOMPLETE && platform::GetTickCount() - start < CUpdateInterface::kReplyTimeoutMs) {
        if (platform::WaitForAny({&m_hTerminateEvent}, kBusyRetryMs) == 0) {
            m_bTerminated.store(1, std::memory_order_release);
            return 0;
        }
        result = port.SendSCPIMsg(query);
    }
    return result;
}

uint32_t CDevSearchThread::AwaitIdentification(CUpdateInterface& port, CByteBuffer& reply) {
    int noise = 0;
    uint32_t result = RC_SEARCH_TIMEOUT;
    // A noise line without a reply behind it (a banner of an instrument
    // that was just coming up and lost the query) gets the query once more.
    for (int query = 0; query < 2; ++query) {
        const uint32_t sent = SendQuery(port, instrument::kIdentify);
        if (sent != 0 || m_bTerminated.load()) return sent;
        const uint32_t start = platform::GetTickCount();
        bool noisy = false;
        for (;;) {
            // A noise line has stopped the interface's reply timer: the rest
            // of the reply time is kept here.
            uint32_t timeoutMs = platform::kInfinite;
            if (noisy) {
                const uint32_t elapsed = platform::GetTickCount() - start;
                if (elapsed >= CUpdateInterface::kReplyTimeoutMs) {
                    result = RC_SEARCH_TIMEOUT;
                    break;
                }
                timeoutMs = CUpdateInterface::kReplyTimeoutMs - elapsed;
            }
            result = WaitForInterfaceEvent(timeoutMs);
            if (m_bTerminated.load(std::memory_order_acquire)) return result;
            if (result != RC_SEARCH_DATA_RECEIVED) break;
            reply = TakeReceiveBuffer();
            if (IsIdentificationReply(reply.View()) || ++noise > kMaxIdentificationNoise) return result;
            LogMessage(this, "Not an identification reply, skipped", "AwaitIdentification", true);
            noisy = true;
        }
        // A port that stays silent is done after one reply time.
        if (!noisy) break;
        ClearReceive();
    }
    return result;
}

int CDevSearchThread::SelectIdnParameter(const CByteBuffer& reply) {
    const long comma = reply.Find(",");
    if (comma < 0) return 0;
    const CByteBuffer maker = reply.Left(static_cast<size_t>(comma));
    if (!carried::IsAcceptedMaker(maker.View())) return 0;
    return m_pDevice->SetIdnParameter(reply.View());
}

uint32_t CDevSearchThread::RequestDeviceParameter() {
    uint32_t result = RC_SEARCH_ERROR;
    std::unique_ptr<CUpdateInterface> port;
    if (m_pPort) {
        if (m_pPort->IsSerialPort()) {
            port.reset(new (std::nothrow) CCommInterface(&OnInterfaceEvent, this));
        } else if (m_pPort->IsUsbPort()) {
            port.reset(new (std::nothrow) CUsbInterface(&OnInterfaceEvent, this));
        } else if (m_pPort->IsIPPort()) {
            port.reset(new (std::nothrow) CIPInterface(&OnInterfaceEvent, this));
        }
    }
    // A stop requested before the port is even opened needs no port at all.
    if (port && m_hTerminateEvent.TryAcquire()) {
        m_bTerminated.store(1, std::memory_order_release);
        result = 0;
    } else if (port && port->Init(m_pPort.get()) == 0) {
        result = [&]() -> uint32_t {
            CByteBuffer reply;
            const uint32_t first = AwaitIdentification(*port, reply);
            if (m_bTerminated.load(std::memory_order_acquire)) return first;
            if (first != RC_SEARCH_DATA_RECEIVED && first != RC_SEARCH_TIMEOUT) return first;  // the send failed
            m_pDevice.reset(new (std::nothrow) CDeviceParameter());
            if (m_pDevice == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
            if (first != RC_SEARCH_DATA_RECEIVED || SelectIdnParameter(reply) != 1)
                return RC_SEARCH_ERROR;  // also a time-out of the first query
            ClearReceive();
            const uint32_t sent = SendQuery(*port, instrument::kSearchModules);
            if (sent != 0 || m_bTerminated.load()) return sent;
            const uint32_t second = WaitForInterfaceEvent();
            if (m_bTerminated.load(std::memory_order_acquire)) return second;
            // An instrument that does not answer the module query is still
            // listed, with all board IDs 0.
            if (second == RC_SEARCH_TIMEOUT) return RC_SEARCH_FINISHED;
            return m_pDevice->SetBoardIds(TakeReceiveBuffer()) == 1 ? RC_SEARCH_FINISHED : RC_SEARCH_ERROR;
        }();
    }
    ClearReceive();
    if (result != RC_SEARCH_FINISHED) {
        m_pPort.reset();
        m_pDevice.reset();
    }
    port.reset();  // closes the port
    return result;
}

void CDevSearchThread::ReportResult(uint32_t result) {
    DevicePtr device;
    PortPtr port;
    if (result == RC_SEARCH_FINISHED) {
        device = std::move(m_pDevice);
        port = std::move(m_pPort);
    }
    if (m_bNotify.load(std::memory_order_acquire) && m_pCallback != nullptr) {
        m_pCallback(this, result, std::move(device), std::move(port), m_pUser);
    }
    // Not reported: the records go with the last reference here.
}
