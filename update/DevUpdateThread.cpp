#include "update/DevUpdateThread.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/Wait.h"
#include "base/WindowMessages.h"
#include "device/DeviceParameter.h"
#include "platform/Clock.h"
#include "platform/SysError.h"
#include "transport/CommInterface.h"
#include "transport/IPInterface.h"
#include "transport/UsbInterface.h"

namespace {

constexpr uint32_t ERROR_ALREADY_ASSIGNED = 85;

constexpr std::string_view kServiceMode = ":Service:Mode kAccess;";
constexpr std::string_view kMonitorCommand = ":Service:Mode kAccess;:System:Software:Monitor;";
constexpr std::string_view kSettingsQuery = ":Service:Mode kAccess;:System:Adjust?;";
constexpr std::string_view kClearError = ":Service:Mode kAccess;:System:CIError;";
constexpr std::string_view kModulesQuery = ":Service:Mode kAccess;:System:Hardware:Moduls?;";
constexpr std::string_view kAutoSave = ":Service:Mode kAccess;:Service:ASave;";
constexpr std::string_view kFactoryStore = ":Service:Mode kAccess;:Service:Factory:Store;";
constexpr std::string_view kPreset = ":Service:Mode kAccess;:System:Preset;";
constexpr std::string_view kCalibrate = ":Calibrate:Self:All?;";
constexpr std::string_view kCalibrationOk = "0,\"No error\"";
constexpr std::string_view kPrompt = "MonDeb>";
constexpr std::string_view kIRamOk = "Load function in iRAM ...:  OK";
constexpr std::string_view kFlashOk = "Programming FLASH ...:  OK";
constexpr std::string_view kChecksumHead = "Calculate Checksum";
constexpr std::string_view kLoaded = "bytes loaded! OK";

std::string Format(const char* format, uint32_t a, uint32_t b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string Format(const char* format, uint32_t a, uint32_t b, uint32_t c) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// A reply line as the log shows it. Lines may carry binary data (the
// hardware-module block) or garbage; written raw, a lone LF, a NUL or a
// byte that is no UTF-8 would make the log unreadable from there on, so
// such bytes are written as \xNN. Printable ASCII, TAB, CR LF and
// well-formed UTF-8 stay as they are.
std::string LogText(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    auto escape = [&out](unsigned char c) {
        static const char kHex[] = "0123456789ABCDEF";
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 0x0F];
    };
    for (size_t i = 0; i < line.size();) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if ((c >= 0x20 && c < 0x7F) || c == '\t') {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n') {
            out += "\r\n";
            i += 2;
            continue;
        }
        size_t n = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        uint32_t cp = n ? (c & (0x7F >> n)) : 0;
        for (size_t k = 1; k < n; ++k) {
            const unsigned char next = i + k < line.size() ? static_cast<unsigned char>(line[i + k]) : 0;
            if ((next & 0xC0) != 0x80) {
                n = 0;
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        const uint32_t least = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
        if (n != 0 && cp >= least && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
            out.append(line.substr(i, n));
            i += n;
            continue;
        }
        escape(c);
        ++i;
    }
    return out;
}

uint32_t Elapsed(uint32_t start) { return platform::GetTickCount() - start; }

// Beyond the interface's reply time, so that its own time-out comes first
// whenever it runs.
constexpr uint32_t kReplyTimeMarginMs = 500;

}  // namespace

CDevUpdateThread::CDevUpdateThread(PortPtr port, DevicePtr device, const uint32_t* flags, const uint8_t* image,
                                   uint32_t imageLength, UpdateResultFn callback, CObject* context,
                                   IMessageWindow* mainWindow)
    : m_pPort(std::move(port)),
      m_pDevice(std::move(device)),
      m_bKeepSettings(flags ? flags[0] : 0),
      m_bCalibrate(flags ? flags[1] : 0),
      m_pImage(image),
      m_dwImageLength(image ? imageLength : 0),
      m_pCallback(callback),
      m_pCallbackContext(context),
      m_pMainWindow(mainWindow),
      m_Timing(GetUpdateTiming()) {
    if (m_pImage != nullptr && m_dwImageLength != 0) {
        uint32_t sum = m_dwImageLength;
        for (uint32_t i = 0; i < m_dwImageLength; ++i) sum += m_pImage[i];
        m_dwImageSum = sum;
    }

    const std::string portName = m_pPort ? m_pPort->GetName() : std::string();
    const std::string deviceName = m_pDevice ? m_pDevice->GetTargetDeviceName() : std::string();
    if (portName.empty())
        m_strTitle = deviceName;
    else if (deviceName.empty())
        m_strTitle = portName;
    else
        m_strTitle = portName + " - " + deviceName;
    m_strTitle += " - Version: ";
    if (m_pDevice) m_strTitle += m_pDevice->GetTargetSoftwareVersion();

    // The window is made on the main thread; this blocks until it exists.
    if (m_pMainWindow != nullptr) {
        const LRESULT window =
            m_pMainWindow->SendMessage(WM_CREATE_DEVICE_UPDATE_WINDOW, reinterpret_cast<WPARAM>(m_strTitle.c_str()),
                                       reinterpret_cast<LPARAM>(static_cast<CObject*>(this)));
        m_pProgressWnd = reinterpret_cast<IProgressWindow*>(window);
    }

    if (m_hTerminateEvent.IsValid() && m_hTimeoutEvent.IsValid() && m_hReceiveEvent.IsValid() &&
        m_hTransmitEvent.IsValid()) {
        m_Thread.Start([this] { return UpdateThreadProc(this); });
    }
}

CDevUpdateThread::~CDevUpdateThread() {
    // Nothing may be reported once destruction has begun: the receiver may
    // be the one destroying us.
    m_bNotify.store(false, std::memory_order_release);
    m_bCancelled.store(true, std::memory_order_release);
    // Closing the lock stops every later post to the progress window, which
    // is deleted below, and every later line from the interface.
    const bool locked = LockForDestruction(m_Lock, this);
    m_Lock.Close();
    if (locked) m_Lock.Unlock();
    if (m_pProgressWnd != nullptr && m_pMainWindow != nullptr)
        m_pMainWindow->SendMessage(WM_DESTROY_DEVICE_UPDATE_WINDOW, 0,
                                   reinterpret_cast<LPARAM>(static_cast<CObject*>(m_pProgressWnd)));
    if (m_Thread.IsStarted()) {
        m_hTerminateEvent.Set();
        // Every wait of the worker includes the terminate event; on the main
        // thread sent messages are handled meanwhile (the worker may be
        // reporting through a blocking send).
        WaitPumpingSends(m_Thread.Finished(), platform::kInfinite);
        m_Thread.Join();
    }
    // The interface's threads call back into this object: they end with it.
    m_pInterface.reset();
}

void CDevUpdateThread::CancelUpdate() {
    // From the FLASH programming on the update must run to its end: a click
    // that reaches us before the window has hidden its button is ignored.
    if (m_bUnattended.load(std::memory_order_acquire)) return;
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    m_hTerminateEvent.Set();
}

std::string CDevUpdateThread::GetSettingsText() {
    CObjectLockGuard guard(m_Lock);
    return guard ? m_strSettings : std::string();
}

bool CDevUpdateThread::FindChecksum(std::string_view text, uint32_t sum, size_t* end) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "0x%x", sum);
    const std::string_view wanted(digits);
    for (size_t pos = text.find(wanted); pos != std::string_view::npos; pos = text.find(wanted, pos + 1)) {
        const size_t after = pos + wanted.size();
        // A longer number that only begins with the wanted digits is another
        // sum. (Lines run together without separators, so what comes before
        // the "0x" says nothing.)
        if (after < text.size() && IsHexDigit(text[after])) continue;
        if (end) *end = after;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- machinery

uint32_t CDevUpdateThread::UpdateThreadProc(CObject* object) {
    auto* self = CObject::DownCast<CDevUpdateThread>(object);
    if (self == nullptr) return ERROR_NOACCESS;
    return self->Run();
}

uint32_t CDevUpdateThread::Run() {
    LogMessage(this, "", "UpdateThreadProc", true);
    uint32_t result = 0;
    if (m_pImage == nullptr || m_dwImageLength == 0) {
        result = ERROR_INVALID_PARAMETER;
    } else {
        if (!IsCancelled()) result = PrepareDevice();
        if (result == 0 && !IsCancelled()) result = TransferFirmware();
        if (result == 0 && !IsCancelled()) result = FinishUpdate();
        if (result != 0 || IsCancelled()) LeaveMonitor();
    }
    m_pInterface.reset();
    // A cancel or a lost port can cut a step short after a reply, a silence
    // or a failed try was already counted: the update then ends as a cancel
    // does, not with that code, whose text would name another cause.
    if (IsCancelled() && (result == RC_UPDATE_DATA_RECEIVED || result == RC_UPDATE_DATA_SENT ||
                          result == RC_UPDATE_REPEAT || result == RC_UPDATE_TIMEOUT))
        result = 0;
    if (!IsCancelled() && result == 0) result = RC_UPDATE_FINISHED;
    LogError(this, result, "UpdateThreadProc");
    // Some codes are routine inside a step (a reply came, try again) and so
    // leave the log discardable; as the end of an update they are its
    // failure, and service needs the log of every failed update.
    uint32_t discardable = 0;
    if (result != RC_UPDATE_FINISHED && LookupResultCode(result, nullptr, &discardable) && discardable != 0)
        LogMessage(this, "Update failed", "UpdateThreadProc", false);
    DoOnUpdateEvent(result);
    return 0;
}

void CDevUpdateThread::DoOnUpdateEvent(uint32_t code) {
    if (m_bNotify.load(std::memory_order_acquire) && m_pCallback != nullptr)
        m_pCallback(this, code, m_pPort, m_pDevice, m_pCallbackContext);
}

void CDevUpdateThread::OnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer* text, CObject* object) {
    auto* self = CObject::DownCast<CDevUpdateThread>(object);
    if (self == nullptr) return;
    static const CByteBuffer kEmpty;
    self->DoOnInterfaceEvent(event, data, text ? *text : kEmpty);
}

