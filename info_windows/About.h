// The About window: who makes the program and how to reach them, with links
// that open the mail program and the browser, the program's name as a
// shadowed logo, two pictures and an OK button. Created hidden at start-up,
// shown by the main window's toolbar, hidden by OK; its caption blinks for
// as long as the program runs.
#pragma once

#include <QDialog>
#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "shell.h"
#include "win_types.h"

class QLabel;
class QPushButton;
class QTimer;
class TBevel;
class TImage;
class TLinkLabel;

// The addresses the two links show: the program's mail address, which the
// e-mail link opens with "mailto:" before it, and its web site.
std::string ProgramMailAddress();
std::string ProgramWebAddress();

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    // Builds the window, hidden, with the picture built into the program.
    TAboutForm();
    // The same with another JPEG for the decorative picture; a picture that
    // cannot be decoded leaves that control blank. The bytes are read here
    // and not kept.
    explicit TAboutForm(std::span<const unsigned char> decorativeJpeg);
    ~TAboutForm() override;

    HWND Handle() const { return handle_; }

    // The platform calls the window makes, replaceable by tests.
    std::function<decltype(ShellExecuteA)> ShellOpen = ShellExecuteA;
    std::function<decltype(FlashWindow)> FlashCaption = FlashWindow;

    // The controls in painting order, later ones over earlier ones.
    QLabel* Label8;  // the logo's grey shadow
    QLabel* Label1;  // what the program is
    TLinkLabel* LabelLogin;
    QLabel* Label3;  // who makes it
    QLabel* Label4;  // the version
    TLinkLabel* LabelHTTP;
    TBevel* Bevel1;
    TBevel* Bevel2;
    QLabel* Label7;  // the logo
    TImage* Image1;  // the program's icon
    TImage* Image2;  // the decorative picture
    QPushButton* BitBtnClose;
    QTimer* TimerFlesh;

    // Handlers.
    void BitBtnCloseClick();
    void LabelLoginMouseMove();
    void LabelLoginMouseLeave();
    void LabelLoginClick();
    void LabelHTTPMouseMove();
    void LabelHTTPMouseLeave();
    void LabelHTTPClick();
    void TimerFleshTimer();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // What both links do.
    void LinkMouseMove(TLinkLabel* label);
    void LinkMouseLeave(TLinkLabel* label);
    void LinkClick(TLinkLabel* label, const std::string& target);

    HWND handle_ = nullptr;
    bool centred_ = false;
};
