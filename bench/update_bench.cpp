// The image transfer of a whole update over a pseudo-terminal to the
// simulator emulating 115200 baud 8N2, alone and with 4 and 16 updates at
// once: line use (the line's own time for the image divided by the time the
// transfer took) and resident memory per running update.
//
// Each run is a real-time update of about two minutes; run by hand:
//   ./build/default/bench/update_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/ResultCodes.h"
#include "base/WindowMessages.h"
#include "platform/PseudoTerminal.h"
#include "resources/FirmwareImage.h"
#include "support/UpdateTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

// Resident set of this process in KiB.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        std::getline(status, key);
    }
    return 0;
}

// The simulated instruments live in this process too. Before the count
// starts each is made to take its RAM image (a tiny load through its
// monitor, then a restart back into its firmware), so that what grows
// afterwards is the updates' own memory.
void WarmUp(const std::string& devicePath) {
    platform::TerminalClient terminal;
    if (terminal.Open(devicePath) != 0) return;
    const std::string steps[] = {":Service:Mode kAccess;:System:Software:Monitor;\n\r", "l c000000 10;\r",
                                 std::string(16, 'x'), "rs;\r"};
    for (const std::string& text : steps) {
        size_t written = 0;
        terminal.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), written);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        uint8_t drain[256];
        size_t got = 0;
        while (terminal.Read(drain, sizeof drain, got) == 0 && got > 0) {
        }
    }
}

// A progress window that notes when the image transfer starts and ends.
class TimingWindow : public IProgressWindow {
public:
    KORVA_RUNTIME_CLASS(TimingWindow)
    bool PostMsg(uint32_t msg, WPARAM, LPARAM) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (msg == WM_SHOW_PROGRESS_BAR) m_start = Clock::now();
        if (msg == WM_HIDE_PROGRESS_BAR && m_end == Clock::time_point{}) m_end = Clock::now();
        return true;
    }
    bool Started() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_start != Clock::time_point{};
    }
    double Seconds() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::chrono::duration<double>(m_end - m_start).count();
    }

private:
    std::mutex m_mutex;
    Clock::time_point m_start{}, m_end{};
};

void RunUpdates(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    SetUpdateTiming(UpdateTiming::Standard());
    RuntimeDirScope runtime;
    std::vector<std::unique_ptr<TimingWindow>> windows;
    std::atomic<int> done{0};
    std::atomic<int> finished{0};
    CMessageWindow main([&](uint32_t msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_CREATE_DEVICE_UPDATE_WINDOW) {
            windows.push_back(std::make_unique<TimingWindow>());
            return reinterpret_cast<LRESULT>(windows.back().get());
        }
        return 0;
    });
    CMessageWindow::SetMain(&main);
    struct Sink : CObject {
        KORVA_RUNTIME_CLASS(Sink)
        std::atomic<int>* done;
        std::atomic<int>* finished;
        IMessageWindow* wake;
    } sink;
    sink.done = &done;
    sink.finished = &finished;
    sink.wake = &main;
    auto onResult = [](CDevUpdateThread*, uint32_t code, const PortPtr&, const DevicePtr&, CObject* context) {
        auto* s = static_cast<Sink*>(context);
        if (code == RC_UPDATE_FINISHED) s->finished->fetch_add(1);
        s->done->fetch_add(1);
        s->wake->PostMsg(0);
    };

    for (auto _ : state) {
        sim::Config config;  // emulated line: 115200 baud, 11 bits a character
        config.timing.flashProgramMs = 200;
        config.timing.restartMs = 200;
        std::vector<std::unique_ptr<sim::CPtyInstrument>> sims;
        for (int i = 0; i < count; ++i) {
            sims.push_back(std::make_unique<sim::CPtyInstrument>(config));
            sims.back()->Start(20);
        }
        // The carried image is the program's own data: its pages count once
        // for the program, not for each update.
        uint32_t imageSum = 0;
        for (size_t i = 0; i < FirmwareImageSize(); ++i) imageSum += FirmwareImageData()[i];
        benchmark::DoNotOptimize(imageSum);
        for (auto& s : sims) WarmUp(s->DevicePath());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the restarts
        const long before = ResidentKiB();
        std::vector<std::unique_ptr<CDevUpdateThread>> threads;
        const uint32_t flags[2] = {0, 0};
        for (auto& s : sims)
            threads.push_back(std::make_unique<CDevUpdateThread>(
                updtest::SerialPort(s->ComName()), updtest::MakeDevice(config), flags, FirmwareImageData(),
                static_cast<uint32_t>(FirmwareImageSize()), onResult, &sink, &main));
        // Half-way through the transfers every update is running.
        main.PumpFor(30000);
        const long during = ResidentKiB();
        main.PumpUntil([&] { return done.load() >= count; }, 600000);
        threads.clear();

        const double limit = double(FirmwareImageSize()) * config.timing.bitsPerChar / config.timing.baud;
        double worst = 1e9, sum = 0;
        for (auto& w : windows) {
            const double use = limit / w->Seconds();
            worst = std::min(worst, use);
            sum += use;
        }
        state.counters["updates"] = count;
        state.counters["finished"] = finished.load();
        state.counters["line_limit_s"] = limit;
        state.counters["line_use_min_%"] = 100.0 * worst;
        state.counters["line_use_avg_%"] = 100.0 * sum / windows.size();
        state.counters["rss_per_update_KiB"] = double(during - before) / count;
        windows.clear();
        done = 0;
        finished = 0;
    }
    CMessageWindow::SetMain(nullptr);
}

}  // namespace

BENCHMARK(RunUpdates)->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
