// The directory window on the offscreen platform against a fake directory:
// searching, the list and its status line, playing a row and writing it
// into a preset slot.
#include "Directory.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

#include "directory_test.h"
#include "slot_chooser.h"
#include "texts.h"

namespace directory_test {
namespace {

class DirectoryWindowTest : public testing::Test {
protected:
    DirectoryWindowTest() : form(QString::fromStdString(directory.Url()))
    {
        form.play = [this](const std::string& address) { played.push_back(address); };
        form.store = [this](int slot, const std::string& address) {
            stored.emplace_back(slot, address);
            return storeWorks;
        };
        form.slotAddress = [](int slot) {
            return "http://slot.example/" + std::to_string(slot + 1);
        };
        form.show();
    }

    QString Status() const { return form.LabelStatus->text(); }
    int Rows() const { return form.ListStations->topLevelItemCount(); }
    // Searches for name and waits until the status line no longer says
    // the search is under way.
    bool Find(const QString& name)
    {
        form.EditName->setText(name);
        form.ButtonFind->click();
        if (Status() != QString::fromUtf8("Ищем…")) return false;
        return QTest::qWaitFor([this] { return Status() != QString::fromUtf8("Ищем…"); }, 10000);
    }

    kit::FakeDirectory directory;
    TFormDirectory form;
    std::vector<std::string> played;
    std::vector<std::pair<int, std::string>> stored;
    bool storeWorks = true;
};

TEST_F(DirectoryWindowTest, ItListsWhatItFindsTheMostPopularFirst)
{
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Каталог станций"));
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_FALSE(form.ButtonStore->isEnabled());

    directory.Answer(ThreeStations());
    form.EditTag->setText("jazz");
    form.EditCountry->setText("DE");
    form.EditLanguage->setText("german");
    ASSERT_TRUE(Find("Quarter"));
    EXPECT_EQ(Status(), QString::fromUtf8("Найдено станций: 3"));
    ASSERT_EQ(Rows(), 3);
    const QTreeWidgetItem* first = form.ListStations->topLevelItem(0);
    EXPECT_EQ(first->text(0), "Blues Room");
    EXPECT_EQ(first->text(1), "Germany");
    EXPECT_EQ(first->text(2), "AAC+");
    EXPECT_EQ(first->text(3), QString::fromUtf8("64 кбит/с"));
    EXPECT_EQ(first->text(4), "3 / 5000");
    EXPECT_EQ(form.ListStations->topLevelItem(1)->text(0), "Jazz Quarter");
    EXPECT_EQ(form.ListStations->topLevelItem(2)->text(0), "Swing Hour");
    ASSERT_EQ(directory.Searches().size(), 1u);
    const std::string search = directory.Searches()[0];
    for (const char* field : {"name=Quarter", "tag=jazz", "countrycode=DE", "language=german"})
        EXPECT_NE(search.find(field), std::string::npos) << field << " in " << search;
    EXPECT_TRUE(form.ButtonStore->isEnabled());

    // Enter in a field searches too; nothing found empties the list.
    directory.Answer({});
    form.EditName->setText("nothing like it");
    QTest::keyClick(form.EditLanguage, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return Status() == QString::fromUtf8("Ничего не найдено"); }, 10000));
    EXPECT_EQ(Rows(), 0);
    EXPECT_FALSE(form.ButtonStore->isEnabled());
    EXPECT_EQ(directory.Searches().size(), 2u);
}

TEST_F(DirectoryWindowTest, AFailedSearchIsSaidAndKeepsTheListFoundBefore)
{
    directory.Answer(ThreeStations());
    ASSERT_TRUE(Find("jazz"));
    ASSERT_EQ(Rows(), 3);

    directory.AnswerWith(
        kit::Script().Send(kit::Script::HttpHead(500, "Internal Server Error", {})).Close());
    ASSERT_TRUE(Find("rock"));
    EXPECT_EQ(Status(), QString::fromUtf8("Каталог ответил ошибкой 500"));
    ASSERT_EQ(Rows(), 3);

    form.Client->SetTimeout(std::chrono::seconds(1));
    directory.AnswerWith(kit::Script().Hang());
    ASSERT_TRUE(Find("pop"));
    EXPECT_EQ(Status(), QString::fromUtf8("Каталог не ответил за 1 секунду"));
    EXPECT_EQ(Rows(), 3);

    // What was found before still plays.
    form.ListStations->setCurrentItem(form.ListStations->topLevelItem(1));
    QTest::keyClick(form.ListStations, Qt::Key_Return);
    EXPECT_EQ(played, std::vector<std::string>{"http://jazz.example/live.mp3"});
}

