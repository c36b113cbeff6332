#include "ui/MessagePump.h"

#include <QSocketNotifier>
#include <QTimer>
#include <limits>

#include "base/MessageWindow.h"
#include "platform/Event.h"

CQtMessagePump::CQtMessagePump(CMessageWindow& window, QObject* parent)
    : QObject(parent),
      m_Window(window),
      m_pNotifier(new QSocketNotifier(window.WakeFd(), QSocketNotifier::Read, this)),
      m_pTimer(new QTimer(this)) {
    m_pTimer->setSingleShot(true);
    m_pTimer->setTimerType(Qt::PreciseTimer);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CQtMessagePump::OnWake);
    connect(m_pTimer, &QTimer::timeout, this, &CQtMessagePump::Pump);
    // Whatever arrived before the pump existed.
    OnWake();
}

CQtMessagePump::~CQtMessagePump() { m_pNotifier->setEnabled(false); }

void CQtMessagePump::OnWake() {
    // The descriptor stays readable until the dispatch reads it; keep the
    // notifier quiet until then.
    m_pNotifier->setEnabled(false);
    if (m_bQueued) return;
    m_bQueued = true;
    QMetaObject::invokeMethod(this, &CQtMessagePump::Pump, Qt::QueuedConnection);
}

void CQtMessagePump::Pump() {
    m_bQueued = false;
    // Enabled before dispatching: a handler may run a modal loop, in which
    // new messages must still be seen.
    m_pNotifier->setEnabled(true);
    m_Window.DispatchPending();
    const uint32_t due = m_Window.NextTimerDueMs();
    if (due == platform::kInfinite) {
        m_pTimer->stop();
    } else {
        const uint32_t capped = std::min<uint32_t>(due, static_cast<uint32_t>(std::numeric_limits<int>::max()));
        m_pTimer->start(static_cast<int>(capped));
    }
}
