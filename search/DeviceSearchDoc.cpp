#include "search/DeviceSearchDoc.h"

#include <new>

#include "base/ResultCodes.h"
#include "base/WindowMessages.h"
#include "transport/CommInterface.h"
#include "transport/IPInterface.h"
#include "transport/UsbInterface.h"

CDeviceSearchDoc::CDeviceSearchDoc(IMessageWindow* mainWindow)
    : m_pWindow(mainWindow ? mainWindow : CMessageWindow::Main()),
      m_pTimer(std::make_unique<CCallbackTimer>(kTimerId, kTimerIntervalMs, &OnTimerEvent, this, m_pWindow)) {}

CDeviceSearchDoc::~CDeviceSearchDoc() {
    const bool locked = LockForDestruction(m_Lock, this);
    m_Lock.Close();
    if (locked) m_Lock.Unlock();
    // From here every DoOn... of other threads fails on the closed lock.
    if (m_pTimer) m_pTimer->Stop();
    m_pTimer.reset();
    // Each waits for its enumeration thread, which finds the lock closed
    // and drops the port it was reporting.
    m_pSerialInterface.reset();
    m_pUsbInterface.reset();
    m_pIPInterface.reset();
    // No new search thread can come now. Stop the listed ones here, while
    // the whole object still exists: one may be in its report, calling back.
    m_ThreadList.RemoveAll();
    m_ThreadList.WaitForDestructions(platform::kInfinite);
}

bool CDeviceSearchDoc::HasInterface() const {
    return m_pSerialInterface || m_pUsbInterface || m_pIPInterface;
}

bool CDeviceSearchDoc::IsSearching(uint8_t kind) const {
    switch (kind) {
    case CInterfaceParameter::kSerial:
        return m_pSerialInterface != nullptr;
    case CInterfaceParameter::kUsb:
        return m_pUsbInterface != nullptr;
    case CInterfaceParameter::kIP:
        return m_pIPInterface != nullptr;
    default:
        return false;
    }
}

void CDeviceSearchDoc::StartDeviceSearch(const CInterfaceParameter& portTemplate) {
    if (portTemplate.IsSerialPort()) {
        m_SerialTemplate.CopyFrom(portTemplate);
        if (!m_pSerialInterface) m_pSerialInterface.reset(new (std::nothrow) CCommInterface(&OnInterfaceEvent, this));
        if (m_pSerialInterface) m_pSerialInterface->StartPortEnumeration(&m_SerialTemplate);
    } else if (portTemplate.IsUsbPort()) {
        m_UsbTemplate.CopyFrom(portTemplate);
        if (!m_pUsbInterface) m_pUsbInterface.reset(new (std::nothrow) CUsbInterface(&OnInterfaceEvent, this));
        if (m_pUsbInterface) m_pUsbInterface->StartPortEnumeration(&m_UsbTemplate);
    } else if (portTemplate.IsIPPort()) {
        m_IPTemplate.CopyFrom(portTemplate);
        if (!m_pIPInterface) m_pIPInterface.reset(new (std::nothrow) CIPInterface(&OnInterfaceEvent, this));
        if (m_pIPInterface) m_pIPInterface->StartPortEnumeration(&m_IPTemplate);
    }
    // Whatever the kind, a new cycle begins.
    m_pTimer->Stop();
    m_nTick = 0;
    DoOnEnumEvent(RC_SEARCH_RUNNING);
    m_pTimer->Start();
}

void CDeviceSearchDoc::StopDeviceSearch(const CInterfaceParameter& portTemplate) {
    bool stopped = false;
    // Destroying an interface waits for its enumeration thread (handling
    // sent messages meanwhile); only then can no new search thread of the
    // kind appear, and its listed ones go.
    if (portTemplate.IsSerialPort() && m_pSerialInterface) {
        m_pSerialInterface.reset();
        stopped = true;
    } else if (portTemplate.IsUsbPort() && m_pUsbInterface) {
        m_pUsbInterface.reset();
        stopped = true;
    } else if (portTemplate.IsIPPort() && m_pIPInterface) {
        m_pIPInterface.reset();
        stopped = true;
    }
    if (stopped) m_ThreadList.RemovePorts(portTemplate);
    if (!HasInterface()) {
        const bool wasRunning = m_pTimer->IsRunning() || stopped;
        m_pTimer->Stop();
        if (wasRunning) DoOnEnumEvent(RC_SEARCH_CANCELED);
    }
}

