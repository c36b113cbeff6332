// No polling: an open, idle serial port's threads (the I/O thread and the
// port's helpers) must sleep. Counts their voluntary context switches (each
// wake-up is one) over 10 s and prints wake-ups per second.
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

#include <benchmark/benchmark.h>

#include "platform/PortAlias.h"
#include "platform/Thread.h"
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

}  // namespace

BENCHMARK(BM_IdleOpenPortWakeups)->Iterations(1)->Unit(benchmark::kSecond);
