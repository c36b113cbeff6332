// Where pseudo-terminals are missing: simulated instruments and silent lines
// at the far end of fast modelled lines, listed and opened under COM names
// of their own through the serial driver's and interface's seams. Once one
// was registered (or LinesOnly called), the process lists and opens no
// system port, so no test reaches real hardware. CLineInstrument offers
// what the tests use of sim::CPtyInstrument.
// Thread: the test thread; the ports' clock threads run the cores while open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tests/transport/support/InstrumentPeer.h"

class CLineInstrument {
public:
    struct Snapshot {
        sim::CInstrument::State state;
        sim::Identity identity;
        sim::CInstrument::Counters counters;
    };
    explicit CLineInstrument(sim::Config config);
    ~CLineInstrument() { Stop(); }
    // Registers the first free COM name from `firstCom` on. Returns 0.
    uint32_t Start(int firstCom);
    // Unregisters the name; a port still open on it sees the device vanish.
    void Stop();
    const std::string& ComName() const { return m_comName; }
    bool HasVanished() const { return m_peer->HungUp(); }
    // The core brought up to now; only while no port is open on it.
    Snapshot GetSettledSnapshot(uint32_t timeoutMs);
    // One SCPI query put to the core; its reply line, "" after `timeoutMs`.
    // Only while no port is open on it.
    std::string Query(const std::string& query, uint32_t timeoutMs);

private:
    std::shared_ptr<linemodel::InstrumentPeer> m_peer;
    std::string m_comName;
};

// From now on only lines are listed and opened.
void LinesOnly();
// A line with nothing at its far end, from `firstCom` on; "" if none is free.
std::string AddSilentLine(int firstCom);
void RemoveLine(const std::string& comName);

namespace sim { using CPtyInstrument = ::CLineInstrument; }
// No alias folder to keep private: the names live in the seams.
struct RuntimeDirScope {};
