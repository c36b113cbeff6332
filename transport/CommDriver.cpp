#include "transport/CommDriver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <new>

#include "base/ResultCodes.h"
#include "platform/SysError.h"
#include "transport/CommThread.h"

namespace {

constexpr uint32_t kCommMask = EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD |
                               EV_BREAK | EV_ERR | EV_RING;  // 0x1FF

// Copies the groups whose bit is clear in `chosen` from the port's block.
void MergeUnchosen(DCB& settings, const DCB& port, uint16_t chosen) {
    if (!(chosen & CCommDriver::kBaudRate)) settings.BaudRate = port.BaudRate;
    if (!(chosen & CCommDriver::kByteSize)) settings.ByteSize = port.ByteSize;
    if (!(chosen & CCommDriver::kStopBits)) settings.StopBits = port.StopBits;
    if (!(chosen & CCommDriver::kParity)) {
        settings.Parity = port.Parity;
        settings.fParity = port.fParity;
    }
    if (!(chosen & CCommDriver::kHandshake)) {
        settings.fOutxCtsFlow = port.fOutxCtsFlow;
        settings.fOutxDsrFlow = port.fOutxDsrFlow;
        settings.fDtrControl = port.fDtrControl;
        settings.fTXContinueOnXoff = port.fTXContinueOnXoff;
        settings.fOutX = port.fOutX;
        settings.fInX = port.fInX;
        settings.fRtsControl = port.fRtsControl;
        settings.XonChar = port.XonChar;
        settings.XoffChar = port.XoffChar;
    }
    if (!(chosen & CCommDriver::kDsrSensitivity)) settings.fDsrSensitivity = port.fDsrSensitivity;
    if (!(chosen & CCommDriver::kQueueSizes)) {
        settings.XonLim = port.XonLim;
        settings.XoffLim = port.XoffLim;
    }
    if (!(chosen & CCommDriver::kEvtChar)) settings.EvtChar = port.EvtChar;
    if (!(chosen & CCommDriver::kEofChar)) settings.EofChar = port.EofChar;
    if (!(chosen & CCommDriver::kErrorChar)) {
        settings.ErrorChar = port.ErrorChar;
        settings.fErrorChar = port.fErrorChar;
        settings.fNull = port.fNull;
        settings.fAbortOnError = port.fAbortOnError;
    }
}

}  // namespace

CCommDriver::CCommDriver() {
    m_CommProp.wPacketLength = 64;
    m_DCB.DCBlength = 28;
    m_DCB.fBinary = 1;
}

CCommDriver::~CCommDriver() {
    // Each lock is shut down as soon as it is taken: an I/O thread that
    // holds the Rx lock and wants the Tx lock (a handler sending at once)
    // then fails at once instead of waiting for us.
    if (!m_TxLock.Lock()) LogMessage(this, "Tx-Lock failed", "~CCommDriver", true);
    m_TxLock.Close();
    if (!m_RxLock.Lock()) LogMessage(this, "Rx-Lock failed", "~CCommDriver", true);
    m_RxLock.Close();
    m_bClosing.store(1, std::memory_order_release);
    CloseSerialPort();
    DisposeEndedThreads(true);
    m_RxLock.Unlock();
    m_TxLock.Unlock();
}

// ---- settings ----

uint32_t CCommDriver::ApplySettings() {
    std::shared_ptr<platform::ISerialPort> port = Port();
    if (!port) return 0;
    ClearBuffers();
    return port->SetCommState(m_DCB);
}

uint32_t CCommDriver::SetBaudRate(uint32_t rate) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    m_wSettingsChosen |= kBaudRate;
    if (m_DCB.BaudRate == rate) return 0;
    m_DCB.BaudRate = rate;
    return ApplySettings();
}

uint32_t CCommDriver::SetParity(uint8_t parity) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    m_wSettingsChosen |= kParity;
    if (parity >= ODDPARITY && parity <= SPACEPARITY) {
        m_DCB.Parity = parity;
        m_DCB.fParity = 1;
    } else {
        m_DCB.Parity = NOPARITY;
        m_DCB.fParity = 0;
    }
    return ApplySettings();
}

uint32_t CCommDriver::SetStopBits(uint8_t bits) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    m_wSettingsChosen |= kStopBits;
    if (bits > TWOSTOPBITS || m_DCB.StopBits == bits) return 0;
    m_DCB.StopBits = bits;
    return ApplySettings();
}

uint32_t CCommDriver::SetByteSize(uint8_t size) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    m_wSettingsChosen |= kByteSize;
    if (size < 5 || size > 8 || m_DCB.ByteSize == size) return 0;
    m_DCB.ByteSize = size;
    return ApplySettings();
}

