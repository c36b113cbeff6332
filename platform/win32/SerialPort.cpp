// The serial port on the Win32 comm calls: an overlapped port file, whose
// comm-event wait and writes finish on event objects that the I/O thread's
// one wait takes as waitables.
#include "platform/SerialPort.h"

#include <mutex>

#include "platform/win32/Win32.h"

namespace platform {

namespace {

constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr DWORD kCloseWaitMs = 1000;  // for the cancelled operations to hand back their buffers
constexpr DWORD kPollMs = 5;          // look interval of a port whose comm waits end without cause

// "COM1" .. "COM99", no leading zero.
bool IsComName(const std::string& name) {
    if (name.size() < 4 || name.size() > 5 || name.compare(0, 3, "COM") != 0 || name[3] < '1' || name[3] > '9') {
        return false;
    }
    return name.size() == 4 || (name[4] >= '0' && name[4] <= '9');
}

class Win32SerialPort final : public ISerialPort {
public:
    Win32SerialPort(HANDLE handle, HANDLE claim) : m_handle(handle), m_claim(claim) {
        m_waitOv.hEvent = m_waitDone.Handle();
        m_writeOv.hEvent = m_writeDone.Handle();
        m_readOv.hEvent = m_readDone.Handle();
    }
    ~Win32SerialPort() override { Close(); }

    bool EventsValid() const { return m_waitDone.IsValid() && m_writeDone.IsValid() && m_readDone.IsValid(); }

