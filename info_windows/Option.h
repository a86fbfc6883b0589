// The options window: a placeholder that says options are not there yet,
// and the way to the station directory. Created hidden at start-up, shown
// by the main window's toolbar, hidden by its close box; it holds no
// settings.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

class TFormOption : public QWidget {
    Q_OBJECT
public:
    // Builds the window, hidden.
    TFormOption();

    QLabel* Label1;
    QPushButton* ButtonDirectory;

signals:
    // The user asks for the station directory window.
    void DirectoryRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool sized_ = false;
};
