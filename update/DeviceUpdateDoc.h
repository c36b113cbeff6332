// CDeviceUpdateDoc and CCustomUpdateDoc: between the main window and the
// update threads. StartDeviceUpdate checks the start conditions (asking the
// user through IUpdateDialogs where the compatibility rules want it),
// writes the update's head lines to the log and starts a CDevUpdateThread
// that it keeps in its thread list; the thread's result becomes
// WM_UPDATE_FINISHED or WM_UPDATE_CANCELED to the main window.
//
// Messages to the main window (blocking sends):
//   WM_UPDATE_CANCELED  wParam: the port (CInterfaceParameter*, or 0),
//                       lParam: the result code, or 0 when the update did
//                       not start
//   WM_UPDATE_FINISHED  wParam: the port (CInterfaceParameter*),
//                       lParam: the address of the device's DevicePtr
//                       (the handler copies it; docs/design-notes.md)
//
// Threads: construction, StartDeviceUpdate, the dialogs and destruction on
// the main thread (the owner of the main window). OnThreadEvent and
// DoOnThreadEvent on the reporting update thread.
// Locks: m_Lock serialises result handling (FinishDeviceUpdate and the
// removal from the thread list); it is released before the message to the
// main window is sent. Order: m_Lock, then the thread list's lock.
// Destruction: the lock is shut first, so a result still on its way is
// dropped; the thread list then stops every running update (each reports
// nothing) and waits for them, handling sent messages meanwhile.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/BaseObject.h"
#include "base/MessageWindow.h"
#include "base/ObjectLock.h"
#include "device/DeviceList.h"
#include "search/ThreadList.h"
#include "update/DevUpdateThread.h"

// The three modal questions before an update. The Qt dialogs implement
// them; tests answer them. Main thread.
class IUpdateDialogs {
public:
    virtual ~IUpdateDialogs() = default;
    // Dialog 6020: the change cannot be made in one step (text 6228). Its
    // only button is Cancel: the result is always 0.
    virtual int ShowVersionNotAtOnce() = 0;
    // Dialog 6019 with `flags` (VC_DOWNGRADE, VC_CHANGE_IMPOSSIBLE): 1 for
    // Yes, 0 for No; always 0 when VC_CHANGE_IMPOSSIBLE is set.
    virtual int AskVersionChange(uint32_t flags) = 0;
    // Dialog 6018: warm-up and open inputs before the self calibration
    // (texts 6229, 6230, 6231): 1 for Yes, 0 for No.
    virtual int AskAdjustment() = 0;
};

class CDeviceUpdateDoc : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CDeviceUpdateDoc)

    // `mainWindow` receives the result messages; `dialogs` asks the user.
    CDeviceUpdateDoc(IMessageWindow* mainWindow, IUpdateDialogs* dialogs);
    ~CDeviceUpdateDoc() override;

    // Non-zero when the update may start; fills the image.
    virtual int InitDeviceUpdate(const DevicePtr& device, const uint8_t** image, uint32_t* length) = 0;
    virtual void FinishDeviceUpdate(CDevUpdateThread* thread) = 0;
    // The version confirmation with the flags VC_DOWNGRADE and
    // VC_CHANGE_IMPOSSIBLE: non-zero when the user agrees.
    virtual int ConfirmVersionChange(uint32_t flags) = 0;
    // Starts one update; the outcome arrives later as a message.
    virtual void StartDeviceUpdate(const PortPtr& port, const DevicePtr& device);

    static void OnThreadEvent(CDevUpdateThread* thread, uint32_t code, const PortPtr& port, const DevicePtr& device,
                              CObject* document);
    void DoOnThreadEvent(CDevUpdateThread* thread, const PortPtr& port, const DevicePtr& device, uint32_t code);
    LRESULT DoOnSendMessage(uint32_t msg, WPARAM wParam, LPARAM lParam);

    // Running updates (tests, diagnostics).
    int GetThreadCount() { return m_Threads.GetCount(); }
    // Asks every running update that can still be cancelled to cancel (its
    // result still arrives). Returns how many go on because they are
    // programming the FLASH already. Main thread.
    int CancelUpdates();
    // Waits until every finished update's thread object is gone.
    bool WaitForDestructions(uint32_t timeoutMs) { return m_Threads.WaitForDestructions(timeoutMs); }

protected:
    // The start conditions: flags, the three questions. Main thread.
    int CheckStartConditions();

    DevicePtr m_pDevice;          // main thread
    uint32_t m_dwFlags[2] = {};   // keep settings, calibrate; main thread
    IMessageWindow* const m_pMainWindow;
    IUpdateDialogs* const m_pDialogs;
    CObjectLock m_Lock;
    CThreadList m_Threads;
    // The listed updates, for CancelUpdates. Guarded by m_Lock: a thread
    // leaves it under m_Lock before it is destroyed.
    std::vector<CDevUpdateThread*> m_Running;
};

// The update document of this program: the firmware it carries inside
// itself (resource 6120).
class CCustomUpdateDoc : public CDeviceUpdateDoc {
public:
    KORVA_RUNTIME_CLASS(CCustomUpdateDoc)
    using CDeviceUpdateDoc::CDeviceUpdateDoc;
    ~CCustomUpdateDoc() override = default;

    int InitDeviceUpdate(const DevicePtr& device, const uint8_t** image, uint32_t* length) override;
    void FinishDeviceUpdate(CDevUpdateThread* thread) override;
    int ConfirmVersionChange(uint32_t flags) override;
};
