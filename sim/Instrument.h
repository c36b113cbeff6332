// The simulated KORVA instrument, free of any I/O.
//
// Bytes that reach it from the line are fed in with the time at which they
// were read; it consumes them at the emulated line rate, answers in SCPI or
// in its debug monitor, and queues its reply bytes each with the time at
// which it has left the instrument's UART. Whoever carries the bytes (a
// pseudo-terminal, the simulated USB library, a test) only moves bytes and
// tells the time, so every host shows the same behaviour.
//
// States:
//   kScpi        normal operation: SCPI messages ended by LF (a CR after
//                the LF is skipped), replies ended by LF CR
//   kMonitor     debug monitor: commands ended by CR (a ";" before it is
//                dropped), replies ended by CR LF, prompt "MonDeb>"
//   kLoading     the monitor takes the announced number of bytes into RAM
//   kBusy        the monitor programs the FLASH; input is lost
//   kRestarting  silent until the restart time has passed, then boots
//   kSilent      never answers again (fault)
//   kVanished    hung up (fault): the host closes its end
//
// Time is in nanoseconds on the host's monotonic clock; it never goes back.
// Files: Instrument.cpp (bytes, timers, boot), InstrumentScpi.cpp (the SCPI
// command table), InstrumentMonitor.cpp (the debug monitor).
// Thread: not thread-safe; one host thread owns an instrument.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimConfig.h"

namespace sim {

inline constexpr uint64_t kNever = UINT64_MAX;
inline constexpr uint32_t kRamBase = 0x0C000000;
inline constexpr uint32_t kRamSize = 0x00400000;    // 4 MiB
inline constexpr uint32_t kFlashSize = 0x00200000;  // 2 MiB, from address 0
inline constexpr size_t kInputCapacity = 4096;      // bytes not yet consumed
inline constexpr size_t kMaxScpiMessage = 512;
inline constexpr size_t kMaxMonitorLine = 128;
inline constexpr size_t kMaxErrorQueue = 10;

class CInstrument {
public:
    enum class State { kScpi, kMonitor, kLoading, kBusy, kRestarting, kSilent, kVanished };

    struct Counters {
        unsigned identifications = 0;
        unsigned resets = 0;
        unsigned clears = 0;
        unsigned settingsQueries = 0;
        unsigned settingsWrites = 0;
        unsigned autoSaves = 0;
        unsigned factoryStores = 0;
        unsigned presets = 0;
        unsigned errorClears = 0;
        unsigned calibrations = 0;
        unsigned loads = 0;
        unsigned checksums = 0;
        unsigned flashPrograms = 0;
        unsigned restarts = 0;
        uint64_t bytesLost = 0;  // input that arrived while the instrument could not listen
    };

    explicit CInstrument(Config config);

    // Takes bytes read from the line at `nowNs`; takes at most InputSpace()
    // bytes and returns how many it took.
    size_t Receive(const uint8_t* data, size_t size, uint64_t nowNs);
    size_t InputSpace() const { return kInputCapacity - m_input.size(); }
    size_t InputBacklog() const { return m_input.size(); }
    // Runs everything that is due by `nowNs`.
    void Advance(uint64_t nowNs);
    // Moves up to `size` reply bytes that have left the UART by `nowNs`.
    size_t ReadOutput(uint8_t* out, size_t size, uint64_t nowNs);
    // The earliest time at which input is to be consumed or a timer runs
    // out, or kNever.
    uint64_t NextEventNs() const;
    // The earliest time at which an output byte is due (or more endless
    // output is to be made), or kNever.
    uint64_t NextOutputNs() const;
    uint64_t NextDueNs() const { return std::min(NextEventNs(), NextOutputNs()); }
    size_t PendingOutput() const { return m_output.size(); }

    State GetState() const { return m_state; }
    bool IsHungUp() const { return m_state == State::kVanished; }
    // Identity of the firmware it runs now.
    const Identity& RunningIdentity() const { return m_identity; }
    const Counters& GetCounters() const { return m_counters; }
    const std::vector<std::pair<std::string, std::string>>& Settings() const { return m_settings; }
    size_t ErrorCount() const { return m_errors.size(); }
    // Memory images for checks; empty until first used.
    const std::vector<uint8_t>& Ram() const { return m_ram; }
    const std::vector<uint8_t>& Flash() const { return m_flash; }
    // The monitor's checksum: byte count plus byte sum over [first, last].
    // False for a range outside RAM and FLASH.
    bool Checksum(uint32_t first, uint32_t last, uint32_t& sum) const;

    // Short texts about what happens ("entered the monitor", "booted ...").
    // Called on the owner's thread from inside Advance.
    void SetNoticeHandler(std::function<void(const std::string&)> handler) { m_notice = std::move(handler); }

