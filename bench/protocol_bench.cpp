// Chunk turnaround of a binary block over a pseudo-terminal: from the moment
// the I/O thread learns that the port's transmit buffer ran empty to the
// moment the next 80-byte chunk is handed to the port, through the whole
// path (I/O thread, driver, serial interface, line protocol, write request,
// I/O thread again). Also the line use this projects at 115200 baud 8N2
// (11 bits a byte: 7.64 ms per 80-byte chunk).
//
// The port is the real pty port wrapped in a decorator that takes the two
// time stamps on the I/O thread itself; the far end drains the pty and
// answers each block with a monitor line so the next block may start.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/Event.h"
#include "platform/PortAlias.h"
#include "platform/PseudoTerminal.h"
#include "platform/SerialPort.h"
#include "transport/CommInterface.h"
#include "transport/InterfaceParameter.h"

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Forwards everything to the real port; stamps transmit-empty and writes.
class TimedPort : public platform::ISerialPort {
public:
    explicit TimedPort(std::unique_ptr<platform::ISerialPort> inner) : m_inner(std::move(inner)) {}

    std::atomic<int64_t> txEmptyAt{0};  // 0: no transmit-empty to pair with
    // The first chunk of a block is written by the sender, not after a
    // transmit-empty; it is not a turnaround.
    std::atomic<bool> firstWrite{false};
    std::mutex samplesMutex;
    std::vector<int64_t> samples;  // ns, guarded by samplesMutex

    uint32_t GetCommProperties(COMMPROP* p) override { return m_inner->GetCommProperties(p); }
    uint32_t GetCommState(DCB* dcb) override { return m_inner->GetCommState(dcb); }
    uint32_t SetCommState(const DCB& dcb) override { return m_inner->SetCommState(dcb); }
    uint32_t SetupComm(uint32_t in, uint32_t out) override { return m_inner->SetupComm(in, out); }
    uint32_t SetCommTimeouts(const COMMTIMEOUTS& t) override { return m_inner->SetCommTimeouts(t); }
    uint32_t SetCommMask(uint32_t mask) override { return m_inner->SetCommMask(mask); }
    uint32_t PurgeComm(uint32_t flags) override { return m_inner->PurgeComm(flags); }
    uint32_t ClearCommError(uint32_t* e, COMSTAT* s) override { return m_inner->ClearCommError(e, s); }
    uint32_t GetCommModemStatus(uint32_t* s) override { return m_inner->GetCommModemStatus(s); }
    uint32_t WaitCommEvent(uint32_t* mask) override {
        const uint32_t r = m_inner->WaitCommEvent(mask);
        if (r == 0 && (*mask & EV_TXEMPTY)) txEmptyAt.store(NowNs());
        return r;
    }
    void GetCommWaitables(platform::Waitable* items) override { m_inner->GetCommWaitables(items); }
    uint32_t GetCommEventResult(uint32_t* mask) override {
        const uint32_t r = m_inner->GetCommEventResult(mask);
        if (r == 0 && (*mask & EV_TXEMPTY)) txEmptyAt.store(NowNs());
        return r;
    }
    uint32_t Read(void* b, uint32_t n, uint32_t* read) override { return m_inner->Read(b, n, read); }
    uint32_t Write(const void* data, uint32_t length, uint32_t* written) override {
        const int64_t start = txEmptyAt.exchange(0);
        const int64_t now = NowNs();
        if (!firstWrite.exchange(false) && start != 0 && length == 80) {
            std::lock_guard<std::mutex> lock(samplesMutex);
            samples.push_back(now - start);
        }
        return m_inner->Write(data, length, written);
    }
    platform::Waitable GetWriteWaitable() override { return m_inner->GetWriteWaitable(); }
    uint32_t GetWriteResult(uint32_t* written) override { return m_inner->GetWriteResult(written); }
    void Close() override { m_inner->Close(); }

private:
    std::unique_ptr<platform::ISerialPort> m_inner;
};

struct Owner : CObject {
    platform::Event lineReceived{platform::Event::kAutoReset};
    platform::Event allSent{platform::Event::kAutoReset};
    std::atomic<uint32_t> total{0};
    static void OnEvent(uint32_t event, uintptr_t data, const CByteBuffer*, CObject* context) {
        auto* self = CObject::DownCast<Owner>(context);
        if (self == nullptr) return;
        if (event == IF_EVENT_LINE_RECEIVED) self->lineReceived.Set();
        if (event == IF_EVENT_BYTES_SENT && data == self->total.load()) self->allSent.Set();
    }
};

