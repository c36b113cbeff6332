// The pacer's hand-over points, the same on every system; how it watches
// the queue is each system's own.
#include "platform/SerialPort.h"

#include <algorithm>
#include <utility>

namespace platform {

TransmitPacer::TransmitPacer(ITransmitQueue& queue, Notify notify) : m_queue(queue), m_notify(std::move(notify)) {}

void TransmitPacer::Written() { m_request.Set(); }

void TransmitPacer::LineChanged() { m_lineChanged.Set(); }

uint64_t TransmitPacer::CharacterNs() const {
    const uint64_t characterNs = m_queue.CharacterNs();
    return characterNs != 0 ? characterNs : 100000;  // 0 baud: as if at 100 kbaud
}

uint32_t TransmitPacer::LowWater(uint64_t characterNs) {
    return static_cast<uint32_t>(std::max<uint64_t>(kMinLowWater, kLeadNs / characterNs));
}

void TransmitPacer::Stop() {
    if (!m_thread.joinable()) return;
    m_stop.Set();
    m_thread.join();
}

}  // namespace platform
