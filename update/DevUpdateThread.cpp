#include "update/DevUpdateThread.h"

#include <cctype>
#include <cstdio>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/Wait.h"
#include "base/WindowMessages.h"
#include "device/DeviceParameter.h"
#include "platform/Clock.h"
#include "platform/SysError.h"
#include "protocol/InstrumentCommands.h"
#include "transport/CommInterface.h"
#include "transport/IPInterface.h"
#include "transport/UsbInterface.h"
#include "update/DevUpdateShared.h"

using devupdate::Elapsed;
using devupdate::EscapeForLog;

namespace {

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

namespace devupdate {

std::string EscapeForLog(std::string_view line) {
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

}  // namespace devupdate

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
            m_pMainWindow->SendMsg(WM_CREATE_DEVICE_UPDATE_WINDOW, reinterpret_cast<WPARAM>(m_strTitle.c_str()),
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
        m_pMainWindow->SendMsg(WM_DESTROY_DEVICE_UPDATE_WINDOW, 0,
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
                LogMessage(this, "Not an identification reply, skipped: " + EscapeForLog(text.View()),
                           "DoOnInterfaceEvent", true);
                break;
            }
            // An instrument that never stops talking must not grow the buffer
            // without end; what matters is always the latest exchange.
            if (m_ReceiveBuffer.GetLength() + text.GetLength() > kMaxReceiveBuffer) m_ReceiveBuffer.Empty();
            m_ReceiveBuffer.Append(text.View().substr(0, kMaxReceiveBuffer));
            ++m_dwLinesReceived;
            if (text.Find(instrument::kMonitorPrompt) != CByteBuffer::npos) ++m_dwPrompts;
            LogMessage(this, EscapeForLog(text.View()), "DoOnInterfaceEvent", true);
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
    // In the order of WaitSlot, which is their priority.
    platform::Waitable items[kWaitSlots] = {
        platform::Waitable::Of(m_hTerminateEvent), platform::Waitable::Of(m_hTimeoutEvent),
        platform::Waitable::Of(m_hTransmitEvent), platform::Waitable::Of(m_hReceiveEvent)};
    const uint32_t start = platform::GetTickCount();
    uint32_t woke = platform::WaitForAny(items, kWaitSlots, timeoutMs);
    // The confirmation of the image's last chunk can come after the
    // monitor's answer to it; outside the transfer it is no reply.
    while (woke == kSlotTransmit && !m_bSendingImage) {
        uint32_t left = timeoutMs;
        if (timeoutMs != kInfinite) {
            const uint32_t spent = Elapsed(start);
            left = spent >= timeoutMs ? 0 : timeoutMs - spent;
        }
        woke = platform::WaitForAny(items, kWaitSlots, left);
    }
    switch (woke) {
        case kSlotTerminate:
            m_bCancelled.store(true, std::memory_order_release);
            return 0;
        case kSlotTimeout: return RC_UPDATE_TIMEOUT;
        case kSlotTransmit: return RC_UPDATE_DATA_SENT;
        case kSlotReceive: return RC_UPDATE_DATA_RECEIVED;
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
           Elapsed(start) < CUpdateInterface::kReplyTimeoutMs + devupdate::kReplyTimeMarginMs) {
        Pause(devupdate::kBusyRetryMs);
        result = scpi ? m_pInterface->SendSCPIMsg(text) : m_pInterface->SendMonitorMsg(text);
    }
    return result;
}

void CDevUpdateThread::PostProgress(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    CObjectLockGuard guard(m_Lock);
    if (!guard || m_pProgressWnd == nullptr) return;
    m_pProgressWnd->PostMsg(msg, wParam, lParam);
}

std::unique_ptr<CUpdateInterface> CDevUpdateThread::CreateInterface() {
    if (!m_pPort) return nullptr;
    if (m_pPort->IsSerialPort()) return std::make_unique<CCommInterface>(&CDevUpdateThread::OnInterfaceEvent, this);
    if (m_pPort->IsUsbPort()) return std::make_unique<CUsbInterface>(&CDevUpdateThread::OnInterfaceEvent, this);
    if (m_pPort->IsIPPort()) return std::make_unique<CIPInterface>(&CDevUpdateThread::OnInterfaceEvent, this);
    return nullptr;
}

// ---------------------------------------------------------------- receive buffer

uint32_t CDevUpdateThread::EndExchange(uint32_t result) {
    bool emptied = false;
    {
        CObjectLockGuard guard(m_Lock);
        if (guard) {
            m_ReceiveBuffer.Empty();
            m_dwLinesRead = m_dwLinesReceived;
            emptied = true;
        }
    }
    const uint32_t reset = m_hReceiveEvent.Reset();
    if (result != 0) return result;
    return emptied ? reset : ERROR_ACCESS_DENIED;
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
        if (guard) LogMessage(this, "Receive Error: " + EscapeForLog(m_ReceiveBuffer.View()), "ReplyError", true);
    }
    EndExchange();
}
