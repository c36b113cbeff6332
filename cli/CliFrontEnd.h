// The command-line front end: the main window's logic (CUpdateWndCore) with
// a terminal view, driven by the same message window as the Qt window, so a
// search and an update behave exactly as they do in the window.
//
// Thread: the main thread only; workers reach it through the message window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/MessageWindow.h"
#include "cli/CliView.h"
#include "window/UpdateWndCore.h"

// Exit codes: what happened, for scripts.
enum CliExit : int {
    kExitSuccess = 0,   // listed, shown, or updated and verified
    kExitFailure = 1,   // the update failed, or the instrument was not found
    kExitRefused = 2,   // the rules or an unanswered question refused the update
    kExitUsage = 64,    // the command line was wrong
};

struct CliOptions {
    enum class Command { kNone, kList, kShow, kUpdate, kHelp };
    Command command = Command::kNone;
    std::string address;  // show/update: "COM3" or "USB Pid_6001 #FT123456"
    bool serial = false;
    bool usb = false;
    bool json = false;
    bool yes = false;
    bool fullCycle = false;
    uint16_t language = 0;  // 0: the user's locale
    int simulate = 0;       // simulated USB instruments instead of the real USB library
    std::string simulateVersion;  // their software version ("05.100-02.005" when empty)
    std::vector<std::string> simulateWith;  // korva-sim options (faults) for them
    std::string error;      // set when the command line is wrong
};

// Parses argv. Unknown options, a missing command or address, and a second
// command set `error`.
CliOptions ParseCliOptions(int argc, const char* const* argv);
const char* CliUsage();

class CCliFrontEnd {
public:
    CCliFrontEnd(const CliOptions& options, bool usbLibraryCreated, bool terminal);
    ~CCliFrontEnd();

    // Runs the command; returns the exit code. Output goes to stdout, the
    // progress to stderr.
    int Run();

    // Ctrl-C: cancels what can still be cancelled and ends the search.
    void RequestStop();

private:
    LRESULT Dispatch(uint32_t msg, WPARAM wParam, LPARAM lParam);
    // Switches the kinds on and pumps until one search cycle has ended or,
    // with `address`, until that instrument is listed. False on Ctrl-C.
    bool Search(const std::string& address);
    const CDeviceRow* FindRow(const std::string& address) const;
    int List();
    int Show();
    int Update();
    void PrintRow(const CDeviceRow& row, bool last);
    std::string ReasonOf(const CDeviceRow& row) const;

    const CliOptions m_Options;
    CliOutput m_Output;
    CMessageWindow m_Window;
    CCliView m_View;
    std::unique_ptr<CUpdateWndCore> m_pCore;
    uint16_t m_wStep = 0;
    int m_nIdleTicks = 0;
    bool m_bStop = false;
    bool m_bUpdateEnded = false;
    bool m_bUpdateSucceeded = false;  // WM_UPDATE_FINISHED came
    uint32_t m_dwUpdateCode = 0;      // WM_UPDATE_CANCELED's code (0: refused before it began)
};
