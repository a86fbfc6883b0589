// The question "which preset slot?": a list of the hundred slots, each with
// its number and the address it holds now, and the buttons to write or to
// leave things as they are. Modal to the window it belongs to.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QListWidget;
class QPushButton;

class TSlotChooser : public QDialog {
    Q_OBJECT
public:
    // slotAddress gives the address slot 0 to 99 holds now, as bytes.
    TSlotChooser(QWidget* parent, const QString& stationName,
                 const std::function<std::string(int)>& slotAddress);

    // The slot chosen, 0 to 99, or -1 while none is.
    int ChosenSlot() const;

    QListWidget* Slots;
    QPushButton* ButtonWrite;
};
