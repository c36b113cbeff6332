// Phase 3 of the update: the restarted instrument identifies itself, must
// run the carried firmware and name its boards; then its settings come
// back and it is preset.
#include "update/DevUpdateThread.h"

#include <algorithm>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "device/CarriedFirmware.h"
#include "platform/Clock.h"
#include "protocol/InstrumentCommands.h"
#include "update/DevUpdateShared.h"

using devupdate::Elapsed;

uint32_t CDevUpdateThread::FinishUpdate() {
    const uint32_t result = CheckUpdatedDevice();
    if (result != 0) return result;
    if (!IsCancelled() && m_bKeepSettings) WriteDeviceSettings();
    SendCommand(instrument::kServicePreset);
    Pause(m_Timing.presetPauseMs);
    return 0;
}

uint32_t CDevUpdateThread::CheckUpdatedDevice() {
    PostUpdateMessage(IDS_PROG_REQUEST_DATA);
    // The query is repeated every reply time while the restarted instrument
    // stays silent, but not for ever: an instrument that never comes back
    // must end the update with a clear result.
    const uint32_t start = platform::GetTickCount();
    uint32_t result = RC_UPDATE_TIMEOUT;
    {
        CObjectLockGuard guard(m_Lock);
        m_nNoiseLines = 0;
    }
    m_bIdentifying.store(true, std::memory_order_release);
    while (result == RC_UPDATE_TIMEOUT && !IsCancelled()) {
        const uint32_t elapsed = Elapsed(start);
        if (elapsed >= m_Timing.restartAnswerLimitMs) {
            LogMessage(this, "The instrument did not answer after its restart", "CheckUpdatedDevice", false);
            PostUpdateMessage(IDS_RESTART_FAILED);
            break;
        }
        if (SendCommand(instrument::kIdentify) != 0) {
            // The interface is still busy with the last query; try again
            // after a short pause.
            Pause(m_Timing.commandPauseMs);
            continue;
        }
        // A skipped noise line has stopped the interface's reply timer, so
        // each query is also given up here after its reply time.
        result = WaitForInterfaceEvent(std::min(m_Timing.restartAnswerLimitMs - elapsed,
                                                CUpdateInterface::kReplyTimeoutMs + devupdate::kReplyTimeMarginMs));
    }

    if (!IsCancelled() && result == RC_UPDATE_DATA_RECEIVED) {
        const bool valid = ValidateIdnParameter();
        m_bIdentifying.store(false, std::memory_order_release);
        if (!valid) {
            result = RC_UPDATE_CANCELED;
        } else {
            // Let the instrument finish talking; one that never stops is not
            // an instrument to trust with its settings.
            const uint32_t drainStart = platform::GetTickCount();
            do {
                result = WaitForInterfaceEvent(200);
            } while (result == RC_UPDATE_DATA_RECEIVED && Elapsed(drainStart) < m_Timing.drainLimitMs);
            EndExchange();
            if (!IsCancelled() && result == RC_UPDATE_TIMEOUT) {
                SendCommand(instrument::kServiceClearError);
                Pause(m_Timing.commandPauseMs);
                if (!IsCancelled()) {
                    SendCommand(instrument::kReadModules);
                    result = WaitForInterfaceEvent(kInfinite);
                    if (result == RC_UPDATE_DATA_RECEIVED) {
                        CObjectLockGuard guard(m_Lock);
                        result = guard && m_pDevice && m_pDevice->SetBoardIds(m_ReceiveBuffer) ? 0 : RC_UPDATE_CANCELED;
                    }
                }
            }
        }
    }
    m_bIdentifying.store(false, std::memory_order_release);
    return EndExchange(result);
}

bool CDevUpdateThread::ValidateIdnParameter() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return false;
    const std::string reply = m_ReceiveBuffer.ToString();
    const size_t comma = reply.find(',');
    if (comma == std::string::npos) return false;
    const std::string maker = reply.substr(0, comma);
    if (!carried::IsAcceptedMaker(maker)) return false;
    if (!m_pDevice || !m_pDevice->SetIdnParameter(reply)) return false;
    return m_pDevice->HasTargetFirmware();
}