    static const char* StateName(State state);

private:
    enum class TimerKind { kIRamReady, kFlashDone, kFlashVanish, kRestartDone, kCalibrationDone, kLoadTimeout };
    struct Timer {
        uint64_t dueNs;
        TimerKind kind;
    };
    struct OutByte {
        uint8_t byte;
        uint64_t dueNs;
    };
    struct InByte {
        uint8_t byte;
        uint64_t dueNs;
    };

    void HandleByte(uint8_t b, uint64_t t);
    void HandleTimer(const Timer& timer, uint64_t t);
    void ScpiByte(uint8_t b, uint64_t t);
    void MonitorByte(uint8_t b, uint64_t t);
    void LoadByte(uint8_t b, uint64_t t);
    void ExecuteScpiMessage(const std::string& message, uint64_t t);
    // Returns false when the rest of the message is to be dropped.
    bool ExecuteScpiCommand(const std::string& command, bool& service, uint64_t t);
    // The SCPI commands it knows (InstrumentScpi.cpp), and their handlers.
    struct ScpiCall;
    struct ScpiCommand;
    static std::span<const ScpiCommand> ScpiCommands();
    bool ScpiIdentify(const ScpiCall& call);
    bool ScpiClearErrors(const ScpiCall& call);
    bool ScpiServiceMode(const ScpiCall& call);
    bool ScpiCalibrate(const ScpiCall& call);
    bool ScpiNextError(const ScpiCall& call);
    bool ScpiEnterMonitor(const ScpiCall& call);
    bool ScpiModules(const ScpiCall& call);
    bool ScpiSettings(const ScpiCall& call);
    bool ScpiAdjust(const ScpiCall& call);
    bool ScpiSerialNumber(const ScpiCall& call);
    bool ScpiFactoryStore(const ScpiCall& call);
    void ExecuteMonitorLine(const std::string& line, uint64_t t);
    void MonitorLoad(const std::vector<uint32_t>& args, uint64_t t);
    void MonitorChecksum(const std::vector<uint32_t>& args, uint64_t t);
    void MonitorCopy(const std::vector<uint32_t>& args, uint64_t t);
    void MonitorRestart(uint64_t t);
    void Boot(uint64_t t);
    void ProgramFlash(uint32_t length);
    void Vanish(const char* why);

    void Emit(const std::string& text, uint64_t t);
    void EmitScpi(const std::string& text, uint64_t t) { Emit(text + "\n\r", t); }
    void EmitMonitor(const std::string& text, uint64_t t) { Emit(text + "\r\n", t); }
    void Prompt(uint64_t t) { Emit("MonDeb>", t); }
    void RefillEndless(uint64_t t);
    void PushError(int code, const std::string& text);
    void AddTimer(TimerKind kind, uint64_t dueNs);
    void CancelTimers(TimerKind kind);
    void Notice(const std::string& text);
    double MonitorVersionNumber() const;
    uint32_t ApplicationStart() const;
    std::string IdnReply() const;
    std::string ModuleBlock() const;
    std::string GarbageLine();

    Config m_config;
    Identity m_identity;     // what it reports now
    Identity m_oldIdentity;  // what it reported before its last boot
    std::vector<std::pair<std::string, std::string>> m_settings;
    std::string m_monitorVersion;
    uint64_t m_charNs;
    State m_state = State::kScpi;

    std::deque<InByte> m_input;
    uint64_t m_rxEndNs = 0;
    std::deque<OutByte> m_output;
    uint64_t m_txEndNs = 0;
    std::vector<Timer> m_timers;

    std::string m_line;
    bool m_lineOverflow = false;
    bool m_skipCr = false;
    std::deque<std::pair<int, std::string>> m_errors;

    std::vector<uint8_t> m_ram;
    std::vector<uint8_t> m_flash;
    bool m_flashProgrammed = false;
    uint32_t m_loadAddress = 0;
    uint32_t m_loadLength = 0;
    uint32_t m_loadPosition = 0;
    uint64_t m_imageOffset = 0;  // bytes of the current load seen on the line
    uint64_t m_lastLoadNs = 0;
    bool m_imageFaultUsed = false;
    bool m_checksumFaultUsed = false;
    int m_rsAnswersLeft = 0;
    int m_calibrationFailuresLeft = 0;
    bool m_bannerPending = false;  // IdnNoise::kAfterRestart, armed by a boot
    uint32_t m_copySource = 0, m_copyLength = 0, m_copyDest = 0;

    EndlessFault m_endless = EndlessFault::kNone;
    uint64_t m_endlessCounter = 0;
    uint32_t m_random = 0x2545F491;

    Counters m_counters;
    std::function<void(const std::string&)> m_notice;
};

}  // namespace sim