void CDevUpdateThread::DoOnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer& text) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    switch (event) {
        case IF_EVENT_LINE_RECEIVED:
            // A boot banner or stray bytes before the identification reply
            // are no reply: the wait for it goes on. Lines are joined in the
            // buffer, so they are judged one by one here.
            if (m_bIdentifying.load(std::memory_order_acquire) && !IsIdentificationReply(text.View()) &&
                m_nNoiseLines < kMaxIdentificationNoise) {
                ++m_nNoiseLines;
                LogMessage(this, "Not an identification reply, skipped: " + LogText(text.View()), "DoOnInterfaceEvent",
                           true);
                break;
            }
            // An instrument that never stops talking must not grow the buffer
            // without end; what matters is always the latest exchange.
            if (m_ReceiveBuffer.GetLength() + text.GetLength() > kMaxReceiveBuffer) m_ReceiveBuffer.Empty();
            m_ReceiveBuffer.Append(text.View().substr(0, kMaxReceiveBuffer));
            ++m_dwLinesReceived;
            if (text.Find(kPrompt) != CByteBuffer::npos) ++m_dwPrompts;
            LogMessage(this, LogText(text.View()), "DoOnInterfaceEvent", true);
            m_hReceiveEvent.Set();
            break;
        case IF_EVENT_RECEIVE_TIMEOUT:
            m_hTimeoutEvent.Set();
            break;
        case IF_EVENT_BYTES_SENT:
            m_dwBytesSent.store(static_cast<uint32_t>(data), std::memory_order_release);
            m_hTransmitEvent.Set();
            break;
        default:
            LogError(this, event, "DoOnInterfaceEvent");
            // A USB instrument takes its chip with it when it restarts: the
            // lost connection is then the restart's silence, not a failure.
            if (m_bUsbRestarting.load(std::memory_order_acquire)) {
                m_hTimeoutEvent.Set();
            } else {
                m_bPortLost.store(true, std::memory_order_release);
                m_hTerminateEvent.Set();
            }
            break;
    }
}

