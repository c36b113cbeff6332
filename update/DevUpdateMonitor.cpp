// Phase 2 of the update: the dialogue with the instrument's debug monitor
// (into the monitor, load the image, check its sum, program the FLASH, check
// it again, restart), and the way out of the monitor after a cancel or a
// failure before the FLASH.
//
// Every exchange with the monitor is one MonitorStep (DescribeStep lists
// them all) run by RunStep: send the command, wait for the answer, look for
// the expected text; an answer without it is a reply error (let the monitor
// finish, drop what it said, try again), a silence or a failure ends the
// step. A quirk of the monitor is handled there once, not once per step.
#include "update/DevUpdateThread.h"

#include <cstdio>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/WindowMessages.h"
#include "platform/Clock.h"
#include "platform/SysError.h"
#include "protocol/InstrumentCommands.h"
#include "transport/UsbInterface.h"
#include "update/DevUpdateShared.h"

using devupdate::Elapsed;
using devupdate::Format;
using devupdate::kBusyRetryMs;
using devupdate::kReplyTimeMarginMs;

// ---------------------------------------------------------------- the steps

CDevUpdateThread::MonitorStep CDevUpdateThread::DescribeStep(MonitorStepId id) const {
    using namespace instrument;
    const uint32_t pauseMs = m_Timing.replyErrorPauseMs;
    switch (id) {
        case MonitorStepId::kVersion:
            return {.command = std::string(kMonitorVersion),
                    .expected = std::string(kVersionAnswer),
                    .tries = kReplyTries,
                    .replyErrorPauseMs = pauseMs,
                    .rest = &CDevUpdateThread::ReadMonitorVersion,
                    .refusal = {},
                    .startsLoad = false};
        case MonitorStepId::kLoad:
            // A monitor that waits for another byte count took another
            // command than the one sent: asking again cannot mend that.
            return {.command = Format(kLoadFormat, kMonitorLoadAddress, m_dwImageLength),
                    .expected = Format(kLoadAcceptedFormat, m_dwImageLength),
                    .tries = kReplyTries,
                    .replyErrorPauseMs = pauseMs,
                    .rest = nullptr,
                    .refusal = kLoadAnswer,
                    .startsLoad = true};
        case MonitorStepId::kLoadChecksum:
        case MonitorStepId::kFlashChecksum: {
            const uint32_t first = id == MonitorStepId::kLoadChecksum ? kMonitorLoadAddress : FlashStart();
            // The sum over the whole image takes the monitor a while: an
            // answer without its heading gets a longer pause.
            return {.command = Format(kChecksumFormat, first, first + m_dwImageLength - 1),
                    .expected = std::string(kChecksumHead),
                    .tries = kReplyTries,
                    .replyErrorPauseMs = m_Timing.checksumReplyErrorPauseMs,
                    .rest = &CDevUpdateThread::ReadChecksum,
                    .refusal = {},
                    .startsLoad = false};
        }
        case MonitorStepId::kFlash:
            return {.command = Format(kFlashFormat, kMonitorLoadAddress, m_dwImageLength, FlashStart()),
                    .expected = std::string(kIRamOk),
                    .tries = kReplyTries,
                    .replyErrorPauseMs = pauseMs,
                    .rest = &CDevUpdateThread::AwaitFlashProgrammed,
                    .refusal = {},
                    .startsLoad = false};
        case MonitorStepId::kRestart:
            // Silence is the restart; an answer means the monitor is still there.
            return {.command = std::string(kMonitorRestart),
                    .expected = {},
                    .tries = kRestartTries,
                    .replyErrorPauseMs = pauseMs,
                    .rest = nullptr,
                    .refusal = {},
                    .startsLoad = false};
    }
    return {};
}

CDevUpdateThread::StepOutcome CDevUpdateThread::TryStep(const MonitorStep& step, uint32_t& result) {
    result = SendCommand(step.command);
    // Nothing was sent, so nothing will answer.
    if (result != 0) return StepOutcome::kFailed;
    if (step.startsLoad) {
        CObjectLockGuard guard(m_Lock);
        if (!guard) {
            result = ERROR_ACCESS_DENIED;
            return StepOutcome::kFailed;
        }
        m_bLoadSent = true;
        m_dwPromptsAtLoad = m_dwPrompts;
    }
    result = WaitForInterfaceEvent(kInfinite);
    if (step.expected.empty()) {
        if (result == RC_UPDATE_DATA_RECEIVED) return StepOutcome::kRetry;
        if (result != RC_UPDATE_TIMEOUT) return StepOutcome::kFailed;
        result = 0;
        return StepOutcome::kMatched;
    }
    if (result != RC_UPDATE_DATA_RECEIVED) return StepOutcome::kFailed;
    bool locked = false;
    if (BufferContains(step.expected, &locked)) {
        result = 0;
        return StepOutcome::kMatched;
    }
    if (!locked) {
        result = ERROR_ACCESS_DENIED;
        return StepOutcome::kFailed;
    }
    if (!step.refusal.empty() && BufferContains(step.refusal, nullptr)) {
        ReplyError(step.replyErrorPauseMs);
        result = RC_UPDATE_CANCELED;
        return StepOutcome::kFailed;
    }
    return StepOutcome::kRetry;
}

