// Soak: many updates one after another through the headless main window,
// each against a fresh simulated instrument with a fault of the matrix (one
// that needs no click) picked at random, serial and USB in turn. Afterwards
// the process must hold the threads and descriptors it held before, and the
// memory it holds (heap in use and anonymous resident memory) must not grow
// with the updates once the first rounds have warmed up the allocator and
// the loaded libraries. Prints the figures. Label slow: run by hand
//   ctest -L slow -R Soak --output-on-failure -V
// KORVA_SOAK_UPDATES (default 200) and KORVA_SOAK_SEED change the run.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "base/ResultCodes.h"
#include "support/FaultRig.h"

using faults::Transport;

namespace {

struct Figures {
    long heapKb = 0;  // what the program holds from the allocator
    long rssKb = 0;
    int threads = 0;
    int descriptors = 0;
};

int CountEntries(const char* dir) {
    int n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++n;
    return n;
}

Figures Measure() {
    Figures f;
    // Every thread of an update may leave freed memory in an allocator
    // arena of its own; handing that back first makes the resident figure
    // show what is really held, not how many arenas have been used.
    ::malloc_trim(0);
    const struct mallinfo2 heap = ::mallinfo2();
    f.heapKb = static_cast<long>((heap.uordblks + heap.hblkhd) / 1024);
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("RssAnon:", 0) == 0) f.rssKb = std::atol(line.c_str() + 8);
    f.threads = CountEntries("/proc/self/task");
    // The directory iterator holds one descriptor of its own while it counts.
    f.descriptors = CountEntries("/proc/self/fd") - 1;
    return f;
}

unsigned EnvNumber(const char* name, unsigned fallback) {
    const char* text = std::getenv(name);
    return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : fallback;
}

}  // namespace

namespace faults {
std::vector<std::tuple<std::string, bool, std::function<void(sim::Config&)>>> MatrixFaults();
}  // namespace faults

namespace {

TEST(Soak, ConsecutiveUpdatesWithRandomFaultsLeaveNothingBehind) {
    const unsigned updates = EnvNumber("KORVA_SOAK_UPDATES", 200);
    const unsigned seed = EnvNumber("KORVA_SOAK_SEED", 20261206);
    constexpr unsigned kWarmUp = 10;
    ASSERT_GT(updates, kWarmUp);
    std::mt19937 random(seed);
    const auto pool = faults::MatrixFaults();

    // Fixed thresholds: by default the allocator raises them after each
    // large block it frees, and from then on keeps the top of every thread
    // arena resident; the resident figure would then count arenas, not what
    // the updates hold.
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    const Figures initial = Measure();
    Figures start, last;
    int finished = 0, failed = 0, wrongSuccess = 0, hung = 0;
    {
        faults::FaultWorld world(KORVA_USB_SIM_LIBRARY_PATH);
        ASSERT_TRUE(world.UsbReady());
        for (unsigned i = 0; i < updates; ++i) {
            // The first rounds warm up what stays: the loaded USB library,
            // the allocator's per-thread arenas, the string tables.
            if (i == kWarmUp) start = Measure();
            const auto& [name, keep, apply] = pool[random() % pool.size()];
            const Transport transport = i % 2 ? Transport::kUsb : Transport::kSerial;
            faults::Scenario scenario;
            scenario.listed.timing.fast = true;
            if (keep) scenario.listed.identity.version1 = "04.500";
            scenario.updated = scenario.listed;
            apply(scenario.updated);
            scenario.swap = true;
            const faults::Outcome o = world.Run(transport, scenario);
            if (!o.listed || !o.ended) {
                ++hung;
                ADD_FAILURE() << "update " << i << " (" << name << ", " << faults::TransportName(transport)
                              << "): " << (o.listed ? "did not end" : "not listed");
                continue;
            }
            if (o.finished) {
                ++finished;
                if (o.sim.version != faults::TargetVersion()) {
                    ++wrongSuccess;
                    ADD_FAILURE() << "update " << i << " (" << name << ") reported success on "
                                  << o.sim.version;
                }
            } else {
                ++failed;
            }
        }
        last = Measure();
    }
    const Figures end = Measure();

    std::printf("\nsoak: %u updates (seed %u): %d finished, %d failed as defined, %d hung, %d false successes\n",
                updates, seed, finished, failed, hung, wrongSuccess);
    std::printf("%-22s %10s %14s %14s %12s\n", "", "before", "after warm-up", "after updates", "torn down");
    std::printf("%-22s %10ld %14ld %14ld %12ld\n", "heap in use (KiB)", initial.heapKb, start.heapKb, last.heapKb,
                end.heapKb);
    std::printf("%-22s %10ld %14ld %14ld %12ld\n", "anon. resident (KiB)", initial.rssKb, start.rssKb, last.rssKb,
                end.rssKb);
    std::printf("%-22s %10d %14d %14d %12d\n", "threads", initial.threads, start.threads, last.threads, end.threads);
    std::printf("%-22s %10d %14d %14d %12d\n", "file descriptors", initial.descriptors, start.descriptors,
                last.descriptors, end.descriptors);

    EXPECT_EQ(hung, 0);
    EXPECT_EQ(wrongSuccess, 0);
    // Between updates nothing runs and nothing is open but the rig's own.
    EXPECT_EQ(last.threads, start.threads);
    EXPECT_EQ(last.descriptors, start.descriptors);
    EXPECT_EQ(end.threads, initial.threads);
    EXPECT_EQ(end.descriptors, initial.descriptors);
    // What the program holds from the allocator may not grow with the
    // number of updates, and goes when the rig goes; the resident memory may
    // wobble by the stacks and blocks the C library keeps for reuse.
    EXPECT_LE(last.heapKb - start.heapKb, 256);
    EXPECT_LE(end.heapKb - initial.heapKb, 256);
    EXPECT_LE(last.rssKb - start.rssKb, 4 * 1024);
    EXPECT_LE(end.rssKb - start.rssKb, 4 * 1024);
}

}  // namespace