void CDeviceSearchDoc::OnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer* text,
                                        CObject* context) {
    if (auto* self = CObject::DownCast<CDeviceSearchDoc>(context)) {
        self->DoOnInterfaceEvent(event, data);
    } else if (event == IF_EVENT_PORT_FOUND) {
        delete reinterpret_cast<CInterfaceParameter*>(data);  // ours to free
    }
}

void CDeviceSearchDoc::DoOnInterfaceEvent(uint32_t event, uintptr_t data) {
    if (event != IF_EVENT_PORT_FOUND || data == 0) return;
    // The record is ours from here on; it goes to the new search thread.
    std::unique_ptr<CInterfaceParameter> record(reinterpret_cast<CInterfaceParameter*>(data));
    // The list keeps a copy taken now: the thread may release its record
    // (a failed search) before it is listed.
    const CInterfaceParameter key(*record);
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;  // being destroyed: the record goes with `record`
    auto* thread = new (std::nothrow) CDevSearchThread(std::move(record), &OnThreadEvent, this);
    if (thread == nullptr) return;
    if (m_ThreadList.Add(thread, &key) < 0) {
        // Its report may be waiting for m_Lock: let go before stopping it.
        guard.Unlock();
        delete thread;
    }
}

void CDeviceSearchDoc::OnThreadEvent(CDevSearchThread* thread, uint32_t result, DevicePtr device, PortPtr port,
                                     CObject* context) {
    if (auto* self = CObject::DownCast<CDeviceSearchDoc>(context))
        self->DoOnThreadEvent(thread, result, std::move(device), std::move(port));
}

void CDeviceSearchDoc::DoOnThreadEvent(CDevSearchThread* thread, uint32_t result, DevicePtr device,
                                       PortPtr port) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;  // being destroyed; the records go with the last reference
    DoOnEnumEvent(result, 0, &device, &port);
    m_ThreadList.RemoveThread(thread);
}

void CDeviceSearchDoc::OnTimerEvent(CCallbackTimer* timer, uint32_t time, CObject* context) {
    if (timer) timer->Stop();
    auto* self = CObject::DownCast<CDeviceSearchDoc>(context);
    if (self == nullptr) return;
    self->DoOnTimerEvent();
    // Only while something is searched: a stop in between has ended it.
    if (timer && self->HasInterface()) timer->Start();
}

void CDeviceSearchDoc::DoOnTimerEvent() {
    // At most 100 ms: a search thread holding the lock may be waiting for
    // this thread to handle its message (which this wait does meanwhile).
    // A tick that cannot get the lock is skipped.
    CObjectLockGuard guard(m_Lock, kTimerLockWaitMs);
    if (!guard) return;
    ++m_nTick;
    DoOnEnumEvent(RC_SEARCH_STEP, static_cast<uint32_t>(m_nTick));
    if (m_nTick >= kTicksPerCycle) {
        m_nTick = 0;
        DoOnEnumEvent(RC_SEARCH_RUNNING);
        if (m_pSerialInterface) m_pSerialInterface->StartPortEnumeration(&m_SerialTemplate);
        if (m_pUsbInterface) m_pUsbInterface->StartPortEnumeration(&m_UsbTemplate);
        if (m_pIPInterface) m_pIPInterface->StartPortEnumeration(&m_IPTemplate);
    }
}

void CDeviceSearchDoc::DoOnEnumEvent(uint32_t event, uint32_t step, const DevicePtr* device,
                                     const PortPtr* port) {
    if (m_pWindow == nullptr) return;
    switch (event) {
    case RC_SEARCH_RUNNING:
        m_pWindow->SendMsg(WM_START_DEVICE_SEARCH, 0, 0);
        break;
    case RC_SEARCH_STEP:
        m_pWindow->SendMsg(WM_DEVICE_SEARCH_STEP, step, 0);
        break;
    case RC_SEARCH_CANCELED:
        m_pWindow->SendMsg(WM_DEVICE_SEARCH_CANCELED, 0, 0);
        break;
    case RC_SEARCH_FINISHED:
        if (device && port && *device && *port)
            m_pWindow->SendMsg(WM_DEVICE_SEARCH_FINISHED, reinterpret_cast<WPARAM>(device),
                                   reinterpret_cast<LPARAM>(port));
        break;
    default:  // failed searches and stops: nothing to show
        break;
    }
}