uint32_t CDevUpdateThread::RunStep(const MonitorStep& step) {
    uint32_t result = RC_UPDATE_DATA_RECEIVED;
    for (int tries = step.tries; tries > 0; --tries) {
        StepOutcome outcome = TryStep(step, result);
        if (outcome == StepOutcome::kMatched && step.rest != nullptr) outcome = (this->*step.rest)(result);
        if (outcome != StepOutcome::kRetry) break;
        ReplyError(step.replyErrorPauseMs);
        // Used up, the tries end the step with the last answer's code.
        result = RC_UPDATE_DATA_RECEIVED;
        if (IsCancelled()) break;
    }
    return EndExchange(result);
}

CDevUpdateThread::StepOutcome CDevUpdateThread::ReadMonitorVersion(uint32_t& result) {
    double version = 0.0;
    int parsed = 0;
    bool hasPrompt = false;
    {
        CObjectLockGuard guard(m_Lock);
        if (!guard) {
            result = ERROR_ACCESS_DENIED;
            return StepOutcome::kFailed;
        }
        parsed = std::sscanf(m_ReceiveBuffer.GetText(), instrument::kVersionFormat, &version);
        hasPrompt = m_ReceiveBuffer.Find(instrument::kMonitorPrompt) != CByteBuffer::npos;
    }
    // In both failures LeaveMonitor sends "rs" and waits for the restart's
    // silence: closing the port at once could drop it.
    result = parsed != 1 ? ERROR_INVALID_DATA : 0;
    if (result == 0) {
        m_dMonitorVersion.store(version, std::memory_order_release);
        if (!m_pDevice || !m_pDevice->IsMonitorSuitable(version)) result = RC_MONITOR_UPDATE_REQUIRED;
    }
    if (result == 0 && !hasPrompt) {
        result = WaitForUnreadLine();
        if (result == RC_UPDATE_DATA_RECEIVED) result = 0;
    }
    return result == 0 ? StepOutcome::kMatched : StepOutcome::kFailed;
}

CDevUpdateThread::StepOutcome CDevUpdateThread::ReadChecksum(uint32_t& result) {
    // The sum may come in a line of its own behind the heading.
    if (!CutAfter(instrument::kChecksumHead)) {
        result = WaitForUnreadLine();
        if (result != RC_UPDATE_DATA_RECEIVED) return StepOutcome::kFailed;
    }
    bool found = false;
    bool rest = false;
    {
        CObjectLockGuard guard(m_Lock);
        if (!guard) {
            result = ERROR_ACCESS_DENIED;
            return StepOutcome::kFailed;
        }
        m_dwLinesRead = m_dwLinesReceived;
        size_t end = 0;
        found = FindChecksum(m_ReceiveBuffer.View(), m_dwImageSum, &end);
        if (found) {
            m_ReceiveBuffer.RemoveLeft(end);
            rest = !m_ReceiveBuffer.IsEmpty();
        }
    }
    if (!found) {
        // A wrong sum is no reply error: the load (or the programming) is
        // repeated, not the question.
        Pause(m_Timing.replyErrorPauseMs);
        WaitForInterfaceEvent(0);
        result = RC_UPDATE_REPEAT;
        return StepOutcome::kFailed;
    }
    if (!rest) {
        result = WaitForUnreadLine();  // the prompt
        if (result != RC_UPDATE_DATA_RECEIVED) return StepOutcome::kFailed;
    }
    result = 0;
    return StepOutcome::kMatched;
}

CDevUpdateThread::StepOutcome CDevUpdateThread::AwaitFlashProgrammed(uint32_t& result) {
    PostUpdateMessage(IDS_PROG_COPY_FLASH);
    if (!CutAfter(instrument::kIRamOk)) {
        result = WaitForUnreadLine();
        if (result != RC_UPDATE_DATA_RECEIVED) return StepOutcome::kFailed;
    }
    if (!BufferContains(instrument::kFlashOk, nullptr)) return StepOutcome::kRetry;
    if (!CutAfter(instrument::kFlashOk)) {
        result = WaitForUnreadLine();  // the prompt
        if (result != RC_UPDATE_DATA_RECEIVED) return StepOutcome::kFailed;
    }
    result = 0;
    return StepOutcome::kMatched;
}

