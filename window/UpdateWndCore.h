// CUpdateWndCore: the main window's logic without any toolkit.
//
// It owns the device list, the search document and (with the update
// document) the update side; it keeps the port kind switches, carries out
// the menu commands and handles the window messages that search and update
// threads send. Everything it does to widgets goes through IUpdateWndView;
// the Qt main window implements that view and forwards its menu commands,
// list clicks and its message window's messages here, and headless front
// ends and tests use CRecordingUpdateWndView.
//
// Messages reach the logic through Dispatch, which is the handler of the
// main window's CMessageWindow (Handler() gives it). Records travel in
// WM_DEVICE_SEARCH_FINISHED and WM_UPDATE_FINISHED as the address of the
// sender's shared_ptr (docs/design-notes.md): the handler copies it.
//
// Threads: everything runs on the main window's thread (the owner of the
// message window); worker threads reach it only through sent messages.
// Locks: m_Lock (the window's lock) is held by UpdateWnd while it rebuilds
// the rows; CDeviceList locks itself. No handler holds m_Lock while it
// sends, waits or calls into the search document.
//
// Files: UpdateWndCore.cpp (messages, the rows), UpdateWndPorts.cpp (menu
// and port kinds), UpdateWndSearch.cpp (search handlers),
// UpdateWndUpdate.cpp (update handlers), UpdateWndClosing.cpp (closing).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "base/BaseObject.h"
#include "base/MessageWindow.h"
#include "base/ObjectLock.h"
#include "device/DeviceList.h"
#include "window/UpdateWndView.h"

class CDeviceSearchDoc;
class CDeviceUpdateDoc;

// Menu command numbers of the Settings menu.
inline constexpr uint32_t ID_SERIAL_ACTIVATE = 46001;
inline constexpr uint32_t ID_SERIAL_DEACTIVATE = 46002;
inline constexpr uint32_t ID_USB_ACTIVATE = 46011;
inline constexpr uint32_t ID_USB_DEACTIVATE = 46012;
inline constexpr uint32_t ID_USB_OPTIONS = 46013;
inline constexpr uint32_t ID_IP_ACTIVATE = 46021;
inline constexpr uint32_t ID_IP_DEACTIVATE = 46022;
inline constexpr uint32_t ID_IP_OPTIONS = 46023;

// Posted to the main window once the last update has ended while closing
// waited for it; handled outside every update's report.
inline constexpr uint32_t WM_CLOSE_AFTER_UPDATES = 0x0430;

class CUpdateWndCore : public CBaseObject {
public:
    // Log entries name the main window.
    KORVA_RUNTIME_CLASS(CUpdateWnd)

    static constexpr uint16_t kIpPort = 1148;
    static constexpr uint16_t kSearchRange = 10;

    // `window` is the main window: searches send to it and run their timer
    // on it. `usbLibraryCreated`: whether start-up wrote the USB library
    // (g_bUsbDllCreated); without it USB cannot be activated.
    CUpdateWndCore(CMessageWindow& window, IUpdateWndView& view, bool usbLibraryCreated);
    // Runs the closing steps if OnCancel has not (all kinds off, update and
    // search documents gone), then takes and shuts down the lock.
    ~CUpdateWndCore() override;

    // The message window's handler: WndProc-style dispatch of the messages
    // of WindowMessages.h to the On... handlers below; other messages give 0.
    LRESULT Dispatch(uint32_t msg, WPARAM wParam, LPARAM lParam);
    CMessageWindow::Handler Handler();

    // --- user actions (from the view) ---
    void OnInitDialog();
    // A menu command (ID_...). Unknown and inactive commands do nothing.
    void OnCommand(uint32_t id);
    // Row clicked (left): `port` is the row's item data, null when no single
    // row is selected.
    void OnActivateDevice(const PortPtr& port);
    // Closing. From the window (button 2, the close box, Escape) `ask` is
    // true: with updates running the user is asked first. A stop request
    // (SIGTERM, SIGINT) does not ask. Updates that can still be cancelled
    // are; one that programs the FLASH runs to its end, and the window
    // closes after it (the view is told meanwhile).
    void OnCancel(bool ask = true);
    // Closing waits for an update that programs the FLASH.
    bool IsClosing() const { return m_bClosing; }

