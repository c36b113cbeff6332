#include "PortSandbox.h"

#include <algorithm>

#include "platform/PortAlias.h"
#include "platform/PortListing.h"

PortSandbox::PortSandbox() {
    // Every port the machine lists gets an alias of its own number to a
    // silent terminal: the alias replaces the derived name.
    for (const platform::SerialPortEntry& entry : platform::ListSerialPorts()) {
        auto pty = std::make_unique<platform::PseudoTerminal>();
        if (pty->Open() != 0) continue;
        if (platform::RegisterPortAlias(entry.comName, pty->PeerPath()) == 0) m_empty.push_back(std::move(pty));
    }
}

PortSandbox::~PortSandbox() {
    m_instruments.clear();
    m_empty.clear();
}

std::string PortSandbox::AddEmptyPort(int firstCom) {
    auto pty = std::make_unique<platform::PseudoTerminal>();
    if (pty->Open() != 0) return {};
    const int number = platform::FreeAliasNumber(firstCom);
    if (number == 0) return {};
    const std::string name = "COM" + std::to_string(number);
    if (platform::RegisterPortAlias(name, pty->PeerPath()) != 0) return {};
    m_empty.push_back(std::move(pty));
    return name;
}

sim::CPtyInstrument* PortSandbox::AddInstrument(const sim::Config& config, int firstCom) {
    auto instrument = std::make_unique<sim::CPtyInstrument>(config);
    if (instrument->Start(firstCom) != 0) return nullptr;
    m_instruments.push_back(std::move(instrument));
    return m_instruments.back().get();
}

void PortSandbox::RemoveInstrument(sim::CPtyInstrument* instrument) {
    auto it = std::find_if(m_instruments.begin(), m_instruments.end(),
                           [&](const auto& p) { return p.get() == instrument; });
    if (it != m_instruments.end()) m_instruments.erase(it);
}
