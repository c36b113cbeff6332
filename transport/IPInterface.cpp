#include "transport/IPInterface.h"

#include "platform/SysError.h"

CIPInterface::CIPInterface(InterfaceEventFn callback, CObject* context)
    : CUpdateInterface(callback, context) {}

CIPInterface::~CIPInterface() {
    CloseProtocol();
    const bool locked = LockForDestruction(m_IPLock, this);
    m_IPLock.Close();
    if (locked) m_IPLock.Unlock();
    m_Enumeration.WaitAndClose();
}

uint32_t CIPInterface::SendData(const CByteBuffer&) { return 0; }

uint32_t CIPInterface::Init(CInterfaceParameter*) { return 0; }

platform::Thread* CIPInterface::StartPortEnumeration(CInterfaceParameter* portTemplate) {
    CObjectLockGuard guard(m_IPLock);
    if (!guard) return nullptr;
    m_pTemplate = portTemplate;
    return m_Enumeration.Start([this] { return Execute(this); });
}

uint32_t CIPInterface::Execute(CObject* argument) {
    if (CObject::DownCast<CIPInterface>(argument) == nullptr) return ERROR_NOACCESS;
    return 0;
}
