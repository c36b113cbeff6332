// CDeviceSearchDoc: runs the device search for the main window.
//
// For each port kind that is switched on it keeps one port interface whose
// enumeration thread reports every port of that kind; for every port
// reported it starts a CDevSearchThread and keeps it in a CThreadList; it
// tells the main window about the search through sent window messages; and
// a 500 ms timer on the main window repeats the enumeration every 20 ticks,
// so the search runs in cycles of 10 s while at least one kind is on.
//
// Messages to the main window (base/WindowMessages.h):
//   WM_START_DEVICE_SEARCH     a cycle begins
//   WM_DEVICE_SEARCH_STEP      wParam: tick 1..20
//   WM_DEVICE_SEARCH_CANCELED  the last kind was switched off
//   WM_DEVICE_SEARCH_FINISHED  wParam: const DevicePtr*, lParam: const PortPtr*
// The two records travel as the addresses of the sender's shared_ptrs; the
// handler copies them. The send blocks until the handler has returned, and
// a window that is closed never sees them: the sender's references are
// dropped either way, so no record leaks.
//
// Threads:
// - main thread: constructor, StartDeviceSearch, StopDeviceSearch, the
//   timer callback, destructor;
// - enumeration threads (one per kind): DoOnInterfaceEvent;
// - search threads: DoOnThreadEvent, which holds m_Lock while its
//   WM_DEVICE_SEARCH_FINISHED waits for the main thread;
// - destruction threads of the thread list.
// Locks: m_Lock is taken by DoOnInterfaceEvent, DoOnThreadEvent (without
// limit), DoOnTimerEvent (at most 100 ms, else the tick is skipped) and the
// destructor. Order: m_Lock, then the thread list's lock, then (in a handler
// reached by a send) the device list's lock. StartDeviceSearch and
// StopDeviceSearch take no lock: the interfaces, the templates, the tick and
// the timer are used on the main thread only. Every wait of the main thread
// here handles sent messages meanwhile (docs/design-notes.md), so a search
// thread blocked in a send while it holds m_Lock never deadlocks it.
#pragma once

#include <cstdint>
#include <memory>

#include "base/BaseObject.h"
#include "base/CallbackTimer.h"
#include "base/MessageWindow.h"
#include "base/ObjectLock.h"
#include "device/DeviceList.h"
#include "search/DevSearchThread.h"
#include "search/ThreadList.h"
#include "transport/InterfaceParameter.h"

class CCommInterface;
class CUsbInterface;
class CIPInterface;

class CDeviceSearchDoc : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CDeviceSearchDoc)

    static constexpr uint32_t kTimerId = 3;
    static constexpr uint32_t kTimerIntervalMs = 500;
    static constexpr int kTicksPerCycle = 20;
    static constexpr uint32_t kTimerLockWaitMs = 100;

    // `mainWindow`: where the messages go and the timer runs; null takes the
    // process's main window (CMessageWindow::Main()) at construction.
    explicit CDeviceSearchDoc(IMessageWindow* mainWindow = nullptr);
    // Stops the timer, the enumerations and every search thread (none of
    // which reports any more) and waits until they are all gone.
    ~CDeviceSearchDoc() override;

    // Main thread. Starts (or restarts) the search of the template's kind
    // and begins a new cycle.
    void StartDeviceSearch(const CInterfaceParameter& portTemplate);
    // Main thread. Stops the search of the template's kind; with no kind
    // left, stops the timer and sends WM_DEVICE_SEARCH_CANCELED.
    void StopDeviceSearch(const CInterfaceParameter& portTemplate);

    bool IsSearching(uint8_t kind) const;  // main thread
    int GetThreadCount() { return m_ThreadList.GetCount(); }
    CThreadList& GetThreadList() { return m_ThreadList; }

    static void OnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer* text, CObject* context);
    static void OnThreadEvent(CDevSearchThread* thread, uint32_t result, DevicePtr device, PortPtr port,
                              CObject* context);
    static void OnTimerEvent(CCallbackTimer* timer, uint32_t time, CObject* context);

private:
    void DoOnInterfaceEvent(uint32_t event, uintptr_t data);
    void DoOnThreadEvent(CDevSearchThread* thread, uint32_t result, DevicePtr device, PortPtr port);
    void DoOnTimerEvent();
    // Sends the message for `event` and waits until it is handled. Other
    // events are dropped.
    void DoOnEnumEvent(uint32_t event, uint32_t step = 0, const DevicePtr* device = nullptr,
                       const PortPtr* port = nullptr);
    bool HasInterface() const;

    IMessageWindow* const m_pWindow;
    std::unique_ptr<CCommInterface> m_pSerialInterface;  // main thread
    std::unique_ptr<CUsbInterface> m_pUsbInterface;      // main thread
    std::unique_ptr<CIPInterface> m_pIPInterface;        // main thread
    CInterfaceParameter m_SerialTemplate;                // main thread
    CInterfaceParameter m_UsbTemplate;                   // main thread
    CInterfaceParameter m_IPTemplate;                    // main thread
    CObjectLock m_Lock;
    // Declared after m_Lock: a search thread stopped while the list goes
    // may still try m_Lock, which is closed by then but not yet gone.
    CThreadList m_ThreadList;
    std::unique_ptr<CCallbackTimer> m_pTimer;
    int m_nTick = 0;  // main thread (the timer callback and StartDeviceSearch)
};
