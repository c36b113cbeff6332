#include "cli/CliView.h"

#include <cstdio>

#include "base/StringIds.h"
#include "base/Strings.h"
#include "base/WindowMessages.h"
#include "update/DevUpdateThread.h"
#include "window/MessageText.h"

namespace {

// Dialog texts use CR LF; the terminal wants LF.
std::string PlainLines(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

}  // namespace

CCliProgressWindow::CCliProgressWindow(IMessageWindow& mainWindow, CObject* thread, const CliOutput& output)
    : m_MainWindow(mainWindow), m_pThread(CObject::DownCast<CDevUpdateThread>(thread)), m_Output(output) {}

bool CCliProgressWindow::PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(Post{msg, wParam, lParam});
    }
    // Wakes the main thread, which handles the queue in order.
    return m_MainWindow.PostMsg(WM_CLI_PROGRESS, 0, 0);
}

void CCliProgressWindow::HandlePosted() {
    for (;;) {
        Post post;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_queue.empty()) return;
            post = m_queue.front();
            m_queue.pop_front();
        }
        switch (post.msg) {
            case WM_SET_UPDATE_MESSAGE:
                m_steps.push_back(static_cast<uint32_t>(post.lParam));
                m_text = PlainLines(LoadStringResource(static_cast<uint32_t>(post.lParam)));
                if (!m_Output.json && !m_Output.terminal) std::fprintf(stderr, "%s\n", m_text.c_str());
                break;
            case WM_SHOW_PROGRESS_BAR:
                m_bBar = true;
                m_min = static_cast<uint32_t>(post.wParam & 0xFFFF);
                m_max = static_cast<uint32_t>(post.lParam & 0xFFFF);
                m_pos = m_min;
                break;
            case WM_UPDATE_PROGRESS_BAR:
                m_pos = static_cast<uint32_t>(post.lParam & 0xFFFF);
                break;
            case WM_HIDE_PROGRESS_BAR:
                m_bBar = false;
                break;
            case WM_SHOW_CANCEL_BUTTON:
                m_bCancelShown = post.lParam != 0;
                break;
            default:
                break;
        }
        Draw();
    }
}

void CCliProgressWindow::Draw() {
    if (m_Output.json || !m_Output.terminal) return;
    if (m_bBar && m_max > m_min) {
        const uint32_t span = m_max - m_min;
        const uint32_t done = m_pos > m_min ? std::min(m_pos - m_min, span) : 0;
        const int width = 30;
        const int filled = static_cast<int>(done * width / span);
        std::fprintf(stderr, "\r\033[K[%.*s%.*s] %3u%%  %s", filled, "##############################",
                     width - filled, "..............................", done * 100 / span, m_text.c_str());
    } else {
        std::fprintf(stderr, "\r\033[K%s", m_text.c_str());
    }
    std::fflush(stderr);
}

bool CCliProgressWindow::Cancel() {
    if (!m_bCancelShown || m_pThread == nullptr) return false;
    m_pThread->CancelUpdate();
    return true;
}

int CCliUpdateDialogs::Answer(const std::string& text, bool canSayYes) {
    asked.push_back(text);
    if (m_bYes && canSayYes) return 1;
    refused.push_back(text);
    return 0;
}

int CCliUpdateDialogs::ShowVersionNotAtOnce() {
    Answer(PlainLines(LoadStringResource(IDS_VERSION_NOT_AT_ONCE)), false);
    return 0;  // the notice only has a cancel button
}

int CCliUpdateDialogs::AskVersionChange(uint32_t flags) {
    constexpr uint32_t kChangeImpossible = 0x40000000;
    if (flags & kChangeImpossible) return Answer(PlainLines(LoadStringResource(IDS_VERSION_CHANGE_IMPOSSIBLE)), false);
    return Answer(PlainLines(LoadStringResource(IDS_VERSION_NEWER)) + "\n" +
                      PlainLines(LoadStringResource(IDS_ASK_START_UPDATE)),
                  true);
}

int CCliUpdateDialogs::AskAdjustment() {
    return Answer(PlainLines(LoadStringResource(IDS_ASK_ADJUST_NOTE)) + "\n" +
                      PlainLines(LoadStringResource(IDS_ASK_ADJUST_CONDITIONS)) + "\n" +
                      PlainLines(LoadStringResource(IDS_ASK_START_UPDATE)),
                  true);
}

void CCliView::ShowMessageDialog(uint32_t code, const PortPtr& port, const DevicePtr& device) {
    const std::string address = port ? port->GetName() : std::string();
    messages[address].emplace_back(code, PlainLines(MessageDialogText(code, device.get())));
}

IProgressWindow* CCliView::CreateProgressWindow(const std::string& title, CObject* thread) {
    if (CObject::DownCast<CDevUpdateThread>(thread) == nullptr) return nullptr;
    if (!m_Output.json) std::fprintf(stderr, "%s\n", Printable(title).c_str());
    m_Windows.push_back(std::make_unique<CCliProgressWindow>(m_MainWindow, thread, m_Output));
    ++m_nProgressWindows;
    return m_Windows.back().get();
}

int CCliView::DestroyProgressWindow(CObject* window) {
    for (auto it = m_Windows.begin(); it != m_Windows.end(); ++it) {
        if (it->get() != window) continue;
        (*it)->HandlePosted();
        lastSteps = (*it)->Steps();
        if (m_Output.terminal && !m_Output.json) std::fprintf(stderr, "\n");
        m_Windows.erase(it);
        return 0;
    }
    return -1;
}

void CCliView::HandleProgressPosts() {
    for (auto& window : m_Windows) window->HandlePosted();
}

bool CCliView::CancelUpdates() {
    bool any = false;
    for (auto& window : m_Windows) any = window->Cancel() || any;
    return any;
}
