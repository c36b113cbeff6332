// The Linux serial port: termios for the settings, the tty ioctls for
// queues, counters and modem lines, poll for received bytes and room to
// write, and two helper threads for what Linux only offers as a blocking
// call: tcdrain (transmit empty) and TIOCMIWAIT (modem line changes).
#include "platform/SerialPort.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/PortListing.h"
#include "platform/linux/Descriptor.h"
#include "platform/Sanitizer.h"
#include "platform/SysError.h"

namespace platform {

namespace {

// A port without modem lines or counters (a pseudo-terminal) answers
// these; it is a quiet cable, not a failure.
bool IsUnsupported(int err) { return err == ENOTTY || err == EINVAL; }

uint32_t Fail(uint32_t code) {
    SetLastError(code);
    return code;
}

struct BaudEntry {
    uint32_t rate;
    speed_t speed;
};

constexpr BaudEntry kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},
    {150, B150},       {200, B200},       {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedOf(uint32_t rate, speed_t* speed) {
    for (const auto& e : kBauds) {
        if (e.rate == rate) {
            *speed = e.speed;
            return true;
        }
    }
    return false;
}

uint32_t RateOf(speed_t speed) {
    for (const auto& e : kBauds) {
        if (e.speed == speed) return e.rate;
    }
    return 0;
}

// The signal that wakes the modem helper out of TIOCMIWAIT when the port
// closes; its handler does nothing, the interrupted ioctl is the point.
int WakeSignal() { return SIGRTMIN + 4; }

void InstallWakeHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = [](int) {};
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;  // no SA_RESTART: the ioctl must return EINTR
        ::sigaction(WakeSignal(), &sa, nullptr);
    });
}

}  // namespace

// ---- transmit-empty pacing ----

namespace {

// A look that finds the queue not moving backs off up to this; a modem
// line change looks at once.
constexpr uint64_t kHeldLookNs = 100000000;
// Never closer than this: below it a timer is no better than a look now.
constexpr uint64_t kMinLookNs = 20000;

}  // namespace

TransmitPacer::~TransmitPacer() {
    Stop();
    if (m_timer >= 0) ::close(m_timer);
}

uint32_t TransmitPacer::Start() {
    if (!m_request.IsValid() || !m_lineChanged.IsValid() || !m_stop.IsValid()) return Fail(ERROR_NO_SYSTEM_RESOURCES);
    m_timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (m_timer < 0) return SetLastErrorFromErrno();
    try {
        m_thread = std::thread([this] { Loop(); });
    } catch (const std::system_error& e) {
        return Fail(ErrorFromErrno(e.code().value()));
    }
    return 0;
}

bool TransmitPacer::Arm(uint64_t ns) {
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000u);
    when.it_value.tv_nsec = static_cast<long>(ns % 1000000000u);
    return ::timerfd_settime(m_timer, 0, &when, nullptr) == 0;
}

void TransmitPacer::Loop() {
    enum { kStop, kWritten, kTimer, kLineChanged };
    bool watching = false;  // bytes of a write are still on their way
    uint32_t lastQueued = 0;
    uint64_t heldNs = 0;  // the back-off while the queue does not move
    for (;;) {
        Waitable items[] = {Waitable::Of(m_stop), Waitable::Of(m_request), DescriptorWaitable(m_timer, POLLIN),
                            Waitable::Of(m_lineChanged)};
        // Sleeps until a write, the next look, a modem change or the close;
        // the timer is armed only while a write's bytes are on their way.
        const uint32_t woke = WaitForAny(items, 4, kInfinite);
        if (woke == kStop || woke == kWaitFailed) break;
        if (woke == kTimer) {
            uint64_t expirations = 0;
            if (::read(m_timer, &expirations, sizeof expirations) < 0 && errno != EAGAIN) break;
        }
        if (woke == kWritten) {
            watching = true;
            lastQueued = UINT32_MAX;
            heldNs = 0;
        }
        if (woke == kLineChanged) heldNs = 0;
        if (!watching) continue;
        uint32_t queued = 0;
        if (m_queue.QueuedBytes(&queued) != 0) {
            watching = false;  // a hang-up; the descriptor reports it
            Arm(0);
            continue;
        }
        const uint64_t characterNs = CharacterNs();
        const uint32_t lowWater = LowWater(characterNs);
        if (queued <= lowWater) {
            watching = false;
            Arm(0);
            m_notify();
            continue;
        }
        // When the line, sending without a pause, will have taken the queue
        // down to the low-water mark.
        uint64_t ns = (queued - lowWater) * characterNs;
        if (queued >= lastQueued) {
            // A UART's queue moves a FIFO's worth at a time: only a queue that
            // stays put past that is held back.
            heldNs = heldNs == 0 ? std::max(ns, kMinLowWater * characterNs) : std::min(heldNs * 2, kHeldLookNs);
            ns = std::max(ns, heldNs);
        } else {
            heldNs = 0;
        }
        lastQueued = queued;
        if (!Arm(std::max(ns, kMinLookNs))) break;
    }
}

