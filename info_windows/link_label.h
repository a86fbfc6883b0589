// A label that behaves as a link: it reports the mouse moving over it,
// leaving it and clicking it, and its window decides what the text looks
// like and what opens.
#pragma once

#include <QColor>
#include <QLabel>

class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    // The text starts black, with the arrow cursor.
    TLinkLabel(const QString& text, QWidget* parent);

    QColor Colour() const;
    void SetColour(const QColor& colour);

signals:
    // Any movement over the label, with or without a button held.
    void mouseMoved();
    void mouseLeft();
    // A left button pressed and released over the label.
    void clicked();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};
