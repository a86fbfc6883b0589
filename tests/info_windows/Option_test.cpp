// The options window on the offscreen platform: a placeholder that shows
// and hides, and opens the station directory.
#include "Option.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>

#include "closing.h"

namespace {

TEST(OptionTest, ThePlaceholderSaysOptionsDoNotWorkYet)
{
    TFormOption form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Опции Ondalux"));
    EXPECT_EQ(form.Label1->text(), QString::fromUtf8("Пока окно опций не работает..."));
    EXPECT_EQ(form.Label1->pos(), QPoint(88, 80));
    // Not cut, whatever font stands in for "MS Sans Serif".
    EXPECT_LE(QFontMetrics(form.Label1->font())
                  .boundingRect(QRect(), Qt::TextSingleLine, form.Label1->text())
                  .width(),
              form.Label1->width());
    EXPECT_FALSE(form.windowIcon().isNull());
    // An ordinary window: sizeable, with the usual caption buttons.
    EXPECT_EQ(form.windowFlags() & Qt::WindowType_Mask, Qt::Window);
    EXPECT_NE(form.minimumSize(), form.maximumSize());
}

TEST(OptionTest, ItsButtonBelowTheLabelAsksForTheDirectory)
{
    TFormOption form;
    form.show();
    EXPECT_EQ(form.ButtonDirectory->text(), QString::fromUtf8("Каталог станций..."));
    EXPECT_GT(form.ButtonDirectory->y(), form.Label1->geometry().bottom());
    EXPECT_FALSE(form.ButtonDirectory->geometry().intersects(form.Label1->geometry()));
    EXPECT_TRUE(form.rect().contains(form.ButtonDirectory->geometry()));
    QSignalSpy asked(&form, &TFormOption::DirectoryRequested);
    form.ButtonDirectory->click();
    EXPECT_EQ(asked.count(), 1);
}

TEST(OptionTest, ItOpensAtItsPlaceAndSizeFrameIncluded)
{
    TFormOption form;
    form.show();
    EXPECT_EQ(form.frameGeometry(), QRect(493, 262, 361, 253));
}

TEST(OptionTest, ClosingHidesItAndDoesNotEndTheProgram)
{
    auto* form = new TFormOption;
    QPointer<TFormOption> alive(form);
    EXPECT_TRUE(ProgramOutlivesClosing(*form));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(alive.isNull());
    EXPECT_FALSE(form->isVisible());
    form->show();
    EXPECT_TRUE(form->isVisible());
    delete form;
}

}  // namespace
