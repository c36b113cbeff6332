#include "ui/AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "window/ProgramVersion.h"
#include "ui/DialogTemplate.h"
#include "ui/Icons.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) { OnInitDialog(); }

void CAboutDlg::OnInitDialog() {
    const CDialogUnits du(DialogFont());
    SetUpDialogFrame(this, du, 190, 110, false);
    setWindowTitle(QStringLiteral("Instrument Upgrader"));
    m_strVersion = QString::fromLatin1(kProgramFileVersion);

    auto* icon = PlaceControl(new QLabel(this), 6052, du, 12, 12, 20, 20);
    icon->setPixmap(AboutImage(32));
    icon->setFixedSize(32, 32);
    // Fixed texts have no id of their own in the template.
    auto fixedText = [&](const QString& text, int x, int y, int w, int h) {
        auto* label = new QLabel(text, this);
        label->setGeometry(du.Rect(x, y, w, h));
        return label;
    };
    fixedText(QStringLiteral("Instrument Upgrader"), 22, 49, 85, 8);
    fixedText(QStringLiteral("Version:"), 120, 49, 26, 8);
    PlaceControl(new QLabel(m_strVersion, this), 6053, du, 150, 49, 20, 8);
    fixedText(QStringLiteral("\u00A9 KORVA Instruments GmbH"), 12, 64, 166, 8)->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    auto* ok = PlaceControl(new QPushButton(QStringLiteral("OK"), this), 1, du, 70, 89, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    CenterDialog(this);
}
