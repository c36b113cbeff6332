// Costs of the foundation pieces that sit on every hot path: a lock round
// trip, a cross-thread event hand-over, a send to the main window, a log
// entry, and cutting lines from a receive buffer.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "base/ByteBuffer.h"
#include "base/MessageWindow.h"
#include "base/ObjectLock.h"
#include "base/UpdateLogFile.h"
#include "platform/Event.h"

static void BM_ObjectLockUncontended(benchmark::State& state) {
    CObjectLock lock;
    for (auto _ : state) {
        lock.Lock();
        lock.Unlock();
    }
}
BENCHMARK(BM_ObjectLockUncontended);

// Ping-pong between two threads: one round trip is two wake-ups.
static void BM_EventPingPong(benchmark::State& state) {
    platform::Event ping(platform::Event::kAutoReset), pong(platform::Event::kAutoReset);
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        while (platform::WaitFor(ping, platform::kInfinite) == 0 && !stop.load()) pong.Set();
    });
    for (auto _ : state) {
        ping.Set();
        platform::WaitFor(pong, platform::kInfinite);
    }
    stop = true;
    ping.Set();
    peer.join();
    state.SetLabel("round trip = 2 wake-ups");
}
BENCHMARK(BM_EventPingPong)->UseRealTime();

// A worker's blocking send handled by a pumping owner.
static void BM_CrossThreadSend(benchmark::State& state) {
    CMessageWindow window([](uint32_t, WPARAM w, LPARAM) { return static_cast<LRESULT>(w); });
    std::atomic<bool> stop{false};
    std::atomic<long> sent{0};
    std::thread worker([&] {
        while (!stop.load()) {
            window.SendMsg(0x401, 1);
            sent.fetch_add(1);
        }
    });
    for (auto _ : state) {
        const long before = sent.load();
        window.PumpUntil([&] { return sent.load() != before; }, 1000);
    }
    stop = true;
    window.Close();
    worker.join();
}
BENCHMARK(BM_CrossThreadSend)->UseRealTime();

static void BM_LogEntry(benchmark::State& state) {
    char dir[] = "/tmp/korva-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        state.SkipWithError("mkdtemp");
        return;
    }
    {
        CUpdateLogFile log(dir);
        for (auto _ : state) log.LogMessage("CDevUpdateThread", "Chunk written to the port", "SendImage", true);
    }
    ::rmdir(dir);
}
BENCHMARK(BM_LogEntry);

static void BM_CutLines(benchmark::State& state) {
    const std::string reply = "KORVA Instruments,QV3108-2,100234,HW00010203,SW05.306-02.011\n\r";
    for (auto _ : state) {
        CByteBuffer buffer;
        for (int i = 0; i < 16; ++i) buffer.Append(reply);
        while (!buffer.IsEmpty()) {
            const long eol = buffer.Find("\n\r");
            if (eol < 0) break;
            CByteBuffer line = buffer.Left(static_cast<size_t>(eol) + 2);
            line.TrimRight("\n\r");
            benchmark::DoNotOptimize(line.GetData());
            buffer.RemoveLeft(static_cast<size_t>(eol) + 2);
        }
    }
    state.SetBytesProcessed(state.iterations() * 16 * static_cast<int64_t>(reply.size()));
}
BENCHMARK(BM_CutLines);
