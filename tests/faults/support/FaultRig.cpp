#include "FaultRig.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "base/MessageWindow.h"
#include "base/ResultCodes.h"
#include "base/UpdateLogFile.h"
#include "base/WindowMessages.h"
#include "device/DeviceList.h"
#include "platform/Clock.h"
#include "resources/Resources.h"
#include "search/support/SearchTestSupport.h"
#include "tests/base/support/LogCapture.h"
#include "tools/logread/LogReader.h"
#include "transport/UsbLibraryFile.h"
#include "update/DeviceUpdateDoc.h"
#include "window/UpdateWndCore.h"

namespace faults {

namespace {

std::string ReadAll(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

// Closes the run's log as the program does at its end and reads back what
// was kept. Only after every thread that logs has gone.
void FinishLog(CUpdateLogFile& log, Outcome& out) {
    const std::string path = log.GetFilePath();
    CUpdateLogFile::SetCurrent(nullptr);
    // What was written, for the diagnosis of a failing run even when
    // closing deletes the file.
    const std::string before = ReadAll(path);
    log.Close();
    std::error_code ec;
    out.logKept = !path.empty() && std::filesystem::exists(path, ec);
    const std::string bytes = out.logKept ? ReadAll(path) : before;
    const LogReadResult read = ReadUpdateLog(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    out.logClean = out.logKept && read.clean;
    out.logText = read.text;
    if (!read.clean && !bytes.empty()) out.logDamage = read.problem + " at " + std::to_string(read.damagedAt);
}

// The headless main window of one run: the window logic with a recording
// view on a message window that this thread pumps. Records the two update
// outcomes on their way to the logic.
class FrontEnd {
public:
    FrontEnd(bool usbLibrary, Outcome& out) : m_out(out) {
        CMessageWindow::SetMain(&m_window);
        m_core = std::make_unique<CUpdateWndCore>(m_window, m_view, usbLibrary);
        m_window.SetHandler([this](uint32_t msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (msg == WM_UPDATE_FINISHED) m_out.finished = true;
            if (msg == WM_UPDATE_CANCELED && wParam != 0) {
                m_out.canceled = true;
                m_out.code = static_cast<uint32_t>(lParam);
            }
            return m_core ? m_core->Dispatch(msg, wParam, lParam) : 0;
        });
        m_core->OnInitDialog();
    }
    ~FrontEnd() { Close(); }

    // Closing the window stops every search and update it runs.
    void Close() {
        if (!m_core) return;
        m_core->OnCancel();
        m_core.reset();
        m_window.SetHandler({});
        if (CMessageWindow::Main() == &m_window) CMessageWindow::SetMain(nullptr);
    }

    CUpdateWndCore& Core() { return *m_core; }
    const CDeviceRow* Row(const std::string& address) const { return m_view.FindRow(address); }

    bool WaitForRow(const std::string& address, uint32_t timeoutMs) {
        return m_window.PumpUntil([&] { return Row(address) != nullptr; }, timeoutMs);
    }

    // Selects the row and presses Start Update.
    bool Start(const std::string& address) {
        const CDeviceRow* row = Row(address);
        if (row == nullptr) return false;
        m_core->OnActivateDevice(row->port);
        if (!m_view.startUpdateEnabled) return false;
        m_core->OnStartDeviceUpdate();
        return true;
    }

    // Pumps until the update has ended and its thread object is gone;
    // presses Cancel once the progress window shows `cancelAtText`.
    bool WaitForEnd(const std::string& address, uint32_t timeoutMs, uint32_t cancelAtText) {
        bool cancelled = cancelAtText == 0;
        const bool ended = m_window.PumpUntil(
            [&] {
                const CDeviceRow* running = Row(address);
                if (!cancelled && running && (running->state & DEVICE_STATE_RUNNING) &&
                    !m_view.progressWindows.empty()) {
                    const auto& window = m_view.progressWindows.back();
                    const std::vector<uint32_t> texts = window->Texts();
                    if (std::find(texts.begin(), texts.end(), cancelAtText) != texts.end()) {
                        window->Cancel();
                        cancelled = true;
                    }
                }
                const CDeviceRow* r = Row(address);
                CDeviceUpdateDoc* doc = m_core->GetUpdateDoc();
                return r && !(r->state & DEVICE_STATE_RUNNING) && doc && doc->GetThreadCount() == 0;
            },
            timeoutMs);
        return ended && m_core->GetUpdateDoc()->WaitForDestructions(5000);
    }

    void Collect(const std::string& address) {
        if (const CDeviceRow* row = Row(address)) {
            m_out.rowImage = row->image;
            m_out.rowVersion = row->version;
        }
        for (const auto& message : m_view.messages) m_out.dialogs.push_back(message.code);
        if (!m_view.progressWindows.empty()) m_out.texts = m_view.progressWindows.back()->Texts();
        m_out.progressClosed = m_view.progressWindowsOpen == 0;
    }

private:
    Outcome& m_out;
    CMessageWindow m_window;
    CRecordingUpdateWndView m_view;
    std::unique_ptr<CUpdateWndCore> m_core;
};

std::string SettingsText(const std::vector<std::pair<std::string, std::string>>& settings) {
    std::string text;
    for (const auto& [key, value] : settings) {
        if (!text.empty()) text += ';';
        text += ":ADJ:" + key + " " + value;
    }
    return text;
}

std::string JudgeSettings(const std::string& reply, const sim::Config& config) {
    if (reply == SettingsText(config.settings)) return "orig";
    auto blank = config.settings;
    for (auto& setting : blank) setting.second = "0";
    if (reply == SettingsText(blank)) return "blank";
    return "other";
}

std::string Version(const sim::Identity& identity) { return identity.version1 + "-" + identity.version2; }

EmbeddedFile Image() {
    EmbeddedFile image;
    FindEmbeddedFile(IDR_FIRMWARE_IMAGE, image);
    return image;
}

// Restores the program's timing whatever way a run ends.
struct TimingScope {
    explicit TimingScope(const UpdateTiming& timing) { SetUpdateTiming(timing); }
    ~TimingScope() { SetUpdateTiming(UpdateTiming::Standard()); }
};

// The search may need a full listing cycle; the update is bounded by the
// scenario.
constexpr uint32_t kListingTimeoutMs = 15000;

}  // namespace

const char* TransportName(Transport transport) { return transport == Transport::kSerial ? "serial" : "usb"; }

std::string TargetVersion() { return "05.306-02.011"; }

std::string CodeName(uint32_t code) {
    switch (code) {
        case RC_UPDATE_FINISHED: return "FINISHED";
        case RC_UPDATE_CANCELED: return "CANCELED";
        case RC_UPDATE_TIMEOUT: return "TIMEOUT";
        case RC_UPDATE_REPEAT: return "REPEAT";
        case RC_UPDATE_DATA_RECEIVED: return "DATA_RECEIVED";
        case RC_MONITOR_UPDATE_REQUIRED: return "MONITOR_REQUIRED";
        default: break;
    }
    char text[32];
    std::snprintf(text, sizeof text, IsResultCode(code) ? "0x%08X" : "%u", code);
    return text;
}

// ---------------------------------------------------------------- FaultWorld

namespace {

// One SCPI query put to the simulated instrument; "" after `timeoutMs`.
std::string Query(sim::CPtyInstrument& instrument, const std::string& query, uint32_t timeoutMs) {
#ifdef _WIN32
    return instrument.Query(query, timeoutMs);
#else
    platform::TerminalClient terminal;
    if (terminal.Open(instrument.DevicePath()) != 0) return {};
    const std::string message = query + "\n\r";
    size_t written = 0;
    terminal.Write(reinterpret_cast<const uint8_t*>(message.data()), message.size(), written);
    std::string reply;
    const uint32_t start = platform::GetTickCount();
    while (reply.find('\n') == std::string::npos && platform::GetTickCount() - start < timeoutMs) {
        platform::Waitable readable = terminal.Readable();
        // Bounded: the fast simulator answers at once.
        if (platform::WaitForAny(&readable, 1, 50) == platform::kWaitTimeout) continue;
        uint8_t buffer[512];
        size_t got = 0;
        if (terminal.Read(buffer, sizeof buffer, got) != 0) break;
        reply.append(reinterpret_cast<const char*>(buffer), got);
    }
    const size_t end = reply.find('\n');
    return end == std::string::npos ? std::string() : reply.substr(0, end);
#endif
}

// One run through the headless main window: the port kind on until the
// instrument's row shows, then off (the listing would go on searching);
// `swap` puts in the updated instrument where the scenario asks; Start, and
// the end awaited. The run's log, in a private folder of its own, is read
// back. False if the swap failed.
bool Drive(bool usb, const std::string& address, const Scenario& s, Outcome& out, const std::function<bool()>& swap) {
    LogCapture log;
    {
        FrontEnd front(usb, out);
        if (usb) front.Core().SwitchUsb(true);
        else front.Core().OnCommand(ID_SERIAL_ACTIVATE);
        const bool found = front.WaitForRow(address, kListingTimeoutMs);
        if (usb) front.Core().SwitchUsb(false);
        else front.Core().SwitchSerial(false);
        if (found && s.swap && !swap()) return false;
        out.listed = found;
        out.started = found && front.Start(address);
        out.ended = out.started && front.WaitForEnd(address, s.timeoutMs, s.cancelAtText);
        front.Collect(address);
        front.Close();
    }
    FinishLog(log.Log(), out);
    return true;
}

}  // namespace

Outcome FaultWorld::RunSerial(const Scenario& s) {
    Outcome out;
    TimingScope timing(s.timing);
    sim::CPtyInstrument* instrument = m_ports->AddInstrument(s.listed, 40);
    if (instrument == nullptr) return out;
    const std::string com = instrument->ComName();
    const int number = std::atoi(com.c_str() + 3);
    const bool ran = Drive(false, com, s, out, [&] {
        m_ports->RemoveInstrument(instrument);
        instrument = m_ports->AddInstrument(s.updated, number);
        return instrument != nullptr && instrument->ComName() == com;
    });
    if (!ran) return out;

    const sim::CPtyInstrument::Snapshot snapshot = instrument->GetSettledSnapshot(3000);
    out.sim.present = !instrument->HasVanished();
    out.sim.state = sim::CInstrument::StateName(snapshot.state);
    out.sim.version = Version(snapshot.identity);
    out.sim.counters = snapshot.counters;
    // The terminal shows no memory: a FLASH never programmed is all it can tell.
    out.sim.flash = snapshot.counters.flashPrograms == 0 && out.sim.present ? "untouched" : "?";
    if (out.sim.present && snapshot.state == sim::CInstrument::State::kScpi && s.updated.faults.endless == sim::EndlessFault::kNone) {
        const std::string reply = Query(*instrument, ":Service:Mode kAccess;:System:Adjust?;", 2000);
        out.sim.settings = reply.empty() ? "?" : JudgeSettings(reply, s.updated);
    }
    m_ports->RemoveInstrument(instrument);
    return out;
}

FaultWorld::FaultWorld(const char* usbLibraryPath) {
    m_ports = std::make_shared<PortSandbox>();
    if (usbLibraryPath != nullptr) m_usb = std::make_unique<UsbSandbox>(usbLibraryPath);
}

FaultWorld::~FaultWorld() {
    m_usb.reset();
    m_ports.reset();
}

bool FaultWorld::UsbReady() const { return m_usb && m_usb->IsReady(); }

Outcome FaultWorld::Run(Transport transport, const Scenario& scenario) {
    const uint32_t start = platform::GetTickCount();
    Outcome out = transport == Transport::kSerial ? RunSerial(scenario) : RunUsb(scenario);
    out.elapsedMs = platform::GetTickCount() - start;
    return out;
}

Outcome FaultWorld::RunUsb(const Scenario& s) {
    Outcome out;
    if (!UsbReady()) return out;
    TimingScope timing(s.timing);
    const std::string serial = s.usbSerial;
    const std::string name = "USB Pid_6001 #" + serial;
    if (m_usb->Attach(serial, s.listed) != 0) return out;
    if (!Drive(true, name, s, out, [&] { return m_usb->Unplug(serial) == 0 && m_usb->Attach(serial, s.updated) == 0; }))
        return out;

    const EmbeddedFile image = Image();
    const sim::Config& config = s.updated;
    out.sim.present = m_usb->Inspect(serial, [&](const sim::CInstrument& instrument) {
        out.sim.state = sim::CInstrument::StateName(instrument.GetState());
        out.sim.version = Version(instrument.RunningIdentity());
        out.sim.counters = instrument.GetCounters();
        const std::vector<uint8_t>& flash = instrument.Flash();
        const size_t start = std::strtod(config.monitorVersion.c_str(), nullptr) < 2.0 ? 0xA000 : 0x10000;
        if (flash.empty()) {
            out.sim.flash = "untouched";
        } else if (image.data != nullptr && flash.size() >= start + image.size &&
                   std::equal(image.data, image.data + image.size, flash.begin() + static_cast<ptrdiff_t>(start))) {
            out.sim.flash = "new";
        } else {
            out.sim.flash = "other";
        }
        if (instrument.GetState() == sim::CInstrument::State::kScpi)
            out.sim.settings = JudgeSettings(SettingsText(instrument.Settings()), config);
    });
    if (out.sim.present && out.sim.state == "vanished") out.sim.present = false;
    m_usb->Unplug(serial);
    return out;
}

}  // namespace faults
