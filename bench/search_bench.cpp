// Time from switching the serial kind on to the last WM_DEVICE_SEARCH_FINISHED
// with instantly answering simulated instruments on pseudo-terminals: one
// instrument (target: median under 50 ms) and sixteen on sixteen ports
// (target: under 250 ms for all of them).
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/MessageWindow.h"
#include "base/WindowMessages.h"
#include "platform/Clock.h"
#include "platform/PortAlias.h"
#include "platform/PortListing.h"
#include "platform/PseudoTerminal.h"
#include "search/DeviceSearchDoc.h"
#include "sim/PtyInstrument.h"

namespace {

// A private alias folder; the machine's own ports are renamed to silent
// terminals so the benchmark never opens a real port.
struct Sandbox {
    std::string dir;
    std::vector<std::unique_ptr<platform::PseudoTerminal>> hidden;
    std::vector<std::unique_ptr<sim::CPtyInstrument>> instruments;
    explicit Sandbox(int count) {
        dir = "/tmp/korva-search-bench-XXXXXX";
        if (::mkdtemp(dir.data()) == nullptr) return;
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        for (const auto& entry : platform::ListSerialPorts()) {
            auto pty = std::make_unique<platform::PseudoTerminal>();
            if (pty->Open() == 0 && platform::RegisterPortAlias(entry.comName, pty->PeerPath()) == 0)
                hidden.push_back(std::move(pty));
        }
        for (int i = 0; i < count; ++i) {
            sim::Config config;
            config.timing.fast = true;
            config.identity.serialNumber = std::to_string(800000000 + i);
            auto instrument = std::make_unique<sim::CPtyInstrument>(config);
            if (instrument->Start(40) == 0) instruments.push_back(std::move(instrument));
        }
    }
    ~Sandbox() {
        instruments.clear();
        hidden.clear();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

void Report(const char* what, std::vector<double>& ms, double target) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.1f ms, min %.1f ms, max %.1f ms over %zu runs (target < %.0f ms)\n", what,
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size(), target);
}

void SearchUntilFound(benchmark::State& state, int instruments, double target) {
    Sandbox sandbox(instruments);
    if (static_cast<int>(sandbox.instruments.size()) != instruments) {
        state.SkipWithError("simulators could not start");
        return;
    }
    size_t finished = 0;
    uint32_t last = 0;
    CMessageWindow window([&](uint32_t msg, WPARAM, LPARAM) {
        if (msg == WM_DEVICE_SEARCH_FINISHED) {
            ++finished;
            last = platform::GetTickCount();
        }
        return LRESULT(0);
    });
    CMessageWindow::SetMain(&window);
    CInterfaceParameter serial;
    serial.SetSerialPort("COM");
    std::vector<double> times;
    for (auto _ : state) {
        finished = 0;
        auto doc = std::make_unique<CDeviceSearchDoc>(&window);
        const auto start = std::chrono::steady_clock::now();
        doc->StartDeviceSearch(serial);
        window.PumpUntil([&] { return finished >= static_cast<size_t>(instruments); }, 5000);
        const auto end = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(end - start).count();
        state.SetIterationTime(ms / 1000.0);
        if (finished >= static_cast<size_t>(instruments)) times.push_back(ms);
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    CMessageWindow::SetMain(nullptr);
    state.counters["found"] = static_cast<double>(finished);
    Report(instruments == 1 ? "one instrument" : "16 instruments on 16 ports", times, target);
    (void)last;
}

void BM_SerialOnToFinished_OneInstrument(benchmark::State& state) { SearchUntilFound(state, 1, 50); }
void BM_SerialOnToFinished_16Instruments(benchmark::State& state) { SearchUntilFound(state, 16, 250); }

}  // namespace

BENCHMARK(BM_SerialOnToFinished_OneInstrument)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(21);
BENCHMARK(BM_SerialOnToFinished_16Instruments)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(11);
