// The instrument's SCPI side: messages split into commands, and the table of
// the commands it knows with their handlers.
#include <cctype>
#include <string_view>

#include "sim/Instrument.h"
#include "sim/InstrumentText.h"

namespace sim {

namespace {

// The noise lines, and how long after one the reply follows (also in fast
// mode: a reader is to meet the noise alone first).
constexpr char kBootBannerText[] = "\x1b[0mKORVA boot\0 2.01 ok";
constexpr char kStrayBytesText[] = "\x07\x7f\0\xfe";
const std::string kBootBanner(kBootBannerText, sizeof kBootBannerText - 1);
const std::string kStrayBytes(kStrayBytesText, sizeof kStrayBytesText - 1);
constexpr uint64_t kNoiseGapNs = 100000000;

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

// Node by node; a last pattern node "*" takes whatever follows its colon
// (also nothing, also more nodes).
bool HeaderMatches(std::string_view header, std::string_view pattern) {
    const auto in = SplitNodes(header);
    auto pat = SplitNodes(pattern);
    const bool rest = pat.back() == "*";
    if (rest) pat.pop_back();
    if (rest ? in.size() <= pat.size() : in.size() != pat.size()) return false;
    for (size_t i = 0; i < pat.size(); ++i)
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

}  // namespace

// One command of a message as its handler gets it.
struct CInstrument::ScpiCall {
    std::string header;  // without a leading ':' and the '?' of a query
    std::string param;   // trimmed; empty when there is none
    bool& service;       // ":SERVice:MODE kAccess" came earlier in this message
    uint64_t t;
};

// A command the instrument knows. A command that matches no row, or a row
// with the wrong query form, is an undefined header.
struct CInstrument::ScpiCommand {
    const char* pattern;  // long form with the short form in capitals; see HeaderMatches
    bool query;
    bool service;          // refused ("Settings conflict") outside service mode
    Step vanishAt;         // Faults::vanishAt that hangs the instrument up here
    const char* vanishWhy; // for the notice
    unsigned Counters::*counter;  // counted once the command runs; null: none
    // False when the rest of the message is to be dropped. Null: counting is all.
    bool (CInstrument::*handler)(const ScpiCall& call);
};

std::span<const CInstrument::ScpiCommand> CInstrument::ScpiCommands() {
    using C = CInstrument;
    static const ScpiCommand commands[] = {
        {"*IDN", true, false, Step::kIdentify, "identification", &Counters::identifications, &C::ScpiIdentify},
        {"*RST", false, false, Step::kNone, nullptr, &Counters::resets, nullptr},
        {"*CLS", false, false, Step::kNone, nullptr, &Counters::clears, &C::ScpiClearErrors},
        {"SERVice:MODE", false, false, Step::kNone, nullptr, nullptr, &C::ScpiServiceMode},
        {"CALibrate:SELF:ALL", true, false, Step::kCalibrate, "self calibration", &Counters::calibrations,
         &C::ScpiCalibrate},
        {"SYSTem:ERRor", true, false, Step::kNone, nullptr, nullptr, &C::ScpiNextError},
        // Service commands.
        {"SYSTem:SOFTware:MONitor", false, true, Step::kMonitor, "switch into the monitor", nullptr,
         &C::ScpiEnterMonitor},
        {"SYSTem:HARDware:MODuls", true, true, Step::kModules, "module query", nullptr, &C::ScpiModules},
        {"SYSTem:ADJust", true, true, Step::kSettings, "settings query", &Counters::settingsQueries,
         &C::ScpiSettings},
        {"ADJust:*", false, true, Step::kNone, nullptr, nullptr, &C::ScpiAdjust},
        {"SYSTem:SNUMber:SET", false, true, Step::kNone, nullptr, nullptr, &C::ScpiSerialNumber},
        {"SYSTem:CIERror", false, true, Step::kNone, nullptr, &Counters::errorClears, &C::ScpiClearErrors},
        {"SERVice:ASAVe", false, true, Step::kNone, nullptr, &Counters::autoSaves, nullptr},
        {"SERVice:FACTory:STORe", false, true, Step::kNone, nullptr, &Counters::factoryStores,
         &C::ScpiFactoryStore},
        {"SYSTem:PRESet", false, true, Step::kNone, nullptr, &Counters::presets, nullptr},
    };
    return commands;
}

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
    ScpiCall call{command.substr(0, blank), blank == std::string::npos ? std::string() : Trim(command.substr(blank)),
                  service, t};
    const bool query = !call.header.empty() && call.header.back() == '?';
    if (query) call.header.pop_back();
    if (!call.header.empty() && call.header.front() == ':') call.header.erase(0, 1);

