#include "transport/CommInterface.h"

#include <mutex>
#include <new>

#include "base/ResultCodes.h"
#include "base/Strings.h"
#include "platform/PortListing.h"
#include "platform/SysError.h"
#include "transport/InterfaceParameter.h"

namespace {

std::string SystemErrorDescription(uint32_t code) {
    return platform::SystemErrorText(code, GetUserLanguage());
}

std::mutex g_ListerMutex;
CCommInterface::PortLister g_Lister;  // g_ListerMutex

// The COM names to report: the lister's, or the system's serial ports. The
// system listing leaves out devices that are not usable serial ports, as
// the default configuration call failing with 87 did.
std::vector<std::string> ListedPorts() {
    CCommInterface::PortLister lister;
    {
        std::lock_guard<std::mutex> guard(g_ListerMutex);
        lister = g_Lister;
    }
    if (lister) return lister();
    std::vector<std::string> names;
    for (const platform::SerialPortEntry& entry : platform::ListSerialPorts()) names.push_back(entry.comName);
    return names;
}

}  // namespace

void CCommInterface::SetDefaultPortLister(PortLister lister) {
    std::lock_guard<std::mutex> guard(g_ListerMutex);
    g_Lister = std::move(lister);
}

CCommInterface::CCommInterface(InterfaceEventFn callback, CObject* context)
    : CUpdateInterface(callback, context) {}

CCommInterface::~CCommInterface() {
    CloseProtocol();
    // Rx before Tx, the order the I/O thread takes them in when it sends the
    // next chunk; the other order could meet it halfway.
    const bool rxLocked = m_RxLock.Lock();
    if (!rxLocked) LogMessage(this, "Rx-Lock failed", "~CCommInterface", true);
    const bool txLocked = m_TxLock.Lock();
    if (!txLocked) LogMessage(this, "Tx-Lock failed", "~CCommInterface", true);
    m_RxLock.Close();
    m_TxLock.Close();
    std::unique_ptr<CCommDriver> driver = std::move(m_pCommDriver);
    if (txLocked) m_TxLock.Unlock();
    if (rxLocked) m_RxLock.Unlock();
    // Stops the I/O thread; its last events find m_RxLock closed.
    driver.reset();
    m_Enumeration.WaitAndClose();
}

uint32_t CCommInterface::Init(CInterfaceParameter* port) {
    if (port == nullptr || !port->IsSerialPort()) return ERROR_INVALID_PARAMETER;
    const uint32_t result = InitCommDriver(port->GetName());
    if (result != 0) CloseCommDriver();
    return result;
}

uint32_t CCommInterface::InitCommDriver(const std::string& name) {
    {
        CObjectLockGuard guard(m_TxLock);
        if (!guard) return ERROR_NOACCESS;
        if (m_pCommDriver) return 0;
    }
    std::unique_ptr<CCommDriver> driver(new (std::nothrow) CCommDriver());
    if (!driver) return ERROR_NOACCESS;
    driver->SetEventHandler(&OnDriverEvent, this);
    driver->SetDataHandler(&OnDataReceived, this);
    if (m_Opener) driver->SetPortOpener(m_Opener);
    driver->SetBaudRate(115200);
    driver->SetParity(NOPARITY);
    driver->SetStopBits(TWOSTOPBITS);
    driver->SetByteSize(8);
    driver->SetHandshake(0x10, 0x11, 0x13);
    driver->SetDsrSensitivity(0);
    driver->SetBufferSize(1024, 1024);
    // Opening starts the I/O thread, whose first events may already want
    // m_RxLock: open first, publish afterwards.
    const uint32_t result = driver->Init(name);
    if (result != 0) return result;  // the failed driver is deleted here

    CObjectLockGuard rx(m_RxLock);
    CObjectLockGuard tx(m_TxLock);
    if (!rx || !tx) return ERROR_NOACCESS;
    if (!m_pCommDriver) m_pCommDriver = std::move(driver);
    return 0;
}

