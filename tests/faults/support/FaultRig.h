// One update of a simulated instrument through the headless main window
// (CUpdateWndCore with a recording view), with everything a fault can
// leave behind gathered for inspection: the result the window got, the
// device list row, the message dialogs, the progress texts, the update log
// read back from its file, and the simulator's firmware, FLASH and
// settings.
//
// The instrument is first found by a real search; then the search is
// switched off and, if asked, the instrument behind the same port is
// replaced by one with the fault, so that faults on the identification
// queries hit the update's identity check after the restart and not the
// search.
//
// Thread: the test thread only; it owns and pumps the main window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/Instrument.h"
#include "sim/SimConfig.h"
#include "update/UpdateTiming.h"

class PortSandbox;
class UsbSandbox;

namespace faults {

enum class Transport { kSerial, kUsb };
const char* TransportName(Transport transport);

// What the simulator holds after the update.
struct SimState {
    bool present = false;          // still attached / its terminal still open
    std::string state;             // CInstrument::StateName
    std::string version;           // the firmware it runs: "05.306-02.011"
    sim::CInstrument::Counters counters;
    // "new": holds the carried image; "untouched": never programmed;
    // "other": programmed with something else (half an image); "?": the
    // FLASH cannot be read (pseudo-terminal host).
    std::string flash = "?";
    // "orig": its own values; "blank": reset by a new firmware; "other";
    // "?": not readable (the instrument is not in SCPI).
    std::string settings = "?";
};

struct Outcome {
    bool listed = false;       // the search found it (it has a row)
    bool started = false;      // its row offered an update and it was started
    bool ended = false;        // the update ended and its thread is gone
    bool finished = false;     // WM_UPDATE_FINISHED came
    bool canceled = false;     // WM_UPDATE_CANCELED came
    uint32_t code = 0;         // its result code
    int rowImage = -1;         // the row's image after the update (3 succeeded, 4 failed)
    std::string rowVersion;
    std::vector<uint32_t> dialogs;  // message dialogs shown, by code
    std::vector<uint32_t> texts;    // the progress window's step texts
    bool progressClosed = false;    // every progress window made was deleted
    bool logKept = false;           // the log file was left behind
    bool logClean = false;          // it reads back as an update log without damage
    std::string logText;
    std::string logDamage;          // why it does not read back clean, and where
    SimState sim;
    uint32_t elapsedMs = 0;
};

struct Scenario {
    // The instrument the search finds.
    sim::Config listed;
    // The instrument behind the port during the update (with the fault);
    // without `swap` the listed one is updated.
    sim::Config updated;
    bool swap = false;
    // Serial number of the USB chip (15 characters at most).
    std::string usbSerial = "FT0F0001";
    UpdateTiming timing = UpdateTiming::Shortened();
    // Cancel is pressed once the progress window shows this text (0: never).
    uint32_t cancelAtText = 0;
    // Under Wine every chunk of the image passes through its server: an
    // update with three loads takes over a minute on a busy machine.
    uint32_t timeoutMs = 180000;
};

// The serial side's port world (the machine's own ports hidden behind
// silent terminals) and, for USB, the loaded simulated library; both live
// across scenarios. Thread: the test thread.
class FaultWorld {
public:
    explicit FaultWorld(const char* usbLibraryPath);
    ~FaultWorld();
    bool UsbReady() const;
    Outcome Run(Transport transport, const Scenario& scenario);

private:
    Outcome RunSerial(const Scenario& scenario);
    Outcome RunUsb(const Scenario& scenario);

    std::shared_ptr<PortSandbox> m_ports;
    std::unique_ptr<UsbSandbox> m_usb;
};

// The carried firmware's identity ("05.306-02.011").
std::string TargetVersion();
// "FINISHED", "TIMEOUT", ... or the system error number.
std::string CodeName(uint32_t code);

}  // namespace faults