namespace {

class LinuxSerialPort final : public ISerialPort, private ITransmitQueue {
public:
    explicit LinuxSerialPort(int fd)
        : m_fd(fd), m_pacer(*this, [this] {
              std::lock_guard<std::mutex> guard(m_mutex);
              m_pendingEvents |= EV_TXEMPTY;
              m_commEvent.Set();
          }) {}
    ~LinuxSerialPort() override { Close(); }

    uint32_t Start();

    uint32_t GetCommProperties(COMMPROP* properties) override;
    uint32_t GetCommState(DCB* dcb) override;
    uint32_t SetCommState(const DCB& dcb) override;
    uint32_t SetupComm(uint32_t inQueue, uint32_t outQueue) override;
    uint32_t SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
    uint32_t SetCommMask(uint32_t mask) override;
    uint32_t PurgeComm(uint32_t flags) override;
    uint32_t ClearCommError(uint32_t* errors, COMSTAT* status) override;
    uint32_t GetCommModemStatus(uint32_t* status) override;
    uint32_t WaitCommEvent(uint32_t* mask) override;
    void GetCommWaitables(Waitable* items) override;
    uint32_t GetCommEventResult(uint32_t* mask) override;
    uint32_t Read(void* buffer, uint32_t length, uint32_t* read) override;
    uint32_t Write(const void* data, uint32_t length, uint32_t* written) override;
    Waitable GetWriteWaitable() override;
    uint32_t GetWriteResult(uint32_t* written) override;
    void Close() override;

private:
    enum class Line { kUp, kHungUp, kReported };

    uint32_t Closed() const { return Fail(ERROR_INVALID_HANDLE); }
    // Folds new counter deltas into m_pendingErrors; returns the new bits.
    uint32_t UpdateErrorsLocked();
    uint32_t ModemStatusLocked(uint32_t* status);
    void NoteHangUpLocked();
    uint32_t ContinueWrite(uint32_t* written);
    void ModemLoop();

    uint32_t QueuedBytes(uint32_t* bytes) override;
    uint64_t CharacterNs() override { return m_characterNs.load(std::memory_order_relaxed); }

    int m_fd;  // -1 after Close; Close runs only when no other call is inside

    std::mutex m_mutex;  // guards every field below up to the write state
    uint32_t m_mask = 0;
    uint32_t m_pendingEvents = 0;  // EV_ bits posted by the helper threads
    uint32_t m_pendingErrors = 0;  // CE_ bits not yet taken by ClearCommError
    serial_icounter_struct m_count{};
    bool m_hasCounters = false;
    bool m_hasModemLines = false;
    uint32_t m_modemStatus = 0;  // last MS_ bits seen by the modem helper
    Line m_line = Line::kUp;
    uint32_t m_inQueue = 4096, m_outQueue = 4096;
    DCB m_dcb;  // the fields termios cannot hold, as last set
    std::atomic<bool> m_rxArmed{true};  // report EV_RXCHAR again only after a read
    std::atomic<uint64_t> m_characterNs{0};  // as last set

