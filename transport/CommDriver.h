// CCommDriver: one open RS-232 port with the settings its owner chose, and
// the I/O thread (CCommThread) that serves it.
//
// The owner chooses settings (each Set... marks its group as chosen; groups
// not chosen take what the port has at every opening), then Init("COM7")
// opens the port. The driver passes the I/O thread's events on to the
// owner's event handler, except RC_PORT_THREAD_TERMINATED: a thread that
// ended with an error, and a line error with CE_MODE, close and reopen the
// port once; a failed reopen reaches the owner as RC_PORT_SYSTEM_ERROR.
// Received bytes go from the I/O thread straight to the owner's data
// handler.
//
// Events the owner receives (on the I/O thread, or on the thread of Init
// for the one RC_PORT_STATE_CHANGED raised while the port opens):
// RC_PORT_STATE_CHANGED, RC_PORT_DATA_WRITTEN, RC_PORT_TX_EMPTY,
// RC_PORT_ERROR (without CE_MODE), RC_PORT_SYSTEM_ERROR.
//
// Threads and locks:
// - Setting operations, Init, SetEventHandler, SetDataHandler: the owner's
//   thread. m_RxLock guards the settings, the properties, the queue sizes
//   and the owner's handlers, and serialises event handling.
// - WriteData: any thread, under m_TxLock, then the thread's Tx lock.
// - OnPortEvent: the I/O thread; holds m_RxLock while it reopens the port
//   and while it calls the owner's handler (lock order: I/O thread's Rx
//   lock, driver Rx, owner's locks; then, if the owner sends, owner Tx,
//   driver Tx, I/O thread Tx).
// - IsOpen, GetPortName, ClearBuffers: any thread. The port, the I/O
//   thread and the port name are published under m_StateMutex, a leaf lock
//   never held while calling out.
// - m_bClosing is atomic; written only by Init and the destructor.
// The destructor shuts both locks down, so it cannot deadlock against an
// I/O thread that is delivering an event.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/BaseObject.h"
#include "base/ByteBuffer.h"
#include "base/ObjectLock.h"
#include "platform/SerialPort.h"

class CCommThread;

class CCommDriver : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CCommDriver)

    // Groups of the settings mask.
    static constexpr uint16_t kBaudRate = 0x001;
    static constexpr uint16_t kByteSize = 0x002;
    static constexpr uint16_t kStopBits = 0x004;
    static constexpr uint16_t kParity = 0x008;
    static constexpr uint16_t kHandshake = 0x010;
    static constexpr uint16_t kDsrSensitivity = 0x020;
    static constexpr uint16_t kQueueSizes = 0x100;
    static constexpr uint16_t kEvtChar = 0x200;
    static constexpr uint16_t kEofChar = 0x400;
    static constexpr uint16_t kErrorChar = 0x800;

    // How ports are opened; tests put fake ports here. Default:
    // platform::OpenSerialPort.
    using PortOpener = std::function<uint32_t(const std::string& portName,
                                              std::unique_ptr<platform::ISerialPort>* port)>;

    CCommDriver();
    ~CCommDriver() override;

    // Setting operations (owner's thread). Each marks its group as chosen,
    // even when it rejects the value; when it changes the settings of an
    // open port it purges the port and applies them at once, returning the
    // result of that (0 while closed).
    uint32_t SetBaudRate(uint32_t rate);
    uint32_t SetParity(uint8_t parity);           // 1..4, anything else: none
    uint32_t SetStopBits(uint8_t bits);           // 0..2
    uint32_t SetByteSize(uint8_t size);           // 5..8
    uint32_t SetHandshake(uint8_t flags, char xonChar, char xoffChar);
    uint32_t SetDsrSensitivity(uint8_t on);       // 0 or 1
    void SetBufferSize(uint32_t rx, uint32_t tx);

    // 87 for a name without "COM"; else the result of opening (0 or the
    // error of the step that failed, with nothing left open).
    uint32_t Init(const std::string& portName);
    uint32_t OpenSerialPort();
    void CloseSerialPort();
    // 998 when no port is open; purges both queues and clears the errors.
    uint32_t ClearBuffers();
    bool IsOpen() const;
    std::string GetPortName() const;
    // 0, 997 while the previous write runs, 998 when not open, or an error.
    uint32_t WriteData(const CByteBuffer& data);

    void SetEventHandler(EventHandlerFn handler, CObject* user) override;
    void SetDataHandler(DataHandlerFn handler, CObject* user) override;

    // Before Init.
    void SetPortOpener(PortOpener opener);
    // The opener of every driver without one of its own (a model of a line
    // for benchmarks and tests); empty: the system's ports. Set while no
    // driver opens.
    static void SetDefaultPortOpener(PortOpener opener);

    // What the driver keeps (for the owner's diagnostics and tests).
    DCB GetSettings() const;
    uint16_t GetSettingsChosen() const;
    void GetQueueSizes(uint32_t* rx, uint32_t* tx) const;

    // The I/O thread's event handler.
    static void OnPortEvent(uint32_t event, uint32_t data, CObject* context);

private:
    void DoOnPortEvent(uint32_t event, uint32_t data);
    void TellOwner(uint32_t event, uint32_t data);
    uint32_t ApplySettings();
    uint32_t Reopen(const std::string& name);
    std::shared_ptr<platform::ISerialPort> Port() const;
    void DisposeEndedThreads(bool wait);

    using Retired = std::pair<std::shared_ptr<CCommThread>, std::shared_ptr<platform::ISerialPort>>;

    mutable std::mutex m_StateMutex;  // leaf lock: the next four fields
    std::string m_strPortName;
    std::shared_ptr<platform::ISerialPort> m_pPort;
    std::shared_ptr<CCommThread> m_pCommThread;
    // Threads let go of from their own handlers, ended or about to end;
    // destroyed later from another thread.
    std::vector<Retired> m_Retired;

    std::atomic<uint8_t> m_bClosing{0};
    COMMPROP m_CommProp{};           // m_RxLock
    DCB m_DCB{};                     // m_RxLock
    uint16_t m_wSettingsChosen = 0;  // m_RxLock
    uint32_t m_dwRxQueueSize = 0;    // m_RxLock
    uint32_t m_dwTxQueueSize = 0;    // m_RxLock
    EventHandlerFn m_pOwnerEvent = nullptr;  // m_RxLock
    CObject* m_pOwnerEventUser = nullptr;
    DataHandlerFn m_pOwnerData = nullptr;    // m_RxLock
    CObject* m_pOwnerDataUser = nullptr;
    PortOpener m_Opener;  // set before Init
    mutable CObjectLock m_RxLock;
    CObjectLock m_TxLock;
};
