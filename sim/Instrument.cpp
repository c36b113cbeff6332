#include "sim/Instrument.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "sim/FirmwareImage.h"

namespace sim {

namespace {

constexpr uint32_t kFlashSector = 0x10000;
constexpr size_t kEndlessQueue = 256;  // endless output is made only this far ahead
// The noise lines, and how long after one the reply follows (also in fast
// mode: a reader is to meet the noise alone first).
constexpr char kBootBannerText[] = "\x1b[0mKORVA boot\0 2.01 ok";
constexpr char kStrayBytesText[] = "\x07\x7f\0\xfe";
const std::string kBootBanner(kBootBannerText, sizeof kBootBannerText - 1);
const std::string kStrayBytes(kStrayBytesText, sizeof kStrayBytesText - 1);
constexpr uint64_t kNoiseGapNs = 100000000;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string Trim(std::string_view s, std::string_view set = " \t") {
    const size_t first = s.find_first_not_of(set);
    if (first == std::string_view::npos) return {};
    const size_t last = s.find_last_not_of(set);
    return std::string(s.substr(first, last - first + 1));
}

// SCPI node match: the long form or its short form (the leading capitals
// of the pattern), case-insensitive. "SYSTem" accepts SYSTEM and SYST.
bool NodeMatches(std::string_view input, std::string_view pattern) {
    const std::string in = Upper(input);
    if (in == Upper(pattern)) return true;
    size_t n = 0;
    while (n < pattern.size() && !std::islower(static_cast<unsigned char>(pattern[n]))) ++n;
    return n < pattern.size() && in == pattern.substr(0, n);
}

std::vector<std::string_view> SplitNodes(std::string_view header) {
    std::vector<std::string_view> nodes;
    size_t start = 0;
    while (start <= header.size()) {
        const size_t colon = header.find(':', start);
        const size_t end = colon == std::string_view::npos ? header.size() : colon;
        nodes.push_back(header.substr(start, end - start));
        if (colon == std::string_view::npos) break;
        start = colon + 1;
    }
    return nodes;
}

bool HeaderMatches(std::string_view header, std::string_view pattern) {
    const auto in = SplitNodes(header);
    const auto pat = SplitNodes(pattern);
    if (in.size() != pat.size()) return false;
    for (size_t i = 0; i < in.size(); ++i)
        if (!NodeMatches(in[i], pat[i])) return false;
    return true;
}

// Splits an SCPI message at ";" outside quoted strings.
std::vector<std::string> SplitCommands(const std::string& message) {
    std::vector<std::string> commands;
    std::string current;
    bool quoted = false;
    for (char c : message) {
        if (c == '"') quoted = !quoted;
        if (c == ';' && !quoted) {
            commands.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    commands.push_back(current);
    return commands;
}

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

// ---------------------------------------------------------------- SCPI

void CInstrument::ScpiByte(uint8_t b, uint64_t t) {
    if (b == '\r') return;  // the CR of the LF CR terminator, or a stray one
    if (b != '\n') {
        if (m_line.size() < kMaxScpiMessage)
            m_line += static_cast<char>(b);
        else
            m_lineOverflow = true;
        return;
    }
    std::string message;
    message.swap(m_line);
    if (m_lineOverflow) {
        m_lineOverflow = false;
        PushError(-223, "Too much data");
        return;
    }
    ExecuteScpiMessage(message, t);
}

void CInstrument::ExecuteScpiMessage(const std::string& message, uint64_t t) {
    bool service = false;  // ":Service:Mode kAccess" opens service commands for this message only
    for (const std::string& command : SplitCommands(message)) {
        if (!ExecuteScpiCommand(command, service, t)) break;
    }
}

bool CInstrument::ExecuteScpiCommand(const std::string& text, bool& service, uint64_t t) {
    const std::string command = Trim(text);
    if (command.empty()) return true;
    const size_t blank = command.find_first_of(" \t");
    std::string header = command.substr(0, blank);
    const std::string param = blank == std::string::npos ? std::string() : Trim(command.substr(blank));
    const bool query = !header.empty() && header.back() == '?';
    if (query) header.pop_back();
    if (!header.empty() && header.front() == ':') header.erase(0, 1);
    const std::string upper = Upper(header);
    const Faults& faults = m_config.faults;

    if (upper == "*IDN" && query) {
        ++m_counters.identifications;
        if (faults.vanishAt == Step::kIdentify) {
            Vanish("identification");
            return false;
        }
        if (m_bannerPending || faults.idnNoise == IdnNoise::kEveryReply) {
            EmitScpi(m_bannerPending ? kBootBanner : kStrayBytes, t);
            m_bannerPending = false;
            t += kNoiseGapNs;
        }
        if (faults.garbage) {
            EmitScpi(GarbageLine(), t);
        } else if (faults.endless != EndlessFault::kNone) {
            m_endless = faults.endless;
            Notice("sends endless output");
        } else {
            EmitScpi(IdnReply(), t);
        }
        return true;
    }
    if (upper == "*RST" && !query) {
        ++m_counters.resets;
        return true;
    }
    if (upper == "*CLS" && !query) {
        ++m_counters.clears;
        m_errors.clear();
        return true;
    }
    if (HeaderMatches(header, "SERVice:MODE") && !query) {
        const std::string p = Upper(param);
        service = p == "KACCESS" || p == "KAC";
        if (!service) PushError(-224, "Illegal parameter value");
        return true;
    }
    if (HeaderMatches(header, "CALibrate:SELF:ALL") && query) {
        if (faults.vanishAt == Step::kCalibrate) {
            Vanish("self calibration");
            return false;
        }
        ++m_counters.calibrations;
        CancelTimers(TimerKind::kCalibrationDone);
        AddTimer(TimerKind::kCalibrationDone, t + m_config.timing.DelayNs(m_config.timing.calibrationMs));
        Notice("self calibration started");
        return true;
    }
    if (HeaderMatches(header, "SYSTem:ERRor") && query) {
        if (m_errors.empty()) {
            EmitScpi("0,\"No error\"", t);
        } else {
            EmitScpi(Format("%d,\"%s\"", m_errors.front().first, m_errors.front().second.c_str()), t);
            m_errors.pop_front();
        }
        return true;
    }

    // Everything below is a service command.
    const bool isAdjustPiece = !query && (HeaderMatches(header.substr(0, header.find(':')), "ADJust")) &&
                               header.find(':') != std::string::npos;
    const bool known =
        isAdjustPiece || (HeaderMatches(header, "SYSTem:SOFTware:MONitor") && !query) ||
        (HeaderMatches(header, "SYSTem:HARDware:MODuls") && query) ||
        (HeaderMatches(header, "SYSTem:ADJust") && query) || (HeaderMatches(header, "SYSTem:SNUMber:SET") && !query) ||
        (HeaderMatches(header, "SYSTem:CIERror") && !query) || (HeaderMatches(header, "SERVice:ASAVe") && !query) ||
        (HeaderMatches(header, "SERVice:FACTory:STORe") && !query) || (HeaderMatches(header, "SYSTem:PRESet") && !query);
    if (!known) {
        PushError(-113, "Undefined header");
        return true;
    }
    if (!service) {
        PushError(-221, "Settings conflict");
        return true;
    }

    if (HeaderMatches(header, "SYSTem:SOFTware:MONitor")) {
        if (faults.vanishAt == Step::kMonitor) {
            Vanish("switch into the monitor");
            return false;
        }
        m_state = State::kMonitor;
        m_line.clear();
        m_skipCr = true;
        m_endless = EndlessFault::kNone;
        Prompt(t);
        Notice("entered the monitor, version " + m_monitorVersion);
        return false;  // the rest of the message is no longer SCPI
    }
    if (HeaderMatches(header, "SYSTem:HARDware:MODuls")) {
        if (faults.vanishAt == Step::kModules) {
            Vanish("module query");
            return false;
        }
        if (m_config.moduleReply == ModuleReply::kTextLine)
            EmitScpi("NO MODULES", t);
        else if (m_config.moduleReply != ModuleReply::kSilent)
            EmitScpi(ModuleBlock(), t);
        return true;
    }
    if (HeaderMatches(header, "SYSTem:ADJust")) {
        if (faults.vanishAt == Step::kSettings) {
            Vanish("settings query");
            return false;
        }
        ++m_counters.settingsQueries;
        std::string reply;
        for (const auto& [key, value] : m_settings) {
            if (!reply.empty()) reply += ';';
            reply += ":ADJ:" + key + " " + value;
        }
        EmitScpi(reply, t);
        return true;
    }
    if (isAdjustPiece) {
        const std::string key = Upper(header.substr(header.find(':') + 1));
        for (auto& [k, value] : m_settings) {
            if (Upper(k) == key && !param.empty()) {
                value = param;
                ++m_counters.settingsWrites;
                return true;
            }
        }
        PushError(-113, "Undefined header");
        return true;
    }
    if (HeaderMatches(header, "SYSTem:SNUMber:SET")) {
        if (param.empty() || param.size() > 16) {
            PushError(-224, "Illegal parameter value");
        } else {
            m_identity.serialNumber = param;
            Notice("serial number set to " + param);
        }
        return true;
    }
    if (HeaderMatches(header, "SYSTem:CIERror")) {
        ++m_counters.errorClears;
        m_errors.clear();
    } else if (HeaderMatches(header, "SERVice:ASAVe")) {
        ++m_counters.autoSaves;
    } else if (HeaderMatches(header, "SERVice:FACTory:STORe")) {
        ++m_counters.factoryStores;
        Notice("factory settings stored");
    } else if (HeaderMatches(header, "SYSTem:PRESet")) {
        ++m_counters.presets;
    }
    return true;
}

std::string CInstrument::IdnReply() const {
    return m_identity.maker + "," + m_identity.deviceName + "," + m_identity.serialNumber +
           Format(",HW%08X,SW", m_identity.hardwareId) + m_identity.version1 + "-" + m_identity.version2;
}

std::string CInstrument::ModuleBlock() const {
    std::string data;
    auto put = [&data](uint16_t code, uint16_t value) {
        data += static_cast<char>(code & 0xFF);
        data += static_cast<char>(code >> 8);
        data += static_cast<char>(value & 0xFF);
        data += static_cast<char>(value >> 8);
    };
    for (const BoardRecord& r : m_config.boards) put(r.code, r.value);
    if (m_config.moduleReply == ModuleReply::kUnknownCode) put(12, 1);
    size_t announced = data.size();
    if (m_config.moduleReply == ModuleReply::kTruncated) {
        announced = data.size() + 8;
    }
    const std::string digits = std::to_string(announced);
    return "#" + std::to_string(digits.size()) + digits + data;
}

std::string CInstrument::GarbageLine() {
    std::string line;
    for (int i = 0; i < 48; ++i) {
        m_random ^= m_random << 13;
        m_random ^= m_random >> 17;
        m_random ^= m_random << 5;
        char c = static_cast<char>(m_random >> 24);
        if (c == '\n' || c == '#') c = '~';
        line += c;
    }
    return line;
}

// ---------------------------------------------------------------- monitor

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
    EmitMonitor(Format("0x%x bytes loaded! OK", m_loadLength), t);
    Prompt(t);
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
            for (auto& setting : m_settings) setting.second = "0";
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