uint32_t CDevUpdateThread::WaitForInterfaceEvent(uint32_t timeoutMs) {
    // A cancel or port failure that a pause already took from the
    // (auto-reset) terminate event must not be waited for again.
    if (IsCancelled()) return 0;
    // Once nobody can cancel, no wait may last for ever.
    if (timeoutMs == kInfinite && m_bUnattended.load(std::memory_order_acquire)) timeoutMs = m_Timing.unattendedReplyLimitMs;
    // Order matters: a cancel beats everything, a time-out beats late data,
    // and a transmit confirmation comes before the reply it leads to.
    platform::Waitable items[4] = {platform::Waitable::Of(m_hTerminateEvent), platform::Waitable::Of(m_hTimeoutEvent),
                                   platform::Waitable::Of(m_hTransmitEvent), platform::Waitable::Of(m_hReceiveEvent)};
    const uint32_t start = platform::GetTickCount();
    uint32_t woke = platform::WaitForAny(items, 4, timeoutMs);
    // The confirmation of the image's last chunk can come after the
    // monitor's answer to it; outside the transfer it is no reply.
    while (woke == 2 && !m_bSendingImage) {
        uint32_t left = timeoutMs;
        if (timeoutMs != kInfinite) {
            const uint32_t spent = Elapsed(start);
            left = spent >= timeoutMs ? 0 : timeoutMs - spent;
        }
        woke = platform::WaitForAny(items, 4, left);
    }
    switch (woke) {
        case 0:
            m_bCancelled.store(true, std::memory_order_release);
            return 0;
        case 1: return RC_UPDATE_TIMEOUT;
        case 2: return RC_UPDATE_DATA_SENT;
        case 3: return RC_UPDATE_DATA_RECEIVED;
        case platform::kWaitTimeout: return RC_UPDATE_TIMEOUT;
        default: {
            m_bCancelled.store(true, std::memory_order_release);
            const uint32_t error = platform::GetLastError();
            return error != 0 ? error : ERROR_ACCESS_DENIED;
        }
    }
}

