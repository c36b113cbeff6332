// The simulated instrument as the far end of a modelled line; it outlives
// the ports opened on it (an update reopens its port).
// Thread: the clock threads of its ports, one at a time (m_mutex: a closing
// port's thread may still be inside when the next port starts); Core only
// once no port runs on it.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "LineModel.h"
#include "sim/Instrument.h"

namespace linemodel {

class InstrumentPeer : public ILinePeer {
public:
    explicit InstrumentPeer(sim::Config config) : m_core(std::move(config)) {}

    uint64_t Exchange(const std::string& arrived, uint64_t fromNs, uint64_t nowNs, std::string* reply) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uint64_t t = nowNs - m_startNs;
        // The core times each byte from the start it is given, one character
        // after the other: given the line's own start, a late delivery does
        // not shift the instrument's view of the line.
        const uint64_t from = m_pending.empty() && !arrived.empty() && fromNs > m_startNs ? fromNs - m_startNs : t;
        m_pending += arrived;
        const size_t took = m_core.Receive(reinterpret_cast<const uint8_t*>(m_pending.data()), m_pending.size(), from);
        m_pending.erase(0, took);
        m_core.Advance(t);
        uint8_t buffer[256];
        // At most 1 KB a call: an instrument that talks without end (and
        // without a character time) would otherwise never let go.
        size_t n = 0;
        for (int i = 0; i < 4 && (n = m_core.ReadOutput(buffer, sizeof buffer, t)) != 0; ++i) {
            reply->append(reinterpret_cast<const char*>(buffer), n);
            m_core.Advance(t);
        }
        const uint64_t next = m_core.NextDueNs();
        // Input it could not take yet, and output it had no room for, come
        // again soon.
        if (!m_pending.empty() || n != 0) return nowNs + 1000000;
        return next == sim::kNever ? UINT64_MAX : next + m_startNs;
    }
    bool HungUp() override {
        if (m_unplugged.load()) return true;
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_core.IsHungUp();
    }
    // From now on the peer counts as hung up.
    void Unplug() { m_unplugged.store(true); }
    sim::CInstrument& Core() { return m_core; }

private:
    std::mutex m_mutex;
    sim::CInstrument m_core;
    std::string m_pending;
    std::atomic<bool> m_unplugged{false};
    const uint64_t m_startNs = ModelPort::NowNs() - 1;
};

}  // namespace linemodel