void CCommInterface::CloseCommDriver() {
    std::unique_ptr<CCommDriver> driver;
    {
        CObjectLockGuard rx(m_RxLock);
        CObjectLockGuard tx(m_TxLock);
        if (!rx || !tx) return;  // being destroyed: the destructor closes it
        driver = std::move(m_pCommDriver);
    }
    // Outside our locks: closing waits for the I/O thread.
    driver.reset();
}

uint32_t CCommInterface::SendData(const CByteBuffer& data) {
    CObjectLockGuard guard(m_TxLock);
    if (!guard) return ERROR_NOACCESS;
    if (m_pCommDriver && m_pCommDriver->IsOpen()) return m_pCommDriver->WriteData(data);
    return ERROR_NOACCESS;
}

bool CCommInterface::IsOpen() {
    CObjectLockGuard guard(m_TxLock);
    return guard && m_pCommDriver && m_pCommDriver->IsOpen();
}

std::string CCommInterface::GetPortName() {
    CObjectLockGuard guard(m_TxLock);
    return guard && m_pCommDriver ? m_pCommDriver->GetPortName() : std::string();
}

void CCommInterface::SetPortOpener(CCommDriver::PortOpener opener) { m_Opener = std::move(opener); }

// --- driver events (I/O thread) ---------------------------------------------

void CCommInterface::OnDriverEvent(uint32_t event, uint32_t data, CObject* context) {
    auto* self = CObject::DownCast<CCommInterface>(context);
    if (self == nullptr) return;
    CObjectLockGuard guard(self->m_RxLock);
    if (!guard) return;
    self->DoOnDriverEvent(event, data);
}

void CCommInterface::DoOnDriverEvent(uint32_t event, uint32_t data) {
    switch (event) {
    case RC_PORT_DATA_WRITTEN:
        HandleWriteTermination(data);
        break;
    case RC_PORT_TX_EMPTY:
        HandleEmptyTransmitBuffer();
        break;
    case RC_PORT_ERROR:
        HandlePortError(data);
        break;
    case RC_PORT_SYSTEM_ERROR:
        DoOnPortError(IF_EVENT_SYSTEM_ERROR, SystemErrorDescription(data));
        break;
    default:  // RC_PORT_STATE_CHANGED and anything else: not the owner's business
        break;
    }
}

void CCommInterface::HandlePortError(uint32_t bits) {
    // Called with m_RxLock held; the driver may still be opening (not yet
    // published), then its port name is not known here.
    CCommDriver* driver = m_pCommDriver.get();
    const std::string name = driver ? driver->GetPortName() : std::string();
    if (bits & (CE_BREAK | CE_IOE)) {
        DoOnPortError(IF_EVENT_CONNECTION_LOST, name);
        return;
    }
    const uint32_t result = driver ? driver->ClearBuffers() : ERROR_NOACCESS;
    if (result == 0) {
        DoOnPortError(IF_EVENT_TRANSFER_ERROR, name);
    } else {
        DoOnPortError(IF_EVENT_SYSTEM_ERROR, SystemErrorDescription(result));
    }
}

// --- port enumeration ---------------------------------------------------------

platform::Thread* CCommInterface::StartPortEnumeration(CInterfaceParameter* portTemplate) {
    if (m_RxLock.IsClosed()) return nullptr;  // being destroyed
    m_pTemplate = portTemplate;
    return m_Enumeration.Start([this] { return Execute(this); });
}

uint32_t CCommInterface::Execute(CObject* argument) {
    auto* self = CObject::DownCast<CCommInterface>(argument);
    if (self == nullptr) return ERROR_NOACCESS;
    for (const std::string& name : ListedPorts()) {
        auto* record = new (std::nothrow) CInterfaceParameter();
        if (record == nullptr) continue;
        record->SetSerialPort(name.c_str());
        if (!self->HasEventCallback()) {
            delete record;  // nobody to own it
            continue;
        }
        // The receiver owns the record from here on.
        self->DoOnInterfaceEvent(IF_EVENT_PORT_FOUND, reinterpret_cast<uintptr_t>(record),
                                 CByteBuffer());
    }
    return 0;
}