void CDevUpdateThread::Pause(uint32_t ms) {
    if (ms == 0) return;
    // A fixed pause; only a cancel, a port failure or destruction ends it.
    if (platform::WaitForAny({&m_hTerminateEvent}, ms) == 0) m_bCancelled.store(true, std::memory_order_release);
}

uint32_t CDevUpdateThread::SendCommand(std::string_view text) {
    if (!m_pInterface) return ERROR_ACCESS_DENIED;
    LogMessage(this, text, "SendCommand", true);
    const bool scpi = !text.empty() && (text.front() == ':' || text.front() == '*');
    uint32_t result = scpi ? m_pInterface->SendSCPIMsg(text) : m_pInterface->SendMonitorMsg(text);
    // The interface may still be closing the previous exchange (its last
    // line just woke us): give it up to one reply time, in short cancellable
    // pauses, rather than lose the command.
    const uint32_t start = platform::GetTickCount();
    while (result == ERROR_IO_INCOMPLETE && !IsCancelled() &&
           Elapsed(start) < CUpdateInterface::kReplyTimeoutMs + 500) {
        Pause(10);
        result = scpi ? m_pInterface->SendSCPIMsg(text) : m_pInterface->SendMonitorMsg(text);
    }
    return result;
}

void CDevUpdateThread::PostProgress(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    CObjectLockGuard guard(m_Lock);
    if (!guard || m_pProgressWnd == nullptr) return;
    m_pProgressWnd->PostMessage(msg, wParam, lParam);
}

std::unique_ptr<CUpdateInterface> CDevUpdateThread::CreateInterface() {
    if (!m_pPort) return nullptr;
    if (m_pPort->IsSerialPort()) return std::make_unique<CCommInterface>(&CDevUpdateThread::OnInterfaceEvent, this);
    if (m_pPort->IsUsbPort()) return std::make_unique<CUsbInterface>(&CDevUpdateThread::OnInterfaceEvent, this);
    if (m_pPort->IsIPPort()) return std::make_unique<CIPInterface>(&CDevUpdateThread::OnInterfaceEvent, this);
    return nullptr;
}

// ---------------------------------------------------------------- receive buffer

uint32_t CDevUpdateThread::ClearExchange() {
    if (!EmptyReceiveBuffer()) return ERROR_ACCESS_DENIED;
    return m_hReceiveEvent.Reset();
}

bool CDevUpdateThread::EmptyReceiveBuffer() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return false;
    m_ReceiveBuffer.Empty();
    m_dwLinesRead = m_dwLinesReceived;
    return true;
}

uint32_t CDevUpdateThread::FinishExchange(uint32_t result, bool resetReceive) {
    EmptyReceiveBuffer();
    if (resetReceive) {
        if (const uint32_t rc = m_hReceiveEvent.Reset()) return rc;
    }
    return result;
}

bool CDevUpdateThread::BufferContains(std::string_view text, bool* locked) {
    CObjectLockGuard guard(m_Lock);
    if (locked) *locked = guard.IsLocked();
    if (!guard) return false;
    m_dwLinesRead = m_dwLinesReceived;
    return m_ReceiveBuffer.Find(text) != CByteBuffer::npos;
}

bool CDevUpdateThread::CutAfter(std::string_view text) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return false;
    m_dwLinesRead = m_dwLinesReceived;
    const long pos = m_ReceiveBuffer.Find(text);
    if (pos == CByteBuffer::npos) return !m_ReceiveBuffer.IsEmpty();
    m_ReceiveBuffer.RemoveLeft(static_cast<size_t>(pos) + text.size());
    return !m_ReceiveBuffer.IsEmpty();
}

uint32_t CDevUpdateThread::WaitForUnreadLine() {
    for (;;) {
        const uint32_t result = WaitForInterfaceEvent(kInfinite);
        if (result != RC_UPDATE_DATA_RECEIVED) return result;
        CObjectLockGuard guard(m_Lock);
        if (!guard) return ERROR_ACCESS_DENIED;
        if (m_dwLinesReceived != m_dwLinesRead) return result;
    }
}

