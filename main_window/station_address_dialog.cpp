#include "station_address_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "program_font.h"
#include "station_slots.h"
#include "texts.h"

StationAddressDialog::StationAddressDialog(int slot, const std::string& address, QWidget* parent)
    : QDialog(parent), slot_(slot)
{
    setWindowTitle(QString::fromUtf8("Станция ") + QString::number(slot + 1));
    setFont(SansSerifFont(11));
    auto* label = new QLabel(QString::fromUtf8("Адрес станции ") + QString::number(slot + 1) + ":", this);
    Edit = new QLineEdit(Shown(address), this);
    Edit->setMinimumWidth(420);
    label->setBuddy(Edit);
    Message = new QLabel(this);
    Message->setWordWrap(true);
    Message->setStyleSheet("color: #b00000");
    Message->hide();
    ButtonOk = new QPushButton("OK", this);
    ButtonOk->setDefault(true);
    ButtonCancel = new QPushButton(QString::fromUtf8("Отмена"), this);
    connect(ButtonOk, &QPushButton::clicked, this, &StationAddressDialog::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &StationAddressDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonOk);
    buttons->addWidget(ButtonCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(Edit);
    layout->addWidget(Message);
    layout->addLayout(buttons);
    Edit->selectAll();
}

std::string StationAddressDialog::Address() const { return Bytes(Edit->text()); }

void StationAddressDialog::accept()
{
    const std::string refusal = AddressRefusal(Address());
    if (!refusal.empty()) {
        Message->setText(Shown(refusal));
        Message->show();
        Edit->setFocus();
        return;
    }
    QDialog::accept();
}
