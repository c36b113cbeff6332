// CDevSearchThread: identifies the instrument on one port, once.
//
// The object starts its worker thread at construction. The thread opens the
// port through an interface object of the port's kind, asks "*IDN?;",
// checks the maker, fills a new device record, asks for the hardware-module
// block, and reports one result with the records to its owner's callback.
// Then it ends; nothing is retried (the next search cycle makes a new one).
//
// Threads:
// - the search thread runs RequestDeviceParameter, ReportResult and the
//   owner's callback;
// - the interface's receiving thread (lines, port errors) and the main
//   thread (reply time-outs) run DoOnInterfaceEvent, which only stores the
//   line and signals an event;
// - the owner's thread (in practice a destruction thread of CThreadList)
//   runs the destructor, which stops the search thread and waits for it.
// Locks and fields:
// - m_RxMutex guards m_ReceiveBuffer: a line is stored under it and the
//   search thread takes its copy under it, so a late line can never be
//   written while the thread parses (a leaf lock: nothing is called under it).
// - m_pPort, m_pDevice: the search thread only, until the report hands them
//   over.
// - m_bNotify, m_bTerminated: atomics.
// - m_Lock: taken and shut down by the destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "base/BaseObject.h"
#include "base/ByteBuffer.h"
#include "base/ObjectLock.h"
#include "device/DeviceList.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "protocol/UpdateInterface.h"
#include "transport/InterfaceParameter.h"

class CDevSearchThread;

// The owner's callback, on the search thread. With RC_SEARCH_FINISHED the
// owner receives (shared) ownership of both records; with any other result
// both are null.
using SearchResultFn = void (*)(CDevSearchThread* thread, uint32_t result, DevicePtr device, PortPtr port,
                                CObject* user);

class CDevSearchThread : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CDevSearchThread)

    static constexpr uint32_t kBusyRetryMs = 10;

    // Takes the port record and starts the search thread at once. If an
    // event or the thread cannot be made, the object exists but never
    // reports (IsStarted() false).
    CDevSearchThread(std::unique_ptr<CInterfaceParameter> port, SearchResultFn callback, CObject* user);
    // Stops the thread without a report: clears the notify flag, signals the
    // terminate event and waits for the thread (handling sent messages
    // meanwhile on a message-window thread). Never call it on the search
    // thread itself (from the callback).
    ~CDevSearchThread() override;

    bool IsStarted() const { return m_bStarted; }
    uint32_t GetThreadId() const { return m_Thread.Id(); }

    // The interface's event callback (context: this object).
    static void OnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer* text, CObject* context);

private:
    static uint32_t Execute(CObject* argument);
    uint32_t RequestDeviceParameter();
    // Without a limit by default: the interface ends every query with a
    // line, a reply time-out or a port error.
    uint32_t WaitForInterfaceEvent(uint32_t timeoutMs = platform::kInfinite);
    // Asks "*IDN?;" and waits for the reply, skipping noise lines (see
    // IsIdentificationReply) within the reply time; `reply` gets the line.
    // RC_SEARCH_DATA_RECEIVED, RC_SEARCH_TIMEOUT, or the failed send's code.
    uint32_t AwaitIdentification(CUpdateInterface& port, CByteBuffer& reply);
    // Sends a query, waiting out a port that is still finishing the previous
    // write; a stop meanwhile sets m_bTerminated and returns 0.
    uint32_t SendQuery(CUpdateInterface& port, std::string_view query);
    int SelectIdnParameter(const CByteBuffer& reply);
    void DoOnInterfaceEvent(uint32_t event, const CByteBuffer& line);
    void ReportResult(uint32_t result);
    // The receive buffer's contents, taken under m_RxMutex.
    CByteBuffer TakeReceiveBuffer();
    // Empties the receive buffer and drops a stale reply or time-out signal.
    void ClearReceive();

    std::unique_ptr<CInterfaceParameter> m_pPort;  // search thread, until reported
    std::unique_ptr<CDeviceParameter> m_pDevice;   // search thread, until reported
    std::mutex m_RxMutex;
    CByteBuffer m_ReceiveBuffer;  // guarded by m_RxMutex
    platform::Thread m_Thread;
    platform::Event m_hTerminateEvent{platform::Event::kAutoReset};
    platform::Event m_hReceiveEvent{platform::Event::kAutoReset};
    platform::Event m_hTimeoutEvent{platform::Event::kAutoReset};
    std::atomic<int> m_bNotify{1};
    std::atomic<int> m_bTerminated{0};
    bool m_bStarted = false;  // set in the constructor only
    CObjectLock m_Lock;
    const SearchResultFn m_pCallback;
    CObject* const m_pUser;
};
