// The pacer on Windows, where the system's driver raises transmit-empty
// itself and only a model of a line needs one: while a write's bytes are on
// their way the queue is looked at every millisecond (the finest a wait
// can be timed here), and transmit-empty comes once it holds no more than
// the line sends in the lead time.
#include "platform/SerialPort.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "platform/SysError.h"

namespace platform {

TransmitPacer::~TransmitPacer() { Stop(); }

uint32_t TransmitPacer::Start() {
    if (!m_request.IsValid() || !m_lineChanged.IsValid() || !m_stop.IsValid()) return ERROR_NO_SYSTEM_RESOURCES;
    try {
        m_thread = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
        return ERROR_NO_SYSTEM_RESOURCES;
    }
    return 0;
}

void TransmitPacer::Loop() {
    bool watching = false;
    for (;;) {
        Waitable items[] = {Waitable::Of(m_stop), Waitable::Of(m_request), Waitable::Of(m_lineChanged)};
        const uint32_t woke = WaitForAny(items, 3, watching ? 1 : kInfinite);
        if (woke == 0 || woke == kWaitFailed) break;
        if (woke == 1) watching = true;
        uint32_t queued = 0;
        if (!watching || m_queue.QueuedBytes(&queued) != 0) {
            watching = false;
            continue;
        }
        if (queued <= LowWater(CharacterNs())) {
            watching = false;
            m_notify();
        }
    }
}

}  // namespace platform