void CDevUpdateThread::ReplyError(uint32_t pauseMs) {
    // The instrument may still be talking: let it finish, then drop what it
    // said together with the signal it left.
    Pause(pauseMs);
    WaitForInterfaceEvent(0);
    {
        CObjectLockGuard guard(m_Lock);
        if (guard) {
            LogMessage(this, "Receive Error: " + LogText(m_ReceiveBuffer.View()), "ReplyError", true);
            m_ReceiveBuffer.Empty();
            m_dwLinesRead = m_dwLinesReceived;
        }
    }
    m_hReceiveEvent.Reset();
}

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
    SendCommand("*RST;");
    Pause(m_Timing.commandPauseMs);
    SendCommand("*CLS;");
    Pause(m_Timing.commandPauseMs);
    if (m_bKeepSettings) result = ReadDeviceSettings();
    if (!IsCancelled() && result == 0) WriteSerialNumber();
    return result;
}

uint32_t CDevUpdateThread::ReadDeviceSettings() {
    PostUpdateMessage(IDS_PROG_READ_USER_SETTINGS);
    SendCommand(kSettingsQuery);
    Pause(m_Timing.commandPauseMs);
    uint32_t result = WaitForInterfaceEvent(kInfinite);
    {
        CObjectLockGuard guard(m_Lock);
        if (!guard) return ERROR_ACCESS_DENIED;
        if (result == RC_UPDATE_DATA_RECEIVED) {
            m_strSettings = m_ReceiveBuffer.ToString();
            result = 0;
        }
        m_ReceiveBuffer.Empty();
    }
    if (result != 0) return result;
    return m_hReceiveEvent.Reset();
}

void CDevUpdateThread::WriteSerialNumber() {
    const std::string number = m_pDevice ? m_pDevice->GetNewSerialNumber() : std::string();
    if (number.empty()) return;
    SendCommand(std::string(kServiceMode) + ":System:SNumber:Set " + number + ";");
    Pause(m_Timing.commandPauseMs);
}

// ---------------------------------------------------------------- phase 2

uint32_t CDevUpdateThread::TransferFirmware() {
    uint32_t result = EnterMonitor();
    if (result != 0) return result;

    int loadTries = 3;
    int checksumTries = 3;
    do {
        if (IsCancelled()) return result;
        result = StartLoad();
        if (result != 0) return result;
        result = SendImage();
        if (result == RC_UPDATE_REPEAT) {
            --loadTries;
        } else {
            if (IsCancelled() || result != 0) return result;
            result = VerifyLoadChecksum();
            if (result == RC_UPDATE_REPEAT) --checksumTries;
        }
        if (IsCancelled()) return result;
    } while (result == RC_UPDATE_REPEAT && loadTries > 0 && checksumTries > 0);
    if (IsCancelled() || result != 0) return result;

    int flashTries = 3;
    do {
        result = ProgramFlash();
        if (result != 0 || IsCancelled()) return result;
        result = VerifyFlashChecksum();
        if (result == RC_UPDATE_REPEAT) --flashTries;
        if (IsCancelled()) return result;
    } while (result == RC_UPDATE_REPEAT && flashTries > 0);
    if (IsCancelled() || result != 0) return result;

    return RestartDevice();
}

uint32_t CDevUpdateThread::EnterMonitor() {
    int tries = 3;
    PostUpdateMessage(IDS_PROG_UPDATE_STARTED);
    uint32_t result = SendCommand(kMonitorCommand);
    // From here on the instrument may be in its monitor.
    m_bMonitorEntered = result == 0;
    if (result == 0) result = WaitForInterfaceEvent(kInfinite);
    if (result == RC_UPDATE_TIMEOUT) {
        SendCommand(";");
        result = WaitForInterfaceEvent(kInfinite);
    }
    if (result == RC_UPDATE_DATA_RECEIVED) {
        do {
            if (const uint32_t rc = ClearExchange()) return rc;
            if (const uint32_t rc = SendCommand("v")) return rc;
            result = WaitForInterfaceEvent(kInfinite);
            if (result != RC_UPDATE_DATA_RECEIVED) break;
            bool hasVersion = false;
            bool hasPrompt = false;
            double version = 0.0;
            int parsed = 0;
            {
                CObjectLockGuard guard(m_Lock);
                if (!guard) return ERROR_ACCESS_DENIED;
                m_dwLinesRead = m_dwLinesReceived;
                hasVersion = m_ReceiveBuffer.Find("Version:") != CByteBuffer::npos;
                if (hasVersion) {
                    parsed = std::sscanf(m_ReceiveBuffer.GetText(), "Version:\t%lf", &version);
                    hasPrompt = m_ReceiveBuffer.Find(kPrompt) != CByteBuffer::npos;
                }
            }
            if (!hasVersion) {
                ReplyError(m_Timing.replyErrorPauseMs);
                --tries;
                continue;
            }
            // In both failures LeaveMonitor sends "rs" and waits for the
            // restart's silence: closing the port at once could drop it.
            if (parsed != 1) return ERROR_INVALID_DATA;
            m_dMonitorVersion.store(version, std::memory_order_release);
            if (!m_pDevice || !m_pDevice->IsMonitorSuitable(version)) return RC_MONITOR_UPDATE_REQUIRED;
            if (hasPrompt) {
                result = 0;
            } else {
                result = WaitForUnreadLine();
                if (result == RC_UPDATE_DATA_RECEIVED) result = 0;
            }
        } while (!IsCancelled() && result == RC_UPDATE_DATA_RECEIVED && tries > 0);
    }
    return FinishExchange(result, result == 0);
}

