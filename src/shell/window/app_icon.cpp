#include "shell/window/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace vs {

QIcon appIcon() {
    QPixmap pix(32, 32);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x5f, 0xa8));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(1, 1, 30, 30, 6, 6);
    p.setPen(QPen(Qt::white, 3));
    p.drawLine(9, 10, 23, 10);
    p.drawLine(23, 10, 18, 5);
    p.drawLine(23, 22, 9, 22);
    p.drawLine(9, 22, 14, 27);
    return QIcon(pix);
}

}  // namespace vs
