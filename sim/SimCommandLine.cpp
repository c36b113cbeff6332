#include "sim/SimCommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/Clock.h"
#include "platform/PortAlias.h"
#include "platform/SysError.h"
#include "sim/PtyInstrument.h"

namespace sim {

namespace {

bool ToInt(const std::string& text, long long min, long long max, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || v < min || v > max) return false;
    value = v;
    return true;
}

bool ToHex32(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 16);
    if (end == nullptr || *end != '\0' || v > 0xFFFFFFFFul) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseBoards(const std::string& text, std::vector<BoardRecord>& boards) {
    boards.clear();
    if (text == "none") return true;
    size_t pos = 0;
    while (pos <= text.size()) {
        const size_t comma = text.find(',', pos);
        const std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        const size_t eq = item.find('=');
        long long code = 0, value = 0;
        if (eq == std::string::npos || !ToInt(item.substr(0, eq), 0, 0xFFFF, code) ||
            !ToInt(item.substr(eq + 1), 0, 0xFFFF, value))
            return false;
        boards.push_back({static_cast<uint16_t>(code), static_cast<uint16_t>(value)});
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return true;
}

// "012345678" + 2 = "012345680": keeps the width so every instrument of a
// run has its own serial number of the same form.
std::string NthSerial(const std::string& serial, int n) {
    if (n == 0 || serial.empty() || serial.find_first_not_of("0123456789") != std::string::npos) {
        return n == 0 ? serial : serial + "-" + std::to_string(n + 1);
    }
    std::string digits = std::to_string(std::strtoull(serial.c_str(), nullptr, 10) + static_cast<unsigned>(n));
    if (digits.size() < serial.size()) digits.insert(0, serial.size() - digits.size(), '0');
    return digits;
}

std::string TimeStamp() {
    platform::LocalTime t;
    if (!platform::GetLocalTime(t)) return "--:--:--.---";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second, t.millisecond);
    return buffer;
}

}  // namespace

std::string SimUsage() {
    return R"(Usage: korva-sim [options]

Runs simulated KORVA instruments on pseudo-terminals. Each one is registered
as a COM alias in )" + platform::PortAliasDirectory() +
           R"(, so the Instrument Upgrader finds
it like an instrument on a serial port. Ctrl-C stops them and removes the
aliases.

Instruments:
  --count N               number of instruments (default 1); serial numbers count up
  --com N                 first COM number to use (default 10; the next free one is taken)
Identity:
  --maker TEXT            maker field of *IDN? (default KORVA)
  --device NAME           device name (default QV3108-2)
  --serial TEXT           serial number (default 012345678)
  --hwid HEX              hardware ID (default 10011000)
  --version V1-V2         software versions (default 05.100-02.005)
  --boards CODE=ID,...    hardware-module records, or "none"
                          (default 0=10,1=3,2=10,3=5,4=1,5=1,6=1,7=0,8=0,9=0)
  --modules KIND          module reply: block, silent, unknown-code, text, truncated
  --monitor-version V     debug monitor version (default 2.01)
  --broken-flash KIND     after a restart with a damaged FLASH: monitor (default)
                          or old-identity
  --calibration-reply T   reply to the self calibration (default 0,"No error")
Line and timing:
  --baud N                line rate (default 115200)
  --bits N                bits per character (default 11: start, 8 data, 2 stop)
  --fast                  no line rate and no delays
  --reply-ms N            reply delay (default 2)
  --flash-ms N            FLASH programming time (default 4000)
  --restart-ms N          restart time (default 3000)
  --calibration-ms N      self calibration time (default 30000)
  --load-timeout-ms N     the monitor gives up a load after this silence (default 1000)
Faults (each on its own):
  --drop-byte OFFSET      this byte of the image is lost on the line
  --corrupt-byte OFFSET   this byte of the image arrives changed
  --every-load            the two above hit every load, not only the first
  --wrong-checksum WHEN   the monitor's checksum is off: once or always
  --silent-after-restart  the instrument never answers after "rs"
  --load-reply-lost       the answer to a completed load never arrives
  --old-monitor           the monitor reports version 1.50
  --waiting-for-other     the monitor announces another byte count
  --garbage               *IDN? is answered by a line of garbage
  --endless KIND          after *IDN?: lines (an endless stream) or line (one endless line)
  --idn-noise WHEN        a junk line before the *IDN? reply: restart (the first
                          after a restart) or every
  --answer-rs N           "rs" is refused N times (-1: always)
  --vanish-at STEP        hang up at: identify, modules, settings, monitor, load,
                          checksum, copy, restart, calibrate
