// One simulated instrument on a pseudo-terminal, registered as a COM alias.
//
// A worker thread moves bytes between the pseudo-terminal and the
// instrument core and keeps the core's clock. It lets the peer send only
// while less than one 80-byte chunk waits to be consumed, as the
// instrument's CTS line would, so data never piles up in the kernel's pty
// buffer (about 19 KB, two seconds at 115200 baud) where it would delay the
// reply to the last chunk past the updater's reply time. With a writer that
// never pauses, the reply comes about 0.2 s after its last write.
//
// Threads: Start/Stop/destructor on the owner's thread; the worker runs the
// core; Snapshot and HasVanished from any thread.
// Locks: m_coreLock guards m_core (the worker holds it while it runs the
// core, never while it waits). m_vanished is atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Event.h"
#include "platform/PseudoTerminal.h"
#include "platform/Thread.h"
#include "sim/Instrument.h"

namespace sim {

class CPtyInstrument {
public:
    // Called on the worker thread, without any lock held.
    using NoticeHandler = std::function<void(const std::string& comName, const std::string& text)>;

    explicit CPtyInstrument(Config config);
    ~CPtyInstrument();
    CPtyInstrument(const CPtyInstrument&) = delete;
    CPtyInstrument& operator=(const CPtyInstrument&) = delete;

    // Set before Start.
    void SetNoticeHandler(NoticeHandler handler) { m_noticeHandler = std::move(handler); }

    // Opens the pseudo-terminal, registers it under the first free COM
    // number from `firstCom` on, starts the worker. 0 or an error number.
    uint32_t Start(int firstCom);
    // Stops the worker, closes the pseudo-terminal, removes the alias (only
    // if it still points at this terminal).
    void Stop();

    const std::string& ComName() const { return m_comName; }
    const std::string& DevicePath() const { return m_devicePath; }
    bool HasVanished() const { return m_vanished.load(std::memory_order_acquire); }

    struct Snapshot {
        CInstrument::State state;
        Identity identity;
        CInstrument::Counters counters;
    };
    Snapshot GetSnapshot();
    // Like GetSnapshot, once every byte the peer wrote has been handled (or
    // after `timeoutMs`): a peer that closes right after its last command
    // would otherwise be judged before the instrument has read it.
    Snapshot GetSettledSnapshot(uint32_t timeoutMs);

private:
    uint32_t Run();
    uint64_t NowNs() const;

    CInstrument m_core;
    std::mutex m_coreLock;
    platform::PseudoTerminal m_pty;
    platform::Event m_stop{platform::Event::kManualReset, false};
    platform::Thread m_thread;
    std::atomic<bool> m_vanished{false};
    std::string m_comName;
    std::string m_devicePath;
    NoticeHandler m_noticeHandler;
    uint64_t m_startNs = 0;
};

}  // namespace sim
