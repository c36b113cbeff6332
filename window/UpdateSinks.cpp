#include "window/UpdateSinks.h"

#include "base/WindowMessages.h"
#include "device/DeviceTables.h"

bool CRecordingProgressSink::PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_posts.push_back({msg, wParam, lParam});
    return true;
}

std::vector<CRecordingProgressSink::Post> CRecordingProgressSink::Posts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_posts;
}

std::vector<uint32_t> CRecordingProgressSink::Texts() {
    std::vector<uint32_t> texts;
    for (const Post& p : Posts())
        if (p.msg == WM_SET_UPDATE_MESSAGE) texts.push_back(static_cast<uint32_t>(p.lParam));
    return texts;
}

void CRecordingProgressSink::Cancel() {
    if (auto* thread = CObject::DownCast<CDevUpdateThread>(m_thread)) thread->CancelUpdate();
}

int CScriptedUpdateDialogs::ShowVersionNotAtOnce() {
    shown.push_back(6020);
    return 0;  // its only button is Cancel
}

int CScriptedUpdateDialogs::AskVersionChange(uint32_t flags) {
    shown.push_back(6019);
    versionFlags = flags;
    if (flags & VC_CHANGE_IMPOSSIBLE) return 0;  // only Cancel is offered
    return answerVersionChange;
}

int CScriptedUpdateDialogs::AskAdjustment() {
    shown.push_back(6018);
    return answerAdjustment;
}
