#include "About.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "about_picture.h"
#include "bevel.h"
#include "image_box.h"
#include "jpeg_picture.h"
#include "link_label.h"
#include "program_icon.h"
#include "program_info.h"
#include "program_font.h"
#include "window_look.h"
#include "shell.h"
#include "window_messages.h"

namespace {

const QColor kSkyBlue(166, 202, 240);
const QColor kLogoTeal(0, 128, 128);
const QColor kLogoShadow(128, 128, 128);

// A link's text: red under the mouse, navy once the mouse has left, green
// just after a click.
const QColor kLinkHovered(255, 0, 0);
const QColor kLinkLeft(0, 0, 128);
const QColor kLinkClicked(0, 128, 0);

constexpr int kWebLinkLines = 2;

QLabel* TextLabel(const QString& text, QWidget* parent, int left, int top, int width, int height)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(left, top, width, height);
    return label;
}

// The web link's sentence was laid out in two lines of "MS Sans Serif". In a
// wider stand-in font it would wrap onto a third line that the window has no
// room for, so the letters move closer together until two lines hold it.
void FitLines(QLabel* label, int lines)
{
    QFont font = label->font();
    for (qreal spacing = 0; spacing >= -2; spacing -= 0.25) {
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
        const QFontMetrics metrics(font);
        const QRect room(0, 0, label->width(), lines * metrics.lineSpacing() + 1);
        const QRect needed = metrics.boundingRect(room, Qt::TextWordWrap, label->text());
        if (needed.height() <= lines * metrics.lineSpacing()) break;
    }
    label->setFont(font);
    const int height = lines * QFontMetrics(font).lineSpacing();
    if (height > label->height()) label->resize(label->width(), height);
}

QFont LogoFont()
{
    QFont font("Arial Black");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(24);
    font.setBold(true);
    font.setItalic(true);
    return font;
}

QLabel* Logo(QWidget* parent, int left, int top, const QColor& colour)
{
    QLabel* logo = TextLabel(QString::fromUtf8(kProgramName), parent, left, top, 167, 33);
    logo->setFont(LogoFont());
    QPalette shades = logo->palette();
    shades.setColor(QPalette::WindowText, colour);
    logo->setPalette(shades);
    return logo;
}

std::span<const unsigned char> BuiltInPicture()
{
    return {kAboutPicture, kAboutPictureSize};
}

}  // namespace

std::string ProgramMailAddress()
{
    return std::string("info@") + kWebSiteDomain;
}

std::string ProgramWebAddress()
{
    return std::string("http://") + kWebSiteDomain;
}

TAboutForm::TAboutForm() : TAboutForm(BuiltInPicture()) {}

