// Closing the main window: what is cancelled, what is waited for (an update
// that programs the FLASH), and the closing steps once nothing is left.
#include "base/WindowMessages.h"
#include "search/DeviceSearchDoc.h"
#include "update/DeviceUpdateDoc.h"
#include "window/UpdateWndCore.h"

void CUpdateWndCore::OnCancel(bool ask) {
    if (m_bClosed || m_bClosing) return;  // already closing: nothing more to decide
    const auto running = [this] { return m_pUpdateDoc && m_pUpdateDoc->GetThreadCount() > 0; };
    if (running()) {
        if (ask && !m_View.AskCloseWhileUpdating()) return;
        // A stop request may have closed while the question was open.
        if (m_bClosed || m_bClosing) return;
    }
    m_bCloseAsked = ask;
    SwitchAllKindsOff();
    StopDeviceSearch();
    if (running()) {
        // An interrupted FLASH programming can leave the instrument unusable:
        // such an update goes on, everything else is cancelled.
        // Counted first: a cancelled update may report and leave the list at once.
        const int before = m_pUpdateDoc->GetThreadCount();
        const int going = m_pUpdateDoc->CancelUpdates();
        if (before > going)
            LogMessage(this, "Running updates were canceled at closing", nullptr, false);
        if (going > 0) {
            m_bClosing = true;
            LogMessage(this, "Closing waits for the update that programs the FLASH", nullptr, true);
            m_View.EnableStartUpdate(false);
            m_View.ShowClosingAfterUpdates();
            return;
        }
    }
    FinishClosing();
}

void CUpdateWndCore::FinishClosing() {
    m_bClosing = false;
    SwitchAllKindsOff();
    StopDeviceUpdate();
    StopDeviceSearch();
    m_bClosed = true;
    LogMessage(this, "The programm was finished", nullptr, true);
    m_View.EndDialog();
}

void CUpdateWndCore::CloseIfUpdatesOver() {
    // The reporting thread has left the document's list already; the window
    // closes outside this report, whose sender waits for its answer.
    if (m_bClosing && !m_bClosed && (!m_pUpdateDoc || m_pUpdateDoc->GetThreadCount() == 0))
        m_Window.PostMsg(WM_CLOSE_AFTER_UPDATES, 0, 0);
}
