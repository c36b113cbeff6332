// No polling: an open, idle serial port's threads (the I/O thread and the
// port's helpers) must sleep. Counts their voluntary context switches (each
// wake-up is one) over 10 s and prints wake-ups per second.
//
// Line use on a model of a real line (tests/transport/support/LineModel):
// a whole update's image transfer (all 80-byte chunks) through the real
// pacing, I/O thread, driver, line protocol and update thread, over a UART
// and over a USB serial converter at 115200 baud 8N2, and 16 UART updates
// at once. Line use is the line's own time for the image divided by the
// time the transfer took. Each run lasts about two minutes.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/ResultCodes.h"
#include "base/WindowMessages.h"
#include "platform/PortAlias.h"
#include "platform/Thread.h"
#include "resources/FirmwareImage.h"
#include "support/InstrumentPeer.h"
#include "support/LineModel.h"
#include "support/UpdateTestSupport.h"
#include "transport/CommDriver.h"

namespace {

// Voluntary plus involuntary switches per thread of this process.
std::map<int, long> SwitchesPerThread() {
    std::map<int, long> counts;
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) return counts;
    while (dirent* e = ::readdir(dir)) {
        const int tid = std::atoi(e->d_name);
        if (tid <= 0) continue;
        std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/status");
        std::string line;
        long total = 0;
        while (std::getline(in, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::atol(line.c_str() + line.find(':') + 1);
        }
        counts[tid] = total;
    }
    ::closedir(dir);
    return counts;
}

void BM_IdleOpenPortWakeups(benchmark::State& state) {
    char pattern[] = "/tmp/korva-serial-bench-XXXXXX";
    const std::string runtime = ::mkdtemp(pattern) ? pattern : "/tmp";
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[64] = {};
    if (master < 0 || ::grantpt(master) || ::unlockpt(master) || ::ptsname_r(master, name, sizeof name) ||
        platform::RegisterPortAlias("COM9", name) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    double perSecond = 0;
    for (auto _ : state) {
        CCommDriver driver;
        driver.SetBaudRate(115200);
        driver.SetByteSize(8);
        driver.SetStopBits(2);
        driver.SetHandshake(0x10, 0x11, 0x13);
        driver.SetBufferSize(1024, 1024);
        if (driver.Init("COM9") != 0) {
            state.SkipWithError("open failed");
            break;
        }
        // Let the start-up settle, then watch the idle port.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int self = static_cast<int>(platform::CurrentThreadId());
        const auto before = SwitchesPerThread();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const auto after = SwitchesPerThread();
        long wakeups = 0;
        for (const auto& [tid, count] : after) {
            if (tid == self) continue;
            const auto it = before.find(tid);
            wakeups += count - (it == before.end() ? 0 : it->second);
        }
        perSecond = static_cast<double>(wakeups) / seconds;
        std::printf("idle open port: %ld wake-ups of its threads in %.1f s = %.2f per second (target <= 1)\n",
                    wakeups, seconds, perSecond);
    }
    state.counters["wakeups_per_s"] = perSecond;
    platform::RemovePortAlias("COM9");
    ::close(master);
    ::rmdir((runtime + "/korva/ports").c_str());
    ::rmdir((runtime + "/korva").c_str());
    ::rmdir(runtime.c_str());
}

using Clock = std::chrono::steady_clock;

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
    double Seconds() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::chrono::duration<double>(m_end - m_start).count();
    }

private:
    std::mutex m_mutex;
    Clock::time_point m_start{}, m_end{};
};

// One instrument per port name; it outlives the port's reopenings.
class ModelLines {
public:
    ModelLines(linemodel::LineConfig line, const sim::Config& instrument) : m_line(line), m_instrument(instrument) {}
    uint32_t Open(const std::string& name, std::unique_ptr<platform::ISerialPort>* port) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& peer = m_peers[name];
        if (!peer) peer = std::make_unique<linemodel::InstrumentPeer>(m_instrument);
        *port = std::make_unique<linemodel::ModelPort>(m_line, peer.get());
        return 0;
    }

