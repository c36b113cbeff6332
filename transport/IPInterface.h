// CIPInterface: the port interface of the IP port kind. The kind is never
// enabled, so it opens nothing, sends nothing and lists no ports; it exists
// so that every port kind has a complete interface.
//
// Threads: the owner's thread calls Init, SendData, StartPortEnumeration and
// the destructor; the enumeration thread only ends itself. m_IPLock guards
// the start of the enumeration against the destructor.
#pragma once

#include <cstdint>

#include "base/ObjectLock.h"
#include "protocol/UpdateInterface.h"
#include "transport/PortEnumeration.h"

class CIPInterface : public CUpdateInterface {
public:
    KORVA_RUNTIME_CLASS(CIPInterface)

    CIPInterface(InterfaceEventFn callback, CObject* context);
    // Shuts the lock down and waits for a running enumeration thread.
    ~CIPInterface() override;

    uint32_t SendData(const CByteBuffer& data) override;
    uint32_t Init(CInterfaceParameter* port) override;
    platform::Thread* StartPortEnumeration(CInterfaceParameter* portTemplate) override;
    bool IsEnumerating() const { return m_Enumeration.IsRunning(); }

    // The enumeration thread's procedure: 998 for an argument that is not
    // a CIPInterface, else 0 without reporting anything.
    static uint32_t Execute(CObject* argument);

private:
    CPortEnumeration m_Enumeration;
    CInterfaceParameter* m_pTemplate = nullptr;  // not used; guarded by m_IPLock
    CObjectLock m_IPLock;
};
