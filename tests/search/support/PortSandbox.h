// A private port world for the serial searches: the machine's own serial
// ports hidden behind silent pseudo-terminals, simulated instruments on
// pseudo-terminals.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/PseudoTerminal.h"
#include "sim/PtyInstrument.h"
#include "sim/SimConfig.h"
#include "tests/base/support/TempDir.h"

// XDG_RUNTIME_DIR points at a fresh folder for the object's life, and every
// serial port the machine would list is renamed (by an alias) to a silent
// pseudo-terminal, so a search never opens a real port (the console may
// be one). Thread: the test thread.
class PortSandbox {
public:
    PortSandbox();
    ~PortSandbox();
    // A pseudo-terminal with nothing attached, registered from `firstCom`
    // on. Returns its COM name ("" on failure).
    std::string AddEmptyPort(int firstCom);
    // A simulated instrument on a pseudo-terminal from `firstCom` on.
    sim::CPtyInstrument* AddInstrument(const sim::Config& config, int firstCom);
    // Stops one instrument (its alias goes with it).
    void RemoveInstrument(sim::CPtyInstrument* instrument);
    const std::string& Path() const { return m_path; }

private:
    RuntimeDirScope m_runtime;
    const std::string& m_path = m_runtime.Path();
    std::vector<std::unique_ptr<platform::PseudoTerminal>> m_empty;
    std::vector<std::unique_ptr<sim::CPtyInstrument>> m_instruments;
};