    // Write state: I/O thread only.
    const uint8_t* m_writeData = nullptr;
    uint32_t m_writeLength = 0;
    uint32_t m_writeDone = 0;

    Event m_commEvent{Event::kManualReset};  // set while helper bits or a hang-up wait
    Event m_stop{Event::kManualReset};
    Event m_modemEnded{Event::kManualReset};
    TransmitPacer m_pacer;
    std::thread m_modemThread;
};

uint32_t LinuxSerialPort::Start() {
    if (!m_commEvent.IsValid() || !m_stop.IsValid() || !m_modemEnded.IsValid())
        return Fail(ERROR_NO_SYSTEM_RESOURCES);
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_hasCounters = ::ioctl(m_fd, TIOCGICOUNT, &m_count) == 0;
        int lines = 0;
        m_hasModemLines = ::ioctl(m_fd, TIOCMGET, &lines) == 0;
        if (m_hasModemLines) ModemStatusLocked(&m_modemStatus);
        termios tio;
        if (::tcgetattr(m_fd, &tio) == 0 && RateOf(cfgetospeed(&tio)) != 0) {
            const uint32_t dataBits = (tio.c_cflag & CSIZE) == CS5 ? 5 : (tio.c_cflag & CSIZE) == CS6 ? 6
                                    : (tio.c_cflag & CSIZE) == CS7 ? 7 : 8;
            const uint32_t bits = 1 + dataBits + ((tio.c_cflag & PARENB) ? 1 : 0) + ((tio.c_cflag & CSTOPB) ? 2 : 1);
            m_characterNs.store(uint64_t{bits} * 1000000000u / RateOf(cfgetospeed(&tio)), std::memory_order_relaxed);
        }
        m_dcb.fBinary = 1;
        m_dcb.fTXContinueOnXoff = 1;
        m_dcb.XonLim = 2048;
        m_dcb.XoffLim = 512;
    }
    if (const uint32_t rc = m_pacer.Start()) return rc;
    try {
        if (m_hasModemLines) {
            InstallWakeHandler();
            m_modemThread = std::thread([this] { ModemLoop(); });
        } else {
            m_modemEnded.Set();
        }
    } catch (const std::system_error& e) {
        return Fail(ErrorFromErrno(e.code().value()));
    }
    return 0;
}

void LinuxSerialPort::Close() {
    if (m_fd < 0) return;
    m_stop.Set();
    m_pacer.Stop();
    // Bytes the line holds back (CTS low) would keep close() waiting for
    // them for the driver's closing wait, up to half a minute: they get the
    // time a moving line needs for them, then go.
    uint32_t queued = 0;
    if (QueuedBytes(&queued) == 0 && queued > 0) {
        const uint64_t ns = std::min<uint64_t>(uint64_t{queued} * CharacterNs(), 500000000u) + 20000000u;
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
        ::tcflush(m_fd, TCOFLUSH);
    }
    // TIOCMIWAIT returns only on a line change or a signal.
    if (m_modemThread.joinable()) {
        while (WaitFor(m_modemEnded, 20) != 0) ::pthread_kill(m_modemThread.native_handle(), WakeSignal());
        m_modemThread.join();
    }
    // The exclusive mode belongs to the terminal, not to this descriptor: on
    // a pseudo-terminal it would outlive us and lock out the next opener.
    ::ioctl(m_fd, TIOCNXCL);
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

uint32_t LinuxSerialPort::QueuedBytes(uint32_t* bytes) {
    *bytes = 0;
    int out = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &out) != 0) return SetLastErrorFromErrno();
    *bytes = static_cast<uint32_t>(out < 0 ? 0 : out);
    return 0;
}

