#include "status_bar.h"

#include "main_rules.h"

TStatusBar::TStatusBar(std::vector<Panel> panels, QWidget* parent) : QWidget(parent)
{
    int left = 0;
    for (const Panel& panel : panels) {
        auto* label = new QLabel(this);
        // Station names and server texts are the stream's bytes: a name such
        // as "<b>Jazz</b>" shows with its brackets, never as markup.
        label->setTextFormat(Qt::PlainText);
        label->setGeometry(left, 2, panel.width - 2, 17);
        label->setAlignment(panel.alignment | Qt::AlignVCenter);
        if (panel.bevel) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setText(Shown(panel.text));
        labels_.push_back(label);
        texts_.push_back(panel.text);
        left += panel.width;
    }
}

void TStatusBar::SetText(std::size_t panel, const std::string& bytes)
{
    texts_.at(panel) = bytes;
    labels_.at(panel)->setText(Shown(bytes));
}

void TStatusBar::SetHint(std::size_t panel, const std::string& bytes)
{
    labels_.at(panel)->setToolTip(bytes.empty() ? QString() : PlainHint(Shown(bytes)));
}
