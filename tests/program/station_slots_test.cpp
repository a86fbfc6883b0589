// The preset slots' own addresses: stored from the address box or the
// dialog, given back, kept in the settings file and used wherever the slot's
// address is (the click, the hint, the start-up, the steps), and a
// hand-edited file read as far as it makes sense.
#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <filesystem>

#include "StationAddresses.h"
#include "program_test.h"
#include "station_address_dialog.h"
#include "station_button.h"
#include "station_slots.h"

namespace program_test {
namespace {

const std::string kOwnFive = "http://own.example:8000/five";
const std::string kOwnSix = "http://own.example:8000/six.pls";

std::string Hint(TFormMain* window, int slot)
{
    return Bytes(window->StationButtons[static_cast<std::size_t>(slot)]->toolTip());
}

QAction* Entry(QMenu* menu, int index) { return menu->actions().at(index); }

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST_F(ProgramTest, ASlotTakesTheBoxsAddressIsEditedAndGoesBack)
{
    proxy.Route(kOwnFive, Station("Own Five"));
    proxy.Route(kOwnSix, Station("Own Six"));
    Start();
    ASSERT_TRUE(WorkerDone());

    // The start-up text and an empty box are no address to keep: a beep.
    ASSERT_FALSE(window->StoreEditText(4));
    window->SetEditText("   ");
    ASSERT_FALSE(window->StoreEditText(4));
    EXPECT_EQ(Count(Messages(), "beep"), 2u);
    EXPECT_FALSE(SlotHasOwnAddress(4));

    // A right click opens the menu; restoring is greyed while the slot
    // keeps its compiled-in address.
    const QPoint at(5, 5);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, window->StationButtons[4]->mapToGlobal(at));
    QApplication::sendEvent(window->StationButtons[4], &click);
    QMenu* shown = window->findChild<QMenu*>();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    ASSERT_EQ(shown->actions().size(), 3);
    EXPECT_EQ(Entry(shown, 0)->text(), QString::fromUtf8("Записать сюда адрес из строки"));
    EXPECT_EQ(Entry(shown, 1)->text(), QString::fromUtf8("Изменить адрес..."));
    EXPECT_EQ(Entry(shown, 2)->text(), QString::fromUtf8("Вернуть исходный адрес"));
    EXPECT_FALSE(Entry(shown, 2)->isEnabled());

    // The typed address goes into slot 5, at once into the file, and is
    // what the button plays, hints and leaves in the box.
    window->EditInput->setText(QString::fromStdString("  " + kOwnFive + " "));
    Entry(shown, 0)->trigger();
    shown->close();
    EXPECT_EQ(SlotAddress(4), kOwnFive);
    EXPECT_EQ(Hint(window.get(), 4), kOwnFive);
    EXPECT_EQ(Bytes(window->StationButtons[4]->accessibleDescription()), kOwnFive);
    EXPECT_NE(Settings().find("[Stations]\r\n5=" + kOwnFive + "\r\n"), std::string::npos);
    window->StationButtons[4]->click();
    EXPECT_EQ(window->EditText(), kOwnFive);
    EXPECT_EQ(StationIndex, 4);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(proxy.Requests().back().rfind("GET " + kOwnFive + " ", 0), 0u);
    EXPECT_EQ(Panel(0), "Own Five");

    // The dialog shows the slot's address; it refuses an empty and an
    // over-long one in words and stays open, then takes a good one.
    StationAddressDialog* dialog = window->EditSlotAddress(5);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Станция 6"));
    EXPECT_EQ(dialog->Edit->text().toStdString(), StationAddresses[5]);
    EXPECT_EQ(dialog->ButtonCancel->text(), QString::fromUtf8("Отмена"));
    dialog->Edit->setText("");
    dialog->ButtonOk->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_NE(dialog->Message->text().indexOf(QString::fromUtf8("пуст")), -1);
    dialog->Edit->setText(QString(3000, 'a'));
    dialog->ButtonOk->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_NE(dialog->Message->text().indexOf("3000"), -1);
    EXPECT_EQ(SlotAddress(5), StationAddresses[5]);
    dialog->Edit->setText(QString::fromStdString(kOwnSix));
    dialog->ButtonOk->click();
    ASSERT_TRUE(Pump([&] { return window->findChild<StationAddressDialog*>() == nullptr; }, 2000));
    EXPECT_EQ(SlotAddress(5), kOwnSix);
    EXPECT_EQ(Hint(window.get(), 5), kOwnSix);

    // Отмена changes nothing.
    dialog = window->EditSlotAddress(5);
    dialog->Edit->setText("http://elsewhere.example/");
    dialog->ButtonCancel->click();
    EXPECT_EQ(SlotAddress(5), kOwnSix);

    // Alt+Right (and the desktop's Next) steps onto the slot's own address.
    window->StepStation(1);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(proxy.Requests().back().rfind("GET " + kOwnSix + " ", 0), 0u);

    // Back to the compiled-in address: the key goes from the file.
    QMenu* menu = window->StationMenu(4);
    EXPECT_TRUE(Entry(menu, 2)->isEnabled());
    Entry(menu, 2)->trigger();
    delete menu;
    EXPECT_FALSE(SlotHasOwnAddress(4));
    EXPECT_EQ(Hint(window.get(), 4), StationAddresses[4]);
    EXPECT_EQ(Settings().find("5="), std::string::npos);
    EXPECT_NE(Settings().find("6=" + kOwnSix), std::string::npos);

