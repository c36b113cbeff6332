#include "sim/SimCommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/SysError.h"

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

}  // namespace

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
        } else if (opt == "--boots-old-firmware") {
            c.faults.bootsOldFirmware = true;
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


}  // namespace sim