    uint32_t GetCommProperties(COMMPROP* properties) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        return ::GetCommProperties(m_handle, properties) ? 0 : win32::FailFromSystem();
    }
    uint32_t GetCommState(DCB* dcb) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        dcb->DCBlength = sizeof *dcb;
        return ::GetCommState(m_handle, dcb) ? 0 : win32::FailFromSystem();
    }
    uint32_t SetCommState(const DCB& dcb) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        DCB copy = dcb;
        return ::SetCommState(m_handle, &copy) ? 0 : win32::FailFromSystem();
    }
    uint32_t SetupComm(uint32_t inQueue, uint32_t outQueue) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        return ::SetupComm(m_handle, inQueue, outQueue) ? 0 : win32::FailFromSystem();
    }
    uint32_t SetCommTimeouts(const COMMTIMEOUTS& timeouts) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        COMMTIMEOUTS copy = timeouts;
        return ::SetCommTimeouts(m_handle, &copy) ? 0 : win32::FailFromSystem();
    }
    uint32_t SetCommMask(uint32_t mask) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        // A port without modem lines (Wine on a pseudo-terminal, some virtual
        // COM drivers) fails GetCommModemStatus; watching lines it cannot
        // report would fail every wait, so their events are left out.
        DWORD modem = 0;
        m_noModemLines = !::GetCommModemStatus(m_handle, &modem);
        if (m_noModemLines) mask &= ~kModemEvents;
        if (!::SetCommMask(m_handle, mask)) return win32::FailFromSystem();
        m_mask = mask;
        return 0;
    }
    uint32_t PurgeComm(uint32_t flags) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        if (!::PurgeComm(m_handle, flags)) return win32::FailFromSystem();
        if (flags & PURGE_RXCLEAR) m_rxReported = false;  // what comes next is new
        return 0;
    }
    uint32_t ClearCommError(uint32_t* errors, COMSTAT* status) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        // The system clears its bits on every call; the ones a caller did not
        // take are kept here for the next one that does.
        DWORD bits = 0;
        COMSTAT own{};
        if (!::ClearCommError(m_handle, &bits, status != nullptr ? status : &own)) return win32::FailFromSystem();
        m_pendingErrors |= bits;
        if (errors != nullptr) {
            *errors = m_pendingErrors;
            m_pendingErrors = 0;
        }
        return 0;
    }
    uint32_t GetCommModemStatus(uint32_t* status) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        DWORD bits = 0;
        if (!::GetCommModemStatus(m_handle, &bits)) {
            // No modem lines to report: none are on.
            if (m_noModemLines || ::GetLastError() == ERROR_INVALID_PARAMETER) bits = 0;
            else return win32::FailFromSystem();
        }
        *status = bits;
        return 0;
    }

    uint32_t WaitCommEvent(uint32_t* mask) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        if (m_waitPending) return win32::Fail(ERROR_IO_PENDING);
        if (m_polling) {
            // The poll timer ends the wait (at once after a write, for the
            // transmit-empty); GetCommEventResult looks.
            if (!m_txToReport) m_waitDone.Reset();
            m_waitPending = true;
            return win32::Fail(ERROR_IO_PENDING);
        }
        m_waitMask = 0;
        if (::WaitCommEvent(m_handle, &m_waitMask, &m_waitOv)) {
            *mask = m_waitMask;
            return 0;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) return win32::Fail(error);
        m_waitPending = true;
        return win32::Fail(ERROR_IO_PENDING);
    }
    void GetCommWaitables(Waitable* items) override {
        items[0] = Waitable::Of(m_waitDone);
        items[1] = Waitable::Never();
    }
    uint32_t GetCommEventResult(uint32_t* mask) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        if (m_polling) return PollEvents(mask);
        DWORD n = 0;
        if (!::GetOverlappedResult(m_handle, &m_waitOv, &n, FALSE)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_INCOMPLETE) {
                *mask = 0;  // woken early: nothing yet
                return 0;
            }
            m_waitPending = false;
            // Wine's serial layer on a pseudo-terminal aborts every wait
            // that has to wait (it cannot read the modem lines there): from
            // then on this port looks for itself.
            if (error == ERROR_OPERATION_ABORTED && m_noModemLines && m_mask != 0) {
                if (const uint32_t rc = StartPolling()) return rc;
                return PollEvents(mask);
            }
            return win32::Fail(error);
        }
        m_waitPending = false;
        *mask = m_waitMask;
        return 0;
    }

    uint32_t Read(void* buffer, uint32_t length, uint32_t* read) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        *read = 0;
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        // The time-outs make the read return at once with what is there, so
        // waiting for its result never blocks.
        DWORD n = 0;
        if (!::ReadFile(m_handle, buffer, length, nullptr, &m_readOv) && ::GetLastError() != ERROR_IO_PENDING) {
            return win32::FailFromSystem();
        }
        if (!::GetOverlappedResult(m_handle, &m_readOv, &n, TRUE)) return win32::FailFromSystem();
        *read = n;
        m_rxReported = false;
        return 0;
    }
    uint32_t Write(const void* data, uint32_t length, uint32_t* written) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        *written = 0;
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        if (m_writePending) return win32::Fail(ERROR_IO_PENDING);
        m_writeData = static_cast<const uint8_t*>(data);
        m_writeLength = length;
        m_writeTotal = 0;
        m_writePending = true;
        return ContinueWrite(written);
    }
    Waitable GetWriteWaitable() override { return Waitable::Of(m_writeDone); }
    uint32_t GetWriteResult(uint32_t* written) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        *written = 0;
        if (!Open()) return win32::Fail(ERROR_INVALID_HANDLE);
        if (!m_writePending) return win32::Fail(ERROR_INVALID_PARAMETER);
        DWORD n = 0;
        if (!::GetOverlappedResult(m_handle, &m_writeOv, &n, FALSE)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_IO_INCOMPLETE) return win32::Fail(ERROR_IO_PENDING);
            m_writePending = false;
            return win32::Fail(error);
        }
        m_writeTotal += n;
        return ContinueWrite(written);
    }

    void Close() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Open()) return;
        if (m_pollTimer != nullptr) {
            // Waits for a running callback; the callback takes no lock.
            ::DeleteTimerQueueTimer(nullptr, m_pollTimer, INVALID_HANDLE_VALUE);
            m_pollTimer = nullptr;
        }
        // A pending wait and write own their OVERLAPPED (and the write the
        // caller's buffer) until the system hands them back: end them and
        // wait for that before the handle and the events go.
        ::SetCommMask(m_handle, 0);
        ::PurgeComm(m_handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        ::CancelIo(m_handle);
        DWORD n = 0;
        if (m_waitPending && ::WaitForSingleObject(m_waitDone.Handle(), kCloseWaitMs) == WAIT_OBJECT_0) {
            ::GetOverlappedResult(m_handle, &m_waitOv, &n, FALSE);
        }
        if (m_writePending && ::WaitForSingleObject(m_writeDone.Handle(), kCloseWaitMs) == WAIT_OBJECT_0) {
            ::GetOverlappedResult(m_handle, &m_writeOv, &n, FALSE);
        }
        m_waitPending = m_writePending = false;
        ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        ::CloseHandle(m_claim);
        m_claim = nullptr;
        // Whoever still waits on the events wakes and meets the closed port.
        m_waitDone.Set();
        m_writeDone.Set();
    }

