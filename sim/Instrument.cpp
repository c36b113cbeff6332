// The instrument's engine: bytes in and out at the line rate, the timers,
// and the boot after a restart. The SCPI side is in InstrumentScpi.cpp, the
// debug monitor in InstrumentMonitor.cpp.
#include "sim/Instrument.h"

#include <cstdlib>

#include "sim/FirmwareImage.h"
#include "sim/InstrumentText.h"

namespace sim {

namespace {

constexpr size_t kEndlessQueue = 256;  // endless output is made only this far ahead

}  // namespace

uint64_t Timing::CharTimeNs() const {
    if (fast || baud == 0) return 0;
    return (uint64_t(bitsPerChar) * 1000000000ull + baud / 2) / baud;
}

std::vector<BoardRecord> Config::DefaultBoards() {
    // Wire codes 0..9: YP, YF, MB, FC, AB, MC, IF, PS, CRT, TE.
    return {{0, 10}, {1, 3}, {2, 10}, {3, 5}, {4, 1}, {5, 1}, {6, 1}, {7, 0}, {8, 0}, {9, 0}};
}

std::vector<std::pair<std::string, std::string>> Config::DefaultSettings() {
    return {{"CH1:OFFS", "12"}, {"CH1:GAIN", "1.0021"}, {"CH2:OFFS", "-7"},
            {"CH2:GAIN", "0.9987"}, {"TRIG:LEV", "3"}};
}

namespace {
constexpr std::pair<Step, const char*> kStepNames[] = {
    {Step::kNone, "none"},         {Step::kIdentify, "identify"}, {Step::kModules, "modules"},
    {Step::kSettings, "settings"}, {Step::kMonitor, "monitor"},   {Step::kLoad, "load"},
    {Step::kChecksum, "checksum"}, {Step::kCopy, "copy"},         {Step::kRestart, "restart"},
    {Step::kCalibrate, "calibrate"},
};
}  // namespace

const char* StepName(Step step) {
    for (const auto& [s, name] : kStepNames)
        if (s == step) return name;
    return "?";
}

bool ParseStep(const std::string& name, Step& step) {
    for (const auto& [s, n] : kStepNames)
        if (name == n) {
            step = s;
            return true;
        }
    return false;
}

const char* CInstrument::StateName(State state) {
    switch (state) {
        case State::kScpi: return "SCPI";
        case State::kMonitor: return "monitor";
        case State::kLoading: return "loading";
        case State::kBusy: return "programming";
        case State::kRestarting: return "restarting";
        case State::kSilent: return "silent";
        case State::kVanished: return "vanished";
    }
    return "?";
}

CInstrument::CInstrument(Config config)
    : m_config(std::move(config)),
      m_identity(m_config.identity),
      m_oldIdentity(m_config.identity),
      m_settings(m_config.settings),
      m_monitorVersion(m_config.faults.oldMonitor ? "1.50" : m_config.monitorVersion),
      m_charNs(m_config.timing.CharTimeNs()),
      m_rsAnswersLeft(m_config.faults.answerRs),
      m_calibrationFailuresLeft(m_config.faults.failCalibrations) {}

size_t CInstrument::Receive(const uint8_t* data, size_t size, uint64_t nowNs) {
    if (m_state == State::kVanished) return size;  // nobody is listening any more
    const size_t n = std::min(size, InputSpace());
    for (size_t i = 0; i < n; ++i) {
        // A byte is in the instrument when its last stop bit has arrived;
        // bytes queue behind each other at the line rate.
        m_rxEndNs = std::max(m_rxEndNs, nowNs) + m_charNs;
        m_input.push_back({data[i], m_rxEndNs});
    }
    return n;
}

uint64_t CInstrument::NextEventNs() const {
    uint64_t next = m_input.empty() ? kNever : m_input.front().dueNs;
    for (const Timer& t : m_timers) next = std::min(next, t.dueNs);
    return next;
}

uint64_t CInstrument::NextOutputNs() const {
    if (m_endless != EndlessFault::kNone && m_state == State::kScpi && m_output.size() < kEndlessQueue) return 0;
    return m_output.empty() ? kNever : m_output.front().dueNs;
}

void CInstrument::Advance(uint64_t nowNs) {
    while (m_state != State::kVanished) {
        const uint64_t inputDue = m_input.empty() ? kNever : m_input.front().dueNs;
        size_t timerIndex = m_timers.size();
        uint64_t timerDue = kNever;
        for (size_t i = 0; i < m_timers.size(); ++i)
            if (m_timers[i].dueNs < timerDue) {
                timerDue = m_timers[i].dueNs;
                timerIndex = i;
            }
        const uint64_t next = std::min(inputDue, timerDue);
        if (next == kNever || next > nowNs) break;
        if (timerDue <= inputDue) {
            const Timer timer = m_timers[timerIndex];
            m_timers.erase(m_timers.begin() + static_cast<ptrdiff_t>(timerIndex));
            HandleTimer(timer, timer.dueNs);
        } else {
            const InByte in = m_input.front();
            m_input.pop_front();
            HandleByte(in.byte, in.dueNs);
        }
    }
    RefillEndless(nowNs);
}

size_t CInstrument::ReadOutput(uint8_t* out, size_t size, uint64_t nowNs) {
    size_t n = 0;
    while (n < size && !m_output.empty() && m_output.front().dueNs <= nowNs) {
        out[n++] = m_output.front().byte;
        m_output.pop_front();
    }
    return n;
}

void CInstrument::Emit(const std::string& text, uint64_t t) {
    if (m_state == State::kVanished) return;
    uint64_t end = std::max(t + m_config.timing.DelayNs(m_config.timing.replyDelayMs), m_txEndNs);
    for (char c : text) {
        end += m_charNs;
        m_output.push_back({static_cast<uint8_t>(c), end});
    }
    m_txEndNs = end;
}

void CInstrument::RefillEndless(uint64_t t) {
    if (m_endless == EndlessFault::kNone || m_state != State::kScpi) return;
    while (m_output.size() < kEndlessQueue) {
        if (m_endless == EndlessFault::kLines)
            EmitScpi(Format("STREAM %010llu ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789",
                            static_cast<unsigned long long>(m_endlessCounter++)),
                     t);
        else
            Emit("endless line without an end ", t);
    }
}

void CInstrument::AddTimer(TimerKind kind, uint64_t dueNs) { m_timers.push_back({dueNs, kind}); }

void CInstrument::CancelTimers(TimerKind kind) {
    std::erase_if(m_timers, [kind](const Timer& t) { return t.kind == kind; });
}

void CInstrument::Notice(const std::string& text) {
    if (m_notice) m_notice(text);
}

void CInstrument::PushError(int code, const std::string& text) {
    if (m_errors.size() >= kMaxErrorQueue) {
        m_errors.back() = {-350, "Queue overflow"};
        return;
    }
    m_errors.emplace_back(code, text);
}

void CInstrument::Vanish(const char* why) {
    m_state = State::kVanished;
    m_input.clear();
    m_output.clear();
    m_timers.clear();
    m_endless = EndlessFault::kNone;
    Notice(std::string("hung up (") + why + ")");
}

double CInstrument::MonitorVersionNumber() const { return std::strtod(m_monitorVersion.c_str(), nullptr); }

uint32_t CInstrument::ApplicationStart() const { return MonitorVersionNumber() < 2.0 ? 0xA000 : 0x10000; }

void CInstrument::HandleByte(uint8_t b, uint64_t t) {
    switch (m_state) {
        case State::kScpi: ScpiByte(b, t); break;
        case State::kMonitor: MonitorByte(b, t); break;
        case State::kLoading: LoadByte(b, t); break;
        case State::kBusy:
        case State::kRestarting:
        case State::kSilent:
            ++m_counters.bytesLost;
            break;
        case State::kVanished: break;
    }
}

void CInstrument::Boot(uint64_t t) {
    m_line.clear();
    m_lineOverflow = false;
    m_skipCr = false;
    m_errors.clear();
    m_endless = EndlessFault::kNone;
    m_bannerPending = m_config.faults.idnNoise == IdnNoise::kAfterRestart;
    if (m_config.faults.silentAfterRestart) {
        m_state = State::kSilent;
        Notice("restarted and stays silent");
        return;
    }
    if (!m_flashProgrammed) {
        m_state = State::kScpi;
        Notice("restarted with its firmware unchanged");
        return;
    }
    if (m_config.faults.bootsOldFirmware) {
        m_state = State::kScpi;
        Notice("restarted into the firmware it had; the new image in its FLASH is not run");
        return;
    }
    FirmwareIdentity firmware;
    const uint32_t start = ApplicationStart();
    if (ReadFirmwareImage(m_flash.data() + start, m_flash.size() - start, firmware)) {
        const Identity before = m_identity;
        m_identity.deviceName = firmware.model;
        m_identity.version1 = firmware.version1;
        m_identity.version2 = firmware.version2;
        if (before.version1 != m_identity.version1 || before.version2 != m_identity.version2) {
            // New firmware starts with blank adjustment values; keeping them is
            // the updater's job.
            m_oldIdentity = before;
            for (auto& setting : m_settings) setting.second.assign(1, '0');  // not = "0": a GCC 12 -Wrestrict false alarm
        }
        m_state = State::kScpi;
        Notice("booted " + m_identity.deviceName + " " + m_identity.version1 + "-" + m_identity.version2);
        return;
    }
    if (m_config.brokenFlash == BrokenFlash::kOldIdentity) {
        m_state = State::kScpi;
        Notice("FLASH holds no intact image; runs on as " + m_identity.version1 + "-" + m_identity.version2);
        return;
    }
    m_state = State::kMonitor;
    EmitMonitor("Application check failed", t);
    Prompt(t);
    Notice("FLASH holds no intact image; stays in the monitor");
}

void CInstrument::HandleTimer(const Timer& timer, uint64_t t) {
    switch (timer.kind) {
        case TimerKind::kIRamReady:
            if (m_state != State::kBusy) return;
            Emit("  OK\r\nProgramming FLASH ...:", t);
            if (m_config.faults.vanishAt == Step::kCopy)
                AddTimer(TimerKind::kFlashVanish, t + m_config.timing.DelayNs(m_config.timing.flashProgramMs) / 2);
            else
                AddTimer(TimerKind::kFlashDone, t + m_config.timing.DelayNs(m_config.timing.flashProgramMs));
            return;
        case TimerKind::kFlashDone:
            if (m_state != State::kBusy) return;
            ProgramFlash(m_copyLength);
            ++m_counters.flashPrograms;
            m_state = State::kMonitor;
            EmitMonitor("  OK", t);
            Prompt(t);
            Notice("FLASH programmed");
            return;
        case TimerKind::kFlashVanish:
            ProgramFlash(m_copyLength / 2);
            Vanish("FLASH programming");
            return;
        case TimerKind::kRestartDone:
            Boot(t);
            return;
        case TimerKind::kCalibrationDone:
            if (m_state == State::kScpi) {
                if (m_calibrationFailuresLeft > 0) {
                    --m_calibrationFailuresLeft;
                    EmitScpi("-340,\"Calibration failed\"", t);
                    Notice("self calibration failed");
                    return;
                }
                EmitScpi(m_config.calibrationReply, t);
                Notice("self calibration done");
            }
            return;
        case TimerKind::kLoadTimeout: {
            if (m_state != State::kLoading) return;
            const uint64_t limit = uint64_t(m_config.timing.loadTimeoutMs) * 1000000u;
            if (t - m_lastLoadNs < limit) {
                AddTimer(TimerKind::kLoadTimeout, m_lastLoadNs + limit);
                return;
            }
            m_state = State::kMonitor;
            EmitMonitor(Format("Timeout! 0x%x of 0x%x bytes received", m_loadPosition, m_loadLength), t);
            Prompt(t);
            Notice(Format("load gave up after 0x%x of 0x%x bytes", m_loadPosition, m_loadLength));
            return;
        }
    }
}

}  // namespace sim