Output:
  --quiet                 print only the COM names
  --help                  this text
)";
}

bool ParseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error) {
    Config& c = options.config;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = opt + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto number = [&](long long min, long long max, long long& out) {
            std::string v;
            if (!value(v)) return false;
            if (!ToInt(v, min, max, out)) {
                error = "bad value for " + opt + ": " + v;
                return false;
            }
            return true;
        };
        auto ms = [&](uint32_t& out) {
            long long v = 0;
            if (!number(0, 3600000, v)) return false;
            out = static_cast<uint32_t>(v);
            return true;
        };
        std::string v;
        long long n = 0;
        if (opt == "--help" || opt == "-h") {
            options.help = true;
        } else if (opt == "--quiet") {
            options.quiet = true;
        } else if (opt == "--count") {
            if (!number(1, 32, n)) return false;
            options.count = static_cast<int>(n);
        } else if (opt == "--com") {
            if (!number(1, 99, n)) return false;
            options.firstCom = static_cast<int>(n);
        } else if (opt == "--maker") {
            if (!value(c.identity.maker)) return false;
        } else if (opt == "--device") {
            if (!value(c.identity.deviceName)) return false;
        } else if (opt == "--serial") {
            if (!value(c.identity.serialNumber)) return false;
        } else if (opt == "--hwid") {
            if (!value(v)) return false;
            if (!ToHex32(v, c.identity.hardwareId)) {
                error = "bad hardware ID: " + v;
                return false;
            }
        } else if (opt == "--version") {
            if (!value(v)) return false;
            const size_t dash = v.find('-');
            if (dash == std::string::npos) {
                error = "versions are given as V1-V2: " + v;
                return false;
            }
            c.identity.version1 = v.substr(0, dash);
            c.identity.version2 = v.substr(dash + 1);
        } else if (opt == "--boards") {
            if (!value(v)) return false;
            if (!ParseBoards(v, c.boards)) {
                error = "bad board list: " + v;
                return false;
            }
        } else if (opt == "--modules") {
            if (!value(v)) return false;
            if (v == "block") c.moduleReply = ModuleReply::kBlock;
            else if (v == "silent") c.moduleReply = ModuleReply::kSilent;
            else if (v == "unknown-code") c.moduleReply = ModuleReply::kUnknownCode;
            else if (v == "text") c.moduleReply = ModuleReply::kTextLine;
            else if (v == "truncated") c.moduleReply = ModuleReply::kTruncated;
            else {
                error = "unknown module reply: " + v;
                return false;
            }
        } else if (opt == "--monitor-version") {
            if (!value(c.monitorVersion)) return false;
        } else if (opt == "--broken-flash") {
            if (!value(v)) return false;
            if (v == "monitor") c.brokenFlash = BrokenFlash::kStayInMonitor;
            else if (v == "old-identity") c.brokenFlash = BrokenFlash::kOldIdentity;
            else {
                error = "unknown --broken-flash kind: " + v;
                return false;
            }
        } else if (opt == "--calibration-reply") {
            if (!value(c.calibrationReply)) return false;
        } else if (opt == "--baud") {
            if (!number(50, 12000000, n)) return false;
            c.timing.baud = static_cast<uint32_t>(n);
        } else if (opt == "--bits") {
            if (!number(7, 13, n)) return false;
            c.timing.bitsPerChar = static_cast<uint32_t>(n);
        } else if (opt == "--fast") {
            c.timing.fast = true;
        } else if (opt == "--reply-ms") {
            if (!ms(c.timing.replyDelayMs)) return false;
        } else if (opt == "--flash-ms") {
            if (!ms(c.timing.flashProgramMs)) return false;
        } else if (opt == "--restart-ms") {
            if (!ms(c.timing.restartMs)) return false;
        } else if (opt == "--calibration-ms") {
            if (!ms(c.timing.calibrationMs)) return false;
        } else if (opt == "--load-timeout-ms") {
            if (!ms(c.timing.loadTimeoutMs)) return false;
        } else if (opt == "--drop-byte") {
            if (!number(0, 0xFFFFFFFF, n)) return false;
            c.faults.dropImageByteAt = n;
        } else if (opt == "--corrupt-byte") {
            if (!number(0, 0xFFFFFFFF, n)) return false;
            c.faults.corruptImageByteAt = n;
        } else if (opt == "--every-load") {
            c.faults.imageFaultEveryLoad = true;
        } else if (opt == "--wrong-checksum") {
            if (!value(v)) return false;
            if (v == "once") c.faults.wrongChecksum = ChecksumFault::kOnce;
            else if (v == "always") c.faults.wrongChecksum = ChecksumFault::kAlways;
            else {
                error = "--wrong-checksum takes once or always";
                return false;
            }
        } else if (opt == "--load-reply-lost") {
            c.faults.loadReplyLost = true;
        } else if (opt == "--silent-after-restart") {
            c.faults.silentAfterRestart = true;
        } else if (opt == "--old-monitor") {
            c.faults.oldMonitor = true;
        } else if (opt == "--waiting-for-other") {
            c.faults.waitingForOtherCount = true;
        } else if (opt == "--garbage") {
            c.faults.garbage = true;
        } else if (opt == "--endless") {
            if (!value(v)) return false;
            if (v == "lines") c.faults.endless = EndlessFault::kLines;
            else if (v == "line") c.faults.endless = EndlessFault::kLine;
            else {
                error = "--endless takes lines or line";
                return false;
            }
        } else if (opt == "--idn-noise") {
            if (!value(v)) return false;
            if (v == "restart") c.faults.idnNoise = IdnNoise::kAfterRestart;
            else if (v == "every") c.faults.idnNoise = IdnNoise::kEveryReply;
            else {
                error = "--idn-noise takes restart or every";
                return false;
            }
        } else if (opt == "--answer-rs") {
            if (!number(-1, 1000, n)) return false;
            c.faults.answerRs = static_cast<int>(n);
        } else if (opt == "--vanish-at") {
            if (!value(v)) return false;
            if (!ParseStep(v, c.faults.vanishAt) || c.faults.vanishAt == Step::kNone) {
                error = "unknown step for --vanish-at: " + v;
                return false;
            }
        } else {
            error = "unknown option: " + opt;
            return false;
        }
    }
    return true;
}

