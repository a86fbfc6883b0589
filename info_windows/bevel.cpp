#include "bevel.h"

#include <QPainter>

TBevel::TBevel(QWidget* parent) : QWidget(parent) {}

void TBevel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int right = width() - 1;
    painter.setPen(QColor(128, 128, 128));
    painter.drawLine(0, height() - 2, right, height() - 2);
    painter.setPen(QColor(255, 255, 255));
    painter.drawLine(0, height() - 1, right, height() - 1);
}
