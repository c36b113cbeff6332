// Serial ports: open by COM name, settings, queues, line errors, modem
// lines and comm events, with the numbers and bits the program has always
// used (DCB, COMSTAT, CE_, EV_, MS_, PURGE_).
//
// ISerialPort is the seam between the I/O thread and the port: the Linux
// port (SerialPort, on termios and the tty ioctls; the only code that
// includes <termios.h>) and the fake ports of the tests implement it.
//
// Comm events work like an overlapped wait: WaitCommEvent either returns
// the pending event bits at once or ERROR_IO_PENDING; the caller then adds
// the waitables of GetCommWaitables to its own wait and, when one of them
// fires, collects the bits with GetCommEventResult. Writes work alike: Write
// either finishes at once or returns ERROR_IO_PENDING, and GetWriteResult
// goes on once GetWriteWaitable fires. Reads never wait: they return what
// has been received (possibly nothing).
//
// Threads: one I/O thread calls the comm-event, read and write operations.
// PurgeComm, ClearCommError, SetCommState, SetupComm, GetCommProperties and
// GetCommModemStatus may also be called from other threads. Close from any
// thread that is not inside another call of the same port; after Close every
// operation fails with ERROR_INVALID_HANDLE.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/Event.h"
#include "platform/Win32Types.h"

namespace platform {

// Every operation returns 0 or an error number (SysError.h).
class ISerialPort {
public:
    // How many waitables GetCommWaitables fills.
    static constexpr size_t kCommWaitables = 2;

    virtual ~ISerialPort() = default;

    // Settings and state.
    virtual uint32_t GetCommProperties(COMMPROP* properties) = 0;
    virtual uint32_t GetCommState(DCB* dcb) = 0;
    virtual uint32_t SetCommState(const DCB& dcb) = 0;
    virtual uint32_t SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
    virtual uint32_t SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
    virtual uint32_t SetCommMask(uint32_t mask) = 0;
    virtual uint32_t PurgeComm(uint32_t flags) = 0;
    // The CE_ bits gathered since the last call (then cleared) and the
    // queue counts. Either may be null; with a null `errors` the bits stay
    // pending for the next caller.
    virtual uint32_t ClearCommError(uint32_t* errors, COMSTAT* status) = 0;
    // MS_ bits; 0 for a port without modem lines.
    virtual uint32_t GetCommModemStatus(uint32_t* status) = 0;

    // Comm events (I/O thread only).
    virtual uint32_t WaitCommEvent(uint32_t* mask) = 0;
    virtual void GetCommWaitables(Waitable* items) = 0;  // fills kCommWaitables entries
    // 0 with the event bits (possibly 0: nothing for the mask), or the error
    // that ended the wait (a vanished device).
    virtual uint32_t GetCommEventResult(uint32_t* mask) = 0;

    // I/O (I/O thread only). Read returns at once with what has arrived.
    virtual uint32_t Read(void* buffer, uint32_t length, uint32_t* read) = 0;
    // 0 when every byte went out (`*written` = length), ERROR_IO_PENDING
    // when the rest follows; `data` must stay valid until the write ends.
    virtual uint32_t Write(const void* data, uint32_t length, uint32_t* written) = 0;
    virtual Waitable GetWriteWaitable() = 0;
    // After the write waitable fired: 0 and the total written once the write
    // has ended, ERROR_IO_PENDING while bytes remain, or an error.
    virtual uint32_t GetWriteResult(uint32_t* written) = 0;

    virtual void Close() = 0;
};

// The kernel's side of a port's transmit path, as the transmit-empty pacing
// sees it. The Linux port answers from the tty (TIOCOUTQ); a model of a
// line for tests and benchmarks answers the same questions.
class ITransmitQueue {
public:
    virtual ~ITransmitQueue() = default;
    // Bytes written and not yet taken by the transmitter (TIOCOUTQ: the
    // UART's FIFO or a converter chip's buffer is not counted): 0, or the
    // error of the look.
    virtual uint32_t QueuedBytes(uint32_t* bytes) = 0;
    // Nanoseconds one character takes on the line at the current settings.
    virtual uint64_t CharacterNs() = 0;
};

// Raises transmit-empty (through `notify`, on the pacer's own thread) once
// the bytes of a finished write have gone far enough down the line that
// the next write arrives before the line runs idle: when the queue holds
// no more than the line sends in kLeadNs, and never more than a FIFO's
// worth less. It looks at the queue at times computed from the character
// time, on a timer of its own; a queue that does not move (CTS holds the
// line) is looked at less and less often, and at once when a modem line
// changes. Nothing queued, nothing looked at.
// Threads: Start and Stop on the port's owner; Written on the I/O thread;
// LineChanged from any thread. Stop is idempotent and must come before the
// queue goes away.
class TransmitPacer {
public:
    // What may still be queued when transmit-empty comes: the time the
    // next write has to arrive in. The way from here to that write crosses
    // two threads of normal priority, which a busy machine can hold back
    // for well over 10 ms. 30 ms are 4 chunks at 115200 baud: little to
    // throw away on a purge, and far from the 4 KiB the queue holds.
    static constexpr uint64_t kLeadNs = 30000000;
    // At least a 16550's FIFO, which the queue does not count.
    static constexpr uint32_t kMinLowWater = 16;

    using Notify = std::function<void()>;
    TransmitPacer(ITransmitQueue& queue, Notify notify);
    ~TransmitPacer();
    TransmitPacer(const TransmitPacer&) = delete;
    TransmitPacer& operator=(const TransmitPacer&) = delete;

    uint32_t Start();
    // A write has put its last byte into the queue.
    void Written();
    // A modem line changed: a line held back by CTS may move again.
    void LineChanged();
    void Stop();

private:
    void Loop();
    bool Arm(uint64_t ns);
    // The queue's character time; an assumed one while the speed is unknown.
    uint64_t CharacterNs() const;
    // What may be queued when transmit-empty comes (kLeadNs, kMinLowWater).
    static uint32_t LowWater(uint64_t characterNs);

    ITransmitQueue& m_queue;
    Notify m_notify;
    Event m_request{Event::kAutoReset};
    Event m_lineChanged{Event::kAutoReset};
    Event m_stop{Event::kManualReset};
    int m_timer = -1;  // timerfd
    std::thread m_thread;
};

// Opens a serial port by COM name ("COM7": its alias first, else the
// Linux name by convention), exclusively: a port another program (or this
// one) holds fails with ERROR_ACCESS_DENIED. The port starts in raw mode.
// Errors: ERROR_FILE_NOT_FOUND for a name that is no COM name or no device,
// ERROR_INVALID_PARAMETER for a device that is not a serial port, else the
// mapped errno.
uint32_t OpenSerialPort(const std::string& comName, std::unique_ptr<ISerialPort>* port);

}  // namespace platform
