// A model of a real serial line behind the port seam, for tests and
// benchmarks: what a pseudo-terminal cannot show.
//
// Two kinds of hardware:
// - UART (8250/16550): the kernel's output queue (4 KiB) feeds a 16-byte
//   FIFO; the driver refills the FIFO only when it has run empty (the
//   transmit-holding interrupt), 16 bytes at a time, and not while CTS
//   holds the line.
// - USB serial converter: the queue feeds the chip's own transmit buffer
//   whenever it has room; the chip honours CTS.
// Both: TIOCOUTQ is the queue (not the FIFO or chip), writes take what
// fits into the queue, POLLOUT comes below 256 queued bytes, the line sends
// one character per character time of the settings, without gaps while it
// has bytes and CTS allows.
//
// Time is the host's monotonic clock; the model advances lazily whenever
// it is looked at, and its own thread wakes only for what it must deliver
// (room to write, bytes to the far end, the far end's replies).
//
// Threads: the port's operations as ISerialPort allows; the test side from
// any thread. The peer is called on the model's thread without its lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/SerialPort.h"

namespace linemodel {

struct LineConfig {
    enum class Kind { kUart, kUsbSerial };
    Kind kind = Kind::kUart;
    uint32_t kernelQueue = 4096;
    uint32_t transmitter = 16;  // the UART's FIFO, or the chip's transmit buffer
    uint32_t wakeChars = 256;   // POLLOUT below this many queued bytes
    uint64_t characterNs = 0;  // 0: from the settings; tests may run a faster line

    static LineConfig Uart() { return LineConfig{}; }
    static LineConfig UsbSerial() {
        LineConfig c;
        c.kind = Kind::kUsbSerial;
        c.transmitter = 128;
        return c;
    }
};

// The far end of the line (an instrument).
class ILinePeer {
public:
    virtual ~ILinePeer() = default;
    // `arrived` left the line back to back, the first one's start bit at
    // `fromNs` (may be empty); it is `nowNs`. Appends what the peer sends
    // back to `reply`; returns when it next wants to be called (UINT64_MAX:
    // only when bytes arrive).
    virtual uint64_t Exchange(const std::string& arrived, uint64_t fromNs, uint64_t nowNs, std::string* reply) = 0;
    // A peer that hung up (a vanished device): the port reports a device
    // error once, as a pulled adapter does.
    virtual bool HungUp() { return false; }
};

class ModelPort : public platform::ISerialPort, public platform::ITransmitQueue {
public:
    explicit ModelPort(LineConfig config, ILinePeer* peer = nullptr);
    ~ModelPort() override;
    ModelPort(const ModelPort&) = delete;
    ModelPort& operator=(const ModelPort&) = delete;

    // Test side (any thread).
    void SetCts(bool on);
    // Line errors, reported as EV_ERR once `sent` characters have left the
    // line (at once if they have), by the line itself: a test thread held
    // back on a loaded machine would meet a later step.
    void InjectErrorsAt(uint64_t sent, uint32_t errors);
    std::string Arrived() const;         // what left the line (when no peer takes it)
    uint64_t Sent() const;               // how many characters left the line
    // How often the port's own side looked at the line: transmit-queue looks
    // and comm events handled.
    uint64_t Looks() const { return m_looks.load(); }
    static uint64_t NowNs();
    // Pauses of the line between writes shorter than a second, over all
    // model ports of the process: how often and how long in total.
    static void Pauses(uint64_t* count, uint64_t* totalNs);

    // ISerialPort
    uint32_t GetCommProperties(COMMPROP* properties) override;
    uint32_t GetCommState(DCB* dcb) override;
    uint32_t SetCommState(const DCB& dcb) override;
    uint32_t SetupComm(uint32_t, uint32_t) override { return 0; }
    uint32_t SetCommTimeouts(const COMMTIMEOUTS&) override { return 0; }
    uint32_t SetCommMask(uint32_t mask) override;
    uint32_t PurgeComm(uint32_t flags) override;
    uint32_t ClearCommError(uint32_t* errors, COMSTAT* status) override;
    uint32_t GetCommModemStatus(uint32_t* status) override;
    uint32_t WaitCommEvent(uint32_t* mask) override;
    void GetCommWaitables(platform::Waitable* items) override;
    uint32_t GetCommEventResult(uint32_t* mask) override;
    uint32_t Read(void* buffer, uint32_t length, uint32_t* read) override;
    uint32_t Write(const void* data, uint32_t length, uint32_t* written) override;
    platform::Waitable GetWriteWaitable() override;
    uint32_t GetWriteResult(uint32_t* written) override;
    void Close() override;

    // ITransmitQueue
    uint32_t QueuedBytes(uint32_t* bytes) override;
    uint64_t CharacterNs() override;

private:
    // The hardware's counts; the bytes themselves wait in m_pipeline.
    struct Line {
        uint32_t queue = 0;  // kernel output queue (TIOCOUTQ)
        uint32_t held = 0;   // FIFO or chip buffer, not yet shifting
        bool shifting = false;
        uint64_t shiftEndNs = 0;
        uint64_t sent = 0;  // characters that left the line
        uint64_t idleSinceNs = 0;  // when the line last ran out of bytes
    };

    void Refill(Line& line) const;
    void StartNext(Line& line, uint64_t t) const;
    // `firstNs`, if given, gets when the first character that left began.
    void AdvanceTo(Line& line, uint64_t nowNs, uint64_t* firstNs = nullptr) const;
    void AdvanceLocked(uint64_t nowNs);
    // When `done` first holds, if the line runs on undisturbed; UINT64_MAX
    // if never (CTS holds it).
    template <class Done>
    uint64_t WhenLocked(uint64_t nowNs, Done done) const;
    bool TransmitterEmpty(const Line& line) const { return line.held == 0 && !line.shifting; }
    void UpdateWritableLocked();
    // Line errors for the next ClearCommError, with EV_ERR.
    void RaiseErrorsLocked(uint32_t errors);
    uint32_t ContinueWriteLocked(uint32_t* written);
    void ClockLoop();

    const LineConfig m_config;
    ILinePeer* const m_peer;
    platform::TransmitPacer m_pacer;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Line m_line;
    std::string m_pipeline;  // written, not yet left the line (queue + transmitter)
    std::string m_arrived;   // left the line, not yet given to the peer
    uint64_t m_arrivedFromNs = 0;  // when the first of them began
    std::string m_arrivedAll;
    std::string m_input;
    bool m_cts = true;
    bool m_closed = false;
    bool m_hungUp = false;
    uint32_t m_mask = 0;
    uint32_t m_events = 0;
    uint32_t m_errors = 0;
    uint32_t m_errorsToInject = 0;
    uint64_t m_injectAtSent = 0;
    uint64_t m_characterNs = 0;
    uint64_t m_peerWantsNs = UINT64_MAX;
    DCB m_dcb;
    const uint8_t* m_writeData = nullptr;  // I/O thread
    uint32_t m_writeLength = 0;
    uint32_t m_writeDone = 0;
    platform::Event m_comm{platform::Event::kManualReset};
    platform::Event m_writable{platform::Event::kManualReset};
    std::atomic<uint64_t> m_looks{0};
    std::thread m_clock;
};

}  // namespace linemodel
