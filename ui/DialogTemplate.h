// Laying dialogs out the way their templates describe them: positions and
// sizes in dialog units, converted with the dialog font's average character
// width and height as the original window system does, so every window
// keeps the proportions it was designed with. Controls carry their numeric
// id (object name "ctl<id>") so code and tests find them by number.
//
// Thread: the GUI thread.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QString>
#include <cstdint>
#include <string>

// "MS Sans Serif" 8 point, or the closest sans-serif face the system has.
QFont DialogFont();

class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    int X(int dlu) const;  // horizontal dialog units to pixels
    int Y(int dlu) const;  // vertical dialog units to pixels
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    QSize Size(int w, int h) const { return QSize(X(w), Y(h)); }
    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }

private:
    int m_nBaseX;  // average character width in pixels
    int m_nBaseY;  // character height in pixels
};

// Gives `control` its id and its place in dialog units.
template <class T>
T* PlaceControl(T* control, int id, const CDialogUnits& units, int x, int y, int w, int h) {
    control->setObjectName(QStringLiteral("ctl%1").arg(id));
    control->setGeometry(units.Rect(x, y, w, h));
    return control;
}

// Font, fixed client size in dialog units, frame buttons (a minimise box
// where the template has one).
void SetUpDialogFrame(QDialog* dialog, const CDialogUnits& units, int w, int h, bool minimizeBox);
// Centres the dialog on the screen it will appear on (templates are centred).
void CenterDialog(QDialog* dialog);

// The control with number `id`, or nullptr.
template <class T = QWidget>
T* FindControl(const QWidget* dialog, int id) {
    return dialog->findChild<T*>(QStringLiteral("ctl%1").arg(id));
}

inline QString Qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }
// LoadStringResource in the user's language.
QString LoadText(uint32_t id);
// The brand name, string 6100 as stored (it has no English twin).
QString BrandName();
// Line ends as the string tables store them ("\r\n") to Qt's.
QString PlainLines(QString text);
