// CDevUpdateThread: the firmware update of one instrument on one port, on a
// worker thread of its own.
//
// Phase 1 (PrepareDevice) opens the port, resets the instrument and reads
// its settings; phase 2 (TransferFirmware) loads the image through the
// instrument's debug monitor, has it programmed into the FLASH and restarts
// the instrument; phase 3 (FinishUpdate) checks that the instrument now
// runs the carried firmware, writes the settings back, calibrates and
// presets it. Exactly one result is reported through the result callback,
// unless destruction has begun.
//
// Files: DevUpdateThread.cpp (life, events, waits, the receive buffer),
// DevUpdateMonitor.cpp (phase 2: the monitor dialogue as steps, and the way
// out of the monitor after a cancel), DevUpdateSettings.cpp (the instrument's
// settings: reading, serial number, writing back, calibration) and
// DevUpdateIdentify.cpp (phase 3's identification of the restarted
// instrument).
//
// Threads:
// - Constructor and destructor: the update document's thread (the main
//   thread) and the thread list's destruction thread. The constructor sends
//   WM_CREATE_DEVICE_UPDATE_WINDOW to the main window, the destructor
//   WM_DESTROY_DEVICE_UPDATE_WINDOW; neither holds m_Lock while it sends.
// - CancelUpdate: the progress window's (main) thread.
// - The worker: every phase and step; it alone uses the port interface
//   while it runs, and reports the result on its way out.
// - OnInterfaceEvent/DoOnInterfaceEvent: the port interface's reading,
//   I/O and timer threads. They only append, store and signal; they never
//   wait for the worker.
// Locks: m_Lock guards m_ReceiveBuffer, m_strSettings and every post to the
// progress window. The worker takes it around each look into the receive
// buffer and never holds it while it sends or waits. The interface may
// hold its own lock while it delivers a line (interface lock -> m_Lock);
// the worker never calls the interface under m_Lock, so the reverse order
// never occurs. Flags shared between threads are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/BaseObject.h"
#include "base/ByteBuffer.h"
#include "base/MessageWindow.h"
#include "base/ObjectLock.h"
#include "base/WindowMessages.h"
#include "device/DeviceList.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "protocol/UpdateInterface.h"
#include "update/ProgressWindow.h"
#include "update/UpdateTiming.h"

class CDevUpdateThread;

// The document's result handler; runs on the worker thread.
using UpdateResultFn = void (*)(CDevUpdateThread* thread, uint32_t code, const PortPtr& port,
                                const DevicePtr& device, CObject* context);

class CDevUpdateThread : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CDevUpdateThread)

    static constexpr uint32_t kInfinite = platform::kInfinite;
    static constexpr uint32_t kMonitorLoadAddress = 0x0C000000;
    static constexpr uint32_t kOpenAttempts = 10;
    static constexpr uint32_t kUsbReopenAttempts = 30;
    // A monitor command is sent again after an answer that is not the
    // expected one (a reply error) this often in all.
    static constexpr int kReplyTries = 3;
    // Loads of the image: a transfer the monitor did not take, and a load
    // whose sum was wrong, each count against their own bound.
    static constexpr int kLoadTries = 3;
    // FLASH programmings whose sum was wrong.
    static constexpr int kFlashTries = 3;
    // "rs" after the FLASH: the monitor answering it means it is still there.
    static constexpr int kRestartTries = 10;
    // "rs" on the way out after a cancel or a failure before the FLASH.
    static constexpr int kLeaveTries = 3;
    static constexpr int kCalibrationTries = 3;
    // The interface refuses longer service messages (settings pieces).
    static constexpr size_t kMaxCommandText = CUpdateInterface::kMaxSCPIText;
    // The receive buffer collects the lines of one exchange; an instrument
    // that never stops talking cannot grow it beyond this.
    static constexpr size_t kMaxReceiveBuffer = 64 * 1024;

    // `flags` points at the pair (keep settings, calibrate); null means
    // both 0. `image` is not copied and must outlive the object. The main
    // window is the one the progress window is asked from (default: the
    // process's main window). The worker starts before the constructor
    // returns, unless an event could not be created.
    CDevUpdateThread(PortPtr port, DevicePtr device, const uint32_t* flags, const uint8_t* image,
                     uint32_t imageLength, UpdateResultFn callback, CObject* context,
                     IMessageWindow* mainWindow = CMessageWindow::Main());
    // Stops the worker (it reports nothing), closes the progress window and
    // the port. Never called on the worker itself.
    ~CDevUpdateThread() override;

    // The progress window's cancel button.
    void CancelUpdate();
    // False once the FLASH programming has begun: from then on the update
    // runs to its end whatever is asked of it. Any thread.
    bool IsCancellable() const { return !m_bUnattended.load(std::memory_order_acquire); }

    static void OnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer* text, CObject* object);

    // --- for the owner's diagnostics and tests ---
    bool IsRunning() { return m_Thread.IsStarted() && !m_Thread.Finished().TryAcquire(); }
    bool HasWorker() const { return m_Thread.IsStarted(); }
    bool WaitUntilFinished(uint32_t timeoutMs) { return m_Thread.Join(timeoutMs); }
    IProgressWindow* GetProgressWindow() const { return m_pProgressWnd; }
    const std::string& GetTitle() const { return m_strTitle; }
    uint32_t GetImageSum() const { return m_dwImageSum; }
    double GetMonitorVersion() const { return m_dMonitorVersion.load(std::memory_order_acquire); }
    std::string GetSettingsText();
    // The image sum as the monitor prints it after "0x", found as a whole
    // number in `text` (not as the start of a longer one); `end` gets the
    // position behind it.
    static bool FindChecksum(std::string_view text, uint32_t sum, size_t* end);