// ---------------------------------------------------------------- phase 2

uint32_t CDevUpdateThread::TransferFirmware() {
    uint32_t result = EnterMonitor();
    if (result != 0) return result;

    int loadTries = kLoadTries;
    int checksumTries = kLoadTries;
    do {
        if (IsCancelled()) return result;
        result = StartLoad();
        if (result != 0) return result;
        result = SendImage();
        if (result == RC_UPDATE_REPEAT) {
            --loadTries;
        } else {
            if (IsCancelled() || result != 0) return result;
            result = VerifyChecksum(MonitorStepId::kLoadChecksum);
            if (result == RC_UPDATE_REPEAT) --checksumTries;
        }
        if (IsCancelled()) return result;
    } while (result == RC_UPDATE_REPEAT && loadTries > 0 && checksumTries > 0);
    if (IsCancelled() || result != 0) return result;

    int flashTries = kFlashTries;
    do {
        result = ProgramFlash();
        if (result != 0 || IsCancelled()) return result;
        result = VerifyChecksum(MonitorStepId::kFlashChecksum);
        if (result == RC_UPDATE_REPEAT) --flashTries;
        if (IsCancelled()) return result;
    } while (result == RC_UPDATE_REPEAT && flashTries > 0);
    if (IsCancelled() || result != 0) return result;

    return RestartDevice();
}

uint32_t CDevUpdateThread::EnterMonitor() {
    PostUpdateMessage(IDS_PROG_UPDATE_STARTED);
    uint32_t result = SendCommand(instrument::kEnterMonitor);
    // From here on the instrument may be in its monitor.
    m_bMonitorEntered = result == 0;
    if (result == 0) result = WaitForInterfaceEvent(kInfinite);
    if (result == RC_UPDATE_TIMEOUT) {
        // No prompt yet: an empty command asks for it.
        SendCommand(instrument::kMonitorEmpty);
        result = WaitForInterfaceEvent(kInfinite);
    }
    if (result != RC_UPDATE_DATA_RECEIVED) return EndExchange(result);
    // The switch's answer is over; the version is asked afresh.
    if (const uint32_t rc = EndExchange()) return rc;
    return RunStep(DescribeStep(MonitorStepId::kVersion));
}

uint32_t CDevUpdateThread::StartLoad() { return RunStep(DescribeStep(MonitorStepId::kLoad)); }

uint32_t CDevUpdateThread::SendImage() {
    m_wProgressRange = static_cast<uint16_t>(m_dwImageLength > 65535 ? 65535 : m_dwImageLength);
    m_wProgressPos = 0;
    m_dwBytesSent.store(0, std::memory_order_release);
    PostUpdateMessage(IDS_PROG_TRANSMIT_DATA);
    PostProgress(WM_SHOW_PROGRESS_BAR, 0, m_wProgressRange);

    m_bSendingImage = true;
    uint32_t result = m_pInterface->SendBinaryData(m_pImage, m_dwImageLength);
    if (result != 0 && result != ERROR_IO_PENDING) {
        m_bSendingImage = false;
        // The transfer never started; waiting for its confirmations would
        // never end.
        PostProgress(WM_HIDE_PROGRESS_BAR, 0, 0);
        return result;
    }
    uint32_t sent = 0;
    do {
        result = WaitForInterfaceEvent(kInfinite);
        sent = m_dwBytesSent.load(std::memory_order_acquire);
        if (result == RC_UPDATE_DATA_SENT) {
            m_wProgressPos = static_cast<uint16_t>(static_cast<double>(sent) * m_wProgressRange / m_dwImageLength);
            PostProgress(WM_UPDATE_PROGRESS_BAR, 0, m_wProgressPos);
        }
        if (IsCancelled()) {
            m_bSendingImage = false;
            return result;
        }
    } while (result == RC_UPDATE_DATA_SENT && sent < m_dwImageLength);
    m_bSendingImage = false;
    // The monitor's answer may overtake the confirmation of the last chunk:
    // it is the answer to the transfer all the same, and judged as such.
    if (result != RC_UPDATE_DATA_SENT && result != RC_UPDATE_DATA_RECEIVED) return result;

    if (result == RC_UPDATE_DATA_SENT) {
        if (sent == m_dwImageLength) m_hTransmitEvent.Reset();
        result = WaitForInterfaceEvent(kInfinite);
    }
    if (result == RC_UPDATE_DATA_RECEIVED) {
        bool locked = false;
        if (!BufferContains(instrument::kLoaded, &locked)) {
            result = locked ? RC_UPDATE_REPEAT : ERROR_ACCESS_DENIED;
            // Let the monitor finish its complaint (its prompt follows), so
            // that the next load command is not answered by a stale line and
            // sent again into a load that already runs.
            if (result == RC_UPDATE_REPEAT) ReplyError(m_Timing.replyErrorPauseMs);
        } else if (BufferContains(instrument::kMonitorPrompt, nullptr)) {
            result = 0;
        } else {
            result = WaitForUnreadLine();
            if (result == RC_UPDATE_DATA_RECEIVED) result = 0;
        }
    }
    result = EndExchange(result);
    PostProgress(WM_HIDE_PROGRESS_BAR, 0, 0);
    return result;
}