TEST_F(DirectoryWindowTest, TenThousandStationsShowTheFirstFiveHundredAndSaySo)
{
    std::vector<kit::DirectoryEntry> many(10000);
    for (std::size_t i = 0; i < many.size(); ++i) {
        many[i].uuid = "uuid-" + std::to_string(i);
        many[i].name = "Station " + std::to_string(i);
        many[i].url = "http://many.example/" + std::to_string(i);
        many[i].clicks = static_cast<long long>(i);
    }
    directory.Answer(many);
    ASSERT_TRUE(Find("station"));
    EXPECT_EQ(Rows(), TFormDirectory::kShownLimit);
    EXPECT_NE(Status().indexOf(QString::fromUtf8("показаны первые 500 из 10000")), -1)
        << Status().toStdString();
    EXPECT_EQ(form.ListStations->topLevelItem(0)->text(0), "Station 9999");
    EXPECT_EQ(form.ListStations->topLevelItem(499)->text(0), "Station 9500");

    // The window still answers: the next search comes back as usual.
    directory.Answer(ThreeStations());
    ASSERT_TRUE(Find("jazz"));
    EXPECT_EQ(Rows(), 3);
}

TEST_F(DirectoryWindowTest, ARowPlaysItsAddressAsItStandsAndIsCounted)
{
    directory.Answer(ThreeStations());
    ASSERT_TRUE(Find("blues"));
    QTreeWidgetItem* playlist = form.ListStations->topLevelItem(0);
    ASSERT_EQ(playlist->text(0), "Blues Room");

    // A double click plays the row: a click, and a second click that the
    // system reports as the double click.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QPoint place = form.ListStations->visualItemRect(playlist).center();
    QTest::mousePress(form.ListStations->viewport(), Qt::LeftButton, {}, place);
    QTest::mouseRelease(form.ListStations->viewport(), Qt::LeftButton, {}, place);
    QTest::mouseDClick(form.ListStations->viewport(), Qt::LeftButton, {}, place);
    ASSERT_EQ(played, std::vector<std::string>{"http://blues.example/listen.pls"});
    ASSERT_TRUE(QTest::qWaitFor([this] { return directory.Clicks().size() == 1; }, 5000));
    EXPECT_EQ(directory.Clicks()[0], "22222222-bbbb-4000-8000-000000000002");

    // Enter on a row plays it too.
    form.ListStations->setCurrentItem(form.ListStations->topLevelItem(2));
    QTest::keyClick(form.ListStations, Qt::Key_Enter);
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[1], "https://swing.example/stream");
    ASSERT_TRUE(QTest::qWaitFor([this] { return directory.Clicks().size() == 2; }, 5000));
    EXPECT_EQ(directory.Clicks()[1], "33333333-cccc-4000-8000-000000000003");
}

TEST_F(DirectoryWindowTest, AStationIsWrittenIntoTheSlotTheUserChooses)
{
    kit::DirectoryEntry cyrillic = ThreeStations()[0];
    cyrillic.name = "Радио Джаз";
    cyrillic.url = cyrillic.urlResolved = "http://джаз.example/поток";
    directory.Answer({cyrillic});
    ASSERT_TRUE(Find("jazz"));
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(form.ButtonStore->text(), QString::fromUtf8("Записать в станцию N..."));

    form.ButtonStore->click();
    TSlotChooser* chooser = form.SlotChooser();
    ASSERT_NE(chooser, nullptr);
    EXPECT_TRUE(chooser->isVisible());
    ASSERT_EQ(chooser->Slots->count(), 100);
    EXPECT_NE(chooser->Slots->item(41)->text().indexOf("42"), -1);
    EXPECT_NE(chooser->Slots->item(41)->text().indexOf("http://slot.example/42"), -1);
    EXPECT_FALSE(chooser->ButtonWrite->isEnabled());
    chooser->Slots->setCurrentRow(41);
    chooser->ButtonWrite->click();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].first, 41);
    // The program's bytes: windows-1251 for what the address box would hold.
    EXPECT_EQ(stored[0].second, Bytes(QString::fromUtf8("http://джаз.example/поток")));
    EXPECT_EQ(Shown(stored[0].second), QString::fromUtf8("http://джаз.example/поток"));
    EXPECT_NE(Status().indexOf("42"), -1);
    EXPECT_TRUE(QTest::qWaitFor([this] { return form.SlotChooser() == nullptr; }, 5000));

    // A slot that cannot be written is said so; one cancelled writes nothing.
    storeWorks = false;
    form.ButtonStore->click();
    ASSERT_NE(form.SlotChooser(), nullptr);
    form.SlotChooser()->Slots->setCurrentRow(0);
    form.SlotChooser()->ButtonWrite->click();
    EXPECT_EQ(Status(), QString::fromUtf8("Не удалось записать станцию 1"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return form.SlotChooser() == nullptr; }, 5000));
    form.ButtonStore->click();
    ASSERT_NE(form.SlotChooser(), nullptr);
    form.SlotChooser()->Slots->setCurrentRow(5);
    form.SlotChooser()->reject();
    EXPECT_EQ(stored.size(), 2u);
    EXPECT_TRUE(played.empty());
}

}  // namespace
}  // namespace directory_test
