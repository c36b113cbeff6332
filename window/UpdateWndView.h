// IUpdateWndView: everything the main window's logic (CUpdateWndCore) does
// to widgets, so the same logic drives the Qt window and headless front
// ends. CRecordingUpdateWndView records the calls and the resulting state
// for tests and headless use.
//
// Thread: the main window's thread only (the owner of its message window).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/DeviceList.h"
#include "update/ProgressWindow.h"
#include "window/RowImage.h"
#include "window/UpdateSinks.h"

class IUpdateDialogs;

// One row of the device list as the window shows it, in the list's order.
struct CDeviceRow {
    RowImage image = ROW_IMAGE_POSSIBLE;
    PortPtr port;            // the row's item data
    std::string device;      // GetHardwareDeviceName
    std::string type;        // GetDeviceType
    std::string version;     // GetSoftwareVersion
    std::string address;     // the port's GetName
    uint8_t state = 0;       // the list's state byte (not shown; for tests and tool tips)
};

// Enabled and checked states of the Settings menu.
struct CPortMenuState {
    bool serialActivate = true;
    bool serialDeactivate = false;
    bool serialChecked = false;
    bool usbActivate = true;
    bool usbDeactivate = false;
    bool usbChecked = false;
    bool ipActivate = false;  // the IP kind is never offered
    bool ipDeactivate = false;
    bool ipChecked = false;

    bool operator==(const CPortMenuState&) const = default;
};

class IUpdateWndView {
public:
    virtual ~IUpdateWndView() = default;

    // The device list changed: replace every row.
    virtual void SetRows(const std::vector<CDeviceRow>& rows) = 0;
    // The search progress bar: shown with its range and position, moved,
    // hidden. Show comes only while hidden, Move and Hide only while shown.
    virtual void ShowSearchProgress(uint16_t range, uint16_t position) = 0;
    virtual void MoveSearchProgress(uint16_t position) = 0;
    virtual void HideSearchProgress() = 0;
    virtual void EnableStartUpdate(bool enable) = 0;
    virtual void SetPortMenu(const CPortMenuState& menu) = 0;
    // The serial settings notice, modal. True when the user answered Yes.
    virtual bool AskSerialSettingsNotice() = 0;
    // The message dialog, modal: a result code or a string number about the
    // device on `port` (`device` may be null).
    virtual void ShowMessageDialog(uint32_t code, const PortPtr& port, const DevicePtr& device) = 0;
    // The window ends (closing).
    virtual void EndDialog() = 0;
    // The progress window an update thread asks for (`thread`: the
    // CDevUpdateThread), made on this thread; null for anything that is no
    // update thread.
    virtual IProgressWindow* CreateProgressWindow(const std::string& title, CObject* thread) { return nullptr; }
    // Deletes a window made by CreateProgressWindow; -1 for anything else.
    virtual int DestroyProgressWindow(CObject* window) { return -1; }
    // The questions before an update; null answers every one with No.
    virtual IUpdateDialogs* UpdateDialogs() { return nullptr; }
    // Closing while updates run, modal: true when the user still wants to
    // close (what can be cancelled is then cancelled).
    virtual bool AskCloseWhileUpdating() { return true; }
    // An update that programs the FLASH keeps the program open: the window
    // tells so and takes no more commands until it ends.
    virtual void ShowClosingAfterUpdates() {}
};

// Records what the logic did to the window. Thread: the main thread.
class CRecordingUpdateWndView : public IUpdateWndView {
public:
    struct Message {
        uint32_t code;
        PortPtr port;
        DevicePtr device;
    };

    void SetRows(const std::vector<CDeviceRow>& rows) override;
    void ShowSearchProgress(uint16_t range, uint16_t position) override;
    void MoveSearchProgress(uint16_t position) override;
    void HideSearchProgress() override;
    void EnableStartUpdate(bool enable) override;
    void SetPortMenu(const CPortMenuState& menu) override;
    bool AskSerialSettingsNotice() override;
    void ShowMessageDialog(uint32_t code, const PortPtr& port, const DevicePtr& device) override;
    void EndDialog() override;
    bool AskCloseWhileUpdating() override {
        ++closeQuestions;
        return answerClose;
    }
    void ShowClosingAfterUpdates() override { closingShown = true; }
    IProgressWindow* CreateProgressWindow(const std::string& title, CObject* thread) override;
    int DestroyProgressWindow(CObject* window) override;
    IUpdateDialogs* UpdateDialogs() override { return &dialogs; }

    // The answers to the questions before an update, and what was asked.
    CScriptedUpdateDialogs dialogs;
    // Every progress window made, kept after its deletion for inspection.
    std::vector<std::shared_ptr<CRecordingProgressSink>> progressWindows;
    int progressWindowsOpen = 0;

    // The answer AskSerialSettingsNotice gives.
    bool answerSerialNotice = true;
    // The answer AskCloseWhileUpdating gives, and how often it was asked.
    bool answerClose = true;
    int closeQuestions = 0;
    bool closingShown = false;

    // Current state.
    std::vector<CDeviceRow> rows;
    bool progressVisible = false;
    uint16_t progressRange = 0;
    uint16_t progressPosition = 0;
    bool startUpdateEnabled = false;
    CPortMenuState menu;
    bool ended = false;
    // History.
    std::vector<Message> messages;
    int serialNotices = 0;
    int rowRebuilds = 0;
    int progressShows = 0;
    int progressHides = 0;

    // The row of the port named `address` ("COM7"), or null.
    const CDeviceRow* FindRow(const std::string& address) const;
};
