#include "ui/UpdateDialogs.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <vector>

#include "base/StringIds.h"
#include "device/DeviceTables.h"
#include "ui/DialogTemplate.h"
#include "ui/TemplateTexts.h"

namespace {

QLabel* Text(QDialog* dialog, const CDialogUnits& du, int id, const QString& text, int x, int y, int w, int h,
             Qt::Alignment alignment) {
    auto* label = new QLabel(PlainLines(text), dialog);
    label->setGeometry(du.Rect(x, y, w, h));
    if (id > 0) label->setObjectName(QStringLiteral("ctl%1").arg(id));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(alignment | Qt::AlignTop);
    return label;
}

QPushButton* Button(QDialog* dialog, const CDialogUnits& du, int id, const QString& text, int x, int y, int w, int h) {
    return PlaceControl(new QPushButton(text, dialog), id, du, x, y, w, h);
}

}  // namespace

CSerialSettingsNotice::CSerialSettingsNotice(QWidget* parent) : QDialog(parent) {
    const SerialNoticeTexts& t = SerialNoticeTemplate();
    const CDialogUnits du(DialogFont());
    SetUpDialogFrame(this, du, 250, 180, false);
    setWindowTitle(QString::fromUtf8(t.caption));

    Text(this, du, 0, QString::fromUtf8(t.intro), 12, 10, 226, 26, Qt::AlignHCenter);
    Text(this, du, 0, QString::fromUtf8(t.compare), 12, 42, 226, 26, Qt::AlignHCenter);
    const char* rows[][2] = {{t.baudLabel, t.baudValue},
                             {t.stopBitsLabel, t.stopBitsValue},
                             {t.parityLabel, t.parityValue},
                             {t.handshakeLabel, t.handshakeValue}};
    int y = 76;
    for (const auto& row : rows) {
        Text(this, du, 0, QString::fromUtf8(row[0]), 62, y, 62, 8, Qt::AlignLeft);
        Text(this, du, 0, QString::fromUtf8(row[1]), 130, y, 70, 8, Qt::AlignLeft);
        y += 12;
    }
    Text(this, du, 0, QString::fromUtf8(t.question), 12, 132, 226, 10, Qt::AlignHCenter);
    QPushButton* yes = Button(this, du, 1, QString::fromUtf8(t.yes), 50, 156, 60, 14);
    QPushButton* no = Button(this, du, 2, QString::fromUtf8(t.no), 140, 156, 60, 14);
    yes->setDefault(true);
    connect(yes, &QPushButton::clicked, this, [this] { done(1); });
    connect(no, &QPushButton::clicked, this, [this] { done(2); });
    CenterDialog(this);
}

CUpdateQuestionDialog::CUpdateQuestionDialog(Kind kind, uint32_t flags, QWidget* parent) : QDialog(parent) {
    const CDialogUnits du(DialogFont());
    setWindowTitle(BrandName() + QStringLiteral(" - ") + LoadText(IDS_TITLE_VERSION_CHECK));
    QPushButton* button1 = nullptr;
    QPushButton* button2 = nullptr;
    switch (kind) {
        case kVersionQuestion: {
            SetUpDialogFrame(this, du, 250, 108, false);
            const bool impossible = (flags & VC_CHANGE_IMPOSSIBLE) != 0;
            Text(this, du, 6021, (flags & VC_DOWNGRADE) ? LoadText(IDS_VERSION_NEWER) : QString(), 12, 12, 226, 17,
                 Qt::AlignHCenter);
            Text(this, du, 6022, LoadText(impossible ? IDS_VERSION_CHANGE_IMPOSSIBLE : IDS_ASK_START_UPDATE), 12, 50,
                 226, 17, Qt::AlignHCenter);
            button1 = Button(this, du, 1, LoadText(IDS_BTN_YES), 40, 82, 60, 14);
            button2 = Button(this, du, 2, LoadText(impossible ? IDS_BTN_CANCEL : IDS_BTN_NO), 150, 82, 60, 14);
            button1->setVisible(!impossible);
            button2->setDefault(true);
            break;
        }
        case kAdjustmentNotice:
            SetUpDialogFrame(this, du, 250, 160, false);
            Text(this, du, 6021, LoadText(IDS_ASK_ADJUST_NOTE), 12, 12, 226, 17, Qt::AlignHCenter);
            {
                QLabel* conditions = Text(this, du, 6022, QString(), 12, 37, 226, 66, Qt::AlignLeft);
                conditions->setTextFormat(Qt::RichText);
                conditions->setText(ListParagraphs(LoadText(IDS_ASK_ADJUST_CONDITIONS)));
            }
            Text(this, du, 6023, LoadText(IDS_ASK_START_UPDATE), 12, 108, 226, 10, Qt::AlignHCenter);
            button1 = Button(this, du, 1, LoadText(IDS_BTN_YES), 50, 134, 50, 14);
            button2 = Button(this, du, 2, LoadText(IDS_BTN_NO), 150, 134, 50, 14);
            button1->setDefault(true);
            break;
        case kStepNotice:
            SetUpDialogFrame(this, du, 250, 86, false);
            Text(this, du, 6021, LoadText(IDS_VERSION_NOT_AT_ONCE), 12, 12, 226, 33, Qt::AlignHCenter);
            button2 = Button(this, du, 2, LoadText(IDS_BTN_CANCEL), 87, 60, 75, 14);
            button2->setDefault(true);
            break;
    }
    if (button1 != nullptr) connect(button1, &QPushButton::clicked, this, [this] { done(1); });
    connect(button2, &QPushButton::clicked, this, [this] { done(0); });
    CenterDialog(this);
}

