// The instrument's own settings around an update: phase 1 opens the port,
// resets the instrument, reads its settings and sets a new serial number;
// after the identification in phase 3 the settings are written back, the
// instrument calibrates itself and the result is stored.
#include "update/DevUpdateThread.h"

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "platform/SysError.h"
#include "protocol/InstrumentCommands.h"
#include "update/DevUpdateShared.h"

using devupdate::EscapeForLog;

// ---------------------------------------------------------------- phase 1

uint32_t CDevUpdateThread::PrepareDevice() {
    m_pInterface = CreateInterface();
    if (!m_pInterface) return ERROR_ACCESS_DENIED;
    uint32_t result = ERROR_ACCESS_DENIED;
    for (uint32_t attempt = 0; attempt < kOpenAttempts; ++attempt) {
        result = m_pInterface->Init(m_pPort.get());
        if (result == 0) break;
        LogError(this, result, "PrepareDevice");
        if (result != ERROR_ACCESS_DENIED && result != ERROR_ALREADY_ASSIGNED) break;
    }
    if (result != 0) {
        PostUpdateMessage(IDS_INTERFACE_NOT_INITIALIZED);
        return result;
    }
    SendCommand(instrument::kReset);
    Pause(m_Timing.commandPauseMs);
    SendCommand(instrument::kClearStatus);
    Pause(m_Timing.commandPauseMs);
    if (m_bKeepSettings) result = ReadDeviceSettings();
    if (!IsCancelled() && result == 0) WriteSerialNumber();
    return result;
}

uint32_t CDevUpdateThread::ReadDeviceSettings() {
    PostUpdateMessage(IDS_PROG_READ_USER_SETTINGS);
    SendCommand(instrument::kReadSettings);
    Pause(m_Timing.commandPauseMs);
    uint32_t result = WaitForInterfaceEvent(kInfinite);
    {
        CObjectLockGuard guard(m_Lock);
        if (!guard) return ERROR_ACCESS_DENIED;
        if (result == RC_UPDATE_DATA_RECEIVED) {
            m_strSettings = m_ReceiveBuffer.ToString();
            result = 0;
        }
    }
    return EndExchange(result);
}

void CDevUpdateThread::WriteSerialNumber() {
    const std::string number = m_pDevice ? m_pDevice->GetNewSerialNumber() : std::string();
    if (number.empty()) return;
    SendCommand(std::string(instrument::kServiceAccess) + std::string(instrument::kSetSerialNumber) + number + ";");
    Pause(m_Timing.commandPauseMs);
}

// ---------------------------------------------------------------- phase 3

void CDevUpdateThread::WriteDeviceSettings() {
    PostUpdateMessage(IDS_PROG_WRITE_USER_SETTINGS);
    const std::string settings = GetSettingsText();
    size_t begin = 0;
    for (size_t semicolon = settings.find(';'); semicolon != std::string::npos;
         semicolon = settings.find(';', begin)) {
        // Longer messages are refused by the interface and skipped.
        SendCommand(std::string(instrument::kServiceAccess) + settings.substr(begin, semicolon + 1 - begin));
        Pause(m_Timing.commandPauseMs);
        begin = semicolon + 1;
    }
    SendCommand(std::string(instrument::kServiceAccess) + settings.substr(begin) + ";");
    Pause(m_Timing.commandPauseMs);
    SendCommand(instrument::kServiceAutoSave);
    Pause(m_Timing.commandPauseMs);

    if (m_bCalibrate) {
        bool calibrated = false;
        for (int attempt = 0; attempt < kCalibrationTries && !calibrated && !IsCancelled(); ++attempt) {
            PostUpdateMessage(IDS_PROG_ADJUST);
            SendCommand(instrument::kCalibrate);
            // The calibration's own time, not a reply, decides when to look.
            Pause(m_Timing.calibrationMs);
            CObjectLockGuard guard(m_Lock);
            if (!guard) return;
            if (m_ReceiveBuffer.IsEmpty() || m_ReceiveBuffer.Find(instrument::kCalibrationOk) != CByteBuffer::npos) {
                calibrated = true;
            } else {
                LogMessage(this, EscapeForLog(m_ReceiveBuffer.View()), "WriteDeviceSettings", false);
            }
            m_ReceiveBuffer.Empty();
        }
        if (IsCancelled()) return;
        if (!calibrated) {
            PostUpdateMessage(IDS_ADJUST_FAILED);
            Pause(m_Timing.calibrationFailedMs);
            return;
        }
        SendCommand(instrument::kServiceAutoSave);
        Pause(m_Timing.commandPauseMs);
    }
    SendCommand(instrument::kServiceFactoryStore);
    Pause(m_Timing.commandPauseMs);
}
