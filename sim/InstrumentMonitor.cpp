// The instrument's debug monitor: its command lines, the image load into
// RAM, the checksum, the FLASH programming and the restart.
#include <cctype>
#include <cstdlib>

#include "sim/Instrument.h"
#include "sim/InstrumentText.h"

namespace sim {

namespace {

constexpr uint32_t kFlashSector = 0x10000;

bool ParseHex(const std::string& text, uint32_t& value) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return false;
    for (char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    value = static_cast<uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
    return true;
}

}  // namespace

void CInstrument::MonitorByte(uint8_t b, uint64_t t) {
    const bool skip = m_skipCr && b == '\r';
    m_skipCr = false;
    if (skip) return;  // the CR behind the LF of the switch command
    if (b == '\n') return;
    if (b != '\r') {
        if (m_line.size() < kMaxMonitorLine)
            m_line += static_cast<char>(b);
        else
            m_lineOverflow = true;
        return;
    }
    std::string line;
    line.swap(m_line);
    if (m_lineOverflow) {
        m_lineOverflow = false;
        EmitMonitor("Line too long", t);
        Prompt(t);
        return;
    }
    ExecuteMonitorLine(line, t);
}

void CInstrument::ExecuteMonitorLine(const std::string& text, uint64_t t) {
    const std::string line = Trim(text, " \t;");
    std::vector<std::string> tokens;
    size_t pos = 0;
    while (pos < line.size()) {
        const size_t start = line.find_first_not_of(" \t", pos);
        if (start == std::string::npos) break;
        const size_t end = line.find_first_of(" \t", start);
        tokens.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        pos = end == std::string::npos ? line.size() : end;
    }
    if (tokens.empty()) {
        Prompt(t);
        return;
    }
    std::string command = tokens[0];
    for (char& c : command) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::vector<uint32_t> args;
    for (size_t i = 1; i < tokens.size(); ++i) {
        uint32_t value = 0;
        if (!ParseHex(tokens[i], value)) {
            EmitMonitor("Syntax error", t);
            Prompt(t);
            return;
        }
        args.push_back(value);
    }
    if (command == "v" && args.empty()) {
        EmitMonitor("Version:\t" + m_monitorVersion, t);
        Prompt(t);
    } else if (command == "l") {
        MonitorLoad(args, t);
    } else if (command == "z") {
        MonitorChecksum(args, t);
    } else if (command == "cf") {
        MonitorCopy(args, t);
    } else if (command == "rs" && args.empty()) {
        MonitorRestart(t);
    } else {
        EmitMonitor("Unknown command", t);
        Prompt(t);
    }
}

void CInstrument::MonitorLoad(const std::vector<uint32_t>& args, uint64_t t) {
    const Faults& faults = m_config.faults;
    uint32_t length = args.size() == 2 ? args[1] : 0;
    if (faults.waitingForOtherCount) length += 0x100;  // a monitor that miscounts
    if (args.size() != 2 || length == 0 || args[0] < kRamBase ||
        uint64_t(args[0]) + length > uint64_t(kRamBase) + kRamSize) {
        EmitMonitor("Error: bad address or length", t);
        Prompt(t);
        return;
    }
    if (m_ram.empty()) m_ram.assign(kRamSize, 0);
    ++m_counters.loads;
    m_loadAddress = args[0];
    m_loadLength = length;
    m_loadPosition = 0;
    m_imageOffset = 0;
    m_lastLoadNs = t;
    m_state = State::kLoading;
    EmitMonitor(Format("Waiting for 0x%x bytes", length), t);
    CancelTimers(TimerKind::kLoadTimeout);
    AddTimer(TimerKind::kLoadTimeout, t + uint64_t(m_config.timing.loadTimeoutMs) * 1000000u);
    Notice(Format("loading 0x%x bytes into RAM at 0x%x", length, args[0]));
}

void CInstrument::LoadByte(uint8_t b, uint64_t t) {
    const Faults& faults = m_config.faults;
    m_lastLoadNs = t;
    const uint64_t offset = m_imageOffset++;
    const bool faultArmed = !m_imageFaultUsed || faults.imageFaultEveryLoad;
    if (faultArmed && faults.dropImageByteAt >= 0 && offset == uint64_t(faults.dropImageByteAt)) {
        m_imageFaultUsed = true;
        return;  // lost on the line
    }
    if (faultArmed && faults.corruptImageByteAt >= 0 && offset == uint64_t(faults.corruptImageByteAt)) {
        m_imageFaultUsed = true;
        b ^= 0x01;
    }
    m_ram[m_loadAddress - kRamBase + m_loadPosition++] = b;
    if (faults.vanishAt == Step::kLoad && m_loadPosition == m_loadLength / 2) {
        Vanish("image transfer");
        return;
    }
    if (m_loadPosition < m_loadLength) return;
    CancelTimers(TimerKind::kLoadTimeout);
    m_state = State::kMonitor;
    if (!faults.loadReplyLost) {
        EmitMonitor(Format("0x%x bytes loaded! OK", m_loadLength), t);
        Prompt(t);
    }
    Notice(Format("0x%x bytes loaded", m_loadLength));
}

bool CInstrument::Checksum(uint32_t first, uint32_t last, uint32_t& sum) const {
    if (first > last) return false;
    const uint32_t count = last - first + 1;
    const uint8_t* bytes = nullptr;
    uint8_t blank = 0;
    if (first >= kRamBase && uint64_t(last) < uint64_t(kRamBase) + kRamSize) {
        if (!m_ram.empty()) bytes = m_ram.data() + (first - kRamBase);
        blank = 0x00;
    } else if (last < kFlashSize) {
        if (!m_flash.empty()) bytes = m_flash.data() + first;
        blank = 0xFF;
    } else {
        return false;
    }
    uint32_t s = count;
    if (bytes == nullptr) {
        s += count * blank;
    } else {
        for (uint32_t i = 0; i < count; ++i) s += bytes[i];
    }
    sum = s;
    return true;
}

void CInstrument::MonitorChecksum(const std::vector<uint32_t>& args, uint64_t t) {
    uint32_t sum = 0;
    if (args.size() != 2 || !Checksum(args[0], args[1], sum)) {
        EmitMonitor("Error: bad address range", t);
        Prompt(t);
        return;
    }
    if (m_config.faults.vanishAt == Step::kChecksum) {
        Vanish("checksum");
        return;
    }
    ++m_counters.checksums;
    const ChecksumFault fault = m_config.faults.wrongChecksum;
    if (fault == ChecksumFault::kAlways || (fault == ChecksumFault::kOnce && !m_checksumFaultUsed)) {
        m_checksumFaultUsed = true;
        sum += 1;
    }
    if (m_config.faults.wrongFlashChecksum && args[0] < kRamBase) sum += 1;
    EmitMonitor("Calculate Checksum", t);
    EmitMonitor(Format("0x%x", sum), t);
    Prompt(t);
    Notice(Format("checksum 0x%x..0x%x = 0x%x", args[0], args[1], sum));
}

void CInstrument::MonitorCopy(const std::vector<uint32_t>& args, uint64_t t) {
    if (args.size() != 3 || args[1] == 0 || args[0] < kRamBase ||
        uint64_t(args[0]) + args[1] > uint64_t(kRamBase) + kRamSize || uint64_t(args[2]) + args[1] > kFlashSize) {
        EmitMonitor("Error: bad address or length", t);
        Prompt(t);
        return;
    }
    if (m_ram.empty()) m_ram.assign(kRamSize, 0);
    m_copySource = args[0];
    m_copyLength = args[1];
    m_copyDest = args[2];
    m_state = State::kBusy;
    Emit("Load function in iRAM ...:", t);
    AddTimer(TimerKind::kIRamReady, t + m_config.timing.DelayNs(m_config.timing.iramLoadMs));
    Notice(Format("programming FLASH at 0x%x with 0x%x bytes", m_copyDest, m_copyLength));
}

void CInstrument::ProgramFlash(uint32_t length) {
    if (m_flash.empty()) m_flash.assign(kFlashSize, 0xFF);
    // Whole sectors are erased first, as a real FLASH does.
    const uint32_t eraseFirst = m_copyDest / kFlashSector * kFlashSector;
    const uint64_t eraseEnd = std::min<uint64_t>(
        (uint64_t(m_copyDest) + m_copyLength + kFlashSector - 1) / kFlashSector * kFlashSector, kFlashSize);
    std::fill(m_flash.begin() + eraseFirst, m_flash.begin() + static_cast<ptrdiff_t>(eraseEnd), 0xFF);
    std::copy_n(m_ram.begin() + (m_copySource - kRamBase), length, m_flash.begin() + m_copyDest);
    m_flashProgrammed = true;
}

void CInstrument::MonitorRestart(uint64_t t) {
    if (m_config.faults.vanishAt == Step::kRestart) {
        Vanish("restart");
        return;
    }
    if (m_rsAnswersLeft != 0) {
        if (m_rsAnswersLeft > 0) --m_rsAnswersLeft;
        EmitMonitor("Restart refused", t);
        Prompt(t);
        return;
    }
    ++m_counters.restarts;
    m_state = State::kRestarting;
    m_timers.clear();
    AddTimer(TimerKind::kRestartDone, t + m_config.timing.DelayNs(m_config.timing.restartMs));
    Notice("restarting");
}

}  // namespace sim
