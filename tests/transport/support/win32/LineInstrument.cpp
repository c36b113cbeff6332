#include "LineInstrument.h"

#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "transport/CommDriver.h"
#include "transport/CommInterface.h"

namespace {

class SilentPeer : public linemodel::ILinePeer {
public:
    uint64_t Exchange(const std::string&, uint64_t, uint64_t, std::string*) override { return UINT64_MAX; }
};

// The peer lives as long as a port is open on it: a line removed meanwhile
// is unplugged, not freed under the port's clock thread. The holder is the
// first base, so it goes after the port has stopped.
struct PeerHolder {
    std::shared_ptr<linemodel::ILinePeer> peer;
};
class LinePort : private PeerHolder, public linemodel::ModelPort {
public:
    LinePort(const linemodel::LineConfig& config, std::shared_ptr<linemodel::ILinePeer> peer)
        : PeerHolder{std::move(peer)}, ModelPort(config, PeerHolder::peer.get()) {}
};

std::mutex g_linesMutex;
std::map<int, std::shared_ptr<linemodel::ILinePeer>> g_lines;  // by COM number; g_linesMutex

int Number(const std::string& comName) {
    return comName.size() > 3 && comName.compare(0, 3, "COM") == 0 ? std::atoi(comName.c_str() + 3) : 0;
}

uint32_t OpenLine(const std::string& name, std::unique_ptr<platform::ISerialPort>* port) {
    std::lock_guard<std::mutex> lock(g_linesMutex);
    const auto line = g_lines.find(Number(name));
    // A vanished device cannot be opened again.
    if (line == g_lines.end() || line->second->HungUp()) return ERROR_FILE_NOT_FOUND;
    // A fast line (1 us a character): the image takes seconds, not minutes.
    linemodel::LineConfig config;
    config.characterNs = 1000;
    *port = std::make_unique<LinePort>(config, line->second);
    return 0;
}

std::vector<std::string> ListLines() {
    std::lock_guard<std::mutex> lock(g_linesMutex);
    std::vector<std::string> names;
    for (const auto& [number, peer] : g_lines)
        if (!peer->HungUp()) names.push_back("COM" + std::to_string(number));
    return names;
}

std::string Register(int firstCom, std::shared_ptr<linemodel::ILinePeer> peer) {
    LinesOnly();
    std::lock_guard<std::mutex> lock(g_linesMutex);
    while (g_lines.count(firstCom)) ++firstCom;
    if (firstCom > 99) return {};
    g_lines[firstCom] = std::move(peer);
    return "COM" + std::to_string(firstCom);
}

}  // namespace

CLineInstrument::CLineInstrument(sim::Config config)
    : m_peer(std::make_shared<linemodel::InstrumentPeer>(std::move(config))) {}

uint32_t CLineInstrument::Start(int firstCom) {
    m_comName = Register(firstCom, m_peer);
    return m_comName.empty() ? ERROR_FILE_NOT_FOUND : 0;
}

void CLineInstrument::Stop() {
    if (m_comName.empty()) return;
    m_peer->Unplug();
    RemoveLine(m_comName);
    m_comName.clear();
}

CLineInstrument::Snapshot CLineInstrument::GetSettledSnapshot(uint32_t) {
    // The core's clock moves only when the line looks at it.
    const uint64_t now = linemodel::ModelPort::NowNs();
    std::string ignored;
    m_peer->Exchange({}, now, now, &ignored);
    const sim::CInstrument& core = m_peer->Core();
    return {core.GetState(), core.RunningIdentity(), core.GetCounters()};
}

std::string CLineInstrument::Query(const std::string& query, uint32_t timeoutMs) {
    std::string reply;
    const uint64_t now = linemodel::ModelPort::NowNs();
    m_peer->Exchange(query + "\n\r", now, now, &reply);
    const uint32_t start = platform::GetTickCount();
    while (reply.find('\n') == std::string::npos && platform::GetTickCount() - start < timeoutMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const uint64_t t = linemodel::ModelPort::NowNs();
        m_peer->Exchange({}, t, t, &reply);
    }
    const size_t end = reply.find('\n');
    return end == std::string::npos ? std::string() : reply.substr(0, end);
}

void LinesOnly() {
    CCommDriver::SetDefaultPortOpener(OpenLine);
    CCommInterface::SetDefaultPortLister(ListLines);
}

std::string AddSilentLine(int firstCom) { return Register(firstCom, std::make_shared<SilentPeer>()); }

void RemoveLine(const std::string& comName) {
    std::lock_guard<std::mutex> lock(g_linesMutex);
    g_lines.erase(Number(comName));
}
