// What the update tests share: a main window that the test thread pumps
// and that makes recording progress windows, device records made from a
// simulator configuration, and a count of commands in the update log. The
// captured log is the serial tests' (tests/transport/support).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/MessageWindow.h"
#include "base/UpdateLogFile.h"
#include "device/DeviceList.h"
#include "sim/SimConfig.h"
#include "tests/transport/support/SerialTestSupport.h"
#include "update/DevUpdateThread.h"
#include "update/ProgressWindow.h"

#ifdef _WIN32
#include "tests/transport/support/win32/LineInstrument.h"
#else
#include "sim/PtyInstrument.h"
#endif

namespace updtest {

// A progress window that records what it is posted (from any thread) and
// wakes the main window so that a pumping test sees it at once.
class CRecordingProgressWindow : public IProgressWindow {
public:
    KORVA_RUNTIME_CLASS(CRecordingProgressWindow)
    struct Post {
        uint32_t msg;
        WPARAM wParam;
        LPARAM lParam;
    };
    CRecordingProgressWindow(std::string title, CDevUpdateThread* thread, IMessageWindow* wake)
        : m_title(std::move(title)), m_thread(thread), m_wake(wake) {}
    bool PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) override;
    // Cancels the update as the step with this text is announced, from the
    // update thread itself: a loaded machine cannot let the step end first.
    void CancelAtText(uint32_t id) { m_cancelAtText = id; }

    std::vector<Post> Posts();
    // The step texts (WM_SET_UPDATE_MESSAGE), in order.
    std::vector<uint32_t> Texts();
    bool HasText(uint32_t id);
    const std::string& Title() const { return m_title; }
    CDevUpdateThread* Thread() const { return m_thread; }

private:
    std::mutex m_mutex;
    std::vector<Post> m_posts;  // guarded by m_mutex
    const std::string m_title;
    CDevUpdateThread* const m_thread;
    IMessageWindow* const m_wake;
    std::atomic<uint32_t> m_cancelAtText{0};
};

DevicePtr MakeDevice(const sim::Config& config);
PortPtr SerialPort(const std::string& comName);
PortPtr UsbPort(uint32_t deviceId, const std::string& serial);
sim::Config FastConfig();

// The test's main window: the test thread owns and pumps it. It creates
// and deletes recording progress windows on request and collects results.
class CUpdateHarness {
public:
    struct Result {
        CDevUpdateThread* thread;
        uint32_t code;
    };

    CUpdateHarness();
    ~CUpdateHarness();

    std::unique_ptr<CDevUpdateThread> Start(const PortPtr& port, const DevicePtr& device, uint32_t keepSettings,
                                            uint32_t calibrate);
    // Pumps until `count` results have come (or `timeoutMs`); `step` runs
    // after every round of pumping.
    bool PumpResults(size_t count, uint32_t timeoutMs, const std::function<void()>& step = {});
    // Starts one update, pumps to its result, deletes the thread. Returns
    // the code, or 0xFFFFFFFF when none came in time. `step` as above,
    // given the progress window. The bound is generous: under Wine an
    // update with three loads of the image takes over a minute.
    uint32_t Run(const PortPtr& port, const DevicePtr& device, uint32_t keepSettings = 0, uint32_t calibrate = 0,
                 const std::function<void(CRecordingProgressWindow&, CDevUpdateThread&)>& step = {},
                 uint32_t timeoutMs = 180000);

    std::vector<Result> Results();
    // Every progress window made from now on cancels at this step text.
    void CancelAtText(uint32_t id) { m_cancelAtText = id; }
    // The progress window of the last update started (kept after it was
    // destroyed, for inspection).
    std::shared_ptr<CRecordingProgressWindow> LastWindow();
    int Created() const { return m_created; }
    int Destroyed() const { return m_destroyed; }
    CMessageWindow& Window() { return m_window; }

    static constexpr uint32_t kNoResult = 0xFFFFFFFF;

private:
    static void OnResult(CDevUpdateThread* thread, uint32_t code, const PortPtr& port, const DevicePtr& device,
                         CObject* context);
    LRESULT Handle(uint32_t msg, WPARAM wParam, LPARAM lParam);

    CMessageWindow m_window;
    std::mutex m_mutex;
    std::vector<Result> m_results;  // guarded by m_mutex
    std::vector<std::shared_ptr<CRecordingProgressWindow>> m_windows;  // main thread
    uint32_t m_cancelAtText = 0;
    int m_created = 0;
    int m_destroyed = 0;
};

// How many entries of SendCommand in a log text carry exactly `command`.
int CountCommand(const std::string& logText, const std::string& command);

}  // namespace updtest