uint32_t CDevUpdateThread::StartLoad() {
    const std::string command = Format("l %x %x", MONITOR_LOAD_ADDRESS, m_dwImageLength);
    const std::string accepted = Format("Waiting for 0x%x bytes", m_dwImageLength, 0);
    int tries = 3;
    uint32_t result;
    do {
        result = SendCommand(command);
        // Nothing was sent, so nothing will answer.
        if (result != 0) break;
        {
            CObjectLockGuard guard(m_Lock);
            if (!guard) return ERROR_ACCESS_DENIED;
            m_bLoadSent = true;
            m_dwPromptsAtLoad = m_dwPrompts;
        }
        result = WaitForInterfaceEvent(kInfinite);
        if (result != RC_UPDATE_DATA_RECEIVED) break;
        bool locked = false;
        if (BufferContains(accepted, &locked)) {
            result = 0;
        } else {
            if (!locked) return ERROR_ACCESS_DENIED;
            const bool otherCount = BufferContains("Waiting for", nullptr);
            ReplyError(m_Timing.replyErrorPauseMs);
            if (otherCount) result = RC_UPDATE_CANCELED;
            --tries;
        }
    } while (!IsCancelled() && result == RC_UPDATE_DATA_RECEIVED && tries > 0);
    return FinishExchange(result, result == 0);
}

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
        if (!BufferContains(kLoaded, &locked)) {
            result = locked ? RC_UPDATE_REPEAT : ERROR_ACCESS_DENIED;
            // Let the monitor finish its complaint (its prompt follows), so
            // that the next load command is not answered by a stale line and
            // sent again into a load that already runs.
            if (result == RC_UPDATE_REPEAT) ReplyError(m_Timing.replyErrorPauseMs);
        } else if (BufferContains(kPrompt, nullptr)) {
            result = 0;
        } else {
            result = WaitForUnreadLine();
            if (result == RC_UPDATE_DATA_RECEIVED) result = 0;
        }
    }
    result = FinishExchange(result, result != RC_UPDATE_REPEAT);
    PostProgress(WM_HIDE_PROGRESS_BAR, 0, 0);
    return result;
}

uint32_t CDevUpdateThread::VerifyLoadChecksum() { return VerifyChecksum(MONITOR_LOAD_ADDRESS); }

uint32_t CDevUpdateThread::VerifyFlashChecksum() { return VerifyChecksum(FlashStart()); }

uint32_t CDevUpdateThread::VerifyChecksum(uint32_t first) {
    const std::string command = Format("z %x %x", first, first + m_dwImageLength - 1);
    int tries = 3;
    PostUpdateMessage(IDS_PROG_CHECKSUM);
    uint32_t result;
    do {
        result = SendCommand(command);
        if (result != 0) break;
        result = WaitForInterfaceEvent(kInfinite);
        if (result != RC_UPDATE_DATA_RECEIVED) break;
        bool locked = false;
        if (!BufferContains(kChecksumHead, &locked)) {
            if (!locked) return ERROR_ACCESS_DENIED;
            ReplyError(m_Timing.checksumReplyErrorPauseMs);
            --tries;
            continue;
        }
        if (!CutAfter(kChecksumHead)) {
            result = WaitForUnreadLine();
            if (result != RC_UPDATE_DATA_RECEIVED) break;
        }
        bool found = false;
        bool rest = false;
        {
            CObjectLockGuard guard(m_Lock);
            if (!guard) return ERROR_ACCESS_DENIED;
            m_dwLinesRead = m_dwLinesReceived;
            size_t end = 0;
            found = FindChecksum(m_ReceiveBuffer.View(), m_dwImageSum, &end);
            if (found) {
                m_ReceiveBuffer.RemoveLeft(end);
                rest = !m_ReceiveBuffer.IsEmpty();
            }
        }
        if (found) {
            if (!rest) {
                result = WaitForUnreadLine();  // the prompt
                if (result != RC_UPDATE_DATA_RECEIVED) break;
            }
            result = 0;
        } else {
            Pause(m_Timing.replyErrorPauseMs);
            WaitForInterfaceEvent(0);
            result = RC_UPDATE_REPEAT;
        }
    } while (!IsCancelled() && result == RC_UPDATE_DATA_RECEIVED && tries > 0);
    return FinishExchange(result, result != RC_UPDATE_REPEAT);
}