private:
    bool Open() const { return m_handle != INVALID_HANDLE_VALUE; }

    // Writes what is left of the current write. The write ends only when
    // every byte went out: a write the system ended early (Wine's on a
    // pseudo-terminal whose output is held) goes on with the rest.
    uint32_t ContinueWrite(uint32_t* written) {
        while (m_writeTotal < m_writeLength) {
            DWORD n = 0;
            if (!::WriteFile(m_handle, m_writeData + m_writeTotal, m_writeLength - m_writeTotal, nullptr, &m_writeOv)) {
                const DWORD error = ::GetLastError();
                if (error == ERROR_IO_PENDING) return win32::Fail(ERROR_IO_PENDING);
                m_writePending = false;
                return win32::Fail(error);
            }
            if (!::GetOverlappedResult(m_handle, &m_writeOv, &n, FALSE)) {
                m_writePending = false;
                return win32::FailFromSystem();
            }
            if (n == 0) {  // nothing taken and nothing pending: the line does not move
                m_writePending = false;
                return win32::Fail(ERROR_WRITE_FAULT);
            }
            m_writeTotal += n;
        }
        m_writePending = false;
        m_txToReport = true;
        if (m_polling) m_waitDone.Set();
        *written = m_writeTotal;
        return 0;
    }

    static void CALLBACK OnPollTimer(void* event, BOOLEAN) { ::SetEvent(static_cast<HANDLE>(event)); }

    uint32_t StartPolling() {
        if (!::CreateTimerQueueTimer(&m_pollTimer, nullptr, &OnPollTimer, m_waitDone.Handle(), kPollMs, kPollMs,
                                     WT_EXECUTEINTIMERTHREAD)) {
            m_pollTimer = nullptr;
            return win32::FailFromSystem();
        }
        m_polling = true;
        return 0;
    }

    // The events of the mask the port's state shows, as the system would
    // have reported them: received bytes once until they are read, the
    // output queue empty once after each write, line errors.
    uint32_t PollEvents(uint32_t* mask) {
        m_waitPending = false;
        *mask = 0;
        DWORD bits = 0;
        COMSTAT status{};
        if (!::ClearCommError(m_handle, &bits, &status)) return win32::FailFromSystem();
        m_pendingErrors |= bits;
        if ((m_mask & EV_RXCHAR) && status.cbInQue > 0 && !m_rxReported) {
            *mask |= EV_RXCHAR;
            m_rxReported = true;
        }
        if ((m_mask & EV_TXEMPTY) && m_txToReport && !m_writePending && status.cbOutQue == 0) {
            *mask |= EV_TXEMPTY;
            m_txToReport = false;
        }
        if ((m_mask & EV_ERR) && (m_pendingErrors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY))) *mask |= EV_ERR;
        if ((m_mask & EV_BREAK) && (m_pendingErrors & CE_BREAK)) *mask |= EV_BREAK;
        return 0;
    }

    std::mutex m_mutex;  // guards the handles and everything below; never held across a wait
    HANDLE m_handle;
    HANDLE m_claim;  // the port's named claim (see OpenSerialPort)
    Event m_waitDone{Event::kManualReset};
    Event m_writeDone{Event::kManualReset};
    Event m_readDone{Event::kManualReset};
    OVERLAPPED m_waitOv{};
    OVERLAPPED m_writeOv{};
    OVERLAPPED m_readOv{};
    DWORD m_waitMask = 0;
    bool m_waitPending = false;
    bool m_writePending = false;  // a write runs (its data are the caller's until it ends)
    const uint8_t* m_writeData = nullptr;
    uint32_t m_writeLength = 0;
    uint32_t m_writeTotal = 0;
    bool m_noModemLines = false;
    DWORD m_pendingErrors = 0;
    DWORD m_mask = 0;             // what SetCommMask set
    bool m_polling = false;       // the comm waits are this port's own (see GetCommEventResult)
    HANDLE m_pollTimer = nullptr;
    bool m_rxReported = false;    // EV_RXCHAR told for bytes not read yet
    bool m_txToReport = false;    // a write ended since the last EV_TXEMPTY
};

}  // namespace

uint32_t OpenSerialPort(const std::string& comName, std::unique_ptr<ISerialPort>* port) {
    if (port == nullptr) return win32::Fail(ERROR_INVALID_PARAMETER);
    port->reset();
    if (!IsComName(comName)) return win32::Fail(ERROR_FILE_NOT_FOUND);
    // The system refuses a second opener of a port (no sharing below), but
    // Wine's serial layer does not: a named claim keeps a search of this
    // or another copy of the program off a port that an update is using.
    const std::wstring claimName = L"Local\\KORVA.port." + win32::Widen(comName);
    const HANDLE claim = ::CreateMutexW(nullptr, FALSE, claimName.c_str());
    if (claim == nullptr) return win32::FailFromSystem();
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(claim);
        return win32::Fail(ERROR_ACCESS_DENIED);
    }
    // The device name, so that COM10 and above open too; no sharing: a port
    // another program holds is refused.
    const std::wstring device = L"\\\\.\\" + win32::Widen(comName);
    const HANDLE h = ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        ::CloseHandle(claim);
        if (error == ERROR_PATH_NOT_FOUND) error = ERROR_FILE_NOT_FOUND;
        return win32::Fail(error);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb)) {
        ::CloseHandle(h);
        ::CloseHandle(claim);
        return win32::Fail(ERROR_INVALID_PARAMETER);  // opened, but no serial port
    }
    auto opened = std::make_unique<Win32SerialPort>(h, claim);
    if (!opened->EventsValid()) return win32::Fail(ERROR_NOT_ENOUGH_MEMORY);
    *port = std::move(opened);
    return 0;
}

}  // namespace platform
