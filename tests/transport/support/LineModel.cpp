#include "LineModel.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/SysError.h"

namespace linemodel {

namespace {

constexpr uint64_t kNever = UINT64_MAX;
// While the line sends, the far end gets its bytes at least this often.
constexpr uint64_t kDeliveryNs = 2000000;
std::atomic<uint64_t> g_pauses{0}, g_pauseNs{0};

std::chrono::steady_clock::time_point At(uint64_t ns) {
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}

uint64_t CharacterNsOf(const DCB& dcb) {
    const uint32_t bits = 1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) + (dcb.StopBits == ONESTOPBIT ? 1 : 2);
    return dcb.BaudRate ? uint64_t{bits} * 1000000000u / dcb.BaudRate : 1000000;
}

}  // namespace

void ModelPort::Pauses(uint64_t* count, uint64_t* totalNs) {
    *count = g_pauses.load();
    *totalNs = g_pauseNs.load();
}

uint64_t ModelPort::NowNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

ModelPort::ModelPort(LineConfig config, ILinePeer* peer)
    : m_config(config), m_peer(peer), m_pacer(*this, [this] {
          std::lock_guard<std::mutex> guard(m_mutex);
          m_events |= EV_TXEMPTY;
          m_comm.Set();
      }) {
    m_dcb.fBinary = 1;
    m_dcb.BaudRate = 9600;
    m_dcb.ByteSize = 8;
    m_characterNs = m_config.characterNs ? m_config.characterNs : CharacterNsOf(m_dcb);
    m_pacer.Start();
    m_clock = std::thread([this] { ClockLoop(); });
}

ModelPort::~ModelPort() {
    Close();
    m_clock.join();
}

// ---- the hardware ----

void ModelPort::Refill(Line& line) const {
    if (m_config.kind == LineConfig::Kind::kUart) {
        // The transmit-holding interrupt: only into an empty FIFO, and the
        // driver holds the data back while CTS is low.
        if (line.held > 0 || !m_cts) return;
        const uint32_t n = std::min(m_config.transmitter, line.queue);
        line.queue -= n;
        line.held += n;
    } else {
        // The converter takes what fits; the chip itself honours CTS.
        const uint32_t inChip = line.held + (line.shifting ? 1 : 0);
        const uint32_t room = m_config.transmitter > inChip ? m_config.transmitter - inChip : 0;
        const uint32_t n = std::min(room, line.queue);
        line.queue -= n;
        line.held += n;
    }
}

void ModelPort::StartNext(Line& line, uint64_t t) const {
    Refill(line);
    const bool mayStart = m_config.kind == LineConfig::Kind::kUart || m_cts;
    if (!line.shifting && line.held > 0 && mayStart) {
        --line.held;
        line.shifting = true;
        line.shiftEndNs = t + m_characterNs;
    }
    Refill(line);
}

void ModelPort::AdvanceTo(Line& line, uint64_t nowNs, uint64_t* firstNs) const {
    const uint64_t sentBefore = line.sent;
    while (line.shifting && line.shiftEndNs <= nowNs) {
        const uint64_t t = line.shiftEndNs;
        if (firstNs && line.sent == sentBefore) *firstNs = t - m_characterNs;
        line.shifting = false;
        ++line.sent;
        StartNext(line, t);
        if (!line.shifting && line.queue == 0 && line.held == 0) line.idleSinceNs = t;
    }
}

void ModelPort::AdvanceLocked(uint64_t nowNs) {
    const uint64_t before = m_line.sent;
    uint64_t firstNs = 0;
    AdvanceTo(m_line, nowNs, &firstNs);
    const size_t gone = static_cast<size_t>(m_line.sent - before);
    if (m_errorsToInject != 0 && m_line.sent >= m_injectAtSent) {
        RaiseErrorsLocked(m_errorsToInject);
        m_errorsToInject = 0;
    }
    if (gone == 0) return;
    // Bytes that wait for the peer keep the time of the first of them.
    if (m_peer && m_arrived.empty()) m_arrivedFromNs = firstNs;
    if (m_peer) m_arrived.append(m_pipeline, 0, gone);
    else m_arrivedAll.append(m_pipeline, 0, gone);
    m_pipeline.erase(0, gone);
}

template <class Done>
uint64_t ModelPort::WhenLocked(uint64_t nowNs, Done done) const {
    Line line = m_line;
    AdvanceTo(line, nowNs);
    if (done(line)) return nowNs;
    while (line.shifting) {
        const uint64_t t = line.shiftEndNs;
        AdvanceTo(line, t);
        if (done(line)) return t;
    }
    return kNever;
}

