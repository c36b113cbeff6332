// CUpdateWnd: the program's main window, run modally for the program's whole
// life. The widgets live here; the logic (port kinds, searches, device
// states, updates) is CUpdateWndCore's, which this window drives through
// IUpdateWndView. The window's CMessageWindow is pumped from Qt's event loop,
// so search and update threads reach the logic in every event loop,
// including those of modal dialogs.
//
// Thread: the GUI thread only; worker threads reach the window only through
// its message window.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "base/MessageWindow.h"
#include "update/ProgressWindow.h"
#include "window/UpdateWndCore.h"
#include "window/UpdateWndView.h"

class CQtMessagePump;
class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Menu commands of the window other than the port kinds.
inline constexpr uint32_t ID_LOG_FILE_DIRECTORY = 46101;
inline constexpr uint32_t ID_APP_ABOUT = 46111;
inline constexpr uint32_t ID_DEVICE_PROPERTIES = 46201;

class CUpdateWnd : public QDialog, public IUpdateWndView {
public:
    // `usbLibraryCreated`: whether start-up wrote the USB library.
    explicit CUpdateWnd(bool usbLibraryCreated, QWidget* parent = nullptr);
    // The library flag of this process (g_bUsbDllCreated).
    explicit CUpdateWnd(QWidget* parent = nullptr);
    ~CUpdateWnd() override;

    // Command 46111 goes to the application; without a handler the window
    // shows the About box itself.
    void SetAboutHandler(std::function<void()> handler) { m_About = std::move(handler); }

    CUpdateWndCore& Core() { return *m_pCore; }
    CMessageWindow& Window() { return m_Window; }
    // The action of menu command `id` (tests, screenshots), or nullptr.
    QAction* Command(uint32_t id) const;
    // The popup menu entry of a port kind (0 serial, 1 USB, 2 IP), which
    // carries the check mark.
    QAction* PortKindEntry(int index) const;
    QTreeWidget* List() const { return m_pList; }
    // The row shown for `port` (nullptr when not listed).
    QTreeWidgetItem* RowOf(const CInterfaceParameter* port) const;
    // Opens the properties of the device on `port` (the context menu's
    // entry). Takes the port, not the row: the list may be rebuilt while a
    // menu or dialog runs its own event loop, and the row with it.
    void ShowDeviceProperties(const PortPtr& port);
    // A termination request (SIGTERM, SIGINT): closes without asking,
    // cancelling what can be cancelled.
    void CloseOnStopRequest();
    // The notice shown while closing waits for FLASH programming (tests).
    QLabel* ClosingNotice() const { return m_pClosingNotice; }

    // IUpdateWndView
    // The progress window an update thread asks for, created and deleted on
    // this thread; its Cancel asks the thread (a CDevUpdateThread) to cancel.
    // Null when `thread` is no update thread.
    IProgressWindow* CreateProgressWindow(const std::string& title, CObject* thread) override;
    // Deletes a window made by CreateProgressWindow; -1 for anything else.
    int DestroyProgressWindow(CObject* window) override;
    // The questions before an update, as dialogs over this window.
    IUpdateDialogs* UpdateDialogs() override { return m_pQuestions.get(); }
    void SetRows(const std::vector<CDeviceRow>& rows) override;
    void ShowSearchProgress(uint16_t range, uint16_t position) override;
    void MoveSearchProgress(uint16_t position) override;
    void HideSearchProgress() override;
    void EnableStartUpdate(bool enable) override;
    void SetPortMenu(const CPortMenuState& menu) override;
    bool AskSerialSettingsNotice() override;
    void ShowMessageDialog(uint32_t code, const PortPtr& port, const DevicePtr& device) override;
    void EndDialog() override;
    bool AskCloseWhileUpdating() override;
    void ShowClosingAfterUpdates() override;

    void reject() override;  // the close box, Escape, button 2: the closing steps
    void accept() override;  // Enter: does not end the program

private:
    void OnInitDialog();
    void BuildMenu();
    void BuildControls();
    void OnCommand(uint32_t id);
    void OnListClicked();
    void OnListContextMenu(const QPoint& position);
    PortPtr PortOfRow(const QTreeWidgetItem* row) const;

    CMessageWindow m_Window;
    std::unique_ptr<IUpdateDialogs> m_pQuestions;  // before the logic, which keeps its address
    std::unique_ptr<CUpdateWndCore> m_pCore;
    CQtMessagePump* m_pPump = nullptr;
    std::function<void()> m_About;
    bool m_bEnding = false;

    QMenuBar* m_pMenuBar = nullptr;
    std::map<uint32_t, QAction*> m_Commands;
    QAction* m_pPortKindEntries[3] = {};
    QTreeWidget* m_pList = nullptr;            // control 6016
    QProgressBar* m_pProgress = nullptr;       // control 6014
    QPushButton* m_btnStartUpdate = nullptr;   // control 6017
    QPushButton* m_btnCancel = nullptr;        // control 2
    QLabel* m_pClosingNotice = nullptr;        // over the device search group while closing waits
    std::vector<PortPtr> m_RowPorts;           // item data: index stored in the row
};
