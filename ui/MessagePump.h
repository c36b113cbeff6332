// Drives a CMessageWindow from Qt's event loop: its wake callback queues a
// dispatch, and a single-shot timer stands for its next due timer. Every
// event loop (the main window's and any modal dialog's) therefore keeps
// handling sent and posted messages and timers.
//
// The dispatch is a queued Qt call, so a handler that opens a modal dialog
// runs from ordinary event processing, where nested loops are always allowed.
//
// Thread: the window's owner thread, which must be the Qt GUI thread.
#pragma once

#include <QObject>
#include <atomic>

class CMessageWindow;
class QTimer;

class CQtMessagePump : public QObject {
public:
    explicit CQtMessagePump(CMessageWindow& window, QObject* parent = nullptr);
    ~CQtMessagePump() override;

    // Handles what is pending now and re-arms the timer.
    void Pump();

private:
    CMessageWindow& m_Window;
    QTimer* m_pTimer;
    std::atomic<bool> m_bQueued{false};  // a Pump is queued and has not begun
};
