#include "protocol/UpdateInterface.h"

#include <algorithm>

#include "platform/SysError.h"

namespace {

constexpr std::string_view kSCPILeadingTrim{" \t.!?,;"};
constexpr std::string_view kMonitorLeadingTrim{" \t.!?:,;"};
constexpr std::string_view kTrailingTrim{" \t.!?:,;"};
constexpr std::string_view kLineEndSet{"\x0A\x0D", 2};

}  // namespace

CUpdateInterface::CUpdateInterface(InterfaceEventFn callback, CObject* context)
    : m_pReplyTimer(std::make_unique<CCallbackTimer>(kReplyTimerId, kReplyTimeoutMs, &OnTimer, this)),
      m_pFragmentTimer(
          std::make_unique<CCallbackTimer>(kFragmentTimerId, kFragmentTimeoutMs, &OnTimer, this)),
      m_pEventCallback(callback),
      m_pCallbackContext(context) {}

CUpdateInterface::~CUpdateInterface() { CloseProtocol(); }

void CUpdateInterface::CloseProtocol() {
    if (m_bClosed.exchange(true, std::memory_order_acq_rel)) return;
    const bool locked = LockForDestruction(m_Lock, this);
    // Closing first lets a timer callback that waits for the lock give up, so
    // deleting the timers below (which waits for running callbacks) cannot
    // wait on ourselves.
    m_Lock.Close();
    m_pReplyTimer.reset();
    m_pFragmentTimer.reset();
    m_ReceiveBuffer.Empty();
    if (locked) m_Lock.Unlock();
}

// --- sending -----------------------------------------------------------

uint32_t CUpdateInterface::SendSCPIMsg(std::string_view text) {
    return SendFramed(text, kMaxSCPIText, kSCPITerminator, false);
}

uint32_t CUpdateInterface::SendMonitorMsg(std::string_view text) {
    return SendFramed(text, kMaxMonitorText, kMonitorTerminator, true);
}

uint32_t CUpdateInterface::SendFramed(std::string_view text, size_t maxLength,
                                      std::string_view terminator, bool monitor) {
    if (text.empty()) return ERROR_INVALID_PARAMETER;
    if (text.size() > maxLength) return ERROR_BAD_LENGTH;
    CObjectLockGuard guard(m_Lock);
    // Being destroyed: nothing can be sent, and saying so beats a 0 that
    // the caller would take for a message on its way.
    if (!guard) return ERROR_NOACCESS;
    if (m_bAwaitingReply || m_bWritingData.load(std::memory_order_acquire)) {
        return ERROR_IO_INCOMPLETE;
    }

    CByteBuffer framed(text);
    if (!framed.Append(terminator)) return ERROR_NOT_ENOUGH_MEMORY;

    const bool scpiModeBefore = m_bSCPIMode;
    if (monitor) {
        m_bSCPIMode = false;
        m_bAwaitingReply = true;
    } else {
        m_bSCPIMode = framed.Find(instrument::kMonitorSwitchHeader) == CByteBuffer::npos;
        m_bAwaitingReply = framed.Find("?") != CByteBuffer::npos || !m_bSCPIMode;
    }

    const uint32_t result = SendData(framed);
    if (result == 0) {
        if (m_bAwaitingReply) StartReplyTimer();
    } else if (result == ERROR_IO_PENDING) {
        // The port is still writing what went before and did not take the
        // message. Awaiting a reply to it would wait for ever (no reply
        // timer runs for a message that never left): the exchange stays as
        // it was and the owner hears "busy" and may send again.
        m_bAwaitingReply = false;
        m_bSCPIMode = scpiModeBefore;
        return ERROR_IO_INCOMPLETE;
    } else {
        m_bAwaitingReply = false;
        if (!monitor) m_bSCPIMode = false;
    }
    return result;
}

uint32_t CUpdateInterface::SendBinaryData(const uint8_t* bytes, uint32_t length) {
    if (bytes == nullptr || length == 0) return ERROR_INVALID_PARAMETER;
    CObjectLockGuard guard(m_Lock);
    if (!guard) return ERROR_NOACCESS;
    if (m_bAwaitingReply || m_bWritingData.load(std::memory_order_acquire)) {
        return ERROR_IO_INCOMPLETE;
    }
    m_dwBytesWritten.store(0, std::memory_order_release);
    m_bWritingData.store(true, std::memory_order_release);
    m_pBinaryData = bytes;
    m_dwBinaryLength = length;
    m_bSCPIMode = false;
    return SendChunk(0, length);
}