constexpr uint32_t kChunks = 200;
constexpr uint32_t kBlock = 80 * kChunks;
constexpr double kChunkLineMs = 80.0 * 11.0 * 1000.0 / 115200.0;  // 7.64 ms

void BM_ChunkTurnaround(benchmark::State& state) {
    char dirTemplate[] = "/tmp/korva-bench-XXXXXX";
    const char* dir = ::mkdtemp(dirTemplate);
    if (dir == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    ::setenv("XDG_RUNTIME_DIR", dir, 1);
    platform::PseudoTerminal pty;
    if (pty.Open() != 0 || platform::RegisterPortAlias("COM61", pty.PeerPath()) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }

    Owner owner;
    owner.total = kBlock;
    TimedPort* timed = nullptr;
    auto port = std::make_unique<CCommInterface>(&Owner::OnEvent, &owner);
    port->SetPortOpener([&](const std::string& name, std::unique_ptr<platform::ISerialPort>* out) {
        std::unique_ptr<platform::ISerialPort> inner;
        const uint32_t result = platform::OpenSerialPort(name, &inner);
        if (result != 0) return result;
        auto wrapped = std::make_unique<TimedPort>(std::move(inner));
        timed = wrapped.get();
        *out = std::move(wrapped);
        return 0u;
    });
    CInterfaceParameter record;
    record.SetSerialPort("COM61");
    if (port->Init(&record) != 0 || timed == nullptr) {
        state.SkipWithError("port did not open");
        return;
    }

    // The instrument: drains the line and answers each whole block.
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        std::vector<uint8_t> buffer(4096);
        size_t got = 0;
        while (!stop.load()) {
            platform::Waitable readable = pty.Readable();
            platform::WaitForAny(&readable, 1, 50);
            size_t n = 0;
            if (pty.Read(buffer.data(), buffer.size(), n) != 0) break;
            got += n;
            if (got >= kBlock) {
                got -= kBlock;
                size_t written = 0;
                pty.Write(reinterpret_cast<const uint8_t*>("OK\r\n"), 4, written);
            }
        }
    });

    std::vector<uint8_t> block(kBlock, 0x5A);
    for (auto _ : state) {
        timed->firstWrite.store(true);
        owner.allSent.TryAcquire();
        if (port->SendBinaryData(block.data(), kBlock) != 0) {
            state.SkipWithError("send refused");
            break;
        }
        // The peer answers every block; 10 s means a stuck port.
        if (platform::WaitForAny({&owner.lineReceived}, 10000) != 0) {
            state.SkipWithError("block did not complete");
            break;
        }
        // On a pty the answer can overtake the last transmit-empty, and a
        // line ends the transfer; give that event a moment, no more.
        platform::WaitForAny({&owner.allSent}, 20);
    }
    stop = true;
    peer.join();
    std::vector<int64_t> samples;
    {
        std::lock_guard<std::mutex> lock(timed->samplesMutex);
        samples = timed->samples;
    }
    port.reset();  // the timed port goes with the driver
    platform::RemovePortAlias("COM61");
    ::rmdir((std::string(dir) + "/korva/ports").c_str());
    ::rmdir((std::string(dir) + "/korva").c_str());
    ::rmdir(dir);
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    const double medianUs = samples[samples.size() / 2] / 1000.0;
    const double p99Us = samples[samples.size() * 99 / 100] / 1000.0;
    const double lineUse = kChunkLineMs / (kChunkLineMs + medianUs / 1000.0) * 100.0;
    state.counters["turnaround_median_us"] = medianUs;
    state.counters["turnaround_p99_us"] = p99Us;
    state.counters["line_use_115200_8N2_pct"] = lineUse;
    std::printf(
        "chunk turnaround (transmit-empty to next 80-byte chunk written): median %.1f us, "
        "p99 %.1f us over %zu chunks (target < 100 us)\n"
        "projected line use at 115200 baud 8N2 (%.2f ms per chunk): %.2f %% (target >= 99 %%)\n",
        medianUs, p99Us, samples.size(), kChunkLineMs, lineUse);
}

}  // namespace

BENCHMARK(BM_ChunkTurnaround)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
