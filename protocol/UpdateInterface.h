// CUpdateInterface: the instrument line protocol that every port interface
// inherits.
//
// It frames SCPI messages (text + LF CR) and debug-monitor commands
// (text + ";" CR), sends a binary block in chunks of at most 80 bytes, each
// after the port reported its transmit buffer empty, cuts received bytes into
// reply lines (SCPI rules with definite-length blocks, or monitor rules with
// the monitor's prompt as a line of its own) and runs a reply timer (2000 ms)
// and a fragment timer (150 ms). Outcomes reach the owner as interface events
// (protocol/InterfaceEvents.h). A subclass supplies the raw write (SendData),
// the port opening (Init) and the port listing, and feeds its port's events in.
//
// Threads and locks:
// - Send*: the owner's thread (search or update thread). Take m_Lock and call
//   SendData while holding it.
// - OnDataReceived: the port's reading thread; m_Lock is held while lines are
//   cut and delivered, so IF_EVENT_LINE_RECEIVED reaches the owner on that
//   thread under m_Lock.
// - HandleEmptyTransmitBuffer: the port's I/O thread, below the port
//   interface's Rx lock; takes m_Lock (the next chunk is sent from here, and
//   the flags it tests are the ones the owner's sends test).
// - HandleWriteTermination, DoOnPortError: the port's I/O thread, possibly
//   while the port's transmit path is locked; they take no lock here (bytes
//   written and writing data are atomics) so they can never wait on an owner
//   that holds m_Lock while it writes.
// - OnTimer: the main (message-window) thread; takes m_Lock, so a time-out
//   cannot interleave with a line being cut. IF_EVENT_RECEIVE_TIMEOUT is
//   delivered on that thread.
// Lock order: port interface Rx lock -> m_Lock -> port interface Tx lock.
// Destruction: a timer callback calls virtual operations, so it must be over
// before a subclass's part is torn down. Every subclass destructor therefore
// calls CloseProtocol() first; it closes m_Lock (later sends, data and
// time-outs do nothing) and waits for a time-out already running.
// m_Lock guards every field below except the atomics and the two constant
// callback fields.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/BaseObject.h"
#include "base/ByteBuffer.h"
#include "base/CallbackTimer.h"
#include "base/ObjectLock.h"
#include "protocol/InstrumentCommands.h"
#include "protocol/InterfaceEvents.h"

class CInterfaceParameter;
namespace platform {
class Thread;
}

