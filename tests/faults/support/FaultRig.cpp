#include "FaultRig.h"

#include <cstdlib>

#include "FaultRun.h"
#include "base/ResultCodes.h"
#include "platform/Clock.h"
#include "resources/Resources.h"
#include "search/support/SearchTestSupport.h"

namespace faults {

namespace {

using namespace rig;

EmbeddedFile Image() {
    EmbeddedFile image;
    FindEmbeddedFile(IDR_FIRMWARE_IMAGE, image);
    return image;
}

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

FaultWorld::FaultWorld(const char* usbLibraryPath) : m_ports(OpenPortWorld()) {
    if (usbLibraryPath != nullptr) m_usb = std::make_unique<UsbSandbox>(usbLibraryPath);
}

FaultWorld::~FaultWorld() {
    m_usb.reset();
    m_ports.reset();
}

#ifdef _WIN32
// Pseudo-terminals are POSIX: the Windows build runs the USB half only.
std::shared_ptr<PortSandbox> rig::OpenPortWorld() { return nullptr; }
Outcome FaultWorld::RunSerial(const Scenario&) { return {}; }
#endif

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
    LogCapture log(m_logRoot.Path());
    {
        FrontEnd front(true, out);
        front.Core().SwitchUsb(true);
        const bool found = front.WaitForRow(name, kListingTimeoutMs);
        // The listing would drop a chip that goes with its restart.
        front.Core().SwitchUsb(false);
        if (found && s.swap) {
            m_usb->Unplug(serial);
            if (m_usb->Attach(serial, s.updated) != 0) return out;
        }
        out.listed = found;
        out.started = found && front.Start(name);
        out.ended = out.started && front.WaitForEnd(name, s.timeoutMs, s.cancelAtText);
        front.Collect(name);
        front.Close();
    }
    log.Finish(out);

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