int RunSimulator(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, platform::Event* stop,
                 const std::function<void(const std::vector<std::pair<std::string, std::string>>&)>& onReady) {
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(args, options, error)) {
        err << "korva-sim: " << error << "\nTry korva-sim --help.\n";
        return 2;
    }
    if (options.help) {
        out << SimUsage();
        return 0;
    }
    if (stop == nullptr) {
        err << "korva-sim: cannot wait for Ctrl-C\n";
        return 1;
    }

    std::mutex printLock;  // the instruments' threads print too
    auto print = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(printLock);
        out << line << '\n';
        out.flush();
    };
    std::vector<std::unique_ptr<CPtyInstrument>> instruments;
    std::vector<std::pair<std::string, std::string>> ports;
    int exitCode = 0;
    int nextCom = options.firstCom;
    for (int i = 0; i < options.count; ++i) {
        Config config = options.config;
        config.identity.serialNumber = NthSerial(config.identity.serialNumber, i);
        auto instrument = std::make_unique<CPtyInstrument>(config);
        if (!options.quiet)
            instrument->SetNoticeHandler([&print](const std::string& com, const std::string& text) {
                print("[" + TimeStamp() + "] " + com + ": " + text);
            });
        const uint32_t rc = instrument->Start(nextCom);
        if (rc != 0) {
            err << "korva-sim: cannot start instrument " << i + 1 << ": " << platform::SystemErrorText(rc, 0x09)
                << " (" << rc << ")\n";
            exitCode = 1;
            break;
        }
        const Identity& id = config.identity;
        char hw[16];
        std::snprintf(hw, sizeof hw, "%08X", id.hardwareId);
        if (options.quiet)
            print(instrument->ComName());
        else
            print(instrument->ComName() + " -> " + instrument->DevicePath() + "  " + id.maker + "," + id.deviceName +
                  "," + id.serialNumber + ",HW" + hw + ",SW" + id.version1 + "-" + id.version2);
        ports.emplace_back(instrument->ComName(), instrument->DevicePath());
        nextCom = std::atoi(instrument->ComName().c_str() + 3) + 1;
        instruments.push_back(std::move(instrument));
    }
    if (exitCode == 0) {
        if (!options.quiet) print("Running; Ctrl-C stops.");
        if (onReady) onReady(ports);
        // Waits for Ctrl-C (or the caller's stop); nothing else ends a run.
        platform::WaitFor(*stop, platform::kInfinite);
    }
    for (auto& instrument : instruments) {
        const std::string com = instrument->ComName();
        instrument->Stop();
        if (!options.quiet) print(com + " removed");
    }
    return exitCode;
}

}  // namespace sim
