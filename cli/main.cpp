// korva-upgrader-cli: the program's search and update without a window.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "base/Strings.h"
#include "base/UpdateLogFile.h"
#include "cli/CliFrontEnd.h"
#include "platform/StopSignal.h"
#include "platform/SysError.h"
#include "sim/SimCommandLine.h"
#include "sim/SimConfig.h"
#include "sim/d2xx/SimD2xxControl.h"
#include "transport/UsbLibraryFile.h"
#include "window/StartupInfo.h"

extern "C" const uint8_t korva_cli_usb_sim_begin[];
extern "C" const uint8_t korva_cli_usb_sim_end[];

namespace {

// The simulated library, loaded for the whole run: the attached instruments
// live in the library's own state, which an unload would take with it.
platform::SharedLibrary g_simulatedLibrary;

// Detaches the simulated instruments and lets go of the library before its
// file is deleted: their threads must end outside the system's unloading
// (Windows holds its loader lock there), and Windows deletes no loaded DLL.
void ReleaseSimulatedUsbLibrary() {
    if (auto reset = g_simulatedLibrary.Bind<PFN_KORVA_SimReset>("KORVA_SimReset")) reset();
    g_simulatedLibrary.Free();
}

// Writes the simulated USB library in place of the real one and attaches
// `count` simulated instruments (the simulator's default model) to it.
std::string WriteSimulatedUsbLibrary(int count, const std::string& version, const sim::Config& base) {
    EmbeddedFile simulated{korva_cli_usb_sim_begin,
                           static_cast<size_t>(korva_cli_usb_sim_end - korva_cli_usb_sim_begin)};
    std::string line = WriteUsbLibraryFile(&simulated);
    if (LoadUsbLibrary(g_simulatedLibrary) != 0) return line;
    auto attach = g_simulatedLibrary.Bind<PFN_KORVA_SimAttach>("KORVA_SimAttach");
    if (attach == nullptr) return line;
    sim::Config config = base;
    const bool ownSerial = config.identity.serialNumber != sim::Config().identity.serialNumber;
    // No line-rate emulation: the demonstration takes seconds, not minutes.
    config.timing.fast = true;
    if (!version.empty()) {
        config.identity.version1 = version.substr(0, 6);
        config.identity.version2 = version.substr(7);
    }
    for (int i = 1; i <= count; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "SIM%05d", i);
        if (!ownSerial) config.identity.serialNumber = std::to_string(100230 + i);
        attach(0x04036001, serial, &config);
    }
    return line;
}

// Output that could not be written (a full disk, a closed pipe) fails the
// run: a script must not take a cut-off listing for the whole one.
int CheckOutput(int exitCode) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return exitCode;
    std::fprintf(stderr, "korva-upgrader-cli: the output could not be written: %s\n", std::strerror(errno));
    return exitCode == kExitSuccess ? kExitFailure : exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed output pipe is a write error to report, not a reason to die
    // with the library file and the instrument left behind.
#ifdef SIGPIPE
    ::signal(SIGPIPE, SIG_IGN);
#endif
    const CliOptions options = ParseCliOptions(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "korva-upgrader-cli: %s\n\n%s", options.error.c_str(), CliUsage());
        return kExitUsage;
    }
    if (options.command == CliOptions::Command::kHelp) {
        std::fputs(CliUsage(), stdout);
        return CheckOutput(kExitSuccess);
    }
    sim::SimOptions simulated;
    std::string simError;
    if (!sim::ParseSimOptions(options.simulateWith, simulated, simError)) {
        std::fprintf(stderr, "korva-upgrader-cli: --simulate-with: %s\n\n%s", simError.c_str(), CliUsage());
        return kExitUsage;
    }
    // Before the library file is written: a stop from here on is handled,
    // so the file is removed on every way out.
    platform::Event* stop = platform::InstallStopSignalHandlers();
    if (options.language != 0) SetLanguageOverride(options.language);

    // The same log as the window writes, with the same start-up entry.
    CUpdateLogFile log;
    CUpdateLogFile::SetCurrent(&log);
    StartupFacts facts = GatherStartupFacts();
    if (options.usb) {
        facts.usbLibraryLine = options.simulate ? WriteSimulatedUsbLibrary(options.simulate, options.simulateVersion, simulated.config) : WriteUsbLibraryFile();
    }
    // A library that cannot be loaded keeps the log: service needs the reason.
    log.LogMessage("CWinApp", BuildStartupReport(facts), nullptr, UsbLibraryProblem().empty());
    int exitCode;
    {
        CCliFrontEnd frontEnd(options, g_bUsbDllCreated != 0, ::isatty(STDERR_FILENO) == 1);
        // Ctrl-C (and a closed terminal, and SIGTERM) cancels an update while
        // that is still possible, and ends a search.
        platform::Event quit(platform::Event::kManualReset);
        std::thread watcher;
        if (stop != nullptr) {
            watcher = std::thread([&] {
                while (platform::WaitForAny({&quit, stop}, platform::kInfinite) == 1) {
                    stop->Reset();
                    frontEnd.RequestStop();
                }
            });
        }
        exitCode = CheckOutput(frontEnd.Run());
        quit.Set();
        if (watcher.joinable()) watcher.join();
    }
    ReleaseSimulatedUsbLibrary();
    DeleteUsbLibraryFile();
    CUpdateLogFile::SetCurrent(nullptr);
    if (!log.IsDiscardable() && !options.json) std::fprintf(stderr, "Update log: %s\n", log.GetFilePath().c_str());
    return exitCode;
}
