#include "station_button.h"

#include <QPainter>
#include <QStyleOptionButton>

StationButton::StationButton(const QString& caption, const QPixmap& picture, int gap, QWidget* parent)
    : QAbstractButton(parent), picture_(picture), gap_(gap)
{
    setText(caption);
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void StationButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.state |= (isDown() || isChecked()) ? QStyle::State_Sunken : QStyle::State_Raised;
    if (isChecked()) option.state |= QStyle::State_On;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);

    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text());
    const int width = picture_.width() + gap_ + textWidth;
    // Pressed buttons show their contents one pixel down and right.
    const int shift = (isDown() || isChecked()) ? 1 : 0;
    const int left = (this->width() - width) / 2 + shift;
    painter.drawPixmap(left, (height() - picture_.height()) / 2 + shift, picture_);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(QRect(left + picture_.width() + gap_, shift, textWidth + 1, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}