TAboutForm::TAboutForm(std::span<const unsigned char> decorativeJpeg)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromUtf8("О программе"));
    setWindowIcon(AboutWindowIcon());
    setFixedSize(299, 173);
    QPalette background = palette();
    background.setColor(QPalette::Window, kSkyBlue);
    setPalette(background);
    setAutoFillBackground(true);
    setFont(SansSerifFont(11));

    Label8 = Logo(this, 18, 94, kLogoShadow);
    Label1 = TextLabel(QString::fromUtf8("Интернет радио приемник"), this, 24, 32, 171, 13);
    LabelLogin = new TLinkLabel(QString::fromStdString(ProgramMailAddress()), this);
    LabelLogin->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LabelLogin->setGeometry(24, 64, 102, 13);
    Label3 = TextLabel(QString::fromUtf8("Разработчики ") + QString::fromUtf8(kProgramName), this,
                       24, 48, 172, 13);
    Label4 = TextLabel(QString::fromUtf8(kProgramName) + " " + QString::fromUtf8(kProgramVersion),
                       this, 24, 16, 167, 13);
    for (QLabel* line : {Label1, static_cast<QLabel*>(LabelLogin), Label3, Label4})
        WidenToText(line);
    LabelHTTP = new TLinkLabel(
        QString::fromUtf8("Новая версия программы и дополнительная информация на сайте") + "  " +
            QString::fromStdString(ProgramWebAddress()),
        this);
    LabelHTTP->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LabelHTTP->setWordWrap(true);
    LabelHTTP->setGeometry(56, 140, 231, 26);
    FitLines(LabelHTTP, kWebLinkLines);
    Bevel1 = new TBevel(this);
    Bevel1->setGeometry(16, 125, 273, 9);
    Bevel2 = new TBevel(this);
    Bevel2->setGeometry(16, 80, 273, 9);
    Label7 = Logo(this, 16, 90, kLogoTeal);
    Image1 = new TImage(this);
    Image1->setGeometry(16, 137, 33, 33);
    Image1->SetPicture(ProgramIcon().pixmap(QSize(32, 32), 1.0).toImage());
    Image2 = new TImage(this);
    Image2->setGeometry(200, 8, 89, 73);
    Image2->SetPicture(DecodeJpeg(decorativeJpeg.data(), decorativeJpeg.size()));
    BitBtnClose = new QPushButton(QString::fromUtf8("OK"), this);
    BitBtnClose->setGeometry(216, 98, 72, 25);
    BitBtnClose->setIcon(CheckMarkPicture());
    BitBtnClose->setIconSize(QSize(18, 18));
    BitBtnClose->setCursor(Qt::PointingHandCursor);
    BitBtnClose->setDefault(true);
    BitBtnClose->setFocus();
    connect(BitBtnClose, &QPushButton::clicked, this, &TAboutForm::BitBtnCloseClick);

    connect(LabelLogin, &TLinkLabel::mouseMoved, this, &TAboutForm::LabelLoginMouseMove);
    connect(LabelLogin, &TLinkLabel::mouseLeft, this, &TAboutForm::LabelLoginMouseLeave);
    connect(LabelLogin, &TLinkLabel::clicked, this, &TAboutForm::LabelLoginClick);
    connect(LabelHTTP, &TLinkLabel::mouseMoved, this, &TAboutForm::LabelHTTPMouseMove);
    connect(LabelHTTP, &TLinkLabel::mouseLeft, this, &TAboutForm::LabelHTTPMouseLeave);
    connect(LabelHTTP, &TLinkLabel::clicked, this, &TAboutForm::LabelHTTPClick);

    // The window has no messages of its own; the handle is what the caption
    // flash and the shell know it by.
    handle_ = RegisterWindow(this, [](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });

    TimerFlesh = new QTimer(this);
    TimerFlesh->setInterval(300);
    connect(TimerFlesh, &QTimer::timeout, this, &TAboutForm::TimerFleshTimer);
    TimerFlesh->start();
}

TAboutForm::~TAboutForm()
{
    BeginClosing(handle_);
    UnregisterWindow(handle_);
}

void TAboutForm::BitBtnCloseClick()
{
    close();
}

void TAboutForm::LabelLoginMouseMove()
{
    LinkMouseMove(LabelLogin);
}
void TAboutForm::LabelLoginMouseLeave()
{
    LinkMouseLeave(LabelLogin);
}
void TAboutForm::LabelLoginClick()
{
    LinkClick(LabelLogin, "mailto:" + ProgramMailAddress());
}
void TAboutForm::LabelHTTPMouseMove()
{
    LinkMouseMove(LabelHTTP);
}
void TAboutForm::LabelHTTPMouseLeave()
{
    LinkMouseLeave(LabelHTTP);
}
void TAboutForm::LabelHTTPClick()
{
    LinkClick(LabelHTTP, ProgramWebAddress());
}

void TAboutForm::TimerFleshTimer()
{
    // A hidden window's caption does not change; the timer runs on anyway.
    constexpr BOOL kInvert = 1;
    FlashCaption(handle_, kInvert);
}

void TAboutForm::LinkMouseMove(TLinkLabel* label)
{
    label->SetColour(kLinkHovered);
    label->setCursor(Qt::PointingHandCursor);
}

void TAboutForm::LinkMouseLeave(TLinkLabel* label)
{
    label->SetColour(kLinkLeft);
}

void TAboutForm::LinkClick(TLinkLabel* label, const std::string& target)
{
    label->SetColour(kLinkClicked);
    // Whether the shell found a program for the link is not reported.
    ShellOpen(handle_, nullptr, target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Opening the program may run the event loop, and a mouse move over the
    // label meanwhile would have turned it red.
    label->SetColour(kLinkClicked);
}

void TAboutForm::showEvent(QShowEvent* event)
{
    if (!centred_) {
        centred_ = true;
        CentreOnScreen(this);
    }
    QDialog::showEvent(event);
}

void TAboutForm::keyPressEvent(QKeyEvent* event)
{
    // Only the OK button closes the window: Escape is not a way out, as the
    // window has no Cancel button.
    if (event->matches(QKeySequence::Cancel)) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
