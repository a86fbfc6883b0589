// A station button: a picture and a number centred together on a button
// that takes no keyboard focus and stays pressed as a member of a group.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

class StationButton : public QAbstractButton {
    Q_OBJECT
public:
    // gap: pixels between the picture and the number.
    StationButton(const QString& caption, const QPixmap& picture, int gap, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
    int gap_;
};
