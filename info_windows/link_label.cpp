#include "link_label.h"

#include <QMouseEvent>

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setMouseTracking(true);
    SetColour(Qt::black);
}

QColor TLinkLabel::Colour() const
{
    return palette().color(QPalette::WindowText);
}

void TLinkLabel::SetColour(const QColor& colour)
{
    QPalette shades = palette();
    shades.setColor(QPalette::WindowText, colour);
    setPalette(shades);
}

void TLinkLabel::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMoved();
    QLabel::mouseMoveEvent(event);
}

void TLinkLabel::leaveEvent(QEvent* event)
{
    emit mouseLeft();
    QLabel::leaveEvent(event);
}

void TLinkLabel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) pressed_ = true;
    QLabel::mousePressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = event->button() == Qt::LeftButton && pressed_ &&
                       rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton) pressed_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click) emit clicked();
}