uint32_t CDevUpdateThread::VerifyChecksum(MonitorStepId id) {
    PostUpdateMessage(IDS_PROG_CHECKSUM);
    return RunStep(DescribeStep(id));
}

uint32_t CDevUpdateThread::ProgramFlash() {
    m_bUnattended.store(true, std::memory_order_release);
    PostProgress(WM_SHOW_CANCEL_BUTTON, 0, 0);
    PostUpdateMessage(IDS_PROG_PREPARE_FLASH);
    return RunStep(DescribeStep(MonitorStepId::kFlash));
}

uint32_t CDevUpdateThread::FlashStart() const {
    return m_dMonitorVersion.load(std::memory_order_acquire) < 2.0 ? 0xA000 : 0x10000;
}

uint32_t CDevUpdateThread::RestartDevice() {
    PostUpdateMessage(IDS_PROG_RESTART);
    const bool usb = m_pPort && m_pPort->IsUsbPort();
    m_bUsbRestarting.store(usb, std::memory_order_release);
    uint32_t result = RunStep(DescribeStep(MonitorStepId::kRestart));

    if (!IsCancelled() && result == 0 && usb) {
        // The instrument's USB chip goes away with the restart.
        m_pInterface.reset();
        m_pInterface = std::make_unique<CUsbInterface>(&CDevUpdateThread::OnInterfaceEvent, this);
        result = ERROR_ACCESS_DENIED;
        for (uint32_t attempt = 0; attempt < kUsbReopenAttempts; ++attempt) {
            result = m_pInterface->Init(m_pPort.get());
            if (result == 0) break;
            if (result != ERROR_ALREADY_ASSIGNED && result != ERROR_DEV_NOT_EXIST) {
                LogError(this, result, "RestartDevice");
                break;
            }
            if (attempt + 1 < kUsbReopenAttempts) Pause(m_Timing.usbReopenPauseMs);
            if (IsCancelled()) break;
        }
        // What the old connection said on its way out is over.
        m_hTimeoutEvent.Reset();
    }
    m_bUsbRestarting.store(false, std::memory_order_release);
    return EndExchange(result);
}

// ---------------------------------------------------------------- after a cancel