void ModelPort::UpdateWritableLocked() {
    if (m_writeData && m_line.queue < m_config.wakeChars) m_writable.Set();
    else m_writable.Reset();
}

void ModelPort::ClockLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_closed) {
        const uint64_t now = NowNs();
        AdvanceLocked(now);
        UpdateWritableLocked();
        if (m_peer && (!m_arrived.empty() || now >= m_peerWantsNs)) {
            std::string arrived;
            arrived.swap(m_arrived);
            const uint64_t fromNs = m_arrivedFromNs;
            std::string reply;
            lock.unlock();
            const uint64_t next = m_peer->Exchange(arrived, fromNs, now, &reply);
            const bool hungUp = m_peer->HungUp();
            lock.lock();
            m_peerWantsNs = next;
            if (!reply.empty()) {
                m_input += reply;
                m_events |= EV_RXCHAR;
                m_comm.Set();
            }
            if (hungUp && !m_hungUp) {
                m_hungUp = true;
                RaiseErrorsLocked(CE_IOE);
            }
            continue;
        }
        uint64_t next = kNever;
        if (m_writeData && m_line.queue >= m_config.wakeChars) {
            const uint32_t wake = m_config.wakeChars;
            next = WhenLocked(now, [wake](const Line& l) { return l.queue < wake; });
        }
        if (m_peer) {
            if (!m_pipeline.empty()) {
                const uint64_t all = WhenLocked(now, [](const Line& l) { return l.queue == 0 && l.held == 0 && !l.shifting; });
                next = std::min({next, all, now + kDeliveryNs});
            }
            next = std::min(next, m_peerWantsNs);
        }
        // Sleeps until the next thing the line must deliver, or a change.
        if (next == kNever) m_changed.wait(lock);
        else m_changed.wait_until(lock, At(next));
    }
}

// ---- test side ----

void ModelPort::SetCts(bool on) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const uint64_t now = NowNs();
        AdvanceLocked(now);
        if (m_cts == on) return;
        m_cts = on;
        if (!m_line.shifting) StartNext(m_line, now);
        else Refill(m_line);
        m_events |= EV_CTS;
        m_comm.Set();
    }
    m_changed.notify_all();
    m_pacer.LineChanged();
}

void ModelPort::RaiseErrorsLocked(uint32_t errors) {
    m_errors |= errors;
    m_events |= EV_ERR;
    m_comm.Set();
}

void ModelPort::InjectErrorsAt(uint64_t sent, uint32_t errors) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_errorsToInject = errors;
    m_injectAtSent = sent;
    AdvanceLocked(NowNs());
}

std::string ModelPort::Arrived() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    Line line = m_line;
    AdvanceTo(line, NowNs());
    return m_arrivedAll + m_pipeline.substr(0, static_cast<size_t>(line.sent - m_line.sent));
}

uint64_t ModelPort::Sent() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_line.sent;
}

// ---- ISerialPort ----

uint32_t ModelPort::GetCommProperties(COMMPROP* properties) {
    *properties = COMMPROP{};
    properties->dwMaxTxQueue = properties->dwMaxRxQueue = 4096;
    return 0;
}

uint32_t ModelPort::GetCommState(DCB* dcb) {
    std::lock_guard<std::mutex> guard(m_mutex);
    *dcb = m_dcb;
    return 0;
}

uint32_t ModelPort::SetCommState(const DCB& dcb) {
    std::lock_guard<std::mutex> guard(m_mutex);
    AdvanceLocked(NowNs());
    m_dcb = dcb;
    m_characterNs = m_config.characterNs ? m_config.characterNs : CharacterNsOf(dcb);
    return 0;
}

uint32_t ModelPort::SetCommMask(uint32_t mask) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_mask = mask;
    return 0;
}

uint32_t ModelPort::PurgeComm(uint32_t flags) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_closed) return ERROR_INVALID_HANDLE;
        AdvanceLocked(NowNs());
        if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
            // The queue goes; what the FIFO or chip holds still goes out.
            m_pipeline.resize(m_pipeline.size() - m_line.queue);
            m_line.queue = 0;
        }
        if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) m_input.clear();
        UpdateWritableLocked();
    }
    m_changed.notify_all();
    return 0;
}

