#include "ui/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

// One badge style for all row states: a filled disc in the state's colour
// with a white symbol, so the states differ in colour and in shape.
struct StateStyle {
    QColor fill;
    QColor edge;
};

constexpr int kStyles = ROW_IMAGE_COUNT;
const StateStyle& Style(int index) {
    static const StateStyle styles[kStyles] = {
        {QColor(0x2F, 0x6F, 0xC8), QColor(0x1C, 0x48, 0x85)},  // possible: blue
        {QColor(0x8C, 0x8C, 0x8C), QColor(0x5A, 0x5A, 0x5A)},  // not possible: grey
        {QColor(0xE8, 0xA1, 0x1C), QColor(0xA3, 0x6B, 0x05)},  // running: amber
        {QColor(0x2E, 0x9E, 0x46), QColor(0x1B, 0x6A, 0x2D)},  // succeeded: green
        {QColor(0xD0, 0x33, 0x2B), QColor(0x8E, 0x1C, 0x16)},  // failed: red
    };
    return styles[index];
}

QPixmap Blank(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// The instrument: a dark case with a green screen showing a trace.
void DrawInstrument(QPainter& p, const QRectF& r) {
    p.setPen(QPen(QColor(0x30, 0x34, 0x3A), r.width() / 24.0));
    p.setBrush(QColor(0x4A, 0x50, 0x58));
    p.drawRoundedRect(r, r.width() / 10.0, r.width() / 10.0);
    const QRectF screen(r.left() + r.width() * 0.10, r.top() + r.height() * 0.14, r.width() * 0.58, r.height() * 0.62);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0E, 0x2A, 0x1A));
    p.drawRect(screen);
    QPainterPath trace;
    for (int i = 0; i <= 24; ++i) {
        const double t = i / 24.0;
        const QPointF point(screen.left() + t * screen.width(),
                            screen.center().y() - std::sin(t * 2 * M_PI) * screen.height() * 0.32);
        if (i == 0) trace.moveTo(point);
        else trace.lineTo(point);
    }
    p.setPen(QPen(QColor(0x5C, 0xF0, 0x7A), std::max(1.0, r.width() / 20.0)));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);
    // Knobs on the right.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xD8, 0xD8, 0xD8));
    const double k = r.width() * 0.09;
    p.drawEllipse(QPointF(r.left() + r.width() * 0.83, r.top() + r.height() * 0.32), k, k);
    p.drawEllipse(QPointF(r.left() + r.width() * 0.83, r.top() + r.height() * 0.62), k, k);
}

}  // namespace

QPixmap RowStateImage(int index, int size) {
    if (index < 0 || index >= ROW_IMAGE_COUNT) index = ROW_IMAGE_IMPOSSIBLE;
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    const QRectF disc(0.5, 0.5, s - 1.0, s - 1.0);
    p.setPen(QPen(Style(index).edge, 1.0));
    p.setBrush(Style(index).fill);
    p.drawEllipse(disc);

    QPen white(Qt::white, std::max(1.5, s / 7.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(white);
    p.setBrush(Qt::NoBrush);
    switch (index) {
        case ROW_IMAGE_POSSIBLE: {  // arrow up: new firmware can go in
            p.drawLine(QPointF(s / 2, s * 0.75), QPointF(s / 2, s * 0.27));
            p.drawLine(QPointF(s * 0.30, s * 0.46), QPointF(s / 2, s * 0.26));
            p.drawLine(QPointF(s * 0.70, s * 0.46), QPointF(s / 2, s * 0.26));
            break;
        }
        case ROW_IMAGE_IMPOSSIBLE:  // bar: no entry
            p.drawLine(QPointF(s * 0.27, s / 2), QPointF(s * 0.73, s / 2));
            break;
        case ROW_IMAGE_RUNNING: {  // hourglass-like three dots: busy
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            const double r = std::max(1.0, s / 11.0);
            for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(s * (0.28 + 0.22 * i), s / 2), r, r);
            break;
        }
        case ROW_IMAGE_SUCCEEDED:  // check mark
            p.drawPolyline(QPolygonF({QPointF(s * 0.26, s * 0.52), QPointF(s * 0.43, s * 0.70), QPointF(s * 0.75, s * 0.32)}));
            break;
        case ROW_IMAGE_FAILED:  // cross
            p.drawLine(QPointF(s * 0.31, s * 0.31), QPointF(s * 0.69, s * 0.69));
            p.drawLine(QPointF(s * 0.69, s * 0.31), QPointF(s * 0.31, s * 0.69));
            break;
        default:
            break;
    }
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap = Blank(size);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        DrawInstrument(p, QRectF(0.5, size * 0.12, size - 1.0, size * 0.76));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap UpdateImage(int size) {
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    DrawInstrument(p, QRectF(0.5, s * 0.34, s - 1.0, s * 0.64));
    // A blue arrow going down into the instrument.
    p.setPen(Qt::NoPen);
    p.setBrush(Style(ROW_IMAGE_POSSIBLE).fill);
    QPolygonF arrow({QPointF(s * 0.40, 0), QPointF(s * 0.60, 0), QPointF(s * 0.60, s * 0.18), QPointF(s * 0.74, s * 0.18),
                     QPointF(s * 0.50, s * 0.38), QPointF(s * 0.26, s * 0.18), QPointF(s * 0.40, s * 0.18)});
    p.drawPolygon(arrow);
    return pixmap;
}

QPixmap AboutImage(int size) {
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawInstrument(p, QRectF(0.5, size * 0.12, size - 1.0, size * 0.76));
    return pixmap;
}
