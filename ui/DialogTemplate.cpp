#include "ui/DialogTemplate.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>

#include "base/StringIds.h"
#include "base/Strings.h"

QFont DialogFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the 52 letters, rounded as the original system
    // rounds it, and the full character height.
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = (width / 26 + 1) / 2;
    m_nBaseY = metrics.height();
    if (m_nBaseX < 1) m_nBaseX = 1;
    if (m_nBaseY < 1) m_nBaseY = 1;
}

namespace {
// MulDiv: rounded to the nearest pixel.
int ScaleRounded(int value, int base, int divisor) {
    const long long product = static_cast<long long>(value) * base;
    return static_cast<int>((product >= 0 ? product + divisor / 2 : product - divisor / 2) / divisor);
}
}  // namespace

int CDialogUnits::X(int dlu) const { return ScaleRounded(dlu, m_nBaseX, 4); }
int CDialogUnits::Y(int dlu) const { return ScaleRounded(dlu, m_nBaseY, 8); }

void SetUpDialogFrame(QDialog* dialog, const CDialogUnits& units, int w, int h, bool minimizeBox) {
    dialog->setFont(DialogFont());
    dialog->setFixedSize(units.Size(w, h));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint;
    if (minimizeBox) flags |= Qt::WindowMinimizeButtonHint;
    dialog->setWindowFlags(flags);
}

void CenterDialog(QDialog* dialog) {
    QScreen* screen = dialog->screen() ? dialog->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame = dialog->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    dialog->move(frame.topLeft());
}

QString LoadText(uint32_t id) { return Qs(LoadStringResource(id)); }

QString BrandName() {
    const char* brand = FindStringResource(IDS_BRAND_MAIN);
    return brand != nullptr ? QString::fromUtf8(brand) : QString();
}

QString PlainLines(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}