uint32_t CUpdateInterface::SendChunk(uint32_t offset, uint32_t remaining) {
    const uint32_t chunk = std::min(remaining, kChunkSize);
    // The last chunk is the one the instrument answers.
    m_bAwaitingReply = remaining <= kChunkSize;
    CByteBuffer data(m_pBinaryData + offset, chunk);
    const uint32_t result = SendData(data);
    if (result == 0) {
        if (m_bAwaitingReply) StartReplyTimer();
    } else if (result != ERROR_IO_PENDING) {
        m_bWritingData.store(false, std::memory_order_release);
        m_bAwaitingReply = false;
    }
    return result;
}

void CUpdateInterface::HandleWriteTermination(uint32_t count) {
    if (m_bWritingData.load(std::memory_order_acquire)) {
        m_dwBytesWritten.fetch_add(count, std::memory_order_acq_rel);
    }
}

void CUpdateInterface::HandleEmptyTransmitBuffer() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    if (!m_bWritingData.load(std::memory_order_acquire)) return;
    const uint32_t written = m_dwBytesWritten.load(std::memory_order_acquire);
    DoOnInterfaceEvent(IF_EVENT_BYTES_SENT, written, CByteBuffer());
    if (written >= m_dwBinaryLength) {
        m_bWritingData.store(false, std::memory_order_release);
        return;
    }
    // Continue where the port stopped: a chunk written only in part goes
    // on from the confirmed count.
    SendChunk(written, m_dwBinaryLength - written);
}

// --- receiving ---------------------------------------------------------

void CUpdateInterface::OnDataReceived(CByteBuffer& data, CObject* object) {
    auto* self = CObject::DownCast<CUpdateInterface>(object);
    if (self == nullptr) return;
    CObjectLockGuard guard(self->m_Lock);
    if (!guard) return;
    self->DoOnDataReceived(data);
}

void CUpdateInterface::DoOnDataReceived(CByteBuffer& data) {
    StopFragmentTimer();
    if (!m_ReceiveBuffer.Append(data)) {
        // Out of memory: what we hold is no longer a whole reply.
        m_ReceiveBuffer.Empty();
        LogError(this, ERROR_NOT_ENOUGH_MEMORY, "DoOnDataReceived");
        StopReplyTimer();
        DoOnReceiveTimeout();
        return;
    }

    while (!m_ReceiveBuffer.IsEmpty()) {
        bool isBlock = false;
        CByteBuffer line = m_bSCPIMode ? EnumSCPILines(m_ReceiveBuffer, &isBlock)
                                       : EnumMonitorLines(m_ReceiveBuffer);
        if (line.IsEmpty()) break;
        m_ReceiveBuffer.RemoveLeft(line.GetLength());
        if (isBlock) {
            // The block's data bytes are binary: trimming them would cut
            // records whose last byte happens to be a blank or punctuation.
            line.TrimLeft(kSCPILeadingTrim);
        } else {
            line = TrimLine(line, m_bSCPIMode);
        }
        if (!line.IsEmpty()) DoOnLineReceived(line);
    }

    if (m_ReceiveBuffer.GetLength() > kMaxReceiveBuffer) {
        m_ReceiveBuffer.Empty();
        LogMessage(this, "Receive buffer overflow - data discarded", "DoOnDataReceived", false);
        StopReplyTimer();
        DoOnReceiveTimeout();
        return;
    }
    if (!m_ReceiveBuffer.IsEmpty() &&
        (m_bSCPIMode || m_bWritingData.load(std::memory_order_acquire))) {
        StartFragmentTimer();
    }
}

CByteBuffer CUpdateInterface::EnumSCPILines(const CByteBuffer& buffer, bool* isBlock) {
    if (isBlock) *isBlock = false;
    const long eol = buffer.Find(kSCPILineEnd);
    const long block = buffer.Find(kBlockMarker);
    if (eol != CByteBuffer::npos && (block == CByteBuffer::npos || eol < block)) {
        return buffer.Left(static_cast<size_t>(eol) + kSCPILineEnd.size());
    }
    const size_t length = buffer.GetLength();
    if (block == CByteBuffer::npos || length <= 2) return {};
    const size_t marker = static_cast<size_t>(block);
    if (marker + 1 >= length) return {};
    const uint8_t digitsByte = buffer[marker + 1];
    if (digitsByte == 'H' || digitsByte == 'h') return {};
    const size_t digits = digitsByte & 0x0F;
    if (digits == 0 || digits > 9) return {};
    if (length < marker + 2 + digits) return {};
    // Only leading digits count, as a C conversion would read them.
    size_t count = 0;
    for (size_t i = 0; i < digits; ++i) {
        const uint8_t c = buffer[marker + 2 + i];
        if (c < '0' || c > '9') break;
        count = count * 10 + (c - '0');
    }
    const size_t total = marker + 2 + digits + count;
    if (length < total) return {};
    if (isBlock) *isBlock = true;
    return buffer.Left(total);
}