private:
    enum class StepOutcome { kMatched, kRetry, kFailed };
    // What follows the expected text, for the steps that read on.
    using StepRest = StepOutcome (CDevUpdateThread::*)(uint32_t& result);
    // One exchange with the debug monitor: the command, the text that its
    // answer must contain, how often it is tried, and the pause that lets the
    // monitor finish talking after an answer without that text (a reply
    // error). An empty `expected` means that silence is the answer.
    struct MonitorStep {
        std::string command;
        std::string expected;
        int tries = kReplyTries;
        uint32_t replyErrorPauseMs = 0;
        StepRest rest = nullptr;
        // An answer with this text but not the expected one is a refusal
        // that no repetition mends: the step fails with RC_UPDATE_CANCELED.
        std::string_view refusal;
        // The monitor takes image bytes after this command until it shows
        // its prompt again.
        bool startsLoad = false;
    };
    enum class MonitorStepId { kVersion, kLoad, kLoadChecksum, kFlash, kFlashChecksum, kRestart };
    // The events of the worker's reply wait, in the order of their priority:
    // a cancel beats everything, a time-out beats late data, and a transmit
    // confirmation comes before the reply it leads to.
    enum WaitSlot : uint32_t { kSlotTerminate, kSlotTimeout, kSlotTransmit, kSlotReceive, kWaitSlots };
    // The wait after the end (LeaveMonitor) takes no transmit confirmations.
    enum EndWaitSlot : uint32_t { kEndTerminate, kEndTimeout, kEndReceive, kEndWaitSlots };

    static uint32_t UpdateThreadProc(CObject* object);
    uint32_t Run();

    // --- machinery ---
    void DoOnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer& text);
    uint32_t WaitForInterfaceEvent(uint32_t timeoutMs);
    // A fixed pause that only the terminate signal ends early (then the
    // update counts as cancelled).
    void Pause(uint32_t ms);
    uint32_t SendCommand(std::string_view text);
    void DoOnUpdateEvent(uint32_t code);
    void PostProgress(uint32_t msg, WPARAM wParam, LPARAM lParam);
    void PostUpdateMessage(uint32_t textId) { PostProgress(WM_SET_UPDATE_MESSAGE, 0, textId); }
    std::unique_ptr<CUpdateInterface> CreateInterface();
    bool IsCancelled() const { return m_bCancelled.load(std::memory_order_acquire); }

    // Receive buffer helpers (each takes m_Lock).
    // Ends an exchange: empties the buffer (its lines count as read) and
    // drops the receive signal, so that nothing of this exchange answers the
    // next command. Returns `result`; when that is 0, an error if the lock
    // is shut or the signal could not be dropped.
    uint32_t EndExchange(uint32_t result = 0);
    bool BufferContains(std::string_view text, bool* locked);
    // Cuts the buffer after `text`; true when something is left.
    bool CutAfter(std::string_view text);
    // Waits for the rest of a reply: a line the steps have not looked at yet.
    uint32_t WaitForUnreadLine();
    void ReplyError(uint32_t pauseMs);
    // The monitor dialogue: one try of a step, and a step tried until it
    // matches, fails or has used its tries (the exchange is then ended).
    // The monitor dialogue, step by step, in one place.
    MonitorStep DescribeStep(MonitorStepId id) const;
    StepOutcome TryStep(const MonitorStep& step, uint32_t& result);
    uint32_t RunStep(const MonitorStep& step);

    // --- phase 1 ---
    uint32_t PrepareDevice();
    uint32_t ReadDeviceSettings();
    void WriteSerialNumber();
    // --- phase 2 ---
    uint32_t TransferFirmware();
    uint32_t EnterMonitor();
    uint32_t StartLoad();
    uint32_t SendImage();
    uint32_t ProgramFlash();
    uint32_t VerifyChecksum(MonitorStepId id);
    // The rests of the steps that read on after their expected text.
    StepOutcome ReadMonitorVersion(uint32_t& result);
    StepOutcome ReadChecksum(uint32_t& result);
    StepOutcome AwaitFlashProgrammed(uint32_t& result);
    uint32_t RestartDevice();
    uint32_t FlashStart() const;
    // After a cancel or a failure before the FLASH is touched: restarts the
    // instrument from its monitor into the firmware it still has.
    void LeaveMonitor();
    // A wait of LeaveMonitor, which runs after a cancel: only the terminate
    // signal (a port failure, destruction, another click) ends it early.
    uint32_t WaitAfterEnd(uint32_t timeoutMs);
    // Sends a monitor command of LeaveMonitor; 0 also after a terminate.
    uint32_t SendWhileLeaving(std::string_view text);
    // Waits until no line has come for `quietMs` (at most a reply time).
    bool AwaitQuiet(uint32_t quietMs);
    // --- phase 3 ---
    uint32_t FinishUpdate();
    uint32_t CheckUpdatedDevice();
    bool ValidateIdnParameter();
    void WriteDeviceSettings();

    const PortPtr m_pPort;
    const DevicePtr m_pDevice;
    const uint32_t m_bKeepSettings;
    const uint32_t m_bCalibrate;
    std::unique_ptr<CUpdateInterface> m_pInterface;  // the worker's while it runs; then the destructor's
    CByteBuffer m_ReceiveBuffer;                     // m_Lock
    // Lines appended so far, and how many of them the steps had in the buffer
    // when they last looked: a line that came in while the buffer was being
    // read has signalled already, and its signal is no line still to come.
    uint32_t m_dwLinesReceived = 0;                  // m_Lock
    uint32_t m_dwLinesRead = 0;                      // m_Lock
    std::string m_strSettings;                       // m_Lock
    std::string m_strTitle;                          // constant after construction
    IProgressWindow* m_pProgressWnd = nullptr;       // constant after construction
    uint16_t m_wProgressRange = 0;                   // worker only
    uint16_t m_wProgressPos = 0;                     // worker only
    std::atomic<uint32_t> m_dwBytesSent{0};          // written by the interface's threads
    platform::Thread m_Thread;
    platform::Event m_hTerminateEvent{platform::Event::kAutoReset};
    platform::Event m_hTimeoutEvent{platform::Event::kAutoReset};
    platform::Event m_hReceiveEvent{platform::Event::kAutoReset};
    platform::Event m_hTransmitEvent{platform::Event::kAutoReset};
    std::atomic<bool> m_bCancelled{false};
    std::atomic<bool> m_bNotify{true};
    // Set while a USB instrument restarts (read by the interface's threads).
    std::atomic<bool> m_bUsbRestarting{false};
    // From FLASH programming on nobody can cancel: waits then get a bound.
    // Set by the worker when the FLASH programming begins; read by CancelUpdate.
    std::atomic<bool> m_bUnattended{false};
    // Transmit confirmations count only while the image is being sent.
    bool m_bSendingImage = false;  // worker only
    // The switch into the monitor was sent and no restart has followed.
    bool m_bMonitorEntered = false;  // worker only
    // A load command was sent; the monitor takes image bytes until it shows
    // its prompt again (m_dwPrompts counts the prompts received, and
    // m_dwPromptsAtLoad is its count when the last load command went out).
    bool m_bLoadSent = false;       // worker only
    uint32_t m_dwPrompts = 0;        // m_Lock
    uint32_t m_dwPromptsAtLoad = 0;  // m_Lock
    // The port failed (not the restart of a USB instrument).
    std::atomic<bool> m_bPortLost{false};
    // While the identification after the restart is awaited, lines that are
    // no identification reply at all are skipped (counted in m_nNoiseLines).
    std::atomic<bool> m_bIdentifying{false};
    int m_nNoiseLines = 0;  // m_Lock
    CObjectLock m_Lock;
    const uint8_t* const m_pImage;
    const uint32_t m_dwImageLength;
    uint32_t m_dwImageSum = 0;
    std::atomic<double> m_dMonitorVersion{0.0};
    const UpdateResultFn m_pCallback;
    CObject* const m_pCallbackContext;
    IMessageWindow* const m_pMainWindow;
    const UpdateTiming m_Timing;
};
