// The modal questions and notices around an update: the serial settings
// notice before serial ports are searched, and the update document's three
// dialogs before an update starts (version question 6019, adjustment
// notice 6018, step notice 6020).
//
// Thread: the GUI thread.
#pragma once

#include <QDialog>
#include <QPointer>
#include <cstdint>

#include "update/DeviceUpdateDoc.h"

// Serial settings notice (templates 6202/6402). exec() returns the number of
// the button pressed: 1 Yes, 2 No (also for the close box and Escape).
class CSerialSettingsNotice : public QDialog {
public:
    explicit CSerialSettingsNotice(QWidget* parent = nullptr);
};

// One of the three update document dialogs. exec() returns 1 for button 1
// and 0 for button 2, the close box and Escape.
class CUpdateQuestionDialog : public QDialog {
public:
    enum Kind { kAdjustmentNotice = 6018, kVersionQuestion = 6019, kStepNotice = 6020 };
    // `flags` counts for the version question only (VC_DOWNGRADE and
    // VC_CHANGE_IMPOSSIBLE).
    CUpdateQuestionDialog(Kind kind, uint32_t flags, QWidget* parent = nullptr);
};

int ShowSerialSettingsNotice(QWidget* parent);
// 1 without a dialog when no flag is set; else the dialog's answer.
int ShowVersionQuestion(uint32_t flags, QWidget* parent);
int ShowAdjustmentNotice(QWidget* parent);
int ShowStepNotice(QWidget* parent);  // always 0
// Closing while updates run: 1 for Yes (close), 0 for No, the close box
// and Escape.
int AskCloseWhileUpdating(QWidget* parent);
// A text of a numbered list with hand-made line breaks (6230) as one
// paragraph per item with a hanging indent, so it wraps in any font.
QString ListParagraphs(const QString& text);

// The update document's questions as these dialogs, over `parent`.
class CUpdateQuestions : public IUpdateDialogs {
public:
    explicit CUpdateQuestions(QWidget* parent) : m_pParent(parent) {}
    int ShowVersionNotAtOnce() override { return ShowStepNotice(m_pParent); }
    int AskVersionChange(uint32_t flags) override { return ShowVersionQuestion(flags, m_pParent); }
    int AskAdjustment() override { return ShowAdjustmentNotice(m_pParent); }

private:
    QPointer<QWidget> m_pParent;
};
