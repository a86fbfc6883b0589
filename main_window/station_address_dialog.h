// "Изменить адрес...": a small dialog with one preset slot's address. OK
// takes an address the slot can hold and closes; for any other it says in
// the dialog why and stays open with the text as typed. Отмена changes
// nothing.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class StationAddressDialog : public QDialog {
    Q_OBJECT
public:
    // slot 0 to 99; address as bytes.
    StationAddressDialog(int slot, const std::string& address, QWidget* parent);

    int Slot() const { return slot_; }
    // The address as typed, as bytes.
    std::string Address() const;

    QLineEdit* Edit;
    QLabel* Message;  // why OK did not take the address; empty until then
    QPushButton* ButtonOk;
    QPushButton* ButtonCancel;

public slots:
    void accept() override;

private:
    int slot_;
};
