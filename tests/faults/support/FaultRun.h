// The parts of one fault run that both transports share: the run's log,
// the headless main window, and the judging of the instrument's settings.
// Thread: the test thread.
#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FaultRig.h"
#include "base/LogScrambler.h"
#include "base/MessageWindow.h"
#include "base/UpdateLogFile.h"
#include "base/WindowMessages.h"
#include "tools/logread/LogReader.h"
#include "update/DeviceUpdateDoc.h"
#include "window/UpdateWndCore.h"

namespace faults::rig {

// The log of one run, in a private folder of its own, installed as the
// process's log while the run lasts.
class LogCapture {
public:
    explicit LogCapture(const std::string& root) {
        static int run = 0;
        m_dir = root + "/run" + std::to_string(++run);
        std::filesystem::create_directory(m_dir);
        std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all);
        m_log = std::make_unique<CUpdateLogFile>(m_dir);
        CUpdateLogFile::SetCurrent(m_log.get());
    }
    ~LogCapture() {
        if (CUpdateLogFile::Current() == m_log.get()) CUpdateLogFile::SetCurrent(nullptr);
        m_log.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    // Closes the log as the program does at its end and reads back what
    // was kept. Only after every thread that logs has gone.
    void Finish(Outcome& out) {
        const std::string path = m_log->GetFilePath();
        CUpdateLogFile::SetCurrent(nullptr);
        // What was written, for the diagnosis of a failing run even when
        // closing deletes the file.
        const std::string before = ReadAll(path);
        m_log->Close();
        std::error_code ec;
        out.logKept = !path.empty() && std::filesystem::exists(path, ec);
        const std::string bytes = out.logKept ? ReadAll(path) : before;
        const LogReadResult read = ReadUpdateLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        out.logClean = out.logKept && read.clean;
        out.logText = read.text;
        if (!read.clean && !bytes.empty()) {
            std::string plain = bytes;
            CLogScrambler scrambler;
            scrambler.Apply(reinterpret_cast<uint8_t*>(plain.data()), plain.size());
            std::string around;
            for (size_t i = read.damagedAt; i < plain.size() && i < read.damagedAt + 60; ++i) {
                const unsigned char c = static_cast<unsigned char>(plain[i]);
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                around += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : std::string(hex);
            }
            out.logDamage = read.problem + " at " + std::to_string(read.damagedAt) + ": " + around;
        }
    }

private:
    static std::string ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string m_dir;
    std::unique_ptr<CUpdateLogFile> m_log;
};

// The headless main window of one run: the window logic with a recording
// view on a message window that this thread pumps. Records the two update
// outcomes on their way to the logic.
class FrontEnd {
public:
    FrontEnd(bool usbLibrary, Outcome& out) : m_out(out) {
        CMessageWindow::SetMain(&m_window);
        m_core = std::make_unique<CUpdateWndCore>(m_window, m_view, usbLibrary);
        m_window.SetHandler([this](uint32_t msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_UPDATE_FINISHED) m_out.finished = true;
            if (msg == WM_UPDATE_CANCELED && wParam != 0) {
                m_out.canceled = true;
                m_out.code = static_cast<uint32_t>(lParam);
            }
            return m_core ? m_core->Dispatch(msg, wParam, lParam) : 0;
        });
        m_core->OnInitDialog();
    }
    ~FrontEnd() { Close(); }

    // Closing the window stops every search and update it runs.
    void Close() {
        if (!m_core) return;
        m_core->OnCancel();
        m_core.reset();
        m_window.SetHandler({});
        if (CMessageWindow::Main() == &m_window) CMessageWindow::SetMain(nullptr);
    }

    CUpdateWndCore& Core() { return *m_core; }
    const CDeviceRow* Row(const std::string& address) const { return m_view.FindRow(address); }

    bool WaitForRow(const std::string& address, uint32_t timeoutMs) {
        return m_window.PumpUntil([&] { return Row(address) != nullptr; }, timeoutMs);
    }

    // Selects the row and presses Start Update.
    bool Start(const std::string& address) {
        const CDeviceRow* row = Row(address);
        if (row == nullptr) return false;
        m_core->OnActivateDevice(row->port);
        if (!m_view.startUpdateEnabled) return false;
        m_core->OnStartDeviceUpdate();
        return true;
    }

    // Pumps until the update has ended and its thread object is gone;
    // presses Cancel once the progress window shows `cancelAtText`.
    bool WaitForEnd(const std::string& address, uint32_t timeoutMs, uint32_t cancelAtText) {
        bool cancelled = cancelAtText == 0;
        const bool ended = m_window.PumpUntil(
            [&] {
                const CDeviceRow* running = Row(address);
                if (!cancelled && running && (running->state & DEVICE_STATE_RUNNING) &&
                    !m_view.progressWindows.empty()) {
                    const auto& window = m_view.progressWindows.back();
                    const std::vector<uint32_t> texts = window->Texts();
                    if (std::find(texts.begin(), texts.end(), cancelAtText) != texts.end()) {
                        window->Cancel();
                        cancelled = true;
                    }
                }
                const CDeviceRow* r = Row(address);
                CDeviceUpdateDoc* doc = m_core->GetUpdateDoc();
                return r && !(r->state & DEVICE_STATE_RUNNING) && doc && doc->GetThreadCount() == 0;
            },
            timeoutMs);
        return ended && m_core->GetUpdateDoc()->WaitForDestructions(5000);
    }

    void Collect(const std::string& address) {
        if (const CDeviceRow* row = Row(address)) {
            m_out.rowImage = row->image;
            m_out.rowVersion = row->version;
        }
        for (const auto& message : m_view.messages) m_out.dialogs.push_back(message.code);
        if (!m_view.progressWindows.empty()) m_out.texts = m_view.progressWindows.back()->Texts();
        m_out.progressClosed = m_view.progressWindowsOpen == 0;
    }

private:
    Outcome& m_out;
    CMessageWindow m_window;
    CRecordingUpdateWndView m_view;
    std::unique_ptr<CUpdateWndCore> m_core;
};

inline std::string SettingsText(const std::vector<std::pair<std::string, std::string>>& settings) {
    std::string text;
    for (const auto& [key, value] : settings) {
        if (!text.empty()) text += ';';
        text += ":ADJ:" + key + " " + value;
    }
    return text;
}

inline std::string JudgeSettings(const std::string& reply, const sim::Config& config) {
    if (reply == SettingsText(config.settings)) return "orig";
    auto blank = config.settings;
    for (auto& setting : blank) setting.second = "0";
    if (reply == SettingsText(blank)) return "blank";
    return "other";
}

inline std::string Version(const sim::Identity& identity) { return identity.version1 + "-" + identity.version2; }

// Restores the program's timing whatever way a run ends.
struct TimingScope {
    explicit TimingScope(const UpdateTiming& timing) { SetUpdateTiming(timing); }
    ~TimingScope() { SetUpdateTiming(UpdateTiming::Standard()); }
};

// The search may need a full listing cycle; the update is bounded by the
// scenario.
inline constexpr uint32_t kListingTimeoutMs = 15000;

// The serial side's port world; nothing where pseudo-terminals are missing.
std::shared_ptr<PortSandbox> OpenPortWorld();

}  // namespace faults::rig
