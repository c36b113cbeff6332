// A line-protocol object whose "port" records what is written, and an owner
// that records the interface events it receives.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/MessageWindow.h"
#include "InterfaceRecorder.h"
#include "protocol/UpdateInterface.h"

class FakeInterface : public CUpdateInterface {
public:
    KORVA_RUNTIME_CLASS(FakeInterface)

    explicit FakeInterface(InterfaceRecorder* owner)
        : CUpdateInterface(&InterfaceRecorder::OnEvent, owner) {}
    ~FakeInterface() override { CloseProtocol(); }

    uint32_t SendData(const CByteBuffer& data) override;
    uint32_t Init(CInterfaceParameter*) override { return 0; }
    platform::Thread* StartPortEnumeration(CInterfaceParameter*) override { return nullptr; }

    // Feeds received bytes as the port's reading thread would.
    void Receive(std::string_view bytes);

    std::vector<std::string> Writes() const;
    void SetResult(uint32_t result);

    using CUpdateInterface::EnumMonitorLines;
    using CUpdateInterface::EnumSCPILines;
    using CUpdateInterface::TrimLine;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_writes;  // guarded by m_mutex
    uint32_t m_result = 0;              // guarded by m_mutex
};

// A message window that is the process's main window for one test.
class MainWindowScope {
public:
    MainWindowScope() { CMessageWindow::SetMain(&m_window); }
    ~MainWindowScope() { CMessageWindow::SetMain(nullptr); }
    CMessageWindow& Window() { return m_window; }

private:
    CMessageWindow m_window;
};
