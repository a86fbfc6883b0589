// A sunken rule along the bottom edge of its box: a shadow line above a
// highlight line, as a lowered bevel of the classic look draws it.
#pragma once

#include <QWidget>

class TBevel : public QWidget {
    Q_OBJECT
public:
    explicit TBevel(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};
