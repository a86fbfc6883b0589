#include "window_look.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPolygon>
#include <cmath>
#include <numbers>

namespace {

// Colours of the sixteen-colour palette.
const QColor kBlack(0, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);
const QColor kGrey(128, 128, 128);
const QColor kSilver(192, 192, 192);
const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 128, 0);

QPixmap Blank(int width, int height)
{
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

}  // namespace

void WidenToText(QLabel* label)
{
    // The rectangle the text is drawn in, which can be a pixel wider than
    // the sum of its letters' advances.
    const int needed = QFontMetrics(label->font())
                           .boundingRect(QRect(), Qt::TextSingleLine, label->text())
                           .width();
    if (needed > label->width()) label->resize(needed, label->height());
}

QIcon AboutWindowIcon()
{
    // Hard edges, no smoothing: a sixteen-colour icon has no in-between
    // shades.
    QPixmap pixmap = Blank(32, 32);
    QPainter painter(&pixmap);
    painter.setPen(kNavy);
    painter.setBrush(kBlue);
    painter.drawEllipse(1, 1, 29, 29);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kWhite);
    painter.drawRect(14, 7, 4, 4);
    painter.drawRect(14, 13, 4, 12);
    painter.drawRect(12, 13, 2, 2);
    painter.drawRect(12, 23, 8, 2);
    return QIcon(pixmap);
}

QIcon OptionWindowIcon()
{
    QPixmap pixmap = Blank(32, 32);
    QPainter painter(&pixmap);
    // Eight flat-topped teeth around a wheel with a hole.
    QPolygon gear;
    const auto at = [&gear](double degrees, double radius) {
        const double angle = degrees * std::numbers::pi / 180;
        gear << QPoint(static_cast<int>(std::lround(16 + radius * std::cos(angle))),
                       static_cast<int>(std::lround(16 + radius * std::sin(angle))));
    };
    for (int tooth = 0; tooth < 8; ++tooth) {
        const double middle = tooth * 45.0;
        at(middle - 13, 11);
        at(middle - 8, 15);
        at(middle + 8, 15);
        at(middle + 13, 11);
    }
    painter.setPen(kBlack);
    painter.setBrush(kSilver);
    painter.drawPolygon(gear);
    painter.setPen(kGrey);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(8, 8, 16, 16);
    painter.setPen(kBlack);
    painter.setBrush(kWhite);
    painter.drawEllipse(12, 12, 8, 8);
    return QIcon(pixmap);
}

QPixmap CheckMarkPicture()
{
    QPixmap pixmap = Blank(18, 18);
    QPainter painter(&pixmap);
    painter.setPen(QPen(kGreen, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawPolyline(QPolygon({QPoint(3, 9), QPoint(7, 13), QPoint(15, 4)}));
    return pixmap;
}