uint32_t CCommDriver::SetHandshake(uint8_t flags, char xonChar, char xoffChar) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    m_wSettingsChosen |= kHandshake;
    DCB& d = m_DCB;
    // Software flow.
    if (flags & 0x01) {
        d.fOutxCtsFlow = 0;
        d.fOutxDsrFlow = 0;
        d.fDtrControl &= 0x1;
        d.fTXContinueOnXoff = 0;
        d.fRtsControl &= 0x1;
        d.fOutX = 1;
        d.fInX = 1;
    } else {
        d.fOutX = 0;
        d.fInX = 0;
        d.fTXContinueOnXoff = 1;
    }
    // RTS line.
    if (flags & 0x20) {
        d.fOutxCtsFlow = 0;
        d.fRtsControl = RTS_CONTROL_ENABLE;
    } else if (flags & 0x10) {
        d.fOutX = 0;
        d.fInX = 0;
        d.fOutxCtsFlow = 1;
        d.fTXContinueOnXoff = 1;
        d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else {
        d.fOutxCtsFlow = 0;
        d.fRtsControl = RTS_CONTROL_DISABLE;
    }
    // DTR line.
    if (flags & 0x80) {
        d.fOutxDsrFlow = 0;
        d.fDtrControl = DTR_CONTROL_ENABLE;
    } else if (flags & 0x40) {
        d.fOutX = 0;
        d.fInX = 0;
        d.fOutxDsrFlow = 1;
        d.fTXContinueOnXoff = 1;
        d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    } else {
        d.fOutxDsrFlow = 0;
        d.fDtrControl = DTR_CONTROL_DISABLE;
    }
    d.XonChar = xonChar;
    d.XoffChar = xoffChar;
    return ApplySettings();
}

uint32_t CCommDriver::SetDsrSensitivity(uint8_t on) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    m_wSettingsChosen |= kDsrSensitivity;
    if (on > 1 || m_DCB.fDsrSensitivity == on) return 0;
    m_DCB.fDsrSensitivity = on;
    return ApplySettings();
}

void CCommDriver::SetBufferSize(uint32_t rx, uint32_t tx) {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return;
    if (rx == m_CommProp.dwCurrentRxQueue && tx == m_CommProp.dwCurrentTxQueue) return;
    m_dwRxQueueSize = (m_CommProp.dwMaxRxQueue != 0) ? std::min<uint32_t>(rx, m_CommProp.dwMaxRxQueue) : rx;
    m_dwTxQueueSize = (m_CommProp.dwMaxTxQueue != 0) ? std::min<uint32_t>(tx, m_CommProp.dwMaxTxQueue) : tx;
    m_wSettingsChosen |= kQueueSizes;
    const uint32_t c = std::min<uint32_t>(m_dwRxQueueSize, 65535);
    m_DCB.XoffLim = static_cast<uint16_t>(c / 2);
    m_DCB.XonLim = static_cast<uint16_t>((c / 4) * 3);
    std::shared_ptr<platform::ISerialPort> port = Port();
    if (!port) return;
    if (ClearBuffers() != 0) {
        LogMessage(this, "SetBufferSize failed", nullptr, true);
        return;
    }
    uint32_t rc = port->SetupComm(m_dwRxQueueSize, m_dwTxQueueSize);
    if (rc == 0) rc = port->GetCommProperties(&m_CommProp);
    if (rc == 0) rc = port->SetCommState(m_DCB);
    if (rc != 0) LogError(this, rc, "SetBufferSize");
}

DCB CCommDriver::GetSettings() const {
    CObjectLockGuard guard(m_RxLock);
    return m_DCB;
}

uint16_t CCommDriver::GetSettingsChosen() const {
    CObjectLockGuard guard(m_RxLock);
    return m_wSettingsChosen;
}

void CCommDriver::GetQueueSizes(uint32_t* rx, uint32_t* tx) const {
    CObjectLockGuard guard(m_RxLock);
    *rx = m_dwRxQueueSize;
    *tx = m_dwTxQueueSize;
}

// ---- opening and closing ----

void CCommDriver::SetPortOpener(PortOpener opener) { m_Opener = std::move(opener); }

namespace {
std::mutex g_DefaultOpenerMutex;
CCommDriver::PortOpener g_DefaultOpener;  // g_DefaultOpenerMutex
}  // namespace

void CCommDriver::SetDefaultPortOpener(PortOpener opener) {
    std::lock_guard<std::mutex> guard(g_DefaultOpenerMutex);
    g_DefaultOpener = std::move(opener);
}

