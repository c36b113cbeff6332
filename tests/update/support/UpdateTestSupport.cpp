#include "UpdateTestSupport.h"

#include <cstdio>

#include "base/WindowMessages.h"
#include "resources/FirmwareImage.h"

namespace updtest {

bool CRecordingProgressWindow::PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_posts.push_back({msg, wParam, lParam});
    }
    uint32_t cancelAt = static_cast<uint32_t>(lParam);
    if (msg == WM_SET_UPDATE_MESSAGE && cancelAt != 0 && m_cancelAtText.compare_exchange_strong(cancelAt, 0))
        m_thread->CancelUpdate();
    if (m_wake) m_wake->PostMsg(0);
    return true;
}

std::vector<CRecordingProgressWindow::Post> CRecordingProgressWindow::Posts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_posts;
}

std::vector<uint32_t> CRecordingProgressWindow::Texts() {
    std::vector<uint32_t> texts;
    for (const Post& p : Posts())
        if (p.msg == WM_SET_UPDATE_MESSAGE) texts.push_back(static_cast<uint32_t>(p.lParam));
    return texts;
}

bool CRecordingProgressWindow::HasText(uint32_t id) {
    for (uint32_t t : Texts())
        if (t == id) return true;
    return false;
}

DevicePtr MakeDevice(const sim::Config& config) {
    auto device = std::make_shared<CDeviceParameter>();
    char hw[16];
    std::snprintf(hw, sizeof hw, "HW%08X", config.identity.hardwareId);
    const std::string idn = config.identity.maker + "," + config.identity.deviceName + "," +
                            config.identity.serialNumber + "," + hw + ",SW" + config.identity.version1 + "-" +
                            config.identity.version2;
    device->SetIdnParameter(idn);
    std::string data;
    for (const sim::BoardRecord& r : config.boards) {
        data += static_cast<char>(r.code & 0xFF);
        data += static_cast<char>(r.code >> 8);
        data += static_cast<char>(r.value & 0xFF);
        data += static_cast<char>(r.value >> 8);
    }
    const std::string digits = std::to_string(data.size());
    const std::string block = "#" + std::to_string(digits.size()) + digits + data;
    device->SetBoardIds(CByteBuffer(block.data(), block.size()));
    return device;
}

PortPtr SerialPort(const std::string& comName) {
    auto port = std::make_shared<CInterfaceParameter>();
    port->SetSerialPort(comName.c_str());
    return port;
}

PortPtr UsbPort(uint32_t deviceId, const std::string& serial) {
    auto port = std::make_shared<CInterfaceParameter>();
    port->SetUsbPort(deviceId, serial.c_str());
    return port;
}

sim::Config FastConfig() {
    sim::Config config;
    config.timing.fast = true;
    return config;
}

// ---------------------------------------------------------------- harness

CUpdateHarness::CUpdateHarness() {
    m_window.SetHandler([this](uint32_t msg, WPARAM w, LPARAM l) { return Handle(msg, w, l); });
    CMessageWindow::SetMain(&m_window);
}

CUpdateHarness::~CUpdateHarness() { CMessageWindow::SetMain(nullptr); }

LRESULT CUpdateHarness::Handle(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE_DEVICE_UPDATE_WINDOW) {
        auto* thread = CObject::DownCast<CDevUpdateThread>(reinterpret_cast<CObject*>(lParam));
        if (thread == nullptr) return 0;
        auto window = std::make_shared<CRecordingProgressWindow>(reinterpret_cast<const char*>(wParam), thread,
                                                                 &m_window);
        window->CancelAtText(m_cancelAtText);
        m_windows.push_back(window);
        ++m_created;
        return reinterpret_cast<LRESULT>(window.get());
    }
    if (msg == WM_DESTROY_DEVICE_UPDATE_WINDOW) {
        auto* window = CObject::DownCast<CRecordingProgressWindow>(reinterpret_cast<CObject*>(lParam));
        if (window != nullptr) ++m_destroyed;
        return 0;
    }
    return 0;
}

void CUpdateHarness::OnResult(CDevUpdateThread* thread, uint32_t code, const PortPtr&, const DevicePtr&,
                              CObject* context) {
    auto* self = reinterpret_cast<CUpdateHarness*>(context);
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_results.push_back({thread, code});
    }
    self->m_window.PostMsg(0);
}

std::unique_ptr<CDevUpdateThread> CUpdateHarness::Start(const PortPtr& port, const DevicePtr& device,
                                                        uint32_t keepSettings, uint32_t calibrate) {
    const uint32_t flags[2] = {keepSettings, calibrate};
    // The harness is no CObject; the callback gets it back unchanged.
    return std::make_unique<CDevUpdateThread>(port, device, flags, FirmwareImageData(),
                                              static_cast<uint32_t>(FirmwareImageSize()), &CUpdateHarness::OnResult,
                                              reinterpret_cast<CObject*>(this), &m_window);
}

bool CUpdateHarness::PumpResults(size_t count, uint32_t timeoutMs, const std::function<void()>& step) {
    return m_window.PumpUntil(
        [&] {
            if (step) step();
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_results.size() >= count;
        },
        timeoutMs);
}

uint32_t CUpdateHarness::Run(const PortPtr& port, const DevicePtr& device, uint32_t keepSettings, uint32_t calibrate,
                             const std::function<void(CRecordingProgressWindow&, CDevUpdateThread&)>& step,
                             uint32_t timeoutMs) {
    const size_t before = Results().size();
    auto thread = Start(port, device, keepSettings, calibrate);
    auto window = LastWindow();
    const bool done = PumpResults(before + 1, timeoutMs, [&] {
        if (step && window) step(*window, *thread);
    });
    thread.reset();
    if (!done) return kNoResult;
    return Results()[before].code;
}

std::vector<CUpdateHarness::Result> CUpdateHarness::Results() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_results;
}

std::shared_ptr<CRecordingProgressWindow> CUpdateHarness::LastWindow() {
    return m_windows.empty() ? nullptr : m_windows.back();
}

// ---------------------------------------------------------------- log

int CountCommand(const std::string& text, const std::string& command) {
    const std::string needle = "::SendCommand\r\n" + command + "\r\n";
    int count = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++count;
    return count;
}

}  // namespace updtest

