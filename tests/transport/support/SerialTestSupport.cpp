#include "SerialTestSupport.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/MessageWindow.h"
#include "protocol/InterfaceEvents.h"
#include "platform/SysError.h"

#ifndef _WIN32
// Pseudo-terminals: the Windows build runs only the fake-port suites.
PtyPeer::PtyPeer() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) return;
    char name[64];
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 || ::ptsname_r(m_master, name, sizeof name) != 0) {
        HangUp();
        return;
    }
    m_slave = name;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPeer::~PtyPeer() { HangUp(); }

void PtyPeer::HangUp() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

bool PtyPeer::Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        pollfd p{m_master, POLLOUT, 0};
        if (::poll(&p, 1, 5000) <= 0) return false;
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    }
    return true;
}

std::string PtyPeer::Receive(size_t count, uint32_t timeoutMs) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{m_master, POLLIN, 0};
        // Waits for the port to send; bounded by the caller's limit.
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) got.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
    }
    return got;
}
#endif  // _WIN32

void EventRecorder::OnEvent(uint32_t code, uint32_t data, CObject* user) {
    auto* self = CObject::DownCast<EventRecorder>(user);
    if (!self) return;
    {
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_events.emplace_back(code, data);
    }
    self->m_changed.notify_all();
    if (self->onEvent) self->onEvent(code, data);
}

void EventRecorder::OnData(CByteBuffer& data, CObject* user) {
    auto* self = CObject::DownCast<EventRecorder>(user);
    if (!self) return;
    {
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_data.append(data.View());
        ++self->m_dataCalls;
    }
    self->m_changed.notify_all();
}

std::vector<std::pair<uint32_t, uint32_t>> EventRecorder::Events() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_events;
}

std::string EventRecorder::Data() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_data;
}

size_t EventRecorder::DataCalls() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_dataCalls;
}

size_t EventRecorder::Count(uint32_t code) const {
    std::lock_guard<std::mutex> guard(m_mutex);
    size_t n = 0;
    for (const auto& e : m_events) n += e.first == code;
    return n;
}

bool EventRecorder::WaitForEvent(uint32_t code, size_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> guard(m_mutex);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        size_t n = 0;
        for (const auto& e : m_events) n += e.first == code;
        return n >= count;
    });
}

bool EventRecorder::WaitForData(size_t bytes, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> guard(m_mutex);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_data.size() >= bytes; });
}

// ---- FakePort ----

FakePort::FakePort() {
    m_dcb.fBinary = 1;
    m_dcb.BaudRate = 9600;
    m_dcb.ByteSize = 8;
}

void FakePort::Inject(uint32_t events, uint32_t errors, const std::string& data) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_events |= events;
    m_errors |= errors;
    m_input += data;
    m_comm.Set();
}

void FakePort::SetStatus(const COMSTAT& status) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_status = status;
}

void FakePort::SetCommEventError(uint32_t error) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_commError = error;
    m_comm.Set();
}

void FakePort::SetWritesPend(bool pend) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_pend = pend;
}

void FakePort::CompleteWrite() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_writeDone.Set();
}

void FakePort::SetReadLimit(int limit) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_readLimit = limit;
}

std::string FakePort::Written() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_written;
}

uint32_t FakePort::GetCommProperties(COMMPROP* properties) {
    *properties = COMMPROP{};
    properties->dwMaxRxQueue = properties->dwMaxTxQueue = 4096;
    return 0;
}

uint32_t FakePort::GetCommState(DCB* dcb) {
    std::lock_guard<std::mutex> guard(m_mutex);
    *dcb = m_dcb;
    return 0;
}

uint32_t FakePort::SetCommState(const DCB& dcb) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_dcb = dcb;
    return 0;
}

uint32_t FakePort::SetCommMask(uint32_t mask) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_mask = mask;
    return 0;
}

uint32_t FakePort::PurgeComm(uint32_t flags) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) m_input.clear();
    return m_closed ? ERROR_INVALID_HANDLE : 0;
}

uint32_t FakePort::ClearCommError(uint32_t* errors, COMSTAT* status) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_closed) return ERROR_INVALID_HANDLE;
    if (errors) {
        *errors = m_errors;
        m_errors = 0;
    }
    if (status) {
        *status = m_status;
        status->cbInQue =
            m_status.cbInQue ? std::exchange(m_status.cbInQue, 0u) : static_cast<uint32_t>(m_input.size());
    }
    return 0;
}

uint32_t FakePort::GetCommModemStatus(uint32_t* status) {
    *status = 0;
    return 0;
}

uint32_t FakePort::WaitCommEvent(uint32_t* mask) {
    *mask = 0;
    return m_closed ? ERROR_INVALID_HANDLE : ERROR_IO_PENDING;
}

void FakePort::GetCommWaitables(platform::Waitable* items) {
    items[0] = platform::Waitable::Never();
    items[1] = platform::Waitable::Of(m_comm);
}

uint32_t FakePort::GetCommEventResult(uint32_t* mask) {
    std::lock_guard<std::mutex> guard(m_mutex);
    *mask = 0;
    if (m_commError) return m_commError;
    *mask = m_events & m_mask;
    m_events = 0;
    m_comm.Reset();
    return 0;
}

uint32_t FakePort::Read(void* buffer, uint32_t length, uint32_t* read) {
    std::lock_guard<std::mutex> guard(m_mutex);
    uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(m_input.size()));
    if (m_readLimit >= 0) {
        n = std::min<uint32_t>(n, static_cast<uint32_t>(m_readLimit));
        m_readLimit = -1;  // one limited read, then normal again
    }
    std::memcpy(buffer, m_input.data(), n);
    m_input.erase(0, n);
    *read = n;
    return 0;
}

uint32_t FakePort::Write(const void* data, uint32_t length, uint32_t* written) {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_pend) {
        m_pendingWrite.assign(static_cast<const char*>(data), length);
        *written = 0;
        return ERROR_IO_PENDING;
    }
    m_written.append(static_cast<const char*>(data), length);
    *written = length;
    m_events |= EV_TXEMPTY;
    m_comm.Set();
    return 0;
}

platform::Waitable FakePort::GetWriteWaitable() { return platform::Waitable::Of(m_writeDone); }

uint32_t FakePort::GetWriteResult(uint32_t* written) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_writeDone.Reset();
    m_written += m_pendingWrite;
    *written = static_cast<uint32_t>(m_pendingWrite.size());
    m_pendingWrite.clear();
    m_events |= EV_TXEMPTY;
    m_comm.Set();
    return 0;
}

void FakePort::Close() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_closed = true;
}
