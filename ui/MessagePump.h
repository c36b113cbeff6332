// Drives a CMessageWindow from Qt's event loop: a socket notifier on its
// wake descriptor and a single-shot timer for its next due timer. Every
// event loop (the main window's and any modal dialog's) therefore keeps
// handling sent and posted messages and timers.
//
// The notifier does not dispatch itself: it queues the dispatch as a Qt
// event, so a handler that opens a modal dialog runs from ordinary event
// processing, where nested loops are always allowed.
//
// Thread: the window's owner thread, which must be the Qt GUI thread.
#pragma once

#include <QObject>

class CMessageWindow;
class QSocketNotifier;
class QTimer;

class CQtMessagePump : public QObject {
public:
    explicit CQtMessagePump(CMessageWindow& window, QObject* parent = nullptr);
    ~CQtMessagePump() override;

    // Handles what is pending now and re-arms the timer.
    void Pump();

private:
    void OnWake();

    CMessageWindow& m_Window;
    QSocketNotifier* m_pNotifier;
    QTimer* m_pTimer;
    bool m_bQueued = false;
};
