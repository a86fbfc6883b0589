#include "program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// A radio's loudspeaker grille and dial on a rounded case, with two waves.
QPixmap Draw(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 32.0;
    painter.setPen(QPen(QColor(20, 40, 70), 1.2 * unit));
    painter.setBrush(QColor(230, 120, 30));
    painter.drawRoundedRect(QRectF(3 * unit, 11 * unit, 26 * unit, 18 * unit), 3 * unit, 3 * unit);
    painter.setBrush(QColor(40, 40, 40));
    painter.drawEllipse(QPointF(11 * unit, 20 * unit), 5.5 * unit, 5.5 * unit);
    painter.setBrush(QColor(250, 230, 160));
    painter.drawRect(QRectF(19 * unit, 15 * unit, 7 * unit, 4 * unit));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(30, 110, 200), 1.8 * unit, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(QRectF(16 * unit, 1 * unit, 10 * unit, 10 * unit), 30 * 16, 120 * 16);
    painter.drawArc(QRectF(13 * unit, -2 * unit, 16 * unit, 16 * unit), 40 * 16, 100 * 16);
    painter.setPen(QPen(QColor(20, 40, 70), 1.5 * unit));
    painter.drawLine(QPointF(9 * unit, 11 * unit), QPointF(21 * unit, 5 * unit));
    return pixmap;
}

}  // namespace

QPixmap ProgramIcon(int size)
{
    return Draw(size);
}

QIcon ProgramIcon()
{
    static const QIcon icon = [] {
        QIcon made;
        for (const int size : {16, 32, 48}) made.addPixmap(Draw(size));
        return made;
    }();
    return icon;
}