    // Storing the compiled-in address itself leaves the slot plain.
    ASSERT_TRUE(window->StoreStation(5, StationAddresses[5]));
    EXPECT_FALSE(SlotHasOwnAddress(5));
    EXPECT_EQ(Settings().find("6="), std::string::npos);
    // And an address no slot can hold is refused with a box saying why.
    EXPECT_FALSE(window->StoreStation(6, "http://a.example/\tb"));
    EXPECT_NE(Messages().find("Адрес станции 7 не изменён"), std::string::npos);
    EXPECT_FALSE(SlotHasOwnAddress(6));
}

TEST_F(ProgramTest, StoredSlotsLastFromRunToRunAndStartUpPlaysThem)
{
    Start();
    ASSERT_TRUE(WorkerDone());
    ASSERT_TRUE(window->StoreStation(2, kOwnFive));
    ASSERT_TRUE(window->StoreStation(99, kOwnSix));
    window->StationButtons[99]->click();
    ASSERT_TRUE(WorkerDone());
    Stop();
    const std::string settings = Settings();
    EXPECT_NE(settings.find("[Ondalux]\r\nLastStation=" + kOwnSix + "\r\nLastNamber=99\r\n"), std::string::npos);
    EXPECT_NE(settings.find("[Stations]\r\n3=" + kOwnFive + "\r\n100=" + kOwnSix + "\r\n"), std::string::npos);

    proxy.Route(kOwnSix, Station("Own Hundred"));
    Start();
    EXPECT_EQ(Hint(window.get(), 2), kOwnFive);
    EXPECT_EQ(Hint(window.get(), 99), kOwnSix);
    EXPECT_EQ(Hint(window.get(), 0), StationAddresses[0]);
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(proxy.Requests().back().rfind("GET " + kOwnSix + " ", 0), 0u);
    EXPECT_EQ(Panel(0), "Own Hundred");
}

TEST_F(ProgramTest, AHandEditedStationsSectionIsReadAsFarAsItMakesSense)
{
    std::string file = "[Ondalux]\r\nLastNamber=7\r\n[stations]\r\n";
    for (int k = 1; k <= 100; ++k) file += std::to_string(k) + "=http://hand.example/" + std::to_string(k) + "\r\n";
    file += "3=http://hand.example/second-three\r\n";  // the first of a key counts
    file += "0=http://hand.example/zero\r\n101=http://hand.example/101\r\n-1=http://hand.example/minus\r\n";
    file += "abc=http://hand.example/letters\r\n=http://hand.example/nothing\r\nno equals sign\r\n";
    file += "[Other]\r\n4=http://hand.example/other-section\r\n";
    std::ofstream("Ondalux.ini", std::ios::binary) << file;
    Start();
    ASSERT_TRUE(WorkerDone());
    for (int k = 1; k <= 100; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(SlotAddress(k - 1), "http://hand.example/" + std::to_string(k));
        EXPECT_EQ(Hint(window.get(), k - 1), "http://hand.example/" + std::to_string(k));
    }
    EXPECT_EQ(proxy.Requests().back().rfind("GET http://hand.example/8 ", 0), 0u);
    // Restoring a key given twice takes both away.
    ASSERT_TRUE(window->RestoreStation(2));
    EXPECT_EQ(Settings().find("\r\n3="), std::string::npos);
    EXPECT_NE(Settings().find("101=http://hand.example/101"), std::string::npos);  // not ours: kept
    Stop();

    // A value of 100 KB, a blank one, a quoted one, one with a control
    // character: the slots that cannot use theirs keep the compiled-in one.
    file = "[Stations]\r\n1=" + std::string(100 * 1024, 'x') + "\r\n2=\r\n3=\"http://hand.example/quoted\"\r\n";
    file += "4=http://hand.example/\x01odd\r\n";
    std::ofstream("Ondalux.ini", std::ios::binary | std::ios::trunc) << file;
    Start();
    ASSERT_TRUE(WorkerDone());
    EXPECT_EQ(SlotAddress(0), StationAddresses[0]);
    EXPECT_EQ(SlotAddress(1), StationAddresses[1]);
    EXPECT_EQ(SlotAddress(2), "http://hand.example/quoted");
    EXPECT_EQ(SlotAddress(3), StationAddresses[3]);
    // An address between quotes of its own comes back with them.
    ASSERT_TRUE(window->StoreStation(4, "\"http://hand.example/q\""));
    Stop();
    Start();
    EXPECT_EQ(SlotAddress(4), "\"http://hand.example/q\"");
}

TEST_F(ProgramTest, AnUnwritableSettingsFileIsSaidAndTheAddressStillHolds)
{
    std::filesystem::create_directory("Ondalux.ini");
    Start();
    ASSERT_TRUE(WorkerDone());
    ASSERT_TRUE(window->StoreStation(9, kOwnFive));
    EXPECT_NE(Messages().find("Не удалось записать файл настроек"), std::string::npos);
    EXPECT_EQ(SlotAddress(9), kOwnFive);
    EXPECT_EQ(Hint(window.get(), 9), kOwnFive);
    // At exit the slot is tried again; a file that is there by then takes it.
    std::filesystem::remove("Ondalux.ini");
    Stop();
    EXPECT_NE(Settings().find("[Stations]\r\n10=" + kOwnFive + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace program_test
