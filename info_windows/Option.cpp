#include "Option.h"

#include <QLabel>
#include <QPushButton>

#include "program_font.h"
#include "window_look.h"

namespace {

// The window's place and size on the screen, frame included.
const QRect kOuterGeometry(493, 262, 361, 253);

}  // namespace

TFormOption::TFormOption() : QWidget(nullptr, Qt::Window)
{
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromUtf8("Опции Ondalux"));
    setWindowIcon(OptionWindowIcon());
    setFont(SansSerifFont(11));
    // move() places the frame; the frame's thickness is known only once the
    // window is on the screen, so the size is put right when it is first
    // shown.
    move(kOuterGeometry.topLeft());
    resize(kOuterGeometry.size());

    Label1 = new QLabel(QString::fromUtf8("Пока окно опций не работает..."), this);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setGeometry(88, 80, 159, 13);
    WidenToText(Label1);

    // Below the label, never over it, whatever font stands in.
    ButtonDirectory = new QPushButton(QString::fromUtf8("Каталог станций..."), this);
    ButtonDirectory->adjustSize();
    ButtonDirectory->move(Label1->x(), Label1->geometry().bottom() + 1 + 16);
    connect(ButtonDirectory, &QPushButton::clicked, this, &TFormOption::DirectoryRequested);
}

void TFormOption::showEvent(QShowEvent* event)
{
    if (!sized_) {
        sized_ = true;
        const QSize frame = frameGeometry().size() - geometry().size();
        resize(kOuterGeometry.size() - frame);
    }
    QWidget::showEvent(event);
}