uint32_t CDevUpdateThread::ProgramFlash() {
    int tries = 3;
    m_bUnattended.store(true, std::memory_order_release);
    PostProgress(WM_SHOW_CANCEL_BUTTON, 0, 0);
    PostUpdateMessage(IDS_PROG_PREPARE_FLASH);
    const std::string command = Format("cf %x %x %x", MONITOR_LOAD_ADDRESS, m_dwImageLength, FlashStart());
    uint32_t result;
    do {
        result = SendCommand(command);
        if (result != 0) break;
        result = WaitForInterfaceEvent(kInfinite);
        if (result != RC_UPDATE_DATA_RECEIVED) break;
        bool locked = false;
        if (!BufferContains(kIRamOk, &locked)) {
            if (!locked) return ERROR_ACCESS_DENIED;
            ReplyError(m_Timing.replyErrorPauseMs);
            --tries;
            continue;
        }
        PostUpdateMessage(IDS_PROG_COPY_FLASH);
        if (!CutAfter(kIRamOk)) {
            result = WaitForUnreadLine();
            if (result != RC_UPDATE_DATA_RECEIVED) break;
        }
        if (BufferContains(kFlashOk, nullptr)) {
            if (!CutAfter(kFlashOk)) {
                result = WaitForUnreadLine();  // the prompt
                if (result == RC_UPDATE_DATA_RECEIVED) result = 0;
            } else {
                result = 0;
            }
            break;
        }
        ReplyError(m_Timing.replyErrorPauseMs);
        --tries;
    } while (!IsCancelled() && result == RC_UPDATE_DATA_RECEIVED && tries > 0);
    return FinishExchange(result, result == 0);
}

uint32_t CDevUpdateThread::FlashStart() const {
    return m_dMonitorVersion.load(std::memory_order_acquire) < 2.0 ? 0xA000 : 0x10000;
}

