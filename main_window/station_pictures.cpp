// The station buttons' pictures. Every genre column has a motif of its own,
// drawn in a 16-unit box that is scaled to the picture; the row gives the
// motif its colour and the column a small corner mark, so no two pictures
// are alike.
#include "station_pictures.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kSlots = 100;
constexpr int kColumnSize = 10;

// The pictures that are not 16 by 16 and their sizes.
struct OddSize { int slot, width, height; };
constexpr OddSize kOddSizes[] = {
    {3, 12, 12},  {7, 14, 14},  {12, 18, 16}, {15, 20, 16}, {19, 22, 18}, {24, 12, 12},
    {28, 14, 14}, {31, 18, 16}, {35, 20, 16}, {38, 22, 18}, {42, 12, 12}, {46, 14, 14},
    {49, 18, 16}, {53, 20, 16}, {57, 22, 18}, {60, 12, 12}, {64, 14, 14}, {67, 18, 16},
    {71, 20, 16}, {75, 22, 18}, {78, 12, 12}, {82, 14, 14}, {86, 18, 16}, {89, 20, 16},
    {93, 22, 18}, {97, 12, 12},
};

QSize PictureSize(int slot)
{
    for (const OddSize& odd : kOddSizes)
        if (odd.slot == slot) return {odd.width, odd.height};
    return {16, 16};
}

void DrawNote(QPainter& p, const QColor& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QRectF(3, 10, 5.5, 4.5));
    p.drawRect(QRectF(7, 2.5, 1.5, 10));
    QPainterPath flag(QPointF(8.5, 2.5));
    flag.cubicTo(12, 4, 13, 6, 11.5, 9);
    flag.cubicTo(11.5, 7, 10.5, 6, 8.5, 5.5);
    p.drawPath(flag);
}

void DrawSaxophone(QPainter& p, const QColor& c)
{
    QPainterPath body(QPointF(5, 1.5));
    body.lineTo(7, 3);
    body.lineTo(7, 10);
    body.cubicTo(7, 14.5, 12, 14.5, 12, 10.5);
    body.lineTo(12, 8);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(c, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QRectF(10, 5.5, 4, 3));
}

void DrawGlobe(QPainter& p, const QColor& c)
{
    p.setPen(QPen(c.darker(150), 1));
    p.setBrush(c);
    p.drawEllipse(QRectF(2, 2, 12, 12));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 0.8));
    p.drawEllipse(QRectF(5.5, 2, 5, 12));
    p.drawLine(QPointF(2, 8), QPointF(14, 8));
}

void DrawPick(QPainter& p, const QColor& c)
{
    QPainterPath pick(QPointF(8, 14.5));
    pick.cubicTo(4, 10, 1.5, 6, 2.5, 3.5);
    pick.cubicTo(4, 1, 12, 1, 13.5, 3.5);
    pick.cubicTo(14.5, 6, 12, 10, 8, 14.5);
    p.setPen(QPen(c.darker(170), 0.8));
    p.setBrush(c);
    p.drawPath(pick);
}

void DrawRecord(QPainter& p, const QColor& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(25, 25, 25));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(QPen(QColor(80, 80, 80), 0.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(3, 3, 10, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
    p.setBrush(QColor(25, 25, 25));
    p.drawEllipse(QRectF(7.4, 7.4, 1.2, 1.2));
}

void DrawMast(QPainter& p, const QColor& c)
{
    p.setPen(QPen(c, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 5), QPointF(4.5, 15));
    p.drawLine(QPointF(8, 5), QPointF(11.5, 15));
    p.drawLine(QPointF(6, 11), QPointF(10, 11));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(4.5, 1.5, 7, 7), 30 * 16, 120 * 16);
    p.drawArc(QRectF(2, -1, 12, 12), 40 * 16, 100 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(8, 5), 1.3, 1.3);
}

void DrawSun(QPainter& p, const QColor& c)
{
    p.setPen(QPen(c, 1.2, Qt::SolidLine, Qt::RoundCap));
    for (int ray = 0; ray < 8; ++ray) {
        const double angle = ray * std::numbers::pi / 4;
        p.drawLine(QPointF(8 + 5 * std::cos(angle), 8 + 5 * std::sin(angle)),
                   QPointF(8 + 7 * std::cos(angle), 8 + 7 * std::sin(angle)));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(8, 8), 3.8, 3.8);
}

void DrawEqualiser(QPainter& p, const QColor& c)
{
    static constexpr double kHeights[] = {7, 12, 5, 10};
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    for (int bar = 0; bar < 4; ++bar)
        p.drawRect(QRectF(1.5 + bar * 3.5, 14.5 - kHeights[bar], 2.5, kHeights[bar]));
}

void DrawLyre(QPainter& p, const QColor& c)
{
    QPainterPath frame(QPointF(3, 2));
    frame.cubicTo(1, 8, 4, 13, 8, 13.5);
    frame.cubicTo(12, 13, 15, 8, 13, 2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(frame);
    p.drawLine(QPointF(3.5, 4), QPointF(12.5, 4));
    p.setPen(QPen(c.lighter(140), 0.6));
    for (double x : {6.0, 8.0, 10.0}) p.drawLine(QPointF(x, 4), QPointF(x, 12.5));
}

void DrawMoonAndWave(QPainter& p, const QColor& c)
{
    QPainterPath moon;
    moon.addEllipse(QRectF(2, 1, 9, 9));
    QPainterPath bite;
    bite.addEllipse(QRectF(5, 0, 8, 8));
    p.setPen(Qt::NoPen);
    p.setBrush(c.lighter(130));
    p.drawPath(moon.subtracted(bite));
    QPainterPath wave(QPointF(1, 13));
    wave.cubicTo(4, 10.5, 6, 15.5, 9, 13);
    wave.cubicTo(12, 10.5, 13, 15.5, 15, 13);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(c, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(wave);
}

using Motif = void (*)(QPainter&, const QColor&);
constexpr Motif kMotifs[kColumnSize] = {DrawNote, DrawSaxophone, DrawGlobe, DrawPick,
                                         DrawRecord, DrawMast, DrawSun, DrawEqualiser,
                                         DrawLyre, DrawMoonAndWave};

}  // namespace

QPixmap StationPicture(int slot)
{
    if (slot < 1 || slot > kSlots) return QPixmap();
    const int column = (slot - 1) / kColumnSize;
    const int row = (slot - 1) % kColumnSize;
    const QSize size = PictureSize(slot);

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = std::min(size.width(), size.height()) / 16.0;
    painter.translate((size.width() - 16 * scale) / 2, (size.height() - 16 * scale) / 2);
    painter.scale(scale, scale);

    kMotifs[column](painter, QColor::fromHsv(row * 36, 200, 215));

    // The column's mark in the top left corner, drawn over the motif.
    painter.resetTransform();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv(column * 36 + 18, 255, 140));
    painter.drawRect(0, 0, 2, 2);
    painter.end();
    return QPixmap::fromImage(image);
}