class CUpdateInterface : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CUpdateInterface)

    static constexpr std::string_view kSCPITerminator{"\x0A\x0D", 2};
    static constexpr std::string_view kSCPILineEnd{"\x0A\x0D", 2};
    static constexpr std::string_view kMonitorTerminator{";\x0D", 2};
    static constexpr std::string_view kMonitorLineEnd{"\x0D\x0A", 2};
    static constexpr std::string_view kBlockMarker{"#"};
    static constexpr size_t kMaxSCPIText = 76;
    static constexpr size_t kMaxMonitorText = 79;
    static constexpr uint32_t kChunkSize = 80;
    static constexpr uint32_t kReplyTimerId = 1;
    static constexpr uint32_t kReplyTimeoutMs = 2000;
    static constexpr uint32_t kFragmentTimerId = 2;
    static constexpr uint32_t kFragmentTimeoutMs = 150;
    // Received bytes that do not form a line are kept up to this size. A
    // peer that never ends its line, or a block header announcing more than
    // this, would otherwise grow the buffer without bound; beyond it the
    // buffer is discarded and the owner gets IF_EVENT_RECEIVE_TIMEOUT.
    static constexpr size_t kMaxReceiveBuffer = 64 * 1024;

    CUpdateInterface(InterfaceEventFn callback, CObject* context);
    ~CUpdateInterface() override;

    // --- the port's part ---
    // Writes the bytes to the port: 0, ERROR_IO_PENDING (accepted, still
    // running) or a system error.
    virtual uint32_t SendData(const CByteBuffer& data) = 0;
    virtual void DoOnLineReceived(const CByteBuffer& line);
    virtual void DoOnReceiveTimeout();
    // Reports a port failure (IF_EVENT_CONNECTION_LOST, _TRANSFER_ERROR or
    // _SYSTEM_ERROR) with data 0 and the text.
    virtual void DoOnPortError(uint32_t event, std::string_view text);
    // Opens the described port: 0 or a system error.
    virtual uint32_t Init(CInterfaceParameter* port) = 0;
    // Starts, once, the thread that lists the ports of this kind. The thread
    // object stays owned by the interface; null if it could not start.
    virtual platform::Thread* StartPortEnumeration(CInterfaceParameter* portTemplate) = 0;

    // --- the owner's part (owner's thread) ---
    // 0, a SendData error, 87 for an empty text, 24 for a text that is too
    // long, 996 while a reply is awaited or a transfer runs, 998 when the
    // object is being destroyed.
    uint32_t SendSCPIMsg(std::string_view text);
    uint32_t SendMonitorMsg(std::string_view text);
    // Starts a chunked transfer of `bytes`, which must stay valid until the
    // transfer ends (a line, a time-out or IF_EVENT_BYTES_SENT with `length`).
    uint32_t SendBinaryData(const uint8_t* bytes, uint32_t length);

    // --- fed by the port interface (I/O thread) ---
    void HandleWriteTermination(uint32_t count);
    void HandleEmptyTransmitBuffer();

    // Data handler to register with the port: `object` is the interface.
    static void OnDataReceived(CByteBuffer& data, CObject* object);
    // Callback of both timers.
    static void OnTimer(CCallbackTimer* timer, uint32_t time, CObject* object);

    // State, for the owner's diagnostics and tests (takes m_Lock).
    bool IsAwaitingReply();
    bool IsSCPIMode();
    bool IsWritingData() const { return m_bWritingData.load(std::memory_order_acquire); }
    uint32_t GetBytesWritten() const { return m_dwBytesWritten.load(std::memory_order_acquire); }
    size_t GetReceiveBufferLength();

protected:
    // Shuts the protocol down: see Destruction above. Idempotent.
    void CloseProtocol();
    bool HasEventCallback() const { return m_pEventCallback != nullptr; }
    // Calls the owner's callback, if one is set.
    void DoOnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer& text);
    void DoOnDataReceived(CByteBuffer& data);
    void DoOnTimer(CCallbackTimer* timer);

    // The front of `buffer` that forms the first complete reply, or empty.
    // `isBlock` tells whether it ends with a definite-length block.
    static CByteBuffer EnumSCPILines(const CByteBuffer& buffer, bool* isBlock = nullptr);
    static CByteBuffer EnumMonitorLines(const CByteBuffer& buffer);
    static CByteBuffer TrimLine(const CByteBuffer& line, bool scpiMode);

private:
    uint32_t SendFramed(std::string_view text, size_t maxLength, std::string_view terminator,
                        bool monitor);
    // Sends the chunk at the confirmed offset; m_Lock held.
    uint32_t SendChunk(uint32_t offset, uint32_t length);
    void StartReplyTimer();
    void StopReplyTimer();
    void StartFragmentTimer();
    void StopFragmentTimer();

    CByteBuffer m_ReceiveBuffer;
    bool m_bAwaitingReply = false;
    bool m_bSCPIMode = false;
    const uint8_t* m_pBinaryData = nullptr;  // the caller's block; not owned
    uint32_t m_dwBinaryLength = 0;
    std::atomic<bool> m_bWritingData{false};
    std::atomic<uint32_t> m_dwBytesWritten{0};
    std::unique_ptr<CCallbackTimer> m_pReplyTimer;
    std::unique_ptr<CCallbackTimer> m_pFragmentTimer;
    // Whether each timer was started and not stopped since, so a time-out
    // that was already on its way when a line stopped its timer is dropped.
    bool m_bReplyTimerArmed = false;
    bool m_bFragmentTimerArmed = false;
    std::atomic<bool> m_bClosed{false};
    const InterfaceEventFn m_pEventCallback;
    CObject* const m_pCallbackContext;

protected:
    CObjectLock m_Lock;
};
