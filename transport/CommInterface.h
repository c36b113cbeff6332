// CCommInterface: the port interface of the serial (RS-232) port kind.
//
// It opens one COM port through a CCommDriver with the instrument's line
// settings (115200 baud, 8 data bits, no parity, 2 stop bits, RTS/CTS, DTR
// off, 1024-byte queues), writes for the line protocol, turns the driver's
// events into the protocol's calls and into port error events, and lists
// the serial ports on an enumeration thread of its own.
//
// Threads and locks:
// - Init, InitCommDriver, CloseCommDriver, SendData, StartPortEnumeration
//   and the destructor: the owner's threads. SendData may also run on the
//   I/O thread (the next chunk of a binary block).
// - OnDriverEvent: the driver's I/O thread, under m_RxLock; through it
//   HandleWriteTermination, HandleEmptyTransmitBuffer and DoOnPortError.
// - The enumeration thread raises IF_EVENT_PORT_FOUND without any lock of
//   this object.
// - m_TxLock serialises SendData; m_RxLock serialises driver events. The
//   driver pointer is published and withdrawn with both held (Rx, then Tx)
//   and read under either; the driver itself is created, opened and deleted
//   outside both, because opening or closing waits for the I/O thread, which
//   may be waiting for m_RxLock.
// Lock order: I/O thread Rx, driver Rx, m_RxLock, protocol lock, m_TxLock,
// driver Tx, I/O thread Tx.
#pragma once

#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "base/ObjectLock.h"
#include "protocol/UpdateInterface.h"
#include "transport/CommDriver.h"
#include "transport/PortEnumeration.h"

class CCommInterface : public CUpdateInterface {
public:
    KORVA_RUNTIME_CLASS(CCommInterface)

    CCommInterface(InterfaceEventFn callback, CObject* context);
    // Closes the protocol and the port and waits for a running enumeration.
    ~CCommInterface() override;

    // 87 for a record that is not a serial port record; else opens the
    // record's port (0) or returns why not, with no driver left behind.
    uint32_t Init(CInterfaceParameter* port) override;
    // An existing driver: 0, nothing changed. 998 if no driver can be made.
    uint32_t InitCommDriver(const std::string& name);
    void CloseCommDriver();
    // 0, 997 while the previous write runs, 998 when not open, or an error.
    uint32_t SendData(const CByteBuffer& data) override;
    platform::Thread* StartPortEnumeration(CInterfaceParameter* portTemplate) override;

    bool IsOpen();
    std::string GetPortName();
    bool IsEnumerating() const { return m_Enumeration.IsRunning(); }
    // How the driver opens ports (tests put fake ports here); before Init.
    void SetPortOpener(CCommDriver::PortOpener opener);
    // The COM names an enumeration lists instead of the system's serial
    // ports (modelled lines of tests, which then see no real port); empty:
    // the system's ports. Set while no enumeration runs.
    using PortLister = std::function<std::vector<std::string>()>;
    static void SetDefaultPortLister(PortLister lister);

    // The driver's event handler (context: the interface).
    static void OnDriverEvent(uint32_t event, uint32_t data, CObject* context);
    // The enumeration thread's procedure: 998 for an argument that is not a
    // CCommInterface, else one IF_EVENT_PORT_FOUND per serial port and 0.
    static uint32_t Execute(CObject* argument);

private:
    void DoOnDriverEvent(uint32_t event, uint32_t data);
    void HandlePortError(uint32_t bits);

    std::unique_ptr<CCommDriver> m_pCommDriver;  // see Threads and locks
    CPortEnumeration m_Enumeration;
    CInterfaceParameter* m_pTemplate = nullptr;  // kept, not used by the serial listing
    CCommDriver::PortOpener m_Opener;            // owner's thread, before Init
    CObjectLock m_TxLock;
    CObjectLock m_RxLock;
};