void LinuxSerialPort::ModemLoop() {
    while (!m_stop.TryAcquire()) {
        // Sleeps until a modem line changes; the close wakes it by signal.
        const int rc = ::ioctl(m_fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG);
        if (rc != 0 && errno != EINTR) break;  // not supported, or the device went away
        if (rc != 0) continue;
        std::lock_guard<std::mutex> guard(m_mutex);
        uint32_t now = 0;
        if (ModemStatusLocked(&now) != 0) break;
        const uint32_t changed = now ^ m_modemStatus;
        m_modemStatus = now;
        uint32_t events = 0;
        if (changed & MS_CTS_ON) events |= EV_CTS;
        if (changed & MS_DSR_ON) events |= EV_DSR;
        if (changed & MS_RLSD_ON) events |= EV_RLSD;
        if (changed & MS_RING_ON) events |= EV_RING;
        // A ring pulse can come and go before we look.
        if (events == 0) events = EV_RING;
        m_pendingEvents |= events;
        m_commEvent.Set();
        if (events & EV_CTS) m_pacer.LineChanged();
    }
    m_modemEnded.Set();
}

uint32_t LinuxSerialPort::ModemStatusLocked(uint32_t* status) {
    *status = 0;
    if (!m_hasModemLines) return 0;
    int lines = 0;
    if (::ioctl(m_fd, TIOCMGET, &lines) != 0) {
        if (IsUnsupported(errno)) return 0;
        return SetLastErrorFromErrno();
    }
    if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
    if (lines & TIOCM_RNG) *status |= MS_RING_ON;
    if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
    return 0;
}

uint32_t LinuxSerialPort::UpdateErrorsLocked() {
    if (!m_hasCounters) return 0;
    serial_icounter_struct now{};
    if (::ioctl(m_fd, TIOCGICOUNT, &now) != 0) return 0;
    uint32_t bits = 0;
    if (now.overrun != m_count.overrun) bits |= CE_OVERRUN;
    if (now.parity != m_count.parity) bits |= CE_RXPARITY;
    if (now.frame != m_count.frame) bits |= CE_FRAME;
    if (now.brk != m_count.brk) bits |= CE_BREAK;
    if (now.buf_overrun != m_count.buf_overrun) bits |= CE_RXOVER;
    m_count = now;
    m_pendingErrors |= bits;
    return bits;
}

void LinuxSerialPort::NoteHangUpLocked() {
    if (m_line != Line::kUp) return;
    m_line = Line::kHungUp;
    m_pendingErrors |= CE_IOE;
    // The comm wait stops watching the descriptor now; wake it so that the
    // lost device is reported whoever noticed it first.
    m_pendingEvents |= EV_ERR;
    m_commEvent.Set();
}

uint32_t LinuxSerialPort::GetCommProperties(COMMPROP* properties) {
    if (m_fd < 0) return Closed();
    std::lock_guard<std::mutex> guard(m_mutex);
    *properties = COMMPROP{};
    properties->wPacketLength = sizeof(COMMPROP);
    properties->dwMaxTxQueue = 4096;  // the tty layer's buffers
    properties->dwMaxRxQueue = 4096;
    properties->dwMaxBaud = 4000000;
    properties->dwCurrentTxQueue = m_outQueue;
    properties->dwCurrentRxQueue = m_inQueue;
    return 0;
}