CByteBuffer CUpdateInterface::EnumMonitorLines(const CByteBuffer& buffer) {
    const long eol = buffer.Find(kMonitorLineEnd);
    const long prompt = buffer.Find(instrument::kMonitorPrompt);
    if (eol != CByteBuffer::npos && (prompt == CByteBuffer::npos || eol < prompt)) {
        return buffer.Left(static_cast<size_t>(eol) + kMonitorLineEnd.size());
    }
    if (prompt != CByteBuffer::npos) {
        return buffer.Left(static_cast<size_t>(prompt) + instrument::kMonitorPrompt.size());
    }
    return {};
}

CByteBuffer CUpdateInterface::TrimLine(const CByteBuffer& line, bool scpiMode) {
    CByteBuffer copy(line);
    if (copy.IsEmpty()) return copy;
    copy.TrimRight(kLineEndSet);
    if (!copy.IsEmpty()) {
        copy.TrimLeft(scpiMode ? kSCPILeadingTrim : kMonitorLeadingTrim);
        copy.TrimRight(kTrailingTrim);
    }
    return copy;
}

// --- outcomes ----------------------------------------------------------

void CUpdateInterface::DoOnLineReceived(const CByteBuffer& line) {
    StopReplyTimer();
    m_bAwaitingReply = false;
    m_bWritingData.store(false, std::memory_order_release);
    DoOnInterfaceEvent(IF_EVENT_LINE_RECEIVED, 0, line);
}

void CUpdateInterface::DoOnReceiveTimeout() {
    m_bAwaitingReply = false;
    m_bWritingData.store(false, std::memory_order_release);
    DoOnInterfaceEvent(IF_EVENT_RECEIVE_TIMEOUT, 0, CByteBuffer());
}

void CUpdateInterface::DoOnPortError(uint32_t event, std::string_view text) {
    DoOnInterfaceEvent(event, 0, CByteBuffer(text));
}

void CUpdateInterface::DoOnInterfaceEvent(uint32_t event, uintptr_t data, const CByteBuffer& text) {
    if (m_pEventCallback) m_pEventCallback(event, data, &text, m_pCallbackContext);
}

// --- timers ------------------------------------------------------------

void CUpdateInterface::OnTimer(CCallbackTimer* timer, uint32_t time, CObject* object) {
    auto* self = CObject::DownCast<CUpdateInterface>(object);
    if (self == nullptr || timer == nullptr) return;
    self->DoOnTimer(timer);
}

void CUpdateInterface::DoOnTimer(CCallbackTimer* timer) {
    // The timer is one-shot and already stopped; stopping it again here could
    // kill a run that a new send started meanwhile.
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    const bool fragment = timer->GetId() == kFragmentTimerId;
    bool& armed = fragment ? m_bFragmentTimerArmed : m_bReplyTimerArmed;
    // A line may have stopped (or a new send restarted) this timer while its
    // time-out waited for the lock: that time-out is stale.
    if (!armed || timer->IsRunning()) return;
    armed = false;
    if (fragment) m_ReceiveBuffer.Empty();
    // Either time-out ends the exchange: a reply timer left running after a
    // fragment time-out would cut the next query's 2000 ms short.
    StopReplyTimer();
    StopFragmentTimer();
    DoOnReceiveTimeout();
}

// The timers are gone only once CloseProtocol has run, and then m_Lock is
// closed, so no caller below can reach them; the checks are for safety.
void CUpdateInterface::StartReplyTimer() {
    if (!m_pReplyTimer) return;
    // Every reply gets its full time, even if an old run were still pending.
    m_pReplyTimer->Stop();
    m_bReplyTimerArmed = m_pReplyTimer->Start();
}

void CUpdateInterface::StopReplyTimer() {
    m_bReplyTimerArmed = false;
    if (m_pReplyTimer) m_pReplyTimer->Stop();
}

void CUpdateInterface::StartFragmentTimer() {
    if (m_pFragmentTimer) m_bFragmentTimerArmed = m_pFragmentTimer->Start();
}

void CUpdateInterface::StopFragmentTimer() {
    m_bFragmentTimerArmed = false;
    if (m_pFragmentTimer) m_pFragmentTimer->Stop();
}

// --- state -------------------------------------------------------------

bool CUpdateInterface::IsAwaitingReply() {
    CObjectLockGuard guard(m_Lock);
    return guard && m_bAwaitingReply;
}

bool CUpdateInterface::IsSCPIMode() {
    CObjectLockGuard guard(m_Lock);
    return guard && m_bSCPIMode;
}

size_t CUpdateInterface::GetReceiveBufferLength() {
    CObjectLockGuard guard(m_Lock);
    return guard ? m_ReceiveBuffer.GetLength() : 0;
}