    // --- port kinds (the menu's logic; OnCommand calls these) ---
    enum class PortKind { kSerial, kUsb, kIp };
    static constexpr int kPortKinds = 3;
    // False when nothing changed (declined notice, already on/off, not
    // available).
    bool Switch(PortKind kind, bool on);
    bool SwitchSerial(bool on) { return Switch(PortKind::kSerial, on); }
    bool SwitchUsb(bool on) { return Switch(PortKind::kUsb, on); }
    bool SwitchIp(bool on) { return Switch(PortKind::kIp, on); }
    // Start a search for every kind switched on; stop it for every kind
    // switched off (the search document goes with the last).
    void StartDeviceSearch();
    void StopDeviceSearch();

    // --- search notifications ---
    LRESULT OnStartDeviceSearch();
    LRESULT OnDeviceSearchStep(uint16_t step);
    LRESULT OnDeviceSearchCanceled();
    LRESULT OnDeviceSearchError();
    // `device`, `port`: the sender's shared pointers (copied here).
    LRESULT OnDeviceSearchFinished(const DevicePtr* device, const PortPtr* port);
    uint8_t SetDeviceInitialState(const PortPtr& port, const DevicePtr& device);

    // --- update notifications ---
    // The update document lives here once it exists (m_pUpdateDoc).
    void OnStartDeviceUpdate();
    LRESULT OnUpdateCanceled(const CInterfaceParameter* port, uint32_t code);
    LRESULT OnUpdateFinished(const CInterfaceParameter* port, const DevicePtr* device);
    LRESULT OnCreateDeviceUpdateWindow(WPARAM title, LPARAM thread);
    LRESULT OnDestroyDeviceUpdateWindow(LPARAM window);
    LRESULT OnShowMessageDlg(uint32_t code, const CInterfaceParameter* port);
    // Deletes the update document (closing).
    void StopDeviceUpdate();

    void UpdateWnd();

    // --- state (main thread) ---
    CDeviceList& GetDeviceList() { return m_DeviceList; }
    CDeviceSearchDoc* GetSearchDoc() const { return m_pSearchDoc.get(); }
    CDeviceUpdateDoc* GetUpdateDoc() const { return m_pUpdateDoc.get(); }
    IMessageWindow& GetWindow() { return m_Window; }
    IUpdateWndView& GetView() { return m_View; }
    bool IsOn(PortKind kind) const { return m_bKindOn[static_cast<int>(kind)]; }
    bool IsSerialOn() const { return IsOn(PortKind::kSerial); }
    bool IsUsbOn() const { return IsOn(PortKind::kUsb); }
    bool IsIpOn() const { return IsOn(PortKind::kIp); }
    bool IsSearchRunning() const { return m_bSearchRunning != 0; }
    uint16_t GetSearchStep() const { return m_wSearchStep; }
    const PortPtr& GetSelectedPort() const { return m_pSelectedPort; }

private:
    void ApplyMenu();
    // The closing steps once no update is left to wait for.
    void FinishClosing();
    // After an update's report: closing may go on once the last one is over.
    void CloseIfUpdatesOver();
    void SwitchAllKindsOff() { m_bKindOn = {}; }

    CMessageWindow& m_Window;
    IUpdateWndView& m_View;
    const bool m_bUsbLibraryCreated;

    CDeviceList m_DeviceList;
    std::unique_ptr<CDeviceSearchDoc> m_pSearchDoc;
    std::unique_ptr<CDeviceUpdateDoc> m_pUpdateDoc;  // made on the first update start
    // A document that closing took away while its StartDeviceUpdate still
    // ran (a question open when a stop request came): it goes when that
    // call has returned.
    std::unique_ptr<CDeviceUpdateDoc> m_pRetiredDoc;
    std::array<bool, kPortKinds> m_bKindOn{};  // indexed by PortKind
    uint16_t m_wIpPort = kIpPort;
    int m_bSearchRunning = 0;
    uint16_t m_wSearchRange = kSearchRange;
    uint16_t m_wSearchStep = 0;
    PortPtr m_pSelectedPort;
    // While the update document decides whether an update may start: its
    // port and the row's state before the request. A refusal (code 0 then)
    // gives the row its state back.
    const CInterfaceParameter* m_pStartingPort = nullptr;
    uint8_t m_StartingState = 0;
    CPortMenuState m_Menu;
    bool m_bProgressShown = false;  // what the view shows; guarded by m_Lock
    bool m_bClosed = false;
    bool m_bClosing = false;        // waiting for FLASH programming to end
    bool m_bCloseAsked = false;     // the user closed the window (not a stop request)
    CObjectLock m_Lock;
};