QString ListParagraphs(const QString& text) {
    // The lines of an item after its first are indented; a word split with
    // a hyphen at a line's end is joined again.
    static const QRegularExpression kItem(QStringLiteral("^(\\d+\\.)\\s+(.*)$"));
    QString intro;
    std::vector<std::pair<QString, QString>> items;
    for (const QString& raw : PlainLines(text).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty()) continue;
        const QRegularExpressionMatch item = kItem.match(line);
        QString* target = nullptr;
        if (item.hasMatch()) {
            items.emplace_back(item.captured(1), QString());
            target = &items.back().second;
            *target = item.captured(2);
            continue;
        }
        target = items.empty() ? &intro : &items.back().second;
        if (target->isEmpty()) {
            *target = line;
        } else if (target->endsWith(QLatin1Char('-')) && target->size() > 1 && target->at(target->size() - 2).isLetter() &&
                   line.front().isLower()) {
            target->chop(1);
            *target += line;
        } else {
            *target += QLatin1Char(' ') + line;
        }
    }
    QString html = QStringLiteral("<p style=\"margin:0\">%1</p>").arg(intro.toHtmlEscaped());
    if (!items.empty()) {
        html += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"0\" style=\"margin-top:2px\">");
        for (const auto& [number, body] : items)
            html += QStringLiteral("<tr><td style=\"padding-right:6px\">%1</td><td>%2</td></tr>")
                        .arg(number.toHtmlEscaped(), body.toHtmlEscaped());
        html += QStringLiteral("</table>");
    }
    return html;
}

int AskCloseWhileUpdating(QWidget* parent) {
    QDialog dialog(parent);
    const CDialogUnits du(DialogFont());
    SetUpDialogFrame(&dialog, du, 250, 100, false);
    dialog.setWindowTitle(BrandName());
    Text(&dialog, du, 6021, QString::fromUtf8(MainWindowTemplate().closeQuestion), 12, 10, 226, 58, Qt::AlignLeft);
    QPushButton* yes = Button(&dialog, du, 1, LoadText(IDS_BTN_YES), 50, 76, 60, 14);
    QPushButton* no = Button(&dialog, du, 2, LoadText(IDS_BTN_NO), 140, 76, 60, 14);
    no->setDefault(true);  // a slip of the Enter key keeps the updates running
    QObject::connect(yes, &QPushButton::clicked, &dialog, [&dialog] { dialog.done(1); });
    QObject::connect(no, &QPushButton::clicked, &dialog, [&dialog] { dialog.done(0); });
    CenterDialog(&dialog);
    return dialog.exec() == 1 ? 1 : 0;
}

int ShowSerialSettingsNotice(QWidget* parent) {
    CSerialSettingsNotice notice(parent);
    const int result = notice.exec();
    return result == 1 ? 1 : 2;
}

int ShowVersionQuestion(uint32_t flags, QWidget* parent) {
    flags &= VC_DOWNGRADE | VC_CHANGE_IMPOSSIBLE;
    if (flags == 0) return 1;
    CUpdateQuestionDialog dialog(CUpdateQuestionDialog::kVersionQuestion, flags, parent);
    const int result = dialog.exec() == 1 ? 1 : 0;
    // A refused change can never be agreed to, whatever the dialog returned.
    return (flags & VC_CHANGE_IMPOSSIBLE) ? 0 : result;
}

int ShowAdjustmentNotice(QWidget* parent) {
    CUpdateQuestionDialog dialog(CUpdateQuestionDialog::kAdjustmentNotice, 0, parent);
    return dialog.exec() == 1 ? 1 : 0;
}

int ShowStepNotice(QWidget* parent) {
    CUpdateQuestionDialog dialog(CUpdateQuestionDialog::kStepNotice, 0, parent);
    dialog.exec();
    return 0;
}