uint32_t LinuxSerialPort::GetCommState(DCB* dcb) {
    if (m_fd < 0) return Closed();
    termios tio;
    if (::tcgetattr(m_fd, &tio) != 0) return SetLastErrorFromErrno();
    std::lock_guard<std::mutex> guard(m_mutex);
    *dcb = m_dcb;
    dcb->DCBlength = sizeof(DCB);
    dcb->fBinary = 1;
    dcb->BaudRate = RateOf(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
        case CS5: dcb->ByteSize = 5; break;
        case CS6: dcb->ByteSize = 6; break;
        case CS7: dcb->ByteSize = 7; break;
        default: dcb->ByteSize = 8; break;
    }
    if (!(tio.c_cflag & PARENB)) {
        dcb->Parity = NOPARITY;
    } else if (tio.c_cflag & CMSPAR) {
        dcb->Parity = (tio.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    } else {
        dcb->Parity = (tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    }
    dcb->fParity = (tio.c_iflag & INPCK) ? 1 : 0;
    dcb->StopBits = (tio.c_cflag & CSTOPB) ? (dcb->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS) : ONESTOPBIT;
    const bool rtscts = (tio.c_cflag & CRTSCTS) != 0;
    dcb->fOutxCtsFlow = rtscts ? 1 : 0;
    if (rtscts) dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
    else if (dcb->fRtsControl == RTS_CONTROL_HANDSHAKE) dcb->fRtsControl = RTS_CONTROL_ENABLE;
    dcb->fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    dcb->fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    dcb->XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb->XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return 0;
}

uint32_t LinuxSerialPort::SetCommState(const DCB& dcb) {
    if (m_fd < 0) return Closed();
    termios tio;
    if (::tcgetattr(m_fd, &tio) != 0) return SetLastErrorFromErrno();
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when empty, 0 only on hang-up
    tio.c_cc[VTIME] = 0;
    speed_t speed;
    if (!SpeedOf(dcb.BaudRate, &speed)) return Fail(ERROR_INVALID_PARAMETER);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    tio.c_cflag &= ~CSIZE;
    switch (dcb.ByteSize) {
        case 5: tio.c_cflag |= CS5; break;
        case 6: tio.c_cflag |= CS6; break;
        case 7: tio.c_cflag |= CS7; break;
        case 8: tio.c_cflag |= CS8; break;
        default: return Fail(ERROR_INVALID_PARAMETER);
    }
    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (dcb.Parity) {
        case NOPARITY: break;
        case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
        case EVENPARITY: tio.c_cflag |= PARENB; break;
        case MARKPARITY: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case SPACEPARITY: tio.c_cflag |= PARENB | CMSPAR; break;
        default: return Fail(ERROR_INVALID_PARAMETER);
    }
    if (dcb.fParity && dcb.Parity != NOPARITY) tio.c_iflag |= INPCK;
    switch (dcb.StopBits) {
        case ONESTOPBIT: tio.c_cflag &= ~CSTOPB; break;
        case ONE5STOPBITS:
        case TWOSTOPBITS: tio.c_cflag |= CSTOPB; break;
        default: return Fail(ERROR_INVALID_PARAMETER);
    }
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;
    else tio.c_cflag &= ~CRTSCTS;
    if (dcb.fOutX) tio.c_iflag |= IXON;
    if (dcb.fInX) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) return SetLastErrorFromErrno();

    // The lines that are not under handshake follow their control setting;
    // a port without modem lines has nothing to set.
    int set = 0, clear = 0;
    if (dcb.fDtrControl == DTR_CONTROL_DISABLE) clear |= TIOCM_DTR;
    else set |= TIOCM_DTR;  // Linux has no DTR handshake: the line stays up
    if (dcb.fRtsControl == RTS_CONTROL_DISABLE) clear |= TIOCM_RTS;
    else if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE) set |= TIOCM_RTS;
    if (set && ::ioctl(m_fd, TIOCMBIS, &set) != 0 && !IsUnsupported(errno)) return SetLastErrorFromErrno();
    if (clear && ::ioctl(m_fd, TIOCMBIC, &clear) != 0 && !IsUnsupported(errno))
        return SetLastErrorFromErrno();

    // Start bit, data bits, parity, stop bits (one and a half count as two,
    // as CSTOPB sends them).
    const uint32_t bits = 1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) + (dcb.StopBits == ONESTOPBIT ? 1 : 2);
    m_characterNs.store(uint64_t{bits} * 1000000000u / dcb.BaudRate, std::memory_order_relaxed);
    std::lock_guard<std::mutex> guard(m_mutex);
    m_dcb = dcb;
    return 0;
}

