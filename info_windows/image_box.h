// A picture control: the picture unscaled from the control's top-left
// corner, clipped to the control, transparent where the picture is or where
// it does not reach. With no picture the control is blank.
#pragma once

#include <QImage>
#include <QWidget>

class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent);

    const QImage& Picture() const { return picture_; }
    void SetPicture(const QImage& picture);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};
