#include "slot_chooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "texts.h"

TSlotChooser::TSlotChooser(QWidget* parent, const QString& stationName,
                           const std::function<std::string(int)>& slotAddress)
    : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8("Записать в станцию"));
    setWindowModality(Qt::WindowModal);
    resize(460, 420);

    auto* question = new QLabel(this);
    question->setTextFormat(Qt::PlainText);
    question->setWordWrap(true);
    question->setText(QString::fromUtf8("В какую станцию записать «%1»?").arg(stationName));

    Slots = new QListWidget(this);
    for (int slot = 0; slot < 100; ++slot) {
        const QString address = slotAddress ? Shown(slotAddress(slot)) : QString();
        auto* item = new QListWidgetItem(
            QString::fromUtf8("%1: %2")
                .arg(slot + 1, 3)
                .arg(address.isEmpty() ? QString::fromUtf8("(пусто)") : address),
            Slots);
        item->setData(Qt::UserRole, slot);
        item->setToolTip(PlainHint(address));
    }

    auto* buttons = new QDialogButtonBox(this);
    ButtonWrite = buttons->addButton(QString::fromUtf8("Записать"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QString::fromUtf8("Отмена"), QDialogButtonBox::RejectRole);
    ButtonWrite->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(Slots, &QListWidget::currentRowChanged, this,
            [this](int row) { ButtonWrite->setEnabled(row >= 0); });
    connect(Slots, &QListWidget::itemActivated, this, [this] { accept(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(Slots);
    layout->addWidget(buttons);
}

int TSlotChooser::ChosenSlot() const
{
    const QListWidgetItem* item = Slots->currentItem();
    return item ? item->data(Qt::UserRole).toInt() : -1;
}
