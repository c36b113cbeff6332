// Drives a CInstrument on a virtual clock: bytes go in at the current time,
// time moves on to each due event, output is collected as it comes due.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Instrument.h"

class SimDriver {
public:
    explicit SimDriver(sim::Config config) : m_inst(std::move(config)) {}

    sim::CInstrument& Inst() { return m_inst; }
    uint64_t Now() const { return m_now; }

    // Feeds all bytes, waiting (in virtual time) whenever the input is full.
    void Send(const std::string& bytes) { Send(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()); }
    void Send(const uint8_t* data, size_t size) {
        size_t done = 0;
        while (done < size) {
            done += m_inst.Receive(data + done, size - done, m_now);
            if (done < size) Step(m_inst.NextDueNs());
        }
    }
    // Runs `ms` of virtual time (fast mode: until nothing is due) and returns
    // the output that came due, at most `limit` bytes.
    std::string Run(uint64_t ms = 0, size_t limit = 1 << 20) {
        const uint64_t end = m_now + ms * 1000000ull;
        std::string out;
        for (int guard = 0; guard < 10000000 && out.size() < limit; ++guard) {
            const uint64_t next = m_inst.NextDueNs();
            if (next == sim::kNever || next > end) break;
            Step(next);
            Collect(out, limit);
        }
        if (out.size() < limit) {
            Step(end);
            Collect(out, limit);
        }
        return out;
    }
    std::string Exchange(const std::string& bytes, uint64_t ms = 0) {
        Send(bytes);
        return Run(ms);
    }

private:
    void Step(uint64_t t) {
        if (t != sim::kNever && t > m_now) m_now = t;
        m_inst.Advance(m_now);
    }
    void Collect(std::string& out, size_t limit) {
        uint8_t buffer[512];
        while (out.size() < limit) {
            const size_t n = m_inst.ReadOutput(buffer, std::min(sizeof buffer, limit - out.size()), m_now);
            if (n == 0) break;
            out.append(reinterpret_cast<const char*>(buffer), n);
            m_inst.Advance(m_now);
        }
    }

    sim::CInstrument m_inst;
    uint64_t m_now = 0;
};

inline sim::Config FastConfig() {
    sim::Config c;
    c.timing.fast = true;
    return c;
}