uint32_t LinuxSerialPort::SetupComm(uint32_t inQueue, uint32_t outQueue) {
    if (m_fd < 0) return Closed();
    // The tty layer's buffers have a fixed size; the wish is kept so that
    // the properties report it.
    std::lock_guard<std::mutex> guard(m_mutex);
    m_inQueue = inQueue;
    m_outQueue = outQueue;
    return 0;
}

uint32_t LinuxSerialPort::SetCommTimeouts(const COMMTIMEOUTS&) {
    // Reads always return at once with what has arrived and writes never
    // time out, which is the one setting this program uses.
    return m_fd < 0 ? Closed() : 0;
}

uint32_t LinuxSerialPort::SetCommMask(uint32_t mask) {
    if (m_fd < 0) return Closed();
    std::lock_guard<std::mutex> guard(m_mutex);
    m_mask = mask;
    return 0;
}

uint32_t LinuxSerialPort::PurgeComm(uint32_t flags) {
    if (m_fd < 0) return Closed();
    const bool rx = flags & (PURGE_RXABORT | PURGE_RXCLEAR);
    const bool tx = flags & (PURGE_TXABORT | PURGE_TXCLEAR);
    if (!rx && !tx) return 0;
    if (::tcflush(m_fd, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) != 0) {
        if (errno == EIO) {  // hung up: nothing left to discard
            std::lock_guard<std::mutex> guard(m_mutex);
            NoteHangUpLocked();
            return 0;
        }
        return SetLastErrorFromErrno();
    }
    if (rx) m_rxArmed.store(true, std::memory_order_release);
    return 0;
}

uint32_t LinuxSerialPort::ClearCommError(uint32_t* errors, COMSTAT* status) {
    if (m_fd < 0) return Closed();
    std::lock_guard<std::mutex> guard(m_mutex);
    UpdateErrorsLocked();
    int in = 0, out = 0;
    if (::ioctl(m_fd, FIONREAD, &in) != 0 || ::ioctl(m_fd, TIOCOUTQ, &out) != 0) {
        if (errno != EIO) return SetLastErrorFromErrno();
        NoteHangUpLocked();
        in = out = 0;
    }
    if (errors) {
        *errors = m_pendingErrors;
        if ((m_pendingErrors & CE_IOE) && m_line == Line::kHungUp) {
            // Reported: the next comm wait ends with the device error.
            m_line = Line::kReported;
            m_commEvent.Set();
        }
        m_pendingErrors = 0;
    }
    if (status) {
        *status = COMSTAT{};
        status->cbInQue = static_cast<uint32_t>(in < 0 ? 0 : in);
        status->cbOutQue = static_cast<uint32_t>(out < 0 ? 0 : out);
        if (out > 0 && (m_dcb.fOutxCtsFlow || m_dcb.fRtsControl == RTS_CONTROL_HANDSHAKE)) {
            uint32_t modem = 0;
            if (m_hasModemLines && ModemStatusLocked(&modem) == 0 && !(modem & MS_CTS_ON))
                status->fCtsHold = 1;
        }
    }
    return 0;
}

uint32_t LinuxSerialPort::GetCommModemStatus(uint32_t* status) {
    if (m_fd < 0) return Closed();
    std::lock_guard<std::mutex> guard(m_mutex);
    return ModemStatusLocked(status);
}

uint32_t LinuxSerialPort::WaitCommEvent(uint32_t* mask) {
    if (m_fd < 0) return Closed();
    *mask = 0;
    return Fail(ERROR_IO_PENDING);
}

void LinuxSerialPort::GetCommWaitables(Waitable* items) {
    std::lock_guard<std::mutex> guard(m_mutex);
    // After a hang-up the descriptor stays ready for good; watching it
    // would only spin.
    if (m_fd >= 0 && m_line == Line::kUp) {
        const bool rx = (m_mask & EV_RXCHAR) && m_rxArmed.load(std::memory_order_acquire);
        items[0] = DescriptorWaitable(m_fd, rx ? POLLIN : 0);  // POLLHUP comes regardless
    } else {
        items[0] = DescriptorWaitable(-1, 0);
    }
    items[1] = Waitable::Of(m_commEvent);
}

