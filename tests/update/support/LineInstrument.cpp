#include "LineInstrument.h"

#include <map>
#include <mutex>

#include "platform/SysError.h"
#include "transport/CommDriver.h"

namespace updtest {

namespace {

std::mutex g_mutex;
std::map<std::string, CLineInstrument*> g_lines;  // by COM name; g_mutex

}  // namespace

uint32_t CLineInstrument::Open(const std::string& name, std::unique_ptr<platform::ISerialPort>* port) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto line = g_lines.find(name);
    if (line == g_lines.end()) return ERROR_FILE_NOT_FOUND;
    // A fast line (1 us a character): the image takes seconds, not minutes.
    linemodel::LineConfig config = linemodel::LineConfig::Uart();
    config.characterNs = 1000;
    *port = std::make_unique<linemodel::ModelPort>(config, &line->second->m_peer);
    return 0;
}

CLineInstrument::~CLineInstrument() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.erase(m_comName);
    if (g_lines.empty()) CCommDriver::SetDefaultPortOpener({});
}

uint32_t CLineInstrument::Start(int firstCom) {
    std::lock_guard<std::mutex> lock(g_mutex);
    int number = firstCom;
    while (g_lines.count("COM" + std::to_string(number))) ++number;
    m_comName = "COM" + std::to_string(number);
    g_lines[m_comName] = this;
    // Again each time: a test may have put back the system's ports.
    CCommDriver::SetDefaultPortOpener(&CLineInstrument::Open);
    return 0;
}

CLineInstrument::Snapshot CLineInstrument::GetSettledSnapshot(uint32_t) {
    // The core's clock moves only when the line looks at it.
    const uint64_t now = linemodel::ModelPort::NowNs();
    std::string ignored;
    m_peer.Exchange({}, now, now, &ignored);
    sim::CInstrument& core = m_peer.Core();
    return {core.GetState(), core.RunningIdentity(), core.GetCounters()};
}

}  // namespace updtest
