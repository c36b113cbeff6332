#include "sim/PtyInstrument.h"

#include <chrono>
#include <vector>

#include "platform/Clock.h"
#include "platform/PortAlias.h"
#include "platform/SysError.h"

namespace sim {

namespace {

// The peer may send only while less than one update chunk waits to be
// consumed. A pty has no real handshake: whatever the peer writes while it
// may is already in, so the window is opened only when almost nothing waits
// and shut as soon as anything arrives.
constexpr size_t kResumeBelow = 80;
constexpr size_t kWriteChunk = 1024;
constexpr size_t kReadChunk = 256;  // small reads let the hold follow the backlog closely

uint64_t SteadyNs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

}  // namespace

CPtyInstrument::CPtyInstrument(Config config) : m_core(std::move(config)) {}

CPtyInstrument::~CPtyInstrument() { Stop(); }

uint64_t CPtyInstrument::NowNs() const { return SteadyNs() - m_startNs; }

uint32_t CPtyInstrument::Start(int firstCom) {
    if (m_thread.IsStarted() || m_pty.IsOpen()) return ERROR_ACCESS_DENIED;
    if (!m_stop.IsValid()) return ERROR_NOT_ENOUGH_MEMORY;
    if (const uint32_t rc = m_pty.Open()) return rc;
    m_devicePath = m_pty.PeerPath();
    // Another simulator may take the same number between our look and our
    // link; RegisterPortAlias refuses then and we try the next one.
    uint32_t rc = ERROR_ALREADY_EXISTS;
    for (int number = firstCom; number <= 99 && rc == ERROR_ALREADY_EXISTS; ++number) {
        number = platform::FreeAliasNumber(number);
        if (number == 0) break;
        m_comName = "COM" + std::to_string(number);
        rc = platform::RegisterPortAlias(m_comName, m_devicePath);
    }
    if (rc != 0) {
        m_comName.clear();
        m_pty.Close();
        return rc;
    }
    m_startNs = SteadyNs();
    if (const uint32_t rcThread = m_thread.Start([this] { return Run(); })) {
        platform::RemovePortAlias(m_comName, m_devicePath);
        m_comName.clear();
        m_pty.Close();
        return rcThread;
    }
    return 0;
}

void CPtyInstrument::Stop() {
    if (m_thread.IsStarted()) {
        m_stop.Set();
        m_thread.Join();  // the worker's waits all include m_stop
    }
    m_pty.Close();
    if (!m_comName.empty()) platform::RemovePortAlias(m_comName, m_devicePath);
    m_comName.clear();
}

CPtyInstrument::Snapshot CPtyInstrument::GetSnapshot() {
    std::lock_guard<std::mutex> lock(m_coreLock);
    return {m_core.GetState(), m_core.RunningIdentity(), m_core.GetCounters()};
}

CPtyInstrument::Snapshot CPtyInstrument::GetSettledSnapshot(uint32_t timeoutMs) {
    const uint32_t start = platform::GetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_coreLock);
            const bool settled = m_pty.PendingInput() == 0 && m_core.InputBacklog() == 0;
            if (settled || platform::GetTickCount() - start >= timeoutMs)
                return {m_core.GetState(), m_core.RunningIdentity(), m_core.GetCounters()};
        }
        // The worker handles the rest meanwhile; a stop ends the wait early.
        platform::WaitFor(m_stop, 10);
    }
}

uint32_t CPtyInstrument::Run() {
    std::vector<std::string> notices;
    {
        std::lock_guard<std::mutex> lock(m_coreLock);
        m_core.SetNoticeHandler([&notices](const std::string& text) { notices.push_back(text); });
    }
    std::vector<uint8_t> pending;  // due output the pty has not taken yet
    uint8_t buffer[kWriteChunk];
    bool hungUp = false;

    for (;;) {
        uint64_t nextNs = kNever;
        bool wantRead = false;
        {
            std::lock_guard<std::mutex> lock(m_coreLock);
            const uint64_t now = NowNs();
            m_core.Advance(now);
            while (pending.size() < kWriteChunk) {
                const size_t n = m_core.ReadOutput(buffer, kWriteChunk - pending.size(), now);
                if (n == 0) break;
                pending.insert(pending.end(), buffer, buffer + n);
                m_core.Advance(now);  // endless output is made as it is taken
            }
            if (m_core.IsHungUp()) hungUp = true;
            // Bytes still in the kernel count as well: they reached the line
            // before the hold did.
            const size_t backlog = m_core.InputBacklog() + m_pty.PendingInput();
            m_pty.HoldPeerOutput(backlog >= kResumeBelow);
            wantRead = m_core.InputSpace() > 0;
            nextNs = m_core.NextEventNs();
            if (pending.size() < kWriteChunk) nextNs = std::min(nextNs, m_core.NextOutputNs());
            if (nextNs != kNever) nextNs = nextNs > now ? nextNs - now : 0;
        }
        for (const std::string& text : notices)
            if (m_noticeHandler) m_noticeHandler(m_comName, text);
        notices.clear();

        if (hungUp) {
            // The cable is gone: the peer's reader sees EIO from now on.
            m_vanished.store(true, std::memory_order_release);  // before the peer can see the hang-up
            {
                // GetSettledSnapshot looks at the terminal under this lock.
                std::lock_guard<std::mutex> lock(m_coreLock);
                m_pty.Close();
            }
            if (m_noticeHandler) m_noticeHandler(m_comName, "pseudo-terminal closed");
            platform::WaitFor(m_stop, platform::kInfinite);  // until the owner stops it
            break;
        }

        platform::Waitable items[3];
        size_t count = 0;
        items[count++] = platform::Waitable::Of(m_stop);
        if (wantRead) items[count++] = m_pty.Readable();
        if (!pending.empty()) items[count++] = m_pty.Writable();
        uint32_t timeoutMs = platform::kInfinite;
        if (nextNs != kNever) timeoutMs = static_cast<uint32_t>(std::min<uint64_t>((nextNs + 999999) / 1000000, 60000));
        // Waits for the owner's stop, the peer's bytes, room for our bytes, or
        // the core's next due time; the stop comes first.
        const uint32_t woke = platform::WaitForAny(items, count, timeoutMs);
        if (woke == 0) break;
        if (woke == platform::kWaitFailed) break;

        if (wantRead) {
            // Read and handed over under one lock, so that bytes are never
            // out of the kernel yet not in the core (GetSettledSnapshot).
            std::lock_guard<std::mutex> lock(m_coreLock);
            size_t got = 0;
            const uint32_t rc = m_pty.Read(buffer, std::min(m_core.InputSpace(), kReadChunk), got);
            if (rc != 0) break;
            if (got > 0) {
                m_core.Receive(buffer, got, NowNs());
                if (m_core.InputBacklog() + m_pty.PendingInput() >= kResumeBelow) m_pty.HoldPeerOutput(true);
            }
        }
        if (!pending.empty()) {
            size_t written = 0;
            if (m_pty.Write(pending.data(), pending.size(), written) != 0) break;
            pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(written));
        }
    }
    std::lock_guard<std::mutex> lock(m_coreLock);
    m_core.SetNoticeHandler(nullptr);
    return 0;
}

}  // namespace sim