    for (const ScpiCommand& entry : ScpiCommands()) {
        if (entry.query != query || !HeaderMatches(call.header, entry.pattern)) continue;
        if (entry.service && !service) {
            PushError(-221, "Settings conflict");
            return true;
        }
        if (entry.vanishAt != Step::kNone && m_config.faults.vanishAt == entry.vanishAt) {
            Vanish(entry.vanishWhy);
            return false;
        }
        if (entry.counter != nullptr) ++(m_counters.*entry.counter);
        return entry.handler == nullptr || (this->*entry.handler)(call);
    }
    PushError(-113, "Undefined header");
    return true;
}

bool CInstrument::ScpiIdentify(const ScpiCall& call) {
    const Faults& faults = m_config.faults;
    uint64_t t = call.t;
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

bool CInstrument::ScpiClearErrors(const ScpiCall&) {
    m_errors.clear();
    return true;
}

bool CInstrument::ScpiServiceMode(const ScpiCall& call) {
    const std::string p = Upper(call.param);
    call.service = p == "KACCESS" || p == "KAC";
    if (!call.service) PushError(-224, "Illegal parameter value");
    return true;
}

bool CInstrument::ScpiCalibrate(const ScpiCall& call) {
    CancelTimers(TimerKind::kCalibrationDone);
    AddTimer(TimerKind::kCalibrationDone, call.t + m_config.timing.DelayNs(m_config.timing.calibrationMs));
    Notice("self calibration started");
    return true;
}

bool CInstrument::ScpiNextError(const ScpiCall& call) {
    if (m_errors.empty()) {
        EmitScpi("0,\"No error\"", call.t);
    } else {
        EmitScpi(Format("%d,\"%s\"", m_errors.front().first, m_errors.front().second.c_str()), call.t);
        m_errors.pop_front();
    }
    return true;
}

bool CInstrument::ScpiEnterMonitor(const ScpiCall& call) {
    m_state = State::kMonitor;
    m_line.clear();
    m_skipCr = true;
    m_endless = EndlessFault::kNone;
    Prompt(call.t);
    Notice("entered the monitor, version " + m_monitorVersion);
    return false;  // the rest of the message is no longer SCPI
}

bool CInstrument::ScpiModules(const ScpiCall& call) {
    if (m_config.moduleReply == ModuleReply::kTextLine)
        EmitScpi("NO MODULES", call.t);
    else if (m_config.moduleReply != ModuleReply::kSilent)
        EmitScpi(ModuleBlock(), call.t);
    return true;
}

bool CInstrument::ScpiSettings(const ScpiCall& call) {
    std::string reply;
    for (const auto& [key, value] : m_settings) {
        if (!reply.empty()) reply += ';';
        reply += ":ADJ:" + key + " " + value;
    }
    EmitScpi(reply, call.t);
    return true;
}

bool CInstrument::ScpiAdjust(const ScpiCall& call) {
    const std::string key = Upper(call.header.substr(call.header.find(':') + 1));
    for (auto& [k, value] : m_settings) {
        if (Upper(k) == key && !call.param.empty()) {
            value = call.param;
            ++m_counters.settingsWrites;
            return true;
        }
    }
    PushError(-113, "Undefined header");
    return true;
}

bool CInstrument::ScpiSerialNumber(const ScpiCall& call) {
    if (call.param.empty() || call.param.size() > 16) {
        PushError(-224, "Illegal parameter value");
    } else {
        m_identity.serialNumber = call.param;
        Notice("serial number set to " + call.param);
    }
    return true;
}

bool CInstrument::ScpiFactoryStore(const ScpiCall&) {
    Notice("factory settings stored");
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

}  // namespace sim
