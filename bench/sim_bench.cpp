// Line-rate emulation of the simulated instrument: one second of continuous
// data through its pseudo-terminal must arrive at the configured rate.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/PseudoTerminal.h"
#include "sim/PtyInstrument.h"

namespace {

void BM_SimLineRate(benchmark::State& state) {
    char pattern[] = "/tmp/korva-sim-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    ::setenv("XDG_RUNTIME_DIR", pattern, 1);  // keep the user's alias folder out of it
    for (auto _ : state) {
        sim::Config config;
        config.timing.baud = static_cast<uint32_t>(state.range(0));
        config.timing.bitsPerChar = 11;
        config.faults.endless = sim::EndlessFault::kLines;
        sim::CPtyInstrument instrument(config);
        if (instrument.Start(90) != 0) {
            state.SkipWithError("cannot start the simulator");
            break;
        }
        platform::TerminalClient port;
        port.Open(instrument.DevicePath());
        const char query[] = "*IDN?;\n\r";
        size_t written = 0;
        port.Write(reinterpret_cast<const uint8_t*>(query), sizeof query - 1, written);

        using Clock = std::chrono::steady_clock;
        uint8_t buffer[4096];
        size_t total = 0;
        Clock::time_point first{}, last{};
        // Counts from the end of the first read to the end of the last read
        // within one second: the bytes between arrived in that span.
        for (;;) {
            platform::Waitable r = port.Readable();
            // The stream never pauses; 1 s without data would be a failure.
            if (platform::WaitForAny(&r, 1, 1000) != 0) break;
            size_t got = 0;
            if (port.Read(buffer, sizeof buffer, got) != 0) break;
            const auto now = Clock::now();
            if (first == Clock::time_point{}) {
                first = now;
                continue;
            }
            total += got;
            last = now;
            if (now - first >= std::chrono::seconds(1)) break;
        }
        port.Close();
        instrument.Stop();
        const double seconds = std::chrono::duration<double>(last - first).count();
        const double rate = seconds > 0 ? double(total) / seconds : 0;
        const double configured = double(config.timing.baud) / config.timing.bitsPerChar;
        const double deviation = (rate - configured) / configured * 100.0;
        state.counters["chars_per_s"] = rate;
        state.counters["configured"] = configured;
        state.counters["deviation_pct"] = deviation;
        std::printf("line rate %u baud, %u bits: %.1f chars/s measured over %.3f s, configured %.1f, deviation %+.3f%%\n",
                    config.timing.baud, config.timing.bitsPerChar, rate, seconds, configured, deviation);
    }
    std::filesystem::remove_all(pattern);
}

}  // namespace

BENCHMARK(BM_SimLineRate)->Arg(115200)->Arg(9600)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