void CDevUpdateThread::LeaveMonitor() {
    // Nothing may interrupt a FLASH being programmed, a lost port takes no
    // command, and an update being destroyed must end at once.
    if (!m_bMonitorEntered || m_bUnattended.load(std::memory_order_acquire) ||
        m_bPortLost.load(std::memory_order_acquire) || !m_bNotify.load(std::memory_order_acquire))
        return;
    m_bMonitorEntered = false;
    PostUpdateMessage(IDS_PROG_RESTART);
    m_bSendingImage = false;
    // An image transfer stops only with its port: open it anew.
    if (!m_pInterface || m_pInterface->IsWritingData()) {
        m_pInterface.reset();
        m_pInterface = CreateInterface();
        uint32_t rc = ERROR_ACCESS_DENIED;
        for (uint32_t attempt = 0; m_pInterface && attempt < kOpenAttempts; ++attempt) {
            rc = m_pInterface->Init(m_pPort.get());
            if (rc != ERROR_ACCESS_DENIED && rc != ERROR_ALREADY_ASSIGNED && rc != ERROR_DEV_NOT_EXIST) break;
            if (platform::WaitForAny({&m_hTerminateEvent}, m_Timing.usbReopenPauseMs) == 0) return;
        }
        if (rc != 0) {
            LogError(this, rc, "LeaveMonitor");
            return;
        }
    }
    m_hTimeoutEvent.Reset();
    // The monitor takes every byte as image data until it gives a load up
    // (or has all of it); only its prompt says that it listens to commands
    // again.
    auto loading = [this] {
        CObjectLockGuard guard(m_Lock);
        return guard && m_bLoadSent && m_dwPrompts == m_dwPromptsAtLoad;
    };
    // Waits up to `limitMs` for the prompt; false also after a terminate.
    bool terminated = false;
    auto awaitPrompt = [&](uint32_t limitMs) {
        const uint32_t start = platform::GetTickCount();
        while (loading()) {
            const uint32_t spent = Elapsed(start);
            if (spent >= limitMs) return false;
            if (WaitAfterEnd(limitMs - spent) == 0) {
                terminated = true;
                return false;
            }
        }
        return true;
    };
    if (loading()) {
        bool prompt = awaitPrompt(m_Timing.monitorLoadGiveUpMs);
        if (terminated) return;
        if (!prompt) {
            // A load that ended just as the port was opened anew had its
            // prompt go with the old connection: ask for one. A monitor still
            // loading takes the bytes as image data that is never programmed.
            EndExchange();
            LogMessage(this, instrument::kMonitorEmpty, "SendCommand", true);
            prompt = SendWhileLeaving(instrument::kMonitorEmpty) == 0 &&
                     awaitPrompt(CUpdateInterface::kReplyTimeoutMs + kReplyTimeMarginMs);
            if (terminated) return;
        }
        if (!prompt) {
            LogMessage(this, "The monitor did not give up the load; the instrument stays in it", "LeaveMonitor", false);
            return;
        }
    }
    // Let the monitor finish the answer it is giving.
    if (!AwaitQuiet(m_Timing.replyErrorPauseMs)) return;

    const bool usb = m_pPort && m_pPort->IsUsbPort();
    m_bUsbRestarting.store(usb, std::memory_order_release);
    uint32_t result = RC_UPDATE_DATA_RECEIVED;
    for (int tries = kLeaveTries; tries > 0 && result == RC_UPDATE_DATA_RECEIVED; --tries) {
        EndExchange();
        m_hTimeoutEvent.Reset();
        LogMessage(this, instrument::kMonitorRestart, "SendCommand", true);
        result = SendWhileLeaving(instrument::kMonitorRestart);
        if (result != 0) break;
        // Silence is the restart; an answer means the monitor is still there.
        result = WaitAfterEnd(CUpdateInterface::kReplyTimeoutMs + kReplyTimeMarginMs);
        if (result == RC_UPDATE_DATA_RECEIVED && !AwaitQuiet(m_Timing.replyErrorPauseMs)) result = 0;
    }
    m_bUsbRestarting.store(false, std::memory_order_release);
    if (result == RC_UPDATE_TIMEOUT)
        LogMessage(this, "Restarted with its firmware unchanged", "LeaveMonitor", true);
    else if (result != 0)
        LogError(this, result, "LeaveMonitor");
    EndExchange();
}

uint32_t CDevUpdateThread::SendWhileLeaving(std::string_view text) {
    // The interface may still be closing the exchange before; a terminate
    // ends the wait (and the caller's next wait at once).
    uint32_t result = m_pInterface->SendMonitorMsg(text);
    const uint32_t start = platform::GetTickCount();
    while (result == ERROR_IO_INCOMPLETE && Elapsed(start) < CUpdateInterface::kReplyTimeoutMs + kReplyTimeMarginMs) {
        if (platform::WaitForAny({&m_hTerminateEvent}, kBusyRetryMs) == 0) return 0;
        result = m_pInterface->SendMonitorMsg(text);
    }
    return result;
}

uint32_t CDevUpdateThread::WaitAfterEnd(uint32_t timeoutMs) {
    // In the order of EndWaitSlot.
    platform::Waitable items[kEndWaitSlots] = {platform::Waitable::Of(m_hTerminateEvent),
                                               platform::Waitable::Of(m_hTimeoutEvent),
                                               platform::Waitable::Of(m_hReceiveEvent)};
    switch (platform::WaitForAny(items, kEndWaitSlots, timeoutMs)) {
        case kEndTimeout:
        case platform::kWaitTimeout: return RC_UPDATE_TIMEOUT;
        case kEndReceive: return RC_UPDATE_DATA_RECEIVED;
        default: return 0;
    }
}

bool CDevUpdateThread::AwaitQuiet(uint32_t quietMs) {
    const uint32_t start = platform::GetTickCount();
    for (;;) {
        const uint32_t result = WaitAfterEnd(quietMs);
        if (result == 0) return false;
        if (result == RC_UPDATE_TIMEOUT) return true;
        // One that never stops talking is past helping.
        if (Elapsed(start) > CUpdateInterface::kReplyTimeoutMs) return false;
    }
}
