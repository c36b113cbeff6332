// The korva-sim program: its usage text and the run of instruments on
// pseudo-terminals (the option parsing is portable, in SimCommandLine.cpp).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/Clock.h"
#include "platform/PortAlias.h"
#include "platform/SysError.h"
#include "sim/PtyInstrument.h"
#include "sim/SimCommandLine.h"

namespace sim {

namespace {


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
  --boots-old-firmware    after "rs" it runs its old firmware, the new one in its FLASH
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
