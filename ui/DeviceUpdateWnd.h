// CDeviceUpdateWnd: the progress window of one running update: the current
// step's text, a progress bar for the long transfers and a Cancel button.
//
// The update thread never touches it: it posts the WM_SET_UPDATE_MESSAGE ..
// WM_SHOW_CANCEL_BUTTON messages through the IMessageWindow this window
// implements, and the main window creates and deletes it on the GUI thread
// when the thread asks. Posts become queued Qt events for this object, so
// they run on the GUI thread in the order posted, and the ones still queued
// when the object is deleted are dropped. (A CMessageWindow of its own
// would make this window the GUI thread's newest one, and waits on that
// thread would then answer only the sends to it, not the main window's.)
//
// Threads: PostMsg, SetTimer and KillTimer from any thread; everything
// else on the GUI thread. SendMsg from another thread is refused (0):
// a blocking call into the GUI thread could meet it waiting for that very
// thread. The members are the GUI thread's alone, so no lock guards them.
// The update thread sees the window as its IProgressWindow.
// SetWatcher: the GUI thread, before the first post is handled.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>

#include "base/BaseObject.h"
#include "base/MessageWindow.h"
#include "update/ProgressWindow.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class CDeviceUpdateWnd : public QDialog, public IProgressWindow, public IMessageWindow {
public:
    KORVA_RUNTIME_CLASS(CDeviceUpdateWnd)

    // Asks the update thread to cancel (its CancelUpdate).
    using CancelFn = std::function<void(CObject* thread)>;
    // Told after each message the window has handled (the screenshot tool
    // and the tests look at the window at that moment).
    using WatchFn = std::function<void(CDeviceUpdateWnd& window, uint32_t msg)>;

    // Creates and shows the window at once. `owner` is the main window: the
    // progress window stays above it and takes input while the main
    // window's modal loop runs (a window owned by the desktop would be
    // blocked by that loop and could open behind it). It sits below the
    // owner's device list, so the list stays readable; null: centred.
    CDeviceUpdateWnd(const QString& title, CObject* thread, CancelFn cancel, QWidget* owner = nullptr);
    ~CDeviceUpdateWnd() override;

    // IMessageWindow
    LRESULT SendMsg(uint32_t msg, WPARAM wParam = 0, LPARAM lParam = 0) override;
    bool PostMsg(uint32_t msg, WPARAM wParam = 0, LPARAM lParam = 0) override;
    bool SetTimer(uintptr_t id, uint32_t intervalMs, TimerCallback callback) override;
    bool KillTimer(uintptr_t id) override;
    bool IsOwnerThread() const override;

    // The window was closed by Cancel; the object waits for the thread's
    // request to delete it.
    bool IsWindowDestroyed() const { return m_bWindowDestroyed; }
    void SetWatcher(WatchFn watcher) { m_Watch = std::move(watcher); }
    // The step text and the bar as shown now.
    QString StepText() const;
    QProgressBar* ProgressBar() const { return m_pProgress; }
    QPushButton* CancelButton() const { return m_btnCancel; }

    // Handlers (GUI thread).
    void OnSetUpdateMessage(uint32_t stringId);
    void OnShowProgressBar(uint16_t start, uint16_t end);
    void OnUpdateProgressBar(uint16_t position);
    void OnHideProgressBar();
    void OnShowCancelButton(bool show);
    void OnCancel();

protected:
    void reject() override;  // Escape
    void closeEvent(QCloseEvent* event) override;

private:
    LRESULT Dispatch(uint32_t msg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void PlaceBelowDeviceList(QWidget* owner);

    QString m_strTitle;
    CObject* m_pThread;  // not owned
    CancelFn m_Cancel;
    WatchFn m_Watch;
    bool m_bWindowDestroyed = false;
    QLabel* m_pText = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QPushButton* m_btnCancel = nullptr;
    std::map<uintptr_t, QTimer*> m_Timers;  // GUI thread
};