uint32_t LinuxSerialPort::GetCommEventResult(uint32_t* mask) {
    *mask = 0;
    if (m_fd < 0) return Closed();
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_line == Line::kReported) return Fail(ERROR_IO_DEVICE);
    uint32_t events = 0;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            if (m_line == Line::kUp) events |= EV_ERR;
            NoteHangUpLocked();
        } else if ((p.revents & POLLIN) && m_rxArmed.exchange(false, std::memory_order_acq_rel)) {
            events |= EV_RXCHAR;
        }
    }
    const uint32_t errors = UpdateErrorsLocked();
    if (errors & CE_BREAK) events |= EV_BREAK;
    if (errors & ~CE_BREAK) events |= EV_ERR;
    events |= m_pendingEvents;
    m_pendingEvents = 0;
    m_commEvent.Reset();
    *mask = events & m_mask;
    return 0;
}

uint32_t LinuxSerialPort::Read(void* buffer, uint32_t length, uint32_t* read) {
    *read = 0;
    if (m_fd < 0) return Closed();
    m_rxArmed.store(true, std::memory_order_release);
    if (length == 0) return 0;
    const ssize_t n = ::read(m_fd, buffer, length);
    if (n > 0) {
        *read = static_cast<uint32_t>(n);
        return 0;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    if (n == 0) {
        std::lock_guard<std::mutex> guard(m_mutex);
        NoteHangUpLocked();
        return Fail(ERROR_HANDLE_EOF);
    }
    return SetLastErrorFromErrno();
}

uint32_t LinuxSerialPort::ContinueWrite(uint32_t* written) {
    while (m_writeDone < m_writeLength) {
        const ssize_t n = ::write(m_fd, m_writeData + m_writeDone, m_writeLength - m_writeDone);
        if (n > 0) {
            m_writeDone += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            *written = m_writeDone;
            return Fail(ERROR_IO_PENDING);
        }
        *written = m_writeDone;
        m_writeData = nullptr;
        return n < 0 ? SetLastErrorFromErrno() : Fail(ERROR_WRITE_FAULT);
    }
    *written = m_writeDone;
    m_writeData = nullptr;
    // Transmit empty follows when the line has really sent the bytes.
    if (m_writeDone > 0) m_pacer.Written();
    return 0;
}

uint32_t LinuxSerialPort::Write(const void* data, uint32_t length, uint32_t* written) {
    *written = 0;
    if (m_fd < 0) return Closed();
    m_writeData = static_cast<const uint8_t*>(data);
    m_writeLength = length;
    m_writeDone = 0;
    return ContinueWrite(written);
}

Waitable LinuxSerialPort::GetWriteWaitable() {
    return DescriptorWaitable(m_writeData ? m_fd : -1, POLLOUT);
}

uint32_t LinuxSerialPort::GetWriteResult(uint32_t* written) {
    *written = 0;
    if (m_fd < 0) return Closed();
    if (m_writeData == nullptr) return 0;
    return ContinueWrite(written);
}

}  // namespace

uint32_t OpenSerialPort(const std::string& comName, std::unique_ptr<ISerialPort>* port) {
    port->reset();
    const std::string device = ResolveComName(comName);
    if (device.empty()) return Fail(ERROR_FILE_NOT_FOUND);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return SetLastErrorFromErrno();
    termios tio;
    if (::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // Exclusive like a Windows port: the flock stops every second opener
    // (root included), TIOCEXCL also openers that do not lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return Fail(err == EWOULDBLOCK ? ERROR_ACCESS_DENIED : ErrorFromErrno(err));
    }
    ::ioctl(fd, TIOCEXCL);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const uint32_t rc = SetLastErrorFromErrno();
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return rc;
    }
    auto linuxPort = std::make_unique<LinuxSerialPort>(fd);
    if (const uint32_t rc = linuxPort->Start()) return rc;  // the destructor closes
    *port = std::move(linuxPort);
    return 0;
}

}  // namespace platform
