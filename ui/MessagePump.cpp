#include "ui/MessagePump.h"

#include <QTimer>
#include <limits>

#include "base/MessageWindow.h"
#include "platform/Event.h"

CQtMessagePump::CQtMessagePump(CMessageWindow& window, QObject* parent)
    : QObject(parent), m_Window(window), m_pTimer(new QTimer(this)) {
    m_pTimer->setSingleShot(true);
    m_pTimer->setTimerType(Qt::PreciseTimer);
    connect(m_pTimer, &QTimer::timeout, this, &CQtMessagePump::Pump);
    // Any thread: queue one dispatch; later arrivals ride on it until it runs.
    m_Window.SetWakeCallback([this] {
        if (!m_bQueued.exchange(true)) QMetaObject::invokeMethod(this, &CQtMessagePump::Pump, Qt::QueuedConnection);
    });
    // Whatever arrived before the pump existed.
    m_bQueued = true;
    QMetaObject::invokeMethod(this, &CQtMessagePump::Pump, Qt::QueuedConnection);
}

// Waits for a wake in progress; Qt drops the dispatches still queued for this object.
CQtMessagePump::~CQtMessagePump() { m_Window.SetWakeCallback({}); }

void CQtMessagePump::Pump() {
    // Cleared before dispatching: a handler may run a modal loop, in which
    // new messages must still be seen.
    m_bQueued = false;
    m_Window.DispatchPending();
    const uint32_t due = m_Window.NextTimerDueMs();
    if (due == platform::kInfinite) {
        m_pTimer->stop();
    } else {
        const uint32_t capped = std::min<uint32_t>(due, static_cast<uint32_t>(std::numeric_limits<int>::max()));
        m_pTimer->start(static_cast<int>(capped));
    }
}
