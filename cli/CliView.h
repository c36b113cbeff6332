// The main window's view for the command line: rows and reasons are kept
// for printing, the questions before an update are answered from the
// options, and the progress window becomes a progress line on the terminal.
//
// Threads: everything on the main thread, except CCliProgressWindow's
// PostMsg, which the update thread calls; m_mutex guards its queue.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/MessageWindow.h"
#include "update/DeviceUpdateDoc.h"
#include "update/ProgressWindow.h"
#include "window/UpdateWndView.h"

class CDevUpdateThread;

// Message the progress windows post to the main window to have their queue
// handled on the main thread.
inline constexpr uint32_t WM_CLI_PROGRESS = 0x8001;

// Text from instruments for the terminal: control characters and bytes that
// are no UTF-8 shown escaped (\x1b); `lines`: line ends stay.
std::string Printable(const std::string& text, bool lines = false);

struct CliOutput {
    bool json = false;
    bool terminal = false;  // standard error is a terminal: draw a progress line
};

class CCliProgressWindow : public IProgressWindow {
public:
    KORVA_RUNTIME_CLASS(CCliProgressWindow)

    CCliProgressWindow(IMessageWindow& mainWindow, CObject* thread, const CliOutput& output);
    bool PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) override;
    // Main thread: handles what the update thread posted, in order.
    void HandlePosted();
    // Main thread: the user asked to stop (Ctrl-C); only while cancelling is offered.
    bool Cancel();
    // The step texts shown, in order (string numbers).
    const std::vector<uint32_t>& Steps() const { return m_steps; }

private:
    void Draw();

    IMessageWindow& m_MainWindow;
    CDevUpdateThread* const m_pThread;
    const CliOutput m_Output;
    struct Post {
        uint32_t msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::mutex m_mutex;
    std::deque<Post> m_queue;  // guarded by m_mutex
    std::vector<uint32_t> m_steps;
    std::string m_text;
    bool m_bBar = false;
    uint32_t m_min = 0, m_max = 0, m_pos = 0;
    bool m_bCancelShown = true;
};

class CCliUpdateDialogs : public IUpdateDialogs {
public:
    explicit CCliUpdateDialogs(bool yes) : m_bYes(yes) {}
    int ShowVersionNotAtOnce() override;
    int AskVersionChange(uint32_t flags) override;
    int AskAdjustment() override;
    // The questions asked that were answered No, as their texts.
    std::vector<std::string> refused;
    std::vector<std::string> asked;

private:
    int Answer(const std::string& text, bool canSayYes);
    const bool m_bYes;
};

class CCliView : public IUpdateWndView {
public:
    CCliView(IMessageWindow& mainWindow, const CliOutput& output, bool yes)
        : m_MainWindow(mainWindow), m_Output(output), m_Dialogs(yes) {}

    void SetRows(const std::vector<CDeviceRow>& newRows) override { rows = newRows; }
    void ShowSearchProgress(uint16_t, uint16_t) override {}
    void MoveSearchProgress(uint16_t) override {}
    void HideSearchProgress() override {}
    void EnableStartUpdate(bool enable) override { startUpdateEnabled = enable; }
    void SetPortMenu(const CPortMenuState&) override {}
    // The serial settings are fixed by the program; the notice only informs.
    bool AskSerialSettingsNotice() override { return true; }
    void ShowMessageDialog(uint32_t code, const PortPtr& port, const DevicePtr& device) override;
    void EndDialog() override {}
    IProgressWindow* CreateProgressWindow(const std::string& title, CObject* thread) override;
    int DestroyProgressWindow(CObject* window) override;
    IUpdateDialogs* UpdateDialogs() override { return &m_Dialogs; }

    void HandleProgressPosts();
    // Ctrl-C: cancels the running updates that can still be cancelled.
    bool CancelUpdates();
    // An update's thread was started (it may have sent to the instrument).
    bool UpdateBegan() const { return m_nProgressWindows > 0; }
    bool UpdateRunning() const { return !m_Windows.empty(); }
    const CCliUpdateDialogs& Dialogs() const { return m_Dialogs; }

    std::vector<CDeviceRow> rows;
    bool startUpdateEnabled = false;
    // The message texts shown, by port name, in order.
    std::map<std::string, std::vector<std::pair<uint32_t, std::string>>> messages;
    std::vector<uint32_t> lastSteps;

private:
    IMessageWindow& m_MainWindow;
    const CliOutput m_Output;
    CCliUpdateDialogs m_Dialogs;
    std::vector<std::unique_ptr<CCliProgressWindow>> m_Windows;
    int m_nProgressWindows = 0;  // created so far
};
