// The station directory window: search fields, the stations found (the
// most popular first), and a status line. A station is played by a double
// click or Enter on its row, or written into a preset slot. The window knows
// nothing of the main window: what playing and writing do is given to it as
// callbacks, with addresses as the program's bytes (texts.h).
//
// Created hidden at start-up and shown from the options window; its close
// box hides it. Main thread.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "DirectoryClient.h"
#include "slot_chooser.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TFormDirectory : public QWidget {
    Q_OBJECT
public:
    // At most this many stations are listed, so that an answer of
    // thousands keeps the window quick; the status line says so.
    static constexpr int kShownLimit = 500;

    // Builds the window, hidden, searching server (directory_server.h).
    explicit TFormDirectory(const QString& server);

    // Plays the address as the address box would.
    std::function<void(std::string address)> play;
    // Writes the address into preset slot 0 to 99; false when it could not.
    std::function<bool(int slot, std::string address)> store;
    // The address preset slot 0 to 99 holds now.
    std::function<std::string(int slot)> slotAddress;

    QLineEdit* EditName;
    QLineEdit* EditTag;
    QLineEdit* EditCountry;
    QLineEdit* EditLanguage;
    QPushButton* ButtonFind;
    QTreeWidget* ListStations;
    QLabel* LabelStatus;
    QPushButton* ButtonStore;
    DirectoryClient* Client;

    // The slot question while it is open, else nullptr.
    TSlotChooser* SlotChooser() const { return chooser_.data(); }

    // Handlers.
    void ButtonFindClick();
    void ClientSearchFinished(const DirectoryResult& result);
    void ListStationsActivated(QTreeWidgetItem* item);
    void ButtonStoreClick();
    void SlotChooserAccepted();

private:
    const DirectoryStation* StationOf(const QTreeWidgetItem* item) const;
    void ShowStatus(const QString& text);

    std::vector<DirectoryStation> found_;
    QPointer<TSlotChooser> chooser_;
    int chooserStation_ = -1;  // the index in found_ the open question is about
};
