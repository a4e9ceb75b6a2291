#include "ui/platform/icons.h"

#include <QPainter>
#include <QPixmap>

namespace tessaly {

namespace {

QPixmap canvas() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    return pm;
}

} // namespace

QIcon windowIcon() {
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(40, 70, 120));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(4, 6, 24, 20), 4, 4);
    p.setBrush(QColor(170, 220, 170));
    p.drawRect(QRectF(8, 10, 16, 8));
    p.setBrush(QColor(230, 230, 230));
    p.drawEllipse(QRectF(9, 20, 4, 4));
    p.drawEllipse(QRectF(19, 20, 4, 4));
    return QIcon(pm);
}

QIcon newMailIcon() {
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(250, 220, 90));
    p.setPen(QPen(QColor(120, 80, 0), 2));
    p.drawRect(QRectF(3, 8, 26, 17));
    p.drawLine(QPointF(3, 8), QPointF(16, 18));
    p.drawLine(QPointF(29, 8), QPointF(16, 18));
    return QIcon(pm);
}

} // namespace tessaly