uint32_t CDevUpdateThread::RestartDevice() {
    int tries = kRestartAttempts;
    PostUpdateMessage(IDS_PROG_RESTART);
    const bool usb = m_pPort && m_pPort->IsUsbPort();
    m_bUsbRestarting.store(usb, std::memory_order_release);
    uint32_t result;
    do {
        result = SendCommand("rs");
        if (result != 0) break;
        result = WaitForInterfaceEvent(kInfinite);
        if (result == RC_UPDATE_DATA_RECEIVED) {
            // An answer means the monitor is still there.
            ReplyError(m_Timing.replyErrorPauseMs);
            --tries;
        } else if (result == RC_UPDATE_TIMEOUT) {
            result = 0;  // silence: it restarts
        }
        if (IsCancelled()) break;
    } while (result == RC_UPDATE_DATA_RECEIVED && tries > 0);

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
    return FinishExchange(result, result == 0);
}

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
    if (loading()) {
        const uint32_t start = platform::GetTickCount();
        bool prompt = false;
        while (!prompt) {
            const uint32_t spent = Elapsed(start);
            if (spent >= m_Timing.monitorLoadGiveUpMs) break;
            if (WaitAfterEnd(m_Timing.monitorLoadGiveUpMs - spent) == 0) return;
            prompt = !loading();
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
    for (int tries = 3; tries > 0 && result == RC_UPDATE_DATA_RECEIVED; --tries) {
        ClearExchange();
        m_hTimeoutEvent.Reset();
        LogMessage(this, "rs", "SendCommand", true);
        result = m_pInterface->SendMonitorMsg("rs");
        const uint32_t start = platform::GetTickCount();
        while (result == ERROR_IO_INCOMPLETE && Elapsed(start) < CUpdateInterface::kReplyTimeoutMs + kReplyTimeMarginMs) {
            if (platform::WaitForAny({&m_hTerminateEvent}, 10) == 0) {
                result = 0;
                break;
            }
            result = m_pInterface->SendMonitorMsg("rs");
        }
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
    EmptyReceiveBuffer();
}

uint32_t CDevUpdateThread::WaitAfterEnd(uint32_t timeoutMs) {
    platform::Waitable items[3] = {platform::Waitable::Of(m_hTerminateEvent), platform::Waitable::Of(m_hTimeoutEvent),
                                   platform::Waitable::Of(m_hReceiveEvent)};
    switch (platform::WaitForAny(items, 3, timeoutMs)) {
        case 1:
        case platform::kWaitTimeout: return RC_UPDATE_TIMEOUT;
        case 2: return RC_UPDATE_DATA_RECEIVED;
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

// ---------------------------------------------------------------- phase 3

uint32_t CDevUpdateThread::FinishUpdate() {
    const uint32_t result = CheckUpdatedDevice();
    if (result != 0) return result;
    if (!IsCancelled() && m_bKeepSettings) WriteDeviceSettings();
    SendCommand(kPreset);
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
        if (SendCommand("*IDN?;") != 0) {
            // The interface is still busy with the last query; try again
            // after a short pause.
            Pause(m_Timing.commandPauseMs);
            continue;
        }
        // A skipped noise line has stopped the interface's reply timer, so
        // each query is also given up here after its reply time.
        result = WaitForInterfaceEvent(std::min(m_Timing.restartAnswerLimitMs - elapsed,
                                                CUpdateInterface::kReplyTimeoutMs + kReplyTimeMarginMs));
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
            EmptyReceiveBuffer();
            if (!IsCancelled() && result == RC_UPDATE_TIMEOUT) {
                SendCommand(kClearError);
                Pause(m_Timing.commandPauseMs);
                if (!IsCancelled()) {
                    SendCommand(kModulesQuery);
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
    return FinishExchange(result, result == 0);
}

bool CDevUpdateThread::ValidateIdnParameter() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return false;
    const std::string reply = m_ReceiveBuffer.ToString();
    const size_t comma = reply.find(',');
    if (comma == std::string::npos) return false;
    const std::string maker = reply.substr(0, comma);
    if (maker.find("KORVA") == std::string::npos && maker.find("D+S Vantor") == std::string::npos) return false;
    if (!m_pDevice || !m_pDevice->SetIdnParameter(reply)) return false;
    return m_pDevice->HasTargetFirmware();
}

void CDevUpdateThread::WriteDeviceSettings() {
    PostUpdateMessage(IDS_PROG_WRITE_USER_SETTINGS);
    const std::string settings = GetSettingsText();
    size_t begin = 0;
    for (size_t semicolon = settings.find(';'); semicolon != std::string::npos;
         semicolon = settings.find(';', begin)) {
        // Longer messages are refused by the interface and skipped.
        SendCommand(std::string(kServiceMode) + settings.substr(begin, semicolon + 1 - begin));
        Pause(m_Timing.commandPauseMs);
        begin = semicolon + 1;
    }
    SendCommand(std::string(kServiceMode) + settings.substr(begin) + ";");
    Pause(m_Timing.commandPauseMs);
    SendCommand(kAutoSave);
    Pause(m_Timing.commandPauseMs);

    if (m_bCalibrate) {
        bool calibrated = false;
        for (int attempt = 0; attempt < 3 && !calibrated && !IsCancelled(); ++attempt) {
            PostUpdateMessage(IDS_PROG_ADJUST);
            SendCommand(kCalibrate);
            // The calibration's own time, not a reply, decides when to look.
            Pause(m_Timing.calibrationMs);
            CObjectLockGuard guard(m_Lock);
            if (!guard) return;
            if (m_ReceiveBuffer.IsEmpty() || m_ReceiveBuffer.Find(kCalibrationOk) != CByteBuffer::npos) {
                calibrated = true;
            } else {
                LogMessage(this, LogText(m_ReceiveBuffer.View()), "WriteDeviceSettings", false);
            }
            m_ReceiveBuffer.Empty();
        }
        if (IsCancelled()) return;
        if (!calibrated) {
            PostUpdateMessage(IDS_ADJUST_FAILED);
            Pause(m_Timing.calibrationFailedMs);
            return;
        }
        SendCommand(kAutoSave);
        Pause(m_Timing.commandPauseMs);
    }
    SendCommand(kFactoryStore);
    Pause(m_Timing.commandPauseMs);
}
