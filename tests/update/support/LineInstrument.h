// The update tests' instrument on a port, where pseudo-terminals are
// missing (Windows): the in-process simulator at the far end of a fast
// modelled line behind the driver's port seam, under a COM name of its own.
// It offers what the tests use of sim::CPtyInstrument. Names without an
// instrument fail to open, so no test reaches a system port.
// Thread: the test thread; the ports' clock threads run the core while open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/Instrument.h"
#include "tests/transport/support/InstrumentPeer.h"

namespace updtest {

class CLineInstrument {
public:
    struct Snapshot {
        sim::CInstrument::State state;
        sim::Identity identity;
        sim::CInstrument::Counters counters;
    };
    explicit CLineInstrument(sim::Config config) : m_peer(std::move(config)) {}
    ~CLineInstrument();
    CLineInstrument(const CLineInstrument&) = delete;
    CLineInstrument& operator=(const CLineInstrument&) = delete;

    // Registers the first free COM name from `firstCom` on. Returns 0.
    uint32_t Start(int firstCom);
    const std::string& ComName() const { return m_comName; }
    // The core brought up to now; only while no port is open on it.
    Snapshot GetSettledSnapshot(uint32_t timeoutMs);

private:
    static uint32_t Open(const std::string& name, std::unique_ptr<platform::ISerialPort>* port);

    linemodel::InstrumentPeer m_peer;
    std::string m_comName;
};

}  // namespace updtest
