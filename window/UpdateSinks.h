// Headless stand-ins for the update's windows and questions: a progress
// window that records what the update thread posts, and answers to the
// three questions before an update. CRecordingUpdateWndView hands them out,
// so a whole update runs in tests exactly as the Qt window runs it.
//
// Threads: CRecordingProgressSink::PostMsg from the update thread, the
// rest on the main thread; m_mutex guards the posts.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "update/DeviceUpdateDoc.h"
#include "update/ProgressWindow.h"

class CRecordingProgressSink : public IProgressWindow {
public:
    KORVA_RUNTIME_CLASS(CRecordingProgressSink)
    struct Post {
        uint32_t msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    CRecordingProgressSink(std::string title, CObject* thread) : m_title(std::move(title)), m_thread(thread) {}

    bool PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) override;
    std::vector<Post> Posts();
    // The step texts (WM_SET_UPDATE_MESSAGE lParams) in order.
    std::vector<uint32_t> Texts();
    const std::string& Title() const { return m_title; }
    // The cancel button (main thread).
    void Cancel();

private:
    std::mutex m_mutex;
    std::vector<Post> m_posts;  // guarded by m_mutex
    const std::string m_title;
    CObject* const m_thread;
};

class CScriptedUpdateDialogs : public IUpdateDialogs {
public:
    int ShowVersionNotAtOnce() override;
    int AskVersionChange(uint32_t flags) override;
    int AskAdjustment() override;

    // Answers (1 Yes, 0 No).
    int answerVersionChange = 1;
    int answerAdjustment = 1;
    // The dialogs shown, by number (6020, 6019, 6018), in order.
    std::vector<uint32_t> shown;
    uint32_t versionFlags = 0;  // what 6019 was given
};
