// The pacer's hand-over points, the same on every system; how it watches
// the queue is each system's own.
#include "platform/SerialPort.h"

#include <utility>

namespace platform {

TransmitPacer::TransmitPacer(ITransmitQueue& queue, Notify notify) : m_queue(queue), m_notify(std::move(notify)) {}

void TransmitPacer::Written() { m_request.Set(); }

void TransmitPacer::LineChanged() { m_lineChanged.Set(); }

void TransmitPacer::Stop() {
    if (!m_thread.joinable()) return;
    m_stop.Set();
    m_thread.join();
}

}  // namespace platform
