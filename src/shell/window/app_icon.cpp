#include "shell/window/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace vs {

namespace {

QColor background(Activity activity) {
    switch (activity) {
        case Activity::Running:
            return QColor(0x2e, 0x8b, 0x3a);
        case Activity::Errors:
            return QColor(0xc0, 0x28, 0x1e);
        case Activity::Idle:
            break;
    }
    return QColor(0x1f, 0x5f, 0xa8);
}

}  // namespace

QIcon appIcon(Activity activity) {
    QPixmap pix(32, 32);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(background(activity));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(1, 1, 30, 30, 6, 6);
    p.setPen(QPen(Qt::white, 3));
    p.drawLine(9, 10, 23, 10);
    p.drawLine(23, 10, 18, 5);
    p.drawLine(23, 22, 9, 22);
    p.drawLine(9, 22, 14, 27);
    if (activity == Activity::Idle) return QIcon(pix);

    // The mark, in the lower right corner where it covers least of the arrows: a dot for a
    // running cycle, an exclamation mark for errors.
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(activity == Activity::Running ? QColor(0x7f, 0xe0, 0x7f) : QColor(0xff, 0xd0, 0x20));
    p.drawEllipse(QRectF(18.5, 16.5, 13, 13));
    if (activity == Activity::Errors) {
        p.setPen(QPen(Qt::black, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(25, 19.5), QPointF(25, 24));
        p.drawPoint(QPointF(25, 27));
    }
    return QIcon(pix);
}

}  // namespace vs