private:
    const linemodel::LineConfig m_line;
    const sim::Config m_instrument;
    std::mutex m_mutex;
    std::map<std::string, std::unique_ptr<linemodel::InstrumentPeer>> m_peers;
};

// Whole updates over the model; the worst and the mean line use in %.
bool RunModelUpdates(linemodel::LineConfig line, int count, double* worst, double* mean) {
    SetUpdateTiming(UpdateTiming::Standard());
    sim::Config config;  // 115200 baud, 11 bits a character
    config.timing.flashProgramMs = 200;
    config.timing.restartMs = 200;
    ModelLines lines(line, config);
    CCommDriver::SetDefaultPortOpener(
        [&lines](const std::string& name, std::unique_ptr<platform::ISerialPort>* port) { return lines.Open(name, port); });
    std::vector<std::unique_ptr<TimingWindow>> windows;
    std::atomic<int> done{0}, finished{0};
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
    std::vector<std::unique_ptr<CDevUpdateThread>> threads;
    const uint32_t flags[2] = {0, 0};
    for (int i = 0; i < count; ++i)
        threads.push_back(std::make_unique<CDevUpdateThread>(
            updtest::SerialPort("COM" + std::to_string(40 + i)), updtest::MakeDevice(config), flags,
            FirmwareImageData(), static_cast<uint32_t>(FirmwareImageSize()), onResult, &sink, &main));
    main.PumpUntil([&] { return done.load() >= count; }, 900000);
    threads.clear();
    CMessageWindow::SetMain(nullptr);
    CCommDriver::SetDefaultPortOpener({});

    const double limit = double(FirmwareImageSize()) * config.timing.bitsPerChar / config.timing.baud;
    *worst = 1e9;
    double sum = 0;
    for (auto& w : windows) {
        const double use = 100.0 * limit / w->Seconds();
        *worst = std::min(*worst, use);
        sum += use;
    }
    *mean = windows.empty() ? 0 : sum / windows.size();
    return finished.load() == count && static_cast<int>(windows.size()) == count;
}

void ModelBench(benchmark::State& state, linemodel::LineConfig line, int count, const char* counter) {
    double worst = 0, mean = 0;
    uint64_t pauses0 = 0, pauseNs0 = 0, pauses = 0, pauseNs = 0;
    linemodel::ModelPort::Pauses(&pauses0, &pauseNs0);
    for (auto _ : state) {
        if (!RunModelUpdates(line, count, &worst, &mean)) state.SkipWithError("an update did not finish");
    }
    linemodel::ModelPort::Pauses(&pauses, &pauseNs);
    std::printf("line pauses between writes (under 1 s): %llu, %.3f s in all\n",
                static_cast<unsigned long long>(pauses - pauses0), (pauseNs - pauseNs0) / 1e9);
    state.counters[counter] = count == 1 ? mean : worst;
    if (count > 1) state.counters["uart_model_line_use_16_avg_%"] = mean;
    std::printf("%s: %.2f (mean %.2f) over %d update(s)\n", counter, count == 1 ? mean : worst, mean, count);
}

void BM_UartModelLineUse(benchmark::State& state) {
    ModelBench(state, linemodel::LineConfig::Uart(), 1, "uart_model_line_use_%");
}
void BM_UsbSerialModelLineUse(benchmark::State& state) {
    ModelBench(state, linemodel::LineConfig::UsbSerial(), 1, "usbserial_model_line_use_%");
}
void BM_UartModelLineUse16(benchmark::State& state) {
    ModelBench(state, linemodel::LineConfig::Uart(), 16, "uart_model_line_use_16_min_%");
}

}  // namespace

BENCHMARK(BM_UartModelLineUse)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_UsbSerialModelLineUse)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_UartModelLineUse16)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_IdleOpenPortWakeups)->Iterations(1)->Unit(benchmark::kSecond);
