// CUsbThread: the I/O object of an open USB device: a receive thread that
// sleeps on the library's event notification and hands received bytes to
// the data handler, and a transmit thread that writes what WriteData queued.
//
// Events raised (event handler, CBaseObject lock held): RC_PORT_DATA_WRITTEN
// (bytes written) from the transmit thread, RC_PORT_THREAD_TERMINATED
// (0 after a stop request, else the error) from each thread as it ends.
// Never RC_PORT_TX_EMPTY, RC_PORT_ERROR or RC_PORT_STATE_CHANGED.
//
// Threads and locks:
// - WriteData: any thread; m_TxLock guards the transmit buffer, m_dwWriteBusy.
// - the receive thread: m_RxLock guards the receive buffer and the data
//   handler call (the handler runs under it).
// - the transmit thread raises RC_PORT_DATA_WRITTEN after releasing m_TxLock,
//   so an owner that holds its own lock while writing can never wait on a
//   transmit thread that waits on that owner.
// - destructor: the owner's thread, never one of the two workers.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/BaseObject.h"
#include "platform/Event.h"
#include "platform/SharedLibrary.h"
#include "platform/Thread.h"
#include "usb/ftd2xx.h"

class CUsbThread : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CUsbThread)

    CUsbThread();
    ~CUsbThread() override;

    // 87 for a null handle or library, 5 if already set, 6 if an event is
    // missing, a bind or notification failure, else 0 with both threads running.
    uint32_t Init(const platform::SharedLibrary* library, FT_HANDLE device);
    // 997 while bytes of the previous write remain, 998 when shutting down.
    uint32_t WriteData(const CByteBuffer& data);
    // True on one of this object's two workers.
    bool IsWorkerThread() const { return m_RxThread.IsCurrent() || m_TxThread.IsCurrent(); }

private:
    uint32_t RxExecute();
    uint32_t TxExecute();
    uint32_t ReadDataFromPort();
    uint32_t WriteDataToPort();

    PFN_FT_Read m_pRead = nullptr;
    PFN_FT_Write m_pWrite = nullptr;
    PFN_FT_GetQueueStatus m_pGetQueueStatus = nullptr;
    PFN_FT_SetEventNotification m_pSetEventNotification = nullptr;
    FT_HANDLE m_hDevice = nullptr;  // borrowed from the driver; set before the threads start
    platform::Thread m_RxThread;
    platform::Thread m_TxThread;
    std::atomic<uint32_t> m_dwWriteBusy{0};
    platform::Event m_hWriteEvent{platform::Event::kAutoReset};
    CByteBuffer m_TransmitBuffer;  // guarded by m_TxLock
    platform::Event m_hReadEvent{platform::Event::kAutoReset};
    CByteBuffer m_ReceiveBuffer;  // guarded by m_RxLock
    platform::Event m_hTerminateEvent{platform::Event::kManualReset};
    std::atomic<uint32_t> m_dwTerminate{0};
    CObjectLock m_TxLock;
    CObjectLock m_RxLock;
};
