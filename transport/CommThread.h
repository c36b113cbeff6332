// CCommThread: all input and output of one open serial port on one worker
// thread.
//
// The worker sleeps in one wait on its stop request, the port's write
// completion, its read request, the port's comm events and its write
// request, in that priority order. It reports port events through the
// event handler and received bytes through the data handler (CBaseObject).
// The port is borrowed: the driver opens and closes it.
//
// Threads and locks:
// - Init, the destructor: the owner (the driver). The destructor never runs
//   on the worker itself.
// - WriteData: any thread. m_TxLock guards m_TxBuffer and the write path;
//   RC_PORT_DATA_WRITTEN is raised with it held.
// - The worker: everything else. m_RxLock guards m_RxBuffer and
//   m_dwBytesToRead; RC_PORT_ERROR, RC_PORT_STATE_CHANGED, RC_PORT_TX_EMPTY
//   and the data handler run with it held. The worker may take m_TxLock
//   while it holds m_RxLock (a handler that sends at once), never the other
//   way round. RC_PORT_THREAD_TERMINATED is raised with neither.
// - m_bWriteBusy and m_bTerminate are atomics; the pending flags, the event
//   mask and m_pPort (after Init) belong to the worker.
// Handlers run on the worker and must not wait for it to end.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/BaseObject.h"
#include "base/ByteBuffer.h"
#include "base/ObjectLock.h"
#include "platform/Event.h"
#include "platform/SerialPort.h"
#include "platform/Thread.h"

class CCommThread : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CCommThread)

    CCommThread();
    // Stop, then frees the events and buffers.
    ~CCommThread() override;

    // 87 for a null port, 5 if a port is set already, 6 if an event is
    // missing, else starts the worker (0) or returns why it could not.
    uint32_t Init(platform::ISerialPort* port);

    // 0: the bytes are copied and on their way; 997 while the previous
    // write is still running (the data is not taken); 998 once the object
    // is being destroyed.
    uint32_t WriteData(const CByteBuffer& data);

    // For the driver, when it must let go of this object from one of its
    // own handlers: no further events or data reach any handler and the
    // worker ends as soon as the current handler returns. The object is
    // destroyed later, from another thread.
    void Abandon();
    // Shuts both locks down (no event but RC_PORT_THREAD_TERMINATED leaves
    // the worker afterwards), stops the worker and waits for it, handling
    // messages sent to a window this thread owns meanwhile. Not on the
    // worker itself. Idempotent.
    void Stop();
    bool IsWorkerThread() const { return m_Thread.IsCurrent(); }
    bool HasEnded() { return !m_Thread.IsStarted() || m_Thread.Finished().TryAcquire(); }

private:
    uint32_t Execute();
    uint32_t WaitForCommEvents();
    uint32_t WaitForPortEvents();
    uint32_t ProcessPortEvent(bool fromWait);
    uint32_t WriteDataToPort();
    uint32_t ProcessWriteEvent();
    uint32_t ProcessWriteFunctionResult(uint32_t error, uint32_t written);
    uint32_t ReadDataFromPort();
    uint32_t ProcessReadFunctionResult(uint32_t error, uint32_t read, uint32_t asked);
    void LogFailure(const char* text, const char* method) const;

    platform::ISerialPort* m_pPort = nullptr;  // borrowed; set once by Init
    platform::Thread m_Thread;
    uint32_t m_dwThreadId = 0;
    uint32_t m_bCommWaitPending = 0;
    uint32_t m_dwEventMask = 0;
    uint32_t m_bWritePending = 0;
    std::atomic<uint32_t> m_bWriteBusy{0};
    platform::Event m_hWriteEvent{platform::Event::kAutoReset};
    CByteBuffer m_TxBuffer;  // m_TxLock; its bytes stay put while a write is pending
    // Reads complete at once on Linux (a read of the bytes the port has
    // reported): never pending there, kept for the read path's shape, which
    // an overlapped read on Windows needs.
    uint32_t m_bReadPending = 0;
    platform::Event m_hReadEvent{platform::Event::kAutoReset};
    CByteBuffer m_RxBuffer;        // m_RxLock
    uint32_t m_dwBytesToRead = 0;  // m_RxLock
    platform::Event m_hTerminateEvent{platform::Event::kManualReset};
    std::atomic<uint32_t> m_bTerminate{0};
    CObjectLock m_TxLock;
    CObjectLock m_RxLock;
    bool m_bStopped = false;  // owner's thread only (Stop)
};
