// The options window: a placeholder that only says options are not there
// yet. Created hidden at start-up, shown by the main window's toolbar,
// hidden by its close box; it holds no settings.
#pragma once

#include <QWidget>

class QLabel;

class TFormOption : public QWidget {
    Q_OBJECT
public:
    // Builds the window, hidden.
    TFormOption();

    QLabel* Label1;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool sized_ = false;
};