uint32_t CCommDriver::Init(const std::string& portName) {
    std::string upper = portName;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const size_t pos = upper.find("COM");
    if (pos == std::string::npos) return ERROR_INVALID_PARAMETER;
    {
        std::lock_guard<std::mutex> state(m_StateMutex);
        m_strPortName = upper.substr(pos, 5);
    }
    m_bClosing.store(0, std::memory_order_release);
    uint32_t rc;
    {
        CObjectLockGuard guard(m_RxLock);
        rc = guard ? OpenSerialPort() : ERROR_NOACCESS;
    }
    if (rc != 0) {
        m_bClosing.store(1, std::memory_order_release);
        CloseSerialPort();
    }
    return rc;
}

uint32_t CCommDriver::OpenSerialPort() {
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return ERROR_NOACCESS;
    std::string name;
    {
        std::lock_guard<std::mutex> state(m_StateMutex);
        name = m_strPortName;
    }
    std::unique_ptr<platform::ISerialPort> opened;
    PortOpener opener = m_Opener;
    if (!opener) {
        std::lock_guard<std::mutex> guard(g_DefaultOpenerMutex);
        opener = g_DefaultOpener;
    }
    uint32_t rc = opener ? opener(name, &opened) : platform::OpenSerialPort(name, &opened);
    if (rc != 0) return rc;
    if (!opened) return ERROR_INVALID_HANDLE;
    std::shared_ptr<platform::ISerialPort> port(std::move(opened));
    {
        std::lock_guard<std::mutex> state(m_StateMutex);
        m_pPort = port;
    }
    if ((rc = port->GetCommProperties(&m_CommProp)) != 0) return rc;
    DCB current;
    if ((rc = port->GetCommState(&current)) != 0) return rc;
    const uint32_t length = m_DCB.DCBlength;
    const uint32_t binary = m_DCB.fBinary;
    MergeUnchosen(m_DCB, current, m_wSettingsChosen);
    m_DCB.DCBlength = length;
    m_DCB.fBinary = binary;
    if ((rc = port->SetCommState(m_DCB)) != 0) return rc;
    if (m_wSettingsChosen & kQueueSizes) {
        if ((rc = ClearBuffers()) != 0) return rc;
        uint32_t queueRc = port->SetupComm(m_dwRxQueueSize, m_dwTxQueueSize);
        if (queueRc == 0) queueRc = port->GetCommProperties(&m_CommProp);
        if (queueRc != 0) LogError(this, queueRc, "OpenSerialPort");
    }
    COMMTIMEOUTS timeouts{};  // Windows' own structure has no member initialisers
    timeouts.ReadIntervalTimeout = MAXDWORD;  // a read returns at once with what is there
    if ((rc = port->SetCommTimeouts(timeouts)) != 0) return rc;
    if ((rc = ClearBuffers()) != 0) return rc;
    if ((rc = port->SetCommMask(kCommMask)) != 0) return rc;
    uint32_t modem = 0;
    if ((rc = port->GetCommModemStatus(&modem)) != 0) return rc;
    TellOwner(RC_PORT_STATE_CHANGED, modem);

    std::shared_ptr<CCommThread> thread;
    {
        std::lock_guard<std::mutex> state(m_StateMutex);
        if (m_pCommThread) return ERROR_NOACCESS;
    }
    try {
        thread = std::make_shared<CCommThread>();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    thread->SetEventHandler(&CCommDriver::OnPortEvent, this);
    thread->SetDataHandler(m_pOwnerData, m_pOwnerDataUser);
    {
        std::lock_guard<std::mutex> state(m_StateMutex);
        m_pCommThread = thread;
    }
    thread->Init(port.get());  // a thread that cannot start leaves IsOpen false
    return 0;
}

void CCommDriver::CloseSerialPort() {
    std::shared_ptr<CCommThread> thread;
    std::shared_ptr<platform::ISerialPort> port;
    {
        // Taken out first, so that a handler of the stopping thread that
        // closes as well finds nothing left to close.
        std::lock_guard<std::mutex> state(m_StateMutex);
        port = std::move(m_pPort);
        thread = std::move(m_pCommThread);
        m_pPort.reset();
        m_pCommThread.reset();
        m_strPortName.clear();
    }
    const bool onWorker = thread && thread->IsWorkerThread();
    if (port) {
        port->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        uint32_t errors = 0;
        port->ClearCommError(&errors, nullptr);
        if (onWorker) {
            // Called from one of the thread's own handlers: it cannot wait
            // for itself. It stops delivering now and ends when the handler
            // returns; the port object outlives it, closed, so the worker's
            // last calls fail harmlessly and the device is free to reopen.
            thread->Abandon();
            port->Close();
            std::lock_guard<std::mutex> state(m_StateMutex);
            m_Retired.emplace_back(thread, port);
        } else {
            if (thread) thread->Stop();
            port->Close();
        }
    }
    DisposeEndedThreads(false);
}

void CCommDriver::DisposeEndedThreads(bool wait) {
    std::vector<Retired> dispose;
    {
        std::lock_guard<std::mutex> state(m_StateMutex);
        for (auto it = m_Retired.begin(); it != m_Retired.end();) {
            if (!it->first->IsWorkerThread() && (wait || it->first->HasEnded())) {
                dispose.push_back(std::move(*it));
                it = m_Retired.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Abandoned threads end without waiting for anything of ours.
    for (auto& entry : dispose) entry.first->Stop();
}

uint32_t CCommDriver::ClearBuffers() {
    std::shared_ptr<platform::ISerialPort> port = Port();
    if (!port) return ERROR_NOACCESS;
    if (const uint32_t rc = port->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return rc;
    uint32_t errors = 0;
    COMSTAT status;
    return port->ClearCommError(&errors, &status);
}

std::shared_ptr<platform::ISerialPort> CCommDriver::Port() const {
    std::lock_guard<std::mutex> state(m_StateMutex);
    return m_pPort;
}

bool CCommDriver::IsOpen() const {
    std::lock_guard<std::mutex> state(m_StateMutex);
    return m_pPort && m_pCommThread;
}

std::string CCommDriver::GetPortName() const {
    std::lock_guard<std::mutex> state(m_StateMutex);
    return m_pPort ? m_strPortName : std::string();
}

uint32_t CCommDriver::WriteData(const CByteBuffer& data) {
    CObjectLockGuard guard(m_TxLock);
    if (!guard) return ERROR_NOACCESS;
    std::shared_ptr<CCommThread> thread;
    {
        std::lock_guard<std::mutex> state(m_StateMutex);
        if (m_pPort) thread = m_pCommThread;
    }
    if (!thread || m_bClosing.load(std::memory_order_acquire) != 0) return ERROR_NOACCESS;
    return thread->WriteData(data);
}

// ---- handlers ----

void CCommDriver::SetEventHandler(EventHandlerFn handler, CObject* user) {
    CBaseObject::SetEventHandler(handler, user);
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return;
    m_pOwnerEvent = handler;
    m_pOwnerEventUser = user;
}

void CCommDriver::SetDataHandler(DataHandlerFn handler, CObject* user) {
    CBaseObject::SetDataHandler(handler, user);
    CObjectLockGuard guard(m_RxLock);
    if (!guard) return;
    m_pOwnerData = handler;
    m_pOwnerDataUser = user;
    std::shared_ptr<CCommThread> thread;
    {
        std::lock_guard<std::mutex> state(m_StateMutex);
        thread = m_pCommThread;
    }
    if (thread) thread->SetDataHandler(handler, user);
}

// Called with m_RxLock held; the owner's handler runs without the base lock.
void CCommDriver::TellOwner(uint32_t event, uint32_t data) {
    if (m_bClosing.load(std::memory_order_acquire) != 0 || m_pOwnerEvent == nullptr) return;
    m_pOwnerEvent(event, data, m_pOwnerEventUser);
}

void CCommDriver::OnPortEvent(uint32_t event, uint32_t data, CObject* context) {
    CCommDriver* self = CObject::DownCast<CCommDriver>(context);
    if (self == nullptr || !self->m_RxLock.Lock()) return;
    self->DoOnPortEvent(event, data);
    self->m_RxLock.Unlock();
}

uint32_t CCommDriver::Reopen(const std::string& name) {
    CloseSerialPort();
    {
        std::lock_guard<std::mutex> state(m_StateMutex);
        m_strPortName = name;
    }
    const uint32_t rc = OpenSerialPort();
    if (rc != 0) CloseSerialPort();  // nothing half-open may keep the device
    return rc;
}

void CCommDriver::DoOnPortEvent(uint32_t event, uint32_t data) {
    switch (event) {
        case RC_PORT_THREAD_TERMINATED: {
            LogError(this, RC_PORT_THREAD_TERMINATED, "OnPortEvent");
            if (m_bClosing.load(std::memory_order_acquire) != 0) return;
            const std::string name = GetPortName();
            if (data == 0) {
                CloseSerialPort();
                return;
            }
            if (const uint32_t rc = Reopen(name)) {
                LogError(this, rc, "OnPortEvent");
                TellOwner(RC_PORT_SYSTEM_ERROR, rc);
            }
            return;
        }
        case RC_PORT_ERROR: {
            char text[96];
            const std::string name = GetPortName();
            std::snprintf(text, sizeof text, "Port Error: 0x%08X - Port: %s", data, name.c_str());
            LogMessage(this, text, "OnPortEvent", true);
            if (m_bClosing.load(std::memory_order_acquire) != 0 || !(data & CE_MODE)) {
                TellOwner(RC_PORT_ERROR, data);
                return;
            }
            if (const uint32_t rc = Reopen(name)) TellOwner(RC_PORT_SYSTEM_ERROR, rc);
            return;
        }
        default:
            TellOwner(event, data);
            return;
    }
}