uint32_t ModelPort::ClearCommError(uint32_t* errors, COMSTAT* status) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_closed) return ERROR_INVALID_HANDLE;
    AdvanceLocked(NowNs());
    if (errors) {
        *errors = m_errors;
        m_errors = 0;
    }
    if (status) {
        *status = COMSTAT{};
        status->cbInQue = static_cast<uint32_t>(m_input.size());
        status->cbOutQue = static_cast<uint32_t>(m_pipeline.size());
        if (!m_cts && !m_pipeline.empty()) status->fCtsHold = 1;
    }
    return 0;
}

uint32_t ModelPort::GetCommModemStatus(uint32_t* status) {
    std::lock_guard<std::mutex> guard(m_mutex);
    *status = MS_DSR_ON | (m_cts ? MS_CTS_ON : 0);
    return 0;
}

uint32_t ModelPort::WaitCommEvent(uint32_t* mask) {
    *mask = 0;
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_closed ? ERROR_INVALID_HANDLE : ERROR_IO_PENDING;
}

void ModelPort::GetCommWaitables(platform::Waitable* items) {
    items[0] = platform::Waitable::Never();
    items[1] = platform::Waitable::Of(m_comm);
}

uint32_t ModelPort::GetCommEventResult(uint32_t* mask) {
    ++m_looks;
    std::lock_guard<std::mutex> guard(m_mutex);
    *mask = 0;
    if (m_closed) return ERROR_INVALID_HANDLE;
    AdvanceLocked(NowNs());
    *mask = m_events & m_mask;
    m_events = 0;
    m_comm.Reset();
    return 0;
}

uint32_t ModelPort::Read(void* buffer, uint32_t length, uint32_t* read) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(m_input.size()));
    std::memcpy(buffer, m_input.data(), n);
    m_input.erase(0, n);
    *read = n;
    return 0;
}

uint32_t ModelPort::ContinueWriteLocked(uint32_t* written) {
    const uint64_t now = NowNs();
    AdvanceLocked(now);
    const uint32_t room = m_config.kernelQueue - std::min(m_config.kernelQueue, m_line.queue);
    const uint32_t n = std::min(room, m_writeLength - m_writeDone);
    if (n > 0 && m_pipeline.empty() && m_line.idleSinceNs != 0 && now - m_line.idleSinceNs < 1000000000u) {
        ++g_pauses;
        g_pauseNs += now - m_line.idleSinceNs;
    }
    m_pipeline.append(reinterpret_cast<const char*>(m_writeData) + m_writeDone, n);
    m_line.queue += n;
    m_writeDone += n;
    StartNext(m_line, now);
    *written = m_writeDone;
    if (m_writeDone < m_writeLength) {
        UpdateWritableLocked();
        return ERROR_IO_PENDING;
    }
    m_writeData = nullptr;
    UpdateWritableLocked();
    return 0;
}

uint32_t ModelPort::Write(const void* data, uint32_t length, uint32_t* written) {
    uint32_t rc;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        *written = 0;
        if (m_closed) return ERROR_INVALID_HANDLE;
        m_writeData = static_cast<const uint8_t*>(data);
        m_writeLength = length;
        m_writeDone = 0;
        rc = ContinueWriteLocked(written);
    }
    m_changed.notify_all();
    if (rc == 0 && *written > 0) m_pacer.Written();
    return rc;
}

platform::Waitable ModelPort::GetWriteWaitable() { return platform::Waitable::Of(m_writable); }

uint32_t ModelPort::GetWriteResult(uint32_t* written) {
    ++m_looks;
    uint32_t rc;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        *written = 0;
        if (m_closed) return ERROR_INVALID_HANDLE;
        if (m_writeData == nullptr) return 0;
        rc = ContinueWriteLocked(written);
    }
    m_changed.notify_all();
    if (rc == 0 && *written > 0) m_pacer.Written();
    return rc;
}

void ModelPort::Close() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_closed) return;
        m_closed = true;
    }
    m_changed.notify_all();
    m_pacer.Stop();
}

// ---- ITransmitQueue ----

uint32_t ModelPort::QueuedBytes(uint32_t* bytes) {
    ++m_looks;
    std::lock_guard<std::mutex> guard(m_mutex);
    *bytes = 0;
    if (m_closed) return ERROR_INVALID_HANDLE;
    AdvanceLocked(NowNs());
    *bytes = m_line.queue;
    return 0;
}

uint64_t ModelPort::CharacterNs() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_characterNs;
}

}  // namespace linemodel
