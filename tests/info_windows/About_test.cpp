// The About window on the offscreen platform: its frame, its pictures, the
// two links, the OK button and the caption blink.
#include "About.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "about_picture.h"
#include "closing.h"
#include "image_box.h"
#include "jpeg_picture.h"
#include "link_label.h"
#include "window_messages.h"

namespace {

const QColor kSkyBlue(166, 202, 240);
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kGreen(0, 128, 0);

struct ShellCall {
    HWND owner;
    bool withOperation;
    std::string file;
    bool withParameters;
    bool withDirectory;
    int show;
};

void MoveOver(QWidget* widget)
{
    const QPointF inside = QRectF(widget->rect()).center();
    QMouseEvent move(QEvent::MouseMove, inside, widget->mapToGlobal(inside), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

void Leave(QWidget* widget)
{
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget, &leave);
}

// The window's pixels as the screen would show them.
QImage Shot(QWidget& window)
{
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(AboutTest, TheWindowIsAFixedDialogWithoutCaptionButtons)
{
    TAboutForm form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("О программе"));
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    for (const Qt::WindowType button :
         {Qt::WindowCloseButtonHint, Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint,
          Qt::WindowMaximizeButtonHint, Qt::WindowContextHelpButtonHint})
        EXPECT_FALSE(flags & button) << button;
    EXPECT_EQ(form.minimumSize(), QSize(299, 173));
    EXPECT_EQ(form.maximumSize(), QSize(299, 173));
    EXPECT_FALSE(form.windowIcon().isNull());
    // Closing it hides it and never ends the program.
    EXPECT_TRUE(ProgramOutlivesClosing(form));
    EXPECT_FALSE(form.isVisible());
}

TEST(AboutTest, EveryTextFitsItsLabelInsideTheWindow)
{
    // The boxes were measured for "MS Sans Serif"; whatever font stands in
    // for it, no text may be cut (the web link has room for two lines).
    TAboutForm form;
    const QRect client(QPoint(0, 0), form.size());
    for (QLabel* label :
         {form.Label1, static_cast<QLabel*>(form.LabelLogin), form.Label3, form.Label4,
          static_cast<QLabel*>(form.LabelHTTP), form.Label7, form.Label8}) {
        SCOPED_TRACE(label->text().toStdString());
        const QFontMetrics metrics(label->font());
        const int flags = label->wordWrap() ? Qt::TextWordWrap : 0;
        const QRect needed =
            metrics.boundingRect(QRect(0, 0, label->width(), 1000), flags, label->text());
        EXPECT_LE(needed.width(), label->width());
        EXPECT_LE(needed.height(), label->height());
        EXPECT_TRUE(client.contains(label->geometry()));
    }
}

TEST(AboutTest, ItIsCentredWhenFirstShownAndLaterStaysWhereItWasPut)
{
    TAboutForm form;
    // Wherever it stood before, the first showing puts it in the middle.
    form.move(5, 5);
    form.show();
    const QRect area = form.screen()->availableGeometry();
    EXPECT_LE((form.frameGeometry().center() - area.center()).manhattanLength(), 2);
    form.hide();
    form.move(10, 20);
    form.show();
    EXPECT_EQ(form.pos(), QPoint(10, 20));
}

TEST(AboutTest, TheDecorativePictureIsShownUnscaledAndClippedToItsControl)
{
    TAboutForm form;
    form.show();
    const QImage shot = Shot(form);
    const QImage picture = DecodeJpeg(kAboutPicture, kAboutPictureSize);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(form.Image2->geometry(), QRect(200, 8, 89, 73));
    // Pixel for pixel from the control's top-left corner...
    for (const QPoint at : {QPoint(0, 0), QPoint(30, 20), QPoint(88, 72), QPoint(50, 60)})
        EXPECT_EQ(shot.pixelColor(QPoint(200, 8) + at), picture.pixelColor(at))
            << at.x() << "," << at.y();
    // ...and nothing of it below the control, where the picture would reach.
    EXPECT_EQ(shot.pixelColor(250, 84), kSkyBlue);
    // The background elsewhere is the window's sky blue.
    EXPECT_EQ(shot.pixelColor(5, 5), kSkyBlue);
}

TEST(AboutTest, ABrokenPictureLeavesItsControlBlank)
{
    const std::vector<unsigned char> cut(kAboutPicture, kAboutPicture + kAboutPictureSize / 3);
    TAboutForm form(cut);
    EXPECT_TRUE(form.Image2->Picture().isNull());
    form.show();
    const QImage shot = Shot(form);
    for (const QPoint at : {QPoint(200, 8), QPoint(244, 44), QPoint(288, 80)})
        EXPECT_EQ(shot.pixelColor(at), kSkyBlue) << at.x() << "," << at.y();
    // The rest of the window is there as usual.
    EXPECT_FALSE(form.Image1->Picture().isNull());
    EXPECT_TRUE(form.BitBtnClose->isVisible());
}

TEST(AboutTest, BothLinksFollowTheMouseAndOpenTheirTarget)
{
    TAboutForm form;
    std::vector<ShellCall> calls;
    form.ShellOpen = [&calls](HWND owner, const char* operation, const char* file,
                              const char* parameters, const char* directory, int show) {
        calls.push_back({owner, operation != nullptr, file != nullptr ? file : "(none)",
                         parameters != nullptr, directory != nullptr, show});
        return std::intptr_t{2};  // as if no program could open it
    };
    form.show();
    struct Case {
        TLinkLabel* label;
        std::string target;
    };
    for (const Case& c : {Case{form.LabelLogin, "mailto:" + ProgramMailAddress()},
                          Case{form.LabelHTTP, ProgramWebAddress()}}) {
        SCOPED_TRACE(c.target);
        calls.clear();
        EXPECT_EQ(c.label->Colour(), kBlack);
        EXPECT_NE(c.label->cursor().shape(), Qt::PointingHandCursor);
        MoveOver(c.label);
        EXPECT_EQ(c.label->Colour(), kRed);
        EXPECT_EQ(c.label->cursor().shape(), Qt::PointingHandCursor);
        Leave(c.label);
        EXPECT_EQ(c.label->Colour(), kNavy);
        MoveOver(c.label);
        EXPECT_EQ(c.label->Colour(), kRed);

        QTest::mouseClick(c.label, Qt::LeftButton);
        EXPECT_EQ(c.label->Colour(), kGreen);
        ASSERT_EQ(calls.size(), 1u);
        const ShellCall& call = calls[0];
        EXPECT_EQ(call.owner, form.Handle());
        EXPECT_FALSE(call.withOperation);
        EXPECT_EQ(call.file, c.target);
        EXPECT_FALSE(call.withParameters);
        EXPECT_FALSE(call.withDirectory);
        EXPECT_EQ(call.show, SW_SHOWNORMAL);
        // Green lasts only until the mouse moves again.
        MoveOver(c.label);
        EXPECT_EQ(c.label->Colour(), kRed);

        // A press that ends off the label is no click.
        QTest::mousePress(c.label, Qt::LeftButton);
        QTest::mouseRelease(c.label, Qt::LeftButton, {}, QPoint(-5, -5));
        EXPECT_EQ(calls.size(), 1u);
    }
    EXPECT_NE(form.LabelLogin->text().toStdString().find(ProgramMailAddress()), std::string::npos);
    EXPECT_TRUE(
        form.LabelHTTP->text().endsWith(QString::fromStdString("  " + ProgramWebAddress())));
    EXPECT_TRUE(form.LabelHTTP->text().startsWith(
        QString::fromUtf8("Новая версия программы и дополнительная информация на сайте")));
}

TEST(AboutTest, OkAndEnterHideTheWindowAndEscapeDoesNot)
{
    TAboutForm form;
    EXPECT_TRUE(form.BitBtnClose->isDefault());
    EXPECT_EQ(form.BitBtnClose->text(), "OK");
    // The button is the only control the keyboard reaches.
    for (QWidget* child : form.findChildren<QWidget*>()) {
        if (child != form.BitBtnClose) {
            EXPECT_EQ(child->focusPolicy(), Qt::NoFocus);
        }
    }

    form.show();
    QTest::mouseClick(form.BitBtnClose, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());

    form.show();
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
    QTest::keyClick(&form, Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());

    // Hidden, not gone: it shows again as it was.
    MoveOver(form.LabelHTTP);
    form.show();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.LabelHTTP->Colour(), kRed);
}

TEST(AboutTest, TheCaptionFlashesEveryTickAlsoWhileHidden)
{
    TAboutForm form;
    EXPECT_EQ(WidgetOf(form.Handle()), &form);
    EXPECT_EQ(form.TimerFlesh->interval(), 300);
    std::vector<std::pair<HWND, BOOL>> flashes;
    form.FlashCaption = [&flashes](HWND window, BOOL invert) {
        flashes.emplace_back(window, invert);
        return BOOL{0};
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return flashes.size() >= 2; }, 5000));
    form.show();
    const std::size_t beforeShowing = flashes.size();
    EXPECT_TRUE(QTest::qWaitFor([&] { return flashes.size() >= beforeShowing + 2; }, 5000));
    for (const auto& [window, invert] : flashes) {
        EXPECT_EQ(window, form.Handle());
        EXPECT_EQ(invert, 1);
    }
}

TEST(AboutTest, AShownWindowsCaptionVisiblyAlternatesEvenWhenActive)
{
    TAboutForm form;
    const QString caption = QString::fromUtf8("О программе");
    form.show();
    form.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    // The desktop draws the caption: what changes is its text, in the
    // title bar and on the taskbar, and every other flash it is the
    // caption again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.windowTitle() != caption; }, 2000));
    EXPECT_TRUE(form.windowTitle().contains(caption)) << form.windowTitle().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.windowTitle() == caption; }, 2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.windowTitle() != caption; }, 2000));
    // Hidden while flashed, it has its own caption again at the next tick.
    form.hide();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.windowTitle() == caption; }, 2000));
    EXPECT_EQ(FlashWindow(form.Handle(), 1), 0);
    EXPECT_EQ(form.windowTitle(), caption);
}

}  // namespace
