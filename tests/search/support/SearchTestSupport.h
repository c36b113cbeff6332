// Test helpers for the device search: a private port world with simulated
// instruments on its serial ports and on the simulated USB library, and a
// main window that records what the search sends it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/MessageWindow.h"
#include "device/DeviceList.h"
#include "platform/SharedLibrary.h"
#include "sim/Instrument.h"
#include "sim/SimConfig.h"
#include "sim/d2xx/SimD2xxControl.h"
#include "tests/base/support/TempDir.h"

#ifdef _WIN32
#include "tests/transport/support/win32/LineInstrument.h"
#else
#include "platform/PseudoTerminal.h"
#include "sim/PtyInstrument.h"
#endif

// The serial ports a search sees are the sandbox's alone, so it never opens
// a real port (the console may be one). On Linux XDG_RUNTIME_DIR points at a
// fresh folder for the object's life, and every serial port the machine
// would list is renamed (by an alias) to a silent pseudo-terminal; on
// Windows only modelled lines are listed and opened. Thread: the test thread.
class PortSandbox {
public:
    PortSandbox();
    ~PortSandbox();
    // A port with nothing attached, registered from `firstCom` on. Returns
    // its COM name ("" on failure).
    std::string AddEmptyPort(int firstCom);
    // A simulated instrument on a port from `firstCom` on.
    sim::CPtyInstrument* AddInstrument(const sim::Config& config, int firstCom);
    // Stops one instrument (its port goes with it).
    void RemoveInstrument(sim::CPtyInstrument* instrument);

private:
#ifdef _WIN32
    std::vector<std::string> m_empty;
#else
    RuntimeDirScope m_runtime;
    std::vector<std::unique_ptr<platform::PseudoTerminal>> m_empty;
#endif
    std::vector<std::unique_ptr<sim::CPtyInstrument>> m_instruments;
};

// The simulated USB library written and loaded as the program loads the
// real one, in a private current directory (on Windows: in a private
// %TMP%). Thread: the test thread.
class UsbSandbox {
public:
    // `libraryPath`: the simulated library's file.
    explicit UsbSandbox(const char* libraryPath);
    ~UsbSandbox();
    bool IsReady() const { return m_ready; }
    int Attach(const std::string& serial, const sim::Config& config, uint32_t deviceId = 0x04036001);
    int Unplug(const std::string& serial);
    // The next `writes` writes to the instrument take at most `maxBytes`.
    int LimitWrites(const std::string& serial, uint32_t maxBytes, int writes);
    platform::SharedLibrary& Library() { return m_control; }
    // Runs `inspect` on the attached instrument; false if none.
    template <typename F>
    bool Inspect(const std::string& serial, F&& inspect) {
        if (!m_inspect) return false;
        auto thunk = [](const void* instrument, void* user) {
            (*static_cast<F*>(user))(*static_cast<const sim::CInstrument*>(instrument));
        };
        return m_inspect(serial.c_str(), thunk, &inspect) == 0;
    }

private:
    TempDir m_dir;  // the current directory meanwhile
    std::filesystem::path m_previous;
    std::vector<uint8_t> m_bytes;
    platform::SharedLibrary m_control;
    PFN_KORVA_SimAttach m_attach = nullptr;
    PFN_KORVA_SimUnplug m_unplug = nullptr;
    PFN_KORVA_SimInspect m_inspect = nullptr;
    PFN_KORVA_SimReset m_reset = nullptr;
    PFN_KORVA_SimLimitWrites m_limit = nullptr;
    bool m_ready = false;
};

// What reached the main window. Thread: the window's thread.
struct SentMessage {
    uint32_t msg;
    WPARAM wParam;
    uint32_t tick;
    std::string port;    // WM_DEVICE_SEARCH_FINISHED: the port's name
    std::string device;  // WM_DEVICE_SEARCH_FINISHED: device name and versions
};

// A main window (installed as the process's main window) that records every
// message and then hands it to `next` (if set).
class RecordingWindow {
public:
    explicit RecordingWindow(CMessageWindow::Handler next = {});
    ~RecordingWindow();
    CMessageWindow& Window() { return m_window; }
    void SetNext(CMessageWindow::Handler next) { m_next = std::move(next); }
    // Pumps until `done()` or `timeoutMs`; returns done().
    bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs);
    size_t Count(uint32_t msg) const;
    // Index of the first message `msg` at or after `from`, -1 if none.
    int Find(uint32_t msg, size_t from = 0) const;
    const std::vector<SentMessage>& Log() const { return m_log; }
    // FINISHED messages for the port named `address`.
    std::vector<SentMessage> FinishedFor(const std::string& address) const;
    // Records received with WM_DEVICE_SEARCH_FINISHED, if kept.
    bool keepRecords = false;
    std::vector<std::pair<DevicePtr, PortPtr>> records;

private:
    LRESULT Handle(uint32_t msg, WPARAM wParam, LPARAM lParam);
    CMessageWindow m_window;
    CMessageWindow::Handler m_next;
    std::vector<SentMessage> m_log;
};

// A fast simulated instrument with this identity.
sim::Config FastInstrument(const std::string& serial = "012345678");
