// The serial half of the fault runs: simulated instruments on
// pseudo-terminals (POSIX only).
#include <cstdlib>

#include "FaultRun.h"
#include "platform/Clock.h"
#include "platform/PseudoTerminal.h"
#include "search/support/PortSandbox.h"

namespace faults {

using namespace rig;

namespace {

// One SCPI query on the simulator's terminal; "" after `timeoutMs`.
std::string Query(const std::string& devicePath, const std::string& query, uint32_t timeoutMs) {
    platform::TerminalClient terminal;
    if (terminal.Open(devicePath) != 0) return {};
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
}

}  // namespace

std::shared_ptr<PortSandbox> rig::OpenPortWorld() { return std::make_shared<PortSandbox>(); }

Outcome FaultWorld::RunSerial(const Scenario& s) {
    Outcome out;
    TimingScope timing(s.timing);
    sim::CPtyInstrument* instrument = m_ports->AddInstrument(s.listed, 40);
    if (instrument == nullptr) return out;
    const std::string com = instrument->ComName();
    const int number = std::atoi(com.c_str() + 3);
    LogCapture log(m_logRoot.Path());
    {
        FrontEnd front(false, out);
        front.Core().OnCommand(ID_SERIAL_ACTIVATE);
        const bool found = front.WaitForRow(com, kListingTimeoutMs);
        // The listing would otherwise keep searching the other ports.
        front.Core().SwitchSerial(false);
        if (found && s.swap) {
            m_ports->RemoveInstrument(instrument);
            instrument = m_ports->AddInstrument(s.updated, number);
            if (instrument == nullptr || instrument->ComName() != com) return out;
        }
        out.listed = found;
        out.started = found && front.Start(com);
        out.ended = out.started && front.WaitForEnd(com, s.timeoutMs, s.cancelAtText);
        front.Collect(com);
        front.Close();
    }
    log.Finish(out);

    const sim::CPtyInstrument::Snapshot snapshot = instrument->GetSettledSnapshot(3000);
    out.sim.present = !instrument->HasVanished();
    out.sim.state = sim::CInstrument::StateName(snapshot.state);
    out.sim.version = Version(snapshot.identity);
    out.sim.counters = snapshot.counters;
    // The terminal shows no memory: a FLASH never programmed is all it can tell.
    out.sim.flash = snapshot.counters.flashPrograms == 0 && out.sim.present ? "untouched" : "?";
    if (out.sim.present && snapshot.state == sim::CInstrument::State::kScpi && s.updated.faults.endless == sim::EndlessFault::kNone) {
        const std::string reply = Query(instrument->DevicePath(), ":Service:Mode kAccess;:System:Adjust?;", 2000);
        out.sim.settings = reply.empty() ? "?" : JudgeSettings(reply, s.updated);
    }
    m_ports->RemoveInstrument(instrument);
    return out;
}

}  // namespace faults
