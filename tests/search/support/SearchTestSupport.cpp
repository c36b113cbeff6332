#include "SearchTestSupport.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "base/WindowMessages.h"
#include "platform/Clock.h"
#include "resources/Resources.h"
#include "transport/UsbLibraryFile.h"

// --- PortSandbox ------------------------------------------------------------------

#ifdef _WIN32
PortSandbox::PortSandbox() { LinesOnly(); }

std::string PortSandbox::AddEmptyPort(int firstCom) {
    const std::string name = AddSilentLine(firstCom);
    if (!name.empty()) m_empty.push_back(name);
    return name;
}
#else
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
#endif

PortSandbox::~PortSandbox() {
    m_instruments.clear();
#ifdef _WIN32
    for (const std::string& name : m_empty) RemoveLine(name);
#endif
    m_empty.clear();
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

// --- UsbSandbox -------------------------------------------------------------------

UsbSandbox::UsbSandbox(const char* libraryPath) {
    std::error_code ec;
    m_previous = std::filesystem::current_path(ec);
    std::filesystem::current_path(m_dir.Path(), ec);
    if (ec) return;
#ifdef _WIN32
    // The library goes into %TMP%\KORVA (GetTempPath reads TMP first): a
    // folder of this process's own, so parallel test processes never clean
    // up each other's files, and the command-line runs find none of theirs.
    if (_putenv_s("TMP", m_dir.Path().c_str()) != 0) return;
#endif
    m_bytes = ReadFileBytes(libraryPath);
    if (m_bytes.empty()) return;
    EmbeddedFile file{m_bytes.data(), m_bytes.size()};
    WriteUsbLibraryFile(&file);
    if (g_bUsbDllCreated.load() != 1 || LoadUsbLibrary(m_control) != 0) return;
    m_attach = m_control.Bind<PFN_KORVA_SimAttach>("KORVA_SimAttach");
    m_unplug = m_control.Bind<PFN_KORVA_SimUnplug>("KORVA_SimUnplug");
    m_inspect = m_control.Bind<PFN_KORVA_SimInspect>("KORVA_SimInspect");
    m_reset = m_control.Bind<PFN_KORVA_SimReset>("KORVA_SimReset");
    m_limit = m_control.Bind<PFN_KORVA_SimLimitWrites>("KORVA_SimLimitWrites");
    if (!m_attach || !m_unplug || !m_inspect || !m_reset || !m_limit) return;
    m_reset();
    m_ready = true;
}

UsbSandbox::~UsbSandbox() {
    if (m_reset) m_reset();
    DeleteUsbLibraryFile();
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
}

int UsbSandbox::Attach(const std::string& serial, const sim::Config& config, uint32_t deviceId) {
    return m_attach ? m_attach(deviceId, serial.c_str(), &config) : -1;
}

int UsbSandbox::Unplug(const std::string& serial) { return m_unplug ? m_unplug(serial.c_str()) : -1; }

int UsbSandbox::LimitWrites(const std::string& serial, uint32_t maxBytes, int writes) {
    return m_limit ? m_limit(serial.c_str(), maxBytes, writes) : -1;
}

// --- RecordingWindow -----------------------------------------------------------------

RecordingWindow::RecordingWindow(CMessageWindow::Handler next) : m_next(std::move(next)) {
    m_window.SetHandler([this](uint32_t msg, WPARAM wParam, LPARAM lParam) { return Handle(msg, wParam, lParam); });
    CMessageWindow::SetMain(&m_window);
}

RecordingWindow::~RecordingWindow() {
    if (CMessageWindow::Main() == &m_window) CMessageWindow::SetMain(nullptr);
}

LRESULT RecordingWindow::Handle(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    SentMessage sent{msg, wParam, platform::GetTickCount(), {}, {}};
    if (msg == WM_DEVICE_SEARCH_FINISHED && wParam && lParam) {
        const DevicePtr& device = *reinterpret_cast<const DevicePtr*>(wParam);
        const PortPtr& port = *reinterpret_cast<const PortPtr*>(lParam);
        if (port) sent.port = port->GetName();
        if (device) sent.device = device->GetDeviceName() + " " + device->GetSoftwareVersion();
        if (keepRecords) records.emplace_back(device, port);
    }
    m_log.push_back(sent);
    return m_next ? m_next(msg, wParam, lParam) : 0;
}

bool RecordingWindow::PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    return m_window.PumpUntil(done, timeoutMs);
}

size_t RecordingWindow::Count(uint32_t msg) const {
    return static_cast<size_t>(std::count_if(m_log.begin(), m_log.end(), [&](const auto& m) { return m.msg == msg; }));
}

int RecordingWindow::Find(uint32_t msg, size_t from) const {
    for (size_t i = from; i < m_log.size(); ++i)
        if (m_log[i].msg == msg) return static_cast<int>(i);
    return -1;
}

std::vector<SentMessage> RecordingWindow::FinishedFor(const std::string& address) const {
    std::vector<SentMessage> out;
    for (const auto& m : m_log)
        if (m.msg == WM_DEVICE_SEARCH_FINISHED && m.port == address) out.push_back(m);
    return out;
}

sim::Config FastInstrument(const std::string& serial) {
    sim::Config config;
    config.identity.serialNumber = serial;
    config.timing.fast = true;
    return config;
}
