// What a simulated instrument is: its identity, its boards, its timings and
// the faults it is told to show.
// Thread: plain values, copied into each instrument.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct Identity {
    std::string maker = "KORVA";
    std::string deviceName = "QV3108-2";
    std::string serialNumber = "012345678";
    uint32_t hardwareId = 0x10011000;
    std::string version1 = "05.100";
    std::string version2 = "02.005";
};

// One record of the hardware-module block: board wire code and board ID.
struct BoardRecord {
    uint16_t code = 0;
    uint16_t value = 0;
};

// How the instrument answers the hardware-module query.
enum class ModuleReply {
    kBlock,        // the definite-length block of the configured boards
    kSilent,       // no answer at all
    kUnknownCode,  // the boards plus one record with code 12
    kTextLine,     // a text line instead of a block
    kTruncated,    // the block announces more bytes than it carries
};

// What the instrument does after a restart when its FLASH holds no intact image.
enum class BrokenFlash {
    kStayInMonitor,  // it stays in its boot monitor
    kOldIdentity,    // it runs on, still reporting the firmware it had
};

enum class ChecksumFault { kNone, kOnce, kAlways };

enum class EndlessFault {
    kNone,
    kLines,  // after "*IDN?" an endless stream of complete lines
    kLine,   // after "*IDN?" one line that never ends
};

// Noise on the line before an identification reply.
enum class IdnNoise {
    kNone,
    // A junk line as the instrument comes up after a restart (a boot banner
    // broken by a NUL). It reaches the line just before the first reply to
    // "*IDN?" after the restart, where a real banner meets the updater too:
    // while it waits for that reply.
    kAfterRestart,
    kEveryReply,  // a few stray bytes before every reply to "*IDN?"
};

// The steps at which the instrument can vanish (the cable is pulled).
enum class Step {
    kNone,
    kIdentify,   // on "*IDN?"
    kModules,    // on the hardware-module query
    kSettings,   // on the settings query
    kMonitor,    // on the switch into the monitor
    kLoad,       // half-way through the image
    kChecksum,   // on "z"
    kCopy,       // half-way through programming the FLASH
    kRestart,    // on "rs"
    kCalibrate,  // on the self calibration
};

struct Timing {
    uint32_t baud = 115200;
    uint32_t bitsPerChar = 11;  // start, 8 data, 2 stop bits
    // No delays at all: line rate and every processing time are zero.
    bool fast = false;
    uint32_t replyDelayMs = 2;
    uint32_t iramLoadMs = 20;
    uint32_t flashProgramMs = 4000;
    uint32_t restartMs = 3000;
    uint32_t calibrationMs = 30000;
    // A load that gets no byte for this long is given up (also in fast mode,
    // where it is the only time that still runs).
    uint32_t loadTimeoutMs = 1000;

    // Time of one character on the line, in nanoseconds (0 in fast mode).
    uint64_t CharTimeNs() const;
    uint64_t DelayNs(uint32_t ms) const { return fast ? 0 : uint64_t(ms) * 1000000u; }
};

struct Faults {
    int64_t dropImageByteAt = -1;     // this image byte never arrives
    int64_t corruptImageByteAt = -1;  // this image byte arrives changed
    bool imageFaultEveryLoad = false; // false: only the first load is hit
    ChecksumFault wrongChecksum = ChecksumFault::kNone;
    bool wrongFlashChecksum = false;  // every sum over the FLASH is off by one
    bool silentAfterRestart = false;
    bool bootsOldFirmware = false;    // after "rs" it runs the firmware it had, the new image intact in its FLASH
    bool loadReplyLost = false;       // the monitor's answer to a completed load never arrives
    bool oldMonitor = false;          // the monitor reports version 1.50
    bool waitingForOtherCount = false;
    bool garbage = false;             // "*IDN?" is answered by a garbage line
    EndlessFault endless = EndlessFault::kNone;
    IdnNoise idnNoise = IdnNoise::kNone;
    int answerRs = 0;                 // "rs" is refused this many times; -1 always
    int failCalibrations = 0;         // this many self calibrations end with an error
    Step vanishAt = Step::kNone;
};

struct Config {
    Identity identity;
    std::vector<BoardRecord> boards = DefaultBoards();
    ModuleReply moduleReply = ModuleReply::kBlock;
    std::string monitorVersion = "2.01";
    // The adjustment settings: ("CH1:OFFS", "12") answers as ":ADJ:CH1:OFFS 12".
    std::vector<std::pair<std::string, std::string>> settings = DefaultSettings();
    std::string calibrationReply = "0,\"No error\"";
    BrokenFlash brokenFlash = BrokenFlash::kStayInMonitor;
    Timing timing;
    Faults faults;

    // The boards of a QV3108-2 with hardware ID 0x10011000.
    static std::vector<BoardRecord> DefaultBoards();
    static std::vector<std::pair<std::string, std::string>> DefaultSettings();
};

const char* StepName(Step step);
// Parses a step name as StepName gives it; false for an unknown name.
bool ParseStep(const std::string& name, Step& step);

}  // namespace sim
